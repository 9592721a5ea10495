#include "fixtures.h"

#include "data/app_error.h"
#include "data/dialect.h"
#include "data/provider.h"
#include "ledger/periods.h"
#include "ledger/sql_strings.h"
#include "tools/ledger_schema.h"

#include <algorithm>

namespace fa::test {

namespace {

StatementLog &currentLog()
{
    static StatementLog log;
    return log;
}

// Reading back what a test expects is not part of what the code under test
// sent.
bool &recordingPaused()
{
    static bool paused = false;
    return paused;
}

class PauseRecording
{
public:
    PauseRecording() : m_was(recordingPaused()) { recordingPaused() = true; }
    ~PauseRecording() { recordingPaused() = m_was; }

private:
    bool m_was;
};

void pass(const QString &sql)
{
    if (recordingPaused())
        return;
    StatementLog &log = currentLog();
    log.sent << sql;
    if (log.failWith) {
        if (const qint32 number = log.failWith(sql)) {
            ++log.failures;
            throw AppError(number, QStringLiteral("statement made to fail: ") + sql);
        }
    }
}

// The real provider with a recorder in front of it.
class SpyProvider final : public Provider
{
public:
    explicit SpyProvider(std::unique_ptr<Provider> inner) : m_inner(std::move(inner)) {}

    void open(const QString &connectionString) override { m_inner->open(connectionString); }
    void close() override { m_inner->close(); }
    bool isOpen() const override { return m_inner->isOpen(); }
    void execute(const QString &sql) override
    {
        pass(sql);
        m_inner->execute(sql);
    }
    std::unique_ptr<Cursor> query(const QString &sql) override
    {
        pass(sql);
        return m_inner->query(sql);
    }
    void beginTransaction() override { m_inner->beginTransaction(); }
    // A rule may fail the commit as the statement "COMMIT"; it is not logged.
    void commitTransaction() override
    {
        StatementLog &log = currentLog();
        if (const qint32 number = log.failWith ? log.failWith(QStringLiteral("COMMIT")) : 0) {
            ++log.failures;
            throw AppError(number, QStringLiteral("commit made to fail"));
        }
        m_inner->commitTransaction();
    }
    void rollbackTransaction() override { m_inner->rollbackTransaction(); }

private:
    std::unique_ptr<Provider> m_inner;
};

QString sqlValue(const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        return value.toString();
    default:
        return sample::sqlText(value.toString());
    }
}

QVariant textOrNull(const QString &text)
{
    return text.isNull() ? QVariant() : QVariant(text);
}

} // namespace

QDateTime at(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(0, 0));
}

QString day(int year, int month, int day)
{
    return sample::storedDate(year, month, day);
}

void setMonthlyPeriods(int year, int first)
{
    Periods.resize(first, 12);
    for (int i = first; i <= 12; ++i) {
        const QDate begin(year, i, 1);
        Periods[i].BeginDate = QDateTime(begin, QTime(0, 0));
        Periods[i].EndDate = QDateTime(begin.addMonths(1).addDays(-1), QTime(0, 0));
    }
}

namespace {

// Scopes nest: a test may hold a system database and an account-year
// database at once; the first scope sets the state up, the last one puts it
// back.
int &liveScopes()
{
    static int count = 0;
    return count;
}

void resetLedgerState()
{
    ResetDbState();
    Periods.clear();
    FaStartDate = ZeroDate();
    currentLog() = StatementLog();
}

} // namespace

DbStateScope::DbStateScope()
{
    if (liveScopes()++ > 0)
        return;
    resetLedgerState();
    CreateSharedObjects();
    setProviderFactory([](const QString &connectionString) -> std::unique_ptr<Provider> {
        return std::make_unique<SpyProvider>(createDefaultProvider(connectionString));
    });
}

DbStateScope::~DbStateScope()
{
    if (--liveScopes() > 0)
        return;
    resetLedgerState();
    setProviderFactory({});
}

StatementLog &DbStateScope::log()
{
    return currentLog();
}

void DbStateScope::failStatements(const QString &fragment, qint32 number, int times)
{
    auto left = std::make_shared<int>(times);
    currentLog().failWith = [fragment, number, left](const QString &sql) -> qint32 {
        if (*left == 0 || !sql.contains(fragment, Qt::CaseInsensitive))
            return 0;
        if (*left > 0)
            --*left;
        return number;
    };
}

AccountYearDb::AccountYearDb(bool withWorkTables)
    : m_path(m_dir.filePath(QStringLiteral("kvdata.mdb")))
{
    IsAccess = true;
    PauseRecording pause;
    sample::createAccountYearDatabase(m_path, *AccConn);
    if (withWorkTables)
        createWorkTables();
}

