// The Jet SQL the tool sends to a file database, run on real SQLite files:
// date literals, the joined UPDATE of the fold, Val and CStr, and texts and
// names that only look like those constructs.
#include "data/app_error.h"
#include "data/connection.h"
#include "data/jet_sql.h"
#include "data/sqlite_provider.h"
#include "fixtures.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <sqlite3.h>

using namespace fa;

namespace {

// The join of the fold statements, and the same cut before its last "and"
// for the year-opening pass of period 0.
const QString kJoin = QStringLiteral(
    " fa_Total AS a INNER JOIN fqsum AS b ON a.sTypeNum = b.sTypeNum AND a.sDeptNum = b.sDeptNum "
    "and a.iperiod=b.iperiod");
const QString kJoinAllPeriods = QStringLiteral(
    " fa_Total AS a INNER JOIN fqsum AS b ON a.sTypeNum = b.sTypeNum AND a.sDeptNum = b.sDeptNum ");

// The 22 figure columns of fa_Total, after its three keys.
const QStringList kTotalColumns = fa::test::totalColumns().mid(3);

using Expected = QMap<QString, double>; // column → value; the others stay 1

QString accessFold(const QString &set, bool allPeriods = false)
{
    return QStringLiteral("UPDATE ") + (allPeriods ? kJoinAllPeriods : kJoin) + QLatin1Char(' ') +
           set;
}

QString literal(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

} // namespace

class TestJetAdapter : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;
    Connection m_conn;

