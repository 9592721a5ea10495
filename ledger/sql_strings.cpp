#include "ledger/sql_strings.h"

#include "data/app_error.h"

namespace fa {

// The statement texts of the recalculation. They are data, not code: every
// blank at the start, in the middle and at the end is part of the text, and
// the statements are joined without added separators.
QString LoadSqlString(int number)
{
    switch (number) {
    case 101:
        return QStringLiteral(
            "INSERT INTO "
            "fa_Total(sDeptNum,sTypeNum,iPeriod,lMonthCount,lCount,dblYearValue,dblYearDeprTotal,"
            "dblLastAccrualValue,dblLastDepr,dblLastAddValue,dblLastDecValue,dblLastWork,"
            "dblLastWorkTotal,dblWork,dblWorkT,dblMonthValue,dblValue,dblMonthDeprTotal,"
            "dblDeprTotal,dblAddValue,dblDecValue,dblTransInDeprTotal,dblTransOutDeprTotal,"
            "dblAccrualValue,dblDepr)");
    case 102:
        return QStringLiteral("VALUES('|1','|2',|3,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0)");
    case 104:
        return QStringLiteral(" fa_Total AS a INNER JOIN fqsum AS b ON a.sTypeNum = b.sTypeNum AND "
                              "a.sDeptNum = b.sDeptNum and a.iperiod=b.iperiod");
    case 105:
        return QStringLiteral("INSERT INTO [fq]([sID]) SELECT |1 From fa_Cards");
    case 107:
        return QStringLiteral(" WHERE dDisposeDate Is Null");
    case 108:
        return QStringLiteral(" GROUP By sDeptNum, sTypeNum");
    case 109:
        return QStringLiteral(
            "INSERT INTO [fqsum]([C], [V], [MV], [V0], [DT], [DT0], [D], [WT0], [W0], [InDT], "
            "[OutDT], [WT], [W], [sDeptNum], [sTypeNum], [iperiod])");
    case 110:
        return QStringLiteral("delete from fa_total ");
    case 111:
        return QStringLiteral("CREATE TABLE [fq] ([sID] [int] ) ON [PRIMARY]");
    case 112:
        return QStringLiteral("delete from fq ");
    case 113:
        return QStringLiteral(
            "CREATE TABLE [fqsum] ([C] [int] NULL ,[V] [float] NULL ,[MV] [float] NULL ,[V0] "
            "[float] NULL ,[DT] [float] NULL ,[DT0] [float] NULL ,[D] [float] NULL ,[WT0] [float] "
            "NULL ,[W0] [float] NULL ,[InDT] [float] NULL ,[OutDT] [float] NULL ,[WT] [float] NULL "
            ",[W] [float] NULL ,[sDeptNum] [varchar] (12) COLLATE Chinese_PRC_CI_AS NULL "
            ",[sTypeNum] [varchar] (10) COLLATE Chinese_PRC_CI_AS NULL ,[iperiod] [int] NOT NULL "
            ")ON [PRIMARY]");
    case 114:
        return QStringLiteral(" where [lMonthCount]=0 and [lCount]=0 and [dblAddValue]=0 and "
                              "[dblDecValue]=0 and [iperiod]=|1");
    case 115:
        return QStringLiteral("delete from fqSum");
    case 117:
        return QStringLiteral("SELECT  distinct [sDeptNum], [sTypeNum] From [fa_Cards]");
    case 121:
        return QStringLiteral("create table fq([sID] nchar(20)) ");
    case 123:
        return QStringLiteral("CREATE TABLE [fqsum] ([C] integer ,[V] double ,[MV] double ,[V0] "
                              "double ,[DT] double ,[DT0] double ,[D] double ,[WT0] double,[W0] "
                              "double ,[InDT]double ,[OutDT] double ,[WT] double,[W] double "
                              ",[sDeptNum] nchar(20) ,[sTypeNum] nchar(20) ,[iperiod] integer )");
    case 201:
        return QStringLiteral(
            "SELECT "
            "Count(a.[sCardID]),Sum(a.dblValue),0,0,Sum(dblDeprT|2),0,0,0,0,0,0,0,0,sDeptNum, "
            "sTypeNum,|1  FROM (fa_Cards AS a INNER JOIN fq ON a.sCardID = fq.sID) INNER JOIN "
            "fa_DeprTransactions AS b ON a.sCardNum = b.sCardNum");
    case 202:
        return QStringLiteral(
            "SELECT "
            "Count(a.[sCardID]),Sum(a.dblValue),sum(dblMonthValue|1),sum(dblMonthValue0),Sum("
            "dblDeprT|1),Sum(dblDeprT0),Sum(dblDepr|1),Sum(dblWorkT0),Sum(dblWork0),Sum(["
            "dblTransInDeprTCard]), "
            "Sum([dblTransOutDeprTCard]),Sum(dblWorkT|1),Sum(dblWork|1),sDeptNum, sTypeNum,|1  "
            "FROM ((fa_Cards AS a INNER JOIN fq ON a.sCardID = fq.sID) INNER JOIN "
            "fa_DeprTransactions AS b ON a.sCardNum = b.sCardNum) left join [fa_WorkLoad] as c on "
            "a.[sCardNum]=c.[sCardNum]");
    case 203:
        return QStringLiteral("SELECT 0,Sum(a.dblValue),0,0,0,0,0,0,0,Sum([dblTransInDeprTCard]), "
                              "Sum([dblTransOutDeprTCard]),0,0,sDeptNum, sTypeNum,|1  FROM "
                              "fa_Cards AS a INNER JOIN fq ON a.sCardID = fq.sID");
    case 205:
        return QStringLiteral(
            "SELECT 0,Sum(a.dblValue),sum(|2),0,0,0,0,0,0,0,0,0,0,sDeptNum,sTypeNum,|1  FROM "
            "(fa_Cards AS a INNER JOIN [fa_Vouchers] as v on a.sVouchernum=v.snum)INNER JOIN fq ON "
            "a.sCardID = fq.sID");
    case 208:
        return QStringLiteral("SELECT "
                              "0,Sum(a.dblValue),sum(|2),0,0,0,0,0,0,Sum([dblTransInDeprTCard]),"
                              "Sum([dblTransOutDeprTCard]),0,0,sDeptNum,sTypeNum,|1  FROM "
                              "(fa_Cards AS a INNER JOIN [fa_EvaluateVouchers] as v on "
                              "a.sEvaluateNum=v.snum)INNER JOIN fq ON a.sCardID = fq.sID");
    case 209:
        return QStringLiteral("select "
                              "0,0,[dblLastAccrualValue],0,0,0,[dblLastDepr],0,0,[dblLastAddValue],"
                              "[dblLastDecValue],[dblLastWorkTotal],[dblLastWork],[sDeptNum], "
                              "[sTypeNum],|1 from fa_total where iperiod=|2");
    case 210:
        return QStringLiteral(
            "SELECT 0,Sum(dblValue),0,0,sum([dblTransInDeprTCard]),0,0,0,0,0,0,0,0,[sDeptNum], "
            "[sTypeNum],|1 FROM [fa_Cards] where [iOptType]=1 and [dInputDate] between |3 and |2");
    case 1001:
        return QStringLiteral(" Where dInputDate|1  And (dTransDate|1 Or dTransDate Is Null ) And "
                              "(dDisposeDate|1 Or dDisposeDate Is Null) GROUP BY sCardNum");
    case 1003:
        return QStringLiteral(" Where  (dInputDate between |1 and |2 and [iOptType] in(1,2)) or "
                              "(dTransDate between |1 and |2 and [iOptType] in(7,9))");
    case 1004:
        return QStringLiteral(" Where (dDisposeDate  between |1 and |2 and [iOptType]=3) or "
                              "(dTransDate between |1 and |2 and [iOptType] in(6,8))");
    case 1005:
        return QStringLiteral(" where dTransDate between |1 and |2 and [iOptType] =4");
    case 1006:
        return QStringLiteral(" where dTransDate between |1 and |2 and [iOptType] =5");
    case 1007:
        return QStringLiteral(" where dTransDate between |1 and |2 and [iOptType]=11");
    case 1008:
        return QStringLiteral(" where dTransDate between |1 and |2 and [iOptType]=18");
    default:
        break;
    }
    throw AppError(kResourceNotFound, QStringLiteral("找不到标识符为“%1”的资源").arg(number));
}

} // namespace fa