QString AccountYearDb::connectionString() const
{
    return sample::jetConnectionString(m_path);
}

void AccountYearDb::exec(const QString &sql)
{
    PauseRecording pause;
    AccConn->Execute(sql);
}

void AccountYearDb::createWorkTables()
{
    exec(LoadSqlString(CreateFqFile));
    exec(LoadSqlString(CreateFqsumFile));
}

void AccountYearDb::insert(const QString &table, const QVariantMap &values)
{
    QStringList names;
    QStringList texts;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        names << it.key();
        texts << sqlValue(it.value());
    }
    exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
             .arg(table, names.join(QLatin1Char(',')), texts.join(QLatin1Char(','))));
}

void AccountYearDb::addCard(const Card &card)
{
    insert(QStringLiteral("fa_Cards"),
           {
               {QStringLiteral("sCardID"), card.id},
               {QStringLiteral("sCardNum"), card.num},
               {QStringLiteral("sDeptNum"), textOrNull(card.dept)},
               {QStringLiteral("sTypeNum"), textOrNull(card.type)},
               {QStringLiteral("dblValue"), card.value},
               {QStringLiteral("dInputDate"), textOrNull(card.input)},
               {QStringLiteral("dTransDate"), textOrNull(card.trans)},
               {QStringLiteral("dDisposeDate"), textOrNull(card.dispose)},
               {QStringLiteral("iOptType"), card.opt},
               {QStringLiteral("sVouchernum"), textOrNull(card.voucher)},
               {QStringLiteral("sEvaluateNum"), textOrNull(card.evaluate)},
               {QStringLiteral("dblTransInDeprTCard"), card.inDT},
               {QStringLiteral("dblTransOutDeprTCard"), card.outDT},
           });
}

void AccountYearDb::addDepr(const QString &cardNum, const QVariantMap &columns)
{
    QVariantMap values = columns;
    values.insert(QStringLiteral("sCardNum"), cardNum);
    insert(QStringLiteral("fa_DeprTransactions"), values);
}

void AccountYearDb::addWorkLoad(const QString &cardNum, const QVariantMap &columns)
{
    QVariantMap values = columns;
    values.insert(QStringLiteral("sCardNum"), cardNum);
    insert(QStringLiteral("fa_WorkLoad"), values);
}

void AccountYearDb::addVoucher(const QString &snum, const QString &valueBefore)
{
    insert(QStringLiteral("fa_Vouchers"),
           {{QStringLiteral("snum"), snum}, {QStringLiteral("sBeforeVoucher"), valueBefore}});
}

void AccountYearDb::addEvaluation(const QString &snum, double valueBefore)
{
    insert(QStringLiteral("fa_EvaluateVouchers"),
           {{QStringLiteral("snum"), snum}, {QStringLiteral("dblValueBefore"), valueBefore}});
}

void AccountYearDb::addTotalRow(const QString &dept, const QString &type, int period,
                                const QVariantMap &columns)
{
    QVariantMap values;
    for (const QString &name : totalColumns().mid(3))
        values.insert(name, 0);
    for (auto it = columns.cbegin(); it != columns.cend(); ++it)
        values.insert(it.key(), it.value());
    values.insert(QStringLiteral("sDeptNum"), dept);
    values.insert(QStringLiteral("sTypeNum"), type);
    values.insert(QStringLiteral("iPeriod"), period);
    insert(QStringLiteral("fa_Total"), values);
}

QList<QVariantMap> AccountYearDb::select(const QStringList &columns, const QString &rest)
{
    PauseRecording pause;
    QList<QVariantMap> result;
    Recordset rs;
    rs.Open(QStringLiteral("SELECT ") + columns.join(QLatin1Char(',')) + QLatin1Char(' ') + rest,
            *AccConn);
    if (rs.State() != adStateOpen)
        return result;
    while (!rs.Eof()) {
        QVariantMap row;
        for (int i = 0; i < columns.size(); ++i)
            row.insert(columns.at(i), rs.Fields(i));
        result << row;
        rs.MoveNext();
    }
    rs.Close();
    return result;
}

QVariantMap AccountYearDb::totalRow(const QString &dept, const QString &type, int period)
{
    const QList<QVariantMap> found =
        select(totalColumns(),
               QStringLiteral("FROM fa_Total WHERE sDeptNum=%1 AND sTypeNum=%2 AND iPeriod=%3")
                   .arg(sample::sqlText(dept), sample::sqlText(type))
                   .arg(period));
    return found.isEmpty() ? QVariantMap() : found.first();
}

