#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace fa {

// The message of a rebuild that finds another one at work on the same
// account-year database.
inline const QString kAnotherRunMessage =
    QStringLiteral("另一个整理正在处理这个帐套年度，请等它结束后再试：");

// Keeps two rebuilds of one account-year database (two commands, or a command
// and the window) from running into each other: the second stops at once
// with kAnotherRunMessage instead of waiting for locks and failing with a
// database's text. For a file database the claim is a lock file named after
// the database's real path in the temporary folder, released when the holder
// ends however it ends; on SQL Server it is an application lock of the
// account-year database, held by the AccConn session until it closes.
class AccountYearRunLock
{
public:
    AccountYearRunLock();
    ~AccountYearRunLock();
    // Claims the database of AccConnStr: a file database before it is opened
    // (another run may hold it locked, and the checks would wait for it), a
    // server database once AccConn is open. Throws AppError.
    void claim();
    AccountYearRunLock(const AccountYearRunLock &) = delete;
    AccountYearRunLock &operator=(const AccountYearRunLock &) = delete;

private:
    std::unique_ptr<QLockFile> m_file;
};

} // namespace fa
