#include "rebuild_fixture.h"

#include "data/app_error.h"

#include <QFile>
#include <memory>
#include <sqlite3.h>

namespace fa::test {

void RecordingUi::showMessage(const QString &text)
{
    messages << text;
    events << QStringLiteral("message:") + text;
}

void RecordingUi::setBusy(bool busy)
{
    events << (busy ? QStringLiteral("busy:on") : QStringLiteral("busy:off"));
}

void RecordingUi::enableRun()
{
    events << QStringLiteral("enableRun");
}

void RecordingUi::periodDone(int period)
{
    periods << period;
    events << QStringLiteral("period:%1").arg(period);
}

namespace {

struct SqliteCloser
{
    void operator()(sqlite3 *db) const { sqlite3_close(db); }
};
struct StatementFinalizer
{
    void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Opened read-write (never created) so that SQLite can roll back a journal
// that a killed writer left behind, as any later opener would.
SqliteHandle openFile(const QString &path)
{
    if (!QFile::exists(path))
        throw AppError(kProviderFailure, QStringLiteral("no such file: ") + path);
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    SqliteHandle db(raw);
    if (rc != SQLITE_OK)
        throw AppError(kProviderFailure, QString::fromUtf8(sqlite3_errstr(rc)));
    return db;
}

QList<QStringList> rowsOf(sqlite3 *db, const QString &sql, QStringList *names = nullptr)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &raw, nullptr) != SQLITE_OK)
        throw AppError(kProviderFailure, QString::fromUtf8(sqlite3_errmsg(db)));
    StatementHandle stmt(raw);
    const int columns = sqlite3_column_count(raw);
    if (names) {
        for (int i = 0; i < columns; ++i)
            *names << QString::fromUtf8(sqlite3_column_name(raw, i));
    }
    QList<QStringList> rows;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        QStringList row;
        for (int i = 0; i < columns; ++i) {
            const auto text = reinterpret_cast<const char *>(sqlite3_column_text(raw, i));
            row << QString::fromUtf8(text ? text : "");
        }
        rows << row;
    }
    if (rc != SQLITE_DONE)
        throw AppError(kProviderFailure, QString::fromUtf8(sqlite3_errmsg(db)));
    return rows;
}

} // namespace

QStringList dumpTable(const QString &path, const QString &table)
{
    SqliteHandle db = openFile(path);
    QStringList names;
    rowsOf(db.get(), QStringLiteral("SELECT * FROM \"%1\" LIMIT 0").arg(table), &names);
    // quote() keeps the storage class: 5, 5.0 and '5' are three different
    // values here.
    QStringList quoted;
    for (const QString &name : names)
        quoted << QStringLiteral("quote(\"%1\")").arg(name);
    QStringList lines;
    for (const QStringList &row :
         rowsOf(db.get(), QStringLiteral("SELECT %1 FROM \"%2\"").arg(quoted.join(u','), table)))
        lines << row.join(QLatin1Char('|'));
    lines.sort();
    lines.prepend(names.join(QLatin1Char('|')));
    return lines;
}

