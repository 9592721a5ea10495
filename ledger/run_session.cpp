#include "ledger/run_session.h"

#include "data/conn_strings.h"
#include "data/db_state.h"
#include "data/lock_wait.h"
#include "ledger/change_report.h"
#include "ledger/recalc.h"
#include "ledger/restore_totals.h"
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>

namespace fa {

namespace {

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

} // namespace

LockWaitReport::LockWaitReport(RecalcUi &ui)
{
    setLockWaitListener([&ui](int waitedMs) { ui.waitingForLock(waitedMs); });
}

LockWaitReport::~LockWaitReport()
{
    setLockWaitListener({});
}

QString LetGoOfAccountYear(AccountYearRunLock &runLock)
{
    QString failure;
    closeResults();
    try {
        if (AccConn->State() == adStateOpen)
            AccConn->Close();
    } catch (const AppError &error) {
        failure = error.description();
    }
    runLock.release();
    return failure;
}

void LetGoQuietly(AccountYearRunLock &runLock)
{
    closeResults();
    closeQuietly(*AccConn);
    runLock.release();
}

QString RunDatabaseName()
{
    if (IsAccess) {
        // The same file by whatever path it was reached.
        const QFileInfo file(jetDataSource(AccConnStr));
        const QString path = file.exists() ? file.canonicalFilePath() : file.absoluteFilePath();
        return QDir::toNativeSeparators(path);
    }
    const SqlServerLogin login = parseSqlOledbString(AccConnStr);
    const QString server =
        login.port.isEmpty() ? login.host : login.host + QLatin1Char(',') + login.port;
    return server + QLatin1Char('/') + login.database;
}

RunHistoryEntry::RunHistoryEntry(const QString &account, const QString &year)
{
    m_clock.start();
    m_record.time = QDateTime::currentDateTime();
    m_record.user = systemUserName();
    m_record.computer = platform().computerName();
    m_record.mode = IsAccess ? QStringLiteral("ACCESS") : QStringLiteral("SQL");
    m_record.database = RunDatabaseName();
    m_record.account = account;
    m_record.year = year;
}

bool RunHistoryEntry::recordBeforeCommit(const QString &outcome, const TotalsSnapshot &before,
                                         const ChangeReport &changes, QString *reason)
{
    m_outcome = outcome;
    m_record.outcome = kCommittingOutcome;
    m_record.added = changes.added;
    m_record.removed = changes.removed;
    m_record.changed = changes.changedRows;
    m_record.seconds = m_clock.elapsed() / 1000.0;
    m_record.changeReportCsv = (ChangeReport::csvHeader() + changes.csvLines()).toUtf8();
    SavedTable table;
    table.columns = before.columns;
    table.rows.reserve(before.rows.size());
    for (const TotalsSnapshot::Row &row : before.rows)
        table.rows.append(row.values);
    QString error;
    if (recordRun(m_record, table, &error))
        return true;
    m_storeFailed = true;
    *reason = QStringLiteral("无法把原来的 fa_Total 存入整理记录\n") + error;
    return false;
}

void RunHistoryEntry::confirm(RecalcUi &ui)
{
    if (QString error; m_record.id != 0 && !amendOutcome(m_record.id, m_outcome, &error))
        ui.showMessage(QStringLiteral("fa_Total 已写入，但整理记录 %1 未能记为“%2”\n")
                           .arg(m_record.id)
                           .arg(m_outcome) +
                       error);
}

void RunHistoryEntry::recordFailure(const QString &outcome, RecalcUi &ui)
{
    if (m_storeFailed)
        return;
    QString error;
    bool recorded;
    if (m_record.id != 0) {
        recorded = amendOutcome(m_record.id, outcome, &error);
    } else {
        m_record.outcome = outcome;
        m_record.seconds = m_clock.elapsed() / 1000.0;
        recorded = recordRun(m_record, SavedTable(), &error);
    }
    if (!recorded)
        ui.showMessage(QStringLiteral("无法写入整理记录\n") + error);
}

} // namespace fa
