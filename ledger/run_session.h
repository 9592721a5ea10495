#pragma once

#include "ledger/recalc_ui.h"
#include "ledger/run_history.h"
#include "ledger/run_lock.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

namespace fa {

struct ChangeReport;
struct TotalsSnapshot;

// What a rebuild and a restore share while they hold an account-year
// database: lock-wait reports, letting go of everything, and their record in
// the run history.

// Tells the run's listener about lock waits for as long as the run lasts.
class LockWaitReport
{
public:
    explicit LockWaitReport(RecalcUi &ui);
    ~LockWaitReport();
    LockWaitReport(const LockWaitReport &) = delete;
    LockWaitReport &operator=(const LockWaitReport &) = delete;
};

// Closes WorkRs and AccConn, whatever state they are in, and lets the run
// lock go. The close's own failure text, or empty text.
QString LetGoOfAccountYear(AccountYearRunLock &runLock);
// The same, when a failure is already on its way to the operator.
void LetGoQuietly(AccountYearRunLock &runLock);

// One run's entry in the history, for the account-year of AccConnStr: begun
// when the run starts, written with the table it replaces just before the
// commit, and told how the run ended.
class RunHistoryEntry
{
public:
    RunHistoryEntry(const QString &account, const QString &year);

    // Writes the record of a run that is about to commit, as committing
    // (kCommittingOutcome) until confirm() gives it its outcome: a program
    // killed in between leaves no record that claims a commit it never made.
    // False, with the reason, when it cannot: the run must not commit then.
    bool recordBeforeCommit(const QString &outcome, const TotalsSnapshot &before,
                            const ChangeReport &changes, QString *reason);
    // The run committed: its record gets the outcome recordBeforeCommit was
    // given. What stops the history from saying so goes to ui.
    void confirm(RecalcUi &ui);
    // A run that did not commit: its record says so, written now (without a
    // table) or amended. What stops the history from saying so goes to ui.
    void recordFailure(const QString &outcome, RecalcUi &ui);
    // The record written before the commit; 0 when none was.
    qint64 id() const { return m_record.id; }

private:
    RunRecord m_record;
    QString m_outcome; // once committed
    QElapsedTimer m_clock;
    bool m_storeFailed = false; // already said, with the run's failure
};

} // namespace fa
