// The run button: the checks and the rebuild run on a worker thread while
// the window keeps painting; the report is shown with the window's message
// boxes, busy pointer and a progress bar over the status bar.
#include "app/dialogs.h"
#include "app/input_blocker.h"
#include "app/main_window.h"
#include "data/stop_request.h"
#include "ledger/recalc.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>

namespace fa {

namespace {

// The rebuild calls this from its worker thread; everything it does to the
// window happens on the window's thread, and the worker waits for it (a
// message box is answered before the run goes on).
class WindowRecalcUi final : public RecalcUi
{
public:
    WindowRecalcUi(QWidget *window, QPushButton *runButton, QStatusBar *statusBar,
                   QProgressBar *progress, Dialogs &dialogs)
        : m_window(window), m_runButton(runButton), m_statusBar(statusBar), m_progress(progress),
          m_dialogs(dialogs)
    {}

    void showMessage(const QString &text) override
    {
        onWindowThread([this, text] {
            // A wait that was announced is over by the time anything else is said.
            m_statusBar->clearMessage();
            m_dialogs.message(m_window, text);
        });
    }

    void runCompleted(const QString &text, const ChangeReport &changes) override
    {
        // The operator sees "整理完毕"; what changed is one click away.
        QString table = ChangeReport::csvHeader() + changes.csvLines();
        table.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        const QString details = changes.summary() + QStringLiteral("\n\n") + table;
        onWindowThread([this, text, details] {
            m_statusBar->clearMessage();
            m_dialogs.detailedMessage(m_window, text, details);
        });
    }

    void waitingForLock(int waitedMs) override
    {
        if (waitedMs == 0)
            onWindowThread([this] {
                m_statusBar->showMessage(QStringLiteral("数据库被其他程序占用，正在等待…"));
            });
    }

    void setBusy(bool busy) override
    {
        onWindowThread([this, busy] {
            m_statusBar->clearMessage();
            if (busy) {
                QApplication::setOverrideCursor(Qt::WaitCursor);
                m_runButton->setEnabled(false);
            } else {
                QApplication::restoreOverrideCursor();
                m_runButton->setEnabled(true);
                m_progress->hide();
            }
        });
    }

    void enableRun() override
    {
        onWindowThread([this] { m_runButton->setEnabled(true); });
    }

    void periodStarted(int period) override
    {
        onWindowThread([this, period] {
            m_statusBar->clearMessage();
            m_progress->setFormat(
                QStringLiteral("正在整理第%1期，剩%2期").arg(period).arg(12 - period));
            if (!m_progress->isVisible()) {
                // From the first period to rebuild to 12, and the closing pass.
                m_progress->setRange(period - 1, 12);
                // Over the account panel; the mode and the clock stay in view.
                if (const QWidget *panel = m_statusBar->findChild<QWidget *>(
                        QStringLiteral("Panel1"), Qt::FindDirectChildrenOnly))
                    m_progress->setGeometry(panel->geometry());
                m_progress->show();
                m_progress->raise();
            }
            m_progress->setValue(period - 1);
        });
    }

    void periodDone(int period) override
    {
        onWindowThread([this, period] { m_progress->setValue(period); });
    }

private:
    template <typename Work> void onWindowThread(Work &&work)
    {
        if (QThread::currentThread() == m_window->thread())
            work();
        else
            QMetaObject::invokeMethod(m_window, std::forward<Work>(work),
                                      Qt::BlockingQueuedConnection);
    }

    QWidget *m_window;
    QPushButton *m_runButton;
    QStatusBar *m_statusBar;
    QProgressBar *m_progress;
    Dialogs &m_dialogs;
};

} // namespace

void frmMain::cmdDo_Click()
{
    // Nothing the operator does during the run may reach a handler: another
    // refresh, the mode switch or the close box would pull the shared
    // connections and the calendar out from under it. The close box and Esc
    // ask whether to stop instead. A second click must not start a run
    // inside the run either.
    if (m_running)
        return;
    m_running = true;
    m_closeAfterRun = false;
    ClearStopRequest();
    {
        InputBlocker blocker(this);
        blocker.onStopRequest([this](bool closeBox) { askToStop(closeBox); });
        WindowRecalcUi ui(this, m_cmdDo, m_statusBar, m_progress, m_dialogs);

        // The worker is the only user of the program-wide database state until
        // it ends; the window only paints, ticks and shows what it is told.
        const QString account = m_cmbAcc->currentText();
        const QString year = m_cmbYear->currentText();
        QEventLoop loop;
        std::unique_ptr<QThread> worker(
            QThread::create([&] { RunRecalcCommand(account, year, ui); }));
        connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
        worker->start();
        loop.exec();
        worker->wait();
        // A stop asked for as the run ended has nothing left to stop.
        ClearStopRequest();

        m_progress->hide();
        m_statusBar->clearMessage();
        m_running = false;
    }
    // Focus left on the run button: in the account box, with its text
    // selected, the next key would overwrite the account.
    (m_cmdDo->isEnabled() ? m_cmdDo : m_cmdRefresh)->setFocus();
    if (m_closeAfterRun)
        close();
}

void frmMain::askToStop(bool closeAfterwards)
{
    if (!m_running || m_askingToStop || StopRequested())
        return;
    m_askingToStop = true;
    const bool stop = m_dialogs.question(this, QStringLiteral("停止整理？fa_Total 将保持原样。"));
    m_askingToStop = false;
    if (!stop || !m_running)
        return;
    m_closeAfterRun = closeAfterwards;
    RequestStop();
}

} // namespace fa
