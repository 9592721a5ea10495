// The statement texts of the recalculation, character for character, in both
// modes: the string table, the card selection, the period sums, the folds and
// the removal of empty rows. The texts are what the databases receive, so a
// blank too many or too few is a fault.
#include "fixtures.h"

#include "data/app_error.h"
#include "data/db_state.h"
#include "data/dialect.h"
#include "ledger/periods.h"
#include "ledger/sql_strings.h"
#include "ledger/steps.h"

#include <QTest>

using namespace fa;

namespace {

enum Builder { Select, Sums, Fold };

// The text between the delimiters of a date literal, as the examples write
// {B} and {E}.
QString dateText(const QDateTime &date)
{
    return DateLiteral(date).mid(1).chopped(1);
}

} // namespace

Q_DECLARE_METATYPE(Builder)

class TestSqlStrings : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        ResetDbState();
        Periods.clear();
    }

    void textsTheDriverSendsAreExact_data()
    {
        QTest::addColumn<QString>("built");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero row head and values")
            << LoadSqlString(TotalInsertHead) +
                   FillPlaceholder(
                       FillPlaceholder(
                           FillPlaceholder(LoadSqlString(TotalZeroRowValues), "|1", "01"), "|2",
                           "021"),
                       "|3", "5")
            << "INSERT INTO fa_Total(sDeptNum,sTypeNum,iPeriod,lMonthCount,lCount,dblYearValue,"
               "dblYearDeprTotal,dblLastAccrualValue,dblLastDepr,dblLastAddValue,"
               "dblLastDecValue,dblLastWork,dblLastWorkTotal,dblWork,dblWorkT,dblMonthValue,"
               "dblValue,dblMonthDeprTotal,dblDeprTotal,dblAddValue,dblDecValue,"
               "dblTransInDeprTotal,dblTransOutDeprTotal,dblAccrualValue,dblDepr)"
               "VALUES('01','021',5,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0)";
        QTest::newRow("departments and types")
            << LoadSqlString(DeptTypeList) + LoadSqlString(GroupByDeptType)
            << "SELECT  distinct [sDeptNum], [sTypeNum] From [fa_Cards] GROUP By sDeptNum, "
               "sTypeNum";
        QTest::newRow("empty rows of period 5")
            << EmptyRowsStatement(5)
            << "delete from fa_total  where [lMonthCount]=0 and [lCount]=0 and [dblAddValue]=0 "
               "and [dblDecValue]=0 and [iperiod]=5";
        QTest::newRow("empty rows of period 10")
            << EmptyRowsStatement(10)
            << "delete from fa_total  where [lMonthCount]=0 and [lCount]=0 and [dblAddValue]=0 "
               "and [dblDecValue]=0 and [iperiod]=10";
        QTest::newRow("empty fa_total") << LoadSqlString(DeleteTotal) << "delete from fa_total ";
        QTest::newRow("empty fq") << LoadSqlString(DeleteFq) << "delete from fq ";
        QTest::newRow("empty fqsum") << LoadSqlString(DeleteFqsum) << "delete from fqSum";
        QTest::newRow("fq, file") << LoadSqlString(CreateFqFile)
                                  << "create table fq([sID] nchar(20)) ";
        QTest::newRow("fq, server")
            << LoadSqlString(CreateFqServer) << "CREATE TABLE [fq] ([sID] [int] ) ON [PRIMARY]";
        QTest::newRow("fqsum, file")
            << LoadSqlString(CreateFqsumFile)
            << "CREATE TABLE [fqsum] ([C] integer ,[V] double ,[MV] double ,[V0] double ,[DT] "
               "double ,[DT0] double ,[D] double ,[WT0] double,[W0] double ,[InDT]double ,[OutDT] "
               "double ,[WT] double,[W] double ,[sDeptNum] nchar(20) ,[sTypeNum] nchar(20) "
               ",[iperiod] integer )";
        QTest::newRow("fqsum, server")
            << LoadSqlString(CreateFqsumServer)
            << "CREATE TABLE [fqsum] ([C] [int] NULL ,[V] [float] NULL ,[MV] [float] NULL ,[V0] "
               "[float] NULL ,[DT] [float] NULL ,[DT0] [float] NULL ,[D] [float] NULL ,[WT0] "
               "[float] NULL ,[W0] [float] NULL ,[InDT] [float] NULL ,[OutDT] [float] NULL ,[WT] "
               "[float] NULL ,[W] [float] NULL ,[sDeptNum] [varchar] (12) COLLATE "
               "Chinese_PRC_CI_AS NULL ,[sTypeNum] [varchar] (10) COLLATE Chinese_PRC_CI_AS NULL "
               ",[iperiod] [int] NOT NULL )ON [PRIMARY]";
    }

    void textsTheDriverSendsAreExact()
    {
        QFETCH(QString, built);
        QFETCH(QString, expected);
        QCOMPARE(built, expected);
    }

    void numbersOutsideTheTableRaise_data()
    {
        QTest::addColumn<int>("number");
        for (int number : {0, 100, 103, 106, 116, 1000, 1002, 1009, 2000})
            QTest::newRow(qPrintable(QString::number(number))) << number;
    }

    void numbersOutsideTheTableRaise()
    {
        QFETCH(int, number);
        try {
            const QString text = LoadSqlString(number);
            QFAIL(qPrintable("got a text: " + text));
        } catch (const AppError &error) {
            QCOMPARE(error.number(), kResourceNotFound);
            QVERIFY(error.description().contains(QString::number(number)));
        }
    }

    void statementsAreExact_data()
    {
        QTest::addColumn<bool>("access");
        QTest::addColumn<Builder>("builder");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("expected");

        const QString fq = "INSERT INTO [fq]([sID]) SELECT ";
        const QString sums = "INSERT INTO [fqsum]([C], [V], [MV], [V0], [DT], [DT0], [D], [WT0], "
                             "[W0], [InDT], [OutDT], [WT], [W], [sDeptNum], [sTypeNum], [iperiod])";
        const QString join = " fa_Total AS a INNER JOIN fqsum AS b ON a.sTypeNum = b.sTypeNum AND "
                             "a.sDeptNum = b.sDeptNum and a.iperiod=b.iperiod";
        const QString join0 = " fa_Total AS a INNER JOIN fqsum AS b ON a.sTypeNum = b.sTypeNum AND "
                              "a.sDeptNum = b.sDeptNum ";

        // Card selection.
        const QString state =
            " Where dInputDate%1  And (dTransDate%1 Or dTransDate Is Null ) And (dDisposeDate%1 "
            "Or dDisposeDate Is Null) GROUP BY sCardNum";
        QTest::newRow("select 1, file")
            << true << Select << 5 << 5 << 1
            << fq + "CStr(Max(Val([sCardID]))) From fa_Cards" + state.arg("<#{B}#");
        QTest::newRow("select 1, server")
            << false << Select << 5 << 5 << 1
            << fq + "Max(cast([sCardID] as int)) From fa_Cards" + state.arg("<'{B}'");
        QTest::newRow("select 2, server")
            << false << Select << 5 << 5 << 2
            << fq + "Max(cast([sCardID] as int)) From fa_Cards Where dInputDate<='{E}'  And "
                    "(dTransDate<='{E}' Or dTransDate Is Null ) And (dDisposeDate<='{E}' Or "
                    "dDisposeDate Is Null) GROUP BY sCardNum";
        QTest::newRow("select 2, file")
            << true << Select << 5 << 12 << 2
            << fq + "CStr(Max(Val([sCardID]))) From fa_Cards" + state.arg("<=#{E}#");
        QTest::newRow("select 0 is select 2")
            << true << Select << 5 << 7 << 0
            << fq + "CStr(Max(Val([sCardID]))) From fa_Cards" + state.arg("<=#{E}#");
        QTest::newRow("select 3, file")
            << true << Select << 5 << 5 << 3
            << fq + "[sCardID] From fa_Cards Where  (dInputDate between #{B}# and #{E}# and "
                    "[iOptType] in(1,2)) or (dTransDate between #{B}# and #{E}# and [iOptType] "
                    "in(7,9))";
        QTest::newRow("select 3, server")
            << false << Select << 5 << 5 << 3
            << fq + "[sCardID] From fa_Cards Where  (dInputDate between '{B}' and '{E}' and "
                    "[iOptType] in(1,2)) or (dTransDate between '{B}' and '{E}' and [iOptType] "
                    "in(7,9))";
        QTest::newRow("select 4, server")
            << false << Select << 5 << 6 << 4
            << fq + "[sCardID] From fa_Cards Where (dDisposeDate  between '{B}' and '{E}' and "
                    "[iOptType]=3) or (dTransDate between '{B}' and '{E}' and [iOptType] in(6,8))";
        QTest::newRow("select 4, file")
            << true << Select << 5 << 6 << 4
            << fq + "[sCardID] From fa_Cards Where (dDisposeDate  between #{B}# and #{E}# and "
                    "[iOptType]=3) or (dTransDate between #{B}# and #{E}# and [iOptType] in(6,8))";
        const QString dated = "[sCardID] From fa_Cards where dTransDate between %1 and %2 and ";
        QTest::newRow("select 5, server")
            << false << Select << 5 << 5 << 5 << fq + dated.arg("'{B}'", "'{E}'") + "[iOptType] =4";
        QTest::newRow("select 6, server")
            << false << Select << 5 << 5 << 6 << fq + dated.arg("'{B}'", "'{E}'") + "[iOptType] =5";
        QTest::newRow("select 7, server")
            << false << Select << 5 << 5 << 7 << fq + dated.arg("'{B}'", "'{E}'") + "[iOptType]=11";
        QTest::newRow("select 7, file")
            << true << Select << 5 << 11 << 7 << fq + dated.arg("#{B}#", "#{E}#") + "[iOptType]=11";
        QTest::newRow("select 8, server")
            << false << Select << 5 << 5 << 8 << fq + dated.arg("'{B}'", "'{E}'") + "[iOptType]=18";
        QTest::newRow("select 8, file")
            << true << Select << 5 << 5 << 8 << fq + dated.arg("#{B}#", "#{E}#") + "[iOptType]=18";
        QTest::newRow("select 9: none") << true << Select << 5 << 5 << 9 << QString();
        QTest::newRow("select 10: none") << false << Select << 5 << 5 << 10 << QString();

        // Period sums.
        const QString opening =
            "SELECT Count(a.[sCardID]),Sum(a.dblValue),0,0,Sum(dblDeprT{p-1}),0,0,0,0,0,0,0,0,"
            "sDeptNum, sTypeNum,{p}  FROM (fa_Cards AS a INNER JOIN fq ON a.sCardID = fq.sID) "
            "INNER JOIN fa_DeprTransactions AS b ON a.sCardNum = b.sCardNum WHERE dDisposeDate "
            "Is Null GROUP By sDeptNum, sTypeNum";
        QTest::newRow("sums 1, file") << true << Sums << 5 << 5 << 1 << sums + opening;
        QTest::newRow("sums 1, server") << false << Sums << 5 << 6 << 1 << sums + opening;
        QTest::newRow("sums 1 of period 1: dblDeprT0")
            << true << Sums << 1 << 1 << 1 << sums + QString(opening).replace("{p-1}", "0");
        QTest::newRow("sums 1 of period 10: dblDeprT9")
            << false << Sums << 5 << 10 << 1 << sums + QString(opening).replace("{p-1}", "9");
        const QString closing =
            "SELECT Count(a.[sCardID]),Sum(a.dblValue),sum(dblMonthValue{p}),sum(dblMonthValue0),"
            "Sum(dblDeprT{p}),Sum(dblDeprT0),Sum(dblDepr{p}),Sum(isnull(dblWorkT0,0)),"
            "Sum(isnull(dblWork0,0)),Sum([dblTransInDeprTCard]), Sum([dblTransOutDeprTCard]),"
            "Sum(isnull(dblWorkT{p},0)),Sum(isnull(dblWork{p},0)),sDeptNum, sTypeNum,{p}  FROM "
            "((fa_Cards AS a INNER JOIN fq ON a.sCardID = fq.sID) INNER JOIN fa_DeprTransactions "
            "AS b ON a.sCardNum = b.sCardNum) left join [fa_WorkLoad] as c on "
            "a.[sCardNum]=c.[sCardNum] WHERE dDisposeDate Is Null GROUP By sDeptNum, sTypeNum";
        QTest::newRow("sums 2, server") << false << Sums << 5 << 5 << 2 << sums + closing;
        QTest::newRow("sums 2 of period 10, server")
            << false << Sums << 5 << 10 << 2 << sums + QString(closing).replace("{p}", "10");
        QString closingFile = closing;
        closingFile.replace(QRegularExpression("isnull\\((dblWorkT?(\\{p\\}|0)),0\\)"), "\\1");
        QTest::newRow("sums 2, file") << true << Sums << 5 << 7 << 2 << sums + closingFile;
        const QString operations =
            "SELECT 0,Sum(a.dblValue),0,0,0,0,0,0,0,Sum([dblTransInDeprTCard]), "
            "Sum([dblTransOutDeprTCard]),0,0,sDeptNum, sTypeNum,{p}  FROM fa_Cards AS a INNER "
            "JOIN fq ON a.sCardID = fq.sID GROUP By sDeptNum, sTypeNum";
        QTest::newRow("sums 3, file") << true << Sums << 5 << 5 << 3 << sums + operations;
        QTest::newRow("sums 4, server") << false << Sums << 5 << 8 << 4 << sums + operations;
        QTest::newRow("sums 7, file") << true << Sums << 5 << 12 << 7 << sums + operations;
        const QString vouchers =
            "SELECT 0,Sum(a.dblValue),sum(%1),0,0,0,0,0,0,0,0,0,0,sDeptNum,sTypeNum,{p}  FROM "
            "(fa_Cards AS a INNER JOIN [fa_Vouchers] as v on a.sVouchernum=v.snum)INNER JOIN fq "
            "ON a.sCardID = fq.sID GROUP By sDeptNum, sTypeNum";
        QTest::newRow("sums 5, file")
            << true << Sums << 5 << 5 << 5 << sums + vouchers.arg("val([sBeforeVoucher])");
        QTest::newRow("sums 6, file")
            << true << Sums << 5 << 6 << 6 << sums + vouchers.arg("val([sBeforeVoucher])");
        QTest::newRow("sums 5, server") << false << Sums << 5 << 5 << 5
                                        << sums + vouchers.arg("cast([sBeforeVoucher] as float)");
        QTest::newRow("sums 6, server") << false << Sums << 5 << 9 << 6
                                        << sums + vouchers.arg("cast([sBeforeVoucher] as float)");
        const QString evaluations =
            "SELECT 0,Sum(a.dblValue),sum(%1),0,0,0,0,0,0,Sum([dblTransInDeprTCard]),"
            "Sum([dblTransOutDeprTCard]),0,0,sDeptNum,sTypeNum,{p}  FROM (fa_Cards AS a INNER "
            "JOIN [fa_EvaluateVouchers] as v on a.sEvaluateNum=v.snum)INNER JOIN fq ON "
            "a.sCardID = fq.sID GROUP By sDeptNum, sTypeNum";
        QTest::newRow("sums 8, server") << false << Sums << 5 << 5 << 8
                                        << sums + evaluations.arg("cast(dblValueBefore as float)");
        QTest::newRow("sums 8, file")
            << true << Sums << 5 << 5 << 8 << sums + evaluations.arg("val(dblValueBefore)");
        QTest::newRow("sums 9 after the first")
            << true << Sums << 5 << 6 << 9
            << sums + "select 0,0,[dblAccrualValue],0,0,0,[dblDepr],0,0,[dblAddValue],"
                      "[dblDecValue],[dblWorkT],[dblWork],[sDeptNum], [sTypeNum],{p} from "
                      "fa_total where iperiod={p-1}";
        QTest::newRow("sums 9 of period 11, server")
            << false << Sums << 5 << 11 << 9
            << sums + "select 0,0,[dblAccrualValue],0,0,0,[dblDepr],0,0,[dblAddValue],"
                      "[dblDecValue],[dblWorkT],[dblWork],[sDeptNum], [sTypeNum],{p} from "
                      "fa_total where iperiod={p-1}";
        const QString carriedFirst =
            "select 0,0,[dblLastAccrualValue],0,0,0,[dblLastDepr],0,0,[dblLastAddValue],"
            "[dblLastDecValue],[dblLastWorkTotal],[dblLastWork],[sDeptNum], [sTypeNum],{p} from "
            "fa_total where iperiod={p}";
        QTest::newRow("sums 9 of the first") << true << Sums << 5 << 5 << 9 << sums + carriedFirst;
        QTest::newRow("sums 9 of the first, server")
            << false << Sums << 1 << 1 << 9 << sums + carriedFirst;
        const QString yearToDate =
            "SELECT 0,Sum(dblValue),0,0,sum([dblTransInDeprTCard]),0,0,0,0,0,0,0,0,[sDeptNum], "
            "[sTypeNum],{p} FROM [fa_Cards] where [iOptType]=1 and [dInputDate] between %1 and "
            "%2 GROUP By sDeptNum, sTypeNum";
        QTest::newRow("sums 10, file")
            << true << Sums << 5 << 8 << 10 << sums + yearToDate.arg("#{B}#", "#{E}#");
        QTest::newRow("sums 10 of the first, server")
            << false << Sums << 5 << 5 << 10 << sums + yearToDate.arg("'{B}'", "'{E}'");
        const QString yearStart =
            "SELECT Count(a.[sCardID]),Sum(a.dblValue),0,0,Sum(dblDeprT{first-1}),0,0,0,0,0,0,0,"
            "0,sDeptNum, sTypeNum,0  FROM (fa_Cards AS a INNER JOIN fq ON a.sCardID = fq.sID) "
            "INNER JOIN fa_DeprTransactions AS b ON a.sCardNum = b.sCardNum WHERE dDisposeDate "
            "Is Null GROUP By sDeptNum, sTypeNum";
        QTest::newRow("sums 10 of period 0, file")
            << true << Sums << 5 << 0 << 10 << sums + yearStart;
        QTest::newRow("sums 10 of period 0, server, first 1")
            << false << Sums << 1 << 0 << 10 << sums + yearStart;
        QTest::newRow("sums 0: none") << true << Sums << 5 << 5 << 0 << QString();
        QTest::newRow("sums 11: none") << false << Sums << 5 << 5 << 11 << QString();

        // Folds.
        QTest::newRow("fold 1, file")
            << true << Fold << 5 << 5 << 1
            << "UPDATE " + join +
                   "  SET [lMonthCount]=b.C,[dblMonthValue]=b.v,[dblMonthDeprTotal]=b.Dt ";
        QTest::newRow("fold 1, server")
            << false << Fold << 5 << 5 << 1
            << "UPDATE fa_Total  SET [lMonthCount]=b.C,[dblMonthValue]=b.v,"
               "[dblMonthDeprTotal]=b.Dt  from " +
                   join;
        QTest::newRow("fold 2, file")
            << true << Fold << 5 << 5 << 2
            << "UPDATE " + join +
                   "  SET dblValue = b.v, dblDeprTotal = b.dt,[dblDepr]=b.d,[lCount]=C,"
                   "[dblWork]=w,[dblWorkT]=wt,[dblAccrualValue]=mv ";
        QTest::newRow("fold 3, file")
            << true << Fold << 5 << 5 << 3
            << "UPDATE " + join +
                   " SET [dblTransInDeprTotal] = [dblTransInDeprTotal]+b.InDT,"
                   "[dblAddValue]=[dblAddValue]+b.v";
        QTest::newRow("fold 4, server")
            << false << Fold << 5 << 5 << 4
            << "UPDATE fa_Total SET [dblTransOutDeprTotal] =[dblTransOutDeprTotal] + b.outdt,"
               "[dblDecValue]=[dblDecValue]+b.v from " +
                   join;
        QTest::newRow("fold 5, server")
            << false << Fold << 5 << 5 << 5
            << "UPDATE fa_Total SET [dblAddValue]=[dblAddValue]+b.v-b.mv from " + join;
        QTest::newRow("fold 6, file")
            << true << Fold << 5 << 5 << 6
            << "UPDATE " + join + " SET [dblDecValue]=[dblDecValue]+b.mv-b.v";
        QTest::newRow("fold 7, file")
            << true << Fold << 5 << 5 << 7
            << "UPDATE " + join +
                   " SET [dblTransInDeprTotal] = [dblTransInDeprTotal]+b.InDT,"
                   "[dblTransOutDeprTotal] =[dblTransOutDeprTotal] + b.outdt";
        QTest::newRow("fold 8, file")
            << true << Fold << 5 << 5 << 8
            << "UPDATE " + join +
                   " SET [dblTransInDeprTotal] = [dblTransInDeprTotal]+b.InDT,"
                   "[dblTransOutDeprTotal] =[dblTransOutDeprTotal] + b.outdt,"
                   "[dblAddValue]=[dblAddValue]+iif(b.v-b.mv>0,b.v-b.mv,0),"
                   "[dblDecValue]=[dblDecValue]+iif(b.mv-b.v>0,b.mv-b.v,0)";
        QTest::newRow("fold 8, server")
            << false << Fold << 5 << 5 << 8
            << "UPDATE fa_Total SET [dblTransInDeprTotal] = [dblTransInDeprTotal]+b.InDT,"
               "[dblTransOutDeprTotal] =[dblTransOutDeprTotal] + b.outdt,"
               "[dblAddValue]=[dblAddValue]+Case when b.v-b.mv>0 then b.v-b.mv else 0 end,"
               "[dblDecValue]=[dblDecValue]+Case when b.mv-b.v>0 then b.mv-b.v else 0 end "
               "from " +
                   join;
        QTest::newRow("fold 9, server")
            << false << Fold << 5 << 5 << 9
            << "UPDATE fa_Total  SET [dblLastAccrualValue] = b.MV,[dblLastDepr] =b.[d],"
               "[dblLastAddValue] = b.[InDT],[dblLastDecValue] =b.[OutDT],[dblLastWork] = [W],"
               "[dblLastWorkTotal] = [WT] from " +
                   join;
        QTest::newRow("fold 10, file")
            << true << Fold << 5 << 7 << 10
            << "UPDATE " + join + " Set [dblYearValue]=b.v,[dblYearDeprTotal]=b.dt";
        QTest::newRow("fold 10 of period 0, file")
            << true << Fold << 5 << 0 << 10
            << "UPDATE " + join0 +
                   " set [dblYearValue]=[dblYearValue]+b.v,[dblYearDeprTotal]=[dblYearDeprTotal]"
                   "+b.dt";
        QTest::newRow("fold 10 of period 0, server")
            << false << Fold << 5 << 0 << 10
            << "UPDATE fa_Total set [dblYearValue]=[dblYearValue]+b.v,"
               "[dblYearDeprTotal]=[dblYearDeprTotal]+b.dt from " +
                   join0;
        QTest::newRow("fold 0: none") << true << Fold << 5 << 5 << 0 << QString();
        QTest::newRow("fold 11: none") << false << Fold << 5 << 5 << 11 << QString();
    }

    void statementsAreExact()
    {
        QFETCH(bool, access);
        QFETCH(Builder, builder);
        QFETCH(int, first);
        QFETCH(int, period);
        QFETCH(int, kind);
        QFETCH(QString, expected);

        IsAccess = access;
        test::setMonthlyPeriods(2002, first);
        // The year-to-date sums run from the start of the first period to the
        // end of this one; everything else uses the period's own dates.
        const bool yearToDate = builder == Sums && kind == YearOpening && period != 0;
        if (!expected.isEmpty() && (expected.contains("{B}") || expected.contains("{E}"))) {
            const int from = yearToDate ? first : period;
            expected.replace("{B}", dateText(Periods[from].BeginDate));
            expected.replace("{E}", dateText(Periods[period].EndDate));
        }
        expected.replace("{p-1}", QString::number(period - 1));
        expected.replace("{p}", QString::number(period));
        expected.replace("{first-1}", QString::number(first - 1));

        QString built;
        switch (builder) {
        case Select:
            built = SelectCardsStatement(period, kind);
            break;
        case Sums:
            built = PeriodSumsStatement(period, kind);
            break;
        case Fold:
            built = FoldSumsStatement(period, kind);
            break;
        }
        QCOMPARE(built, expected);
    }

    // The dates come from the calendar: a period outside it cannot be built.
    void periodOutsideTheCalendarRaises()
    {
        IsAccess = true;
        test::setMonthlyPeriods(2002, 5);
        for (auto build : {+[] { SelectCardsStatement(4, MonthOpening); },
                           +[] { SelectCardsStatement(13, Additions); },
                           +[] { PeriodSumsStatement(4, YearOpening); }}) {
            try {
                build();
                QFAIL("no error");
            } catch (const AppError &error) {
                QCOMPARE(error.number(), kSubscriptOutOfRange);
                QCOMPARE(error.description(), QString("下标越界"));
            }
        }
        // Kinds that read no dates build for any period.
        QVERIFY(!PeriodSumsStatement(3, MonthOpening).isEmpty());
        QVERIFY(!FoldSumsStatement(3, Additions).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSqlStrings)
#include "tst_sql_strings.moc"
