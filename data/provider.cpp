#include "data/provider.h"

#include "data/app_error.h"
#include "data/odbc_provider.h"
#include "data/sqlite_provider.h"

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

} // namespace

std::unique_ptr<Provider> createDefaultProvider(const QString &connectionString)
{
    const QString name = providerName(connectionString);
    if (name.compare(QLatin1String("Microsoft.Jet.OLEDB.4.0"), Qt::CaseInsensitive) == 0) {
#ifdef Q_OS_WIN
        // Windows has the file databases' own driver.
        return std::make_unique<OdbcProvider>();
#else
        return std::make_unique<SqliteProvider>();
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
