#include "tools/standin/tds_server.h"

#include "tools/standin/tds_wire.h"

#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace standin {

namespace {

// The few socket calls that Winsock names otherwise.
#ifdef Q_OS_WIN
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
constexpr int kNoSignal = 0; // Winsock raises no signal
constexpr int kShutBoth = SD_BOTH;
using SocketLength = int;
void closeSocket(Socket socket)
{
    ::closesocket(socket);
}
int waitForInput(Socket socket, int timeoutMs)
{
    pollfd waiting{socket, POLLIN, 0};
    return ::WSAPoll(&waiting, 1, timeoutMs);
}
QString lastSocketError()
{
    return QStringLiteral("Winsock error %1").arg(::WSAGetLastError());
}
bool startSockets(QString *error)
{
    static const int started = [] {
        WSADATA winsock;
        return ::WSAStartup(MAKEWORD(2, 2), &winsock);
    }();
    if (started != 0)
        *error = QStringLiteral("WSAStartup failed (%1)").arg(started);
    return started == 0;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
constexpr int kNoSignal = MSG_NOSIGNAL; // a client gone is no reason to die
constexpr int kShutBoth = SHUT_RDWR;
using SocketLength = socklen_t;
void closeSocket(Socket socket)
{
    ::close(socket);
}
int waitForInput(Socket socket, int timeoutMs)
{
    pollfd waiting{socket, POLLIN, 0};
    return ::poll(&waiting, 1, timeoutMs);
}
QString lastSocketError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}
bool startSockets(QString *)
{
    return true;
}
#endif

// Larger than any batch the tool sends; a client that sends more is dropped
// before it takes all memory.
constexpr qsizetype kMaxMessage = 64 * 1024 * 1024;

// Waits in short steps, so that a server that stops is seen even where
// shutdown() does not wake a waiting recv() (Wine's sockets).
bool readExactly(Socket socket, char *into, qsizetype count, const std::atomic<bool> &stopping)
{
    while (count > 0) {
        const int ready = waitForInput(socket, 100);
        if (stopping)
            return false;
        if (ready <= 0)
            continue;
        const int got = int(::recv(socket, into, int(qMin<qsizetype>(count, 1 << 20)), 0));
        if (got <= 0)
            return false;
        into += got;
        count -= got;
    }
    return true;
}

// One message, which may span several packets; false when the client left
// or broke the framing.
bool readMessage(Socket socket, quint8 *type, QByteArray *body, const std::atomic<bool> &stopping)
{
    body->clear();
    for (;;) {
        char header[8];
        if (!readExactly(socket, header, 8, stopping))
            return false;
        *type = quint8(header[0]);
        const int length = (quint8(header[2]) << 8) | quint8(header[3]);
        if (length < 8 || body->size() + length > kMaxMessage)
            return false;
        const qsizetype at = body->size();
        body->resize(at + length - 8);
        if (!readExactly(socket, body->data() + at, length - 8, stopping))
            return false;
        if (header[1] & 1)
            return true;
    }
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

void sendAll(Socket socket, const QByteArray &bytes)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        const int sent = int(::send(socket, bytes.constData() + at,
                                    int(qMin<qsizetype>(bytes.size() - at, 1 << 20)), kNoSignal));
        if (sent <= 0)
            return; // the reader sees the client gone
        at += sent;
    }
}

} // namespace

struct Connection
{
    int number = 0;
    Socket socket = kNoSocket;
    std::thread thread;
    std::atomic<bool> finished{false};
};

struct TdsServer::Private
{
    BackendFactory factory;
    ServerSettings settings;
    Socket listener = kNoSocket;
    quint16 port = 0;
    std::atomic<bool> stopping{false};
    std::thread acceptThread;
    std::mutex mutex; // guards connections and their sockets
    std::list<std::unique_ptr<Connection>> connections;
    int lastNumber = 0;
    Socket browser = kNoSocket;
    std::thread browserThread;

    void acceptClients();
    void answerBrowser(const QString &instance);
    void serve(Connection *connection);
    void reapFinished();
};

namespace {

// One logged-in client: this thread runs its requests one after the other
// and writes the answers; a reader thread takes its messages off the socket
// meanwhile, so that an attention reaches a running batch.
class ClientSession
{
public:
    ClientSession(Socket socket, int number, const TdsServer::BackendFactory &factory,
                  const ServerSettings &settings, const std::atomic<bool> &stopping)
        : m_socket(socket), m_number(number), m_factory(factory), m_settings(settings),
          m_stopping(stopping)
    {}

