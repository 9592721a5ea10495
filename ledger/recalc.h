#pragma once

#include "ledger/change_report.h"
#include "ledger/recalc_ui.h"

#include <QString>
#include <functional>

namespace fa {

// Creates the work tables fq and fqsum in the account-year database, dropping
// any left behind by an earlier run. True when both exist.
bool CreateWorkTables();

// Empties fa_Total and inserts one zero row per department and asset type of
// the cards and per period from the first period to rebuild to 12. A failing
// statement throws.
bool SeedTotalRows();

struct RecalcOptions
{
    // A dry run: the same checks and the same rebuild, inside the
    // transaction, which is then rolled back, the work tables' creation
    // included: nothing in either database changes.
    bool dryRun = false;
    // Filled with what the rebuild changes (or would change) in fa_Total.
    ChangeReport *changes = nullptr;
    // Called inside the transaction with what the rebuild changed, just
    // before the commit (or a dry run's rollback), so that whatever must go
    // with the run (the change report) is written first. False, with the
    // reason, rolls the run back.
    std::function<bool(const TotalsSnapshot &before, const ChangeReport &changes, QString *reason)>
        beforeCommit;
};

// Rebuilds fa_Total of the open account-year database (AccConn) period by
// period, from the first period of Periods to 12, then adds the year-opening
// figures. Reports every failure through ui itself, or, when failure is
// given, leaves its message there for the caller to show once it has let go
// of the database. Everything from saving the carried figures to the closing
// pass runs in one transaction, so a stopped run leaves fa_Total exactly as it
// was. True when the run completed.
bool RebuildTotals(RecalcUi &ui, const RecalcOptions &options = {}, QString *failure = nullptr);

// The run button: checks the selection, the account-year database, its data
// version and start date and the period calendar, then rebuilds and reports
// "整理完毕" (with what changed), or kRunStoppedMessage when the rebuild
// stopped. A dry run ends with the summary of the differences instead. The
// window and the headless command both run this. True only when the rebuild
// (or the dry run) completed.
// The last word of a run that stopped: its transaction was rolled back.
inline const QString kRunStoppedMessage = QStringLiteral("整理未完成，fa_Total 保持原样");
inline const QString kRunCompletedMessage = QStringLiteral("整理完毕");
// The last word of a run that the operator stopped.
inline const QString kRunCancelledMessage = QStringLiteral("整理已停止，fa_Total 保持原样");
// A run's outcome in the history when it completed, and when the operator
// stopped it; any other end is recorded with the message that ended it.
inline const QString kCompletedOutcome = QStringLiteral("完成");
inline const QString kStoppedOutcome = QStringLiteral("已停止");
// The outcome of a run between its record and its commit; it stays so only
// when the program ended there, not knowing whether the commit was made.
inline const QString kCommittingOutcome = QStringLiteral("提交中或在提交时中断");

bool RunRecalcCommand(const QString &account, const QString &year, RecalcUi &ui,
                      const RecalcOptions &options = {});

} // namespace fa
