#include "tools/ledger_schema.h"

#include "data/sqlite_provider.h"

#include <QDateTime>

namespace fa::sample {

namespace {

// "dblDeprT0 REAL,dblDeprT1 REAL,…,dblDeprT12 REAL"
QString family(const QString &name)
{
    QStringList columns;
    for (int n = 0; n <= 12; ++n)
        columns << QStringLiteral("%1%2 REAL").arg(name).arg(n);
    return columns.join(QLatin1Char(','));
}

void createWith(const QString &path, Connection &conn, const QStringList &statements)
{
    createDatabaseFile(path);
    conn.Open(jetConnectionString(path));
    conn.BeginTrans();
    for (const QString &sql : statements)
        conn.Execute(sql);
    conn.CommitTrans();
}

} // namespace

QStringList systemTableStatements()
{
    return {
        QStringLiteral("CREATE TABLE UA_Account (cAcc_Id TEXT PRIMARY KEY, cAcc_Name TEXT, "
                       "cAcc_Path TEXT, iYear INTEGER)"),
        QStringLiteral("CREATE TABLE UA_Period (cAcc_Id TEXT NOT NULL, iYear INTEGER NOT NULL, "
                       "iId INTEGER NOT NULL, dBegin DATETIME, dEnd DATETIME, bIsDelete INTEGER "
                       "DEFAULT 0, PRIMARY KEY (cAcc_Id, iYear, iId))"),
    };
}

QStringList accountYearTableStatements()
{
    return {
        QStringLiteral("CREATE TABLE AccInformation (cSysID TEXT NOT NULL, cID TEXT, cName TEXT "
                       "NOT NULL, cCaption TEXT, cValue TEXT, PRIMARY KEY (cSysID, cName))"),
        QStringLiteral(
            "CREATE TABLE fa_Cards (sCardID TEXT PRIMARY KEY, sCardNum TEXT NOT NULL, "
            "sAssetNum TEXT, sAssetName TEXT, sDeptNum TEXT, sTypeNum TEXT, dblValue REAL "
            "DEFAULT 0, dInputDate DATETIME, dTransDate DATETIME, dDisposeDate DATETIME, "
            "iOptType INTEGER, sVouchernum TEXT, sEvaluateNum TEXT, dblTransInDeprTCard REAL "
            "DEFAULT 0, dblTransOutDeprTCard REAL DEFAULT 0)"),
        QStringLiteral("CREATE INDEX fa_Cards_sCardNum ON fa_Cards (sCardNum)"),
        QStringLiteral("CREATE TABLE fa_DeprTransactions (sCardNum TEXT PRIMARY KEY, %1, %2, %3)")
            .arg(family(QStringLiteral("dblMonthValue")), family(QStringLiteral("dblDepr")),
                 family(QStringLiteral("dblDeprT"))),
        QStringLiteral("CREATE TABLE fa_WorkLoad (sCardNum TEXT PRIMARY KEY, %1, %2)")
            .arg(family(QStringLiteral("dblWork")), family(QStringLiteral("dblWorkT"))),
        QStringLiteral("CREATE TABLE fa_Vouchers (snum TEXT PRIMARY KEY, sCardNumber TEXT, "
                       "sBeforeVoucher TEXT, sAfterVoucher TEXT, dVoucherDate DATETIME)"),
        QStringLiteral("CREATE TABLE fa_EvaluateVouchers (snum TEXT PRIMARY KEY, sCardNumber "
                       "TEXT, dblValueBefore REAL, dblValueAfter REAL, dEvaluateDate DATETIME)"),
        QStringLiteral(
            "CREATE TABLE fa_Total (sDeptNum TEXT NOT NULL, sTypeNum TEXT NOT NULL, iPeriod "
            "INTEGER NOT NULL, lMonthCount INTEGER, lCount INTEGER, dblYearValue REAL, "
            "dblYearDeprTotal REAL, dblLastAccrualValue REAL, dblLastDepr REAL, dblLastAddValue "
            "REAL, dblLastDecValue REAL, dblLastWork REAL, dblLastWorkTotal REAL, dblWork REAL, "
            "dblWorkT REAL, dblMonthValue REAL, dblValue REAL, dblMonthDeprTotal REAL, "
            "dblDeprTotal REAL, dblAddValue REAL, dblDecValue REAL, dblTransInDeprTotal REAL, "
            "dblTransOutDeprTotal REAL, dblAccrualValue REAL, dblDepr REAL, "
            "PRIMARY KEY (sDeptNum, sTypeNum, iPeriod))"),
    };
}

QString jetConnectionString(const QString &path)
{
    return QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=") + path;
}

void createSystemDatabase(const QString &path, Connection &conn)
{
    createWith(path, conn, systemTableStatements());
}

void createAccountYearDatabase(const QString &path, Connection &conn)
{
    createWith(path, conn, accountYearTableStatements());
}

QString storedDate(const QDateTime &date)
{
    return date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString storedDate(int year, int month, int day)
{
    return storedDate(QDateTime(QDate(year, month, day), QTime(0, 0)));
}

QString sqlText(const QString &value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    QString escaped = value;
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

} // namespace fa::sample
