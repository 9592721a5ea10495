// The SQL Server provider without a SQL Server: the translation of the
// login window's connection string, what FreeTDS really puts on the wire
// (caught by a listener that plays the first two steps of a server's part),
// refused connections and the numbering of errors.

#include "data/app_error.h"
#include "data/conn_strings.h"
#include "data/db_state.h"
#include "data/odbc_provider.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace fa;

namespace {

QString sqlOledb(const QString &server, const QString &database, const QString &password)
{
    return QStringLiteral("Provider=SQLOLEDB;Persist Security Info=False;User ID=sa;"
                          "Initial Catalog=") +
           database + QStringLiteral(";Data Source=") + server + QStringLiteral(";Password=") +
           password;
}

// What a client put in its login packet.
struct Login
{
    QString user;
    QString password;
    QString server;
    QString database;
};

// Listens on a free local port. Each client gets an answer to its pre-login
// message that declines encryption, so that the login packet follows in
// clear; that packet is decoded and the connection dropped.
class LoginCatcher
{
public:
    LoginCatcher()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_listener, 8);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~LoginCatcher()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }

    quint16 port() const { return m_port; }
    int connections() const { return m_connections; }
    QList<Login> logins() const
    {
        std::lock_guard lock(m_mutex);
        return m_logins;
    }

private:
    void run()
    {
        while (!m_stop) {
            pollfd waiting{m_listener, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0)
                continue;
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client < 0)
                continue;
            ++m_connections;
            serve(client);
            ::close(client);
        }
    }

    static bool readExactly(int socket, char *into, int count)
    {
        while (count > 0) {
            pollfd waiting{socket, POLLIN, 0};
            if (::poll(&waiting, 1, 5000) <= 0)
                return false;
            const ssize_t got = ::recv(socket, into, count, 0);
            if (got <= 0)
                return false;
            into += got;
            count -= int(got);
        }
        return true;
    }

    // One TDS packet: type and body.
    static bool readPacket(int socket, int &type, QByteArray &body)
    {
        char header[8];
        if (!readExactly(socket, header, 8))
            return false;
        type = quint8(header[0]);
        const int length = (quint8(header[2]) << 8) | quint8(header[3]);
        if (length < 8)
            return false;
        body.resize(length - 8);
        return readExactly(socket, body.data(), int(body.size()));
    }

    void serve(int socket)
    {
        int type = 0;
        QByteArray body;
        if (!readPacket(socket, type, body) || type != 0x12)
            return;
        // Options VERSION and ENCRYPTION, then their data; encryption 2:
        // not supported.
        const char options[] = {0x00, 0, 11, 0, 6, 0x01, 0, 17, 0, 1, char(0xFF),
                                15,   0, 0,  0, 0, 0,    2};
        QByteArray reply("\x04\x01\x00\x00\x00\x00\x01\x00", 8);
        reply.append(options, sizeof options);
        reply[3] = char(reply.size());
        ::send(socket, reply.constData(), reply.size(), MSG_NOSIGNAL);
        if (!readPacket(socket, type, body) || type != 0x10 || body.size() < 36 + 9 * 4)
            return;
        const auto field = [&body](int index, bool scrambled) {
            const auto at = [&body](int offset) {
                return quint16(quint8(body[offset]) | (quint8(body[offset + 1]) << 8));
            };
            const int offset = at(36 + 4 * index);
            const int chars = at(38 + 4 * index);
            QByteArray raw = body.mid(offset, 2 * chars);
            if (scrambled) {
                for (char &c : raw) {
                    const quint8 b = quint8(c) ^ 0xA5;
                    c = char(quint8((b << 4) | (b >> 4)));
                }
            }
            return QString::fromUtf16(reinterpret_cast<const char16_t *>(raw.constData()),
                                      raw.size() / 2);
        };
        std::lock_guard lock(m_mutex);
        m_logins.append(Login{field(1, false), field(2, true), field(4, false), field(8, false)});
    }

    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    QList<Login> m_logins;
    std::thread m_thread;
};

bool anyOdbcConnectionLeft()
{
    for (const QString &name : QSqlDatabase::connectionNames()) {
        if (name.startsWith(QLatin1String("fatotal-odbc-")))
            return true;
    }
    return false;
}

} // namespace

