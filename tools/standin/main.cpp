// tds-standin: a stand-in SQL Server on 127.0.0.1 that serves the catalogs of
// a demo installation to FreeTDS, for the tests and for trying SQL Server
// mode without a server.
#include "platform/platform.h"
#include "tools/standin/engine.h"
#include "tools/standin/tds_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int kUsage = 2;

const char *const kUsageLine =
    "usage: tds-standin --data <dir> [--port <n>] [--password <pw>] [--stats] "
    "[--fail-batch <n>] [--pause-batch <n>]";

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

// Where a test wants a run to stop or wait: from batch `failing` on, each
// batch of a connection is refused unrun, so that no retry gets past it; the
// first connection to reach batch `pausing` holds it, announced on standard
// output, until a line comes on standard input or the client cancels it or
// goes away.
struct Faults
{
    int failing = 0;
    int pausing = 0;

    std::mutex mutex;
    std::condition_variable wake;
    bool pauseTaken = false;
    bool resumed = false;

    void waitForInput()
    {
        std::thread([this] {
            std::string line;
            std::getline(std::cin, line);
            std::lock_guard lock(mutex);
            resumed = true;
            wake.notify_all();
        }).detach();
    }
};

// The engine's session behind the listener's seam.
class EngineBackend : public standin::Backend
{
public:
    EngineBackend(const standin::Catalogs &catalogs, Faults &faults)
        : m_session(catalogs), m_faults(faults)
    {}
    bool use(const QString &catalog, int *number, QString *message) override
    {
        return m_session.use(catalog, number, message);
    }
    QString catalog() const override { return m_session.catalog(); }
    QList<standin::Answer> execute(const QString &batch) override
    {
        ++m_batches;
        if (m_faults.failing > 0 && m_batches >= m_faults.failing)
            return {
                refusal(50000, QStringLiteral("Batch %1 refused by --fail-batch.").arg(m_batches))};
        if (m_batches == m_faults.pausing && !pause())
            return {refusal(3617, QStringLiteral("The query was cancelled."))};
        return m_session.execute(batch);
    }
    void beginTransaction() override { m_session.beginTransaction(); }
    void commit() override { m_session.commit(); }
    void rollback() override { m_session.rollback(); }
    bool inTransaction() const override { return m_session.inTransaction(); }
    void cancel() override
    {
        {
            std::lock_guard lock(m_faults.mutex);
            m_cancelled = true;
            m_faults.wake.notify_all();
        }
        m_session.cancel();
    }

private:
    static standin::Answer refusal(int number, const QString &message)
    {
        standin::Answer refused;
        refused.kind = standin::Answer::Error;
        refused.number = number;
        refused.message = message;
        return refused;
    }

    // False when the client cancelled the batch while it was held.
    bool pause()
    {
        std::unique_lock lock(m_faults.mutex);
        if (m_faults.pauseTaken)
            return true;
        m_faults.pauseTaken = true;
        m_cancelled = false;
        printOut(QStringLiteral("paused at batch %1").arg(m_batches));
        m_faults.wake.wait(lock, [this] { return m_faults.resumed || m_cancelled; });
        return !m_cancelled;
    }

    standin::Session m_session;
    Faults &m_faults;
    int m_batches = 0;
    bool m_cancelled = false; // guarded by the faults' mutex
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
    const QCommandLineOption pauseOption(
        QStringLiteral("pause-batch"),
        QStringLiteral("For tests: hold the n-th SQL batch of the first connection that sends "
                       "that many, print \"paused at batch N\", and run it once a line comes on "
                       "standard input (a cancel or a closed connection ends it unrun)."),
        QStringLiteral("n"));
    parser.addOptions(
        {dataOption, portOption, passwordOption, statsOption, failOption, pauseOption});
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

    static Faults faults; // the input thread outlives main()
    for (const auto &[option, value] :
         {std::pair{&failOption, &faults.failing}, std::pair{&pauseOption, &faults.pausing}}) {
        bool ok = true;
        *value = parser.isSet(*option) ? parser.value(*option).toInt(&ok) : 0;
        if (!ok || *value < 0)
            return usageError(
                QStringLiteral("--%1 takes a positive number").arg(option->names().first()));
    }
    if (faults.pausing > 0)
        faults.waitForInput();

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
        [&catalogs] { return std::make_unique<EngineBackend>(catalogs, faults); },
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
