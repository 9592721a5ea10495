#include "tools/sample_ledger.h"

#include "data/app_error.h"
#include "tools/ledger_schema.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace fa::sample {

namespace {

// Card numbers 1..N as a recursive common table expression.
QString numbers(int count)
{
    return QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < "
                          "%1) ")
        .arg(count);
}

// The per-period columns of a family and the expression of each, n = 0..12.
void family(QStringList &names, QStringList &values, const QString &name,
            const std::function<QString(int)> &expression)
{
    for (int n = 0; n <= 12; ++n) {
        names << QStringLiteral("%1%2").arg(name).arg(n);
        values << expression(n);
    }
}

// (No printf() in these texts: QString::arg would read its "%0…" as markers.)
const QString kCardNum = QStringLiteral("substr('000000' || i, -7, 7)");
const QString kDept = QStringLiteral("'0' || (1 + i % 5)");
const QString kType =
    QStringLiteral("CASE (i / 5) % 4 WHEN 0 THEN '011' WHEN 1 THEN '012' WHEN 2 THEN '021' ELSE "
                   "'03' END");
const QString kValue = QStringLiteral("(1000 + (i * 37) % 9000)");
const QString kCardColumns = QStringLiteral(
    "INSERT INTO fa_Cards (sCardID, sCardNum, sAssetNum, sAssetName, sDeptNum, sTypeNum, dblValue, "
    "dInputDate, dTransDate, dDisposeDate, iOptType, sVouchernum, sEvaluateNum, "
    "dblTransInDeprTCard, dblTransOutDeprTCard) ");

void insertCards(Connection &conn, const LedgerShape &shape)
{
    const QString yearStart = QStringLiteral("'%1-01-01'").arg(shape.year);
    // The record that enters each card.
    conn.Execute(
        numbers(shape.cards) + kCardColumns +
        QStringLiteral("SELECT CAST(i AS TEXT), %1, %1, '设备' || i, %2, %3, %4, "
                       "CASE WHEN i % 10 = 7 THEN date(%5, '+' || ((i * 13) % 360) || ' days') "
                       "ELSE date(%5, '-' || (30 + (i * 7) % 1500) || ' days') END || ' 00:00:00', "
                       "NULL, NULL, CASE WHEN i % 30 = 7 THEN 2 ELSE 1 END, NULL, NULL, "
                       "CASE WHEN i % 10 = 7 THEN (i % 7) * 10.0 ELSE 0 END, 0 FROM n")
            .arg(kCardNum, kDept, kType, kValue, yearStart));

    // A second record, dated in the year, carrying one operation.
    conn.Execute(
        numbers(shape.cards) + kCardColumns +
        QStringLiteral(
            "SELECT CAST(%1 + i AS TEXT), %2, %2, '设备' || i, %3, %4, "
            "CASE k WHEN 2 THEN v + 500 WHEN 3 THEN v - 300 "
            "WHEN 9 THEN CASE WHEN i % 2 = 0 THEN v * 1.1 ELSE v * 0.9 END ELSE v END, "
            "d, CASE WHEN k = 1 THEN NULL ELSE d END, CASE WHEN k = 1 THEN d END, "
            "CASE k WHEN 1 THEN 3 WHEN 2 THEN 4 WHEN 3 THEN 5 WHEN 4 THEN 6 WHEN 5 THEN 7 "
            "WHEN 6 THEN 8 WHEN 7 THEN 9 WHEN 8 THEN 11 ELSE 18 END, "
            "CASE WHEN k IN (2, 3) THEN 'V' || i END, CASE WHEN k = 9 THEN 'E' || i END, "
            "CASE WHEN k IN (8, 9) THEN 50 + i % 20 ELSE 0 END, "
            "CASE k WHEN 1 THEN round(v * 0.3, 2) WHEN 8 THEN 20 WHEN 9 THEN 10 ELSE 0 END "
            "FROM (SELECT i, i % 11 AS k, %5 AS v, date('%6-' || substr('0' || (1 + i % 12), -2, "
            "2) || "
            "'-01', '+' || (i % 28) || ' days') || ' 00:00:00' AS d FROM n "
            "WHERE i % 11 BETWEEN 1 AND 9 AND i % 10 <> 7)")
            .arg(QString::number(shape.cards), kCardNum, kDept, kType, kValue,
                 QString::number(shape.year)));

    conn.Execute(numbers(shape.cards) +
                 QStringLiteral("INSERT INTO fa_Vouchers (snum, sCardNumber, sBeforeVoucher, "
                                "sAfterVoucher) SELECT 'V' || i, %1, CAST(%2 AS TEXT) || '.00', "
                                "CAST(%2 + CASE WHEN i % 11 = 2 THEN 500 ELSE -300 END AS TEXT) "
                                "FROM n WHERE i % 11 IN (2, 3) AND i % 10 <> 7")
                     .arg(kCardNum, kValue));
    conn.Execute(numbers(shape.cards) +
                 QStringLiteral("INSERT INTO fa_EvaluateVouchers (snum, sCardNumber, "
                                "dblValueBefore, dblValueAfter) SELECT 'E' || i, %1, %2, "
                                "CASE WHEN i % 2 = 0 THEN %2 * 1.1 ELSE %2 * 0.9 END "
                                "FROM n WHERE i % 11 = 9 AND i % 10 <> 7")
                     .arg(kCardNum, kValue));
}

