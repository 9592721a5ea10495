#include "ledger/account_year.h"

#include "data/conn_strings.h"
#include "data/db_state.h"
#include "data/dialect.h"
#include "platform/platform.h"

#include <QDir>
#include <QRegularExpression>

namespace fa {

namespace {

const QString kOpenSystemError = QStringLiteral("打开系统库错误");
const QString kCatalogField = QStringLiteral("Initial Catalog=KVSYSTEM");

bool isSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

// A drive or network path of Windows ("D:\…", "\\server\…"), which names
// nothing on a system that uses "/".
bool isWindowsPath(const QString &path)
{
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    return drive.match(path).hasMatch() || path.startsWith(QLatin1String("\\\\"));
}

AccountYearDatabase resolveFile(const QString &account, const QString &year)
{
    SqlText = QStringLiteral("Select [cAcc_Path] from ua_account where cacc_id='") +
              DoubleQuotes(account) + QLatin1Char('\'');
    if (!RunSql(*WorkRs, SqlText, *SysConn))
        RaiseAppError(kOpenSystemError);
    const QString dataPath = WorkRs->Fields(0).toString();
    const QString file = AccountYearFilePath(dataPath, account, year);
    // Without a data path the joined path would point into the root folder,
    // which is no account set's folder: report it without looking there.
    if (dataPath.isEmpty() || !AccountYearFileExists(file))
        RaiseAppError(QStringLiteral("没有发现") + file);
    return {file, JetConnPrefix + file};
}

AccountYearDatabase resolveServer(const QString &account, const QString &year)
{
    const QString name = QStringLiteral("kvdata_") + account + QLatin1Char('_') + year;
    SqlText = QStringLiteral("SELECT name FROM master..sysdatabases WHERE name = '") +
              DoubleQuotes(name) + QLatin1Char('\'');
    if (!RunSql(*WorkRs, SqlText, *SysConn))
        RaiseAppError(kOpenSystemError);
    if (WorkRs->Eof())
        RaiseAppError(QStringLiteral("没有发现数据库") + name);
    const QString connectionString = WithCatalog(SysConnStr, name);
    // Without its catalog field the system string cannot be pointed at the
    // account-year database.
    if (connectionString.isEmpty())
        RaiseAppError(kOpenSystemError);
    return {name, connectionString};
}

} // namespace

QString SqlServerSystemConnStr(const QString &server, const QString &password)
{
    // One pass: a server name holding "|2" stays as typed.
    return FillPlaceholders(
               SqlServerConnTemplate,
               {{QStringLiteral("|1"), server}, {QStringLiteral("|2"), QStringLiteral("KVSYSTEM")}},
               Qt::CaseSensitive) +
           password;
}

QString AccountYearFilePath(const QString &dataPath, const QString &account, const QString &year)
{
    // Paths were stored by the accounting system on whatever system kept the
    // data; join with the kind of separator the stored path already uses.
    const bool backslash = dataPath.contains(QLatin1Char('\\'));
    const bool slash = dataPath.contains(QLatin1Char('/'));
    QString sep = platform().separator();
    if (backslash && !slash)
        sep = QStringLiteral("\\");
    else if (slash && !backslash)
        sep = QStringLiteral("/");
    const bool endsWithSeparator = !dataPath.isEmpty() && isSeparator(dataPath.back());
    return dataPath + (endsWithSeparator ? QString() : sep) + QStringLiteral("ZT") + account + sep +
           year + sep + QStringLiteral("kvdata.mdb");
}

QString WithCatalog(const QString &sysConnStr, const QString &database)
{
    // The field as the login window writes it: preceded by ";" and followed
    // by ";". The first one is the template's own, ahead of the server name
    // and the password.
    const QString field = QLatin1Char(';') + kCatalogField + QLatin1Char(';');
    const qsizetype at = sysConnStr.indexOf(field, 0, Qt::CaseSensitive);
    if (at < 0)
        return {};
    QString result = sysConnStr;
    const qsizetype valueAt = at + 1 + kCatalogField.size() - QStringLiteral("KVSYSTEM").size();
    return result.replace(valueAt, QStringLiteral("KVSYSTEM").size(), database);
}

bool AccountYearFileExists(const QString &path)
{
    if (platform().separator() == QLatin1String("/") && isWindowsPath(path))
        return false;
    // A relative path ("file:/…" is one) would be looked up in whatever folder
    // the program was started from.
    if (QDir::isRelativePath(path))
        return false;
    return platform().isOrdinaryFile(path);
}

AccountYearDatabase ResolveAccountYear(const QString &account, const QString &year)
{
    AccountYearDatabase database =
        IsAccess ? resolveFile(account, year) : resolveServer(account, year);
    try {
        WorkRs->Close();
    } catch (const AppError &) {
        // Already closed: nothing to release.
    }
    return database;
}

} // namespace fa
