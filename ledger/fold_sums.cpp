#include "data/app_error.h"
#include "data/db_state.h"
#include "data/dialect.h"
#include "ledger/sql_strings.h"
#include "ledger/steps.h"

namespace fa {

namespace {

// The SET clause of a kind: which fa_Total columns take or add which sums.
QString setClause(qint32 period, int kind)
{
    switch (kind) {
    case MonthOpening:
        return QStringLiteral(" SET [lMonthCount]=b.C,") +
               QStringLiteral("[dblMonthValue]=b.v,[dblMonthDeprTotal]=b.Dt ");
    case PeriodClosing:
        return QStringLiteral(" SET dblValue = b.v, dblDeprTotal = b.dt,[dblDepr]=b.d,") +
               QStringLiteral("[lCount]=C,[dblWork]=w,[dblWorkT]=wt,[dblAccrualValue]=mv ");
    case Additions:
        return QStringLiteral("SET [dblTransInDeprTotal] = [dblTransInDeprTotal]+b.InDT,") +
               QStringLiteral("[dblAddValue]=[dblAddValue]+b.v");
    case Decreases:
        return QStringLiteral("SET [dblTransOutDeprTotal] =[dblTransOutDeprTotal] + b.outdt,") +
               QStringLiteral("[dblDecValue]=[dblDecValue]+b.v");
    case ValueIncrease:
        return QStringLiteral("SET [dblAddValue]=[dblAddValue]+b.v-b.mv");
    case ValueDecrease:
        return QStringLiteral("SET [dblDecValue]=[dblDecValue]+b.mv-b.v");
    case DeprTransfer:
        return QStringLiteral("SET [dblTransInDeprTotal] = [dblTransInDeprTotal]+b.InDT,") +
               QStringLiteral("[dblTransOutDeprTotal] =[dblTransOutDeprTotal] + b.outdt");
    case Revaluation:
        // A rise goes to the added value, a fall to the decreased value.
        return QStringLiteral("SET [dblTransInDeprTotal] = [dblTransInDeprTotal]+b.InDT,") +
               QStringLiteral("[dblTransOutDeprTotal] =[dblTransOutDeprTotal] + b.outdt,") +
               QStringLiteral("[dblAddValue]=[dblAddValue]+") +
               PositiveOrZero(QStringLiteral("b.v-b.mv")) +
               QStringLiteral(",[dblDecValue]=[dblDecValue]+") +
               PositiveOrZero(QStringLiteral("b.mv-b.v"));
    case PreviousPeriod:
        return QStringLiteral(" SET [dblLastAccrualValue] = b.MV,[dblLastDepr] =b.[d],") +
               QStringLiteral("[dblLastAddValue] = b.[InDT],[dblLastDecValue] =b.[OutDT],") +
               QStringLiteral("[dblLastWork] = [W],[dblLastWorkTotal] = [WT]");
    case YearOpening:
        if (period == 0)
            return QStringLiteral("set [dblYearValue]=[dblYearValue]+b.v,"
                                  "[dblYearDeprTotal]=[dblYearDeprTotal]+b.dt");
        return QStringLiteral("Set [dblYearValue]=b.v,[dblYearDeprTotal]=b.dt");
    default:
        return {};
    }
}

} // namespace

QString FoldSumsStatement(qint32 period, int kind)
{
    if (kind < MonthOpening || kind > YearOpening)
        return {};
    QString join = LoadSqlString(FoldJoin);
    const QString set = setClause(period, kind);
    if (kind == YearOpening && period == 0) {
        // The year-start sums (period 0) reach the rows of every period of
        // their department and type: drop the period from the join.
        join.truncate(join.lastIndexOf(QLatin1String("and"), -1, Qt::CaseInsensitive));
    }
    if (IsAccess)
        return QStringLiteral("UPDATE ") + join + QStringLiteral(" ") + set;
    return QStringLiteral("UPDATE fa_Total ") + set + QStringLiteral(" from ") + join;
}

QString EmptyRowsStatement(int period)
{
    return FillPlaceholder(LoadSqlString(DeleteTotal) + LoadSqlString(EmptyRowsCondition),
                           QStringLiteral("|1"), QString::number(period));
}

bool FoldSums(qint32 period, int kind)
{
    if (kind < MonthOpening || kind > YearOpening)
        return false;
    SqlText = FoldSumsStatement(period, kind);
    NoteFailureReason({});
    try {
        AccConn->Execute(SqlText);
    } catch (const AppError &error) {
        // The driver reports a failed fold in its own words, with this reason.
        NoteFailureReason(error.description());
        return false;
    }
    return true;
}

} // namespace fa
