#include "data/db_state.h"

#include <QThreadStorage>

#include <mutex>

namespace fa {

bool IsAccess = false;
std::unique_ptr<Connection> SysConn;
std::unique_ptr<Connection> AccConn;
std::unique_ptr<Recordset> WorkRs;
QString SysConnStr;
QString AccConnStr;
QString SqlText;
qint32 RetryCount = 0;

namespace {
// An open running on another thread must not overwrite the reason the
// window thread is about to show, nor read it half written. Qt's per-thread
// storage rather than thread_local: MinGW's runtime frees a thread_local
// object's memory before running its destructor when the thread ends, which
// corrupts the heap.
QThreadStorage<QString> lastFailureReasons;

QString &lastFailureReason()
{
    return lastFailureReasons.localData();
}

#if defined(Q_OS_WIN) && defined(Q_CC_MINGW)
// The same fault hits Qt's per-thread stack for compiled regular
// expressions, which every match with compiled code touches: a login or a
// rebuild thread that read a connection string or a #date# would corrupt the
// heap as it ends. Interpreted matching is fast enough for the few short
// texts the tool matches. Set before any expression is compiled, since Qt
// reads the switch once.
void interpretRegularExpressions()
{
    qputenv("QT_ENABLE_REGEXP_JIT", "0");
}
Q_CONSTRUCTOR_FUNCTION(interpretRegularExpressions)
#endif
} // namespace

QString LastFailureReason()
{
    return lastFailureReason();
}

void NoteFailureReason(const QString &reason)
{
    lastFailureReason() = reason.trimmed();
}

QString WithFailureReason(const QString &message)
{
    const QString &reason = lastFailureReason();
    if (reason.isEmpty() || message.endsWith(reason))
        return message;
    return message + QLatin1Char('\n') + reason;
}

void RaiseStepError(const QString &message)
{
    RaiseAppError(WithFailureReason(message));
}

// Creating and releasing the shared objects and interrupting them from
// another thread exclude each other.
std::mutex &sharedObjectsMutex()
{
    static std::mutex mutex;
    return mutex;
}

void CreateSharedObjects()
{
    const std::lock_guard lock(sharedObjectsMutex());
    SysConn = std::make_unique<Connection>();
    AccConn = std::make_unique<Connection>();
    WorkRs = std::make_unique<Recordset>();
}

void ReleaseSharedObjects()
{
    const std::lock_guard lock(sharedObjectsMutex());
    // Released in this order; an open connection closes with its release.
    WorkRs.reset();
    SysConn.reset();
    AccConn.reset();
}

void InterruptSharedConnections()
{
    const std::lock_guard lock(sharedObjectsMutex());
    for (Connection *conn : {SysConn.get(), AccConn.get()}) {
        if (conn)
            conn->Interrupt();
    }
}

void ResetDbState()
{
    ReleaseSharedObjects();
    IsAccess = false;
    SysConnStr.clear();
    AccConnStr.clear();
    SqlText.clear();
    RetryCount = 0;
    lastFailureReason().clear();
}

bool RetryAgain(qint32 &counter)
{
    ++counter;
    return counter < 3;
}

bool OpenConn(Connection &conn, const QString &connectionString)
{
    return OpenConn(conn, connectionString, RetryCount);
}

bool OpenConn(Connection &conn, const QString &connectionString, qint32 &retryCount,
              const std::atomic<bool> *stop)
{
    lastFailureReason().clear();
    if (connectionString.trimmed().isEmpty())
        return false;
    // The close counts against whatever the counter holds on entry: it is
    // reset only just before the open.
    if (!RetryStep(retryCount, [&] {
            if (conn.State() == adStateOpen)
                conn.Close();
        }))
        return false;
    retryCount = 0;
    if (!RetryStep(retryCount, [&] {
            if (stop && *stop)
                throw AppError(kProviderFailure, QStringLiteral("已放弃连接。"));
            conn.Open(connectionString);
        }))
        return false;
    return conn.State() == adStateOpen;
}

bool RunSql(Recordset &rs, const QString &sql, Connection &conn)
{
    qint32 counter = 0;
    lastFailureReason().clear();
    if (!sql.contains(QLatin1String("SELECT"), Qt::CaseInsensitive) || conn.State() != adStateOpen)
        return false;
    if (!RetryStep(counter, [&] {
            if (rs.State() == adStateOpen)
                rs.Close();
        }))
        return false;
    counter = 0;
    if (!RetryStep(counter, [&] { rs.Open(sql, conn); }))
        return false;
    return rs.State() == adStateOpen;
}

} // namespace fa