class TestOdbcProvider : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ResetDbState();
        CreateSharedObjects();
    }
    void cleanup() { ResetDbState(); }

    void readsTheLoginWindowString_data()
    {
        QTest::addColumn<QString>("connectionString");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("password");

        QTest::newRow("plain") << sqlOledb("srv01", "KVSYSTEM", "secret") << "srv01" << ""
                               << "KVSYSTEM"
                               << "secret";
        QTest::newRow("password with separators")
            << sqlOledb("srv01", "KVSYSTEM", "a;b=c;Password=d{e}") << "srv01" << ""
            << "KVSYSTEM"
            << "a;b=c;Password=d{e}";
        QTest::newRow("password kept with its blanks")
            << sqlOledb("srv01", "KVSYSTEM", " pw ") << "srv01" << ""
            << "KVSYSTEM"
            << " pw ";
        QTest::newRow("empty password") << sqlOledb("srv01", "KVSYSTEM", "") << "srv01" << ""
                                        << "KVSYSTEM"
                                        << "";
        QTest::newRow("account-year database")
            << sqlOledb("srv01", "kvdata_001_2002", "pw") << "srv01" << ""
            << "kvdata_001_2002"
            << "pw";
        QTest::newRow("host and port") << sqlOledb("10.0.0.5,1500", "KVSYSTEM", "pw")
                                       << "10.0.0.5"
                                       << "1500"
                                       << "KVSYSTEM"
                                       << "pw";
        QTest::newRow("port wins over instance")
            << sqlOledb("srv01\\SQL2000,1433", "KVSYSTEM", "pw") << "srv01"
            << "1433"
            << "KVSYSTEM"
            << "pw";
        QTest::newRow("named instance") << sqlOledb("srv01\\SQL2000", "KVSYSTEM", "pw")
                                        << "srv01\\SQL2000"
                                        << ""
                                        << "KVSYSTEM"
                                        << "pw";
        QTest::newRow("(local)") << sqlOledb("(local)", "KVSYSTEM", "pw") << "localhost" << ""
                                 << "KVSYSTEM"
                                 << "pw";
        QTest::newRow("dot with instance") << sqlOledb(".\\SQLEXPRESS", "KVSYSTEM", "pw")
                                           << "localhost\\SQLEXPRESS"
                                           << ""
                                           << "KVSYSTEM"
                                           << "pw";
        QTest::newRow("empty server") << sqlOledb("", "KVSYSTEM", "pw") << "localhost" << ""
                                      << "KVSYSTEM"
                                      << "pw";
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

    void writesEveryValueInBraces()
    {
        const QString odbc =
            odbcConnectionString(parseSqlOledbString(sqlOledb("db1,1500", "KVSYSTEM", "x;y}")));
        QCOMPARE(odbc, QStringLiteral("DRIVER={FreeTDS};SERVER={db1};PORT={1500};UID={sa};"
                                      "PWD={x;y}};DATABASE={KVSYSTEM};"
                                      "ClientCharset={UTF-8};TDS_Version={7.4};"));
    }

    void refusesValuesFreeTdsCannotTake_data()
    {
        QTest::addColumn<QString>("connectionString");
        QTest::newRow("password with brace-semicolon") << sqlOledb("srv", "KVSYSTEM", "a};DUMPFILE={x");
        QTest::newRow("password ending in brace-semicolon") << sqlOledb("srv", "KVSYSTEM", "ab};");
        QTest::newRow("port not a number") << sqlOledb("srv,abc", "KVSYSTEM", "pw");
        QTest::newRow("port out of range") << sqlOledb("srv,70000", "KVSYSTEM", "pw");
    }
    void refusesValuesFreeTdsCannotTake()
    {
        QFETCH(QString, connectionString);
        try {
            odbcConnectionString(parseSqlOledbString(connectionString));
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
    // with the server name, and OpenConn tries three times.
    void valuesArriveIntactOnTheGivenPort()
    {
        LoginCatcher catcher;
        const QString password = QStringLiteral("p;w=d{x}}y 口令}");
        const QString server = QStringLiteral("127.0.0.1,%1").arg(catcher.port());

        QVERIFY(!OpenConn(*SysConn, sqlOledb(server, "KVSYSTEM", password)));
        QCOMPARE(SysConn->State(), adStateClosed);
        QCOMPARE(RetryCount, 3);

        QTRY_COMPARE(catcher.logins().size(), 3);
        QCOMPARE(catcher.connections(), 3);
        for (const Login &login : catcher.logins()) {
            QCOMPARE(login.user, QStringLiteral("sa"));
            QCOMPARE(login.password, password);
            QCOMPARE(login.database, QStringLiteral("KVSYSTEM"));
            QCOMPARE(login.server, QStringLiteral("127.0.0.1"));
        }
        QVERIFY(!anyOdbcConnectionLeft());
    }

    void refusedConnectionFailsFastAfterThreeTries()
    {
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!OpenConn(*SysConn, sqlOledb("127.0.0.1,1", "KVSYSTEM", "pw")));
        QVERIFY2(timer.elapsed() < 10000, "a refused connection must not wait");
        QCOMPARE(SysConn->State(), adStateClosed);
        QCOMPARE(RetryCount, 3);
        QVERIFY(!anyOdbcConnectionLeft());

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
        QVERIFY(!anyOdbcConnectionLeft());
    }

    void numbersErrorsBySqlState_data()
    {
        QTest::addColumn<QString>("sqlState");
        QTest::addColumn<qint32>("number");
        QTest::newRow("object already exists") << "42S01" << kErrorsInCommand;
        QTest::newRow("unknown table") << "42S02" << kErrorsInCommand;
        QTest::newRow("unknown column") << "42S22" << kErrorsInCommand;
        QTest::newRow("syntax") << "42000" << kErrorsInCommand;
        QTest::newRow("syntax, ODBC 2") << "37000" << kErrorsInCommand;
        QTest::newRow("table exists, ODBC 2") << "S0001" << kErrorsInCommand;
        QTest::newRow("link failure") << "08S01" << kProviderFailure;
        QTest::newRow("cannot connect") << "08001" << kProviderFailure;
        QTest::newRow("constraint") << "23000" << kProviderFailure;
        QTest::newRow("division by zero") << "22012" << kProviderFailure;
        QTest::newRow("general") << "HY000" << kProviderFailure;
        QTest::newRow("none") << "" << kProviderFailure;
    }
    void numbersErrorsBySqlState()
    {
        QFETCH(QString, sqlState);
        QFETCH(qint32, number);
        QCOMPARE(errorNumberForSqlState(sqlState), number);
    }
};

QTEST_GUILESS_MAIN(TestOdbcProvider)
#include "tst_odbc_provider.moc"
