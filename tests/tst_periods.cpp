// The period calendar: which periods a run rebuilds, with which dates, read
// from ua_period of a real system database; and the array that holds them.
#include "fixtures.h"

#include "data/app_error.h"
#include "data/db_state.h"
#include "data/dialect.h"
#include "ledger/periods.h"

#include <QTest>

using namespace fa;
using test::at;
using test::day;

namespace {

const QString kAccount = QStringLiteral("001");

qint32 errorOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const AppError &error) {
        return error.number();
    }
    return 0;
}

} // namespace

class TestPeriods : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setPendingEventsHandler({}); }

    void firstPeriodFollowsTheStartDate_data()
    {
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<int>("first");
        QTest::newRow("before the year") << at(2001, 6, 15) << true << 1;
        QTest::newRow("first day of the year") << at(2002, 1, 1) << true << 1;
        QTest::newRow("mid May") << at(2002, 5, 10) << true << 5;
        QTest::newRow("last day of period 3") << at(2002, 3, 31) << true << 3;
        QTest::newRow("first day of period 4") << at(2002, 4, 1) << true << 4;
        QTest::newRow("last day of the year") << at(2002, 12, 31) << true << 12;
        QTest::newRow("noon of the last day")
            << QDateTime(QDate(2002, 12, 31), QTime(12, 0)) << false << 0;
        QTest::newRow("after the year") << at(2003, 1, 5) << false << 0;
    }

    void firstPeriodFollowsTheStartDate()
    {
        QFETCH(QDateTime, start);
        QFETCH(bool, loaded);
        QFETCH(int, first);

        test::SystemDb db;
        db.addMonthlyPeriods(kAccount, 2002);
        // Other account sets and years are not read.
        db.addMonthlyPeriods(QStringLiteral("002"), 2002, 1, 3);
        db.addPeriod(kAccount, 2003, 1, day(2003, 1, 1), day(2003, 1, 31));
        FaStartDate = start;

        QCOMPARE(LoadPeriods(kAccount, QStringLiteral("2002")), loaded);
        QCOMPARE(SqlText, QStringLiteral("select iid,dbegin,dend from ua_period where "
                                         "cacc_id='001' and iYear=2002 order by iid"));
        if (!loaded) {
            // Nothing was sized and the connection is still there.
            QVERIFY(!Periods.hasBounds());
            QCOMPARE(SysConn->State(), adStateOpen);
            return;
        }
        QCOMPARE(Periods.lowerBound(), first);
        QCOMPARE(Periods.upperBound(), 12);
        for (int i = first; i <= 12; ++i) {
            QCOMPARE(Periods[i].BeginDate, at(2002, i, 1));
            QCOMPARE(Periods[i].EndDate, at(2002, i, 1).addMonths(1).addDays(-1));
        }
        QCOMPARE(WorkRs->State(), adStateClosed);
        QCOMPARE(SysConn->State(), adStateClosed);
    }

    void periodsMissingAtTheEndAreRefused()
    {
        test::SystemDb db;
        db.addMonthlyPeriods(kAccount, 2002, 1, 10);
        FaStartDate = at(2002, 2, 14);

        QVERIFY(!LoadPeriods(kAccount, QStringLiteral("2002")));
        QCOMPARE(Periods.lowerBound(), 2);
        QCOMPARE(Periods[10].EndDate, at(2002, 10, 31));
        for (int i : {11, 12}) {
            QCOMPARE(Periods[i].BeginDate, ZeroDate());
            QCOMPARE(Periods[i].EndDate, ZeroDate());
        }
        QCOMPARE(SysConn->State(), adStateOpen);
    }

    // Refused, naming the period and the value at fault.
    void damagedCalendarIsRefused_data()
    {
        QTest::addColumn<QString>("damage"); // statements on the 12 months of 2002
        QTest::addColumn<QString>("problem");
        QTest::newRow("tail") << "delete from ua_period where iid >= 7"
                              << "缺少第 7 期至第 12 期";
        QTest::newRow("middle") << "delete from ua_period where iid = 8"
                                << "缺少第 8 期";
        QTest::newRow("duplicate") // our own schema has a key against it
            << "alter table ua_period rename to p; create table ua_period as select * from p; "
               "insert into ua_period select * from p where iid = 5"
            << "第 5 期重复";
        QTest::newRow("null begin") << "update ua_period set dbegin = null where iid = 5"
                                    << "第 5 期的开始日期为空";
        QTest::newRow("garbage end") << "update ua_period set dend = 'garbage' where iid = 7"
                                     << "第 7 期的结束日期无法识别：garbage";
        QTest::newRow("begin after end")
            << "update ua_period set dbegin = '2002-07-01' where iid = 6"
            << "第 6 期的开始日期 2002-07-01 晚于结束日期 2002-06-30";
        QTest::newRow("overlap")
            << "update ua_period set dbegin = '2002-05-31' where iid = 6"
            << "第 6 期的开始日期 2002-05-31 不在第 5 期的结束日期 2002-05-31 之后";
        QTest::newRow("skipped row") << "update ua_period set dend = 'garbage' where iid = 2"
                                     << "第 2 期的结束日期无法识别：garbage";
    }

    void damagedCalendarIsRefused()
    {
        QFETCH(QString, damage);
        QFETCH(QString, problem);
        test::SystemDb db;
        db.addMonthlyPeriods(kAccount, 2002);
        for (const QString &sql : damage.split(u';'))
            SysConn->Execute(sql);
        FaStartDate = at(2002, 5, 10);
        QString reason;
        QVERIFY(!LoadPeriods(kAccount, QStringLiteral("2002"), &reason));
        QCOMPARE(reason, problem);
    }

    void aGapInThePeriodNumbersFails()
    {
        test::SystemDb db;
        db.addMonthlyPeriods(kAccount, 2002, 1, 3);
        db.addMonthlyPeriods(kAccount, 2002, 5, 12);
        FaStartDate = at(2002, 1, 1);

        QVERIFY(!LoadPeriods(kAccount, QStringLiteral("2002")));
        // The new array is left as far as it got; the connection stays open.
        QCOMPARE(Periods.lowerBound(), 1);
        QCOMPARE(Periods[3].EndDate, at(2002, 3, 31));
        QCOMPARE(Periods[4].BeginDate, ZeroDate());
        QCOMPARE(SysConn->State(), adStateOpen);

        // A gap before the first period to rebuild does not matter.
        FaStartDate = at(2002, 5, 2);
        QVERIFY(LoadPeriods(kAccount, QStringLiteral("2002")));
        QCOMPARE(Periods.lowerBound(), 5);
    }

    void rowsAfterPeriod12AreNotRead()
    {
        test::SystemDb db;
        db.addMonthlyPeriods(kAccount, 2002);
        db.addPeriod(kAccount, 2002, 13, day(2003, 1, 1), day(2003, 1, 31));
        FaStartDate = at(2002, 11, 3);

        QVERIFY(LoadPeriods(kAccount, QStringLiteral("2002")));
        QCOMPARE(Periods.lowerBound(), 11);
        QCOMPARE(Periods.upperBound(), 12);
        QCOMPARE(Periods[12].EndDate, at(2002, 12, 31));
    }

    // Only a thirteenth period ends after the start date: there is nothing
    // to rebuild in periods 1 to 12, and no calendar can be formed.
    void aFirstPeriodAbove12Fails()
    {
        test::SystemDb db;
        db.addMonthlyPeriods(kAccount, 2002);
        db.addPeriod(kAccount, 2002, 13, day(2002, 12, 31), day(2003, 1, 31));
        Periods.resize(3, 12);
        FaStartDate = at(2003, 1, 10);

        QVERIFY(!LoadPeriods(kAccount, QStringLiteral("2002")));
        QCOMPARE(Periods.lowerBound(), 3); // the previous calendar stays
    }

    void theSystemDatabaseMustBeOpenedAgainForASecondCall()
    {
        test::SystemDb db;
        db.addMonthlyPeriods(kAccount, 2002);
        FaStartDate = at(2002, 5, 10);

        QVERIFY(LoadPeriods(kAccount, QStringLiteral("2002")));
        QVERIFY(!LoadPeriods(kAccount, QStringLiteral("2002")));
        QVERIFY(db.reopen());
        FaStartDate = at(2002, 8, 1);
        QVERIFY(LoadPeriods(kAccount, QStringLiteral("2002")));
        QCOMPARE(Periods.lowerBound(), 8);
    }

    void unreadableDatesAreRefused()
    {
        test::SystemDb db;
        db.addPeriod(kAccount, 2002, 1, day(2002, 1, 1), day(2002, 1, 31));
        db.addPeriod(kAccount, 2002, 2, QString(), day(2002, 2, 28));
        db.addPeriod(kAccount, 2002, 3, QStringLiteral("not a date"), QString());
        db.addMonthlyPeriods(kAccount, 2002, 4, 12);
        FaStartDate = at(2002, 1, 1);

        QVERIFY(!LoadPeriods(kAccount, QStringLiteral("2002")));
    }

    // A period whose end cannot be read might be the first one.
    void aPeriodWithoutEndIsRefused()
    {
        test::SystemDb db;
        db.addPeriod(kAccount, 2002, 1, day(2002, 1, 1), QString());
        db.addMonthlyPeriods(kAccount, 2002, 2, 12);
        FaStartDate = at(2001, 1, 1);

        QVERIFY(!LoadPeriods(kAccount, QStringLiteral("2002")));
    }

    void pendingEventsRunOncePerPeriod()
    {
        test::SystemDb db;
        db.addMonthlyPeriods(kAccount, 2002);
        FaStartDate = at(2002, 5, 10);
        int calls = 0;
        setPendingEventsHandler([&calls] { ++calls; });

        QVERIFY(LoadPeriods(kAccount, QStringLiteral("2002")));
        QCOMPARE(calls, 8); // periods 5 to 12
    }

    void aClosedSystemDatabaseFails()
    {
        test::SystemDb db;
        db.addMonthlyPeriods(kAccount, 2002);
        SysConn->Close();
        QVERIFY(!LoadPeriods(kAccount, QStringLiteral("2002")));
        QVERIFY(!Periods.hasBounds());
    }

    void indexingOutsideTheBoundsRaises()
    {
        PeriodArray periods;
        QCOMPARE(errorOf([&] { periods[1]; }), kSubscriptOutOfRange);
        QCOMPARE(errorOf([&] { periods.lowerBound(); }), kSubscriptOutOfRange);

        periods.resize(5, 12);
        QCOMPARE(periods[5].BeginDate, ZeroDate());
        QCOMPARE(periods[12].EndDate, ZeroDate());
        QCOMPARE(errorOf([&] { periods[4]; }), kSubscriptOutOfRange);
        QCOMPARE(errorOf([&] { periods[13]; }), kSubscriptOutOfRange);
        try {
            periods[0];
            QFAIL("no error");
        } catch (const AppError &error) {
            QCOMPARE(error.description(), QStringLiteral("下标越界"));
        }

        // Sizing replaces everything with zero dates; bounds that cannot be
        // formed keep the old array.
        periods[6].EndDate = at(2002, 6, 30);
        QCOMPARE(errorOf([&] { periods.resize(13, 12); }), kSubscriptOutOfRange);
        QCOMPARE(periods[6].EndDate, at(2002, 6, 30));
        periods.resize(6, 12);
        QCOMPARE(periods[6].EndDate, ZeroDate());
    }

    void datesAreReadFromTextAndDateValues_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<int>("error");
        QTest::newRow("stored text") << QVariant("2002-05-31 00:00:00") << at(2002, 5, 31) << 0;
        QTest::newRow("with a time")
            << QVariant("2002-05-31 08:30:00") << QDateTime(QDate(2002, 5, 31), QTime(8, 30)) << 0;
        QTest::newRow("date only") << QVariant("2002-05-31") << at(2002, 5, 31) << 0;
        QTest::newRow("slashes") << QVariant("2002/5/1") << at(2002, 5, 1) << 0;
        const QDateTime oneAm = at(2002, 5, 1).addSecs(3600);
        QTest::newRow("one-digit hour") << QVariant("2002-05-01 1:00:00") << oneAm << 0;
        QTest::newRow("one-digit month, no seconds") << QVariant("2002-5-1 1:00") << oneAm << 0;
        QTest::newRow("slashes, no seconds") << QVariant("2002/5/1 1:00") << oneAm << 0;
        QTest::newRow("no such day") << QVariant("2002-2-30") << QDateTime() << 13;
        QTest::newRow("date value") << QVariant(at(2002, 5, 31)) << at(2002, 5, 31) << 0;
        QTest::newRow("day number") << QVariant(37407.0) << at(2002, 5, 31) << 0;
        QTest::newRow("null") << QVariant() << QDateTime() << 94;
        QTest::newRow("not a date") << QVariant("31.05.2002x") << QDateTime() << 13;
        QTest::newRow("empty text") << QVariant("") << QDateTime() << 13;
    }

    void datesAreReadFromTextAndDateValues()
    {
        QFETCH(QVariant, value);
        QFETCH(QDateTime, date);
        QFETCH(int, error);
        try {
            QCOMPARE(DateValue(value), date);
            QCOMPARE(error, 0);
        } catch (const AppError &e) {
            QCOMPARE(e.number(), error);
        }
    }
};

QTEST_GUILESS_MAIN(TestPeriods)
#include "tst_periods.moc"
