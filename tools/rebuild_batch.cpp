#include "tools/rebuild_batch.h"

#include "data/db_state.h"
#include "data/dialect.h"
#include "data/stop_request.h"
#include "ledger/account_year.h"
#include "ledger/recalc.h"
#include "platform/platform.h"

#include <QFile>
#include <QStringList>
#include <cstdio>
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace {

class StderrUi final : public fa::RecalcUi
{
public:
    explicit StderrUi(bool progress) : m_progress(progress) {}

    // In a batch every line says which account-year it is about.
    QString prefix;
    QStringList shown;

    void showMessage(const QString &text) override
    {
        endProgressLine();
        shown << text;
        for (const QString &line : text.split(QLatin1Char('\n')))
            printLine(prefix + line);
    }

    void runCompleted(const QString &text, const fa::ChangeReport &changes) override
    {
        showMessage(text);
        showMessage(changes.summary());
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
            showMessage(QStringLiteral("数据库被其他程序占用，正在等待…"));
    }

private:
    void endProgressLine()
    {
        if (m_lineOpen)
            fa::platform().writeError(QStringLiteral("\n"));
        m_lineOpen = false;
    }

    bool m_progress;
    bool m_lineOpen = false;
};

struct AccountYear
{
    QString account;
    QString year;
    QString outcome; // for the closing lines
    bool completed = false;
    bool differs = false;
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

QStringList listOf(const QString &selection)
{
    QStringList values;
    for (const QString &value : selection.split(QLatin1Char(',')))
        values << value.trimmed();
    return values;
}

bool openSystem()
{
    return fa::SysConn->State() == fa::adStateOpen || fa::OpenConn(*fa::SysConn, fa::SysConnStr);
}

// Account sets in order, and for each its years ascending ("all"), or as given.
QList<AccountYear> selection(const BatchRequest &request)
{
    QList<AccountYear> result;
    const QStringList accounts =
        request.accounts == QLatin1String("all")
            ? firstColumn(QStringLiteral("select cAcc_Id from UA_Account order by cAcc_Id"))
            : listOf(request.accounts);
    for (const QString &account : accounts) {
        const QStringList years =
            request.years == QLatin1String("all")
                ? firstColumn(
                      QStringLiteral("select distinct iYear from ua_period where cacc_id='") +
                      fa::DoubleQuotes(account) + QStringLiteral("' order by iYear"))
                : listOf(request.years);
        for (const QString &year : years)
            result.append({account, year, {}, false, false});
    }
    return result;
}

void rebuildOne(AccountYear &item, const BatchRequest &request, StderrUi &ui,
                fa::ChangeReport &changes)
{
    ui.shown.clear();
    try {
        // The period calendar closes the system database after each run.
        if (!openSystem())
            fa::RaiseStepError(QStringLiteral("打开数据库错误"));
        fa::AccConnStr = fa::ResolveAccountYear(item.account, item.year).connectionString;
    } catch (const fa::AppError &error) {
        ui.showMessage(error.description());
        item.outcome = error.description().section(QLatin1Char('\n'), 0, 0);
        return;
    }
    item.completed = fa::RunRecalcCommand(item.account, item.year, ui, {request.check, &changes});
    item.differs = item.completed && changes.differs();
    if (!item.completed)
        item.outcome = ui.shown.value(0).section(QLatin1Char('\n'), 0, 0);
    else if (request.check)
        item.outcome = item.differs ? QStringLiteral("有差异") : QStringLiteral("一致");
    else
        item.outcome = QStringLiteral("完成");
}

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
    if (!openSystem()) {
        ui.showMessage(fa::StopRequested()
                           ? fa::kRunCancelledMessage
                           : fa::WithFailureReason(QStringLiteral("打开数据库错误")));
        return kStopped;
    }
    QList<AccountYear> items;
    try {
        items = selection(request);
    } catch (const fa::AppError &error) {
        ui.showMessage(error.description());
        return kStopped;
    }

    // A batch names the account set and the year on every line it writes.
    const bool batch = items.size() != 1;
    const QStringList leadingColumns =
        batch ? QStringList{QStringLiteral("account"), QStringLiteral("year")} : QStringList{};
    QString csv = fa::ChangeReport::csvHeader(leadingColumns);
    for (AccountYear &item : items) {
        if (fa::StopRequested()) {
            item.outcome = fa::kRunCancelledMessage;
            continue;
        }
        ui.prefix = batch ? QStringLiteral("[%1 %2] ").arg(item.account, item.year) : QString();
        fa::ChangeReport changes;
        rebuildOne(item, request, ui, changes);
        if (item.completed)
            csv += changes.csvLines(batch ? QStringList{item.account, item.year} : QStringList{});
    }
    ui.prefix.clear();

    if (request.check) {
#ifdef Q_OS_WIN
        // The report carries its own CRLF line ends: a console's text mode
        // would write CR CR LF.
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        std::fputs(csv.toUtf8().constData(), stdout);
        std::fflush(stdout);
    }
    bool written = true;
    if (!request.changesFile.isEmpty()) {
        QFile file(request.changesFile);
        written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                  file.write(csv.toUtf8()) >= 0 && file.flush();
        if (!written)
            printLine(QStringLiteral("无法写入变动清单：") + request.changesFile +
                      QLatin1Char('\n') + file.errorString());
    }

    bool allCompleted = written;
    bool anyDiffers = false;
    for (const AccountYear &item : items) {
        if (batch)
            printLine(QStringLiteral("%1 %2：%3").arg(item.account, item.year, item.outcome));
        allCompleted = allCompleted && item.completed;
        anyDiffers = anyDiffers || item.differs;
    }
    if (!allCompleted)
        return kStopped;
    return request.check && anyDiffers ? kDiffers : kCompleted;
}
