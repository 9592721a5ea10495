#pragma once

#include <QString>

// The work of fatotal-rebuild once its arguments are read and SysConnStr is
// set: one account-year or a batch of them, rebuilt or checked.

// Exit codes.
inline constexpr int kCompleted = 0; // every account-year completed (and agreed, for a check)
inline constexpr int kStopped = 1;   // a check or the rebuild stopped with a message
inline constexpr int kUsage = 2;     // wrong arguments
inline constexpr int kDiffers = 3;   // a check found fa_Total differing from the cards

struct BatchRequest
{
    QString accounts; // one account set, a comma-separated list, or "all"
    QString years;    // one year, a comma-separated list, or "all"
    bool check = false;
    QString changesFile; // where the change report goes too; empty for nowhere
    bool progress = false;
    qint64 restoreId = 0; // a restore of this history record instead of a rebuild
};

// Prints a line of the tool's own on standard error.
void printLine(const QString &text);

// True when the text is one value, a comma-separated list of values, or "all".
bool isSelection(const QString &text);

// Runs the request on the shared objects; the exit status.
int RunRebuildBatch(const BatchRequest &request);

// Puts back the table that the history record request.restoreId replaced, in
// the one account-year of the request; the exit status (kUsage when the
// record does not fit these books).
int RunRestore(const BatchRequest &request);

// The history as CSV on standard output, newest first, for the account sets
// and years of the request ("all" or lists); the exit status.
int PrintHistory(const BatchRequest &request);
