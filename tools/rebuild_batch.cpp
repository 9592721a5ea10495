#include "tools/rebuild_batch.h"

#include "data/db_state.h"
#include "data/dialect.h"
#include "data/stop_request.h"
#include "ledger/account_year.h"
#include "ledger/recalc.h"
#include "ledger/restore_totals.h"
#include "ledger/run_history.h"
#include "platform/platform.h"
#include "tools/report_file.h"

#include <QStringList>

namespace {

class StderrUi final : public fa::RecalcUi
{
public:
    explicit StderrUi(bool progress) : m_progress(progress) {}

    // In a batch every line says which account-year it is about.
    QString prefix;
    // The messages of the current account-year, lock-wait notices left out:
    // the first one is what stopped it.
    QStringList shown;

    void showMessage(const QString &text) override
    {
        shown << text;
        print(text);
    }

    void runRecorded(qint64 id) override { m_recordId = id; }

    void runCompleted(const QString &text, const fa::ChangeReport &changes) override
    {
        showMessage(text);
        showMessage(changes.summary());
        if (m_recordId != 0)
            showMessage(QStringLiteral("原来的 fa_Total 已存为整理记录 %1（用 --restore %1 恢复）")
                            .arg(m_recordId));
        m_recordId = 0;
    }

    void periodDone(int period) override
    {
        if (!m_progress)
            return;
        fa::platform().writeError(QLatin1Char('\r') + prefix +
                                  QStringLiteral("已完成第 %1 期 / 12").arg(period));
        m_lineOpen = true;
    }

    void waitingForLock(int waitedMs) override
    {
        if (waitedMs == 0)
            print(QStringLiteral("数据库被其他程序占用，正在等待…"));
    }

private:
    void print(const QString &text)
    {
        if (m_lineOpen)
            fa::platform().writeError(QStringLiteral("\n"));
        m_lineOpen = false;
        for (const QString &line : text.split(QLatin1Char('\n')))
            printLine(prefix + line);
    }

    bool m_progress;
    bool m_lineOpen = false;
    qint64 m_recordId = 0;
};

struct AccountYear
{
    QString account;
    QString year;
    QString outcome; // for the closing lines; set beforehand when it cannot run
    bool completed = false;
    bool differs = false;

    // "001 2026", or "009" for an account set that has no years to run.
    QString name() const { return year.isEmpty() ? account : account + QLatin1Char(' ') + year; }
};

// The first column of a query on SysConn, in the order delivered.
QStringList firstColumn(const QString &sql)
{
    fa::SqlText = sql;
    if (!fa::RunSql(*fa::WorkRs, fa::SqlText, *fa::SysConn))
        fa::RaiseStepError(QStringLiteral("打开系统库错误"));
    QStringList values;
    while (!fa::WorkRs->Eof()) {
        values << fa::WorkRs->Fields(0).toString().trimmed();
        fa::WorkRs->MoveNext();
    }
    fa::WorkRs->Close();
    return values;
}

// The values of a list, each once, in the order first given.
QStringList listOf(const QString &selection)
{
    QStringList values;
    for (const QString &value : selection.split(QLatin1Char(','))) {
        if (!values.contains(value.trimmed()))
            values << value.trimmed();
    }
    return values;
}

bool openSystem()
{
    return fa::SysConn->State() == fa::adStateOpen || fa::OpenConn(*fa::SysConn, fa::SysConnStr);
}

QStringList yearsOf(const QString &account)
{
    return firstColumn(QStringLiteral("select distinct iYear from ua_period where cacc_id='") +
                       fa::DoubleQuotes(account) + QStringLiteral("' order by iYear"));
}

// Account sets in order, and for each its years ascending ("all"), or as
// given. What the system database does not know is named, never skipped.
QList<AccountYear> selection(const BatchRequest &request)
{
    const QStringList known =
        firstColumn(QStringLiteral("select cAcc_Id from UA_Account order by cAcc_Id"));
    const bool allAccounts = request.accounts == QLatin1String("all");
    if (allAccounts && known.isEmpty())
        fa::RaiseAppError(QStringLiteral("系统库的 UA_Account 中没有帐套"));
    QList<AccountYear> result;
    for (const QString &account : allAccounts ? known : listOf(request.accounts)) {
        if (!known.contains(account)) {
            result.append({account, QString(), QStringLiteral("没有帐套 ") + account});
            continue;
        }
        const QStringList stored = yearsOf(account);
        if (request.years == QLatin1String("all") && stored.isEmpty()) {
            result.append({account, QString(),
                           QStringLiteral("帐套 %1 在 ua_period 中没有期间").arg(account)});
            continue;
        }
        for (const QString &year :
             request.years == QLatin1String("all") ? stored : listOf(request.years)) {
            AccountYear item{account, year, {}};
            if (!stored.contains(year))
                item.outcome =
                    QStringLiteral("帐套 %1 在 ua_period 中没有 %2 年的期间").arg(account, year);
            result.append(item);
        }
    }
    return result;
}

void rebuildOne(AccountYear &item, const fa::RecalcOptions &options, StderrUi &ui)
{
    ui.shown.clear();
    try {
        // The period calendar closes the system database after each run.
        if (!openSystem())
            fa::RaiseStepError(QStringLiteral("打开数据库错误"));
        fa::AccConnStr = fa::ResolveAccountYear(item.account, item.year).connectionString;
    } catch (const fa::AppError &error) {
        ui.showMessage(fa::StopRequested() ? fa::kRunCancelledMessage : error.description());
    }
    if (ui.shown.isEmpty())
        item.completed = fa::RunRecalcCommand(item.account, item.year, ui, options);
    item.differs = item.completed && options.changes->differs();
    if (!item.completed)
        item.outcome = ui.shown.value(0).section(QLatin1Char('\n'), 0, 0);
    else if (options.dryRun)
        item.outcome = item.differs ? QStringLiteral("有差异") : QStringLiteral("一致");
    else
        item.outcome = QStringLiteral("完成");
}

// Where the change report goes: standard output for a check, the --changes
// file, or both. Each account-year's lines are written as soon as they are
// known (for the file: before the account-year commits), so nothing of a
// batch piles up in memory.
class ReportSinks
{
public:
    explicit ReportSinks(const BatchRequest &request) : m_request(request) {}

