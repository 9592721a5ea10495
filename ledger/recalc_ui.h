#pragma once

#include "ledger/change_report.h"

#include <QString>

namespace fa {

// How the recalculation talks to whoever started it: the main window answers
// with message boxes and its busy pointer, the headless command with standard
// error, the tests with a recorder. The ledger itself links no widgets.
class RecalcUi
{
public:
    virtual ~RecalcUi() = default;
    // One of the tool's messages ("整理完毕", "插入表错误", a database's text, …).
    virtual void showMessage(const QString &text) = 0;
    // The last word of a completed run ("整理完毕"), with what it changed.
    virtual void runCompleted(const QString &text, const ChangeReport &changes)
    {
        (void)changes;
        showMessage(text);
    }
    // The run (or restore) is in the history as record id, with the table it
    // replaced; said before runCompleted.
    virtual void runRecorded(qint64 id) { (void)id; }
    // The end of a completed dry run: what a run would change.
    virtual void checkCompleted(const ChangeReport &changes) { showMessage(changes.summary()); }
    // Lets pending window events run (the period calendar does so once per period).
    virtual void processPendingEvents() {}
    // Hourglass on and the run button disabled, or back to normal.
    virtual void setBusy(bool busy) { (void)busy; }
    // The failure path of the run button enables it again.
    virtual void enableRun() {}
    // The rebuild of a period begins, or is done; for progress displays.
    virtual void periodStarted(int period) { (void)period; }
    virtual void periodDone(int period) { (void)period; }
    // The database is locked by another program and the run waits for it;
    // called at the start of the wait (0) and every few tens of milliseconds
    // while it lasts. It ends in success, or in a stop that says why.
    virtual void waitingForLock(int waitedMs) { (void)waitedMs; }
};

} // namespace fa
