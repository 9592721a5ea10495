// The four dialect switches in both modes, and placeholder filling.

#include "data/db_state.h"
#include "data/dialect.h"

#include <QtTest>

using namespace fa;

class TestDialect : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { IsAccess = false; }

    void switches_data()
    {
        QTest::addColumn<bool>("access");
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("expected");

        const auto add = [](const char *name, bool access, const char *function,
                            const char *argument, const char *expected) {
            QTest::newRow(name) << access << QString::fromLatin1(function)
                                << QString::fromLatin1(argument) << QString::fromLatin1(expected);
        };
        add("NullToZero access", true, "NullToZero", "dblWork0", "dblWork0");
        add("NullToZero access empty", true, "NullToZero", "", "");
        add("NullToZero server", false, "NullToZero", "dblWork0", "isnull(dblWork0,0)");
        // The caller fills its own placeholder later: it must survive.
        add("NullToZero server placeholder", false, "NullToZero", "dblWork|1",
            "isnull(dblWork|1,0)");
        add("PositiveOrZero access", true, "PositiveOrZero", "b.v-b.mv",
            "iif(b.v-b.mv>0,b.v-b.mv,0)");
        add("PositiveOrZero server", false, "PositiveOrZero", "b.v-b.mv",
            "Case when b.v-b.mv>0 then b.v-b.mv else 0 end");
        add("PositiveOrZero access placeholder", true, "PositiveOrZero", "dblWorkT|1",
            "iif(dblWorkT|1>0,dblWorkT|1,0)");
        add("PositiveOrZero access empty", true, "PositiveOrZero", "", "iif(>0,,0)");
        add("PositiveOrZero server empty", false, "PositiveOrZero", "",
            "Case when >0 then  else 0 end");
        add("NumericExpr access", true, "NumericExpr", "[sBeforeVoucher]", "val([sBeforeVoucher])");
        add("NumericExpr server", false, "NumericExpr", "dblValueBefore",
            "cast(dblValueBefore as float)");
        add("NumericExpr access empty", true, "NumericExpr", "", "val()");
        add("NumericExpr server empty", false, "NumericExpr", "", "cast( as float)");
    }
    void switches()
    {
        QFETCH(bool, access);
        QFETCH(QString, function);
        QFETCH(QString, argument);
        QFETCH(QString, expected);
        IsAccess = access;
        QString actual;
        if (function == QLatin1String("NullToZero"))
            actual = NullToZero(argument);
        else if (function == QLatin1String("PositiveOrZero"))
            actual = PositiveOrZero(argument);
        else
            actual = NumericExpr(argument);
        QCOMPARE(actual, expected);
    }

    // Dates read the same by either engine whatever its language: ISO order,
    // the time only when it is not midnight.
    void dateLiteral_data()
    {
        QTest::addColumn<bool>("access");
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<QString>("expected");
        const QDateTime midnight(QDate(2002, 5, 1), QTime(0, 0));
        const QDateTime afternoon(QDate(2002, 12, 31), QTime(13, 4, 5));
        QTest::newRow("access midnight") << true << midnight << "#2002-05-01#";
        QTest::newRow("access with time") << true << afternoon << "#2002-12-31 13:04:05#";
        QTest::newRow("server midnight") << false << midnight << "'20020501'";
        QTest::newRow("server with time") << false << afternoon << "'2002-12-31T13:04:05'";
        QTest::newRow("server one second past midnight")
            << false << QDateTime(QDate(2002, 5, 1), QTime(0, 0, 1)) << "'2002-05-01T00:00:01'";
        // The period calendar leaves entries without a period at day zero.
        QTest::newRow("access no date") << true << QDateTime() << "#1899-12-30#";
        QTest::newRow("server no date") << false << QDateTime() << "'18991230'";
    }
    void dateLiteral()
    {
        QFETCH(bool, access);
        QFETCH(QDateTime, date);
        QFETCH(QString, expected);
        IsAccess = access;
        QCOMPARE(DateLiteral(date), expected);
    }

    void modeIsReadAtEachCall()
    {
        IsAccess = true;
        const QString access = NullToZero(QStringLiteral("x"));
        IsAccess = false;
        QCOMPARE(NullToZero(QStringLiteral("x")), QStringLiteral("isnull(x,0)"));
        IsAccess = true;
        QCOMPARE(NullToZero(QStringLiteral("x")), access);
    }

    void fillPlaceholder_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("placeholder");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        const auto add = [](const char *name, const char *text, const char *value,
                            const char *expected) {
            QTest::newRow(name) << QString::fromLatin1(text) << QStringLiteral("|1")
                                << QString::fromLatin1(value) << QString::fromLatin1(expected);
        };
        add("every occurrence", "a|1b|1", "x", "axbx");
        add("value holding the placeholder", "|1 and |1", "v|1", "v|1 and v|1");
        add("value completing a placeholder with the text", "|11", "|", "|1");
    }
    void fillPlaceholder()
    {
        QFETCH(QString, text);
        QFETCH(QString, placeholder);
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(FillPlaceholder(text, placeholder, value), expected);
    }
};

QTEST_GUILESS_MAIN(TestDialect)
#include "tst_dialect.moc"
