#include "data/conn_strings.h"

#include "data/app_error.h"

#include <QRegularExpression>

namespace fa {

namespace {

bool isKey(QStringView key, std::initializer_list<QLatin1StringView> names)
{
    for (QLatin1StringView name : names) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// SQLOLEDB's names for this machine.
bool meansThisMachine(const QString &host)
{
    return host.isEmpty() || host == QLatin1String(".") ||
           host.compare(QLatin1String("(local)"), Qt::CaseInsensitive) == 0;
}

// A value in braces, as the driver reads it back. FreeTDS reads a braced
// value up to the first "};" and takes what lies between the braces as it
// stands: a doubled '}' is not undone, and there is no way to write "};"
// inside a value. Every field is therefore closed with ';', and a value
// holding "};" is refused rather than cut short (the rest of it would be read
// as further options). Windows' drivers read "}}" inside braces as one '}'.
QString braced(const QString &value, SqlServerDriver driver)
{
    if (value.contains(QChar(0)))
        throw AppError(kProviderFailure,
                       QStringLiteral("服务器名、数据库名、用户名或口令中含有空字符，无法连接。"));
    if (driver == SqlServerDriver::Windows)
        return QLatin1Char('{') + QString(value).replace(QLatin1Char('}'), QLatin1String("}}")) +
               QLatin1Char('}');
    if (value.contains(QLatin1String("};")))
        throw AppError(kProviderFailure,
                       QStringLiteral("服务器名、数据库名、用户名或口令中含有“};”，无法连接。"));
    return QLatin1Char('{') + value + QLatin1Char('}');
}

} // namespace

SqlServerLogin parseSqlOledbString(const QString &connectionString)
{
    SqlServerLogin login;
    QString dataSource;
    // The server and the catalog stand in this form as they were typed or
    // stored, unquoted: a ';' inside one of them would start a field of its
    // own (another catalog, say). Such a string is refused, not guessed at.
    const auto ambiguous = [] {
        return AppError(kProviderFailure,
                        QStringLiteral("服务器名或数据库名中含有“;”，无法连接。"));
    };
    QStringList keysSeen;
    qsizetype pos = 0;
    while (pos < connectionString.size()) {
        qsizetype end = connectionString.indexOf(QLatin1Char(';'), pos);
        if (end < 0)
            end = connectionString.size();
        const qsizetype start = pos;
        const QStringView field = QStringView(connectionString).sliced(start, end - start);
        pos = end + 1;
        const qsizetype eq = field.indexOf(QLatin1Char('='));
        if (eq < 0) {
            if (!field.trimmed().isEmpty())
                throw ambiguous();
            continue;
        }
        const QStringView key = field.first(eq).trimmed();
        if (isKey(key, {QLatin1StringView("Password"), QLatin1StringView("PWD")})) {
            // The login window appends the password as typed: everything up
            // to the end of the string is the password.
            login.password = connectionString.mid(start + eq + 1);
            break;
        }
        const QString value = field.sliced(eq + 1).trimmed().toString();
        QString name = key.toString().toLower();
        if (isKey(key, {QLatin1StringView("Data Source"), QLatin1StringView("Server"),
                        QLatin1StringView("Address")})) {
            dataSource = value;
            name = QStringLiteral("server");
        } else if (isKey(key,
                         {QLatin1StringView("Initial Catalog"), QLatin1StringView("Database")})) {
            login.database = value;
            name = QStringLiteral("database");
        } else if (isKey(key, {QLatin1StringView("User ID"), QLatin1StringView("UID")})) {
            login.user = value;
            name = QStringLiteral("user");
        }
        if (keysSeen.contains(name))
            throw ambiguous();
        keysSeen << name;
    }

    // "host,port" names the port; an instance name then plays no part, as
    // with SQLOLEDB. FreeTDS wants the port apart from the host: left in the
    // server name, the ",port" would also travel in the login packet.
    QString host = dataSource;
    const qsizetype comma = host.indexOf(QLatin1Char(','));
    if (comma >= 0) {
        login.port = host.sliced(comma + 1).trimmed();
        host.truncate(comma);
        const qsizetype backslash = host.indexOf(QLatin1Char('\\'));
        if (backslash >= 0)
            host.truncate(backslash);
        host = host.trimmed();
    }
    const qsizetype backslash = host.indexOf(QLatin1Char('\\'));
    const QString machine = backslash < 0 ? host : host.first(backslash);
    if (meansThisMachine(machine.trimmed()))
        host = QStringLiteral("localhost") + (backslash < 0 ? QString() : host.sliced(backslash));
    login.host = host;
    return login;
}

QString odbcConnectionString(const SqlServerLogin &login, SqlServerDriver driver)
{
    if (!login.port.isEmpty()) {
        bool ok = false;
        const uint port = login.port.toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            throw AppError(kProviderFailure, QStringLiteral("服务器端口无效：") + login.port);
    }
    QString result;
    if (driver == SqlServerDriver::Windows) {
        // Windows' driver knows no PORT keyword: the port goes with the server.
        const QString server =
            login.port.isEmpty() ? login.host : login.host + QLatin1Char(',') + login.port;
        result = QStringLiteral("DRIVER={SQL Server};SERVER=") + braced(server, driver) +
                 QLatin1Char(';');
    } else {
        result = QStringLiteral("DRIVER={FreeTDS};SERVER=") + braced(login.host, driver) +
                 QLatin1Char(';');
        if (!login.port.isEmpty())
            result += QStringLiteral("PORT=") + braced(login.port, driver) + QLatin1Char(';');
    }
    result += QStringLiteral("UID=") + braced(login.user, driver) + QStringLiteral(";PWD=") +
              braced(login.password, driver) + QLatin1Char(';');
    if (!login.database.isEmpty())
        result += QStringLiteral("DATABASE=") + braced(login.database, driver) + QLatin1Char(';');
    // Text arrives as UTF-8 whatever the server's code page; 7.4 is the
    // protocol of every server still in service.
    if (driver == SqlServerDriver::FreeTds)
        result += QStringLiteral("ClientCharset={UTF-8};TDS_Version={7.4};");
    return result;
}

QString jetDataSource(const QString &connectionString)
{
    static const QRegularExpression field(QStringLiteral("(?:^|;)\\s*Data\\s+Source\\s*="),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = field.match(connectionString);
    if (!match.hasMatch())
        return {};
    QString path = connectionString.mid(match.capturedEnd()).trimmed();
    if (path.size() >= 2 && path.startsWith(QLatin1Char('"')) && path.endsWith(QLatin1Char('"')))
        path = path.mid(1, path.size() - 2);
    return path;
}

QString odbcConnectionStringFor(const QString &oledbString, SqlServerDriver driver)
{
    if (oledbString.startsWith(JetConnPrefix, Qt::CaseInsensitive))
        return QStringLiteral("DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=") +
               // Windows' own driver, braced as its drivers read braces.
               braced(jetDataSource(oledbString), SqlServerDriver::Windows) + QLatin1Char(';');
    return odbcConnectionString(parseSqlOledbString(oledbString), driver);
}

} // namespace fa