    // Until the client leaves or the server stops; the batches it sent.
    int run()
    {
        if (!logIn())
            return m_batches;
        std::thread reading([this] { readMessages(); });
        while (true) {
            Message message = next();
            if (message.closed)
                break;
            switch (message.type) {
            case tds::SqlBatch:
                ++m_batches;
                // An attention already behind it: the batch need not run.
                if (!attentionWaiting())
                    runBatch(message.body);
                break;
            case tds::TransactionManager:
                runTransactionRequest(message.body);
                break;
            case tds::Attention:
                send(tds::done(tds::DoneAttention));
                break;
            default:
                send(tds::error(
                         0, 1, 16,
                         QStringLiteral("Request type %1 is not served here.").arg(message.type),
                         m_settings.serverName) +
                     tds::done(tds::DoneError));
                break;
            }
        }
        ::shutdown(m_socket, kShutBoth);
        reading.join();
        m_backend.reset(); // rolls back and lets the locks go
        return m_batches;
    }

private:
    struct Message
    {
        quint8 type = 0;
        QByteArray body;
        bool closed = false;
    };

    void send(const QByteArray &tokens)
    {
        sendAll(m_socket, tds::frame(tds::Reply, tokens, m_packetSize, quint16(m_number)));
    }

    void refuse(const QByteArray &tokens) { send(tokens + tds::done(tds::DoneError)); }

    bool logIn()
    {
        quint8 type = 0;
        QByteArray body;
        if (!readMessage(m_socket, &type, &body, m_stopping) || type != tds::PreLogin)
            return false;
        send(tds::preLoginAnswer());
        tds::LoginRequest login;
        QString problem;
        if (!readMessage(m_socket, &type, &body, m_stopping) || type != tds::Login7 ||
            !tds::readLogin(body, &login, &problem))
            return false;
        if (m_settings.loggingIn)
            m_settings.loggingIn(login);
        const QString server = m_settings.serverName;
        const QByteArray failed = tds::error(
            18456, 1, 14, QStringLiteral("Login failed for user '%1'.").arg(login.user), server);
        if (login.user.compare(QLatin1String("sa"), Qt::CaseInsensitive) != 0 ||
            (m_settings.password && login.password != *m_settings.password)) {
            refuse(failed);
            return false;
        }
        m_backend = m_factory();
        int number = 0;
        QString message;
        if (!m_backend->use(login.database, &number, &message)) {
            refuse(tds::error(number ? number : 4060, 1, 11, message, server) + failed);
            return false;
        }
        const int oldPacketSize = m_packetSize;
        m_packetSize = login.packetSize;
        send(tds::envDatabase(m_backend->catalog(), QStringLiteral("master")) +
             changedDatabase(m_backend->catalog()) + tds::envCollation() +
             tds::envLanguage(QStringLiteral("us_english")) +
             tds::info(5703, 1, 0, QStringLiteral("Changed language setting to us_english."),
                       server) +
             tds::loginAck(server) + tds::envPacketSize(m_packetSize, oldPacketSize) +
             tds::done(tds::DoneFinal));
        return true;
    }

    QByteArray changedDatabase(const QString &catalog) const
    {
        return tds::info(5701, 2, 0,
                         QStringLiteral("Changed database context to '%1'.").arg(catalog),
                         m_settings.serverName);
    }

    void readMessages()
    {
        for (;;) {
            Message message;
            message.closed = !readMessage(m_socket, &message.type, &message.body, m_stopping);
            std::lock_guard lock(m_mutex);
            // A running batch stops at an attention, and when its client is
            // gone.
            if ((message.closed || message.type == tds::Attention) && m_running) {
                m_cancelled = true;
                m_backend->cancel();
            }
            m_queue.push_back(std::move(message));
            m_wake.notify_one();
            if (m_queue.back().closed)
                return;
        }
    }