    // A fresh database file, opened on m_conn.
    void openFresh()
    {
        if (m_conn.State() == adStateOpen)
            m_conn.Close();
        const QString path = m_dir.filePath(QStringLiteral("db%1.mdb").arg(++m_count));
        createDatabaseFile(path);
        m_conn.Open(QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=") + path);
    }

    QVariant scalar(const QString &sql)
    {
        Recordset rs;
        rs.Open(sql, m_conn);
        if (rs.State() != adStateOpen || rs.Eof())
            return QVariant(QStringLiteral("<no row>"));
        return rs.Fields(0);
    }

    QStringList column(const QString &sql)
    {
        QStringList values;
        Recordset rs;
        rs.Open(sql, m_conn);
        for (; !rs.Eof(); rs.MoveNext())
            values << rs.Fields(0).toString();
        return values;
    }

    qint32 errorOf(const QString &sql)
    {
        try {
            Recordset rs;
            rs.Open(sql, m_conn);
        } catch (const AppError &e) {
            return e.number();
        }
        return 0;
    }

    // fa_Total with three rows whose figures are all 1, and fqsum as the
    // Access tool creates it.
    void createFoldTables()
    {
        openFresh();
        QString columns;
        for (const QString &c : kTotalColumns)
            columns += QStringLiteral(",%1 double default 1").arg(c);
        m_conn.Execute(
            QStringLiteral("create table fa_Total (sDeptNum text, sTypeNum text, iPeriod "
                           "integer%1, primary key (sDeptNum, sTypeNum, iPeriod))")
                .arg(columns));
        m_conn.Execute(QStringLiteral(
            "CREATE TABLE [fqsum] ([C] integer ,[V] double ,[MV] double ,[V0] double ,[DT] "
            "double ,[DT0] double ,[D] double ,[WT0] double,[W0] double ,[InDT]double ,[OutDT] "
            "double ,[WT] double,[W] double ,[sDeptNum] nchar(20) ,[sTypeNum] nchar(20) ,[iperiod] "
            "integer )"));
        m_conn.Execute(QStringLiteral("insert into fa_Total (sDeptNum, sTypeNum, iPeriod) values "
                                      "('D1','T1',5), ('D1','T1',6), ('D2','T1',5)"));
    }

    void insertSums(const QString &dept, int period, double v, double mv)
    {
        // C=3, DT=7, D=2, InDT=4, OutDT=5, WT=8, W=6
        m_conn.Execute(QStringLiteral("INSERT INTO [fqsum]([C], [V], [MV], [V0], [DT], [DT0], [D], "
                                      "[WT0], [W0], [InDT], [OutDT], [WT], [W], [sDeptNum], "
                                      "[sTypeNum], [iperiod]) values (3,%1,%2,0,7,0,2,0,0,4,5,8,6,"
                                      "'%3','T1',%4)")
                           .arg(v)
                           .arg(mv)
                           .arg(dept)
                           .arg(period));
    }

    // Every figure of every fa_Total row: the expected ones as given, all
    // others still 1.
    void verifyTotals(const QMap<QString, Expected> &expected)
    {
        Recordset rs;
        rs.Open(QStringLiteral("select * from fa_Total order by sDeptNum, iPeriod"), m_conn);
        int rows = 0;
        for (; !rs.Eof(); rs.MoveNext(), ++rows) {
            const QString key = rs.Fields(QStringLiteral("sDeptNum")).toString() +
                                QLatin1Char('/') + rs.Fields(QStringLiteral("iPeriod")).toString();
            const Expected row = expected.value(key);
            for (const QString &c : kTotalColumns) {
                const double actual = rs.Fields(c).toDouble();
                const double want = row.value(c, 1.0);
                if (actual != want)
                    QFAIL(qPrintable(QStringLiteral("%1 %2: %3, expected %4")
                                         .arg(key, c)
                                         .arg(actual)
                                         .arg(want)));
            }
        }
        QCOMPARE(rows, 3);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // The fold statements of the Access mode, exactly as the tool builds
    // them, on fa_Total rows D1/5, D1/6 and D2/5 whose figures are all 1.
    // fqsum holds D1/5 (C=3, V, MV, DT=7, D=2, InDT=4, OutDT=5, WT=8, W=6)
    // and a row D9/5 that matches nothing.
    void foldStatementsUpdateTheMatchingRows_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<int>("sumsPeriod");
        QTest::addColumn<double>("v");
        QTest::addColumn<double>("mv");
        QTest::addColumn<Expected>("d1p5");
        QTest::addColumn<Expected>("d1p6");

        QTest::newRow("1 opening")
            << accessFold(QStringLiteral(
                   " SET [lMonthCount]=b.C,[dblMonthValue]=b.v,[dblMonthDeprTotal]=b.Dt "))
            << 5 << 120.0 << 100.0
            << Expected{{"lMonthCount", 3}, {"dblMonthValue", 120}, {"dblMonthDeprTotal", 7}}
            << Expected{};
        QTest::newRow("2 closing")
            << accessFold(
                   QStringLiteral(" SET dblValue = b.v, dblDeprTotal = b.dt,[dblDepr]=b.d,"
                                  "[lCount]=C,[dblWork]=w,[dblWorkT]=wt,[dblAccrualValue]=mv "))
            << 5 << 120.0 << 100.0
            << Expected{{"dblValue", 120},       {"dblDeprTotal", 7}, {"dblDepr", 2},
                        {"lCount", 3},           {"dblWork", 6},      {"dblWorkT", 8},
                        {"dblAccrualValue", 100}}
            << Expected{};
        QTest::newRow("3 additions")
            << accessFold(QStringLiteral("SET [dblTransInDeprTotal] = [dblTransInDeprTotal]+b.InDT,"
                                         "[dblAddValue]=[dblAddValue]+b.v"))
            << 5 << 120.0 << 100.0 << Expected{{"dblTransInDeprTotal", 5}, {"dblAddValue", 121}}
            << Expected{};
        QTest::newRow("4 decreases")
            << accessFold(
                   QStringLiteral("SET [dblTransOutDeprTotal] =[dblTransOutDeprTotal] + b.outdt,"
                                  "[dblDecValue]=[dblDecValue]+b.v"))
            << 5 << 120.0 << 100.0 << Expected{{"dblTransOutDeprTotal", 6}, {"dblDecValue", 121}}
            << Expected{};
        QTest::newRow("5 increase, negative difference kept")
            << accessFold(QStringLiteral("SET [dblAddValue]=[dblAddValue]+b.v-b.mv")) << 5 << 80.0
            << 100.0 << Expected{{"dblAddValue", -19}} << Expected{};
        QTest::newRow("6 decrease")
            << accessFold(QStringLiteral("SET [dblDecValue]=[dblDecValue]+b.mv-b.v")) << 5 << 80.0
            << 100.0 << Expected{{"dblDecValue", 21}} << Expected{};
        QTest::newRow("7 transfer")
            << accessFold(
                   QStringLiteral("SET [dblTransInDeprTotal] = [dblTransInDeprTotal]+b.InDT,"
                                  "[dblTransOutDeprTotal] =[dblTransOutDeprTotal] + b.outdt"))
            << 5 << 120.0 << 100.0
            << Expected{{"dblTransInDeprTotal", 5}, {"dblTransOutDeprTotal", 6}} << Expected{};
        const QString kind8 =
            QStringLiteral("SET [dblTransInDeprTotal] = [dblTransInDeprTotal]+b.InDT,"
                           "[dblTransOutDeprTotal] =[dblTransOutDeprTotal] + b.outdt,"
                           "[dblAddValue]=[dblAddValue]+iif(b.v-b.mv>0,b.v-b.mv,0),"
                           "[dblDecValue]=[dblDecValue]+iif(b.mv-b.v>0,b.mv-b.v,0)");
        QTest::newRow("8 revaluation up") << accessFold(kind8) << 5 << 120.0 << 100.0
                                          << Expected{{"dblTransInDeprTotal", 5},
                                                      {"dblTransOutDeprTotal", 6},
                                                      {"dblAddValue", 21},
                                                      {"dblDecValue", 1}}
                                          << Expected{};
        QTest::newRow("8 revaluation down") << accessFold(kind8) << 5 << 80.0 << 100.0
                                            << Expected{{"dblTransInDeprTotal", 5},
                                                        {"dblTransOutDeprTotal", 6},
                                                        {"dblAddValue", 1},
                                                        {"dblDecValue", 21}}
                                            << Expected{};
        QTest::newRow("9 previous period")
            << accessFold(
                   QStringLiteral(" SET [dblLastAccrualValue] = b.MV,[dblLastDepr] =b.[d],"
                                  "[dblLastAddValue] = b.[InDT],[dblLastDecValue] =b.[OutDT],"
                                  "[dblLastWork] = [W],[dblLastWorkTotal] = [WT]"))
            << 5 << 120.0 << 100.0
            << Expected{{"dblLastAccrualValue", 100}, {"dblLastDepr", 2}, {"dblLastAddValue", 4},
                        {"dblLastDecValue", 5},       {"dblLastWork", 6}, {"dblLastWorkTotal", 8}}
            << Expected{};
        QTest::newRow("10 year opening")
            << accessFold(QStringLiteral("Set [dblYearValue]=b.v,[dblYearDeprTotal]=b.dt")) << 5
            << 120.0 << 100.0 << Expected{{"dblYearValue", 120}, {"dblYearDeprTotal", 7}}
            << Expected{};
        // Period 0: the sums meet every period of their department and type.
        const Expected yearStart{{"dblYearValue", 121}, {"dblYearDeprTotal", 8}};
        QTest::newRow("10 period 0")
            << accessFold(QStringLiteral("set [dblYearValue]=[dblYearValue]"
                                         "+b.v,[dblYearDeprTotal]="
                                         "[dblYearDeprTotal]+b.dt"),
                          true)
            << 0 << 120.0 << 100.0 << yearStart << yearStart;
    }
    void foldStatementsUpdateTheMatchingRows()
    {
        QFETCH(QString, statement);
        QFETCH(int, sumsPeriod);
        QFETCH(double, v);
        QFETCH(double, mv);
        QFETCH(Expected, d1p5);
        QFETCH(Expected, d1p6);
        createFoldTables();
        insertSums(QStringLiteral("D1"), sumsPeriod, v, mv);
        insertSums(QStringLiteral("D9"), sumsPeriod, 1000, 1000);
        m_conn.Execute(statement);
        verifyTotals({{QStringLiteral("D1/5"), d1p5}, {QStringLiteral("D1/6"), d1p6}});
    }

    void foldWithEmptySumsChangesNothing()
    {
        createFoldTables();
        m_conn.Execute(accessFold(QStringLiteral("SET [dblAddValue]=[dblAddValue]+b.v-b.mv")));
        verifyTotals({});
    }

    // Other shapes of the joined UPDATE that Jet accepts, and malformed
    // statements that must be refused as they stand rather than rewritten
    // into another statement.
    void joinedUpdateForms_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QStringList>("values"); // t.v by t.k after the update
        QTest::addColumn<qint32>("error");
        const QStringList unchanged{QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")};
        const auto refused = [&](const char *row, const char *statement) {
            QTest::newRow(row) << QString::fromUtf8(statement) << unchanged << kErrorsInCommand;
        };
        refused("unterminated text", "update t inner join u on t.k=u.k set v=u.w where u.w<>'x");
        refused("unterminated double-quoted text", "update t set v = \"abc");
        refused("unterminated name", "update t inner join u on t.k=u.k set [v=u.w");
        refused("unterminated date", "update t set v = #2002-05-01");
        refused("unterminated comment", "update t set v = 1 /* all of them");
        refused("unbalanced parentheses", "update t inner join u on (t.k=u.k set v=u.w");
        refused("parentheses that close no join",
                "update (t inner join u on t.k=u.k and u.w=1)0 inner join x on x.k=t.k set v=x.z");

        QTest::newRow("where after set is anded")
            << QStringLiteral("update t as a inner join u as b on a.k = b.k set a.v = b.w where "
                              "b.w > 15 or b.w < 0")
            << QStringList{QStringLiteral("0"), QStringLiteral("20"), QStringLiteral("0")} << 0;
        QTest::newRow("no aliases, brackets")
            << QStringLiteral("UPDATE [t] INNER JOIN [u] ON [t].[k]=[u].[k] SET [t].[v]=[u].[w]")
            << QStringList{QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("0")} << 0;
        QTest::newRow("nested joins")
            << QStringLiteral("UPDATE (t AS a INNER JOIN u AS b ON a.k=b.k) INNER JOIN x AS c ON "
                              "c.k=a.k SET v=b.w+c.z;")
            << QStringList{QStringLiteral("110"), QStringLiteral("0"), QStringLiteral("0")} << 0;
        QTest::newRow("left join after the first")
            << QStringLiteral("UPDATE t AS a INNER JOIN u AS b ON a.k=b.k LEFT JOIN x AS c ON "
                              "c.k=b.k SET v=b.w+ifnull(c.z,5)")
            << QStringList{QStringLiteral("110"), QStringLiteral("25"), QStringLiteral("0")} << 0;
    }
    void joinedUpdateForms()
    {
        QFETCH(QString, statement);
        QFETCH(QStringList, values);
        QFETCH(qint32, error);
        openFresh();
        m_conn.Execute(QStringLiteral("create table t(k, v)"));
        m_conn.Execute(QStringLiteral("create table u(k, w)"));
        m_conn.Execute(QStringLiteral("create table x(k, z)"));
        m_conn.Execute(QStringLiteral("insert into t values (1,0),(2,0),(3,0)"));
        m_conn.Execute(QStringLiteral("insert into u values (1,10),(2,20),(9,-1)"));
        m_conn.Execute(QStringLiteral("insert into x values (1,100)"));
        QCOMPARE(errorOf(statement), error);
        QCOMPARE(column(QStringLiteral("select v from t order by k")), values);
    }

    // Stored dates carry their time; a date literal means midnight and is
    // compared as a date, and between includes both ends.
    void dateLiteralsCompareWithStoredDates_data()
    {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QStringList>("ids");
        QTest::newRow("between, both ends")
            << QStringLiteral("d between #2002-05-01# and #2002-05-31#")
            << QStringList{QStringLiteral("1"), QStringLiteral("2")};
        QTest::newRow("between with times")
            << QStringLiteral("d between #2002-05-01 00:00:00# and #2002-05-31 13:05:00#")
            << QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
        QTest::newRow("before the begin")
            << QStringLiteral("d<#2002-05-01#  And (d<#2002-05-01# Or d Is Null )")
            << QStringList{QStringLiteral("0")};
        QTest::newRow("up to the end, short forms")
            << QStringLiteral("d<=#2002-5-31 13:5#")
            << QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                           QStringLiteral("3")};
        QTest::newRow("US order") << QStringLiteral("d = #5/31/2002#")
                                  << QStringList{QStringLiteral("2")};
        QTest::newRow("texts and names untouched")
            << QStringLiteral("[#note#] = '#2002-05-31#' and \"x#1#\" = 'x#1#'")
            << QStringList{QStringLiteral("2")};
    }
    void dateLiteralsCompareWithStoredDates()
    {
        QFETCH(QString, condition);
        QFETCH(QStringList, ids);
        openFresh();
        m_conn.Execute(QStringLiteral("create table c(id integer, d datetime, [#note#] text)"));
        m_conn.Execute(QStringLiteral(
            "insert into c values (0, '2002-04-30 23:59:59', null), (1, '2002-05-01 00:00:00', "
            "null), (2, '2002-05-31 00:00:00', '#2002-05-31#'), (3, '2002-05-31 13:05:00', null), "
            "(4, '2002-06-01 00:00:00', null), (5, null, null)"));
        QCOMPARE(column(QStringLiteral("select id from c where ") + condition +
                        QStringLiteral(" order by id")),
                 ids);
    }