QVariantMap AccountYearDb::fqsumRow(const QString &dept, const QString &type, int period)
{
    static const QStringList columns = {
        QStringLiteral("C"),       QStringLiteral("V"),        QStringLiteral("MV"),
        QStringLiteral("V0"),      QStringLiteral("DT"),       QStringLiteral("DT0"),
        QStringLiteral("D"),       QStringLiteral("WT0"),      QStringLiteral("W0"),
        QStringLiteral("InDT"),    QStringLiteral("OutDT"),    QStringLiteral("WT"),
        QStringLiteral("W"),       QStringLiteral("sDeptNum"), QStringLiteral("sTypeNum"),
        QStringLiteral("iperiod"),
    };
    // The file database's fqsum keeps department and type as nchar(20).
    const QList<QVariantMap> found =
        select(columns, QStringLiteral("FROM fqsum WHERE trim(sDeptNum)=%1 AND trim(sTypeNum)=%2 "
                                       "AND iperiod=%3")
                            .arg(sample::sqlText(dept), sample::sqlText(type))
                            .arg(period));
    return found.isEmpty() ? QVariantMap() : found.first();
}

int AccountYearDb::count(const QString &table)
{
    const QList<QVariantMap> found =
        select({QStringLiteral("count(*)")}, QStringLiteral("FROM ") + table);
    return found.isEmpty() ? -1 : found.first().value(QStringLiteral("count(*)")).toInt();
}

QStringList AccountYearDb::fqIds()
{
    QStringList ids;
    for (const QVariantMap &row : select({QStringLiteral("sID")}, QStringLiteral("FROM fq")))
        ids << row.value(QStringLiteral("sID")).toString().trimmed();
    std::sort(ids.begin(), ids.end(), [](const QString &a, const QString &b) {
        return a.toDouble() < b.toDouble() || (a.toDouble() == b.toDouble() && a < b);
    });
    return ids;
}

SystemDb::SystemDb() : m_path(m_dir.filePath(QStringLiteral("kvsystem.mdb")))
{
    PauseRecording pause;
    sample::createSystemDatabase(m_path, *SysConn);
}

void SystemDb::addPeriod(const QString &account, int year, int iid, const QString &begin,
                         const QString &end)
{
    PauseRecording pause;
    SysConn->Execute(
        QStringLiteral("INSERT INTO UA_Period (cAcc_Id, iYear, iId, dBegin, dEnd) VALUES "
                       "(%1, %2, %3, %4, %5)")
            .arg(sample::sqlText(account))
            .arg(year)
            .arg(iid)
            .arg(sqlValue(textOrNull(begin)), sqlValue(textOrNull(end))));
}

void SystemDb::addMonthlyPeriods(const QString &account, int year, int from, int to)
{
    for (int i = from; i <= to; ++i) {
        const QDate begin(year, i, 1);
        addPeriod(account, year, i, sample::storedDate(year, i, 1),
                  sample::storedDate(QDateTime(begin.addMonths(1).addDays(-1), QTime(0, 0))));
    }
}

bool SystemDb::reopen()
{
    return OpenConn(*SysConn, sample::jetConnectionString(m_path));
}

QStringList totalColumns()
{
    return {
        QStringLiteral("sDeptNum"),
        QStringLiteral("sTypeNum"),
        QStringLiteral("iPeriod"),
        QStringLiteral("lMonthCount"),
        QStringLiteral("lCount"),
        QStringLiteral("dblYearValue"),
        QStringLiteral("dblYearDeprTotal"),
        QStringLiteral("dblLastAccrualValue"),
        QStringLiteral("dblLastDepr"),
        QStringLiteral("dblLastAddValue"),
        QStringLiteral("dblLastDecValue"),
        QStringLiteral("dblLastWork"),
        QStringLiteral("dblLastWorkTotal"),
        QStringLiteral("dblWork"),
        QStringLiteral("dblWorkT"),
        QStringLiteral("dblMonthValue"),
        QStringLiteral("dblValue"),
        QStringLiteral("dblMonthDeprTotal"),
        QStringLiteral("dblDeprTotal"),
        QStringLiteral("dblAddValue"),
        QStringLiteral("dblDecValue"),
        QStringLiteral("dblTransInDeprTotal"),
        QStringLiteral("dblTransOutDeprTotal"),
        QStringLiteral("dblAccrualValue"),
        QStringLiteral("dblDepr"),
    };
}

} // namespace fa::test
