#pragma once

#include "platform/platform.h"

#include <QString>

namespace fa {

// The message of a rebuild that finds another one at work on the same
// account-year database.
inline const QString kAnotherRunMessage =
    QStringLiteral("另一个整理正在处理这个帐套年度，请等它结束后再试：");

// The message of a rebuild that cannot make its lock file beside a file
// database: that folder cannot take the database's journal either. The lock
// file's path follows, and the system's reason on a line of its own.
inline const QString kNoRunLockMessage = QStringLiteral("无法在数据库所在的文件夹建立锁文件：");

// A file database's lock file lies beside it and is named after it:
// kvdata.mdb is claimed through kvdata.mdb.fatotal-lock.
inline const QString kRunLockSuffix = QStringLiteral(".fatotal-lock");

// Keeps two rebuilds of one account-year database (two commands, or a command
// and the window, on one computer or on two sharing the data folder) from
// running into each other: the second stops at once with kAnotherRunMessage
// instead of waiting for locks and failing with a database's text. For a file
// database the claim is a lock file beside the database, locked with the
// system's file locking, so that a holder that is killed leaves no claim
// behind; on SQL Server it is an application lock of the account-year
// database, held by the AccConn session until it closes.
class AccountYearRunLock
{
public:
    AccountYearRunLock();
    ~AccountYearRunLock();
    // Claims the database of AccConnStr: a file database before it is opened
    // (another run may hold it locked, and the checks would wait for it), a
    // server database once AccConn is open. Throws AppError.
    void claim();
    // Lets a file database's claim go at once and removes its lock file;
    // nothing when none is held. The server's goes when AccConn closes.
    void release();
    AccountYearRunLock(const AccountYearRunLock &) = delete;
    AccountYearRunLock &operator=(const AccountYearRunLock &) = delete;

private:
    HeldFileLock m_file;
};

} // namespace fa
