#include "gui_fixtures.h"

#include <QWidget>

#include "app/login_window.h"
#include "data/app_error.h"
#include "data/connection.h"
#include "data/sqlite_provider.h"
#include "tools/ledger_schema.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using fa::sample::sqlText;

namespace guitest {

void FakeDialogs::message(QWidget *, const QString &text)
{
    messages << text;
}

QString FakeDialogs::openFileName(QWidget *, const QString &title, const QString &initialDirectory,
                                  const QString &filter)
{
    fileDialogs << FileDialog{title, initialDirectory, filter};
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

bool FakeDialogs::login(QWidget *owner)
{
    ++logins;
    return showLogin(owner, loginScripts.isEmpty() ? LoginScript() : loginScripts.takeFirst());
}

bool showLogin(QWidget *owner, const LoginScript &script)
{
    fa::frmLog window(owner);
    window.show();
    if (script)
        script(window);
    window.close();
    return !window.gaveUp();
}

void verify(fa::frmLog &window, const QString &server, const QString &password)
{
    window.txtServer()->setText(server);
    window.txtPassword()->setText(password);
    QTest::mouseClick(window.cmdlj(), Qt::LeftButton);
}

LoginScript verifying(const QString &server, const QString &password)
{
    return [server, password](fa::frmLog &window) { verify(window, server, password); };
}

void execOn(const QString &path, const QStringList &statements)
{
    fa::Connection conn;
    conn.Open(fa::sample::jetConnectionString(path));
    for (const QString &sql : statements)
        conn.Execute(sql);
    conn.Close();
}

SelectionFiles::SelectionFiles()
{
    QDir(root()).mkpath(QStringLiteral("system/kvsystem"));
    QDir(root()).mkpath(QStringLiteral("data"));
    platform.systemDirectoryValue = systemDirectory();
}

QString SelectionFiles::defaultSystemDb() const
{
    const QString sep = platform.separatorValue;
    return systemDirectory() + sep + QStringLiteral("kvsystem") + sep +
           QStringLiteral("kvsystem.mdb");
}

QString SelectionFiles::createSystemDb(QString path)
{
    if (path.isEmpty())
        path = defaultSystemDb();
    fa::Connection conn;
    fa::sample::createSystemDatabase(path, conn);
    conn.Close();
    return path;
}

void SelectionFiles::addAccount(const QString &id, const QString &dataPath, const QString &db)
{
    execOn(db.isEmpty() ? defaultSystemDb() : db,
           {QStringLiteral("INSERT INTO UA_Account (cAcc_Id, cAcc_Name, cAcc_Path) VALUES "
                           "(%1, 'x', %2)")
                .arg(sqlText(id), sqlText(dataPath))});
}

void SelectionFiles::addYear(const QString &id, int year, const QString &db)
{
    QStringList statements;
    for (int period = 1; period <= 12; ++period)
        statements << QStringLiteral("INSERT INTO UA_Period (cAcc_Id, iYear, iId, dBegin, dEnd) "
                                     "VALUES (%1, %2, %3, %4, %4)")
                          .arg(sqlText(id))
                          .arg(year)
                          .arg(period)
                          .arg(sqlText(fa::sample::storedDate(year, period, 1)));
    execOn(db.isEmpty() ? defaultSystemDb() : db, statements);
}

QString SelectionFiles::createAccountYearDb(const QString &id, int year, QString dataPath)
{
    if (dataPath.isEmpty())
        dataPath = this->dataPath();
    const QString folder =
        dataPath + QStringLiteral("/ZT") + id + QLatin1Char('/') + QString::number(year);
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/kvdata.mdb");
    fa::Connection conn;
    fa::sample::createAccountYearDatabase(path, conn);
    conn.Close();
    return path;
}

namespace {

QString field(const QString &connectionString, const QString &name)
{
    const QString key = name + QLatin1Char('=');
    const qsizetype at = connectionString.indexOf(key);
    if (at < 0)
        return {};
    const qsizetype from = at + key.size();
    const qsizetype end = connectionString.indexOf(QLatin1Char(';'), from);
    return connectionString.mid(from, end < 0 ? -1 : end - from);
}

class FakeServerProvider final : public fa::Provider
{
public:
    explicit FakeServerProvider(FakeServer &server) : m_server(server) {}

    void open(const QString &connectionString) override
    {
        m_server.opened << connectionString;
        if (m_server.duringOpen)
            m_server.duringOpen();
        // The password is the last field and taken whole.
        const QString marker = QStringLiteral(";Password=");
        const qsizetype at = connectionString.indexOf(marker);
        const QString password = at < 0 ? QString() : connectionString.mid(at + marker.size());
        if (password != m_server.password)
            throw fa::AppError(fa::kProviderFailure, QStringLiteral("用户 'sa' 登录失败。"));
        const QString path =
            m_server.catalogPath(field(connectionString, QStringLiteral("Initial Catalog")));
        if (!QFileInfo::exists(path))
            throw fa::AppError(fa::kProviderFailure, QStringLiteral("无法打开登录所请求的数据库"));
        m_inner.open(fa::sample::jetConnectionString(path));
    }
    void close() override { m_inner.close(); }
    bool isOpen() const override { return m_inner.isOpen(); }
    void execute(const QString &sql) override { m_inner.execute(local(sql)); }
    std::unique_ptr<fa::Cursor> query(const QString &sql) override
    {
        return m_inner.query(local(sql));
    }
    void beginTransaction() override { m_inner.beginTransaction(); }
    void commitTransaction() override { m_inner.commitTransaction(); }
    void rollbackTransaction() override { m_inner.rollbackTransaction(); }

private:
    static QString local(QString sql)
    {
        return sql.replace(QStringLiteral("master..sysdatabases"), QStringLiteral("sysdatabases"));
    }

    FakeServer &m_server;
    fa::SqliteProvider m_inner;
};

} // namespace

FakeServer::FakeServer(QString folder_, QString password_)
    : folder(std::move(folder_)), password(std::move(password_))
{
    fa::setProviderFactory(
        [this](const QString &connectionString) -> std::unique_ptr<fa::Provider> {
            if (connectionString.startsWith(QLatin1String("Provider=SQLOLEDB;")))
                return std::make_unique<FakeServerProvider>(*this);
            return fa::createDefaultProvider(connectionString);
        });
}

FakeServer::~FakeServer()
{
    fa::setProviderFactory({});
}

QString FakeServer::catalogPath(const QString &catalog) const
{
    return folder + QLatin1Char('/') + catalog + QStringLiteral(".mdb");
}

QString FakeServer::createSystemCatalog()
{
    const QString path = catalogPath(QStringLiteral("KVSYSTEM"));
    fa::Connection conn;
    fa::sample::createSystemDatabase(path, conn);
    conn.Execute(QStringLiteral("CREATE TABLE sysdatabases (name TEXT)"));
    conn.Close();
    addDatabase(QStringLiteral("KVSYSTEM"));
    return path;
}

void FakeServer::addDatabase(const QString &name)
{
    execOn(catalogPath(QStringLiteral("KVSYSTEM")),
           {QStringLiteral("INSERT INTO sysdatabases (name) VALUES (%1)").arg(sqlText(name))});
}

QList<QWidget *> focusOrder(const QList<QWidget *> &among)
{
    QList<QWidget *> chain;
    QWidget *w = among.first();
    do {
        if (among.contains(w) && !chain.contains(w))
            chain << w;
        w = w->nextInFocusChain();
    } while (w != among.first());
    return chain;
}

} // namespace guitest