void insertFigures(Connection &conn, const LedgerShape &shape)
{
    QStringList names{QStringLiteral("sCardNum")};
    QStringList values{kCardNum};
    family(names, values, QStringLiteral("dblMonthValue"), [](int) { return kValue; });
    family(names, values, QStringLiteral("dblDepr"), [](int n) {
        return n == 0 ? QStringLiteral("0") : QStringLiteral("round(%1 * 0.004, 2)").arg(kValue);
    });
    family(names, values, QStringLiteral("dblDeprT"), [](int n) {
        return QStringLiteral("round(%1 * 0.05 * (i % 6), 2) + %2 * round(%1 * 0.004, 2)")
            .arg(kValue)
            .arg(n);
    });
    conn.Execute(numbers(shape.cards) +
                 QStringLiteral("INSERT INTO fa_DeprTransactions (%1) SELECT %2 FROM n WHERE i % "
                                "97 <> 0")
                     .arg(names.join(QLatin1Char(',')), values.join(QLatin1Char(','))));

    names = QStringList{QStringLiteral("sCardNum")};
    values = QStringList{kCardNum};
    family(names, values, QStringLiteral("dblWork"),
           [](int n) { return n == 0 ? QStringLiteral("0") : QStringLiteral("100 + i % 50"); });
    family(names, values, QStringLiteral("dblWorkT"),
           [](int n) { return QStringLiteral("%1 * (100 + i % 50)").arg(n); });
    conn.Execute(numbers(shape.cards) +
                 QStringLiteral("INSERT INTO fa_WorkLoad (%1) SELECT %2 FROM n WHERE i % 3 = 0")
                     .arg(names.join(QLatin1Char(',')), values.join(QLatin1Char(','))));
}

// An outdated summary: carried figures that the rebuild keeps for its first
// period, and figures everywhere else that it must replace.
void insertStaleTotals(Connection &conn)
{
    conn.Execute(
        QStringLiteral("WITH RECURSIVE p(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM p WHERE i < 12) "
                       "INSERT INTO fa_Total SELECT c.sDeptNum, c.sTypeNum, p.i, 7, 7, 7, 7, "
                       "100.0 * p.i, 10.0 * p.i, 5.0 * p.i, 2.0 * p.i, 3.0 * p.i, 30.0 * p.i, "
                       "7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7 "
                       "FROM (SELECT DISTINCT sDeptNum, sTypeNum FROM fa_Cards) AS c, p"));
}

