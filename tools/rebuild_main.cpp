// fatotal-rebuild: rebuilds fa_Total of one account set and year without a
// window, for scripted and batch use. It runs the same selection, checks and
// rebuild as the window and prints the tool's own messages on standard error.
#include "data/conn_strings.h"
#include "data/db_state.h"
#include "ledger/account_year.h"
#include "ledger/recalc.h"
#include "platform/platform.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <unistd.h>

namespace {

// Exit codes.
constexpr int kCompleted = 0;
constexpr int kStopped = 1; // a check or the rebuild stopped with a message
constexpr int kUsage = 2;

void printLine(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

class StderrUi final : public fa::RecalcUi
{
public:
    explicit StderrUi(bool progress) : m_progress(progress) {}

    void showMessage(const QString &text) override
    {
        endProgressLine();
        printLine(text);
    }

    void periodDone(int period) override
    {
        if (!m_progress)
            return;
        std::fprintf(stderr, "\r%s", qPrintable(QStringLiteral("已完成第 %1 期 / 12").arg(period)));
        std::fflush(stderr);
        m_lineOpen = true;
    }

private:
    void endProgressLine()
    {
        if (m_lineOpen)
            std::fputc('\n', stderr);
        m_lineOpen = false;
    }

    bool m_progress;
    bool m_lineOpen = false;
};

QString readPasswordFromStdin()
{
    QTextStream in(stdin);
    return in.readLine();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fatotal-rebuild"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Rebuilds fa_Total of one account set and year.\n"
                       "File database:  fatotal-rebuild --system <kvsystem.mdb> --account <id> "
                       "--year <yyyy>\n"
                       "SQL Server:     fatotal-rebuild --server <name> --account <id> --year "
                       "<yyyy> [--password-stdin]\n"
                       "Exit status: 0 when the rebuild completed, 1 when a check or the "
                       "rebuild stopped, 2 for wrong arguments."));
    parser.addHelpOption();
    const QCommandLineOption systemOption(QStringLiteral("system"),
                                          QStringLiteral("The system database file."),
                                          QStringLiteral("file"));
    const QCommandLineOption serverOption(QStringLiteral("server"),
                                          QStringLiteral("The SQL Server that holds KVSYSTEM."),
                                          QStringLiteral("name"));
    const QCommandLineOption accountOption(QStringLiteral("account"),
                                           QStringLiteral("The account set number (3 characters)."),
                                           QStringLiteral("id"));
    const QCommandLineOption yearOption(QStringLiteral("year"), QStringLiteral("The year."),
                                        QStringLiteral("yyyy"));
    const QCommandLineOption passwordOption(
        QStringLiteral("password-stdin"),
        QStringLiteral("Read the sa password from the first line of standard input instead of "
                       "the saved setting."));
    parser.addOptions({systemOption, serverOption, accountOption, yearOption, passwordOption});
    parser.process(app);

    const bool fileMode = parser.isSet(systemOption);
    if (fileMode == parser.isSet(serverOption) || !parser.isSet(accountOption) ||
        !parser.isSet(yearOption) || (fileMode && parser.isSet(passwordOption))) {
        printLine(QStringLiteral("fatotal-rebuild: give --system or --server, and --account and "
                                 "--year (see --help)"));
        return kUsage;
    }

    fa::CreateSharedObjects();
    fa::IsAccess = fileMode;
    if (fileMode) {
        fa::SysConnStr = fa::JetConnPrefix + parser.value(systemOption);
    } else {
        const QString password = parser.isSet(passwordOption) ? readPasswordFromStdin()
                                                              : fa::platform().savedSaPassword();
        fa::SysConnStr = fa::SqlServerSystemConnStr(parser.value(serverOption), password);
    }

    StderrUi ui(isatty(fileno(stderr)));
    if (!fa::OpenConn(*fa::SysConn, fa::SysConnStr)) {
        ui.showMessage(QStringLiteral("打开数据库错误"));
        fa::ReleaseSharedObjects();
        return kStopped;
    }

    const QString account = parser.value(accountOption);
    const QString year = parser.value(yearOption);
    int result = kStopped;
    try {
        fa::AccConnStr = fa::ResolveAccountYear(account, year).connectionString;
        if (fa::RunRecalcCommand(account, year, ui))
            result = kCompleted;
    } catch (const fa::AppError &error) {
        ui.showMessage(error.description());
    }
    fa::ReleaseSharedObjects();
    return result;
}
