// The rebuild as a whole: the driver on a small ledger whose fa_Total is
// worked out by hand, what a stopped or killed run leaves behind, the work
// tables, and the run button's checks before the rebuild starts.
#include "fixtures.h"
#include "rebuild_fixture.h"

#include "data/app_error.h"
#include "data/db_state.h"
#include "data/provider.h"
#include "ledger/periods.h"
#include "ledger/recalc.h"
#include "ledger/run_history.h"
#include "ledger/run_lock.h"
#include "tools/ledger_schema.h"
#include "tools/sample_ledger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace fa;
using test::AccountYearDb;
using test::day;
using test::RecordingUi;
using test::SystemDb;

namespace {

const QString kAccount = QStringLiteral("001");
const QString kYear = QStringLiteral("2002");
constexpr int kFirst = 5; // the module starts on 10 May 2002

// ---- The hand-computed summary of the small ledger ------------------------

// One fa_Total row: the keys, then the 22 figures in the order of the table
// (lMonthCount … dblDepr, as test::totalColumns() lists them after the keys).
struct TotalRow
{
    const char *dept;
    const char *type;
    int period;
    double figures[22];
};

// The ledger (test::fillSmallLedger), with DeprT(n) the card's dblDeprT<n>:
//   A  D1/T1 1000 from 2001; month value 1000, depr 10, DeprT 160+10n; work 3, WorkT 3n
//   B  D1/T1  600 from 2000, disposed 15 June (600, 180 out); month value 600,
//      depr 6, DeprT 126+6n; no workload row
//   C  D1/T2  800 entered 10 July, code 1, 50 in; from period 7: month value
//      800, depr 8, DeprT 50+8(n-6), work 2, WorkT 2(n-6)
//   D  D1/T2  300 on 5 September, code 9, 20 in; from period 9: month value
//      300, depr 3, DeprT 20+3(n-8); no workload row
//   E  D2/T1 2000 from 2001; 2500 by voucher V1 (before 2000) on 20 June;
//      2300 by evaluation E1 (before 2500, 30 in, 10 out) on 12 August; month
//      value 2000 / 2500 from period 6 / 2300 from period 8, depr 20,
//      DeprT 320+20n, work 4, WorkT 4n
//   G  D2/T1  700 entered 1 May, code 1, 5 in; from period 5: month value
//      700, depr 7, DeprT 5+7(n-4), work 1, WorkT n-4
//   F  D2/T2 1500 from 2001; depreciation transfer on 18 September (40 in,
//      25 out); 1200 by voucher V2 (before 1500) on 8 October; month value
//      1500 / 1200 from period 10, depr 15, DeprT 300+15n, work 6, WorkT 6n
//
// Columns of every row, by source:
//   MC, MV, MD  the cards before the period begins, not disposed: count, value,
//               DeprT of the period before
//   C, V, DT, D, AV, W, WT  the cards at the period's end, not disposed: count,
//               value, DeprT, depr, month value, work, WorkT of the period
//   YV, YD      code 1 entries from 1 May to the period's end (value, brought
//               in), plus the closing pass: the cards before 1 May with DeprT4
//               (D1/T1: A+B = 1600, 200+150; D2/T1: E = 2000, 400; D2/T2:
//               F = 1500, 360; D1/T2: none)
//   LA … LWT    period 5: the carried figures of the old period-5 row; later:
//               AV, D, Add, Dec, W, WT of the same row of the period before
//   Add, Dec, In, Out  the operations dated in the period
// clang-format off
const TotalRow kExpected[] = {
    //                MC C  YV    YD   LA    LD    LAd  LDe  LW   LWT   W  WT  MV    V     MD   DT   Add  Dec  In  Out  AV    D
    // D1/T1. MC/MV/MD: A+B in periods 5 and 6 (DeprT4 200+150, DeprT5 210+156),
    // then A alone with DeprT(p-1). C/V/AV/DT/D: A+B at the end of May
    // (DeprT5 366, depr 10+6), A alone from June. W/WT: A only (B has no
    // workload row). YV/YD: no entries, the closing pass adds 1600/350.
    {"D1", "T1",  5, {2, 2, 1600, 350, 1590, 15.5, 11,  22,  2.5, 12.5, 3, 15, 1600, 1600, 350, 366, 0,   0,   0,  0,   1600, 16}}, // LA…LWT: the old row of period 5
    {"D1", "T1",  6, {2, 1, 1600, 350, 1600, 16,   0,   0,   3,   15,   3, 18, 1600, 1000, 366, 220, 0,   600, 0,  180, 1000, 10}}, // B disposed: Dec 600, Out 180
    {"D1", "T1",  7, {1, 1, 1600, 350, 1000, 10,   0,   600, 3,   18,   3, 21, 1000, 1000, 220, 230, 0,   0,   0,  0,   1000, 10}}, // LDe: June's decrease
    {"D1", "T1",  8, {1, 1, 1600, 350, 1000, 10,   0,   0,   3,   21,   3, 24, 1000, 1000, 230, 240, 0,   0,   0,  0,   1000, 10}},
    {"D1", "T1",  9, {1, 1, 1600, 350, 1000, 10,   0,   0,   3,   24,   3, 27, 1000, 1000, 240, 250, 0,   0,   0,  0,   1000, 10}},
    {"D1", "T1", 10, {1, 1, 1600, 350, 1000, 10,   0,   0,   3,   27,   3, 30, 1000, 1000, 250, 260, 0,   0,   0,  0,   1000, 10}},
    {"D1", "T1", 11, {1, 1, 1600, 350, 1000, 10,   0,   0,   3,   30,   3, 33, 1000, 1000, 260, 270, 0,   0,   0,  0,   1000, 10}},
    {"D1", "T1", 12, {1, 1, 1600, 350, 1000, 10,   0,   0,   3,   33,   3, 36, 1000, 1000, 270, 280, 0,   0,   0,  0,   1000, 10}},
    // D1/T2. Periods 5 and 6 end empty and are removed (the carried figures
    // 77, 7, … of the old period-5 row go with them), so period 7 finds no
    // row to carry. YV/YD: C's entry 800/50 from July; D is code 9, not an
    // entry; nothing before May, so the closing pass adds nothing.
    {"D1", "T2",  7, {0, 1, 800,  50,  0,    0,    0,   0,   0,   0,    2, 2,  0,    800,  0,   58,  800, 0,   50, 0,   800,  8}},  // C entered: Add 800, In 50; DeprT7 58
    {"D1", "T2",  8, {1, 1, 800,  50,  800,  8,    800, 0,   2,   2,    2, 4,  800,  800,  58,  66,  0,   0,   0,  0,   800,  8}},
    {"D1", "T2",  9, {1, 2, 800,  50,  800,  8,    0,   0,   2,   4,    2, 6,  800,  1100, 66,  97,  300, 0,   20, 0,   1100, 11}}, // D by code 9: Add 300, In 20; DT 74+23; W: C only
    {"D1", "T2", 10, {2, 2, 800,  50,  1100, 11,   300, 0,   2,   6,    2, 8,  1100, 1100, 97,  108, 0,   0,   0,  0,   1100, 11}}, // DT 82+26
    {"D1", "T2", 11, {2, 2, 800,  50,  1100, 11,   0,   0,   2,   8,    2, 10, 1100, 1100, 108, 119, 0,   0,   0,  0,   1100, 11}}, // DT 90+29
    {"D1", "T2", 12, {2, 2, 800,  50,  1100, 11,   0,   0,   2,   10,   2, 12, 1100, 1100, 119, 130, 0,   0,   0,  0,   1100, 11}}, // DT 98+32
    // D2/T1. G, entered on 1 May, is in May's closing state but not in its
    // opening. YV/YD: G's entry 700/5 from May plus the closing pass's E
    // (2000/400). W 4+1; D 20+7.
    {"D2", "T1",  5, {1, 2, 2700, 405, 1980, 19,   5,   6,   4,   16,   5, 21, 2000, 2700, 400, 432, 700, 0,   5,  0,   2700, 27}}, // G entered: Add 700, In 5; DT 420+12, WT 20+1
    {"D2", "T1",  6, {2, 2, 2700, 405, 2700, 27,   700, 0,   5,   21,   5, 26, 2700, 3200, 432, 459, 500, 0,   0,  0,   3200, 27}}, // V1: Add 2500-2000; V 2500+700; DT 440+19
    {"D2", "T1",  7, {2, 2, 2700, 405, 3200, 27,   500, 0,   5,   26,   5, 31, 3200, 3200, 459, 486, 0,   0,   0,  0,   3200, 27}}, // DT 460+26
    {"D2", "T1",  8, {2, 2, 2700, 405, 3200, 27,   0,   0,   5,   31,   5, 36, 3200, 3000, 486, 513, 0,   200, 30, 10,  3000, 27}}, // E1: a fall of 200, 30 in, 10 out; DT 480+33
    {"D2", "T1",  9, {2, 2, 2700, 405, 3000, 27,   0,   200, 5,   36,   5, 41, 3000, 3000, 513, 540, 0,   0,   0,  0,   3000, 27}}, // DT 500+40
    {"D2", "T1", 10, {2, 2, 2700, 405, 3000, 27,   0,   0,   5,   41,   5, 46, 3000, 3000, 540, 567, 0,   0,   0,  0,   3000, 27}}, // DT 520+47
    {"D2", "T1", 11, {2, 2, 2700, 405, 3000, 27,   0,   0,   5,   46,   5, 51, 3000, 3000, 567, 594, 0,   0,   0,  0,   3000, 27}}, // DT 540+54
    {"D2", "T1", 12, {2, 2, 2700, 405, 3000, 27,   0,   0,   5,   51,   5, 56, 3000, 3000, 594, 621, 0,   0,   0,  0,   3000, 27}}, // DT 560+61
    // D2/T2: F alone. No old row for period 5, so nothing is carried into it.
    // YV/YD: the closing pass's 1500/360. In period 10 the closing state is
    // record 11 (1200): ids are compared as numbers (as text "9" would win).
    {"D2", "T2",  5, {1, 1, 1500, 360, 0,    0,    0,   0,   0,   0,    6, 30, 1500, 1500, 360, 375, 0,   0,   0,  0,   1500, 15}},
    {"D2", "T2",  6, {1, 1, 1500, 360, 1500, 15,   0,   0,   6,   30,   6, 36, 1500, 1500, 375, 390, 0,   0,   0,  0,   1500, 15}},
    {"D2", "T2",  7, {1, 1, 1500, 360, 1500, 15,   0,   0,   6,   36,   6, 42, 1500, 1500, 390, 405, 0,   0,   0,  0,   1500, 15}},
    {"D2", "T2",  8, {1, 1, 1500, 360, 1500, 15,   0,   0,   6,   42,   6, 48, 1500, 1500, 405, 420, 0,   0,   0,  0,   1500, 15}},
    {"D2", "T2",  9, {1, 1, 1500, 360, 1500, 15,   0,   0,   6,   48,   6, 54, 1500, 1500, 420, 435, 0,   0,   40, 25,  1500, 15}}, // transfer: In 40, Out 25 (no value change)
    {"D2", "T2", 10, {1, 1, 1500, 360, 1500, 15,   0,   0,   6,   54,   6, 60, 1500, 1200, 435, 450, 0,   300, 0,  0,   1200, 15}}, // V2: Dec 1500-1200; AV: month value 1200
    {"D2", "T2", 11, {1, 1, 1500, 360, 1200, 15,   0,   300, 6,   60,   6, 66, 1200, 1200, 450, 465, 0,   0,   0,  0,   1200, 15}},
    {"D2", "T2", 12, {1, 1, 1500, 360, 1200, 15,   0,   0,   6,   66,   6, 72, 1200, 1200, 465, 480, 0,   0,   0,  0,   1200, 15}},
};
// clang-format on

QString keyOf(const QVariantMap &row)
{
    return QStringLiteral("%1/%2/%3")
        .arg(row.value(QStringLiteral("sDeptNum")).toString(),
             row.value(QStringLiteral("sTypeNum")).toString(),
             row.value(QStringLiteral("iPeriod")).toString());
}

// Every row and every figure of fa_Total against the table above; the
// differences are listed all at once; `numberSuffix` is left out of the keys.
QStringList differencesFromExpected(AccountYearDb &db, const QString &numberSuffix = {})
{
    if (AccConn->State() != adStateOpen)
        AccConn->Open(db.connectionString());
    const QStringList columns = test::totalColumns();
    const QList<QVariantMap> rows =
        db.select(columns, QStringLiteral("FROM fa_Total ORDER BY sDeptNum, sTypeNum, iPeriod"));

    QStringList differences;
    QStringList expectedKeys;
    for (const TotalRow &row : kExpected)
        expectedKeys << QStringLiteral("%1/%2/%3").arg(row.dept, row.type).arg(row.period);
    QStringList actualKeys;
    for (const QVariantMap &row : rows)
        actualKeys << keyOf(row).remove(numberSuffix);
    if (actualKeys != expectedKeys) {
        differences << QStringLiteral("rows: %1\n  expected: %2")
                           .arg(actualKeys.join(u' '), expectedKeys.join(u' '));
        return differences;
    }
    for (qsizetype r = 0; r < rows.size(); ++r) {
        for (int i = 0; i < 22; ++i) {
            const QString &column = columns.at(i + 3);
            const QVariant value = rows.at(r).value(column);
            const double expected = kExpected[r].figures[i];
            if (value.isNull() || value.toDouble() != expected)
                differences << QStringLiteral("%1 %2: %3, expected %4")
                                   .arg(actualKeys.at(r), column,
                                        value.isNull() ? QStringLiteral("NULL") : value.toString())
                                   .arg(expected);
        }
    }
    return differences;
}

#define VERIFY_EXPECTED_TOTALS(...)                                                                \
    do {                                                                                           \
        const QStringList differences = differencesFromExpected(__VA_ARGS__);                      \
        QVERIFY2(differences.isEmpty(), qPrintable(differences.join(u'\n')));                      \
    } while (false)

// ---- Set-ups ----------------------------------------------------------------

// The small ledger opened for the driver, with its calendar in Periods.
struct DriverLedger
{
    AccountYearDb db{false};

