#pragma once

#include <QString>

namespace fa {

// Where the database of an account set and year lives.
struct AccountYearDatabase
{
    QString location;         // the file path, or the SQL Server database name
    QString connectionString; // for AccConnStr
};

// Resolves the account-year database on the open system connection, in the
// mode IsAccess names: in the file-database mode the file kvdata.mdb under the
// account set's data path, on SQL Server the database kvdata_<id>_<year> on
// the same server. Throws AppError with "打开系统库错误", "没有发现" + path or
// "没有发现数据库" + name.
AccountYearDatabase ResolveAccountYear(const QString &account, const QString &year);

} // namespace fa
