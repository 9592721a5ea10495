// The SQL Server provider without a SQL Server: the translation of the
// login window's connection string for each driver, what FreeTDS really puts
// on the wire (caught by a listener that plays the first two steps of a
// server's part), refused connections and the numbering of errors. The
// Windows build talks to the stand-in through FreeTDS as well: Wine hands
// ODBC calls to the host's driver manager.

#include "data/app_error.h"
#include "data/conn_strings.h"
#include "data/db_state.h"
#include "data/odbc_provider.h"
#include "data/provider.h"
#include "tools/standin/tds_server.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <thread>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace fa;

namespace {

// The few socket calls that Winsock names otherwise.
#ifdef Q_OS_WIN
constexpr int MSG_NOSIGNAL = 0; // Winsock raises no signal
int closeSocket(int socket)
{
    return ::closesocket(SOCKET(socket));
}
// Waits up to `timeoutMs` for input on a socket; > 0 when there is some.
int waitForInput(int socket, int timeoutMs)
{
    pollfd waiting{SOCKET(socket), POLLIN, 0};
    return ::WSAPoll(&waiting, 1, timeoutMs);
}
#else
int closeSocket(int socket)
{
    return ::close(socket);
}
int waitForInput(int socket, int timeoutMs)
{
    pollfd waiting{socket, POLLIN, 0};
    return ::poll(&waiting, 1, timeoutMs);
}
#endif

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

// Pieces of the server's answers (TDS 7.4 tokens).
namespace tds {

QByteArray le16(quint16 v)
{
    QByteArray bytes(2, 0);
    bytes[0] = char(v & 0xFF);
    bytes[1] = char(v >> 8);
    return bytes;
}
QByteArray le32(quint32 v)
{
    return le16(quint16(v & 0xFFFF)) + le16(quint16(v >> 16));
}
QByteArray ucs2(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}
// Text with a one-byte length in characters.
QByteArray bText(const QString &text)
{
    return char(text.size()) + ucs2(text);
}

enum : quint16 { DoneMore = 0x1, DoneError = 0x2, DoneCount = 0x10, DoneAttention = 0x20 };

QByteArray done(quint16 status = 0, quint32 rows = 0)
{
    return QByteArray(1, char(0xFD)) + le16(status) + le16(0xC1) + le32(rows) + le32(0);
}

QByteArray error(quint32 number, const QString &message)
{
    const QByteArray body = le32(number) + char(1) + char(16) + le16(quint16(message.size())) +
                            ucs2(message) + bText(QStringLiteral("srv")) + bText(QString()) +
                            le32(1);
    return char(0xAA) + le16(quint16(body.size())) + body + done(DoneError);
}

// A result of two nullable columns, "id" (int) and "name" (nvarchar); a null
// QVariant stands for NULL.
QByteArray rows(const QList<std::pair<QVariant, QVariant>> &values)
{
    QByteArray out(1, char(0x81));
    out += le16(2);
    out += le32(0) + le16(1) + char(0x26) + char(4) + bText(QStringLiteral("id"));
    out += le32(0) + le16(1) + char(0xE7) + le16(200) + QByteArray("\x04\x08\xD0\x00\x34", 5) +
           bText(QStringLiteral("name"));
    for (const auto &[id, name] : values) {
        out += char(0xD1);
        out += id.isNull() ? QByteArray(1, 0) : char(4) + le32(quint32(id.toInt()));
        out += name.isNull() ? le16(0xFFFF)
                             : le16(quint16(name.toString().size() * 2)) + ucs2(name.toString());
    }
    return out + done(DoneCount, quint32(values.size()));
}

// A result of one column "v" of the given type with one value.
QByteArray value(const QByteArray &typeInfo, const QByteArray &data)
{
    return char(0x81) + le16(1) + le32(0) + le16(1) + typeInfo + bText(QStringLiteral("v")) +
           char(0xD1) + data + done(DoneCount, 1);
}

} // namespace tds

// A stand-in for SQL Server on a free local port, enough for FreeTDS: it
// declines encryption, so that the login packet comes in clear, and records
// it. With logins accepted it answers every batch through `answer`; else it
// drops the connection after the login packet, as a server that refuses it.
// It can also play the SQL Server Browser, which tells a client the port of
// a named instance.
class FakeServer
{
public:
    explicit FakeServer(bool acceptLogins) : m_acceptLogins(acceptLogins)
    {
#ifdef Q_OS_WIN
        WSADATA winsock;
        WSAStartup(MAKEWORD(2, 2), &winsock);
#endif
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_listener, 8);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_listenThread = std::thread([this] { listen(); });
    }
    ~FakeServer()
    {
        m_stop = true;
        m_listenThread.join();
        for (std::thread &thread : m_threads)
            thread.join();
        closeSocket(m_listener);
        if (m_browserThread.joinable())
            m_browserThread.join();
        if (m_browser >= 0)
            closeSocket(m_browser);
    }

