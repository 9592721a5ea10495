// The run button: the checks, the rebuild and its report, shown with the
// window's message boxes and busy pointer.
#include "app/dialogs.h"
#include "app/input_blocker.h"
#include "app/main_window.h"
#include "ledger/periods.h"
#include "ledger/recalc.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QStatusBar>

namespace fa {

namespace {

class WindowRecalcUi final : public RecalcUi
{
public:
    WindowRecalcUi(QWidget *window, QPushButton *runButton, QStatusBar *statusBar, Dialogs &dialogs)
        : m_window(window), m_runButton(runButton), m_statusBar(statusBar), m_dialogs(dialogs)
    {}
    ~WindowRecalcUi() override { m_statusBar->clearMessage(); }

    void showMessage(const QString &text) override
    {
        // A wait that was announced is over by the time anything else is said.
        m_statusBar->clearMessage();
        m_dialogs.message(m_window, text);
    }

    // The window's input is blocked for the whole run (cmdDo_Click): what
    // gets through here is painting and the clock.
    void processPendingEvents() override { QCoreApplication::processEvents(); }

    void waitingForLock(int waitedMs) override
    {
        if (waitedMs == 0)
            m_statusBar->showMessage(QStringLiteral("数据库被其他程序占用，正在等待…"));
        processPendingEvents();
    }

    void setBusy(bool busy) override
    {
        m_statusBar->clearMessage();
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            m_runButton->setEnabled(false);
        } else {
            QApplication::restoreOverrideCursor();
            m_runButton->setEnabled(true);
        }
    }

    void enableRun() override { m_runButton->setEnabled(true); }

    void periodDone(int) override { m_statusBar->clearMessage(); }

private:
    QWidget *m_window;
    QPushButton *m_runButton;
    QStatusBar *m_statusBar;
    Dialogs &m_dialogs;
};

} // namespace

void frmMain::cmdDo_Click()
{
    // The period calendar and lock waits let pending events run. Nothing the
    // operator does meanwhile may reach a handler: another refresh, the mode
    // switch or the close box would pull the shared connections and the
    // calendar out from under the run. A second click must not start a run
    // inside the run either.
    if (m_running)
        return;
    m_running = true;
    const InputBlocker blocker(this);
    WindowRecalcUi ui(this, m_cmdDo, m_statusBar, m_dialogs);
    setPendingEventsHandler([&ui] { ui.processPendingEvents(); });
    RunRecalcCommand(m_cmbAcc->currentText(), m_cmbYear->currentText(), ui);
    setPendingEventsHandler({});
    m_running = false;
}

} // namespace fa