    void unreadableDateLiteralIsRefused()
    {
        openFresh();
        QCOMPARE(errorOf(QStringLiteral("select #2002-13-45#")), kErrorsInCommand);
        QCOMPARE(errorOf(QStringLiteral("select #yesterday#")), kErrorsInCommand);
    }

    // Texts and names that hold the words of the rewrite are data, not SQL.
    void textsAndNamesAreLeftAlone()
    {
        openFresh();
        m_conn.Execute(QStringLiteral("create table [a JOIN b SET c] ([x#1#] text, [SET] text)"));
        m_conn.Execute(QStringLiteral("insert into [a JOIN b SET c] values ('UPDATE t INNER JOIN "
                                      "u ON 1 SET #2002-05-31#', 'it''s')"));
        m_conn.Execute(QStringLiteral("update [a JOIN b SET c] set [SET] = 'INNER JOIN #1/2/2003# "
                                      "SET' where [x#1#] like '%JOIN%'"));
        Recordset rs;
        rs.Open(QStringLiteral("select [x#1#], [SET] from [a JOIN b SET c]"), m_conn);
        QCOMPARE(rs.Fields(0).toString(),
                 QStringLiteral("UPDATE t INNER JOIN u ON 1 SET #2002-05-31#"));
        QCOMPARE(rs.Fields(1).toString(), QStringLiteral("INNER JOIN #1/2/2003# SET"));
        rs.Close();
        // A plain UPDATE whose text mentions a join is not rewritten.
        QCOMPARE(jet::translate(QStringLiteral("update t set v = 'a INNER JOIN b ON c'")),
                 QStringLiteral("update t set v = 'a INNER JOIN b ON c'"));
        // A "…" text of Jet SQL is a text, even when a column has its name.
        QCOMPARE(scalar(QStringLiteral("select count(*) from [a JOIN b SET c] where [SET] <> "
                                       "\"SET\""))
                     .toInt(),
                 1);
    }

