// The run button and the restore from the history: the checks and the
// rebuild (or restore) run on a worker thread while the window keeps
// painting; the report is shown with the window's message boxes, busy pointer
// and a progress bar over the status bar.
#include "app/dialogs.h"
#include "app/input_blocker.h"
#include "app/main_window.h"
#include "data/stop_request.h"
#include "ledger/recalc.h"
#include "ledger/restore_totals.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
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
                   QProgressBar *progress, Dialogs &dialogs, const QString &account,
                   const QString &year)
        : m_window(window), m_runButton(runButton), m_statusBar(statusBar), m_progress(progress),
          m_dialogs(dialogs), m_account(account), m_year(year)
    {
        m_clock.start();
    }

    void showMessage(const QString &text) override
    {
        onWindowThread([this, text] {
            // A wait that was announced is over by the time anything else is said.
            m_statusBar->clearMessage();
            m_dialogs.message(m_window, text);
        });
    }

    // Said on the worker thread, as runCompleted is.
    void runRecorded(qint64 id) override { m_recorded = id; }

    void runCompleted(const QString &text, const ChangeReport &changes) override
    {
        // "整理完毕", then which books, what changed and how long it took; the
        // changes themselves are a table below.
        QString summary = text + QStringLiteral("\n帐套 %1 %2 年：%3，用时 %4 秒")
                                     .arg(m_account, m_year, changes.summary())
                                     .arg(qRound(m_clock.elapsed() / 1000.0));
        // How to undo it, while it is fresh.
        if (m_recorded > 0)
            summary += QStringLiteral("\n原来的 fa_Total 已保存为整理记录 %1；要恢复它，"
                                      "在主窗口按 Ctrl+H 打开整理记录。")
                           .arg(m_recorded);
        // The worker waits until the box is closed: the report stays alive.
        onWindowThread([this, &summary, &changes] {
            m_statusBar->clearMessage();
            m_dialogs.runResult(m_window, summary, changes);
        });
    }

    // Where the progress goes, with the seconds waited; the mode and the
    // clock stay in view.
    void waitingForLock(int waitedMs) override
    {
        const int seconds = waitedMs / 1000;
        if (waitedMs != 0 && seconds == m_secondsWaited)
            return;
        m_secondsWaited = seconds;
        onWindowThread([this, seconds] {
            // A bar without a range would hide its text.
            m_progress->setRange(0, 1);
            m_progress->setValue(0);
            m_progress->setFormat(
                QStringLiteral("数据库被其他程序占用，正在等待… %1 秒").arg(seconds));
            m_progress->setTextVisible(true);
            m_runRange = false;
            showProgress();
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
            if (!m_runRange) {
                // From the first period to rebuild to 12, and the closing pass.
                m_progress->setRange(period - 1, 12);
                m_runRange = true;
            }
            showProgress();
            m_progress->setValue(period - 1);
        });
    }

    void periodDone(int period) override
    {
        onWindowThread([this, period] { m_progress->setValue(period); });
    }

private:
    void showProgress()
    {
        if (m_progress->isVisible())
            return;
        // Over the account panel; the mode and the clock stay in view.
        if (const QWidget *panel = m_statusBar->findChild<QWidget *>(QStringLiteral("Panel1"),
                                                                     Qt::FindDirectChildrenOnly))
            m_progress->setGeometry(panel->geometry());
        m_progress->show();
        m_progress->raise();
    }

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
    const QString m_account;
    const QString m_year;
    QElapsedTimer m_clock;
    bool m_runRange = false;  // the progress counts periods (not a wait)
    int m_secondsWaited = -1; // the worker's own
    qint64 m_recorded = 0;    // the worker's own: the run's history record
};

} // namespace

void frmMain::cmdDo_Click()
{
    runCommand(QStringLiteral("停止整理？fa_Total 将保持原样。"),
               [](const QString &account, const QString &year, RecalcUi &ui) {
                   RunRecalcCommand(account, year, ui);
               });
}

void frmMain::showHistory()
{
    // During a run the shortcut still fires (the blocker drops keys aimed at
    // the window, not the shortcut's own event); the run owns the books.
    if (m_running)
        return;
    const QString account = m_cmbAcc->currentText();
    const QString year = m_cmbYear->currentText();
    if (account.isEmpty() || year.isEmpty()) {
        showError(QStringLiteral("请先选择帐套及其年度"));
        return;
    }
    const qint64 id = m_dialogs.history(this, account, year);
    if (id <= 0)
        return;
    runCommand(QStringLiteral("停止恢复？fa_Total 将保持原样。"),
               [id](const QString &account, const QString &year, RecalcUi &ui) {
                   RunRestoreCommand(account, year, id, ui);
               });
}

void frmMain::runCommand(const QString &stopQuestion, const AccountYearCommand &command)
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
    m_stopQuestion = stopQuestion;
    ClearStopRequest();
    // What cannot be used during the run looks so; the layout stays.
    // 退出 stays alive: it asks to stop, as Esc and the close box do.
    QList<std::pair<QWidget *, bool>> idle;
    QWidget *const controls[] = {m_cmdDo,   m_cmdRefresh, m_cmbAcc,
                                 m_cmbYear, m_isSql[0],   m_isSql[1]};
    for (QWidget *control : controls) {
        idle.append({control, control->isEnabled()});
        control->setEnabled(false);
    }
    // Not the path box, with its text selected: on the one control that works.
    m_cmdExit->setFocus();
    {
        InputBlocker blocker(this);
        blocker.onStopRequest([this](bool closeAfterwards) { askToStop(closeAfterwards); },
                              m_cmdExit);
        // The worker is the only user of the program-wide database state until
        // it ends; the window only paints, ticks and shows what it is told.
        const QString account = m_cmbAcc->currentText();
        const QString year = m_cmbYear->currentText();
        WindowRecalcUi ui(this, m_cmdDo, m_statusBar, m_progress, m_dialogs, account, year);
        QEventLoop loop;
        std::unique_ptr<QThread> worker(QThread::create([&] { command(account, year, ui); }));
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
    // The run button's state is the run's word (enabled again on every way
    // out); the others are as they were.
    for (const auto &[control, enabled] : std::as_const(idle)) {
        if (control != m_cmdDo)
            control->setEnabled(enabled);
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
    const bool stop = m_dialogs.question(this, m_stopQuestion);
    m_askingToStop = false;
    if (!stop || !m_running)
        return;
    m_closeAfterRun = closeAfterwards;
    RequestStop();
}

} // namespace fa