    // Answers the Browser's question for `instance` (on UDP port 1434 of the
    // loopback address) with this server's port; false when that port is taken.
    bool serveInstance(const QString &instance)
    {
        m_browser = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(1434);
        if (::bind(m_browser, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return false;
        const QByteArray info = QStringLiteral("ServerName;fake;InstanceName;%1;IsClustered;No;"
                                               "Version;16.0.1000.6;tcp;%2;;")
                                    .arg(instance)
                                    .arg(m_port)
                                    .toUtf8();
        const QByteArray answer = char(5) + tds::le16(quint16(info.size())) + info;
        m_browserThread = std::thread([this, answer] {
            while (!m_stop) {
                if (waitForInput(m_browser, 50) <= 0)
                    continue;
                char request[512];
                sockaddr_in from{};
                socklen_t length = sizeof from;
                const ssize_t got = ::recvfrom(m_browser, request, sizeof request, 0,
                                               reinterpret_cast<sockaddr *>(&from), &length);
                if (got < 2 || request[0] != 4)
                    continue;
                {
                    std::lock_guard lock(m_mutex);
                    // The name comes with its terminating NUL.
                    m_instancesAsked.append(QString::fromUtf8(request + 1, got - 2));
                }
                ::sendto(m_browser, answer.constData(), size_t(answer.size()), 0,
                         reinterpret_cast<sockaddr *>(&from), length);
            }
        });
        return true;
    }
    QStringList instancesAsked() const
    {
        std::lock_guard lock(m_mutex);
        return m_instancesAsked;
    }

    // The answer to a batch; by default a plain "done".
    std::function<QByteArray(const QString &sql)> answer = [](const QString &) {
        return tds::done();
    };

    QString server() const
    {
        return QStringLiteral("127.0.0.1,%1").arg(m_port);
    }
    int connections() const
    {
        return m_connections;
    }
    // Connections the client has not closed yet.
    int openConnections() const
    {
        return m_open;
    }
    QList<Login> logins() const
    {
        std::lock_guard lock(m_mutex);
        return m_logins;
    }
    QStringList batches() const
    {
        std::lock_guard lock(m_mutex);
        return m_batches;
    }
    int batchesContaining(const QString &text) const
    {
        return int(batches().filter(text, Qt::CaseInsensitive).size());
    }

private:
    void listen()
    {
        while (!m_stop) {
            if (waitForInput(m_listener, 50) <= 0)
                continue;
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client < 0)
                continue;
            ++m_connections;
            ++m_open;
            std::lock_guard lock(m_mutex);
            m_threads.emplace_back([this, client] {
                serve(client);
                closeSocket(client);
                --m_open;
            });
        }
    }

    // Waits for input while the server runs; false when the client left or
    // the server stops.
    bool readExactly(int socket, char *into, qsizetype count)
    {
        while (count > 0) {
            const int ready = waitForInput(socket, 50);
            if (m_stop)
                return false;
            if (ready <= 0)
                continue;
            const ssize_t got = ::recv(socket, into, size_t(count), 0);
            if (got <= 0)
                return false;
            into += got;
            count -= got;
        }
        return true;
    }

    // One message, which may span several packets.
    bool readMessage(int socket, int &type, QByteArray &body)
    {
        body.clear();
        for (;;) {
            char header[8];
            if (!readExactly(socket, header, 8))
                return false;
            type = quint8(header[0]);
            const int length = (quint8(header[2]) << 8) | quint8(header[3]);
            if (length < 8)
                return false;
            QByteArray part(length - 8, 0);
            if (!readExactly(socket, part.data(), part.size()))
                return false;
            body += part;
            if (header[1] & 1)
                return true;
        }
    }

    static void send(int socket, const QByteArray &tokens)
    {
        QByteArray packet("\x04\x01\x00\x00\x00\x00\x01\x00", 8);
        packet += tokens;
        packet[2] = char(packet.size() >> 8);
        packet[3] = char(packet.size() & 0xFF);
        ::send(socket, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL);
    }

    static QString loginField(const QByteArray &body, int index, bool scrambled)
    {
        const auto at = [&body](int offset) {
            return quint16(quint8(body[offset]) | (quint8(body[offset + 1]) << 8));
        };
        QByteArray raw = body.mid(at(36 + 4 * index), 2 * at(38 + 4 * index));
        if (scrambled) {
            for (char &c : raw) {
                const quint8 b = quint8(c) ^ 0xA5;
                c = char(quint8((b << 4) | (b >> 4)));
            }
        }
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(raw.constData()),
                                  raw.size() / 2);
    }