    // Before anything is opened: can the report file be written at all?
    bool open()
    {
        QString reason;
        if (m_request.changesFile.isEmpty() || m_file.open(m_request.changesFile, &reason))
            return true;
        printLine(fileProblem(reason));
        return false;
    }

    bool begin(const QByteArray &header)
    {
        QString reason;
        if (!m_request.changesFile.isEmpty() && !m_file.append(header, &reason)) {
            printLine(fileProblem(reason));
            return false;
        }
        return writeOutput(header);
    }

    // Before an account-year commits: the report file.
    bool toFile(const QByteArray &lines, QString *reason)
    {
        if (m_request.changesFile.isEmpty() || m_file.append(lines, reason))
            return true;
        *reason = fileProblem(*reason);
        return false;
    }

    // After a check: standard output.
    bool writeOutput(const QByteArray &bytes)
    {
        QString reason;
        if (!m_request.check || writeStandardOutput(bytes, &reason))
            return true;
        printLine(QStringLiteral("无法写出变动清单到标准输出\n") + reason);
        return false;
    }

    // The report file into place once something completed; a run where
    // nothing did leaves the target as it was.
    bool finish(bool anyCompleted)
    {
        if (m_request.changesFile.isEmpty())
            return true;
        if (!anyCompleted) {
            m_file.discard();
            return true;
        }
        QString reason;
        if (m_file.commit(&reason))
            return true;
        printLine(fileProblem(reason));
        return false;
    }

private:
    QString fileProblem(const QString &reason) const
    {
        return QStringLiteral("无法写入变动清单：") + m_request.changesFile + QLatin1Char('\n') +
               reason;
    }

    const BatchRequest &m_request;
    ReportFile m_file;
};

} // namespace

void printLine(const QString &text)
{
    fa::platform().writeError(text + QLatin1Char('\n'));
}

bool isSelection(const QString &text)
{
    if (text == QLatin1String("all"))
        return true;
    for (const QString &value : text.split(QLatin1Char(','))) {
        if (value.trimmed().isEmpty())
            return false;
    }
    return !text.isEmpty();
}

