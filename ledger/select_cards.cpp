#include "data/app_error.h"
#include "data/db_state.h"
#include "data/dialect.h"
#include "ledger/periods.h"
#include "ledger/sql_strings.h"
#include "ledger/steps.h"

namespace fa {

QString SelectCardsStatement(qint32 period, int kind)
{
    const QString placeholder1 = QStringLiteral("|1");
    if (kind < Additions) {
        // The state of every card at one point in time: per card number the
        // record with the greatest id among those entered, moved and disposed
        // before it. Record ids are text and are ordered by their numeric
        // value: a text Max would put record "9" after record "10". On SQL
        // Server the cast keeps an int column as it is.
        const QString id = IsAccess ? QStringLiteral("CStr(Max(Val([sCardID])))")
                                    : QStringLiteral("Max(cast([sCardID] as int))");
        const QString bound = kind == MonthOpening
                                  ? QStringLiteral("<") + DateLiteral(Periods[period].BeginDate)
                                  : QStringLiteral("<=") + DateLiteral(Periods[period].EndDate);
        return FillPlaceholder(LoadSqlString(CardInsertHead), placeholder1, id) +
               FillPlaceholder(LoadSqlString(CardStateFilter), placeholder1, bound);
    }
    if (kind > Revaluation)
        return {};
    // The records of one group of operations dated within the period, both
    // ends included; the filter of kind k is string 1000 + k.
    return FillPlaceholder(LoadSqlString(CardInsertHead), placeholder1,
                           QStringLiteral("[sCardID]")) +
           FillPlaceholders(LoadSqlString(1000 + kind),
                            {{placeholder1, DateLiteral(Periods[period].BeginDate)},
                             {QStringLiteral("|2"), DateLiteral(Periods[period].EndDate)}});
}

bool SelectCards(qint32 period, int kind)
{
    // Not guarded: a work table that cannot be emptied stops the run with the
    // database's own text.
    AccConn->Execute(LoadSqlString(DeleteFq));
    NoteFailureReason({});
    if (kind > Revaluation)
        return false;
    try {
        SqlText = SelectCardsStatement(period, kind);
    } catch (const AppError &error) {
        NoteFailureReason(error.description());
        return false;
    }
    return ExecuteGuarded(LoadSqlString(DeleteFq));
}

} // namespace fa
