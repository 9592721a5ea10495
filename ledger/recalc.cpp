#include "ledger/recalc.h"

#include "data/db_state.h"
#include "data/dialect.h"
#include "data/stop_request.h"
#include "ledger/periods.h"
#include "ledger/sql_strings.h"
#include "ledger/steps.h"
#include "ledger/stored_values.h"

#include <QPair>
#include <QVector>

namespace fa {

namespace {

// Creates a work table; a table of that name left behind by an earlier run
// makes the creation fail with an error in the command, and is dropped before
// the next try. A failing drop throws.
bool createTable(int definition, const QString &dropStatement)
{
    SqlText = LoadSqlString(definition);
    return ExecuteGuarded(dropStatement);
}

QString periodMessage(const QString &period)
{
    return FillPlaceholders(QStringLiteral("更新fa_total表|1月表错误"),
                            {{QStringLiteral("|1"), period}});
}

void rebuildPeriods(RecalcUi &ui)
{
    const int first = Periods.lowerBound();
    for (int p = first; p <= 12; ++p) {
        ui.periodStarted(p);
        if (!BuildPeriodSums(p, PreviousPeriod))
            RaiseStepError(QStringLiteral("插入表错误"));
        if (p == first && !SeedTotalRows())
            RaiseAppError(QStringLiteral("清空fa_total 出错"));
        if (!FoldSums(p, PreviousPeriod))
            RaiseStepError(periodMessage(QString::number(p)));
        if (!BuildPeriodSums(p, YearOpening))
            RaiseStepError(QStringLiteral("插入表错误"));
        if (!FoldSums(p, YearOpening))
            RaiseStepError(QStringLiteral("更新fa_total表错误"));
        for (int kind = MonthOpening; kind <= Revaluation; ++kind) {
            if (!SelectCards(p, kind))
                RaiseStepError(QStringLiteral("插入表错误"));
            if (!BuildPeriodSums(p, kind))
                RaiseStepError(QStringLiteral("插入表错误"));
            if (!FoldSums(p, kind))
                RaiseStepError(periodMessage(QString::number(p)));
        }
        SqlText = EmptyRowsStatement(p);
        AccConn->Execute(SqlText);
        ui.periodDone(p);
    }

    // The year-opening figures reach every row that is still there.
    if (!SelectCards(first, MonthOpening))
        RaiseStepError(QStringLiteral("插入表错误"));
    if (!BuildPeriodSums(0, YearOpening))
        RaiseStepError(QStringLiteral("插入表错误"));
    if (!FoldSums(0, YearOpening))
        RaiseStepError(periodMessage(QStringLiteral("0")));
}

} // namespace

bool CreateWorkTables()
{
    if (!createTable(IsAccess ? 121 : 111, QStringLiteral("drop table fq")))
        return false;
    return createTable(IsAccess ? 123 : 113, QStringLiteral("drop table fqsum"));
}

bool SeedTotalRows()
{
    SqlText = LoadSqlString(110);
    AccConn->Execute(SqlText);

    SqlText = LoadSqlString(117) + LoadSqlString(108);
    if (!RunSql(*WorkRs, SqlText, *AccConn))
        RaiseStepError(QStringLiteral("打开卡片表错误"));
    // The pairs are read to the end before the first insert: a SQL Server
    // connection carries one active result at a time.
    QVector<QPair<QString, QString>> pairs;
    while (!WorkRs->Eof()) {
        const QVariant dept = WorkRs->Fields(0);
        const QVariant type = WorkRs->Fields(1);
        if (dept.isNull() || type.isNull())
            throw AppError(94, QStringLiteral("无效使用 Null"));
        pairs.append({dept.toString(), type.toString()});
        WorkRs->MoveNext();
    }
    WorkRs->Close();

    const QString head = LoadSqlString(101);
    const QString values = LoadSqlString(102);
    StatementBatch batch;
    for (const auto &[dept, type] : pairs) {
        for (int i = Periods.lowerBound(); i <= 12; ++i) {
            // Quotes inside a number are doubled, and the numbers are put in
            // together, so that "T|3" or "x'y" is stored as it is.
            batch.add(head +
                      FillPlaceholders(values, {{QStringLiteral("|1"), DoubleQuotes(dept)},
                                                {QStringLiteral("|2"), DoubleQuotes(type)},
                                                {QStringLiteral("|3"), QString::number(i)}}));
        }
    }
    batch.send();
    return true;
}

bool RebuildTotals(RecalcUi &ui, const RecalcOptions &options, QString *failure)
{
    bool inTransaction = false;
    try {
        // Values that cannot give a right table stop the run before the work
        // tables are made.
        CheckConvertedValues();
        // A real run leaves the work tables behind; a dry run leaves nothing.
        if (!options.dryRun && !CreateWorkTables())
            RaiseStepError(QStringLiteral("创建表失败"));
        AccConn->BeginTrans();
        inTransaction = true;
        if (options.dryRun && !CreateWorkTables())
            RaiseStepError(QStringLiteral("创建表失败"));
        TotalsSnapshot before;
        const bool compare = options.changes || options.beforeCommit;
        if (compare)
            before = ReadTotals();
        rebuildPeriods(ui);
        ChangeReport changes;
        if (compare)
            changes = CompareTotals(before, ReadTotals());
        if (QString reason; options.beforeCommit && !options.beforeCommit(before, changes, &reason))
            RaiseAppError(reason);
        if (options.changes)
            *options.changes = std::move(changes);
        if (options.dryRun)
            AccConn->RollbackTrans();
        else
            AccConn->CommitTrans();
        return true;
    } catch (const AppError &error) {
        if (inTransaction) {
            try {
                AccConn->RollbackTrans();
            } catch (const AppError &) {
                // The connection is gone; the database undoes the open
                // transaction by itself.
            }
        }
        // A stop the operator asked for is reported once, by the caller.
        if (StopRequested())
            return false;
        if (failure)
            *failure = error.description();
        else
            ui.showMessage(error.description());
        return false;
    }
}

} // namespace fa
