#include "ledger/restore_totals.h"

#include "data/db_state.h"
#include "data/stop_request.h"
#include "ledger/run_session.h"
#include "ledger/saved_table_sql.h"
#include "ledger/sql_strings.h"
#include "ledger/steps.h"

#include <QStringList>
#include <algorithm>
#include <cstring>
#include <optional>

namespace fa {

namespace {

inline const QString kRestoreStoppedMessage = QStringLiteral("恢复未完成，fa_Total 保持原样");
inline const QString kRestoreCancelledMessage = QStringLiteral("恢复已停止，fa_Total 保持原样");

// Raised for a record that does not fit these books: nothing was written.
struct Refusal
{
    QString message;
};

bool sameColumns(const QStringList &a, const QStringList &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.at(i).compare(b.at(i), Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

// Where a row of fa_Total is, for a message: its department, type and period.
QString rowName(const QStringList &columns, const QVariantList &values)
{
    QStringList parts;
    for (const char *key : {"sDeptNum", "sTypeNum", "iPeriod"}) {
        for (qsizetype i = 0; i < columns.size(); ++i) {
            if (columns.at(i).compare(QLatin1String(key), Qt::CaseInsensitive) == 0)
                parts << QLatin1String(key) + QLatin1Char('=') + values.value(i).toString();
        }
    }
    return parts.join(QStringLiteral("，"));
}

QString insertHead(const SavedTable &saved)
{
    QStringList names;
    for (QString column : saved.columns)
        names << QLatin1Char('[') + column.replace(QLatin1Char(']'), QLatin1String("]]")) +
                     QLatin1Char(']');
    return QStringLiteral("INSERT INTO fa_Total (") + names.join(QLatin1Char(',')) +
           QStringLiteral(") VALUES (");
}

void writeRows(const SavedTable &saved)
{
    const QString head = insertHead(saved);
    StatementBatch batch;
    for (const QVariantList &row : saved.rows) {
        if (StopRequested())
            RaiseAppError(kRestoreCancelledMessage);
        QStringList literals;
        for (qsizetype i = 0; i < row.size(); ++i) {
            QString problem;
            const QString literal = ExactLiteral(row.at(i), &problem);
            if (literal.isEmpty())
                RaiseAppError(
                    QStringLiteral("fa_Total 的 %1 列（%2）无法原样写回：%3")
                        .arg(saved.columns.value(i), rowName(saved.columns, row), problem));
            literals << literal;
        }
        batch.add(head + literals.join(QLatin1Char(',')) + QLatin1Char(')'));
    }
    batch.send();
}

bool identical(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    if (a.typeId() != b.typeId())
        return false;
    if (a.typeId() == QMetaType::Double) {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return std::memcmp(&x, &y, sizeof x) == 0;
    }
    return a == b;
}

// What the database now holds against what was saved, value for value: a
// figure that came back a bit off, or a text the server changed, must not
// pass for a restore.
void checkWrittenBack(const SavedTable &saved, const TotalsSnapshot &now)
{
    const auto less = [](const QVariantList &a, const QVariantList &b) {
        return CompareStoredRows(a, b) < 0;
    };
    QList<QVariantList> expected = saved.rows;
    QList<QVariantList> found;
    found.reserve(now.rows.size());
    for (const TotalsSnapshot::Row &row : now.rows)
        found.append(row.values);
    std::stable_sort(expected.begin(), expected.end(), less);
    std::stable_sort(found.begin(), found.end(), less);
    if (expected.size() != found.size())
        RaiseAppError(QStringLiteral("fa_Total 写回后有 %1 行，保存的有 %2 行")
                          .arg(found.size())
                          .arg(expected.size()));
    for (qsizetype r = 0; r < expected.size(); ++r) {
        for (qsizetype i = 0; i < expected.at(r).size(); ++i) {
            if (!identical(expected.at(r).at(i), found.at(r).value(i)))
                RaiseAppError(
                    QStringLiteral("fa_Total 的 %1 列（%2）写回后与保存的不同")
                        .arg(saved.columns.value(i), rowName(saved.columns, expected.at(r))));
        }
    }
}

// The saved table of record runId, if it fits the books of AccConnStr.
SavedTable savedTableFor(const QString &account, const QString &year, qint64 runId,
                         RunRecord *record)
{
    SavedTable saved;
    QString error;
    bool missing = false;
    if (!loadRun(runId, record, &saved, &error, &missing)) {
        if (missing)
            throw Refusal{error};
        RaiseAppError(error);
    }
    const QString here = RunDatabaseName();
    if (record->account != account || record->year != year || record->database != here)
        throw Refusal{
            QStringLiteral("整理记录 %1 是帐套 %2 %3 年的（%4），不是帐套 %5 %6 年的（%7）")
                .arg(QString::number(runId), record->account, record->year, record->database,
                     account, year, here)};
    if (saved.columns.isEmpty())
        throw Refusal{QStringLiteral("整理记录 %1 没有保存 fa_Total：那次整理没有完成（%2）")
                          .arg(QString::number(runId), record->outcome)};
    return saved;
}

} // namespace

RestoreResult RunRestoreCommand(const QString &account, const QString &year, qint64 runId,
                                RecalcUi &ui, const RecalcOptions &options)
{
    const LockWaitReport lockWaits(ui);
    AccountYearRunLock runLock;
    RunRecord record;
    SavedTable saved;
    try {
        saved = savedTableFor(account, year, runId, &record);
        if (IsAccess)
            runLock.claim();
        if (!OpenConn(*AccConn, AccConnStr))
            RaiseStepError(QStringLiteral("打开文件错误"));
        if (!IsAccess)
            runLock.claim();
    } catch (const Refusal &refusal) {
        ui.showMessage(refusal.message);
        ui.enableRun();
        return RestoreResult::Refused;
    } catch (const AppError &error) {
        LetGoQuietly(runLock);
        ui.showMessage(StopRequested() ? kRestoreCancelledMessage : error.description());
        ui.enableRun();
        return RestoreResult::Stopped;
    }

    ui.setBusy(true);
    std::optional<RunHistoryEntry> history;
    if (!options.dryRun)
        history.emplace(account, year);
    ChangeReport changes;
    QString failure;
    bool refused = false;
    bool inTransaction = false;
    bool completed = false;
    try {
        AccConn->BeginTrans();
        inTransaction = true;
        const TotalsSnapshot before = ReadTotals();
        if (!sameColumns(before.columns, saved.columns)) {
            refused = true;
            RaiseAppError(
                QStringLiteral("fa_Total 的列与整理记录 %1 保存的不同\n现在：%2\n保存的：%3")
                    .arg(QString::number(runId), before.columns.join(QLatin1Char(',')),
                         saved.columns.join(QLatin1Char(','))));
        }
        SqlText = LoadSqlString(110);
        AccConn->Execute(SqlText);
        writeRows(saved);
        const TotalsSnapshot after = ReadTotals();
        checkWrittenBack(saved, after);
        changes = CompareTotals(before, after);
        QString reason;
        const QString outcome = QStringLiteral("已恢复记录 %1 之前的 fa_Total").arg(runId);
        if (history && !history->recordBeforeCommit(outcome, before, changes, &reason))
            RaiseAppError(reason);
        if (options.beforeCommit && !options.beforeCommit(before, changes, &reason))
            RaiseAppError(reason);
        if (options.dryRun)
            AccConn->RollbackTrans();
        else
            AccConn->CommitTrans();
        inTransaction = false;
        completed = true;
    } catch (const AppError &error) {
        if (inTransaction) {
            try {
                AccConn->RollbackTrans();
            } catch (const AppError &) {
                // The connection is gone; the database undoes the open
                // transaction by itself.
            }
        }
        // A stop the operator asked for is reported once, below.
        if (!StopRequested())
            failure = error.description();
    }
    const QString closeFailure = LetGoOfAccountYear(runLock);
    if (completed && history)
        history->confirm(ui);
    if (!failure.isEmpty())
        ui.showMessage(failure);
    if (!completed && history && !refused)
        history->recordFailure(failure.isEmpty() ? kStoppedOutcome : failure, ui);
    ui.setBusy(false);
    if (!closeFailure.isEmpty()) {
        ui.showMessage(closeFailure);
        ui.enableRun();
        return RestoreResult::Stopped;
    }
    if (refused) {
        ui.enableRun();
        return RestoreResult::Refused;
    }
    if (options.changes)
        *options.changes = changes;
    if (!completed) {
        ui.showMessage(StopRequested() ? kRestoreCancelledMessage : kRestoreStoppedMessage);
        return RestoreResult::Stopped;
    }
    if (options.dryRun) {
        ui.checkCompleted(changes);
    } else {
        ui.runRecorded(history->id());
        ui.runCompleted(kRestoreCompletedMessage, changes);
    }
    return RestoreResult::Completed;
}

} // namespace fa
