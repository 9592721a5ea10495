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
#include <QFileInfo>
#include <cstdio>
#include <optional>
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

    void waitingForLock(int waitedMs) override
    {
        if (waitedMs == 0)
            showMessage(QStringLiteral("数据库被其他程序占用，正在等待…"));
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

// Longer than any password; a longer first line is a mistake, and reading it
// whole could take all memory.
constexpr qsizetype kMaxPasswordBytes = 4096;

// The first line of standard input without its line ending ("\n" or "\r\n"),
// or nothing when it is longer than kMaxPasswordBytes; what follows the limit
// is never read. On a terminal the operator is asked and the typing is not
// shown.
std::optional<QString> readPasswordFromStdin()
{
    const bool terminal = fa::platform().inputIsTerminal();
    bool echoOff = false;
    if (terminal) {
        std::fputs(QStringLiteral("SA口令：").toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
        echoOff = fa::platform().setInputEcho(false);
    }
    QByteArray line;
    bool tooLong = false;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
        // One byte past the limit may still be the "\r" of "\r\n".
        if (line.size() > kMaxPasswordBytes) {
            tooLong = true;
            break;
        }
        line += char(c);
    }
    if (c == '\n' && line.endsWith('\r'))
        line.chop(1);
    if (echoOff)
        fa::platform().setInputEcho(true);
    if (terminal)
        std::fputc('\n', stderr); // the Enter that was not shown
    if (tooLong || line.size() > kMaxPasswordBytes)
        return std::nullopt;
    return QString::fromUtf8(line);
}

const char *const kUsageHint =
    "usage: fatotal-rebuild --system <kvsystem.mdb> --account <id> --year <yyyy>\n"
    "       fatotal-rebuild --server <name> [--password-stdin] --account <id> --year <yyyy>";

// Wrong arguments: what is wrong, then how it is called.
int usageError(const QString &problem)
{
    printLine(QStringLiteral("fatotal-rebuild: ") + problem);
    std::fprintf(stderr, "%s\n", kUsageHint);
    return kUsage;
}

// What is wrong with the arguments, or empty text. Each option is given
// once, with a value where it takes one; nothing else stands on the line.
QString argumentProblem(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    for (const QCommandLineOption &option : options) {
        const QString name = option.names().first();
        if (parser.optionNames().count(name) > 1)
            return QStringLiteral("--%1 is given more than once").arg(name);
        if (!option.valueName().isEmpty() && parser.isSet(option) && parser.value(option).isEmpty())
            return QStringLiteral("--%1 needs a value").arg(name);
    }
    return {};
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
    const QCommandLineOption helpOption = parser.addHelpOption();
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
    const QList<QCommandLineOption> options{systemOption, serverOption, accountOption, yearOption,
                                            passwordOption};
    parser.addOptions(options);
    // Not process(): it ends the program with status 1 on an unknown option.
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(kCompleted);
    if (const QString problem = argumentProblem(parser, options); !problem.isEmpty())
        return usageError(problem);

    const bool fileMode = parser.isSet(systemOption);
    if (fileMode == parser.isSet(serverOption) || !parser.isSet(accountOption) ||
        !parser.isSet(yearOption) || (fileMode && parser.isSet(passwordOption))) {
        printLine(QStringLiteral("fatotal-rebuild: give --system or --server, and --account and "
                                 "--year (see --help)"));
        std::fprintf(stderr, "%s\n", kUsageHint);
        return kUsage;
    }

    QString password;
    if (!fileMode) {
        if (!parser.isSet(passwordOption)) {
            password = fa::platform().savedSaPassword();
        } else if (const std::optional<QString> typed = readPasswordFromStdin()) {
            password = *typed;
        } else {
            return usageError(QStringLiteral("the password on standard input is longer than %1 "
                                             "bytes")
                                  .arg(kMaxPasswordBytes));
        }
    }

    fa::CreateSharedObjects();
    fa::IsAccess = fileMode;
    if (fileMode) {
        // The file database is opened by its absolute path only: a relative
        // one is taken from the folder the command starts in.
        fa::SysConnStr =
            fa::JetConnPrefix + QFileInfo(parser.value(systemOption)).absoluteFilePath();
    } else {
        fa::SysConnStr = fa::SqlServerSystemConnStr(parser.value(serverOption), password);
    }

    StderrUi ui(isatty(fileno(stderr)));
    if (!fa::OpenConn(*fa::SysConn, fa::SysConnStr)) {
        ui.showMessage(fa::WithFailureReason(QStringLiteral("打开数据库错误")));
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
