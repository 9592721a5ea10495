#include "data/db_state.h"
#include "data/lock_wait.h"
#include "data/stop_request.h"
#include "data/value_conversion.h"
#include "ledger/periods.h"
#include "ledger/recalc.h"
#include "ledger/run_lock.h"

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

void closeQuietly(Connection &connection)
{
    try {
        if (connection.State() == adStateOpen)
            connection.Close();
    } catch (const AppError &) {
        // A connection that is gone holds nothing.
    }
}

// A result left open on the account-year (a check that stopped after reading
// AccInformation) would keep its read lock past the connection's close.
void closeResults()
{
    try {
        if (WorkRs && WorkRs->State() == adStateOpen)
            WorkRs->Close();
    } catch (const AppError &) {
        // Gone with its connection.
    }
}

// Tells the run's listener about lock waits for as long as the run lasts.
class LockWaitReport
{
public:
    explicit LockWaitReport(RecalcUi &ui)
    {
        setLockWaitListener([&ui](int waitedMs) { ui.waitingForLock(waitedMs); });
    }
    ~LockWaitReport() { setLockWaitListener({}); }
    LockWaitReport(const LockWaitReport &) = delete;
    LockWaitReport &operator=(const LockWaitReport &) = delete;
};

} // namespace

bool RunRecalcCommand(const QString &account, const QString &year, RecalcUi &ui,
                      const RecalcOptions &options)
{
    const LockWaitReport lockWaits(ui);
    AccountYearRunLock runLock;
    try {
        checkAndLoad(account, year, runLock);
    } catch (const AppError &error) {
        // Nothing is held while the operator reads why.
        closeResults();
        closeQuietly(*AccConn);
        runLock.release();
        ui.showMessage(StopRequested() ? kRunCancelledMessage : error.description());
        ui.enableRun();
        return false;
    }

    ui.setBusy(true);
    ChangeReport changes;
    RecalcOptions rebuild = options;
    rebuild.changes = &changes;
    QString failure;
    const bool completed = RebuildTotals(ui, rebuild, &failure);
    // The database and the claim on it are let go before any word of the
    // end, so that another program (or run) can use them while the operator
    // reads it. The driver's own word still comes while the run looks busy.
    QString closeFailure;
    closeResults();
    try {
        AccConn->Close();
    } catch (const AppError &error) {
        closeFailure = error.description();
    }
    runLock.release();
    if (!failure.isEmpty())
        ui.showMessage(failure);
    ui.setBusy(false);
    if (!closeFailure.isEmpty()) {
        ui.showMessage(closeFailure);
        ui.enableRun();
        return false;
    }
    if (options.changes)
        *options.changes = changes;
    // A stopped run has rolled back: the operator must not read "done".
    if (!completed)
        ui.showMessage(StopRequested() ? kRunCancelledMessage : kRunStoppedMessage);
    else if (options.dryRun)
        ui.checkCompleted(changes);
    else
        ui.runCompleted(kRunCompletedMessage, changes);
    return completed;
}

} // namespace fa
