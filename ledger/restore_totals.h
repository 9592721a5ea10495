#pragma once

#include "ledger/recalc.h"

#include <QString>

namespace fa {

enum class RestoreResult {
    Completed, // fa_Total holds the saved table again (a check: nothing written)
    Refused,   // the record does not fit these books; nothing was opened for writing
    Stopped,   // it failed or was stopped; fa_Total is as it was
};

// The last word of a completed restore.
inline const QString kRestoreCompletedMessage = QStringLiteral("恢复完毕");

// Puts back the fa_Total that history record runId replaced, into the
// account-year database of AccConnStr, in one transaction under the same run
// lock as a rebuild. Refused, with the reason shown, when the record is of
// another database, account set or year, saved no table, or when fa_Total's
// columns are not the saved ones. The restore is recorded like a run (unless
// options.dryRun), so that it can be undone too; options.changes and
// options.beforeCommit work as for a rebuild.
RestoreResult RunRestoreCommand(const QString &account, const QString &year, qint64 runId,
                                RecalcUi &ui, const RecalcOptions &options = {});

// How the history names the account-year database of AccConnStr: the file's
// absolute path, or "server/catalog".
QString RunDatabaseName();

} // namespace fa