    void serve(int socket)
    {
        int type = 0;
        QByteArray body;
        if (!readMessage(socket, type, body) || type != 0x12)
            return;
        // Options VERSION and ENCRYPTION, then their data; encryption 2:
        // not supported.
        send(socket, QByteArray("\x00\x00\x0B\x00\x06\x01\x00\x11\x00\x01\xFF"
                                "\x0F\x00\x07\xD0\x00\x00\x02",
                                18));
        if (!readMessage(socket, type, body) || type != 0x10 || body.size() < 36 + 9 * 4)
            return;
        {
            std::lock_guard lock(m_mutex);
            m_logins.append(Login{loginField(body, 1, false), loginField(body, 2, true),
                                  loginField(body, 4, false), loginField(body, 8, false)});
        }
        if (!m_acceptLogins)
            return;
        const QByteArray ack = char(1) + QByteArray("\x74\x00\x00\x04", 4) +
                               tds::bText(QStringLiteral("Fake")) + tds::le32(0x0F);
        const QByteArray database =
            char(1) + tds::bText(loginField(body, 8, false)) + tds::bText(QStringLiteral("master"));
        send(socket, char(0xAD) + tds::le16(quint16(ack.size())) + ack + char(0xE3) +
                         tds::le16(quint16(database.size())) + database + tds::done());
        while (readMessage(socket, type, body)) {
            if (type == 0x06) { // attention: the client cancels
                send(socket, tds::done(tds::DoneAttention));
                continue;
            }
            QString sql;
            if (type == 0x01 && body.size() >= 4) {
                // ALL_HEADERS first, led by its own length.
                const int headers = quint8(body[0]) | (quint8(body[1]) << 8);
                const QByteArray text = body.mid(headers);
                sql = QString::fromUtf16(reinterpret_cast<const char16_t *>(text.constData()),
                                         text.size() / 2);
            }
            {
                std::lock_guard lock(m_mutex);
                m_batches.append(sql);
            }
            send(socket, answer(sql));
        }
    }

    bool m_acceptLogins;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_open{0};
    int m_browser = -1;
    std::thread m_browserThread;
    QStringList m_instancesAsked;
    mutable std::mutex m_mutex;
    QList<Login> m_logins;
    QStringList m_batches;
    std::thread m_listenThread;
    std::vector<std::thread> m_threads;
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
    // with the server name, and OpenConn tries three times.
    void valuesArriveIntactOnTheGivenPort()
    {
        FakeServer catcher(false);
        const QString password = QStringLiteral("p;w=d{x}}y 口令}");

        QVERIFY(!OpenConn(*SysConn, sqlOledb(catcher.server(), "KVSYSTEM", password)));
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
    }

    // Server names, databases and passwords holding ".dsn" (once taken for a
    // file DSN) log in like any other: "%1" stands for the stand-in's
    // "127.0.0.1,port"; a named instance is found through the Browser.
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
        FakeServer fake(true);
        const QString instance = server.section(QLatin1Char('\\'), 1);
        if (!instance.isEmpty() && !fake.serveInstance(instance))
            QSKIP("UDP port 1434 is taken on this machine");

        QVERIFY(OpenConn(*SysConn, sqlOledb(server.replace(QLatin1String("%1"), fake.server()),
                                            database, password)));
        QCOMPARE(fake.logins().size(), 1);
        QCOMPARE(fake.logins().first().database, database);
        QCOMPARE(fake.logins().first().password, password);
        if (!instance.isEmpty())
            QCOMPARE(fake.instancesAsked().value(0), instance);
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
        FakeServer server(true);
        server.answer = [&](const QString &text) {
            return text == sql ? tds::error(quint32(serverError), message) : tds::done();
        };
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
        FakeServer server(true);
        server.answer = [](const QString &sql) {
            if (sql.startsWith(QLatin1String("select")))
                return tds::rows(
                    {{1, QStringLiteral("固定资产")}, {QVariant(), "b"}, {3, QVariant()}});
            return tds::done();
        };
        QVERIFY(OpenConn(*SysConn, sqlOledb(server.server(), "KVSYSTEM", "pw")));
        const QString sql = QStringLiteral("select id, name from t where name <> N'资产'");
        QVERIFY(RunSql(*WorkRs, sql, *SysConn));
        QCOMPARE(server.batches().filter(sql).size(), 1);
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

