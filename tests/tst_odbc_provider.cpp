// The SQL Server provider without a SQL Server: the translation of the
// login window's connection string for each driver, what FreeTDS really puts
// on the wire (caught by tds-standin's listener with a session double behind
// it), refused connections and the numbering of errors. The Windows build
// talks to the stand-in through FreeTDS as well: Wine hands ODBC calls to the
// host's driver manager.

#include "data/app_error.h"
#include "data/conn_strings.h"
#include "data/db_state.h"
#include "data/odbc_provider.h"
#include "data/provider.h"
#include "tools/standin/tds_server.h"
#include "tools/standin/tds_wire.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <thread>

using namespace fa;
using standin::Answer;
using Answers = QList<Answer>;

namespace {

QString sqlOledb(const QString &server, const QString &database, const QString &password)
{
    return QStringLiteral("Provider=SQLOLEDB;Persist Security Info=False;User ID=sa;"
                          "Initial Catalog=") +
           database + QStringLiteral(";Data Source=") + server + QStringLiteral(";Password=") +
           password;
}

// A result of two columns, "id" (int) and "name" (nvarchar); a null QVariant
// stands for NULL.
Answer idsAndNames(const QList<QVariantList> &rows)
{
    Answer answer;
    answer.kind = Answer::Rows;
    answer.columns = {{"id", standin::ColumnType::Int}, {"name", standin::ColumnType::NVarChar}};
    answer.rows = rows;
    return answer;
}
Answer rowCount(qint64 count)
{
    Answer answer;
    answer.kind = Answer::Count;
    answer.count = count;
    return answer;
}
Answer sqlError(int number, const QString &message, int severity = 16)
{
    Answer answer;
    answer.kind = Answer::Error;
    answer.number = number;
    answer.severity = severity;
    answer.message = message;
    return answer;
}

// tds-standin's listener on a free local port with a session double behind
// it: each batch is answered through onBatch(), and the logins, batches,
// transaction requests and sessions that reach it are recorded. Any password
// logs in unless one is given.
class Standin
{
public:
    using Answering = std::function<Answers(const QString &batch)>;

    explicit Standin(const std::optional<QString> &password = std::nullopt)
    {
        standin::ServerSettings settings;
        settings.password = password;
        settings.loggingIn = [this](const standin::tds::LoginRequest &login) {
            std::lock_guard lock(m_mutex);
            m_logins.append(login);
        };
        settings.closed = [this](int, int batches) {
            closedBatches = batches;
            ++closed;
        };
        m_server = std::make_unique<standin::TdsServer>(
            [this] { return std::make_unique<Session>(*this); }, settings);
        QString error;
        if (!m_server->listen(0, &error))
            qFatal("%s", qPrintable(error));
    }

    QString server() const { return QStringLiteral("127.0.0.1,%1").arg(m_server->port()); }
    bool serveInstance(const QString &instance)
    {
        QString error;
        return m_server->serveInstance(instance, &error);
    }
    void onBatch(Answering answering)
    {
        std::lock_guard lock(m_mutex);
        m_answering = std::move(answering);
    }
    // Tokens that answer every batch unrecorded, for the types Answer has
    // none of.
    void onBatchTokens(const QByteArray &tokens)
    {
        std::lock_guard lock(m_mutex);
        m_tokens = tokens;
    }
    QList<standin::tds::LoginRequest> logins() const
    {
        std::lock_guard lock(m_mutex);
        return m_logins;
    }
    // Batches and transaction requests ("begin", "commit", "rollback").
    QStringList calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    int batchesContaining(const QString &text) const
    {
        return int(calls().filter(text, Qt::CaseInsensitive).size());
    }
    // Sessions whose connection has not closed yet.
    int openSessions() const { return m_open; }

