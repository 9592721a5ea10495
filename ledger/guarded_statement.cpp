#include "data/app_error.h"
#include "data/db_state.h"
#include "ledger/steps.h"

namespace fa {

bool ExecuteGuarded(const QString &cleanup)
{
    RetryCount = 0;
    NoteFailureReason({});
    for (;;) {
        try {
            AccConn->Execute(SqlText);
            NoteFailureReason({});
            return true;
        } catch (const AppError &error) {
            NoteFailureReason(error.description());
            if (error.number() != kErrorsInCommand)
                return false;
        }
        // An error in the command text is what a work table left half filled
        // by an earlier try, or left over from an earlier run, produces: clear
        // it and try once more, at most three tries in all.
        AccConn->Execute(cleanup);
        if (!RetryAgain(RetryCount))
            return false;
    }
}

} // namespace fa