    // Numbers and dates arrive as numbers and dates, server text as Unicode.
    void valuesOfEachType_data()
    {
        QTest::addColumn<QByteArray>("typeInfo");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QVariant>("expected");
        const QByteArray day = tds::le32(quint32(QDate(1900, 1, 1).daysTo(QDate(2002, 5, 31))));
        QTest::newRow("money") << QByteArray("\x6E\x08", 2)
                               << char(8) + tds::le32(0) + tds::le32(123450) << QVariant(12.345);
        QTest::newRow("decimal(18,2)")
            << QByteArray("\x6A\x09\x12\x02", 4)
            << QByteArray("\x09\x00", 2) + tds::le32(1234567) + tds::le32(0) << QVariant(-12345.67);
        QTest::newRow("datetime") << QByteArray("\x6F\x08", 2)
                                  << char(8) + day + tds::le32((8 * 3600 + 30 * 60) * 300 + 150)
                                  << QVariant(QDateTime(QDate(2002, 5, 31), QTime(8, 30, 0, 500)));
        QTest::newRow("varchar in GBK")
            << QByteArray("\xA7\x32\x00\x04\x08\xD0\x00\x34", 8)
            << tds::le16(4) + QByteArray::fromHex("b9ccb6a8") << QVariant(QStringLiteral("固定"));
    }
    void valuesOfEachType()
    {
        QFETCH(QByteArray, typeInfo);
        QFETCH(QByteArray, data);
        QFETCH(QVariant, expected);
        FakeServer server(true);
        server.answer = [&](const QString &) { return tds::value(typeInfo, data); };
        QVERIFY(OpenConn(*SysConn, sqlOledb(server.server(), "KVSYSTEM", "pw")));
        QVERIFY(RunSql(*WorkRs, QStringLiteral("select v from t"), *SysConn));
        QCOMPARE(WorkRs->Fields(0), expected);
    }

    // A query text that returns no rows has run once and leaves the
    // recordset closed; a query the server refuses is tried three times.
    void runSqlOnTheServer()
    {
        FakeServer server(true);
        server.answer = [](const QString &sql) {
            if (sql.contains(QLatin1String("nosuch")))
                return tds::error(208, QStringLiteral("对象名 'nosuch' 无效。"));
            return tds::done(tds::DoneCount, 5);
        };
        QVERIFY(OpenConn(*AccConn, sqlOledb(server.server(), "kvdata_001_2002", "pw")));
        QVERIFY(!RunSql(*WorkRs, QStringLiteral("select * into fq from fa_Cards"), *AccConn));
        QCOMPARE(WorkRs->State(), adStateClosed);
        QCOMPARE(server.batchesContaining(QStringLiteral("into fq")), 1);

        RetryCount = 0;
        QVERIFY(!RunSql(*WorkRs, QStringLiteral("select * from nosuch"), *AccConn));
        QCOMPARE(server.batchesContaining(QStringLiteral("nosuch")), 3);
        QCOMPARE(RetryCount, 0);

        // A row count ahead of the rows is no empty answer.
        server.answer = [](const QString &) {
            return tds::done(tds::DoneMore | tds::DoneCount, 1) + tds::rows({{7, "x"}});
        };
        QVERIFY(RunSql(*WorkRs, QStringLiteral("update t set a = 1; select id, name from t"),
                       *AccConn));
        QCOMPARE(WorkRs->Fields(0).toInt(), 7);
    }

