#pragma once

// Shared fixtures: real account-year and system databases in the file-database
// form, built in a temporary folder and opened through the program-wide state
// (AccConn, SysConn), with a provider in between that records what is sent
// and can make chosen statements fail.

#include "data/db_state.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>
#include <functional>

namespace fa::test {

// A day at midnight, and the text the file database stores for it.
QDateTime at(int year, int month, int day);
QString day(int year, int month, int day);

// The 25 columns of fa_Total, keys first.
QStringList totalColumns();

// Sets Periods to monthly periods first..12 of a year (the 1st to the last day
// of each month, at midnight).
void setMonthlyPeriods(int year, int first);

// What went through the connections while a fixture was alive, and which
// statements fail. A rule answers the error number a statement fails with,
// or 0 to let it run.
struct StatementLog
{
    QStringList sent;
    std::function<qint32(const QString &sql)> failWith;
    int failures = 0; // statements made to fail so far
};

// Clears the program-wide state and creates the shared objects; puts every
// global the ledger uses (Periods, FaStartDate, the provider factory) back at
// the end. Scopes nest: a system database and an account-year database can be
// alive together, sharing one state and one log.
class DbStateScope
{
public:
    DbStateScope();
    ~DbStateScope();
    DbStateScope(const DbStateScope &) = delete;
    DbStateScope &operator=(const DbStateScope &) = delete;

    StatementLog &log();
    // Makes every statement that contains `fragment` (in any letter case) fail
    // with `number`, the first `times` times (or always for -1).
    void failStatements(const QString &fragment, qint32 number, int times = -1);

protected:
    QTemporaryDir m_dir;
};

// One card record of fa_Cards; a null text leaves the column null.
struct Card
{
    QString id = {};
    QString num = {};
    QString dept = QStringLiteral("D1");
    QString type = QStringLiteral("T1");
    double value = 0;
    QString input = {}; // dates as day() makes them
    QString trans = {};
    QString dispose = {};
    int opt = 0;
    QString voucher = {};
    QString evaluate = {};
    double inDT = 0;
    double outDT = 0;
};

// An account-year database with the ledger tables (per-period families 0 to
// 12), opened in AccConn in the file-database mode (IsAccess true).
class AccountYearDb : public DbStateScope
{
public:
    explicit AccountYearDb(bool withWorkTables = true);

    QString path() const { return m_path; }
    // For AccConnStr.
    QString connectionString() const;
    // Executes on AccConn without recording.
    void exec(const QString &sql);
    // fq and fqsum as the file database defines them.
    void createWorkTables();

    void insert(const QString &table, const QVariantMap &values);
    void addCard(const Card &card);
    // Per-period figures of a card, by column name ("dblDeprT4", "dblWork5", …).
    void addDepr(const QString &cardNum, const QVariantMap &columns = {});
    void addWorkLoad(const QString &cardNum, const QVariantMap &columns = {});
    void addVoucher(const QString &snum, const QString &valueBefore);
    void addEvaluation(const QString &snum, double valueBefore);
    // A fa_Total row with every figure 0 but those given.
    void addTotalRow(const QString &dept, const QString &type, int period,
                     const QVariantMap &columns = {});

    // "SELECT <columns> <rest>", each row keyed by the names in `columns`.
    QList<QVariantMap> select(const QStringList &columns, const QString &rest);
    // The row of fa_Total or fqsum for a department, type and period (empty
    // map when there is none).
    QVariantMap totalRow(const QString &dept, const QString &type, int period);
    QVariantMap fqsumRow(const QString &dept, const QString &type, int period);
    int count(const QString &table);
    // The ids in fq, blanks trimmed, sorted by number.
    QStringList fqIds();

private:
    QString m_path;
};

// A system database with ua_period, opened in SysConn.
class SystemDb : public DbStateScope
{
public:
    SystemDb();

    // One ua_period row; null texts leave dbegin or dend null.
    void addPeriod(const QString &account, int year, int iid, const QString &begin,
                   const QString &end);
    // Monthly periods from..to of a year.
    void addMonthlyPeriods(const QString &account, int year, int from = 1, int to = 12);
    bool reopen();

private:
    QString m_path;
};

} // namespace fa::test
