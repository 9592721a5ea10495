#include "data/provider.h"

#include "data/app_error.h"
#include "data/conn_strings.h"
#include "data/odbc_provider.h"
#include "data/sqlite_provider.h"

#include <QDir>
#include <QFile>

namespace fa {

namespace {

ProviderFactory &injectedFactory()
{
    static ProviderFactory factory;
    return factory;
}

QString providerName(const QString &connectionString)
{
    for (const QString &field : connectionString.split(QLatin1Char(';'))) {
        const int eq = field.indexOf(QLatin1Char('='));
        if (eq > 0 &&
            field.left(eq).trimmed().compare(QLatin1String("Provider"), Qt::CaseInsensitive) == 0)
            return field.mid(eq + 1).trimmed();
    }
    return {};
}

// True for a database file of the accounting system's own engine: an .mdb
// (Jet) or .accdb (ACE) file names its engine at byte 4. A relative path is
// not looked at; the SQLite provider refuses it.
bool isJetFile(const QString &path)
{
    if (QDir::isRelativePath(path))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(20);
    return head.size() == 20 && head.startsWith(QByteArrayView("\0\1\0\0", 4)) &&
           (head.endsWith(QByteArrayView("Standard Jet DB\0", 16)) ||
            head.endsWith(QByteArrayView("Standard ACE DB\0", 16)));
}

} // namespace

std::unique_ptr<Provider> createDefaultProvider(const QString &connectionString)
{
    const QString name = providerName(connectionString);
    if (name.compare(QLatin1String("Microsoft.Jet.OLEDB.4.0"), Qt::CaseInsensitive) == 0) {
        // A file database is opened by what it is, whatever the system: an
        // SQLite file through SQLite, an Access file through the Access
        // driver, which only Windows has. Anything else goes to SQLite too,
        // which says why it is no database (missing, empty, unknown).
        const QString path = jetDataSource(connectionString);
        if (!isJetFile(path))
            return std::make_unique<SqliteProvider>();
#ifdef Q_OS_WIN
        return std::make_unique<OdbcProvider>();
#else
        throw AppError(kProviderFailure,
                       QStringLiteral("这是 Access 格式的数据库，只有在 Windows 上才能打开；"
                                      "在本系统上请使用 SQLite 格式的数据库：") +
                           path);
#endif
    }
    if (name.compare(QLatin1String("SQLOLEDB"), Qt::CaseInsensitive) == 0)
        return std::make_unique<OdbcProvider>();
    throw AppError(qint32(0x800A0E7Au), QStringLiteral("未找到提供程序。该程序可能未正确安装。"));
}

std::unique_ptr<Provider> createProvider(const QString &connectionString)
{
    if (injectedFactory())
        return injectedFactory()(connectionString);
    return createDefaultProvider(connectionString);
}

void setProviderFactory(ProviderFactory factory)
{
    injectedFactory() = std::move(factory);
}

} // namespace fa