    DriverLedger()
    {
        test::fillSmallLedger(db);
        test::setMonthlyPeriods(2002, kFirst);
        db.log().sent.clear();
    }
};

// What the run button needs: a system database with the calendar of 2002,
// the small ledger with its AccInformation rows, AccConnStr pointing at it
// and AccConn closed, as after choosing a year.
struct RunButtonSetup
{
    SystemDb sys;
    AccountYearDb db{false};

    explicit RunButtonSetup(const QString &version = QStringLiteral("8.21"),
                            const QString &start = day(2002, 5, 10),
                            const QString &account = kAccount, const QString &suffix = {})
    {
        sys.addMonthlyPeriods(account, 2002);
        test::fillSmallLedger(db, suffix);
        test::addInformation(db, version, start);
        AccConnStr = db.connectionString();
        AccConn->Close();
        db.log().sent.clear();
    }
};

// The file database with a script in front: the script sees each statement
// first and may throw, or answer true to have it count as run without
// sending it.
class ScriptedProvider final : public Provider
{
public:
    using Script = std::function<bool(const QString &)>;

    ScriptedProvider(std::unique_ptr<Provider> inner, Script script)
        : m_inner(std::move(inner)), m_script(std::move(script))
    {}

    void open(const QString &connectionString) override { m_inner->open(connectionString); }
    void close() override { m_inner->close(); }
    bool isOpen() const override { return m_inner->isOpen(); }
    void execute(const QString &sql) override
    {
        if (!m_script(sql))
            m_inner->execute(sql);
    }
    std::unique_ptr<Cursor> query(const QString &sql) override
    {
        if (m_script(sql))
            return nullptr;
        return m_inner->query(sql);
    }
    void beginTransaction() override { m_inner->beginTransaction(); }
    void commitTransaction() override { m_inner->commitTransaction(); }
    void rollbackTransaction() override { m_inner->rollbackTransaction(); }

private:
    std::unique_ptr<Provider> m_inner;
    Script m_script;
};

// Reopens AccConn through a scripted provider (the scope puts the default
// factory back at its end).
void scriptAccConn(AccountYearDb &db, ScriptedProvider::Script script)
{
    setProviderFactory([script](const QString &connectionString) -> std::unique_ptr<Provider> {
        return std::make_unique<ScriptedProvider>(createDefaultProvider(connectionString), script);
    });
    QVERIFY(OpenConn(*AccConn, db.connectionString()));
}

bool onlyReads(const QStringList &sent)
{
    for (const QString &sql : sent) {
        if (!sql.trimmed().startsWith(QLatin1String("select"), Qt::CaseInsensitive))
            return false;
    }
    return true;
}

QString rebuildProgram()
{
    const QString dir =
        qEnvironmentVariable("FATOTAL_BIN_DIR", QCoreApplication::applicationDirPath() + "/..");
    return dir + QStringLiteral("/tools/fatotal-rebuild" FATOTAL_EXE_SUFFIX);
}

QStringList rebuildArguments(const QString &system)
{
    return {QStringLiteral("--system"),  system,
            QStringLiteral("--account"), kAccount,
            QStringLiteral("--year"),    QStringLiteral("2026")};
}

} // namespace

