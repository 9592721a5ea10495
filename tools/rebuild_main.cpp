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
#include <algorithm>
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

const QString kUsageHint = QStringLiteral(
    "用法：fatotal-rebuild --system <kvsystem.mdb> --account <帐套号> --year <年度> "
    "[--restore <记录号>] [--check] [--changes <文件>]\n"
    "      fatotal-rebuild --server <服务器> [--password-stdin] --account <帐套号> --year <年度> "
    "[--restore <记录号>] [--check] [--changes <文件>]\n"
    "      fatotal-rebuild --history [--account <帐套号>] [--year <年度>]");

// Where the history is kept, as the help names it.
QString stateFolderHint()
{
#ifdef Q_OS_WIN
    return QStringLiteral("%FATOTAL_STATE_DIR% 或 %LOCALAPPDATA%\\fatotal");
#else
    return QStringLiteral("$FATOTAL_STATE_DIR 或 ${XDG_STATE_HOME:-~/.local/state}/fatotal");
#endif
}

// Wrong arguments: what is wrong, then how it is called.
int usageError(const QString &problem)
{
    printLine(QStringLiteral("fatotal-rebuild: ") + problem);
    printLine(kUsageHint);
    return kUsage;
}

// Columns a terminal gives the text: Chinese characters take two.
qsizetype displayWidth(const QString &text)
{
    qsizetype width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x1100 ? 2 : 1;
    return width;
}

// Our own help, in the operators' language; QCommandLineParser's would be
// English and would offer Qt's own options.
QString helpText(const QList<QCommandLineOption> &options)
{
    QString text = kUsageHint + QStringLiteral("\n\n"
                                               "重新整理（用 --check 时只比较）帐套年度的 "
                                               "fa_Total。\n"
                                               "<帐套号> 和 <年度>：一个值、以逗号分隔的列表，或 "
                                               "all。每个帐套年度各在一个事务中整理。\n\n"
                                               "选项：\n");
    constexpr qsizetype kNameColumn = 24;
    for (const QCommandLineOption &option : options) {
        QStringList names;
        for (const QString &name : option.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString left = QStringLiteral("  ") + names.join(QStringLiteral(", "));
        if (!option.valueName().isEmpty())
            left += QStringLiteral(" <%1>").arg(option.valueName());
        const qsizetype pad = std::max<qsizetype>(kNameColumn - displayWidth(left), 2);
        text += left + QString(pad, QLatin1Char(' ')) + option.description() + QLatin1Char('\n');
    }
    text += QStringLiteral("\n每次整理（不含 --check）都记入整理记录，连同整理前的 fa_Total；"
                           "记录在 %1 的 history.db 中，每个数据库的每个帐套年度保留最近 50 次。\n"
                           "\n退出状态：0 全部整理完毕（用 --check 时：fa_Total 一致），"
                           "1 检查或整理中止，2 参数错误或记录不属于这个帐套年度，"
                           "3 --check 发现差异。\n")
                .arg(stateFolderHint());
    return text;
}

// What QCommandLineParser refused, said in Chinese: its own text is English.
QString parseProblem(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().first();
        return QStringLiteral("没有选项 %1%2")
            .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
    }
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    // "--check=yes": a value given to an option that takes none.
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            break;
        const qsizetype assign = argument.indexOf(QLatin1Char('='));
        if (!argument.startsWith(QLatin1Char('-')) || assign < 0)
            continue;
        QString name = argument.left(assign);
        while (name.startsWith(QLatin1Char('-')))
            name.remove(0, 1);
        for (const QCommandLineOption &option : options) {
            if (option.valueName().isEmpty() && option.names().contains(name))
                return QStringLiteral("%1 不带值").arg(argument.left(assign));
        }
    }
    // Otherwise the last option wanted a value and the line ended.
    return QStringLiteral("%1 缺少值").arg(arguments.value(arguments.size() - 1));
}