QMap<QString, QStringList> dumpTables(const QString &path)
{
    QStringList tables;
    {
        SqliteHandle db = openFile(path);
        for (const QStringList &row :
             rowsOf(db.get(), QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'")))
            tables << row.first();
    }
    QMap<QString, QStringList> dump;
    for (const QString &table : tables) {
        if (table.compare(QLatin1String("fq"), Qt::CaseInsensitive) != 0 &&
            table.compare(QLatin1String("fqsum"), Qt::CaseInsensitive) != 0)
            dump.insert(table, dumpTable(path, table));
    }
    return dump;
}

void failNth(StatementLog &log, std::function<bool(const QString &)> matches, int n, qint32 number)
{
    auto seen = std::make_shared<int>(0);
    log.failWith = [matches = std::move(matches), n, number, seen](const QString &sql) -> qint32 {
        if (!matches(sql))
            return 0;
        return ++*seen == n ? number : 0;
    };
}

std::function<bool(const QString &)> startsWith(const QString &head)
{
    return [head](const QString &sql) { return sql.startsWith(head, Qt::CaseInsensitive); };
}

QVariantMap family(const QString &name, const std::function<double(int)> &value)
{
    QVariantMap columns;
    for (int n = 0; n <= 12; ++n)
        columns.insert(name + QString::number(n), value(n));
    return columns;
}

namespace {

QVariantMap merged(std::initializer_list<QVariantMap> parts)
{
    QVariantMap all;
    for (const QVariantMap &part : parts)
        all.insert(part);
    return all;
}

QVariantMap depreciation(const std::function<double(int)> &monthValue,
                         const std::function<double(int)> &depr,
                         const std::function<double(int)> &deprTotal)
{
    return merged({family(QStringLiteral("dblMonthValue"), monthValue),
                   family(QStringLiteral("dblDepr"), depr),
                   family(QStringLiteral("dblDeprT"), deprTotal)});
}

QVariantMap workload(const std::function<double(int)> &work,
                     const std::function<double(int)> &workTotal)
{
    return merged(
        {family(QStringLiteral("dblWork"), work), family(QStringLiteral("dblWorkT"), workTotal)});
}

// The carried figures of an old fa_Total row, in the order of the columns.
QVariantMap carried(double accrual, double depr, double add, double dec, double work,
                    double workTotal)
{
    return {{QStringLiteral("dblLastAccrualValue"), accrual},
            {QStringLiteral("dblLastDepr"), depr},
            {QStringLiteral("dblLastAddValue"), add},
            {QStringLiteral("dblLastDecValue"), dec},
            {QStringLiteral("dblLastWork"), work},
            {QStringLiteral("dblLastWorkTotal"), workTotal}};
}

// Figures an outdated row holds and the rebuild must not keep.
QVariantMap junk(double figure)
{
    QVariantMap columns;
    for (const QString &name : totalColumns().mid(3)) {
        if (!name.startsWith(QLatin1String("dblLast")))
            columns.insert(name, figure);
    }
    columns.insert(QStringLiteral("lMonthCount"), 9);
    columns.insert(QStringLiteral("lCount"), 9);
    return columns;
}

} // namespace

void fillSmallLedger(AccountYearDb &db, const QString &numberSuffix)
{
    const QString d1 = "D1" + numberSuffix, d2 = "D2" + numberSuffix;
    const QString t1 = "T1" + numberSuffix, t2 = "T2" + numberSuffix;

    // D1/T1: A stays all year; B is disposed on 15 June (code 3) and has no
    // workload row.
    db.addCard({.id = "1",
                .num = "A",
                .dept = d1,
                .type = t1,
                .value = 1000,
                .input = day(2001, 3, 1),
                .opt = 1});
    db.addDepr("A", depreciation([](int) { return 1000; }, [](int n) { return n ? 10 : 0; },
                                 [](int n) { return 160 + 10 * n; }));
    db.addWorkLoad("A", workload([](int n) { return n ? 3 : 0; }, [](int n) { return 3 * n; }));

    db.addCard({.id = "2",
                .num = "B",
                .dept = d1,
                .type = t1,
                .value = 600,
                .input = day(2000, 6, 1),
                .opt = 1});
    db.addCard({.id = "3",
                .num = "B",
                .dept = d1,
                .type = t1,
                .value = 600,
                .input = day(2002, 6, 15),
                .dispose = day(2002, 6, 15),
                .opt = 3,
                .outDT = 180});
    db.addDepr("B", depreciation([](int) { return 600; }, [](int n) { return n ? 6 : 0; },
                                 [](int n) { return 126 + 6 * n; }));

    // D1/T2: C is entered on 10 July (code 1) with 50 of depreciation; D
    // comes in on 5 September by code 9 with 20, and has no workload row.
    db.addCard({.id = "4",
                .num = "C",
                .dept = d1,
                .type = t2,
                .value = 800,
                .input = day(2002, 7, 10),
                .opt = 1,
                .inDT = 50});
    db.addDepr("C", depreciation([](int n) { return n >= 7 ? 800 : 0; },
                                 [](int n) { return n >= 7 ? 8 : 0; },
                                 [](int n) { return n >= 7 ? 50 + 8 * (n - 6) : 0; }));
    db.addWorkLoad("C", workload([](int n) { return n >= 7 ? 2 : 0; },
                                 [](int n) { return n >= 7 ? 2 * (n - 6) : 0; }));

    db.addCard({.id = "5",
                .num = "D",
                .dept = d1,
                .type = t2,
                .value = 300,
                .input = day(2002, 9, 5),
                .trans = day(2002, 9, 5),
                .opt = 9,
                .inDT = 20});
    db.addDepr("D", depreciation([](int n) { return n >= 9 ? 300 : 0; },
                                 [](int n) { return n >= 9 ? 3 : 0; },
                                 [](int n) { return n >= 9 ? 20 + 3 * (n - 8) : 0; }));

    // D2/T1: E rises from 2000 to 2500 by change voucher V1 on 20 June
    // (code 4) and is evaluated down to 2300 on 12 August (code 18, voucher
    // E1, 30 brought in and 10 taken out); G is entered on 1 May, the first
    // day of the first period (code 1, 5 brought in).
    db.addCard({.id = "6",
                .num = "E",
                .dept = d2,
                .type = t1,
                .value = 2000,
                .input = day(2001, 1, 15),
                .opt = 1});
    db.addCard({.id = "7",
                .num = "E",
                .dept = d2,
                .type = t1,
                .value = 2500,
                .input = day(2002, 6, 20),
                .trans = day(2002, 6, 20),
                .opt = 4,
                .voucher = "V1"});
    db.addCard({.id = "8",
                .num = "E",
                .dept = d2,
                .type = t1,
                .value = 2300,
                .input = day(2002, 8, 12),
                .trans = day(2002, 8, 12),
                .opt = 18,
                .evaluate = "E1",
                .inDT = 30,
                .outDT = 10});
    db.addVoucher("V1", "2000");
    db.addEvaluation("E1", 2500);
    db.addDepr("E",
               depreciation([](int n) { return n <= 5   ? 2000
                                               : n <= 7 ? 2500
                                                        : 2300; },
                            [](int n) { return n ? 20 : 0; }, [](int n) { return 320 + 20 * n; }));
    db.addWorkLoad("E", workload([](int n) { return n ? 4 : 0; }, [](int n) { return 4 * n; }));

    db.addCard({.id = "12",
                .num = "G",
                .dept = d2,
                .type = t1,
                .value = 700,
                .input = day(2002, 5, 1),
                .opt = 1,
                .inDT = 5});
    db.addDepr("G", depreciation([](int n) { return n >= 5 ? 700 : 0; },
                                 [](int n) { return n >= 5 ? 7 : 0; },
                                 [](int n) { return n >= 5 ? 5 + 7 * (n - 4) : 0; }));
    db.addWorkLoad("G", workload([](int n) { return n >= 5 ? 1 : 0; },
                                 [](int n) { return n >= 5 ? n - 4 : 0; }));

    // D2/T2: F has a depreciation transfer on 18 September (code 11, 40 in,
    // 25 out) and falls from 1500 to 1200 by change voucher V2 on 8 October
    // (code 5). Its record ids 9, 10, 11 order differently as text.
    db.addCard({.id = "9",
                .num = "F",
                .dept = d2,
                .type = t2,
                .value = 1500,
                .input = day(2001, 5, 1),
                .opt = 1});
    db.addCard({.id = "10",
                .num = "F",
                .dept = d2,
                .type = t2,
                .value = 1500,
                .input = day(2002, 9, 18),
                .trans = day(2002, 9, 18),
                .opt = 11,
                .inDT = 40,
                .outDT = 25});
    db.addCard({.id = "11",
                .num = "F",
                .dept = d2,
                .type = t2,
                .value = 1200,
                .input = day(2002, 10, 8),
                .trans = day(2002, 10, 8),
                .opt = 5,
                .voucher = "V2"});
    db.addVoucher("V2", "1500");
    db.addDepr("F",
               depreciation([](int n) { return n <= 9 ? 1500 : 1200; },
                            [](int n) { return n ? 15 : 0; }, [](int n) { return 300 + 15 * n; }));
    db.addWorkLoad("F", workload([](int n) { return n ? 6 : 0; }, [](int n) { return 6 * n; }));

    // The outdated summary: rows before the first period, carried figures in
    // period 5 (D2/T2 has none; D1/T2 and D9/T9 have no rows after the
    // rebuild), and junk in the later periods.
    for (int p = 1; p <= 4; ++p) {
        db.addTotalRow(d1, t1, p, junk(p));
        db.addTotalRow(d2, t1, p, junk(p));
    }
    db.addTotalRow(d1, t1, 5, merged({junk(55), carried(1590, 15.5, 11, 22, 2.5, 12.5)}));
    db.addTotalRow(d2, t1, 5, merged({junk(56), carried(1980, 19, 5, 6, 4, 16)}));
    db.addTotalRow(d1, t2, 5, merged({junk(57), carried(77, 7, 7, 7, 7, 7)}));
    db.addTotalRow(QStringLiteral("D9"), QStringLiteral("T9"), 5,
                   merged({junk(58), carried(99, 9, 9, 9, 9, 9)}));
    for (int p = 6; p <= 12; ++p) {
        db.addTotalRow(d1, t1, p, merged({junk(p * 100), carried(p, p, p, p, p, p)}));
        db.addTotalRow(d2, t2, p, junk(p * 100));
        db.addTotalRow(QStringLiteral("D9"), QStringLiteral("T9"), p, junk(p * 100));
    }
}

void addInformation(AccountYearDb &db, const QString &versionFlag, const QString &startDate)
{
    const auto add = [&db](const char *sysId, const char *name, const QString &value) {
        if (value.isNull())
            return;
        db.insert(QStringLiteral("AccInformation"), {{QStringLiteral("cSysID"), sysId},
                                                     {QStringLiteral("cName"), name},
                                                     {QStringLiteral("cValue"), value}});
    };
    add("AA", "VersionFlag", versionFlag);
    add("FA", "dStartDate", startDate);
}

} // namespace fa::test
