#include "standin_process.h"

namespace fa::test {

StandIn::StandIn(const QString &dataDir, const QStringList &faults)
{
    process.start(qEnvironmentVariable("FATOTAL_BIN_DIR") +
                      QStringLiteral("/tools/tds-standin" FATOTAL_EXE_SUFFIX),
                  QStringList{QStringLiteral("--data"), dataDir, QStringLiteral("--password"),
                              QStringLiteral("pw")} +
                      faults);
    if (waitFor("\n"))
        port = QString::fromLatin1(output).section(u':', 1).trimmed();
    output.clear();
}

StandIn::~StandIn()
{
    // A Windows console program takes no termination request.
#ifdef Q_OS_WIN
    process.kill();
#else
    process.terminate();
#endif
    process.waitForFinished();
}

bool StandIn::waitFor(const char *text)
{
    while (!output.contains(text)) {
        if (!process.waitForReadyRead(30000))
            return false;
        output += process.readAllStandardOutput();
    }
    return true;
}

QString StandIn::server() const
{
    return QStringLiteral("127.0.0.1,") + port;
}

QStringList StandIn::args(const QString &accounts, const QString &years) const
{
    return {QStringLiteral("--server"),
            server(),
            QStringLiteral("--password-stdin"),
            QStringLiteral("--account"),
            accounts,
            QStringLiteral("--year"),
            years};
}

} // namespace fa::test
