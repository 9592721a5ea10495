// The three steps of a period on a real account-year database in the file
// form: which card records SelectCards puts into fq, what BuildPeriodSums sums
// into fqsum, how FoldSums applies the sums to fa_Total; and how each of them
// fails. Expected figures are worked out by hand next to each case.
#include "fixtures.h"

#include "data/app_error.h"
#include "data/db_state.h"
#include "ledger/periods.h"
#include "ledger/sql_strings.h"
#include "ledger/steps.h"

#include <QTest>

using namespace fa;
using test::Card;
using test::day;

namespace {

double num(const QVariantMap &row, const char *column)
{
    return row.value(QLatin1String(column)).toDouble();
}

// Period 5 of 2002 runs from 1 to 31 May.
constexpr int kMay = 5;

} // namespace

class TestLedgerSteps : public QObject
{
    Q_OBJECT

private slots:
    // ---- SelectCards: card states ------------------------------------------

    void cardStatesAtTheStartAndEndOfAPeriod_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("ids");
        // Opening: entered, moved and disposed before 1 May.
        QTest::newRow("opening") << 1 << QStringList{"1", "6", "10", "11"};
        // Closing: on or before 31 May; the records of 1, 15 and 31 May join.
        QTest::newRow("closing") << 2 << QStringList{"1", "2", "3", "6", "7", "10", "11"};
        QTest::newRow("kind 0 is the closing state")
            << 0 << QStringList{"1", "2", "3", "6", "7", "10", "11"};
    }

    void cardStatesAtTheStartAndEndOfAPeriod()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, ids);

        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        db.addCard({.id = "1", .num = "A", .input = day(2002, 4, 30)});
        db.addCard({.id = "2", .num = "B", .input = day(2002, 5, 1)}); // first day: closing only
        db.addCard({.id = "3", .num = "C", .input = day(2002, 5, 31)});
        db.addCard({.id = "4", .num = "D", .input = day(2002, 6, 1)});
        // Card E: of the records 9 and 10, 10 is the later (by number, not
        // by text); record 12 comes after the period.
        db.addCard({.id = "9", .num = "E", .input = day(2002, 3, 1)});
        db.addCard({.id = "10", .num = "E", .input = day(2002, 4, 1), .trans = day(2002, 4, 1)});
        db.addCard({.id = "12", .num = "E", .input = day(2002, 6, 10)});
        db.addCard({.id = "5", .num = "F"}); // no input date: never in a state
        // Null transfer and disposal dates pass; a transfer in May keeps the
        // record out of the opening state.
        db.addCard({.id = "6", .num = "G", .input = day(2002, 1, 1)});
        db.addCard({.id = "7", .num = "H", .input = day(2002, 1, 1), .trans = day(2002, 5, 15)});
        // Disposed cards are still selected; the sums leave them out.
        db.addCard({.id = "11", .num = "K", .input = day(2002, 2, 1), .dispose = day(2002, 4, 20)});

        RetryCount = 7;
        QVERIFY(SelectCards(kMay, kind));
        QCOMPARE(db.fqIds(), ids);
        // One delete and one insert, the insert being the built statement.
        QCOMPARE(db.log().sent,
                 QStringList({LoadSqlString(DeleteFq), SelectCardsStatement(kMay, kind)}));
        QCOMPARE(SqlText, SelectCardsStatement(kMay, kind));
        QCOMPARE(RetryCount, 0);
    }

    // ---- SelectCards: operations of a period -------------------------------

    void operationsWithinAPeriod_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("ids");
        QTest::newRow("additions") << 3 << QStringList{"20", "21", "23"};
        QTest::newRow("decreases") << 4 << QStringList{"25", "26", "27"};
        QTest::newRow("value increase") << 5 << QStringList{"29", "30"};
        QTest::newRow("value decrease") << 6 << QStringList{"31"};
        QTest::newRow("depreciation transfer") << 7 << QStringList{"32"};
        QTest::newRow("revaluation") << 8 << QStringList{"33"};
    }

    void operationsWithinAPeriod()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, ids);

        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        const QString jan = day(2002, 1, 1);
        // Codes 1 and 2 by input date, both ends of the period included.
        db.addCard({.id = "20", .num = "A", .input = day(2002, 5, 1), .opt = 1});
        db.addCard({.id = "21", .num = "B", .input = day(2002, 5, 31), .opt = 2});
        db.addCard({.id = "22", .num = "C", .input = day(2002, 4, 30), .opt = 1});
        // Codes 7 and 9 by transfer date.
        db.addCard({.id = "23", .num = "D", .input = jan, .trans = day(2002, 5, 10), .opt = 7});
        db.addCard({.id = "24", .num = "E", .input = jan, .trans = day(2002, 6, 1), .opt = 9});
        // Code 3 by disposal date, 6 and 8 by transfer date.
        db.addCard({.id = "25", .num = "F", .input = jan, .dispose = day(2002, 5, 31), .opt = 3});
        db.addCard({.id = "26", .num = "G", .input = jan, .trans = day(2002, 5, 1), .opt = 6});
        db.addCard({.id = "27", .num = "H", .input = jan, .trans = day(2002, 5, 20), .opt = 8});
        db.addCard({.id = "28", .num = "I", .input = jan, .trans = day(2002, 5, 5), .opt = 3});
        // Two value increases of one card in one period: both records.
        db.addCard({.id = "29", .num = "J", .input = jan, .trans = day(2002, 5, 2), .opt = 4});
        db.addCard({.id = "30", .num = "J", .input = jan, .trans = day(2002, 5, 30), .opt = 4});
        db.addCard({.id = "31", .num = "K", .input = jan, .trans = day(2002, 5, 15), .opt = 5});
        db.addCard({.id = "32", .num = "L", .input = jan, .trans = day(2002, 5, 15), .opt = 11});
        db.addCard({.id = "33", .num = "M", .input = jan, .trans = day(2002, 5, 15), .opt = 18});
        db.addCard({.id = "34", .num = "N", .input = jan, .trans = day(2002, 4, 15), .opt = 18});

        QVERIFY(SelectCards(kMay, kind));
        QCOMPARE(db.fqIds(), ids);
    }

    void noQualifyingRecordSelectsNothing()
    {
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        db.addCard({.id = "1", .num = "A", .input = day(2002, 7, 1), .opt = 1});
        db.exec("INSERT INTO fq (sID) VALUES ('99')");

        QVERIFY(SelectCards(kMay, Additions));
        QVERIFY(db.fqIds().isEmpty());
        QVERIFY(SelectCards(kMay, MonthOpening));
        QVERIFY(db.fqIds().isEmpty());
    }

    // Period dates read from the calendar may carry a time of day; records of
    // the last day up to that time belong to the period.
    void periodDatesFromTheCalendar()
    {
        test::SystemDb system;
        system.addPeriod("001", 2002, 5, day(2002, 5, 1), "2002-05-31 23:59:59");
        system.addPeriod("001", 2002, 6, day(2002, 6, 1), "2002-06-30 23:59:59");
        system.addMonthlyPeriods("001", 2002, 7, 12);
        FaStartDate = test::at(2002, 5, 1);
        QVERIFY(LoadPeriods("001", "2002"));

        test::AccountYearDb db;
        db.addCard({.id = "1", .num = "A", .input = "2002-05-31 18:00:00", .opt = 1});
        db.addCard({.id = "2", .num = "B", .input = day(2002, 6, 1), .opt = 2});
        QVERIFY(SelectCards(kMay, Additions));
        QCOMPARE(db.fqIds(), QStringList{"1"});
        QVERIFY(SelectCards(kMay, PeriodClosing));
        QCOMPARE(db.fqIds(), QStringList{"1"});
        QVERIFY(SelectCards(6, MonthOpening));
        QCOMPARE(db.fqIds(), QStringList{"1"});
    }

    // ---- BuildPeriodSums: opening, closing and year-start sums -------------

    void openingAndClosingSums()
    {
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        // D1/T1: A with depreciation and workload, B without workload, C
        // without depreciation (out of these sums), E disposed in March.
        db.addCard({.id = "1", .num = "A", .value = 100, .input = day(2002, 1, 10), .inDT = 3});
        db.addDepr("A", {{"dblDeprT0", 10},
                         {"dblDeprT4", 30},
                         {"dblDeprT5", 35},
                         {"dblDepr5", 5},
                         {"dblMonthValue0", 100},
                         {"dblMonthValue5", 100}});
        db.addWorkLoad("A",
                       {{"dblWork0", 1}, {"dblWorkT0", 2}, {"dblWork5", 7}, {"dblWorkT5", 20}});
        db.addCard({.id = "2", .num = "B", .value = 50, .input = day(2002, 2, 1), .outDT = 0.5});
        db.addDepr("B", {{"dblDeprT0", 4},
                         {"dblDeprT4", 8},
                         {"dblDeprT5", 10},
                         {"dblDepr5", 2},
                         {"dblMonthValue0", 50},
                         {"dblMonthValue5", 50}});
        db.addCard({.id = "3", .num = "C", .value = 999, .input = day(2002, 1, 1)});
        db.addCard({.id = "4",
                    .num = "E",
                    .value = 70,
                    .input = day(2002, 1, 1),
                    .dispose = day(2002, 3, 1)});
        db.addDepr("E", {{"dblDeprT4", 1}, {"dblDeprT5", 1}});
        // D2/T1: F entered in May, without a workload row.
        db.addCard({.id = "5", .num = "F", .dept = "D2", .value = 40, .input = day(2002, 5, 15)});
        db.addDepr("F", {{"dblDeprT5", 1}, {"dblDepr5", 1}, {"dblMonthValue5", 40}});

        // Opening of May: A and B; 100 + 50, depreciation after April 30 + 8.
        QVERIFY(SelectCards(kMay, MonthOpening));
        QVERIFY(BuildPeriodSums(kMay, MonthOpening));
        QCOMPARE(db.count("fqsum"), 1);
        QVariantMap row = db.fqsumRow("D1", "T1", kMay);
        QCOMPARE(num(row, "C"), 2.0);
        QCOMPARE(num(row, "V"), 150.0);
        QCOMPARE(num(row, "DT"), 38.0);
        for (const char *zero : {"MV", "V0", "DT0", "D", "WT0", "W0", "InDT", "OutDT", "WT", "W"})
            QCOMPARE(num(row, zero), 0.0);

        // Closing of May.
        QVERIFY(SelectCards(kMay, PeriodClosing));
        QVERIFY(BuildPeriodSums(kMay, PeriodClosing));
        QCOMPARE(db.count("fqsum"), 2);
        row = db.fqsumRow("D1", "T1", kMay);
        QCOMPARE(num(row, "C"), 2.0);
        QCOMPARE(num(row, "V"), 150.0);
        QCOMPARE(num(row, "MV"), 150.0);
        QCOMPARE(num(row, "V0"), 150.0);
        QCOMPARE(num(row, "DT"), 45.0);
        QCOMPARE(num(row, "DT0"), 14.0);
        QCOMPARE(num(row, "D"), 7.0);
        QCOMPARE(num(row, "InDT"), 3.0);
        QCOMPARE(num(row, "OutDT"), 0.5);
        // B has no workload row: the sums skip its nulls.
        QCOMPARE(num(row, "W0"), 1.0);
        QCOMPARE(num(row, "WT0"), 2.0);
        QCOMPARE(num(row, "W"), 7.0);
        QCOMPARE(num(row, "WT"), 20.0);
        row = db.fqsumRow("D2", "T1", kMay);
        QCOMPARE(num(row, "C"), 1.0);
        QCOMPARE(num(row, "V"), 40.0);
        QCOMPARE(num(row, "DT"), 1.0);
        // No workload rows at all: null sums in the file database.
        for (const char *column : {"W", "WT", "W0", "WT0"})
            QVERIFY2(row.value(column).isNull(), column);

        // Year start (period 0), after the opening selection of the first
        // period: as the opening sums, with the column before period 5.
        QVERIFY(SelectCards(kMay, MonthOpening));
        QVERIFY(BuildPeriodSums(0, YearOpening));
        QCOMPARE(db.count("fqsum"), 1);
        row = db.fqsumRow("D1", "T1", 0);
        QCOMPARE(num(row, "C"), 2.0);
        QCOMPARE(num(row, "V"), 150.0);
        QCOMPARE(num(row, "DT"), 38.0);
    }

    // ---- BuildPeriodSums: operation sums -----------------------------------

    void operationSums()
    {
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        const QString jan = day(2002, 1, 1);
        // No depreciation rows at all: the operation sums do not need them.
        db.addCard(
            {.id = "40", .num = "X", .value = 200, .input = day(2002, 5, 3), .opt = 1, .inDT = 20});
        db.addCard({.id = "41",
                    .num = "Y",
                    .value = 30,
                    .input = jan,
                    .trans = day(2002, 5, 4),
                    .opt = 7,
                    .inDT = 5,
                    .outDT = 1});
        db.addCard({.id = "42",
                    .num = "Z",
                    .value = 120,
                    .input = jan,
                    .trans = day(2002, 5, 5),
                    .opt = 4,
                    .voucher = "V1"});
        db.addCard({.id = "43",
                    .num = "Z",
                    .value = 80,
                    .input = jan,
                    .trans = day(2002, 5, 6),
                    .opt = 4,
                    .voucher = "V2"});
        db.addVoucher("V1", "100");
        db.addVoucher("V2", "90");
        db.addCard({.id = "44",
                    .num = "W",
                    .value = 80,
                    .input = jan,
                    .trans = day(2002, 5, 7),
                    .opt = 18,
                    .evaluate = "E1",
                    .inDT = 4,
                    .outDT = 6});
        db.addEvaluation("E1", 100);

        // Additions: 200 + 30 added, 20 + 5 brought in, 1 taken out.
        QVERIFY(SelectCards(kMay, Additions));
        QVERIFY(BuildPeriodSums(kMay, Additions));
        QVariantMap row = db.fqsumRow("D1", "T1", kMay);
        QCOMPARE(num(row, "C"), 0.0);
        QCOMPARE(num(row, "V"), 230.0);
        QCOMPARE(num(row, "InDT"), 25.0);
        QCOMPARE(num(row, "OutDT"), 1.0);
        QCOMPARE(num(row, "DT"), 0.0);

        // Value increase: values after 120 + 80, before 100 + 90 (text).
        QVERIFY(SelectCards(kMay, ValueIncrease));
        QVERIFY(BuildPeriodSums(kMay, ValueIncrease));
        row = db.fqsumRow("D1", "T1", kMay);
        QCOMPARE(num(row, "V"), 200.0);
        QCOMPARE(num(row, "MV"), 190.0);

        // Revaluation: after 80, before 100, with its transfers.
        QVERIFY(SelectCards(kMay, Revaluation));
        QVERIFY(BuildPeriodSums(kMay, Revaluation));
        row = db.fqsumRow("D1", "T1", kMay);
        QCOMPARE(num(row, "V"), 80.0);
        QCOMPARE(num(row, "MV"), 100.0);
        QCOMPARE(num(row, "InDT"), 4.0);
        QCOMPARE(num(row, "OutDT"), 6.0);
        QCOMPARE(db.count("fqsum"), 1);
    }

    // Kind 10 of a period: code 1 records entered from the start of the
    // first period to rebuild to the end of this one, disposed or not,
    // without fq.
    void yearToDateEntries()
    {
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        db.addCard(
            {.id = "50", .num = "A", .value = 10, .input = day(2002, 5, 1), .opt = 1, .inDT = 1});
        db.addCard({.id = "51",
                    .num = "B",
                    .value = 20,
                    .input = day(2002, 7, 31),
                    .dispose = day(2002, 7, 31),
                    .opt = 1,
                    .inDT = 2});
        db.addCard({.id = "52", .num = "C", .value = 40, .input = day(2002, 4, 30), .opt = 1});
        db.addCard({.id = "53", .num = "D", .value = 80, .input = day(2002, 6, 1), .opt = 2});
        db.addCard({.id = "54", .num = "E", .value = 160, .input = day(2002, 8, 1), .opt = 1});

        QVERIFY(BuildPeriodSums(7, YearOpening));
        QCOMPARE(db.count("fqsum"), 1);
        const QVariantMap row = db.fqsumRow("D1", "T1", 7);
        QCOMPARE(num(row, "C"), 0.0);
        QCOMPARE(num(row, "V"), 30.0);
        QCOMPARE(num(row, "DT"), 3.0);
    }

    // Kind 9: the first period keeps the carried figures its old row held;
    // later periods take the rebuilt figures of the period before, one row
    // per source row.
    void carriedFigures()
    {
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        db.addTotalRow("D1", "T1", 5,
                       {{"dblLastAccrualValue", 1},
                        {"dblLastDepr", 2},
                        {"dblLastAddValue", 3},
                        {"dblLastDecValue", 4},
                        {"dblLastWork", 5},
                        {"dblLastWorkTotal", 6},
                        {"dblAccrualValue", 11},
                        {"dblDepr", 12},
                        {"dblAddValue", 13},
                        {"dblDecValue", 14},
                        {"dblWork", 15},
                        {"dblWorkT", 16}});
        db.addTotalRow("D2", "T1", 6, {{"dblAccrualValue", 99}});

        QVERIFY(BuildPeriodSums(5, PreviousPeriod));
        QCOMPARE(db.count("fqsum"), 1);
        QVariantMap row = db.fqsumRow("D1", "T1", 5);
        QCOMPARE(num(row, "MV"), 1.0);
        QCOMPARE(num(row, "D"), 2.0);
        QCOMPARE(num(row, "InDT"), 3.0);
        QCOMPARE(num(row, "OutDT"), 4.0);
        QCOMPARE(num(row, "W"), 5.0);
        QCOMPARE(num(row, "WT"), 6.0);

        // Period 6 reads period 5; D2 has no row there and gets none.
        QVERIFY(BuildPeriodSums(6, PreviousPeriod));
        QCOMPARE(db.count("fqsum"), 1);
        row = db.fqsumRow("D1", "T1", 6);
        QCOMPARE(num(row, "MV"), 11.0);
        QCOMPARE(num(row, "D"), 12.0);
        QCOMPARE(num(row, "InDT"), 13.0);
        QCOMPARE(num(row, "OutDT"), 14.0);
        QCOMPARE(num(row, "W"), 15.0);
        QCOMPARE(num(row, "WT"), 16.0);

        // Folded back, the figures land in the Last columns.
        db.addTotalRow("D1", "T1", 6);
        QVERIFY(FoldSums(6, PreviousPeriod));
        row = db.totalRow("D1", "T1", 6);
        QCOMPARE(num(row, "dblLastAccrualValue"), 11.0);
        QCOMPARE(num(row, "dblLastDepr"), 12.0);
        QCOMPARE(num(row, "dblLastAddValue"), 13.0);
        QCOMPARE(num(row, "dblLastDecValue"), 14.0);
        QCOMPARE(num(row, "dblLastWork"), 15.0);
        QCOMPARE(num(row, "dblLastWorkTotal"), 16.0);
        QCOMPARE(num(db.totalRow("D1", "T1", 5), "dblLastAccrualValue"), 1.0);
    }

    void anEmptySelectionSumsToNoRows_data()
    {
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("kind");
        for (int kind = MonthOpening; kind <= Revaluation; ++kind)
            QTest::newRow(qPrintable(QString("kind %1").arg(kind))) << kMay << kind;
        QTest::newRow("year start") << 0 << int(YearOpening);
    }

    void anEmptySelectionSumsToNoRows()
    {
        QFETCH(int, period);
        QFETCH(int, kind);
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        db.addCard({.id = "1", .num = "A", .value = 5, .input = day(2002, 1, 1)});
        db.addDepr("A");
        db.exec("INSERT INTO fqsum (C, V, sDeptNum, sTypeNum, iperiod) VALUES (1, 1, 'D1', "
                "'T1', 5)");

        QVERIFY(BuildPeriodSums(period, kind));
        QCOMPARE(db.count("fqsum"), 0);
    }

    // ---- FoldSums ----------------------------------------------------------

    void foldsAssignTheirColumnsToMatchingRowsOnly()
    {
        test::AccountYearDb db;
        db.addTotalRow("D1", "T1", 5, {{"dblYearValue", 7}});
        db.addTotalRow("D1", "T1", 6);
        db.addTotalRow("D2", "T1", 5);
        // The D3 row has no fa_Total row: folds never insert.
        db.exec("INSERT INTO fqsum (C,V,MV,V0,DT,DT0,D,WT0,W0,InDT,OutDT,WT,W,sDeptNum,sTypeNum,"
                "iperiod) VALUES (2,150,140,0,38,0,7,0,0,3,4,NULL,NULL,'D1','T1',5), "
                "(9,9,9,9,9,9,9,9,9,9,9,9,9,'D3','T1',5)");

        QVERIFY(FoldSums(5, MonthOpening));
        QVariantMap row = db.totalRow("D1", "T1", 5);
        QCOMPARE(num(row, "lMonthCount"), 2.0);
        QCOMPARE(num(row, "dblMonthValue"), 150.0);
        QCOMPARE(num(row, "dblMonthDeprTotal"), 38.0);
        QCOMPARE(num(row, "lCount"), 0.0);

        QVERIFY(FoldSums(5, PeriodClosing));
        row = db.totalRow("D1", "T1", 5);
        QCOMPARE(num(row, "lCount"), 2.0);
        QCOMPARE(num(row, "dblValue"), 150.0);
        QCOMPARE(num(row, "dblDeprTotal"), 38.0);
        QCOMPARE(num(row, "dblDepr"), 7.0);
        QCOMPARE(num(row, "dblAccrualValue"), 140.0);
        // Null sums are taken as they are.
        QVERIFY(row.value("dblWork").isNull());
        QVERIFY(row.value("dblWorkT").isNull());

        QVERIFY(FoldSums(5, YearOpening));
        row = db.totalRow("D1", "T1", 5);
        QCOMPARE(num(row, "dblYearValue"), 150.0); // assigned, not added
        QCOMPARE(num(row, "dblYearDeprTotal"), 38.0);

        // Rows of another period or department are untouched.
        for (const QVariantMap &other : {db.totalRow("D1", "T1", 6), db.totalRow("D2", "T1", 5)}) {
            for (const char *column : {"lMonthCount", "lCount", "dblValue", "dblYearValue"})
                QCOMPARE(num(other, column), 0.0);
        }
        QCOMPARE(db.count("fa_Total"), 3);
    }

    void foldsAddDifferences_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("v");
        QTest::addColumn<double>("mv");
        QTest::addColumn<double>("addValue");
        QTest::addColumn<double>("decValue");
        QTest::addColumn<double>("transIn");
        QTest::addColumn<double>("transOut");
        // The row starts with added 10, decreased 5, in 1, out 2; the sums
        // carry InDT 3 and OutDT 4.
        QTest::newRow("additions") << 3 << 80.0 << 100.0 << 90.0 << 5.0 << 4.0 << 2.0;
        QTest::newRow("decreases") << 4 << 80.0 << 100.0 << 10.0 << 85.0 << 1.0 << 6.0;
        QTest::newRow("increase, negative") << 5 << 80.0 << 100.0 << -10.0 << 5.0 << 1.0 << 2.0;
        QTest::newRow("increase") << 5 << 120.0 << 100.0 << 30.0 << 5.0 << 1.0 << 2.0;
        QTest::newRow("decrease, negative") << 6 << 120.0 << 100.0 << 10.0 << -15.0 << 1.0 << 2.0;
        QTest::newRow("decrease") << 6 << 80.0 << 100.0 << 10.0 << 25.0 << 1.0 << 2.0;
        QTest::newRow("transfer") << 7 << 80.0 << 100.0 << 10.0 << 5.0 << 4.0 << 6.0;
        QTest::newRow("revaluation up") << 8 << 120.0 << 100.0 << 30.0 << 5.0 << 4.0 << 6.0;
        QTest::newRow("revaluation down") << 8 << 80.0 << 100.0 << 10.0 << 25.0 << 4.0 << 6.0;
    }

    void foldsAddDifferences()
    {
        QFETCH(int, kind);
        QFETCH(double, v);
        QFETCH(double, mv);
        QFETCH(double, addValue);
        QFETCH(double, decValue);
        QFETCH(double, transIn);
        QFETCH(double, transOut);

        test::AccountYearDb db;
        db.addTotalRow("D1", "T1", 5,
                       {{"dblAddValue", 10},
                        {"dblDecValue", 5},
                        {"dblTransInDeprTotal", 1},
                        {"dblTransOutDeprTotal", 2}});
        db.addTotalRow("D1", "T1", 6, {{"dblAddValue", 10}});
        db.exec(QString("INSERT INTO fqsum (C,V,MV,V0,DT,DT0,D,WT0,W0,InDT,OutDT,WT,W,sDeptNum,"
                        "sTypeNum,iperiod) VALUES (0,%1,%2,0,0,0,0,0,0,3,4,0,0,'D1','T1',5)")
                    .arg(v)
                    .arg(mv));

        QVERIFY(FoldSums(5, kind));
        const QVariantMap row = db.totalRow("D1", "T1", 5);
        QCOMPARE(num(row, "dblAddValue"), addValue);
        QCOMPARE(num(row, "dblDecValue"), decValue);
        QCOMPARE(num(row, "dblTransInDeprTotal"), transIn);
        QCOMPARE(num(row, "dblTransOutDeprTotal"), transOut);
        QCOMPARE(num(db.totalRow("D1", "T1", 6), "dblAddValue"), 10.0);
    }

    // The year-start sums (period 0) are added to the rows of every period
    // of their department and type.
    void yearStartReachesEveryPeriod()
    {
        test::AccountYearDb db;
        for (int period : {5, 6, 7})
            db.addTotalRow("D1", "T1", period, {{"dblYearValue", 1}, {"dblYearDeprTotal", 2}});
        db.addTotalRow("D2", "T1", 5, {{"dblYearValue", 1}});
        db.exec("INSERT INTO fqsum (C,V,MV,V0,DT,DT0,D,WT0,W0,InDT,OutDT,WT,W,sDeptNum,sTypeNum,"
                "iperiod) VALUES (2,100,0,0,30,0,0,0,0,0,0,0,0,'D1','T1',0)");

        QVERIFY(FoldSums(0, YearOpening));
        for (int period : {5, 6, 7}) {
            const QVariantMap row = db.totalRow("D1", "T1", period);
            QCOMPARE(num(row, "dblYearValue"), 101.0);
            QCOMPARE(num(row, "dblYearDeprTotal"), 32.0);
        }
        QCOMPARE(num(db.totalRow("D2", "T1", 5), "dblYearValue"), 1.0);
    }

    void anEmptyFqsumFoldsNothing()
    {
        test::AccountYearDb db;
        db.addTotalRow("D1", "T1", 5, {{"lMonthCount", 3}, {"dblAddValue", 4}});
        for (int kind = MonthOpening; kind <= YearOpening; ++kind)
            QVERIFY(FoldSums(5, kind));
        QVERIFY(FoldSums(0, YearOpening));
        const QVariantMap row = db.totalRow("D1", "T1", 5);
        QCOMPARE(num(row, "lMonthCount"), 3.0);
        QCOMPARE(num(row, "dblAddValue"), 4.0);
    }

    // ---- Failures ----------------------------------------------------------

    // Emptying the work table is not guarded: a missing table stops the run
    // with the database's own error.
    void aMissingWorkTableReachesTheCaller()
    {
        test::AccountYearDb db(false);
        test::setMonthlyPeriods(2002, kMay);
        for (auto step : {+[] { SelectCards(kMay, MonthOpening); },
                          +[] { BuildPeriodSums(kMay, MonthOpening); }}) {
            try {
                step();
                QFAIL("no error");
            } catch (const AppError &error) {
                QCOMPARE(error.number(), kErrorsInCommand);
            }
        }
        QCOMPARE(db.log().sent, QStringList({LoadSqlString(DeleteFq), LoadSqlString(DeleteFqsum)}));
    }

    // An error in the command: the work table is emptied and the insert tried
    // again, three times in all.
    void anErrorInTheCommandIsTriedThreeTimes_data()
    {
        QTest::addColumn<bool>("sums");
        QTest::newRow("select cards") << false;
        QTest::newRow("period sums") << true;
    }

    void anErrorInTheCommandIsTriedThreeTimes()
    {
        QFETCH(bool, sums);
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        const QString head = sums ? "INSERT INTO [fqsum]" : "INSERT INTO [fq]";
        const QString empty = LoadSqlString(sums ? DeleteFqsum : DeleteFq);
        const QString statement =
            sums ? PeriodSumsStatement(kMay, Additions) : SelectCardsStatement(kMay, Additions);
        db.failStatements(head, kErrorsInCommand);

        const bool done = sums ? BuildPeriodSums(kMay, Additions) : SelectCards(kMay, Additions);
        QVERIFY(!done);
        QCOMPARE(RetryCount, 3);
        QCOMPARE(SqlText, statement);
        QCOMPARE(db.log().sent,
                 QStringList({empty, statement, empty, statement, empty, statement, empty}));
    }

    void aSecondTrySucceeds()
    {
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        db.addCard({.id = "1", .num = "A", .input = day(2002, 5, 2), .opt = 1});
        db.failStatements("INSERT INTO [fq]", kErrorsInCommand, 2);

        QVERIFY(SelectCards(kMay, Additions));
        QCOMPARE(RetryCount, 2);
        QCOMPARE(db.fqIds(), QStringList{"1"});
    }

    // The file database itself reports a table missing from the join as an
    // error in the command, while the work table can be emptied.
    void aMissingLedgerTableFailsAfterThreeTries()
    {
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        db.addCard({.id = "1", .num = "A", .value = 5, .input = day(2002, 1, 1)});
        db.exec("DROP TABLE fa_DeprTransactions");
        QVERIFY(SelectCards(kMay, MonthOpening));

        QVERIFY(!BuildPeriodSums(kMay, MonthOpening));
        QCOMPARE(RetryCount, 3);
        QCOMPARE(db.count("fqsum"), 0);
    }

    void otherErrorsAnswerFalseAtOnce()
    {
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        db.failStatements("INSERT INTO", kProviderFailure);

        QVERIFY(!SelectCards(kMay, Decreases));
        QCOMPARE(RetryCount, 0);
        QVERIFY(!BuildPeriodSums(kMay, Decreases));
        QCOMPARE(RetryCount, 0);
        QCOMPARE(db.log().sent,
                 QStringList({LoadSqlString(DeleteFq), SelectCardsStatement(kMay, Decreases),
                              LoadSqlString(DeleteFqsum), PeriodSumsStatement(kMay, Decreases)}));
    }

    // The delete that the retry sends is not guarded either.
    void aFailingRetryDeleteReachesTheCaller()
    {
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        int deletes = 0;
        db.log().failWith = [&deletes](const QString &sql) -> qint32 {
            if (sql.startsWith("INSERT"))
                return kErrorsInCommand;
            if (sql == LoadSqlString(DeleteFq) && ++deletes == 2)
                return kProviderFailure;
            return 0;
        };
        try {
            SelectCards(kMay, Additions);
            QFAIL("no error");
        } catch (const AppError &error) {
            QCOMPARE(error.number(), kProviderFailure);
        }
    }

    // SelectCards looks the period up inside its guarded part: false at
    // once, nothing inserted, the counter untouched. BuildPeriodSums does so
    // outside it: the error reaches the caller.
    void aPeriodOutsideTheCalendar()
    {
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        RetryCount = 2;
        QVERIFY(!SelectCards(4, MonthOpening));
        QCOMPARE(RetryCount, 2);
        QCOMPARE(db.log().sent, QStringList{LoadSqlString(DeleteFq)});

        try {
            BuildPeriodSums(13, YearOpening);
            QFAIL("no error");
        } catch (const AppError &error) {
            QCOMPARE(error.number(), kSubscriptOutOfRange);
        }
        // Kinds that read no dates do not look the period up.
        QVERIFY(BuildPeriodSums(4, MonthOpening));
    }

    void aFailedFoldAnswersFalse()
    {
        test::AccountYearDb db;
        db.exec("DROP TABLE fqsum");
        RetryCount = 1;
        QVERIFY(!FoldSums(5, MonthOpening));
        QCOMPARE(SqlText, FoldSumsStatement(5, MonthOpening));
        QCOMPARE(db.log().sent, QStringList{FoldSumsStatement(5, MonthOpening)}); // not retried
        QCOMPARE(RetryCount, 1);
    }

    void kindsOutOfRangeSendNothing_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("-1") << -1;
        QTest::newRow("0") << 0;
        QTest::newRow("9") << 9;
        QTest::newRow("10") << 10;
        QTest::newRow("11") << 11;
    }

    void kindsOutOfRangeSendNothing()
    {
        QFETCH(int, kind);
        test::AccountYearDb db;
        test::setMonthlyPeriods(2002, kMay);
        db.addCard({.id = "1", .num = "A", .input = day(2002, 1, 1), .opt = 1});
        db.exec("INSERT INTO fq (sID) VALUES ('1')");
        db.exec("INSERT INTO fqsum (C, sDeptNum, sTypeNum, iperiod) VALUES (1, 'D1', 'T1', 5)");

        // Card selection: kinds 9 and above empty fq and stop there; below 1
        // is the closing state.
        const bool selected = SelectCards(kMay, kind);
        QCOMPARE(selected, kind < 9);
        QCOMPARE(db.fqIds().size(), kind < 9 ? 1 : 0);
        const bool summed = BuildPeriodSums(kMay, kind);
        QCOMPARE(summed, kind >= 1 && kind <= 10);
        const bool folded = FoldSums(kMay, kind);
        QCOMPARE(folded, kind >= 1 && kind <= 10);

        QStringList expected{LoadSqlString(DeleteFq)};
        if (kind < 9)
            expected << SelectCardsStatement(kMay, kind);
        expected << LoadSqlString(DeleteFqsum);
        if (summed)
            expected << PeriodSumsStatement(kMay, kind) << FoldSumsStatement(kMay, kind);
        QCOMPARE(db.log().sent, expected);
        if (!summed)
            QCOMPARE(db.count("fqsum"), 0);
    }
};

QTEST_GUILESS_MAIN(TestLedgerSteps)
#include "tst_ledger_steps.moc"
