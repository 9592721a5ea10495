#pragma once

#include "tools/standin/engine.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The listener of tds-standin: accepts clients on 127.0.0.1, one thread per
// connection, logs them in and hands their batches and transaction requests
// to a session of their own.

namespace standin {

namespace tds {
struct LoginRequest;
}

// What a connection asks of its session; the program serves it with
// standin::Session, the wire tests with a double. Each call comes from the
// connection's own thread but cancel(), which comes from the thread that
// reads the socket, and only while execute() runs.
class Backend
{
public:
    virtual ~Backend() = default;
    virtual bool use(const QString &catalog, int *number, QString *message) = 0;
    virtual QString catalog() const = 0;
    virtual QList<Answer> execute(const QString &batch) = 0;
    virtual void beginTransaction() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual bool inTransaction() const = 0;
    virtual void cancel() = 0;
    // A batch's answer as tokens the backend writes itself, for SQL Server
    // types that Answer has none of (money, decimal, varchar); empty:
    // execute() answers.
    virtual QByteArray tokens(const QString &) { return {}; }
};

struct ServerSettings
{
    // The sa password; any is taken when none is set.
    std::optional<QString> password;
    QString serverName = QStringLiteral("STANDIN");
    // Called from the connection's thread when it has closed: its number
    // (from 1) and the SQL batch messages it sent.
    std::function<void(int connection, int batches)> closed;
    // Called from the connection's thread with each login as it came, before
    // it is checked.
    std::function<void(const tds::LoginRequest &login)> loggingIn;
};

class TdsServer
{
public:
    using BackendFactory = std::function<std::unique_ptr<Backend>()>;

    TdsServer(BackendFactory factory, ServerSettings settings);
    ~TdsServer(); // stop()
    TdsServer(const TdsServer &) = delete;
    TdsServer &operator=(const TdsServer &) = delete;

    // Listens on 127.0.0.1 (port 0: any free one); false with the system's
    // reason.
    bool listen(quint16 port, QString *error);
    quint16 port() const;
    // Plays the SQL Server Browser on UDP port 1434 of 127.0.0.1 after
    // listen(): a client that asks for `instance` learns this server's port.
    // False with the system's reason (the port taken, …).
    bool serveInstance(const QString &instance, QString *error);
    // Closes the listener and every connection, and waits for their threads;
    // their sessions end as with a dropped connection.
    void stop();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace standin
