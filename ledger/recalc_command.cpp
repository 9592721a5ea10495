#include "data/db_state.h"
#include "data/stop_request.h"
#include "data/value_conversion.h"
#include "ledger/periods.h"
#include "ledger/recalc.h"
#include "ledger/run_lock.h"
#include "ledger/run_session.h"

#include <optional>

namespace fa {

namespace {

// Data of a later version than this may have changed the ledger tables.
constexpr double kNewestSupportedVersion = 8.2;

// Opens one AccInformation row into WorkRs; the row must exist.
void readInformation(const QString &sql, const QString &queryFailed)
{
    SqlText = sql;
    if (!RunSql(*WorkRs, SqlText, *AccConn))
        RaiseStepError(queryFailed);
    if (WorkRs->Eof())
        RaiseAppError(QStringLiteral("AccInformation 有误"));
}

void checkAndLoad(const QString &account, const QString &year, AccountYearRunLock &runLock)
{
    if (year.size() != 4 || account.size() != 3)
        RaiseAppError(QStringLiteral("可能系统库ua_Account 或ua_Period 有误"));
    if (IsAccess)
        runLock.claim();
    if (!OpenConn(*AccConn, AccConnStr))
        RaiseStepError(QStringLiteral("打开文件错误"));

    readInformation(QStringLiteral("SELECT [cValue]  From [AccInformation] where "
                                   "[cSysID]='AA'and [cName]= 'VersionFlag'"),
                    QStringLiteral("AccInformation错误"));
    if (RoundHalfEven(NumberValue(WorkRs->Fields(0)), 1) > kNewestSupportedVersion)
        RaiseAppError(QStringLiteral("Korvane软件版本好太高"));

    readInformation(QStringLiteral("SELECT [cValue]  From [AccInformation] where "
                                   "[cSysID]='FA'and [cName]= 'dStartDate'"),
                    QStringLiteral("AccInformation 打不开 或固定资产模块没启用"));
    FaStartDate = DateValue(WorkRs->Fields(0));

    // The calendar closes the system database once it has read the periods:
    // a later run opens it again with the saved connection string, so that
    // 计算总帐 works again without 刷新 and without a new login.
    if (SysConn->State() != adStateOpen && !SysConnStr.isEmpty() &&
        !OpenConn(*SysConn, SysConnStr)) {
        const QString reason = LastFailureReason();
        RaiseAppError(QStringLiteral("打开数据库错误") +
                      (reason.isEmpty() ? QString() : QLatin1Char('\n') + reason));
    }
    // The reason travels with the answer: what is wrong with the calendar, or
    // the database's text when it could not be read.
    QString problem;
    if (!LoadPeriods(account, year, &problem)) {
        const QString message = QStringLiteral("可能系统库ua_period 有误");
        RaiseAppError(problem.isEmpty() ? message : message + QLatin1Char('\n') + problem);
    }
    if (!IsAccess)
        runLock.claim();
}

} // namespace

bool RunRecalcCommand(const QString &account, const QString &year, RecalcUi &ui,
                      const RecalcOptions &options)
{
    const LockWaitReport lockWaits(ui);
    AccountYearRunLock runLock;
    // A check changes nothing and is not recorded.
    std::optional<RunHistoryEntry> history;
    if (!options.dryRun)
        history.emplace(account, year);
    try {
        checkAndLoad(account, year, runLock);
    } catch (const AppError &error) {
        // Nothing is held while the operator reads why.
        LetGoQuietly(runLock);
        const QString message = StopRequested() ? kRunCancelledMessage : error.description();
        ui.showMessage(message);
        if (history)
            history->recordFailure(StopRequested() ? kStoppedOutcome : message, ui);
        ui.enableRun();
        return false;
    }

    ui.setBusy(true);
    ChangeReport changes;
    RecalcOptions rebuild = options;
    rebuild.changes = &changes;
    // The old table and the record are in the history before the rebuild
    // commits; whatever else the caller writes follows.
    if (history) {
        rebuild.beforeCommit = [&](const TotalsSnapshot &before, const ChangeReport &found,
                                   QString *reason) {
            return history->recordBeforeCommit(kCompletedOutcome, before, found, reason) &&
                   (!options.beforeCommit || options.beforeCommit(before, found, reason));
        };
    }
    QString failure;
    const bool completed = RebuildTotals(ui, rebuild, &failure);
    // The database and the claim on it are let go before any word of the
    // end, so that another program (or run) can use them while the operator
    // reads it. The driver's own word still comes while the run looks busy.
    const QString closeFailure = LetGoOfAccountYear(runLock);
    if (completed && history)
        history->confirm(ui);
    if (!failure.isEmpty())
        ui.showMessage(failure);
    if (!completed && history)
        history->recordFailure(StopRequested() || failure.isEmpty() ? kStoppedOutcome : failure,
                               ui);
    ui.setBusy(false);
    if (!closeFailure.isEmpty()) {
        ui.showMessage(closeFailure);
        ui.enableRun();
        return false;
    }
    if (options.changes)
        *options.changes = changes;
    // A stopped run has rolled back: the operator must not read "done".
    if (!completed) {
        ui.showMessage(StopRequested() ? kRunCancelledMessage : kRunStoppedMessage);
    } else if (options.dryRun) {
        ui.checkCompleted(changes);
    } else {
        ui.runRecorded(history->id());
        ui.runCompleted(kRunCompletedMessage, changes);
    }
    return completed;
}

} // namespace fa
