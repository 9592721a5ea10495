#pragma once

#include <QString>

namespace fa {

// Finding the database of an account set and year. The window's year list
// and the headless command resolve it through the same code.

// The system connection string of a SQL Server login: SqlServerConnTemplate
// with the server and "KVSYSTEM" filled in and the password appended as typed
// (it is the last field, so nothing in it is ever replaced).
QString SqlServerSystemConnStr(const QString &server, const QString &password);

// The account-year database file under a stored data path. The path keeps
// the separator kind it was stored with (Windows or POSIX) and may end with
// either kind.
QString AccountYearFilePath(const QString &dataPath, const QString &account, const QString &year);

// True when the account-year file exists as an ordinary file under an
// absolute path. A Windows drive or network path names nothing on a system
// that uses "/"; a relative one is never looked up.
bool AccountYearFileExists(const QString &path);

// SysConnStr with the catalog field "Initial Catalog=KVSYSTEM" pointed at
// another database; empty text when the string has no such field. Only that
// field changes: a password containing "KVSYSTEM" is kept.
QString WithCatalog(const QString &sysConnStr, const QString &database);

// Where the database of an account set and year lives.
struct AccountYearDatabase
{
    QString location;         // the file path, or the SQL Server database name
    QString connectionString; // for AccConnStr
};

// Resolves the account-year database on the open system connection, in the
// mode IsAccess names: the file kvdata.mdb under the account set's data path,
// or the database kvdata_<id>_<year> on the system database's server. Closes
// WorkRs on success. Throws AppError: "打开系统库错误", "没有发现" + path
// (also for an account set without a data path, without looking there),
// "没有发现数据库" + name, or the provider's error for an account set without
// a row.
AccountYearDatabase ResolveAccountYear(const QString &account, const QString &year);

} // namespace fa