void insertInformation(Connection &conn, const LedgerShape &shape)
{
    const QString start = shape.faStartDate.isValid() ? storedDate(shape.faStartDate.startOfDay())
                                                      : storedDate(shape.year, 1, 1);
    const QList<QStringList> rows{
        {QStringLiteral("AA"), QStringLiteral("VersionFlag"), QStringLiteral("数据版本"),
         shape.versionFlag},
        {QStringLiteral("AA"), QStringLiteral("cCompanyName"), QStringLiteral("单位名称"),
         QStringLiteral("示范机械有限公司")},
        {QStringLiteral("FA"), QStringLiteral("dStartDate"), QStringLiteral("固定资产启用日期"),
         start},
        {QStringLiteral("FA"), QStringLiteral("iDeprMethod"), QStringLiteral("折旧方法"),
         QStringLiteral("1")},
    };
    for (const QStringList &row : rows) {
        conn.Execute(QStringLiteral("INSERT INTO AccInformation (cSysID, cName, cCaption, cValue) "
                                    "VALUES (%1, %2, %3, %4)")
                         .arg(sqlText(row[0]), sqlText(row[1]), sqlText(row[2]), sqlText(row[3])));
    }
}

QString ensureFolder(const QString &path)
{
    if (!QDir().mkpath(path))
        throw AppError(kProviderFailure, QStringLiteral("无法创建目录 ") + path);
    return QDir(path).absolutePath();
}

void writeAccountYear(const QString &root, const QString &account, const LedgerShape &shape)
{
    const QString folder =
        ensureFolder(QStringLiteral("%1/ZT%2/%3").arg(root, account).arg(shape.year));
    Connection conn;
    createAccountYearDatabase(folder + QStringLiteral("/kvdata.mdb"), conn);
    conn.BeginTrans();
    fillLedger(conn, shape);
    conn.CommitTrans();
    conn.Close();
}

void insertPeriods(Connection &conn, const QString &account, int year)
{
    for (int month = 1; month <= 12; ++month) {
        const QDate begin(year, month, 1);
        conn.Execute(QStringLiteral("INSERT INTO UA_Period (cAcc_Id, iYear, iId, dBegin, dEnd) "
                                    "VALUES (%1, %2, %3, '%4', '%5')")
                         .arg(sqlText(account))
                         .arg(year)
                         .arg(month)
                         .arg(storedDate(begin.startOfDay()),
                              storedDate(begin.addMonths(1).addDays(-1).startOfDay())));
    }
}

} // namespace

void fillLedger(Connection &conn, const LedgerShape &shape)
{
    insertCards(conn, shape);
    insertFigures(conn, shape);
    if (shape.staleTotals)
        insertStaleTotals(conn);
    insertInformation(conn, shape);
}

void writeDemo(const QString &outDir, int cards)
{
    const QString root = ensureFolder(outDir);
    const QString systemFolder = ensureFolder(root + QStringLiteral("/kvsystem"));

    // Stored as the accounting system stores it: in the system's own form,
    // "D:\…" on Windows.
    const QString dataPath = QDir::toNativeSeparators(root);
    Connection sys;
    createSystemDatabase(systemFolder + QStringLiteral("/kvsystem.mdb"), sys);
    sys.BeginTrans();
    sys.Execute(QStringLiteral("INSERT INTO UA_Account (cAcc_Id, cAcc_Name, cAcc_Path, iYear) "
                               "VALUES ('001', '示范机械有限公司', %1, 2025)")
                    .arg(sqlText(dataPath)));
    sys.Execute(QStringLiteral("INSERT INTO UA_Account (cAcc_Id, cAcc_Name, cAcc_Path, iYear) "
                               "VALUES ('002', '示范机械华东分公司', %1, 2026)")
                    .arg(sqlText(dataPath + QDir::separator())));
    insertPeriods(sys, QStringLiteral("001"), 2026);
    insertPeriods(sys, QStringLiteral("001"), 2025);
    insertPeriods(sys, QStringLiteral("002"), 2026);
    sys.CommitTrans();
    sys.Close();

    LedgerShape main;
    main.year = 2026;
    main.cards = cards;
    main.faStartDate = QDate(2025, 1, 1);
    writeAccountYear(root, QStringLiteral("001"), main);

    LedgerShape earlier;
    earlier.year = 2025;
    earlier.cards = qMin(cards, 200);
    earlier.faStartDate = QDate(2025, 1, 1);
    writeAccountYear(root, QStringLiteral("001"), earlier);

    LedgerShape branch;
    branch.year = 2026;
    branch.cards = qMin(cards, 300);
    branch.faStartDate = QDate(2026, 5, 10);
    writeAccountYear(root, QStringLiteral("002"), branch);
}

} // namespace fa::sample
