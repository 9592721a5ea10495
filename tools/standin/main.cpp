// tds-standin: a stand-in SQL Server on 127.0.0.1 that serves the catalogs of
// a demo installation to FreeTDS, for the tests and for trying SQL Server
// mode without a server.
#include "platform/platform.h"
#include "tools/standin/engine.h"
#include "tools/standin/tds_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <mutex>

namespace {

constexpr int kUsage = 2;

const char *const kUsageLine =
    "usage: tds-standin --data <dir> [--port <n>] [--password <pw>] [--stats]";

void printOut(const QString &line)
{
    static std::mutex printing;
    std::lock_guard lock(printing);
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

int usageError(const QString &problem)
{
    std::fputs(
        qPrintable(
            QStringLiteral("tds-standin: %1\n%2\n").arg(problem, QString::fromLatin1(kUsageLine))),
        stderr);
    return kUsage;
}

// The engine's session behind the listener's seam.
class EngineBackend : public standin::Backend
{
public:
    EngineBackend(const standin::Catalogs &catalogs, int failingBatch)
        : m_session(catalogs), m_failingBatch(failingBatch)
    {}
    bool use(const QString &catalog, int *number, QString *message) override
    {
        return m_session.use(catalog, number, message);
    }
    QString catalog() const override { return m_session.catalog(); }
    QList<standin::Answer> execute(const QString &batch) override
    {
        // A failure where a test wants one: from that batch on, each is
        // refused unrun, so that no retry gets past it.
        if (m_failingBatch > 0 && ++m_batches >= m_failingBatch) {
            standin::Answer refused;
            refused.kind = standin::Answer::Error;
            refused.number = 50000;
            refused.message = QStringLiteral("Batch %1 refused by --fail-batch.").arg(m_batches);
            return {refused};
        }
        return m_session.execute(batch);
    }
    void beginTransaction() override { m_session.beginTransaction(); }
    void commit() override { m_session.commit(); }
    void rollback() override { m_session.rollback(); }
    bool inTransaction() const override { return m_session.inTransaction(); }
    void cancel() override { m_session.cancel(); }

private:
    standin::Session m_session;
    int m_failingBatch = 0;
    int m_batches = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tds-standin"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A stand-in SQL Server on 127.0.0.1 that serves the catalogs of a "
                       "fatotal-demo installation (KVSYSTEM and kvdata_<account>_<year>) to "
                       "FreeTDS. Prints \"listening on 127.0.0.1:<port>\" once it accepts "
                       "connections; runs until Ctrl+C or SIGTERM."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption dataOption(QStringLiteral("data"),
                                        QStringLiteral("The installation folder (fatotal-demo "
                                                       "--out)."),
                                        QStringLiteral("dir"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("The port; 0 or none: any free one."),
                                        QStringLiteral("n"));
    const QCommandLineOption passwordOption(
        QStringLiteral("password"),
        QStringLiteral("The sa password; without it any password logs in."), QStringLiteral("pw"));
    const QCommandLineOption statsOption(
        QStringLiteral("stats"),
        QStringLiteral("When a connection closes, print \"connection N: B batches\", B being "
                       "the SQL batch messages it sent."));
    const QCommandLineOption failOption(
        QStringLiteral("fail-batch"),
        QStringLiteral("For tests: refuse the n-th and every later SQL batch of each "
                       "connection with error 50000, unrun."),
        QStringLiteral("n"));
    parser.addOptions({dataOption, portOption, passwordOption, statsOption, failOption});
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        printOut(parser.helpText());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (!parser.isSet(dataOption) || parser.value(dataOption).isEmpty())
        return usageError(QStringLiteral("--data is required"));
    bool portOk = true;
    const uint port = parser.isSet(portOption) ? parser.value(portOption).toUInt(&portOk) : 0;
    if (!portOk || port > 65535)
        return usageError(QStringLiteral("--port takes a number from 0 to 65535"));

    bool failOk = true;
    const int failingBatch = parser.isSet(failOption) ? parser.value(failOption).toInt(&failOk) : 0;
    if (!failOk || failingBatch < 0)
        return usageError(QStringLiteral("--fail-batch takes a positive number"));

    standin::Catalogs catalogs;
    QString error;
    if (!catalogs.load(parser.value(dataOption), &error)) {
        std::fputs(qPrintable(QStringLiteral("tds-standin: %1\n").arg(error)), stderr);
        return 1;
    }

    // Before any other thread starts; the request ends the event loop, and
    // the server closes every session on the way out.
    fa::platform().onTerminationRequest([] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    });

    standin::ServerSettings settings;
    if (parser.isSet(passwordOption))
        settings.password = parser.value(passwordOption);
    if (parser.isSet(statsOption)) {
        settings.closed = [](int connection, int batches) {
            printOut(QStringLiteral("connection %1: %2 batches").arg(connection).arg(batches));
        };
    }
    standin::TdsServer server(
        [&catalogs, failingBatch] {
            return std::make_unique<EngineBackend>(catalogs, failingBatch);
        },
        std::move(settings));
    if (!server.listen(quint16(port), &error)) {
        std::fputs(qPrintable(QStringLiteral("tds-standin: %1\n").arg(error)), stderr);
        return 1;
    }
    printOut(QStringLiteral("listening on 127.0.0.1:%1").arg(server.port()));
    QCoreApplication::exec();
    server.stop();
    return 0;
}