class TestRebuild : public QObject
{
    Q_OBJECT

private slots:
    void changeReportRules_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariant>("was");
        QTest::addColumn<QVariant>("is");
        QTest::addColumn<QString>("line"); // empty: no change
        QTest::newRow("figure changed") << "dblValue" << QVariant(1200.0) << QVariant(1350.0)
                                        << "changed,\"a\"\"b\",\"x,y\",5,dblValue,1200,1350\r\n";
        QTest::newRow("rounding noise")
            << "dblValue" << QVariant(1e12) << QVariant(1e12 + 10) << "";
        QTest::newRow("sum near zero") << "dblDepr" << QVariant(1e-7) << QVariant(3e-7) << "";
        QTest::newRow("null on one side") << "dblWork" << QVariant() << QVariant(0.0)
                                          << "changed,\"a\"\"b\",\"x,y\",5,dblWork,,0\r\n";
        QTest::newRow("count exact") << "lCount" << QVariant(3) << QVariant(4)
                                     << "changed,\"a\"\"b\",\"x,y\",5,lCount,3,4\r\n";
        QTest::newRow("same count") << "lCount" << QVariant(3) << QVariant(3.0) << "";
    }

    void changeReportRules()
    {
        QFETCH(QString, column);
        QFETCH(QVariant, was);
        QFETCH(QVariant, is);
        QFETCH(QString, line);
        const TotalsSnapshot::Key key{QStringLiteral("a\"b"), QStringLiteral("x,y"), 5};
        TotalsSnapshot before;
        before.columns = QStringList{QStringLiteral("sDeptNum"), column};
        before.rows.append({key, {std::get<0>(key), was}});
        TotalsSnapshot after = before;
        after.rows.first().values = {std::get<0>(key), is};
        after.rows.append({{QStringLiteral("b"), QStringLiteral("t"), 6}, {}});
        const ChangeReport report = CompareTotals(before, after);
        QCOMPARE(report.csvLines(), line + QStringLiteral("added,b,t,6,,,\r\n"));
        QCOMPARE(report.summary(),
                 QStringLiteral("新增 1 行，删除 0 行，修改 %1 行").arg(line.isEmpty() ? 0 : 1));
    }

    // fa_Total without its primary key holds whatever was stored: each odd row
    // is reported removed by its key as stored, beside the rows of the plain
    // ledger, and the check reports what the run then does.
    void changeReportKeysRowsAsStored_data()
    {
        QTest::addColumn<QString>("rows");     // after "INSERT INTO fa_Total "
        QTest::addColumn<QStringList>("keys"); // of the removed lines they add
        const QString keyed = QStringLiteral("(sDeptNum, sTypeNum, iPeriod) VALUES ");
        QTest::newRow("2.5 beside 3, 5.5 beside a kept 6")
            << keyed + "('D1','T1',2.5), ('D1','T1',5.5)" << QStringList{"D1,T1,2.5", "D1,T1,5.5"};
        QTest::newRow("text periods beside 0")
            << keyed + "('D1','T1','x'), ('D1','T1','y'), ('D1','T1',0)"
            << QStringList{"D1,T1,x", "D1,T1,y", "D1,T1,0"};
        QTest::newRow("null department beside ''")
            << keyed + "(NULL,'T1',6), ('','T1',6)" << QStringList{",T1,6", ",T1,6"};
        QTest::newRow("1e20") << keyed + "('D1','T1',1e20)" << QStringList{"D1,T1,1e+20"};
        QTest::newRow("a duplicated row")
            << "SELECT * FROM fa_Total WHERE sDeptNum='D1' AND sTypeNum='T1' AND iPeriod=6"
            << QStringList{"D1,T1,6"};
    }

    void changeReportKeysRowsAsStored()
    {
        QFETCH(QString, rows);
        QFETCH(QStringList, keys);
        RecordingUi ui;
        ChangeReport plain, check, run;
        RecalcOptions options;
        options.changes = &plain;
        {
            DriverLedger ledger;
            QVERIFY(RebuildTotals(ui, options));
        }
        DriverLedger ledger;
        AccountYearDb &db = ledger.db;
        for (const char *sql : {"CREATE TABLE t AS SELECT * FROM fa_Total", "DROP TABLE fa_Total",
                                "ALTER TABLE t RENAME TO fa_Total"})
            db.exec(QString::fromLatin1(sql));
        db.exec(QStringLiteral("INSERT INTO fa_Total ") + rows);
        const int rowsBefore = db.count(QStringLiteral("fa_Total"));
        const auto tables = test::dumpTables(db.path());

        options.dryRun = true;
        options.changes = &check;
        QVERIFY(RebuildTotals(ui, options));
        QCOMPARE(test::dumpTables(db.path()), tables);
        options.dryRun = false;
        options.changes = &run;
        QVERIFY(RebuildTotals(ui, options));

        QCOMPARE(check.csvLines(), run.csvLines());
        QCOMPARE(rowsBefore - run.removed + run.added, db.count(QStringLiteral("fa_Total")));
        QStringList expected = plain.csvLines().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        for (const QString &key : keys)
            expected << QStringLiteral("removed,%1,,,").arg(key);
        QStringList lines = run.csvLines().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        expected.sort();
        lines.sort();
        QCOMPARE(lines, expected);
    }

    // ---- The whole run -------------------------------------------------------

    void wholeRunMatchesTheHandComputedSummary_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("suffix"); // of every department and type number
        QTest::newRow("plain numbers") << kAccount << QString();
        QTest::newRow("template markers") << QString("|2'") << QString("|1|2|3");
        QTest::newRow("quotes and SQL") << QString("0'2") << QString("');drop table fa_Total;--");
    }

    void wholeRunMatchesTheHandComputedSummary()
    {
        QFETCH(QString, account);
        QFETCH(QString, suffix);
        RunButtonSetup setup(QStringLiteral("8.21"), day(2002, 5, 10), account, suffix);
        RecordingUi ui;

        QVERIFY(RunRecalcCommand(account, kYear, ui));

        QCOMPARE(ui.events, QStringList({"busy:on", "period:5", "period:6", "period:7", "period:8",
                                         "period:9", "period:10", "period:11", "period:12",
                                         "busy:off", "message:整理完毕"}));
        QCOMPARE(AccConn->State(), adStateClosed);
        VERIFY_EXPECTED_TOTALS(setup.db, suffix);

        // Run again on the result: period 5 now carries what the first run
        // kept there, and everything else is computed the same way.
        const QStringList first = test::dumpTable(setup.db.path(), QStringLiteral("fa_Total"));
        AccConn->Close();
        QVERIFY(setup.sys.reopen());
        RecordingUi again;
        QVERIFY(RunRecalcCommand(account, kYear, again));
        QCOMPARE(again.messages, QStringList{"整理完毕"});
        QCOMPARE(test::dumpTable(setup.db.path(), QStringLiteral("fa_Total")), first);
    }

    void quotedNumbersAreStoredAsTheyAre()
    {
        AccountYearDb db(false);
        test::setMonthlyPeriods(2002, kFirst);
        const QString dept = QStringLiteral("A'1");
        const QString type = QStringLiteral("T'2");
        db.addCard({.id = "1",
                    .num = "Q",
                    .dept = dept,
                    .type = type,
                    .value = 100,
                    .input = day(2001, 1, 1),
                    .opt = 1});
        db.addDepr("Q", test::family(QStringLiteral("dblDeprT"), [](int n) { return 10.0 * n; }));
        db.addCard({.id = "2",
                    .num = "R",
                    .dept = dept,
                    .type = QStringLiteral("T1"),
                    .value = 40,
                    .input = day(2002, 6, 3),
                    .opt = 1});
        db.addDepr("R");
        RecordingUi ui;

        QVERIFY(RebuildTotals(ui));

        QCOMPARE(ui.messages, QStringList());
        for (int p = kFirst; p <= 12; ++p) {
            const QVariantMap row = db.totalRow(dept, type, p);
            QVERIFY2(!row.isEmpty(), qPrintable(QString::number(p)));
            // The folds find the rows by these numbers too.
            QCOMPARE(row.value("lCount").toInt(), 1);
            QCOMPARE(row.value("dblDeprTotal").toDouble(), 10.0 * p);
            QCOMPARE(row.value("dblYearValue").toDouble(), 100.0);
        }
        QCOMPARE(db.totalRow(dept, QStringLiteral("T1"), 6).value("dblAddValue").toDouble(), 40.0);
        QCOMPARE(db.count(QStringLiteral("fa_Total")), 8 + 7);
    }

    // ---- A run that stops ------------------------------------------------------

    void stoppedRunLeavesTheDatabaseAsBefore_data()
    {
        QTest::addColumn<QString>("head");     // the statements counted
        QTest::addColumn<QString>("fragment"); // and what they also contain
        QTest::addColumn<int>("nth");          // the one made to fail; 0: every one
        QTest::addColumn<QString>("message");  // empty: the database's own text
        QTest::addColumn<QList<int>>("periodsDone");

        // Ten folds per period, in the order 9, 10, 1 … 8.
        QTest::newRow("kind-1 fold of period 7 (the 23rd fold)")
            << "UPDATE"
            << "" << 23 << "更新fa_total表7月表错误" << QList<int>{5, 6};
        QTest::newRow("first fold after the seeding")
            << "UPDATE"
            << "" << 1 << "更新fa_total表5月表错误" << QList<int>{};
        QTest::newRow("year-to-date fold of period 6")
            << "UPDATE"
            << "" << 12 << "更新fa_total表错误" << QList<int>{5};
        QTest::newRow("kind-8 fold of period 12")
            << "UPDATE"
            << "" << 80 << "更新fa_total表12月表错误" << QList<int>{5, 6, 7, 8, 9, 10, 11};
        QTest::newRow("closing year-opening fold")
            << "UPDATE"
            << "" << 81 << "更新fa_total表0月表错误" << QList<int>{5, 6, 7, 8, 9, 10, 11, 12};
        // Eight selections per period; the 37th is kind 5 of period 9.
        QTest::newRow("card selection of period 9")
            << "INSERT INTO [fq]"
            << "" << 37 << "插入表错误" << QList<int>{5, 6, 7, 8};
        QTest::newRow("closing pass card selection")
            << "INSERT INTO [fq]"
            << "" << 65 << "插入表错误" << QList<int>{5, 6, 7, 8, 9, 10, 11, 12};
        // Ten sums per period; the 51st is kind 9 of period 10.
        QTest::newRow("carried figures of period 10")
            << "INSERT INTO [fqsum]"
            << "" << 51 << "插入表错误" << QList<int>{5, 6, 7, 8, 9};
        QTest::newRow("removal of the empty rows of period 8")
            << "delete from fa_total  where"
            << "[iperiod]=8" << 1 << "" << QList<int>{5, 6, 7};
        QTest::newRow("a seeding insert") << "INSERT INTO fa_Total("
                                          << "" << 10 << "" << QList<int>{};
        QTest::newRow("emptying the summary") << "delete from fa_total "
                                              << "" << 1 << "" << QList<int>{};
        QTest::newRow("department list") << "SELECT  distinct"
                                         << "" << 0 << "打开卡片表错误" << QList<int>{};
    }

    void stoppedRunLeavesTheDatabaseAsBefore()
    {
        QFETCH(QString, head);
        QFETCH(QString, fragment);
        QFETCH(int, nth);
        QFETCH(QString, message);
        QFETCH(QList<int>, periodsDone);

        DriverLedger ledger;
        const auto before = test::dumpTables(ledger.db.path());
        const auto matches = [head, fragment](const QString &sql) {
            return sql.startsWith(head, Qt::CaseInsensitive) &&
                   sql.contains(fragment, Qt::CaseInsensitive);
        };
        if (nth > 0) {
            test::failNth(ledger.db.log(), matches, nth, kProviderFailure);
        } else {
            ledger.db.log().failWith = [matches](const QString &sql) {
                return matches(sql) ? kProviderFailure : 0;
            };
        }
        RecordingUi ui;

        QVERIFY(!RebuildTotals(ui));

        QCOMPARE(ui.periods, periodsDone);
        QCOMPARE(ui.messages.size(), 1);
        // The tool's own message, if any, says what failed; the database's
        // text says why, on the line under it.
        const QStringList lines = ui.messages.first().split(u'\n');
        if (!message.isEmpty())
            QCOMPARE(lines.first(), message);
        QVERIFY2(lines.last().startsWith("statement made to fail: " + head),
                 qPrintable(ui.messages.first()));
        QVERIFY(ledger.db.log().failures > 0);
        QCOMPARE(test::dumpTables(ledger.db.path()), before);
    }

    void stopAfterTheSeedingKeepsTheCarriedFigures()
    {
        // The old period-5 rows are the only source of period 5's carried
        // figures: a run stopped after replacing them must not lose them.
        DriverLedger ledger;
        test::failNth(ledger.db.log(), test::startsWith("UPDATE"), 1, kProviderFailure);
        RecordingUi stopped;
        QVERIFY(!RebuildTotals(stopped));

        ledger.db.log().failWith = {};
        RecordingUi ui;
        QVERIFY(RebuildTotals(ui));
        QCOMPARE(ui.messages, QStringList());
        VERIFY_EXPECTED_TOTALS(ledger.db);
    }

    void killedRunLeavesTheDatabaseAsBefore()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // About a second and a half of rebuilding on an idle machine.
        sample::writeDemo(dir.path(), 10000);
        const QString system = dir.filePath(QStringLiteral("kvsystem/kvsystem.mdb"));
        const QString ledger = dir.filePath(QStringLiteral("ZT001/2026/kvdata.mdb"));
        const QString copy = dir.filePath(QStringLiteral("kvdata.copy"));
        QVERIFY(QFile::copy(ledger, copy));

        // A complete run first, to know how long one takes here; then the
        // ledger as it was.
        QElapsedTimer timer;
        timer.start();
        QProcess complete;
        complete.start(rebuildProgram(), rebuildArguments(system));
        QVERIFY2(complete.waitForFinished(300000), qPrintable(complete.errorString()));
        QCOMPARE(complete.exitCode(), 0);
        const qint64 runTime = timer.elapsed();
        const auto rebuilt = test::dumpTables(ledger);
        QVERIFY(QFile::remove(ledger));
        QVERIFY(QFile::copy(copy, ledger));
        const auto before = test::dumpTables(ledger);
        QVERIFY(rebuilt != before);

        // Killed halfway, well inside the period loop.
        QProcess killed;
        killed.setProcessChannelMode(QProcess::ForwardedChannels);
        killed.start(rebuildProgram(), rebuildArguments(system));
        QVERIFY2(killed.waitForStarted(), qPrintable(killed.errorString()));
        QThread::msleep(runTime / 2);
        QVERIFY2(killed.state() == QProcess::Running, "the run ended before it could be killed");
        killed.kill();
        QVERIFY(killed.waitForFinished(10000));
        QCOMPARE(killed.exitStatus(), QProcess::CrashExit);

        // Opened again, the file shows what it held before the run (SQLite
        // plays back the journal if the run had written any page).
        {
            Connection conn;
            conn.Open(sample::jetConnectionString(ledger));
            Recordset rs;
            rs.Open(QStringLiteral("SELECT count(*) FROM fa_Total"), conn);
            QCOMPARE(rs.Fields(0).toInt(), before.value(QStringLiteral("fa_Total")).size() - 1);
            rs.Close();
            conn.Close();
        }
        QCOMPARE(test::dumpTables(ledger), before);

        // Nothing of the killed run stands in the way of the next one.
        QProcess again;
        again.start(rebuildProgram(), rebuildArguments(system));
        QVERIFY(again.waitForFinished(300000));
        QCOMPARE(again.exitStatus(), QProcess::NormalExit);
        QCOMPARE(again.exitCode(), 0);
        QCOMPARE(test::dumpTables(ledger), rebuilt);
    }

    // ---- The work tables -------------------------------------------------------

    void leftoverWorkTablesAreReplaced()
    {
        DriverLedger ledger;
        AccountYearDb &db = ledger.db;
        // Left by an older run, with other columns and with rows.
        db.exec(QStringLiteral("CREATE TABLE fq (sID TEXT, sNote TEXT)"));
        db.exec(QStringLiteral("INSERT INTO fq VALUES ('1', 'old'), ('999', 'old')"));
        db.exec(QStringLiteral("CREATE TABLE fqsum (C INTEGER, sDeptNum TEXT, iperiod INTEGER)"));
        db.exec(QStringLiteral("INSERT INTO fqsum VALUES (5, 'D1', 5), (7, 'D9', 0)"));
        db.log().sent.clear();
        RecordingUi ui;

        QVERIFY(RebuildTotals(ui));

        QCOMPARE(ui.messages, QStringList());
        QCOMPARE(db.log().sent.count(QStringLiteral("drop table fq")), 1);
        QCOMPARE(db.log().sent.count(QStringLiteral("drop table fqsum")), 1);
        VERIFY_EXPECTED_TOTALS(db);
        // They stay behind with the last step: the cards before period 5
        // (A, B, E, F) and their year-opening sums with period 0.
        QCOMPARE(db.fqIds(), QStringList({"1", "2", "6", "9"}));
        QCOMPARE(db.fqsumRow(QStringLiteral("D1"), QStringLiteral("T1"), 0).value("V").toDouble(),
                 1600.0);
        QCOMPARE(db.count(QStringLiteral("fqsum")), 3);
    }

    void workTableThatCannotBeCreated_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<qint32>("number");
        QTest::addColumn<bool>("dropFails");
        QTest::addColumn<int>("creates");
        QTest::addColumn<int>("drops");
        QTest::addColumn<QString>("message");

        QTest::newRow("fq, another error: no second try")
            << "fq" << kProviderFailure << false << 1 << 0 << "创建表失败\n表已存在";
        QTest::newRow("fq, error in the command three times")
            << "fq" << kErrorsInCommand << false << 3 << 3 << "创建表失败\n表已存在";
        QTest::newRow("fqsum, error in the command three times")
            << "fqsum" << kErrorsInCommand << false << 3 << 3 << "创建表失败\n表已存在";
        // The drop's own failure ends the run with its text.
        QTest::newRow("fq, error in the command and the drop fails")
            << "fq" << kErrorsInCommand << true << 1 << 1 << "无法删除表";
    }

    void workTableThatCannotBeCreated()
    {
        QFETCH(QString, table);
        QFETCH(qint32, number);
        QFETCH(bool, dropFails);
        QFETCH(int, creates);
        QFETCH(int, drops);
        QFETCH(QString, message);

        DriverLedger ledger;
        const auto before = test::dumpTables(ledger.db.path());
        const QString create = table == QLatin1String("fq")
                                   ? QStringLiteral("create table fq(")
                                   : QStringLiteral("CREATE TABLE [fqsum]");
        const QString drop = QStringLiteral("drop table ") + table;
        auto created = std::make_shared<int>(0);
        auto dropped = std::make_shared<int>(0);
        scriptAccConn(ledger.db, [=](const QString &sql) {
            if (sql.startsWith(create)) {
                ++*created;
                throw AppError(number, QStringLiteral("表已存在"));
            }
            if (sql == drop) {
                ++*dropped;
                if (dropFails)
                    throw AppError(kProviderFailure, QStringLiteral("无法删除表"));
                return true; // as if the table had been there to drop
            }
            return false;
        });
        RecordingUi ui;

        QVERIFY(!RebuildTotals(ui));

        QCOMPARE(ui.messages, QStringList{message});
        QCOMPARE(*created, creates);
        QCOMPARE(*dropped, drops);
        QCOMPARE(test::dumpTables(ledger.db.path()), before);
    }

    // ---- The run button's checks ----------------------------------------------

    void incompleteSelection_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("year");
        QTest::newRow("no year") << "001"
                                 << "";
        QTest::newRow("two-character account") << "01"
                                               << "2002";
        QTest::newRow("four-character account") << "0001"
                                                << "2002";
        QTest::newRow("three-digit year") << "001"
                                          << "202";
    }

    void incompleteSelection()
    {
        QFETCH(QString, account);
        QFETCH(QString, year);
        RunButtonSetup setup;
        RecordingUi ui;

        QVERIFY(!RunRecalcCommand(account, year, ui));

        QCOMPARE(ui.events,
                 QStringList({"message:可能系统库ua_Account 或ua_Period 有误", "enableRun"}));
        QCOMPARE(AccConn->State(), adStateClosed);
        QCOMPARE(setup.db.log().sent, QStringList());
    }

    void databaseThatDoesNotOpen()
    {
        RunButtonSetup setup;
        AccConnStr = sample::jetConnectionString(setup.db.path() + QStringLiteral(".missing"));
        const auto before = test::dumpTables(setup.db.path());
        RecordingUi ui;

        QVERIFY(!RunRecalcCommand(kAccount, kYear, ui));

        QCOMPARE(ui.events, QStringList({"message:打开文件错误\n找不到文件：" +
                                             QDir::toNativeSeparators(setup.db.path() + ".missing"),
                                         "enableRun"}));
        QCOMPARE(AccConn->State(), adStateClosed);
        QCOMPARE(test::dumpTables(setup.db.path()), before);
    }

    void failedCheckWritesNothing_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("message");

        // Versions are rounded to one place, a half to the even neighbour.
        QTest::newRow("version 8.26") << "8.26" << day(2002, 5, 10) << "Korvane软件版本好太高";
        QTest::newRow("version 8.3") << "8.3" << day(2002, 5, 10) << "Korvane软件版本好太高";
        QTest::newRow("no version row") << QString() << day(2002, 5, 10) << "AccInformation 有误";
        QTest::newRow("no start date row") << "8.21" << QString() << "AccInformation 有误";
        QTest::newRow("start date after the year")
            << "8.21" << day(2003, 1, 15)
            << "可能系统库ua_period 有误\n没有在固定资产启用日期之后结束的期间";
        QTest::newRow("version nan") << "nan" << day(2002, 5, 10) << "类型不匹配";
    }

    void failedCheckWritesNothing()
    {
        QFETCH(QString, version);
        QFETCH(QString, start);
        QFETCH(QString, message);
        RunButtonSetup setup(version, start);
        const auto before = test::dumpTables(setup.db.path());
        RecordingUi ui;

        QVERIFY(!RunRecalcCommand(kAccount, kYear, ui));

        QCOMPARE(ui.events, QStringList({"message:" + message, "enableRun"}));
        QVERIFY2(onlyReads(setup.db.log().sent), qPrintable(setup.db.log().sent.join(u'\n')));
        QCOMPARE(test::dumpTables(setup.db.path()), before);
    }

    // Periods 7 to 12 gone from the calendar: their rows of fa_Total would go.
    void damagedCalendarWritesNothing()
    {
        RunButtonSetup setup;
        SysConn->Execute(QStringLiteral("delete from ua_period where iid >= 7"));
        const auto before = test::dumpTables(setup.db.path());
        RecordingUi ui;
        QVERIFY(!RunRecalcCommand(kAccount, kYear, ui));
        QCOMPARE(ui.messages, QStringList{"可能系统库ua_period 有误\n缺少第 7 期至第 12 期"});
        QCOMPARE(test::dumpTables(setup.db.path()), before);
    }

    void supportedVersionsPass_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("8.2") << "8.2";
        QTest::newRow("8.21") << "8.21";
        QTest::newRow("8.25 rounds to 8.2") << "8.25";
        QTest::newRow("an older version") << "7.1";
    }

    void supportedVersionsPass()
    {
        QFETCH(QString, version);
        RunButtonSetup setup(version);
        RecordingUi ui;

        QVERIFY(RunRecalcCommand(kAccount, kYear, ui));

        QCOMPARE(ui.messages, QStringList{"整理完毕"});
        QCOMPARE(ui.periods.size(), 12 - kFirst + 1);
    }

    // A run's record is in the history before its commit; a commit that
    // fails leaves it saying why, never 完成, and fa_Total as it was.
    void aCommitThatFailsIsRecordedSo()
    {
        QTemporaryDir state;
        const QByteArray ctestState = qgetenv("FATOTAL_STATE_DIR");
        const auto restoreState = qScopeGuard([&] { qputenv("FATOTAL_STATE_DIR", ctestState); });
        qputenv("FATOTAL_STATE_DIR", state.path().toUtf8());
        RunButtonSetup setup;
        const auto before = test::dumpTables(setup.db.path());
        setup.db.failStatements(QStringLiteral("COMMIT"), kProviderFailure);
        RecordingUi ui;

        QVERIFY(!RunRecalcCommand(kAccount, kYear, ui));

        QCOMPARE(test::dumpTables(setup.db.path()), before);
        QList<RunRecord> runs;
        QString error;
        QVERIFY2(listRuns({}, {}, &runs, &error), qPrintable(error));
        QCOMPARE(runs.size(), 1);
        QVERIFY2(runs[0].outcome.contains("commit made to fail"), qPrintable(runs[0].outcome));
        QCOMPARE(ui.messages.value(1), kRunStoppedMessage);
    }

    void secondRunNeedsTheSystemDatabaseAgain()
    {
        RunButtonSetup setup;
        RecordingUi first;
        QVERIFY(RunRecalcCommand(kAccount, kYear, first));
        const auto after = test::dumpTables(setup.db.path());
        setup.db.log().sent.clear();

        // The calendar closed the system database at the end of the first run.
        RecordingUi second;
        QVERIFY(!RunRecalcCommand(kAccount, kYear, second));

        QCOMPARE(second.events, QStringList({"message:可能系统库ua_period 有误", "enableRun"}));
        QVERIFY(onlyReads(setup.db.log().sent));
        QCOMPARE(test::dumpTables(setup.db.path()), after);
    }

    void driverStopIsFollowedByTheStoppedMessage()
    {
        RunButtonSetup setup;
        const auto before = test::dumpTables(setup.db.path());
        setup.db.failStatements(QStringLiteral("create table fq("), kProviderFailure);
        // Each word of the end comes once the database and its lock are let go.
        struct HoldingUi : RecalcUi
        {
            QString lock;
            QStringList events;
            void showMessage(const QString &text) override
            {
                const bool held = AccConn->State() == adStateOpen || QFile::exists(lock);
                events << (held ? "held:" : "message:") + text;
            }
            void setBusy(bool busy) override { events << (busy ? "busy:on" : "busy:off"); }
        } ui;
        ui.lock = setup.db.path() + kRunLockSuffix;

        QVERIFY(!RunRecalcCommand(kAccount, kYear, ui));

        QCOMPARE(ui.events, QStringList({"busy:on",
                                         "message:创建表失败\nstatement made to fail: create "
                                         "table fq([sID] nchar(20))",
                                         "busy:off", "message:整理未完成，fa_Total 保持原样"}));
        QCOMPARE(AccConn->State(), adStateClosed);
        QCOMPARE(test::dumpTables(setup.db.path()), before);
    }
};

QTEST_GUILESS_MAIN(TestRebuild)
#include "tst_rebuild.moc"
