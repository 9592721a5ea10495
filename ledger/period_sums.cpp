#include "data/db_state.h"
#include "data/dialect.h"
#include "ledger/periods.h"
#include "ledger/sql_strings.h"
#include "ledger/steps.h"

namespace fa {

namespace {

// Every replacement works on the whole text gathered so far and ignores
// letter case, as the column rewrites of kinds 2 and 9 rely on.
void replaceAll(QString &text, const QString &what, const QString &with)
{
    text = FillPlaceholder(text, what, with, Qt::CaseInsensitive);
}

} // namespace

QString PeriodSumsStatement(qint32 period, int kind)
{
    const QString p1 = QStringLiteral("|1");
    const QString p2 = QStringLiteral("|2");
    QString text = LoadSqlString(SumInsertHead);
    switch (kind) {
    case PreviousPeriod:
        // The first period keeps the carried figures its old row held before
        // the rebuild; every later one carries the rebuilt figures of the
        // period before it, read from the same columns without "Last".
        text += LoadSqlString(CarriedFigures);
        if (period == Periods.lowerBound()) {
            replaceAll(text, p2, QString::number(period));
        } else {
            replaceAll(text, p2, QString::number(period - 1));
            replaceAll(text, QStringLiteral("WorkTotal"), QStringLiteral("WorkT"));
            replaceAll(text, QStringLiteral("Last"), QString());
        }
        // One row per source row: no grouping.
        replaceAll(text, p1, QString::number(period));
        return text;
    case MonthOpening:
        text += LoadSqlString(OpeningSums) + LoadSqlString(NotDisposedFilter);
        replaceAll(text, p2, QString::number(period - 1));
        break;
    case PeriodClosing: {
        // Cards without a workload row count as no workload on SQL Server;
        // the file database sums over the nulls as they come.
        QString closing = LoadSqlString(ClosingSums);
        replaceAll(closing, QStringLiteral("dblWorkT|1"), NullToZero(QStringLiteral("dblWorkT|1")));
        text += closing;
        replaceAll(text, QStringLiteral("dblWork|1"), NullToZero(QStringLiteral("dblWork|1")));
        text += LoadSqlString(NotDisposedFilter);
        replaceAll(text, QStringLiteral("dblWork0"), NullToZero(QStringLiteral("dblWork0")));
        replaceAll(text, QStringLiteral("dblWorkT0"), NullToZero(QStringLiteral("dblWorkT0")));
        break;
    }
    case Additions:
    case Decreases:
    case DeprTransfer:
        text += LoadSqlString(OperationSums);
        break;
    case ValueIncrease:
    case ValueDecrease:
        text += LoadSqlString(VoucherSums);
        replaceAll(text, p2, NumericExpr(QStringLiteral("[sBeforeVoucher]")));
        break;
    case Revaluation:
        text += LoadSqlString(EvaluationSums);
        replaceAll(text, p2, NumericExpr(QStringLiteral("dblValueBefore")));
        break;
    case YearOpening:
        if (period == 0) {
            // The opening state of the first period to rebuild, for the
            // year-start figures of every row.
            text += LoadSqlString(OpeningSums) + LoadSqlString(NotDisposedFilter);
            replaceAll(text, p2, QString::number(Periods.lowerBound() - 1));
        } else {
            // The cards entered from the start of the first period to rebuild
            // up to the end of this one, disposed or not.
            text += FillPlaceholders(
                LoadSqlString(YearToDateSums),
                {{p2, DateLiteral(Periods[period].EndDate)},
                 {QStringLiteral("|3"), DateLiteral(Periods[Periods.lowerBound()].BeginDate)}});
        }
        break;
    default:
        return {};
    }
    text += LoadSqlString(GroupByDeptType);
    replaceAll(text, p1, QString::number(period));
    return text;
}

bool BuildPeriodSums(qint32 period, int kind)
{
    // Neither the delete nor the assembly is guarded: their errors (a missing
    // work table, a period outside the calendar) reach the caller.
    AccConn->Execute(LoadSqlString(DeleteFqsum));
    SqlText = LoadSqlString(SumInsertHead);
    if (kind < MonthOpening || kind > YearOpening)
        return false;
    SqlText = PeriodSumsStatement(period, kind);
    return ExecuteGuarded(LoadSqlString(DeleteFqsum));
}

} // namespace fa
