#pragma once

#include "data/connection.h"

#include <QString>
#include <atomic>
#include <memory>

namespace fa {

// Program-wide database state. The main window (or the headless command)
// creates the three objects at start and releases them at the end; every
// other part of the program reaches them through here.
extern bool IsAccess;
extern std::unique_ptr<Connection> SysConn;
extern std::unique_ptr<Connection> AccConn;
extern std::unique_ptr<Recordset> WorkRs;
extern QString SysConnStr;
extern QString AccConnStr;
extern QString SqlText;
extern qint32 RetryCount;

void CreateSharedObjects();
void ReleaseSharedObjects();
// Interrupts whatever statement runs on SysConn or AccConn; callable from any
// thread (the shared objects are not released meanwhile).
void InterruptSharedConnections();
// Back to the state at program start; for tests.
void ResetDbState();

// Opens (or closes and re-opens) a connection; true when it is open at the
// end. Never throws. The open is tried at most three times, counted in
// RetryCount.
bool OpenConn(Connection &conn, const QString &connectionString);
// The same, counted in a counter of the caller's own: an open on another
// thread leaves RetryCount to the program's own opens.
// A stop flag, when given and set, makes every further try fail at once: a
// login the operator gave up on tries no more.
bool OpenConn(Connection &conn, const QString &connectionString, qint32 &retryCount,
              const std::atomic<bool> *stop = nullptr);
// Opens the recordset on a query text; true when it holds a result. Never
// throws. Texts without "select" (in any case, anywhere) are never sent.
bool RunSql(Recordset &rs, const QString &sql, Connection &conn);
// Counts a failed try; true while another is allowed (fewer than three).
bool RetryAgain(qint32 &counter);

// OpenConn, RunSql and the guarded statements answer false without a word;
// the database's own reason for the last failure they absorbed is kept here
// (empty when the last of them succeeded), so that the fixed message of the
// caller can say why under what. Each thread keeps its own.
QString LastFailureReason();
void NoteFailureReason(const QString &reason);
// The message, with the reason of the failure that led to it on a second line
// when one is known.
QString WithFailureReason(const QString &message);
// RaiseAppError with the message and the reason under it.
[[noreturn]] void RaiseStepError(const QString &message);

// Runs one step of a guarded sequence: a step that throws is run again while
// RetryAgain(counter) allows. False when the tries are used up. onFailure,
// when given, sees each error before the count (and may itself throw).
template <typename Step, typename OnFailure>
bool RetryStep(qint32 &counter, Step &&step, OnFailure &&onFailure);
template <typename Step> bool RetryStep(qint32 &counter, Step &&step)
{
    return RetryStep(counter, std::forward<Step>(step), [](const auto &) {});
}

} // namespace fa

#include "data/app_error.h"

namespace fa {

template <typename Step, typename OnFailure>
bool RetryStep(qint32 &counter, Step &&step, OnFailure &&onFailure)
{
    for (;;) {
        try {
            step();
            NoteFailureReason({});
            return true;
        } catch (const AppError &error) {
            NoteFailureReason(error.description());
            onFailure(error);
            if (!RetryAgain(counter))
                return false;
        }
    }
}

} // namespace fa