// What is wrong with the arguments, or empty text. Each option is given
// once, with a value where it takes one; nothing else stands on the line.
QString argumentProblem(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("多余的参数：%1").arg(parser.positionalArguments().first());
    for (const QCommandLineOption &option : options) {
        const QString name = option.names().first();
        if (parser.optionNames().count(name) > 1)
            return QStringLiteral("--%1 给了不止一次").arg(name);
        if (!option.valueName().isEmpty() && parser.isSet(option) && parser.value(option).isEmpty())
            return QStringLiteral("--%1 缺少值").arg(name);
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fatotal-rebuild"));

    QCommandLineParser parser;
    const QCommandLineOption systemOption(QStringLiteral("system"),
                                          QStringLiteral("文件安装的系统库（kvsystem.mdb）。"),
                                          QStringLiteral("文件"));
    const QCommandLineOption serverOption(QStringLiteral("server"),
                                          QStringLiteral("存放 KVSYSTEM 的 SQL Server。"),
                                          QStringLiteral("服务器"));
    const QCommandLineOption accountOption(QStringLiteral("account"),
                                           QStringLiteral("帐套号（每个 3 个字符），或 all。"),
                                           QStringLiteral("帐套号"));
    const QCommandLineOption yearOption(QStringLiteral("year"),
                                        QStringLiteral("年度，或 all：每个帐套的全部年度。"),
                                        QStringLiteral("年度"));
    const QCommandLineOption checkOption(
        QStringLiteral("check"), QStringLiteral("试运行：在事务中整理，把 fa_Total 的差异（CSV）"
                                                "写到标准输出，然后全部回滚。"));
    const QCommandLineOption changesOption(QStringLiteral("changes"),
                                           QStringLiteral("另把变动清单（CSV）写入文件。"),
                                           QStringLiteral("文件"));
    const QCommandLineOption restoreOption(
        QStringLiteral("restore"),
        QStringLiteral("把整理记录 <记录号> 所替换的 fa_Total 写回（帐套号和年度各一个值）。"),
        QStringLiteral("记录号"));
    const QCommandLineOption historyOption(
        QStringLiteral("history"),
        QStringLiteral("把整理记录（CSV，新的在前）写到标准输出；可用 --account、--year 筛选。"));
    const QCommandLineOption passwordOption(
        QStringLiteral("password-stdin"),
        QStringLiteral("从标准输入的第一行读 SA口令，不用保存的口令。"));
    const QCommandLineOption helpOption(
#ifdef Q_OS_WIN
        {QStringLiteral("?"), QStringLiteral("h"), QStringLiteral("help")},
#else
        {QStringLiteral("h"), QStringLiteral("help")},
#endif
        QStringLiteral("显示本说明并退出。"));
    const QList<QCommandLineOption> options{systemOption,  serverOption,  accountOption,
                                            yearOption,    checkOption,   changesOption,
                                            restoreOption, historyOption, passwordOption};
    parser.addOptions(options);
    parser.addOption(helpOption);
    // Not process(): it ends the program with status 1 on an unknown option.
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parseProblem(parser, options + QList{helpOption}));
    // Printed, never shown in a message box, which is what showHelp() does on
    // Windows for a program that has no console (started by a scheduler,
    // say), and which would wait there for a click.
    if (parser.isSet(helpOption)) {
        QString reason;
        if (writeStandardOutput(helpText(options + QList{helpOption}).toLocal8Bit(), &reason))
            return kCompleted;
        printLine(reason);
        return kStopped;
    }
    if (const QString problem = argumentProblem(parser, options); !problem.isEmpty())
        return usageError(problem);

    for (const QCommandLineOption &option : {accountOption, yearOption}) {
        if (parser.isSet(option) && !isSelection(parser.value(option)))
            return usageError(QStringLiteral("--%1 的值是一个值、以逗号分隔的列表或 all")
                                  .arg(option.names().first()));
    }

    // The history needs no database: it is the user's own file.
    if (parser.isSet(historyOption)) {
        for (const QCommandLineOption &option : options) {
            if (parser.isSet(option) && option.names() != historyOption.names() &&
                option.names() != accountOption.names() && option.names() != yearOption.names())
                return usageError(
                    QStringLiteral("--history 只与 --account、--year 同用（见 --help）"));
        }
        BatchRequest request;
        request.accounts =
            parser.isSet(accountOption) ? parser.value(accountOption) : QStringLiteral("all");
        request.years = parser.isSet(yearOption) ? parser.value(yearOption) : QStringLiteral("all");
        return PrintHistory(request);
    }

    qint64 restoreId = 0;
    if (parser.isSet(restoreOption)) {
        bool number = false;
        restoreId = parser.value(restoreOption).toLongLong(&number);
        if (!number || restoreId <= 0)
            return usageError(QStringLiteral("--restore 的值是整理记录的记录号（见 --history）"));
        for (const QCommandLineOption &option : {accountOption, yearOption}) {
            const QString value = parser.value(option);
            if (value == QLatin1String("all") || value.contains(QLatin1Char(',')))
                return usageError(QStringLiteral("--restore 只恢复一个帐套年度：--%1 只给一个值")
                                      .arg(option.names().first()));
        }
    }

    const bool fileMode = parser.isSet(systemOption);
    if (fileMode == parser.isSet(serverOption) || !parser.isSet(accountOption) ||
        !parser.isSet(yearOption) || (fileMode && parser.isSet(passwordOption))) {
        return usageError(
            QStringLiteral("要给出 --system 或 --server 之一，以及 --account 和 --year；"
                           "--password-stdin 只用于 --server（见 --help）"));
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
            return usageError(
                QStringLiteral("标准输入上的口令超过 %1 字节").arg(kMaxPasswordBytes));
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
    request.restoreId = restoreId;
    const int status = restoreId != 0 ? RunRestore(request) : RunRebuildBatch(request);
    fa::ReleaseSharedObjects();
    return status;
}
