// fatotal-rebuild: rebuilds fa_Total of one account set and year without a
// window, for scripted and batch use. It runs the same selection, checks and
// rebuild as the window and prints the tool's own messages on standard error.
#include "data/conn_strings.h"
#include "data/db_state.h"
#include "data/stop_request.h"
#include "ledger/account_year.h"
#include "ledger/recalc.h"
#include "platform/platform.h"
#include "tools/rebuild_batch.h"
#include "tools/report_file.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <optional>

namespace {

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
        fa::platform().writeError(QStringLiteral("SA口令："));
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
        fa::platform().writeError(QStringLiteral("\n")); // the Enter that was not shown
    if (tooLong || line.size() > kMaxPasswordBytes)
        return std::nullopt;
    return QString::fromUtf8(line);
}

const char *const kUsageHint =
    "usage: fatotal-rebuild --system <kvsystem.mdb> --account <ids> --year <years> [--check] "
    "[--changes <file>]\n"
    "       fatotal-rebuild --server <name> [--password-stdin] --account <ids> --year <years> "
    "[--check] [--changes <file>]";

// Wrong arguments: what is wrong, then how it is called.
int usageError(const QString &problem)
{
    printLine(QStringLiteral("fatotal-rebuild: ") + problem);
    printLine(QString::fromLatin1(kUsageHint));
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
        QStringLiteral("Rebuilds (or, with --check, compares) fa_Total of account sets and "
                       "years.\n"
                       "File database:  fatotal-rebuild --system <kvsystem.mdb> --account <ids> "
                       "--year <years> [--check] [--changes <file>]\n"
                       "SQL Server:     fatotal-rebuild --server <name> --account <ids> --year "
                       "<years> [--password-stdin] [--check] [--changes <file>]\n"
                       "<ids> and <years>: one value, a comma-separated list, or all. Each "
                       "account-year runs in its own transaction.\n"
                       "Exit status: 0 when every rebuild completed (and for --check: fa_Total "
                       "agrees), 1 when a check or a rebuild stopped, 2 for wrong arguments, "
                       "3 when --check found differences."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption systemOption(QStringLiteral("system"),
                                          QStringLiteral("The system database file."),
                                          QStringLiteral("file"));
    const QCommandLineOption serverOption(QStringLiteral("server"),
                                          QStringLiteral("The SQL Server that holds KVSYSTEM."),
                                          QStringLiteral("name"));
    const QCommandLineOption accountOption(
        QStringLiteral("account"),
        QStringLiteral("The account set numbers (3 characters each), or all."),
        QStringLiteral("ids"));
    const QCommandLineOption yearOption(QStringLiteral("year"),
                                        QStringLiteral("The years, or all of each account set."),
                                        QStringLiteral("years"));
    const QCommandLineOption checkOption(
        QStringLiteral("check"),
        QStringLiteral("A dry run: rebuild inside the transaction, report on standard output how "
                       "fa_Total differs (CSV) and roll everything back."));
    const QCommandLineOption changesOption(
        QStringLiteral("changes"), QStringLiteral("Also write the change report (CSV) into file."),
        QStringLiteral("file"));
    const QCommandLineOption passwordOption(
        QStringLiteral("password-stdin"),
        QStringLiteral("Read the sa password from the first line of standard input instead of "
                       "the saved setting."));
    const QList<QCommandLineOption> options{systemOption, serverOption,  accountOption, yearOption,
                                            checkOption,  changesOption, passwordOption};
    parser.addOptions(options);
    // Not process(): it ends the program with status 1 on an unknown option.
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    // Printed, never shown in a message box, which is what showHelp() does on
    // Windows for a program that has no console (started by a scheduler,
    // say), and which would wait there for a click.
    if (parser.isSet(helpOption)) {
        QString reason;
        if (writeStandardOutput(parser.helpText().toLocal8Bit(), &reason))
            return kCompleted;
        printLine(reason);
        return kStopped;
    }
    if (const QString problem = argumentProblem(parser, options); !problem.isEmpty())
        return usageError(problem);

    const bool fileMode = parser.isSet(systemOption);
    if (fileMode == parser.isSet(serverOption) || !parser.isSet(accountOption) ||
        !parser.isSet(yearOption) || (fileMode && parser.isSet(passwordOption))) {
        return usageError(
            QStringLiteral("give --system or --server, and --account and --year (see --help)"));
    }

    for (const QCommandLineOption &option : {accountOption, yearOption}) {
        if (!isSelection(parser.value(option)))
            return usageError(QStringLiteral("--%1 takes a value, a comma-separated list or all")
                                  .arg(option.names().first()));
    }

    // The report never lands on a database: not on one the run opens, nor
    // through a link to one, nor on any file that begins like one.
    if (parser.isSet(changesOption)) {
        const QStringList databases =
            fileMode ? QStringList{parser.value(systemOption)} : QStringList{};
        if (const QString problem = reportTargetProblem(parser.value(changesOption), databases);
            !problem.isEmpty())
            return usageError(problem);
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

    // Ctrl+C and SIGTERM stop the run at the next possible point: its
    // transaction is rolled back and the command says so.
    fa::platform().onTerminationRequest([] { fa::RequestStop(); });

    fa::CreateSharedObjects();
    fa::IsAccess = fileMode;
    if (fileMode) {
        // The file database is opened by its absolute path only: a relative
        // one is taken from the folder the command starts in.
        fa::SysConnStr =
            fa::JetConnPrefix +
            QDir::toNativeSeparators(QFileInfo(parser.value(systemOption)).absoluteFilePath());
    } else {
        fa::SysConnStr = fa::SqlServerSystemConnStr(parser.value(serverOption), password);
    }

    BatchRequest request;
    request.accounts = parser.value(accountOption);
    request.years = parser.value(yearOption);
    request.check = parser.isSet(checkOption);
    request.changesFile = parser.value(changesOption);
    request.progress = fa::platform().errorIsTerminal();
    const int status = RunRebuildBatch(request);
    fa::ReleaseSharedObjects();
    return status;
}