    Message next()
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return !m_queue.empty(); });
        Message message = std::move(m_queue.front());
        m_queue.pop_front();
        return message;
    }

    bool attentionWaiting()
    {
        std::lock_guard lock(m_mutex);
        for (const Message &message : m_queue) {
            if (message.closed || message.type == tds::Attention)
                return true;
        }
        return false;
    }

    // ENVCHANGE for a transaction that began or ended during a request.
    QByteArray transactionChange(bool wasIn, tds::TransactionChange ending)
    {
        const bool in = m_backend->inTransaction();
        if (in == wasIn)
            return {};
        if (in) {
            m_descriptor = ++m_lastDescriptor;
            return tds::envTransaction(tds::BeginTransaction, m_descriptor);
        }
        return tds::envTransaction(ending, m_descriptor);
    }

    void runBatch(const QByteArray &body)
    {
        const QString text = tds::batchText(body);
        const bool wasIn = m_backend->inTransaction();
        const QString oldCatalog = m_backend->catalog();
        {
            std::lock_guard lock(m_mutex);
            m_running = true;
            m_cancelled = false;
        }
        const QByteArray tokens = m_backend->tokens(text);
        const QList<Answer> answers = tokens.isEmpty() ? m_backend->execute(text) : QList<Answer>();
        bool cancelled = false;
        {
            std::lock_guard lock(m_mutex);
            m_running = false;
            cancelled = m_cancelled;
        }
        const bool rolledBack = text.contains(QLatin1String("rollback"), Qt::CaseInsensitive);
        QByteArray out = transactionChange(wasIn, rolledBack ? tds::RollbackTransaction
                                                             : tds::CommitTransaction);
        if (const QString catalog = m_backend->catalog(); catalog != oldCatalog)
            out += tds::envDatabase(catalog, oldCatalog) + changedDatabase(catalog);
        // A cancelled batch's answers are not sent: the client drops what
        // comes before the attention's DONE anyway.
        if (!cancelled)
            send(out + (tokens.isEmpty() ? tds::answers(answers, m_settings.serverName) : tokens));
        else if (!out.isEmpty())
            send(out + tds::done(tds::DoneFinal));
    }

    void runTransactionRequest(const QByteArray &body)
    {
        tds::TransactionManagerRequest request;
        QString problem;
        if (!tds::readTransactionRequest(body, &request, &problem)) {
            refuse(tds::error(0, 1, 16, problem, m_settings.serverName));
            return;
        }
        const bool wasIn = m_backend->inTransaction();
        QByteArray out;
        switch (request.type) {
        case tds::TmBeginXact:
            m_backend->beginTransaction();
            out += transactionChange(wasIn, tds::CommitTransaction);
            break;
        case tds::TmCommitXact:
        case tds::TmRollbackXact: {
            const bool commit = request.type == tds::TmCommitXact;
            if (!wasIn) {
                const QString what = commit ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK");
                refuse(tds::error(commit ? 3902 : 3903, 1, 16,
                                  QStringLiteral("The %1 TRANSACTION request has no "
                                                 "corresponding BEGIN TRANSACTION.")
                                      .arg(what),
                                  m_settings.serverName));
                return;
            }
            if (commit)
                m_backend->commit();
            else
                m_backend->rollback();
            out +=
                transactionChange(true, commit ? tds::CommitTransaction : tds::RollbackTransaction);
            if (request.beginAfter) {
                m_backend->beginTransaction();
                out += transactionChange(false, tds::CommitTransaction);
            }
            break;
        }
        default:
            break; // no distributed transactions here: nothing to tell
        }
        send(out + tds::done(tds::DoneFinal));
    }

    const Socket m_socket;
    const int m_number;
    const TdsServer::BackendFactory &m_factory;
    const ServerSettings &m_settings;
    const std::atomic<bool> &m_stopping;
    std::unique_ptr<Backend> m_backend;
    int m_packetSize = tds::kDefaultPacketSize;
    int m_batches = 0;
    quint64 m_descriptor = 0;
    quint64 m_lastDescriptor = 0;

    std::mutex m_mutex; // guards the queue and the running batch's state
    std::condition_variable m_wake;
    std::deque<Message> m_queue;
    bool m_running = false;
    bool m_cancelled = false;
};

} // namespace

void TdsServer::Private::acceptClients()
{
    while (!stopping) {
        if (waitForInput(listener, 100) <= 0)
            continue;
        const Socket client = ::accept(listener, nullptr, nullptr);
        if (client == kNoSocket)
            continue;
        reapFinished();
        std::lock_guard lock(mutex);
        auto connection = std::make_unique<Connection>();
        connection->number = ++lastNumber;
        connection->socket = client;
        Connection *serving = connection.get();
        connections.push_back(std::move(connection));
        serving->thread = std::thread([this, serving] { serve(serving); });
    }
}