    std::atomic<int> closed{0};
    std::atomic<int> closedBatches{-1}; // of the last connection closed
    std::atomic<bool> cancelled{false};

private:
    class Session : public standin::Backend
    {
    public:
        explicit Session(Standin &standin) : m_standin(standin) { ++standin.m_open; }
        ~Session() override { --m_standin.m_open; }
        bool use(const QString &catalog, int *number, QString *message) override
        {
            *number = 4060;
            *message = QStringLiteral("Cannot open database \"%1\" requested by the login. The "
                                      "login failed.")
                           .arg(catalog);
            m_catalog = catalog;
            return catalog != QLatin1String("nosuch");
        }
        QString catalog() const override { return m_catalog; }
        Answers execute(const QString &batch) override
        {
            const Answering answering = m_standin.record(batch);
            return answering ? answering(batch) : Answers();
        }
        QByteArray tokens(const QString &) override
        {
            std::lock_guard lock(m_standin.m_mutex);
            return m_standin.m_tokens;
        }
        void beginTransaction() override { setTransaction(true, "begin"); }
        void commit() override { setTransaction(false, "commit"); }
        void rollback() override { setTransaction(false, "rollback"); }
        bool inTransaction() const override { return m_inTransaction; }
        void cancel() override { m_standin.cancelled = true; }

    private:
        void setTransaction(bool in, const char *call)
        {
            m_inTransaction = in;
            m_standin.record(QLatin1String(call));
        }
        Standin &m_standin;
        QString m_catalog;
        bool m_inTransaction = false;
    };

    // Records a call; what answers a batch.
    Answering record(const QString &call)
    {
        std::lock_guard lock(m_mutex);
        m_calls.append(call);
        return m_answering;
    }

    mutable std::mutex m_mutex;
    Answering m_answering;
    QByteArray m_tokens;
    QList<standin::tds::LoginRequest> m_logins;
    QStringList m_calls;
    std::atomic<int> m_open{0};
    // Last: stopped first, while what its threads use is still there.
    std::unique_ptr<standin::TdsServer> m_server;
};

} // namespace

class TestOdbcProvider : public QObject
{
    Q_OBJECT

private slots:
    // Everything here goes through unixODBC to FreeTDS; say so plainly when
    // the machine lacks them.
    void initTestCase()
    {
        try {
            OdbcProvider(SqlServerDriver::FreeTds).open(sqlOledb("127.0.0.1,1", "KVSYSTEM", "pw"));
        } catch (const AppError &error) {
            if (error.description().contains(QLatin1String("[FreeTDS]")))
                return;
#ifdef Q_OS_WIN
            QSKIP("FreeTDS is not installed: the stand-in server speaks to FreeTDS only, which "
                  "a Windows program reaches under Wine through the host's unixODBC");
#endif
            QFAIL(qPrintable(QStringLiteral("FreeTDS is not registered with unixODBC (%1); "
                                            "odbcinst -i -d -f /usr/share/tdsodbc/odbcinst.ini")
                                 .arg(error.description())));
        }
    }

    // The stand-in plays a server for FreeTDS, whichever driver the system
    // would choose.
    void init()
    {
        ResetDbState();
        CreateSharedObjects();
        setProviderFactory([](const QString &connectionString) -> std::unique_ptr<Provider> {
            if (connectionString.startsWith(QLatin1String("Provider=SQLOLEDB")))
                return std::make_unique<OdbcProvider>(SqlServerDriver::FreeTds);
            return createDefaultProvider(connectionString);
        });
    }
    void cleanup()
    {
        ResetDbState();
        setProviderFactory({});
    }

