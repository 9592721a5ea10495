#pragma once

#include <QObject>
#include <functional>

class QWidget;

namespace fa {

// Keeps the operator's input away from one window while a long command
// runs there and lets events through now and then (painting, the clock):
// clicks, keys, the wheel and the close box aimed at the window or its
// controls are dropped, not put off until later. Windows it opens meanwhile,
// such as its message boxes, stay usable. When the command ends, input that
// queued up while the thread was busy is drained and dropped as well, so that
// nothing the operator did during the wait runs afterwards.
//
// A wait the operator may give up names its cancel control: mouse clicks on
// it and the window's close box still get through. Keys do not, not even to
// the cancel control: a key meant for the window before the wait must not
// give it up by chance.
class InputBlocker final : public QObject
{
public:
    explicit InputBlocker(QWidget *window, QWidget *cancel = nullptr);
    ~InputBlocker() override;
    // A command that can be stopped: the close box, Esc aimed at the window
    // and a click on `exitControl` call this (after the event, from the event
    // loop) instead of being dropped; the argument says whether the window is
    // to close once the command has stopped (the close box, the exit control).
    void onStopRequest(std::function<void(bool closeAfterwards)> handler,
                       QWidget *exitControl = nullptr)
    {
        m_onStop = std::move(handler);
        m_exit = exitControl;
    }
    InputBlocker(const InputBlocker &) = delete;
    InputBlocker &operator=(const InputBlocker &) = delete;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    QWidget *m_cancel;
    QWidget *m_exit = nullptr;
    std::function<void(bool closeAfterwards)> m_onStop;
};

} // namespace fa