    void valReadsTheLeadingNumber_data()
    {
        QTest::addColumn<QString>("argument"); // an SQL expression
        QTest::addColumn<double>("expected");
        const auto text = [](const char *row, const QString &value, double expected) {
            QTest::newRow(row) << literal(value) << expected;
        };
        text("blanks between digits", QStringLiteral(" 1 234.50元"), 1234.5);
        text("tab and line feed", QStringLiteral("\t1\n2 3"), 123);
        text("hexadecimal", QStringLiteral("&HFF"), 255);
        text("hexadecimal, lower case", QStringLiteral("&hff"), 255);
        text("octal", QStringLiteral("&O17"), 15);
        text("16-bit hexadecimal is signed", QStringLiteral("&HFFFF"), -1);
        text("32-bit hexadecimal", QStringLiteral("&H10000"), 65536);
        text("empty", QString(), 0);
        text("no number", QStringLiteral("abc"), 0);
        text("comma ends it", QStringLiteral("1,234.50"), 1);
        text("sign and exponent", QStringLiteral("-12.5e2"), -1250);
        text("D exponent", QStringLiteral("1.5D3"), 1500);
        text("sign apart", QStringLiteral(" - 3"), -3);
        text("exponent without digits", QStringLiteral("7e"), 7);
        text("leading point", QStringLiteral(".5"), 0.5);
        text("second point ends it", QStringLiteral("1.2.3"), 1.2);
        text("leading zeros", QStringLiteral("00012"), 12);
        text("card id", QStringLiteral("0000000010"), 10);
        text("many digits", QStringLiteral("1234567890123456789012345678901234567890123456789"),
             1.234567890123456789e48);
        text("tiny", QStringLiteral("0.") + QString(60, QLatin1Char('0')) + QStringLiteral("25"),
             2.5e-61);
        text("carriage return ends it", QStringLiteral("12\r3"), 12);
        QTest::newRow("integer") << QStringLiteral("42") << 42.0;
        QTest::newRow("real") << QStringLiteral("2.5") << 2.5;
    }
    void valReadsTheLeadingNumber()
    {
        QFETCH(QString, argument);
        QFETCH(double, expected);
        if (m_conn.State() != adStateOpen)
            openFresh();
        const QVariant value = scalar(QStringLiteral("select Val(") + argument + QLatin1Char(')'));
        QVERIFY2(value.typeId() == QMetaType::Double || value.typeId() == QMetaType::LongLong,
                 value.typeName());
        QCOMPARE(value.toDouble(), expected);
    }