    void readsTheLoginWindowString_data()
    {
        QTest::addColumn<QString>("connectionString");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("password");

        const auto add = [](const char *name, const QString &server, const char *database,
                            const QString &password, const QString &host, const char *port) {
            QTest::newRow(name) << sqlOledb(server, QString::fromLatin1(database), password) << host
                                << QString::fromLatin1(port) << QString::fromLatin1(database)
                                << password;
        };
        add("plain", "srv01", "KVSYSTEM", "secret", "srv01", "");
        add("password with separators", "srv01", "KVSYSTEM", "a;b=c;Password=d{e}", "srv01", "");
        add("password kept with its blanks", "srv01", "KVSYSTEM", " pw ", "srv01", "");
        add("empty password", "srv01", "KVSYSTEM", "", "srv01", "");
        add("account-year database", "srv01", "kvdata_001_2002", "pw", "srv01", "");
        add("host and port", "10.0.0.5,1500", "KVSYSTEM", "pw", "10.0.0.5", "1500");
        add("port wins over instance", "srv01\\SQL2000,1433", "KVSYSTEM", "pw", "srv01", "1433");
        add("named instance", "srv01\\SQL2000", "KVSYSTEM", "pw", "srv01\\SQL2000", "");
        add("(local)", "(local)", "KVSYSTEM", "pw", "localhost", "");
        add("dot with instance", ".\\SQLEXPRESS", "KVSYSTEM", "pw", "localhost\\SQLEXPRESS", "");
        add("empty server", "", "KVSYSTEM", "pw", "localhost", "");
    }
    void readsTheLoginWindowString()
    {
        QFETCH(QString, connectionString);
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, database);
        QFETCH(QString, password);
        const SqlServerLogin login = parseSqlOledbString(connectionString);
        QCOMPARE(login.host, host);
        QCOMPARE(login.port, port);
        QCOMPARE(login.database, database);
        QCOMPARE(login.user, QStringLiteral("sa"));
        QCOMPARE(login.password, password);
    }

    // Every value in braces, as each driver reads braces back; the port
    // where each driver looks for it. An empty expectation: refused.
    void writesEveryValueInBraces_data()
    {
        QTest::addColumn<SqlServerDriver>("driver");
        QTest::addColumn<QString>("connectionString");
        QTest::addColumn<QString>("odbc");
        const auto freeTds = [](const char *name, const QString &server, const QString &password,
                                const QString &fields) {
            QTest::newRow(qPrintable(QStringLiteral("FreeTDS, ") + QLatin1String(name)))
                << SqlServerDriver::FreeTds << sqlOledb(server, "KVSYSTEM", password)
                << (fields.isEmpty() ? fields
                                     : QStringLiteral("DRIVER={FreeTDS};") + fields +
                                           QStringLiteral("DATABASE={KVSYSTEM};ClientCharset={"
                                                          "UTF-8};TDS_Version={7.4};"));
        };
        const auto windows = [](const char *name, const QString &server, const QString &password,
                                const QString &fields) {
            QTest::newRow(qPrintable(QStringLiteral("Windows, ") + QLatin1String(name)))
                << SqlServerDriver::Windows << sqlOledb(server, "KVSYSTEM", password)
                << (fields.isEmpty() ? fields
                                     : QStringLiteral("DRIVER={SQL Server};") + fields +
                                           QStringLiteral("DATABASE={KVSYSTEM};"));
        };
        freeTds("port apart", "db1,1500", "x;y}", "SERVER={db1};PORT={1500};UID={sa};PWD={x;y}};");
        windows("port with the server", "db1,1500", "x;y}",
                "SERVER={db1,1500};UID={sa};PWD={x;y}}};");
        freeTds("separators and blanks", "db1", " a;b=c d ",
                "SERVER={db1};UID={sa};PWD={ a;b=c d };");
        windows("separators and blanks", "db1", " a;b=c d ",
                "SERVER={db1};UID={sa};PWD={ a;b=c d };");
        freeTds("brace-semicolon", "db1", "a};DUMPFILE={x", "");
        windows("brace-semicolon", "db1", "a};DUMPFILE={x",
                "SERVER={db1};UID={sa};PWD={a}};DUMPFILE={x};");
        windows("braces and instance", "(local)\\SQL2000", "}{}=;",
                "SERVER={localhost\\SQL2000};UID={sa};PWD={}}{}}=;};");
        const QString nul = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
        freeTds("NUL", "db1", nul, "");
        windows("NUL", "db1", nul, "");
    }
    void writesEveryValueInBraces()
    {
        QFETCH(SqlServerDriver, driver);
        QFETCH(QString, connectionString);
        QFETCH(QString, odbc);
        QString written;
        try {
            written = odbcConnectionString(parseSqlOledbString(connectionString), driver);
        } catch (const AppError &error) {
            QCOMPARE(error.number(), kProviderFailure);
        }
        QCOMPARE(written, odbc);
    }

    void refusesValuesFreeTdsCannotTake_data()
    {
        QTest::addColumn<QString>("connectionString");
        QTest::newRow("password with brace-semicolon")
            << sqlOledb("srv", "KVSYSTEM", "a};DUMPFILE={x");
        QTest::newRow("password ending in brace-semicolon") << sqlOledb("srv", "KVSYSTEM", "ab};");
        QTest::newRow("port not a number") << sqlOledb("srv,abc", "KVSYSTEM", "pw");
        QTest::newRow("port out of range") << sqlOledb("srv,70000", "KVSYSTEM", "pw");
        QTest::newRow("catalog with a semicolon") << sqlOledb("srv", "kvdata_a;b_2026", "pw");
        QTest::newRow("server naming another catalog")
            << sqlOledb("srv;Initial Catalog=master", "KVSYSTEM", "pw");
    }
    void refusesValuesFreeTdsCannotTake()
    {
        QFETCH(QString, connectionString);
        try {
            odbcConnectionString(parseSqlOledbString(connectionString), SqlServerDriver::FreeTds);
            QFAIL("accepted");
        } catch (const AppError &error) {
            QCOMPARE(error.number(), kProviderFailure);
            QVERIFY(!error.description().isEmpty());
        }
        // Through OpenConn: refused before anything is sent, three times.
        QVERIFY(!OpenConn(*SysConn, connectionString));
        QCOMPARE(RetryCount, 3);
    }

    // The values arrive at the server exactly as typed, on the port given
    // with the server name, and OpenConn tries three times when the server
    // refuses the login.
    void valuesArriveIntactOnTheGivenPort()
    {
        Standin catcher(QStringLiteral("another password"));
        const QString password = QStringLiteral("p;w=d{x}}y 口令}");

        QVERIFY(!OpenConn(*SysConn, sqlOledb(catcher.server(), "KVSYSTEM", password)));
        QCOMPARE(SysConn->State(), adStateClosed);
        QCOMPARE(RetryCount, 3);

        QTRY_COMPARE(catcher.closed, 3);
        QCOMPARE(catcher.logins().size(), 3);
        for (const standin::tds::LoginRequest &login : catcher.logins()) {
            QCOMPARE(login.user, QStringLiteral("sa"));
            QCOMPARE(login.password, password);
            QCOMPARE(login.database, QStringLiteral("KVSYSTEM"));
            QCOMPARE(login.server, QStringLiteral("127.0.0.1"));
        }
    }

    // Server names, databases and passwords holding ".dsn" (once taken for a
    // file DSN) log in like any other: "%1" stands for the stand-in's
    // "127.0.0.1,port"; a named instance is found through the Browser, which
    // answers for that name only.
    void dsnInNamesLogsIn_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("password");
        QTest::newRow("password") << QStringLiteral("%1") << QStringLiteral("my.dsn");
        QTest::newRow("server") << QStringLiteral("127.0.0.1\\DB.DSNET") << QStringLiteral("pw");
    }
    void dsnInNamesLogsIn()
    {
        QFETCH(QString, server);
        QFETCH(QString, password);
        const QString database = QStringLiteral("fa.dsn");
        Standin fake;
        const QString instance = server.section(QLatin1Char('\\'), 1);
        if (!instance.isEmpty() && !fake.serveInstance(instance))
            QSKIP("UDP port 1434 is taken on this machine");

        QVERIFY(OpenConn(*SysConn, sqlOledb(server.replace(QLatin1String("%1"), fake.server()),
                                            database, password)));
        QCOMPARE(fake.logins().size(), 1);
        QCOMPARE(fake.logins().first().database, database);
        QCOMPARE(fake.logins().first().password, password);
    }

    void refusedConnectionFailsFastAfterThreeTries()
    {
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!OpenConn(*SysConn, sqlOledb("127.0.0.1,1", "KVSYSTEM", "pw")));
        QVERIFY2(timer.elapsed() < 10000, "a refused connection must not wait");
        QCOMPARE(SysConn->State(), adStateClosed);
        QCOMPARE(RetryCount, 3);

        // The provider's own report: a provider failure with the driver's text.
        Connection conn;
        try {
            conn.Open(sqlOledb("127.0.0.1,1", "KVSYSTEM", "pw"));
            QFAIL("opened");
        } catch (const AppError &error) {
            QCOMPARE(error.number(), kProviderFailure);
            QVERIFY(!error.description().isEmpty());
        }
        QCOMPARE(conn.State(), adStateClosed);
    }

    // A driver this computer lacks is named, before the driver manager's words.
    void missingDriverIsNamed()
    {
        try {
            OdbcProvider(SqlServerDriver::Windows)
                .open(JetConnPrefix + QStringLiteral("C:\\k.mdb"));
            QFAIL("opened without an Access driver");
        } catch (const AppError &error) {
            QVERIFY(error.description().startsWith(
                QStringLiteral("这台电脑没有装 ODBC 驱动程序“Microsoft Access Driver (*.mdb, "
                               "*.accdb)”（64 位）。\n")));
        }
    }

    // The server's errors arrive with the provider's number, chosen by the
    // SQLSTATE the driver gives them, and with the server's own text.
    void statementErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("serverError");
        QTest::addColumn<QString>("message");
        QTest::addColumn<qint32>("number");
        QTest::newRow("table exists")
            << "create table fq (a int)" << 2714
            << QStringLiteral("数据库中已存在名为 'fq' 的对象。") << kErrorsInCommand;
        QTest::newRow("unknown table")
            << "delete from nosuch" << 208 << QStringLiteral("对象名 'nosuch' 无效。")
            << kErrorsInCommand;
        QTest::newRow("syntax") << "delet from fq" << 102
                                << QStringLiteral("'delet' 附近有语法错误。") << kErrorsInCommand;
        QTest::newRow("division by zero")
            << "update fq set a=1/0" << 8134 << QStringLiteral("遇到以零作除数错误。")
            << kProviderFailure;
    }
    void statementErrors()
    {
        QFETCH(QString, sql);
        QFETCH(int, serverError);
        QFETCH(QString, message);
        QFETCH(qint32, number);
        Standin server;
        server.onBatch([&](const QString &text) {
            return text == sql ? Answers{sqlError(serverError, message)} : Answers();
        });
        QVERIFY(OpenConn(*AccConn, sqlOledb(server.server(), "kvdata_001_2002", "pw")));
        try {
            AccConn->Execute(sql);
            QFAIL("executed");
        } catch (const AppError &error) {
            QCOMPARE(error.number(), number);
            QCOMPARE(error.description(), message);
        }
        // The connection goes on serving.
        AccConn->Execute(QStringLiteral("delete from fq"));
        QCOMPARE(server.batchesContaining(QStringLiteral("delete from fq")), 1);
    }

    void rowsArriveInOrderWithNulls()
    {
        Standin server;
        server.onBatch([](const QString &) {
            return Answers{
                idsAndNames({{1, QStringLiteral("固定资产")}, {QVariant(), "b"}, {3, QVariant()}})};
        });
        QVERIFY(OpenConn(*SysConn, sqlOledb(server.server(), "KVSYSTEM", "pw")));
        const QString sql = QStringLiteral("select id, name from t where name <> N'资产'");
        QVERIFY(RunSql(*WorkRs, sql, *SysConn));
        QCOMPARE(server.calls().filter(sql).size(), 1);
        QCOMPARE(WorkRs->Fields(QStringLiteral("id")).toInt(), 1);
        QCOMPARE(WorkRs->Fields(QStringLiteral("name")).toString(), QStringLiteral("固定资产"));
        WorkRs->MoveNext();
        QVERIFY(WorkRs->Fields(0).isNull());
        QCOMPARE(WorkRs->Fields(1).toString(), QStringLiteral("b"));
        WorkRs->MoveNext();
        QCOMPARE(WorkRs->Fields(0).toInt(), 3);
        QVERIFY(WorkRs->Fields(1).isNull());
        WorkRs->MoveNext();
        QVERIFY(WorkRs->Eof());
    }

    // Types as a SQL Server sends them (little-endian hex), money, decimal
    // and varchar among them, which Answer cannot name: numbers and dates
    // arrive as numbers and dates, text in the server's code page as Unicode.
    void valuesOfEachType_data()
    {
        QTest::addColumn<QByteArray>("typeInfo");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QVariant>("expected");
        // Ten-thousandths, the high half first.
        QTest::newRow("money") << QByteArray("6e 08") << QByteArray("08 00000000 3ae20100")
                               << QVariant(12.345);
        // Sign 0: negative.
        QTest::newRow("decimal(18,2)")
            << QByteArray("6a 09 12 02") << QByteArray("09 00 87d61200 00000000")
            << QVariant(-12345.67);
        // Day 37405 since 1900, 9180150/300 s since midnight.
        QTest::newRow("datetime") << QByteArray("6f 08") << QByteArray("08 1d920000 f6138c00")
                                  << QVariant(QDateTime(QDate(2002, 5, 31), QTime(8, 30, 0, 500)));
        // Chinese_PRC_CI_AS: GBK.
        QTest::newRow("varchar in GBK")
            << QByteArray("a7 3200 0408d00034") << QByteArray("0400 b9ccb6a8")
            << QVariant(QStringLiteral("固定"));
    }
    void valuesOfEachType()
    {
        QFETCH(QByteArray, typeInfo);
        QFETCH(QByteArray, data);
        QFETCH(QVariant, expected);
        Standin server;
        // One nullable column "v" and one row.
        server.onBatchTokens(
            QByteArray::fromHex("81 0100 00000000 0900" + typeInfo + "01 7600 d1" + data) +
            standin::tds::done(standin::tds::DoneCount, 1));
        QVERIFY(OpenConn(*SysConn, sqlOledb(server.server(), "KVSYSTEM", "pw")));
        QVERIFY(RunSql(*WorkRs, QStringLiteral("select v from t"), *SysConn));
        QCOMPARE(WorkRs->Fields(0), expected);
    }

    // A query text that returns no rows has run once and leaves the
    // recordset closed; a query the server refuses is tried three times.
    void runSqlOnTheServer()
    {
        Standin server;
        server.onBatch([](const QString &sql) {
            return Answers{sql.contains(QLatin1String("nosuch"))
                               ? sqlError(208, QStringLiteral("对象名 'nosuch' 无效。"))
                               : rowCount(5)};
        });
        QVERIFY(OpenConn(*AccConn, sqlOledb(server.server(), "kvdata_001_2002", "pw")));
        QVERIFY(!RunSql(*WorkRs, QStringLiteral("select * into fq from fa_Cards"), *AccConn));
        QCOMPARE(WorkRs->State(), adStateClosed);
        QCOMPARE(server.batchesContaining(QStringLiteral("into fq")), 1);

        RetryCount = 0;
        QVERIFY(!RunSql(*WorkRs, QStringLiteral("select * from nosuch"), *AccConn));
        QCOMPARE(server.batchesContaining(QStringLiteral("nosuch")), 3);
        QCOMPARE(RetryCount, 0);

        // A row count ahead of the rows is no empty answer.
        server.onBatch([](const QString &) {
            return Answers{rowCount(1), idsAndNames({{7, "x"}})};
        });
        QVERIFY(RunSql(*WorkRs, QStringLiteral("update t set a = 1; select id, name from t"),
                       *AccConn));
        QCOMPARE(WorkRs->Fields(0).toInt(), 7);
    }

    // FreeTDS serves one result at a time: a statement sent while a result
    // is half read must neither fail nor cut the result short.
    void statementWhileAResultIsBeingRead()
    {
        Standin server;
        server.onBatch([](const QString &sql) {
            return Answers{sql.startsWith(QLatin1String("select"))
                               ? idsAndNames({{1, "a"}, {2, "b"}, {3, "c"}})
                               : rowCount(1)};
        });
        QVERIFY(OpenConn(*AccConn, sqlOledb(server.server(), "kvdata_001_2002", "pw")));
        QVERIFY(RunSql(*WorkRs, QStringLiteral("select id, name from fq"), *AccConn));
        QCOMPARE(WorkRs->Fields(0).toInt(), 1);

        AccConn->Execute(QStringLiteral("delete from fqsum"));
        QCOMPARE(server.batchesContaining(QStringLiteral("delete from fqsum")), 1);

        WorkRs->MoveNext();
        QCOMPARE(WorkRs->Fields(0).toInt(), 2);
        WorkRs->MoveNext();
        QCOMPARE(WorkRs->Fields(1).toString(), QStringLiteral("c"));
        WorkRs->MoveNext();
        QVERIFY(WorkRs->Eof());
    }

    // Closing the connection under an open result ends the result; nothing
    // of the old connection stays behind.
    void closingUnderAnOpenResult()
    {
        Standin server;
        server.onBatch([](const QString &) { return Answers{idsAndNames({{1, "a"}, {2, "b"}})}; });
        const QString connStr = sqlOledb(server.server(), "KVSYSTEM", "pw");
        QVERIFY(OpenConn(*SysConn, connStr));
        QVERIFY(RunSql(*WorkRs, QStringLiteral("select id, name from ua_period"), *SysConn));
        SysConn->Close();
        QTRY_COMPARE(server.openSessions(), 0);
        WorkRs->MoveNext();
        QVERIFY(WorkRs->Eof());

        QVERIFY(OpenConn(*SysConn, connStr));
        QVERIFY(RunSql(*WorkRs, QStringLiteral("select id, name from ua_period"), *SysConn));
        QCOMPARE(WorkRs->Fields(0).toInt(), 1);
        ReleaseSharedObjects();
        QTRY_COMPARE(server.openSessions(), 0);
    }

    void numbersErrorsBySqlState_data()
    {
        QTest::addColumn<QString>("sqlState");
        QTest::addColumn<qint32>("number");
        const auto add = [](const char *name, const char *state, qint32 number) {
            QTest::newRow(name) << QString::fromLatin1(state) << number;
        };
        add("object already exists", "42S01", kErrorsInCommand);
        add("unknown table", "42S02", kErrorsInCommand);
        add("syntax", "42000", kErrorsInCommand);
        add("syntax, ODBC 2", "37000", kErrorsInCommand);
        add("table exists, ODBC 2", "S0001", kErrorsInCommand);
        add("link failure", "08S01", kProviderFailure);
        add("constraint", "23000", kProviderFailure);
        add("general", "HY000", kProviderFailure);
    }
    void numbersErrorsBySqlState()
    {
        QFETCH(QString, sqlState);
        QFETCH(qint32, number);
        QCOMPARE(errorNumberForSqlState(sqlState), number);
    }

    // tds-standin's own answers to a login.
    void standinLogin_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("catalog");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("sa with its password") << "pw"
                                              << "KVSYSTEM" << QString();
        QTest::newRow("wrong password") << "px"
                                        << "KVSYSTEM"
                                        << "Login failed for user 'sa'.";
        QTest::newRow("catalog not served")
            << "pw"
            << "nosuch"
            << "Cannot open database \"nosuch\" requested by the login.";
    }
    void standinLogin()
    {
        QFETCH(QString, password);
        QFETCH(QString, catalog);
        QFETCH(QString, refusal);
        Standin server(QStringLiteral("pw"));
        Connection conn;
        try {
            conn.Open(sqlOledb(server.server(), catalog, password));
            QVERIFY2(refusal.isEmpty(), "logged in");
        } catch (const AppError &error) {
            QVERIFY2(!refusal.isEmpty() && error.description().contains(refusal),
                     qPrintable(error.description()));
        }
    }

    // Each type with its NULL, a count, an error, transactions and an
    // attention, on one connection; the batches are counted at its end.
    void standinAnswers()
    {
        using Type = standin::ColumnType;
        Answer types;
        types.kind = Answer::Rows;
        types.columns = {{"i", Type::Int},      {"b", Type::BigInt},   {"f", Type::Float},
                         {"t", Type::NVarChar}, {"m", Type::NVarChar}, {"d", Type::DateTime},
                         {"x", Type::Bit}};
        types.rows = {{42, 9000000000LL, 2.5, QStringLiteral("固定资产"),
                       QString(5000, QChar(0x957F)),
                       QDateTime(QDate(2026, 12, 8), QTime(8, 30, 0, 500)), true},
                      QVariantList(7)};
        std::atomic<bool> running{false};
        Standin server;
        server.onBatch([&](const QString &batch) {
            if (batch == QLatin1String("select types"))
                return Answers{types};
            if (batch == QLatin1String("delete from nosuch"))
                return Answers{sqlError(208, QStringLiteral("对象名 'nosuch' 无效。"))};
            if (batch == QLatin1String("wait")) {
                running = true;
                for (int i = 0; i < 1000 && !server.cancelled; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                return Answers{sqlError(3617, QString(), 25)};
            }
            return Answers{rowCount(3)};
        });
        {
            Connection conn;
            conn.Open(sqlOledb(server.server(), "kvdata_001_2026", "pw"));
            Recordset rs;
            rs.Open(QStringLiteral("select types"), conn);
            QCOMPARE(rs.Fields(0).toInt(), 42);
            QCOMPARE(rs.Fields(1).toLongLong(), 9000000000LL);
            QCOMPARE(rs.Fields(2).toDouble(), 2.5);
            QCOMPARE(rs.Fields(3).toString(), QStringLiteral("固定资产"));
            QCOMPARE(rs.Fields(4).toString(), QString(5000, QChar(0x957F)));
            QCOMPARE(rs.Fields(5).toDateTime(),
                     QDateTime(QDate(2026, 12, 8), QTime(8, 30, 0, 500)));
            QCOMPARE(rs.Fields(6).toBool(), true);
            rs.MoveNext();
            for (int i = 0; i < 7; ++i)
                QVERIFY2(rs.Fields(i).isNull(), qPrintable(rs.FieldName(i)));
            rs.Close();

            conn.Execute(QStringLiteral("delete from fq"));
            try {
                conn.Execute(QStringLiteral("delete from nosuch"));
                QFAIL("executed");
            } catch (const AppError &error) {
                QCOMPARE(error.description(), QStringLiteral("对象名 'nosuch' 无效。"));
            }

            conn.BeginTrans();
            conn.Execute(QStringLiteral("delete from fq"));
            conn.CommitTrans();
            conn.BeginTrans();
            conn.RollbackTrans();

            std::atomic<bool> stopped{false};
            std::thread waiting([&] {
                try {
                    conn.Execute(QStringLiteral("wait"));
                } catch (const AppError &) {
                    stopped = true;
                }
            });
            QTRY_VERIFY(running);
            conn.Interrupt();
            waiting.join();
            QVERIFY(stopped);
            QVERIFY(server.cancelled);
            conn.Execute(QStringLiteral("delete from fq"));
        }
        QTRY_COMPARE(server.closedBatches, 6);
        const QStringList calls = server.calls();
        QCOMPARE(calls.mid(3, 3), QStringList({"begin", "delete from fq", "commit"}));
        QVERIFY(calls.mid(6).contains(QLatin1String("rollback")));
    }
};

QTEST_GUILESS_MAIN(TestOdbcProvider)
#include "tst_odbc_provider.moc"