    // FreeTDS serves one result at a time: a statement sent while a result
    // is half read must neither fail nor cut the result short.
    void statementWhileAResultIsBeingRead()
    {
        FakeServer server(true);
        server.answer = [](const QString &sql) {
            if (sql.startsWith(QLatin1String("select")))
                return tds::rows({{1, "a"}, {2, "b"}, {3, "c"}});
            return tds::done(tds::DoneCount, 1);
        };
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
        FakeServer server(true);
        server.answer = [](const QString &sql) {
            if (sql.startsWith(QLatin1String("select")))
                return tds::rows({{1, "a"}, {2, "b"}});
            return tds::done();
        };
        const QString connStr = sqlOledb(server.server(), "KVSYSTEM", "pw");
        QVERIFY(OpenConn(*SysConn, connStr));
        QVERIFY(RunSql(*WorkRs, QStringLiteral("select id, name from ua_period"), *SysConn));
        SysConn->Close();
        QTRY_COMPARE(server.openConnections(), 0);
        WorkRs->MoveNext();
        QVERIFY(WorkRs->Eof());

        QVERIFY(OpenConn(*SysConn, connStr));
        QVERIFY(RunSql(*WorkRs, QStringLiteral("select id, name from ua_period"), *SysConn));
        QCOMPARE(WorkRs->Fields(0).toInt(), 1);
        ReleaseSharedObjects();
        QTRY_COMPARE(server.openConnections(), 0);
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

    // tds-standin's wire under FreeTDS, with a session double behind it.
private:
    struct WireLog
    {
        std::mutex mutex;
        QStringList calls;
        std::atomic<int> closedBatches{-1};
        std::atomic<bool> running{false};
        std::atomic<bool> cancelled{false};
        void add(const QString &call)
        {
            std::lock_guard lock(mutex);
            calls.append(call);
        }
    };
    class WireSession : public standin::Backend
    {
    public:
        explicit WireSession(WireLog &log) : m_log(log) {}
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
        QList<standin::Answer> execute(const QString &batch) override
        {
            using standin::Answer;
            using Type = standin::ColumnType;
            m_log.add(batch);
            Answer answer;
            if (batch == QLatin1String("select types")) {
                answer.kind = Answer::Rows;
                answer.columns = {{"i", Type::Int},      {"b", Type::BigInt},
                                  {"f", Type::Float},    {"t", Type::NVarChar},
                                  {"m", Type::NVarChar}, {"d", Type::DateTime},
                                  {"x", Type::Bit}};
                answer.rows = {{42, 9000000000LL, 2.5, QStringLiteral("固定资产"),
                                QString(5000, QChar(0x957F)),
                                QDateTime(QDate(2026, 12, 8), QTime(8, 30, 0, 500)), true},
                               QVariantList(7)};
            } else if (batch == QLatin1String("delete from fq")) {
                answer.kind = Answer::Count;
                answer.count = 3;
            } else if (batch == QLatin1String("delete from nosuch")) {
                answer = {
                    Answer::Error, {}, {}, -1, 208, 16, QStringLiteral("对象名 'nosuch' 无效。")};
            } else if (batch == QLatin1String("wait")) {
                m_log.running = true;
                for (int i = 0; i < 1000 && !m_log.cancelled; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                answer = {Answer::Error, {}, {}, -1, 3617, 25, QString()};
            }
            return {answer};
        }
        void beginTransaction() override { setTransaction(true, "begin"); }
        void commit() override { setTransaction(false, "commit"); }
        void rollback() override { setTransaction(false, "rollback"); }
        bool inTransaction() const override { return m_inTransaction; }
        void cancel() override { m_log.cancelled = true; }

    private:
        void setTransaction(bool in, const char *call)
        {
            m_inTransaction = in;
            m_log.add(QLatin1String(call));
        }
        WireLog &m_log;
        QString m_catalog;
        bool m_inTransaction = false;
    };
    static std::unique_ptr<standin::TdsServer> wireServer(WireLog &log)
    {
        standin::ServerSettings settings;
        settings.password = QStringLiteral("pw");
        settings.closed = [&log](int, int batches) { log.closedBatches = batches; };
        auto server = std::make_unique<standin::TdsServer>(
            [&log] { return std::make_unique<WireSession>(log); }, settings);
        QString error;
        if (!server->listen(0, &error))
            qFatal("%s", qPrintable(error));
        return server;
    }
    static QString addressOf(const standin::TdsServer &server)
    {
        return QStringLiteral("127.0.0.1,%1").arg(server.port());
    }

private slots:
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
        WireLog log;
        const auto server = wireServer(log);
        Connection conn;
        try {
            conn.Open(sqlOledb(addressOf(*server), catalog, password));
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
        WireLog log;
        const auto server = wireServer(log);
        {
            Connection conn;
            conn.Open(sqlOledb(addressOf(*server), "kvdata_001_2026", "pw"));
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
            QTRY_VERIFY(log.running);
            conn.Interrupt();
            waiting.join();
            QVERIFY(stopped);
            QVERIFY(log.cancelled);
            conn.Execute(QStringLiteral("delete from fq"));
        }
        QTRY_COMPARE(log.closedBatches, 6);
        std::lock_guard lock(log.mutex);
        QCOMPARE(log.calls.mid(3, 3), QStringList({"begin", "delete from fq", "commit"}));
        QVERIFY(log.calls.mid(6).contains(QLatin1String("rollback")));
    }
};

QTEST_GUILESS_MAIN(TestOdbcProvider)
#include "tst_odbc_provider.moc"