    void valOfNullIsNullAndOverflowIsAnError()
    {
        openFresh();
        QVERIFY(scalar(QStringLiteral("select val(null)")).isNull());
        QVERIFY(errorOf(QStringLiteral("select val('1e400')")) != 0);
        QVERIFY(errorOf(QStringLiteral("select val('&H100000000')")) != 0);
        // Summed over a column, Null rows are skipped as any Null.
        m_conn.Execute(QStringLiteral("create table v(s text)"));
        m_conn.Execute(QStringLiteral("insert into v values ('1.5'), (null), ('2元')"));
        QCOMPARE(scalar(QStringLiteral("select sum(val([s])) from v")).toDouble(), 3.5);
    }

    void cstrWritesNumbersAsText_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("expected");
        QTest::newRow("whole double") << QStringLiteral("10.0") << QStringLiteral("10");
        QTest::newRow("fraction") << QStringLiteral("12.5") << QStringLiteral("12.5");
        QTest::newRow("negative") << QStringLiteral("-2.5") << QStringLiteral("-2.5");
        QTest::newRow("15 digits")
            << QStringLiteral("1.0/3") << QStringLiteral("0.333333333333333");
        QTest::newRow("sum error hidden") << QStringLiteral("0.1+0.2") << QStringLiteral("0.3");
        QTest::newRow("large whole")
            << QStringLiteral("123456789012345.0") << QStringLiteral("123456789012345");
        QTest::newRow("huge") << QStringLiteral("1e20") << QStringLiteral("1E+20");
        QTest::newRow("small") << QStringLiteral("0.00001") << QStringLiteral("1E-05");
        QTest::newRow("integer") << QStringLiteral("7") << QStringLiteral("7");
        QTest::newRow("text unchanged") << QStringLiteral("' 0012 '") << QStringLiteral(" 0012 ");
        QTest::newRow("negative zero") << QStringLiteral("-0.0") << QStringLiteral("0");
    }
    void cstrWritesNumbersAsText()
    {
        QFETCH(QString, argument);
        QFETCH(QString, expected);
        if (m_conn.State() != adStateOpen)
            openFresh();
        const QVariant value = scalar(QStringLiteral("select CStr(") + argument + QLatin1Char(')'));
        QCOMPARE(value.typeId(), QMetaType::QString);
        QCOMPARE(value.toString(), expected);
        QVERIFY(scalar(QStringLiteral("select cstr(null)")).isNull());
    }

    // The card-state selection of the Access mode: per card the record with
    // the greatest id by number ('10' over '9'), written back as text that
    // joins the card records again.
    void cardStateSelectionPicksTheGreatestIdByNumber()
    {
        openFresh();
        m_conn.Execute(QStringLiteral("create table fa_Cards (sCardID text, sCardNum text, "
                                      "dInputDate datetime, dTransDate datetime, dDisposeDate "
                                      "datetime, iOptType integer)"));
        m_conn.Execute(QStringLiteral("create table fq([sID] nchar(20)) "));
        m_conn.Execute(
            QStringLiteral("insert into fa_Cards values "
                           "('9', 'A', '2002-01-05 00:00:00', '2002-03-01 00:00:00', null, 4),"
                           "('10', 'A', '2002-01-05 00:00:00', '2002-04-30 00:00:00', null, 4),"
                           "('11', 'A', '2002-01-05 00:00:00', '2002-05-01 00:00:00', null, 4),"
                           "('2', 'B', '2002-02-01 00:00:00', null, null, 1),"
                           "('3', 'B', '2002-05-01 00:00:00', null, null, 1),"
                           "('7', 'C', '2002-05-01 00:00:00', null, '2002-05-31 00:00:00', 3)"));
        m_conn.Execute(QStringLiteral(
            "INSERT INTO [fq]([sID]) SELECT CStr(Max(Val([sCardID]))) From fa_Cards Where "
            "dInputDate<#2002-05-01#  And (dTransDate<#2002-05-01# Or dTransDate Is Null ) And "
            "(dDisposeDate<#2002-05-01# Or dDisposeDate Is Null) GROUP BY sCardNum"));
        QCOMPARE(column(QStringLiteral("select a.sCardID from fa_Cards AS a INNER JOIN fq ON "
                                       "a.sCardID = fq.sID order by a.sCardNum")),
                 (QStringList{QStringLiteral("10"), QStringLiteral("2")}));

        m_conn.Execute(QStringLiteral("delete from fq "));
        m_conn.Execute(QStringLiteral(
            "INSERT INTO [fq]([sID]) SELECT [sCardID] From fa_Cards Where  (dInputDate between "
            "#2002-05-01# and #2002-05-31# and [iOptType] in(1,2)) or (dTransDate between "
            "#2002-05-01# and #2002-05-31# and [iOptType] in(7,9))"));
        QCOMPARE(column(QStringLiteral("select sID from fq")), QStringList{QStringLiteral("3")});
        m_conn.Execute(QStringLiteral("delete from fq "));
        m_conn.Execute(QStringLiteral(
            "INSERT INTO [fq]([sID]) SELECT [sCardID] From fa_Cards Where (dDisposeDate  between "
            "#2002-05-01# and #2002-05-31# and [iOptType]=3) or (dTransDate between #2002-05-01# "
            "and #2002-05-31# and [iOptType] in(6,8))"));
        QCOMPARE(column(QStringLiteral("select sID from fq")), QStringList{QStringLiteral("7")});
    }

    void changeVoucherValueIsReadWithVal()
    {
        openFresh();
        m_conn.Execute(
            QStringLiteral("create table [fa_Vouchers] (snum text, sBeforeVoucher text)"));
        m_conn.Execute(QStringLiteral(
            "insert into fa_Vouchers values ('1', ' 1 000.50'), ('2', '200元'), ('3', '')"));
        QCOMPARE(scalar(QStringLiteral("select sum(val([sBeforeVoucher])) from [fa_Vouchers]"))
                     .toDouble(),
                 1200.5);
    }

    // The extension for the sqlite3 shell gives the same answers as the tool.
    void loadableExtensionHasTheSameFunctions()
    {
        const QString module = qEnvironmentVariable("FATOTAL_BIN_DIR") +
                               QStringLiteral("/tools/fatotal_sqlite_ext" FATOTAL_MODULE_SUFFIX);
        if (!QFileInfo::exists(module))
            QSKIP("the extension module is not built");
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(":memory:", &db), SQLITE_OK);
        sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 1, nullptr);
        char *error = nullptr;
        const int rc = sqlite3_load_extension(db, module.toUtf8().constData(), nullptr, &error);
        const QString message = QString::fromUtf8(error ? error : "");
        sqlite3_free(error);
        QVERIFY2(rc == SQLITE_OK, qPrintable(message));
        sqlite3_stmt *stmt = nullptr;
        QCOMPARE(sqlite3_prepare_v2(db,
                                    "select val(' 1 234.50元'), val('&O17'), "
                                    "cstr(max(val('9'), val('10'))), cstr(12.5)",
                                    -1, &stmt, nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_step(stmt), SQLITE_ROW);
        QCOMPARE(sqlite3_column_double(stmt, 0), 1234.5);
        QCOMPARE(sqlite3_column_double(stmt, 1), 15.0);
        QCOMPARE(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 2)), "10");
        QCOMPARE(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 3)), "12.5");
        sqlite3_finalize(stmt);
        sqlite3_close(db);
    }
};

QTEST_GUILESS_MAIN(TestJetAdapter)
#include "tst_jet_adapter.moc"
