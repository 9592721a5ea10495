#pragma once

#include <QString>

namespace fa {

// "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" followed directly by the
// path of the database file.
inline const QString JetConnPrefix =
    QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=");
// The SQL Server form: "|1" the server, "|2" the catalog, and the password
// appended after "Password=". The server stands just before ";Password=" and
// the password is last; the main window's status bar relies on that order.
inline const QString SqlServerConnTemplate =
    QStringLiteral("Provider=SQLOLEDB;Persist Security Info=False;User ID=sa;"
                   "Initial Catalog=|2;Data Source=|1;Password=");

// What a SQLOLEDB connection string of the login window names: the server,
// the database, the user and the password.
struct SqlServerLogin
{
    QString host; // the machine (with "\instance" when one is named)
    QString port; // empty: the server's usual port
    QString database;
    QString user;
    QString password;
};

// Reads "Provider=SQLOLEDB;…;Initial Catalog=<db>;Data Source=<server>;Password=<pw>".
// The password is the last field and is taken whole, ';' and '=' included.
// A server written "host,port" is split; "(local)", "." and an empty name
// mean this machine.
SqlServerLogin parseSqlOledbString(const QString &connectionString);

// The ODBC drivers that reach SQL Server: FreeTDS, and the "SQL Server"
// driver that comes with Windows. They differ in how a port is given and in
// what a braced value may hold.
enum class SqlServerDriver { FreeTds, Windows };
#ifdef Q_OS_WIN
inline constexpr SqlServerDriver kSystemSqlServerDriver = SqlServerDriver::Windows;
#else
inline constexpr SqlServerDriver kSystemSqlServerDriver = SqlServerDriver::FreeTds;
#endif

// The ODBC connection string for the driver that reaches the same database.
// Every value is enclosed in braces. Throws AppError for a value the driver
// cannot receive (a NUL character; for FreeTDS also "};").
QString odbcConnectionString(const SqlServerLogin &login,
                             SqlServerDriver driver = kSystemSqlServerDriver);

// The file behind a Jet connection string: everything after "Data Source="
// (the field name in any case; a path in double quotes is unwrapped).
QString jetDataSource(const QString &connectionString);

// The ODBC connection string for an OLE DB string of either provider: a Jet
// string goes to the Access ODBC driver (Windows only), SQLOLEDB to `driver`.
QString odbcConnectionStringFor(const QString &oledbString,
                                SqlServerDriver driver = kSystemSqlServerDriver);

} // namespace fa
