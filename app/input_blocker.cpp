#include "app/input_blocker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace fa {

namespace {

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

bool isMouseClick(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        return true;
    default:
        return false;
    }
}

} // namespace

InputBlocker::InputBlocker(QWidget *window, QWidget *cancel) : m_window(window), m_cancel(cancel)
{
    QCoreApplication::instance()->installEventFilter(this);
}

InputBlocker::~InputBlocker()
{
    // Clicks and keys made while the thread could not look at them are still
    // waiting in the queue: let them arrive now, while they are still dropped.
    // The command is over: nothing is left to stop.
    m_onStop = {};
    QCoreApplication::processEvents();
    QCoreApplication::instance()->removeEventFilter(this);
}

bool InputBlocker::eventFilter(QObject *watched, QEvent *event)
{
    if (!isUserInput(event->type()))
        return false;
    bool ours = false;
    QWidget *widget = nullptr;
    if (watched->isWidgetType()) {
        widget = static_cast<QWidget *>(watched);
        ours = widget->window() == m_window;
    } else if (watched->isWindowType()) {
        ours = m_window->windowHandle() == watched;
    }
    if (!ours)
        return false;
    // A click on the exit control counts once, as it is let go over it.
    const bool exitClick =
        m_exit && widget == m_exit && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton &&
        m_exit->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint());
    if (m_onStop && (exitClick || event->type() == QEvent::Close ||
                     (event->type() == QEvent::KeyPress &&
                      static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape))) {
        const bool closeBox = event->type() == QEvent::Close || exitClick;
        QMetaObject::invokeMethod(
            this,
            [this, closeBox] {
                if (m_onStop)
                    m_onStop(closeBox);
            },
            Qt::QueuedConnection);
        event->ignore();
        return true;
    }
    if (m_cancel) {
        if (event->type() == QEvent::Close)
            return false;
        // The native window hands a click on to the control under the mouse,
        // which is where it is sorted out.
        if (isMouseClick(event->type()) &&
            (!widget || widget == m_cancel || m_cancel->isAncestorOf(widget)))
            return false;
    }
    // A close event left accepted would close the window all the same.
    event->ignore();
    return true;
}

} // namespace fa