int RunRebuildBatch(const BatchRequest &request)
{
    StderrUi ui(request.progress);
    ReportSinks report(request);
    if (!report.open())
        return kStopped;
    if (!openSystem()) {
        ui.showMessage(fa::StopRequested()
                           ? fa::kRunCancelledMessage
                           : fa::WithFailureReason(QStringLiteral("打开数据库错误")));
        report.finish(false);
        return kStopped;
    }
    QList<AccountYear> items;
    try {
        items = selection(request);
    } catch (const fa::AppError &error) {
        ui.showMessage(error.description());
        report.finish(false);
        return kStopped;
    }

    // A batch names the account set and the year on every line it writes.
    const bool batch = items.size() != 1;
    const QStringList leadingColumns =
        batch ? QStringList{QStringLiteral("account"), QStringLiteral("year")} : QStringList{};
    if (!report.begin(fa::ChangeReport::csvHeader(leadingColumns).toUtf8())) {
        report.finish(false);
        return kStopped;
    }

    bool outputWritten = true;
    bool anyCompleted = false;
    for (AccountYear &item : items) {
        ui.prefix = batch ? QLatin1Char('[') + item.name() + QStringLiteral("] ") : QString();
        if (!item.outcome.isEmpty()) {
            ui.showMessage(item.outcome);
            continue;
        }
        if (fa::StopRequested() || !outputWritten) {
            item.outcome = fa::kRunCancelledMessage;
            continue;
        }
        const QStringList leading = batch ? QStringList{item.account, item.year} : QStringList{};
        fa::ChangeReport changes;
        fa::RecalcOptions options{request.check, &changes, {}};
        options.beforeCommit = [&](const fa::TotalsSnapshot &, const fa::ChangeReport &found,
                                   QString *reason) {
            return report.toFile(found.csvLines(leading).toUtf8(), reason);
        };
        rebuildOne(item, options, ui);
        anyCompleted = anyCompleted || item.completed;
        if (item.completed)
            outputWritten = report.writeOutput(changes.csvLines(leading).toUtf8());
    }
    ui.prefix.clear();

    bool allCompleted = report.finish(anyCompleted) && outputWritten;
    bool anyDiffers = false;
    for (const AccountYear &item : items) {
        if (batch)
            printLine(item.name() + QStringLiteral("：") + item.outcome);
        allCompleted = allCompleted && item.completed;
        anyDiffers = anyDiffers || item.differs;
    }
    if (!allCompleted)
        return kStopped;
    return request.check && anyDiffers ? kDiffers : kCompleted;
}

int RunRestore(const BatchRequest &request)
{
    StderrUi ui(request.progress);
    ReportSinks report(request);
    if (!report.open())
        return kStopped;
    fa::ChangeReport changes;
    AccountYear item;
    try {
        if (!openSystem())
            fa::RaiseAppError(fa::WithFailureReason(QStringLiteral("打开数据库错误")));
        // The account set and year must be known to the system database, as
        // for a run; then the record must be of their database.
        item = selection(request).value(0);
        if (!item.outcome.isEmpty())
            fa::RaiseAppError(item.outcome);
        fa::AccConnStr = fa::ResolveAccountYear(item.account, item.year).connectionString;
    } catch (const fa::AppError &error) {
        ui.showMessage(fa::StopRequested() ? fa::kRunCancelledMessage : error.description());
        report.finish(false);
        return kStopped;
    }
    if (!report.begin(fa::ChangeReport::csvHeader().toUtf8())) {
        report.finish(false);
        return kStopped;
    }
    fa::RecalcOptions options{request.check, &changes, {}};
    options.beforeCommit = [&](const fa::TotalsSnapshot &, const fa::ChangeReport &found,
                               QString *reason) {
        return report.toFile(found.csvLines().toUtf8(), reason);
    };
    const fa::RestoreResult result =
        fa::RunRestoreCommand(item.account, item.year, request.restoreId, ui, options);
    const bool completed = result == fa::RestoreResult::Completed;
    const bool written =
        (!completed || report.writeOutput(changes.csvLines().toUtf8())) && report.finish(completed);
    if (result == fa::RestoreResult::Refused)
        return kUsage;
    if (!completed || !written)
        return kStopped;
    return request.check && changes.differs() ? kDiffers : kCompleted;
}

int PrintHistory(const BatchRequest &request)
{
    const auto chosen = [](const QString &selection) {
        return selection == QLatin1String("all") ? QStringList() : listOf(selection);
    };
    QList<fa::RunRecord> runs;
    QString reason;
    if (!fa::listRuns(chosen(request.accounts), chosen(request.years), &runs, &reason)) {
        printLine(reason);
        return kStopped;
    }
    // Written whole or said to have failed: a pipe that closes early is told.
    QByteArray text = (fa::historyCsvHeader() + QStringLiteral("\r\n")).toUtf8();
    for (const fa::RunRecord &run : std::as_const(runs))
        text += (fa::historyCsvLine(run) + QStringLiteral("\r\n")).toUtf8();
    if (writeStandardOutput(text, &reason))
        return kCompleted;
    printLine(QStringLiteral("无法写出整理记录到标准输出\n") + reason);
    return kStopped;
}