void TdsServer::Private::serve(Connection *connection)
{
    const int batches =
        ClientSession(connection->socket, connection->number, factory, settings, stopping).run();
    {
        std::lock_guard lock(mutex);
        closeSocket(connection->socket);
        connection->socket = kNoSocket;
    }
    if (settings.closed)
        settings.closed(connection->number, batches);
    connection->finished = true;
}

void TdsServer::Private::answerBrowser(const QString &instance)
{
    // SVR_RESP: the size, then the instance's properties with its TCP port.
    const QByteArray properties =
        QStringLiteral("ServerName;%1;InstanceName;%2;IsClustered;No;Version;16.0.1000.6;tcp;%3;;")
            .arg(settings.serverName, instance, QString::number(port))
            .toUtf8();
    const QByteArray answer = char(0x05) + QByteArray(1, char(properties.size() & 0xFF)) +
                              char(properties.size() >> 8) + properties;
    while (!stopping) {
        if (waitForInput(browser, 100) <= 0)
            continue;
        char request[512];
        sockaddr_in from{};
        SocketLength length = sizeof from;
        const int got = int(::recvfrom(browser, request, int(sizeof request), 0,
                                       reinterpret_cast<sockaddr *>(&from), &length));
        // CLNT_UCAST_INST: the instance's name, ended by a NUL. Other
        // instances are not here: no answer, as from a real Browser.
        if (got < 2 || request[0] != 0x04)
            continue;
        const QString asked = QString::fromLocal8Bit(request + 1, qstrnlen(request + 1, got - 1));
        if (asked.compare(instance, Qt::CaseInsensitive) == 0)
            ::sendto(browser, answer.constData(), int(answer.size()), 0,
                     reinterpret_cast<sockaddr *>(&from), length);
    }
}

void TdsServer::Private::reapFinished()
{
    std::list<std::unique_ptr<Connection>> done;
    {
        std::lock_guard lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->finished) {
                done.push_back(std::move(*it));
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto &connection : done)
        connection->thread.join();
}

TdsServer::TdsServer(BackendFactory factory, ServerSettings settings)
    : d(std::make_unique<Private>())
{
    d->factory = std::move(factory);
    d->settings = std::move(settings);
}

TdsServer::~TdsServer()
{
    stop();
}

bool TdsServer::listen(quint16 port, QString *error)
{
    if (!startSockets(error))
        return false;
    d->listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (d->listener == kNoSocket) {
        *error = lastSocketError();
        return false;
    }
    sockaddr_in address = loopback(port);
    SocketLength length = sizeof address;
    if (::bind(d->listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(d->listener, 16) != 0 ||
        ::getsockname(d->listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        *error = lastSocketError();
        closeSocket(d->listener);
        d->listener = kNoSocket;
        return false;
    }
    d->port = ntohs(address.sin_port);
    d->acceptThread = std::thread([this] { d->acceptClients(); });
    return true;
}

quint16 TdsServer::port() const
{
    return d->port;
}

bool TdsServer::serveInstance(const QString &instance, QString *error)
{
    if (!startSockets(error))
        return false;
    d->browser = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (d->browser == kNoSocket) {
        *error = lastSocketError();
        return false;
    }
    const sockaddr_in address = loopback(1434);
    if (::bind(d->browser, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        *error = lastSocketError();
        closeSocket(d->browser);
        d->browser = kNoSocket;
        return false;
    }
    d->browserThread = std::thread([this, instance] { d->answerBrowser(instance); });
    return true;
}

void TdsServer::stop()
{
    d->stopping = true;
    if (d->acceptThread.joinable())
        d->acceptThread.join();
    if (d->browserThread.joinable())
        d->browserThread.join();
    if (d->browser != kNoSocket) {
        closeSocket(d->browser);
        d->browser = kNoSocket;
    }
    if (d->listener != kNoSocket) {
        closeSocket(d->listener);
        d->listener = kNoSocket;
    }
    {
        std::lock_guard lock(d->mutex);
        for (const auto &connection : d->connections) {
            if (connection->socket != kNoSocket)
                ::shutdown(connection->socket, kShutBoth);
        }
    }
    for (const auto &connection : d->connections)
        connection->thread.join();
    d->connections.clear();
}

} // namespace standin
