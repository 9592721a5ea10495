// fatotal-rebuild as a script calls it: exit codes and the messages on
// standard error.
#include "fixtures.h"
#include "ledger/run_lock.h"
#include "rebuild_fixture.h"
#include "standin_process.h"
#include "tools/sample_ledger.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <cstring>
#include <optional>
#include <sqlite3.h>
#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace {

struct Run
{
    int exitCode = -1;
    QStringList messages; // standard error, line by line
    QByteArray output;    // standard output
};

QString tool()
{
    return qEnvironmentVariable("FATOTAL_BIN_DIR") +
           QStringLiteral("/tools/fatotal-rebuild" FATOTAL_EXE_SUFFIX);
}

Run rebuild(const QStringList &arguments, const QByteArray &input = {},
            const QString &outputFile = {})
{
    QProcess process;
    if (!outputFile.isEmpty())
        process.setStandardOutputFile(outputFile);
    process.start(tool(), arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000))
        qFatal("fatotal-rebuild did not finish");
    Run run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = process.readAllStandardOutput();
    // Windows ends each line written to a pipe with "\r\n".
    const QString err =
        QString::fromLocal8Bit(process.readAllStandardError()).remove(QLatin1Char('\r'));
    for (const QString &line : err.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        run.messages << line;
    return run;
}

void exec(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK)
        qFatal("%s", error);
    sqlite3_close(db);
}

QString scalar(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    QString value;
    if (sqlite3_step(stmt) == SQLITE_ROW)
        value = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every row of fa_Total as text, by department, type and period.
QMap<QString, QString> rowsByKey(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT sDeptNum || ',' || sTypeNum || ',' || iPeriod, * FROM fa_Total",
                       -1, &stmt, nullptr);
    QMap<QString, QString> rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList cells;
        for (int i = 1; i < sqlite3_column_count(stmt); ++i)
            cells << QString::fromUtf8(
                reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)));
        rows.insert(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))),
                    cells.join(QLatin1Char('|')));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

// Demo ledgers of a test's own: 001 with 2025 and 2026, 002 with 2025 (a
// copy of 001's) and 2026.
struct Demo
{
    QTemporaryDir dir;
    Demo()
    {
        fa::sample::writeDemo(dir.path(), 150);
        QDir(dir.path()).mkpath(QStringLiteral("ZT002/2025"));
        QFile::copy(ledger("001", "2025"), ledger("002", "2025"));
        exec(system(), "CREATE TEMP TABLE t AS SELECT * FROM ua_period WHERE cacc_id = '001' AND "
                       "iYear = 2025; UPDATE t SET cacc_id = '002'; "
                       "INSERT INTO ua_period SELECT * FROM t");
    }
    QString system() const { return dir.path() + QStringLiteral("/kvsystem/kvsystem.mdb"); }
    QString ledger(const QString &account, const QString &year) const
    {
        // As the tool names it: the demo stores its folder in the system's form.
        return QDir::toNativeSeparators(dir.path() +
                                        QStringLiteral("/ZT%1/%2/kvdata.mdb").arg(account, year));
    }
    QStringList args(const QString &accounts, const QString &years) const
    {
        return {QStringLiteral("--system"), system(), QStringLiteral("--account"), accounts,
                QStringLiteral("--year"),   years};
    }
};

const char *kSummaryDigest =
    "SELECT group_concat(sDeptNum || sTypeNum || iPeriod || lCount || dblValue || dblYearValue, "
    "';') FROM (SELECT * FROM fa_Total ORDER BY sDeptNum, sTypeNum, iPeriod)";

// The hand-checked small ledger of the rebuild tests as account set 003,
// year 2002 (module start 10 May), with `suffix` after every department and
// type number.
void addSmallLedger(const Demo &demo, const QString &suffix)
{
    const QString folder = demo.dir.path() + QStringLiteral("/ZT003/2002");
    QDir().mkpath(folder);
    {
        fa::test::AccountYearDb db(false);
        fa::test::fillSmallLedger(db, suffix);
        fa::test::addInformation(db, QStringLiteral("8.21"), fa::test::day(2002, 5, 10));
        fa::AccConn->Close();
        QFile::copy(db.path(), folder + QStringLiteral("/kvdata.mdb"));
    }
    const QString path = QString(QDir::toNativeSeparators(demo.dir.path())).replace(u'\'', "''");
    exec(demo.system(),
         qPrintable(QStringLiteral(
                        "INSERT INTO UA_Account VALUES ('003', '小帐', '%1', 2002); "
                        "WITH RECURSIVE m(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM m WHERE i < "
                        "12) INSERT INTO UA_Period SELECT '003', 2002, i, date('2002-01-01', "
                        "(i - 1) || ' months') || ' 00:00:00', date('2002-01-01', i || ' months', "
                        "'-1 day') || ' 00:00:00', 0 FROM m")
                        .arg(path)));
}

// Every row of fa_Total, ordered, as exact text (after a killed writer's
// journal is rolled back).
QStringList totalRows(const QString &path)
{
    exec(path, "SELECT count(*) FROM fa_Total");
    return fa::test::dumpTable(path, QStringLiteral("fa_Total"));
}

// The fa_Total tables of two files hold the same rows, their figures equal
// to 12 digits (two engines may add in another order), a Null figure equal
// to 0: the server's statements read a missing workload as 0 through isnull,
// the file database's Sum leaves it Null.
bool sameTotals(const QString &a, const QString &b, QString *difference)
{
    const auto rows = [](const QString &path) {
        QList<QVariantList> rows;
        sqlite3 *db = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT * FROM fa_Total ORDER BY sDeptNum, sTypeNum, iPeriod", -1,
                           &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QVariantList row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                if (i < 2)
                    row << QString::fromUtf8(
                        reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)));
                else
                    row << sqlite3_column_double(stmt, i);
            }
            rows << row;
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return rows;
    };
    const QList<QVariantList> left = rows(a), right = rows(b);
    if (left.isEmpty() || left.size() != right.size()) {
        *difference = QStringLiteral("%1 rows and %2 rows").arg(left.size()).arg(right.size());
        return false;
    }
    for (qsizetype r = 0; r < left.size(); ++r) {
        for (qsizetype c = 0; c < left[r].size(); ++c) {
            const QVariant x = left[r][c], y = right[r][c];
            const bool same =
                c < 2 ? x == y
                      : qAbs(x.toDouble() - y.toDouble()) <= 1e-12 * qMax(1.0, qAbs(x.toDouble()));
            if (!same) {
                *difference = QStringLiteral("row %1 column %2: %3 and %4")
                                  .arg(r)
                                  .arg(c)
                                  .arg(x.toString(), y.toString());
                return false;
            }
        }
    }
    return true;
}

// fa_Total of a ledger made hostile: texts with quotes, a newline and 甲 in
// its keys, an extra period, a Null, a text and an infinity among the
// figures, an integer beyond 2^53, and figures of every magnitude from
// random bits (subnormals included).
void makeTotalsHostile(const QString &path)
{
    QStringList sql{QStringLiteral(
        "UPDATE fa_Total SET sDeptNum = sDeptNum || '''|3甲' || char(10) WHERE iPeriod = 3; "
        "INSERT INTO fa_Total SELECT sDeptNum, sTypeNum, 13, lMonthCount, 9007199254740993, "
        "dblYearValue, NULL, 'abc', 9e999, -0.0, dblLastDecValue, dblLastWork, dblLastWorkTotal, "
        "dblWork, dblWorkT, dblMonthValue, dblValue, dblMonthDeprTotal, dblDeprTotal, "
        "dblAddValue, dblDecValue, dblTransInDeprTotal, dblTransOutDeprTotal, dblAccrualValue, "
        "dblDepr FROM fa_Total WHERE iPeriod = 12")};
    quint64 bits = 0x9E3779B97F4A7C15u;
    for (int row = 1; row <= 60; ++row) {
        bits = bits * 6364136223846793005u + 1442695040888963407u;
        double figure;
        std::memcpy(&figure, &bits, sizeof figure);
        if (!std::isfinite(figure))
            continue;
        sql << QStringLiteral("UPDATE fa_Total SET dblValue = %1, dblDepr = %2 WHERE rowid = %3")
                   .arg(figure, 0, 'g', 17)
                   .arg(std::ldexp(double(bits >> 11), -int(bits % 1100)), 0, 'g', 17)
                   .arg(row);
    }
    exec(path, qPrintable(sql.join(u';')));
}

// The history's lines after its header.
QStringList historyLines(const QStringList &filter = {})
{
    const Run run = rebuild(QStringList{QStringLiteral("--history")} + filter);
    return QString::fromUtf8(run.output).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).mid(1);
}

// The record a completed run names on its last line.
QString recordOf(const Run &run)
{
    static const QRegularExpression number(QStringLiteral("整理记录 (\\d+)"));
    return number.match(run.messages.value(run.messages.size() - 1)).captured(1);
}

} // namespace

class TestRebuildTool : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString system() const { return m_dir.path() + QStringLiteral("/kvsystem/kvsystem.mdb"); }
    QString ledger(const char *account, int year) const
    {
        return QDir::toNativeSeparators(
            m_dir.path() +
            QStringLiteral("/ZT%1/%2/kvdata.mdb").arg(QLatin1String(account)).arg(year));
    }
    QStringList fileArgs(const QString &account, const QString &year) const
    {
        return {QStringLiteral("--system"), system(), QStringLiteral("--account"), account,
                QStringLiteral("--year"),   year};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFile::exists(tool()));
        fa::sample::writeDemo(m_dir.path(), 150);
    }

    // Wrong arguments stop before anything is opened, with a usage hint.
    void wrongArgumentsExitWithTwo_data()
    {
        QTest::addColumn<QString>("arguments"); // blank-separated; SYS is the system database
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        const auto row = [](const char *name, const char *arguments, QByteArray input = {},
                            int exitCode = 2) {
            QTest::newRow(name) << QString::fromLatin1(arguments) << input << exitCode;
        };
        row("none", "");
        row("no account, no year", "--system SYS");
        row("both kinds", "--system SYS --server x --account 001 --year 2026");
        row("neither kind", "--account 001 --year 2026");
        row("unknown option", "--system SYS --account 001 --year 2026 --verbose");
        row("missing value", "--system SYS --year 2026 --account");
        row("empty value", "--system SYS --account  --year 2026");
        row("option twice", "--system SYS --account 001 --account 002 --year 2026");
        row("extra word", "--system SYS --account 001 --year 2026 now");
        row("history with a database", "--history --system SYS");
        row("restore of no number", "--system SYS --account 001 --year 2026 --restore x1");
        row("restore of all years", "--system SYS --account 001 --year all --restore 1");
        row("restore of two sets", "--system SYS --account 001,002 --year 2026 --restore 1");
        const QByteArray limit(4096, 'p');
        row("password over 4 KiB", "--server x --password-stdin --account 001 --year 2026",
            limit + "p\n");
        // At the limit the password is taken, and the server then refuses.
        row("password of 4 KiB", "--server 127.0.0.1,1 --password-stdin --account 001 --year 2026",
            limit + "\r\n", 1);
    }
    void wrongArgumentsExitWithTwo()
    {
        QFETCH(QString, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QStringList list = arguments.split(QLatin1Char(' '));
        list.replaceInStrings(QStringLiteral("SYS"), system());
        if (arguments.isEmpty())
            list.clear();
        const Run run = rebuild(list, input);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 2)
            QVERIFY(run.messages.join(QLatin1Char('\n')).contains(QStringLiteral("用法：")));
    }

    void completedRunExitsWithZero()
    {
        const QString before = scalar(ledger("002", 2026), kSummaryDigest);
        const Run run = rebuild(fileArgs(QStringLiteral("002"), QStringLiteral("2026")));
        QCOMPARE(run.messages.value(0), QStringLiteral("整理完毕"));
        QVERIFY(QRegularExpression(QStringLiteral("^新增 \\d+ 行，删除 \\d+ 行，修改 \\d+ 行$"))
                    .match(run.messages.value(1))
                    .hasMatch());
        QCOMPARE(run.exitCode, 0);
        const QString after = scalar(ledger("002", 2026), kSummaryDigest);
        QVERIFY(after != before);
        // The module starts in May: nothing is left of the periods before.
        QCOMPARE(scalar(ledger("002", 2026), "SELECT min(iPeriod) FROM fa_Total"),
                 QStringLiteral("5"));

        // A second run on the result changes nothing.
        const Run again = rebuild(fileArgs(QStringLiteral("002"), QStringLiteral("2026")));
        QCOMPARE(again.exitCode, 0);
        QCOMPARE(again.messages.value(1), QStringLiteral("新增 0 行，删除 0 行，修改 0 行"));
        QCOMPARE(scalar(ledger("002", 2026), kSummaryDigest), after);
    }

    void failedChecksExitWithOne()
    {
        Run run = rebuild({QStringLiteral("--system"), m_dir.path() + QStringLiteral("/none.mdb"),
                           QStringLiteral("--account"), QStringLiteral("001"),
                           QStringLiteral("--year"), QStringLiteral("2026")});
        QCOMPARE(
            run.messages,
            (QStringList{QStringLiteral("打开数据库错误"),
                         "找不到文件：" + QDir::toNativeSeparators(m_dir.path() + "/none.mdb")}));
        QCOMPARE(run.exitCode, 1);

        run = rebuild(fileArgs(QStringLiteral("001"), QStringLiteral("2024")));
        QCOMPARE(run.messages,
                 QStringList{QStringLiteral("帐套 001 在 ua_period 中没有 2024 年的期间")});
        QCOMPARE(run.exitCode, 1);

        run = rebuild(fileArgs(QStringLiteral("01"), QStringLiteral("2026")));
        QCOMPARE(run.exitCode, 1);

        exec(ledger("001", 2025),
             "UPDATE AccInformation SET cValue = '8.3' WHERE cName = 'VersionFlag'");
        const QString before = scalar(ledger("001", 2025), kSummaryDigest);
        run = rebuild(fileArgs(QStringLiteral("001"), QStringLiteral("2025")));
        exec(ledger("001", 2025),
             "UPDATE AccInformation SET cValue = '8.21' WHERE cName = 'VersionFlag'");
        QCOMPARE(run.messages, QStringList{QStringLiteral("Korvane软件版本好太高")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(scalar(ledger("001", 2025), kSummaryDigest), before);
    }

    void stoppedRebuildExitsWithOneAndKeepsTheSummary()
    {
        const QString path = ledger("001", 2026);
        const QString before = scalar(path, kSummaryDigest);
        exec(path, "ALTER TABLE fa_Cards RENAME TO fa_Cards_saved");
        const Run run = rebuild(fileArgs(QStringLiteral("001"), QStringLiteral("2026")));
        exec(path, "ALTER TABLE fa_Cards_saved RENAME TO fa_Cards");
        QCOMPARE(run.messages,
                 (QStringList{QStringLiteral("打开卡片表错误"), QStringLiteral("没有表 fa_Cards"),
                              QStringLiteral("整理未完成，fa_Total 保持原样")}));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(scalar(path, kSummaryDigest), before);
    }

    void terminationStopsTheRunAndRollsBack()
    {
#ifdef Q_OS_WIN
        QSKIP("QProcess::terminate() sends no console event to a Windows console program");
#endif
        // A reader that keeps the ledger from being written holds the run at
        // its first write; the signal comes while it waits.
        const QString path = ledger("001", 2026);
        const QString before = scalar(path, kSummaryDigest);
        sqlite3 *reader = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &reader, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM fa_Total", nullptr, nullptr, nullptr);

        QProcess process;
        process.setReadChannel(QProcess::StandardError);
        process.start(tool(), fileArgs(QStringLiteral("001"), QStringLiteral("2026")));
        QString err;
        while (!err.contains(QStringLiteral("正在等待")) && process.waitForReadyRead(10000))
            err += QString::fromLocal8Bit(process.readAllStandardError());
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        err += QString::fromLocal8Bit(process.readAllStandardError());
        sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(reader);

        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(err.endsWith(QStringLiteral("整理已停止，fa_Total 保持原样\n")), qPrintable(err));
        QCOMPARE(scalar(path, kSummaryDigest), before);
    }

    void checkReportsWhatARunThenChanges()
    {
        Demo demo;
        const QString path = demo.ledger("001", "2025");
        const QByteArray ledgerBytes = fileBytes(path);
        const QByteArray systemBytes = fileBytes(demo.system());
        const QMap<QString, QString> before = rowsByKey(path);

        const Run check = rebuild(demo.args("001", "2025") << QStringLiteral("--check"));
        QCOMPARE(check.exitCode, 3);
        QCOMPARE(fileBytes(path), ledgerBytes);
        QCOMPARE(fileBytes(demo.system()), systemBytes);

        const QString changes = demo.dir.filePath(QStringLiteral("changes.csv"));
        const Run run = rebuild(demo.args("001", "2025") << QStringLiteral("--changes") << changes);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(fileBytes(changes), check.output);

        // The rows the report names are exactly those the run changed.
        const QMap<QString, QString> after = rowsByKey(path);
        QSet<QString> changed;
        for (const auto &rows : {before, after}) {
            for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
                if (before.value(it.key()) != after.value(it.key()))
                    changed << it.key();
            }
        }
        QSet<QString> reported;
        const QList<QByteArray> lines = check.output.split('\n');
        QCOMPARE(lines.first(), QByteArray("change,sDeptNum,sTypeNum,iPeriod,column,old,new\r"));
        for (const QByteArray &line : lines.mid(1, lines.size() - 2))
            reported << QString::fromUtf8(line).section(QLatin1Char(','), 1, 3);
        QVERIFY(!changed.isEmpty());
        QCOMPARE(reported, changed);

        const Run agrees = rebuild(demo.args("001", "2025") << QStringLiteral("--check"));
        QCOMPARE(agrees.exitCode, 0);
        QCOMPARE(agrees.output, QByteArray("change,sDeptNum,sTypeNum,iPeriod,column,old,new\r\n"));
    }

    void batchesGoOnPastARefusedAccountYear_data()
    {
        QTest::addColumn<QString>("accounts");
        QTest::addColumn<QString>("years");
        QTest::addColumn<QStringList>("rebuilt");
        QTest::addColumn<int>("exitCode");
        // 001 2026 is refused: its data are of a newer version.
        QTest::newRow("all") << "all"
                             << "all" << QStringList{"001 2025", "002 2025", "002 2026"} << 1;
        QTest::newRow("two account sets, one year")
            << "001,002"
            << "2025" << QStringList{"001 2025", "002 2025"} << 0;
    }

    void batchesGoOnPastARefusedAccountYear()
    {
        QFETCH(QString, accounts);
        QFETCH(QString, years);
        QFETCH(QStringList, rebuilt);
        QFETCH(int, exitCode);
        Demo demo;
        exec(demo.ledger("001", "2026"),
             "UPDATE AccInformation SET cValue = '9.0' WHERE cName = 'VersionFlag'");
        const QStringList all{"001 2025", "001 2026", "002 2025", "002 2026"};
        QMap<QString, QString> before;
        for (const QString &item : all)
            before[item] = scalar(demo.ledger(item.left(3), item.right(4)), kSummaryDigest);

        const Run run = rebuild(demo.args(accounts, years));

        QCOMPARE(run.exitCode, exitCode);
        for (const QString &item : all) {
            const bool changed =
                scalar(demo.ledger(item.left(3), item.right(4)), kSummaryDigest) != before[item];
            QVERIFY2(changed == rebuilt.contains(item), qPrintable(item));
        }
        QStringList closing;
        for (const QString &item : all) {
            if (rebuilt.contains(item))
                closing << item + QStringLiteral("：完成");
            else if (exitCode == 1 && item == "001 2026")
                closing << item + QStringLiteral("：Korvane软件版本好太高");
        }
        QCOMPARE(run.messages.mid(run.messages.size() - closing.size()), closing);
    }

    void secondRunOfTheSameLedgerStopsAtOnce()
    {
        // The first run claims the ledger, then waits for a reader to let go.
        Demo demo;
        const QString path = demo.ledger("001", "2026");
        sqlite3 *reader = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &reader, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM fa_Total", nullptr, nullptr, nullptr);
        QProcess first;
        first.setReadChannel(QProcess::StandardError);
        first.start(tool(), demo.args("001", "2026"));
        QString err;
        while (!err.contains(QStringLiteral("正在等待")) && first.waitForReadyRead(10000))
            err += QString::fromLocal8Bit(first.readAllStandardError());

        const Run second = rebuild(demo.args("001", "2026"));
        sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(reader);
        QVERIFY(first.waitForFinished(30000));

        QCOMPARE(second.exitCode, 1);
        QCOMPARE(second.messages,
                 QStringList{QStringLiteral("另一个整理正在处理这个帐套年度，请等它结束后再试：") +
                             path});
        QCOMPARE(first.exitCode(), 0);
    }

    // A file database's run lock is a file beside it; TMPDIR counts for nothing.
    void runLockBesideTheLedger_data()
    {
        QTest::addColumn<QString>("found");   // what lies where the lock file goes
        QTest::addColumn<QString>("tmpdir");  // the run's TMPDIR: as is, read-only, missing
        QTest::addColumn<QString>("message"); // the run's first line; empty: it completes
        for (const char *tmpdir : {"", "read-only", "missing"}) {
            QTest::addRow("nothing, TMPDIR %s", tmpdir) << "" << tmpdir << "";
            QTest::addRow("a held lock, TMPDIR %s", tmpdir)
                << "held" << tmpdir << fa::kAnotherRunMessage;
        }
        for (QString found : {"file 644", "file 444", "folder", "link", "database", "unwritable"})
            QTest::addRow("%s", qPrintable(found))
                << found << "" << (found.startsWith("file") ? QString() : fa::kNoRunLockMessage);
    }
    void runLockBesideTheLedger()
    {
        QFETCH(QString, found);
        QFETCH(QString, tmpdir);
        QFETCH(QString, message);
#ifdef Q_OS_WIN
        if (found.endsWith("444") || found == "link" || found == "unwritable")
            QSKIP("a read-only file, a link or an unwritable folder need POSIX permissions");
#endif
        Demo demo;
        const QString path = demo.ledger("001", "2026");
        const QString lock =
            QDir::toNativeSeparators(QFileInfo(path).canonicalFilePath()) + ".fatotal-lock";
        const QByteArray before = fileBytes(path);
        const QString folder = QFileInfo(path).path();
        QDir(demo.dir.path()).mkdir("read-only");
        QDir(demo.dir.path()).mkdir("state"); // the run's history, its own to write
        QProcess run;
#ifdef Q_OS_UNIX
        // As root the run is nobody's, for whom the test's files are another's.
        QDirIterator it(demo.dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        for (QString name = demo.dir.path(); !name.isEmpty();
             name = it.hasNext() ? it.next() : "") {
            const bool readOnly =
                name.endsWith("only") || (found == "unwritable" && name == folder);
            QFile::setPermissions(name, QFile::Permissions(readOnly ? 0x5555 : 0x7777));
        }
        if (::geteuid() == 0)
            run.setChildProcessModifier([] {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(125);
            });
#endif
        fa::HeldFileLock held; // as another run would hold it
        if (found == "held")
            QCOMPARE(held.take(lock), fa::HeldFileLock::Outcome::Held);
        else if (found.startsWith("file"))
            QVERIFY(QFile(lock).open(QIODevice::WriteOnly) &&
                    QFile::setPermissions(
                        lock, QFile::Permissions(found.endsWith("644") ? 0x6444 : 0x4444)));
        else if (found == "folder")
            QVERIFY(QDir().mkdir(lock));
        else if (found == "link")
            QVERIFY(QFile::link(path, lock));
        else if (found == "database")
            QVERIFY(QFile::copy(demo.system(), lock));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", demo.dir.filePath(tmpdir));
        env.insert("FATOTAL_STATE_DIR", demo.dir.filePath("state"));
        run.setProcessEnvironment(env);
        run.start(tool(), demo.args("001", "2026"));
        QVERIFY(run.waitForFinished(60000));
        QFile::setPermissions(folder, QFile::Permissions(0x7755));
        const QString err = QString::fromLocal8Bit(run.readAllStandardError()).remove('\r');
        const QStringList lines = err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(run.exitCode(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QCOMPARE(lines.value(0), message + (found == "held" ? path : lock));
            QCOMPARE(lines.size(), found == "held" ? 1 : 2);
            QCOMPARE(fileBytes(path), before);
        }
        // What lay in its place is left; the run's lock file is gone.
        QCOMPARE(QFileInfo(lock).exists() || QFileInfo(lock).isSymLink(),
                 !message.isEmpty() && found != "unwritable");
    }

    // Stored values that the statements turn into numbers: a Null or a text
    // stops the run and the check before anything is written, naming the
    // table, the column and the record.
    void badStoredValuesStopTheRun_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("named");
        const QString voucher = "(SELECT max(sVouchernum) FROM fa_Cards WHERE iOptType = 4)";
        const QString evaluation = "(SELECT max(sEvaluateNum) FROM fa_Cards WHERE iOptType = 18)";
        const QString card = "(SELECT max(rowid) FROM fa_Cards)";
        for (const char *value : {"NULL", "'12 元'"}) {
            QTest::newRow(qPrintable(QStringLiteral("before-value %1").arg(value)))
                << QStringLiteral("UPDATE fa_Vouchers SET sBeforeVoucher = %1 WHERE snum = %2")
                       .arg(value, voucher)
                << "SELECT " + voucher << "fa_Vouchers 表 sBeforeVoucher 列";
            QTest::newRow(qPrintable(QStringLiteral("evaluation %1").arg(value)))
                << QStringLiteral("UPDATE fa_EvaluateVouchers SET dblValueBefore = %1 WHERE snum "
                                  "= %2")
                       .arg(value, evaluation)
                << "SELECT " + evaluation << "fa_EvaluateVouchers 表 dblValueBefore 列";
        }
        for (const char *value : {"NULL", "'x5'", "'007'"}) {
            QTest::newRow(qPrintable(QStringLiteral("card id %1").arg(value)))
                << QStringLiteral("UPDATE fa_Cards SET sCardID = %1 WHERE rowid = %2")
                       .arg(value, card)
                << "SELECT sCardNum FROM fa_Cards WHERE rowid = " + card
                << "fa_Cards 表 sCardID 列";
        }
    }

    void badStoredValuesStopTheRun()
    {
        QFETCH(QString, damage);
        QFETCH(QString, record);
        QFETCH(QString, named);
        Demo demo;
        const QString path = demo.ledger("002", "2026");
        exec(path, damage.toUtf8().constData());
        const QString before = scalar(path, kSummaryDigest);
        const QString recordName = scalar(path, record.toUtf8().constData());
        for (const bool check : {true, false}) {
            QStringList args = demo.args("002", "2026");
            if (check)
                args << QStringLiteral("--check");
            const Run run = rebuild(args);
            QCOMPARE(run.exitCode, 1);
            QCOMPARE(run.messages.value(0),
                     QStringLiteral("固定资产卡片或凭证的数据有误，不能计算总帐"));
            QVERIFY2(run.messages.value(1).startsWith(named) &&
                         run.messages.value(1).contains(recordName),
                     qPrintable(run.messages.join('\n')));
            QCOMPARE(run.messages.last(), QStringLiteral("整理未完成，fa_Total 保持原样"));
            QCOMPARE(scalar(path, kSummaryDigest), before);
        }
    }

    // A report never lands on a database, never leaves a cut-off file, and a
    // report that cannot be written rolls its run back.
    void reportTargetsNeverHarmAFile_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("check");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("the ledger") << "@ledger" << true << 2;
        QTest::newRow("the system database") << "@system" << false << 2;
        QTest::newRow("another database") << "other.mdb" << true << 2;
        QTest::newRow("a link to the ledger") << "link.csv" << true << 2;
        QTest::newRow("a hard link to the ledger") << "hard.csv" << false << 2;
        QTest::newRow("a missing folder") << "missing/changes.csv" << false << 1;
        QTest::newRow("a full disk") << "small/changes.csv" << false << 1;
        QTest::newRow("a full standard output") << "@stdout" << true << 1;
    }

    void reportTargetsNeverHarmAFile()
    {
        QFETCH(QString, target);
        QFETCH(bool, check);
        QFETCH(int, exitCode);
        Demo demo;
        const QString path = demo.ledger("002", "2026");
        const QDir dir(demo.dir.path());
        QFile::copy(demo.system(), dir.filePath("other.mdb"));
#ifdef Q_OS_WIN
        if (target == "link.csv" || target == "hard.csv" || target.startsWith("small/") ||
            target == "@stdout")
            QSKIP("links, small file systems and /dev/full are tried on POSIX systems");
#else
        QFile::link(path, dir.filePath("link.csv"));
        QVERIFY(::link(path.toUtf8().constData(), dir.filePath("hard.csv").toUtf8()) == 0);
        if (target.startsWith("small/")) {
            dir.mkpath("small");
            if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=16k", "tmpfs",
                                            dir.filePath("small")}) != 0)
                QSKIP("a small file system needs mount rights");
        }
        const auto unmount = qScopeGuard([&] {
            if (target.startsWith("small/"))
                QProcess::execute("umount", {dir.filePath("small")});
        });
#endif
        const QByteArray ledgerBytes = fileBytes(path);
        const QByteArray systemBytes = fileBytes(demo.system());
        const QString before = scalar(path, kSummaryDigest);
        QString report = target == "@ledger"   ? path
                         : target == "@system" ? demo.system()
                                               : dir.filePath(target);
        QStringList args = demo.args("002", "2026");
        if (check)
            args << "--check";
        const Run run = target == "@stdout" ? rebuild(args, {}, "/dev/full")
                                            : rebuild(args << "--changes" << report);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 2)
            QVERIFY(run.messages.value(0).startsWith("fatotal-rebuild: --changes"));
        else
            QVERIFY(run.messages.contains(target == "@stdout" ? "无法写出变动清单到标准输出"
                                                              : "无法写入变动清单：" + report));
        QCOMPARE(scalar(path, kSummaryDigest), before);
        if (check || exitCode == 2)
            QCOMPARE(fileBytes(path), ledgerBytes);
        QCOMPARE(fileBytes(demo.system()), systemBytes);
        QCOMPARE(fileBytes(dir.filePath("other.mdb")), systemBytes);
        // Nothing is left behind: no cut-off report, no temporary file.
        if (target.contains('/'))
            QVERIFY(QDir(QFileInfo(report).path()).entryList(QDir::Files).isEmpty());
    }

    // What the system database does not know is named and fails the run;
    // a list names each account-year once.
    void batchesNameWhatIsMissing_data()
    {
        for (const char *column : {"accounts", "years", "damage", "last"})
            QTest::addColumn<QString>(column);
        QTest::addColumn<int>("exitCode");
        const auto row = [](const char *name, const char *accounts, const char *years,
                            const char *damage, const char *last, int exitCode) {
            QTest::newRow(name) << accounts << years << damage << last << exitCode;
        };
        row("unknown account set, all years", "009", "all", "", "没有帐套 009", 1);
        row("unknown account set", "009", "2026", "", "没有帐套 009", 1);
        row("unknown year", "001", "2030", "", "帐套 001 在 ua_period 中没有 2030 年的期间", 1);
        row("no account sets", "all", "all", "DELETE FROM ua_account",
            "系统库的 UA_Account 中没有帐套", 1);
        row("an account set without periods", "all", "all",
            "DELETE FROM ua_period WHERE cacc_id = '002'", "002：帐套 002 在 ua_period 中没有期间",
            1);
        row("repeated entries", "002,002", "2025, 2025", "", "新增 0 行，删除 0 行，修改 0 行", 0);
    }

    void batchesNameWhatIsMissing()
    {
        QFETCH(QString, accounts);
        QFETCH(QString, years);
        QFETCH(QString, damage);
        QFETCH(QString, last);
        QFETCH(int, exitCode);
        Demo demo;
        if (!damage.isEmpty())
            exec(demo.system(), damage.toUtf8().constData());
        // A first run, so that the repeated one finds fa_Total as it leaves it.
        rebuild(demo.args("002", "2025"));
        const Run run = rebuild(demo.args(accounts, years) << "--check");
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.messages.value(run.messages.size() - 1), last);
        // One account-year: no batch columns, the header and nothing else.
        if (exitCode == 0)
            QCOMPARE(run.output, QByteArray("change,sDeptNum,sTypeNum,iPeriod,column,old,new\r\n"));
    }

    // SQL Server mode end to end: the command through unixODBC and FreeTDS to
    // tds-standin, which runs what it is sent on an installation's files. On
    // the demo and the hand-checked small ledger (with quotes, "|3" and
    // Chinese in its numbers), a check of every account-year writes nothing;
    // a run leaves every fa_Total as a file-mode run on a copy of the same
    // data does, after which a check agrees; a wrong password is refused.
    void sqlServerModeThroughTheStandIn()
    {
#ifdef Q_OS_WIN
        if (!qEnvironmentVariableIsSet("FATOTAL_WINE_SQLSERVER_DRIVER"))
            QSKIP("the command asks for the driver \"SQL Server\", which only "
                  "scripts/test-windows.sh gives Wine (FreeTDS under that name)");
#endif
        Demo served, file;
        for (const Demo *demo : {&served, &file})
            addSmallLedger(*demo, QStringLiteral("'|3甲"));
        fa::test::StandIn server(served.dir.path());
        QVERIFY(server.started());
        const QStringList all = server.args(QStringLiteral("all"), QStringLiteral("all"));

        QMap<QString, QByteArray> bytes;
        for (QDirIterator it(served.dir.path(), {QStringLiteral("*.mdb")}, QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString path = it.next();
            bytes.insert(path, fileBytes(path));
        }
        QCOMPARE(bytes.size(), 6);
        QCOMPARE(rebuild(QStringList(all) << QStringLiteral("--check"), "pw\n").exitCode, 3);
        for (auto it = bytes.cbegin(); it != bytes.cend(); ++it)
            QVERIFY2(fileBytes(it.key()) == it.value(), qPrintable(it.key()));

        QCOMPARE(rebuild(all, "wrong\n").exitCode, 1);
        const Run run = rebuild(all, "pw\n");
        QVERIFY2(run.exitCode == 0, qPrintable(run.messages.join(u'\n')));
        QCOMPARE(run.messages.filter(QStringLiteral("：完成")).size(), 5);
        QCOMPARE(rebuild(file.args(QStringLiteral("all"), QStringLiteral("all"))).exitCode, 0);
        for (const auto &[account, year] : {std::pair{"001", "2025"},
                                            {"001", "2026"},
                                            {"002", "2025"},
                                            {"002", "2026"},
                                            {"003", "2002"}}) {
            const QString path = served.ledger(account, year);
            QVERIFY(fileBytes(path) != bytes.value(QDir::fromNativeSeparators(path)));
            QString difference;
            QVERIFY2(sameTotals(path, file.ledger(account, year), &difference),
                     qPrintable(QStringLiteral("%1 %2: %3").arg(account, year, difference)));
        }
        QCOMPARE(rebuild(QStringList(all) << QStringLiteral("--check"), "pw\n").exitCode, 0);
    }

    // A SQL Server-mode run that does not end well leaves fa_Total exactly as
    // it was: a batch the server refuses from step k on (the seeding's second
    // batch, the first period's first fold, the year-opening fold at the
    // end), the server gone mid-run, a stop asked for by SIGINT. While a run
    // holds an account-year, a second run of it is refused at once by the
    // application lock, and a run of another account-year goes side by side.
    void sqlServerRunsThatStopOrMeetAnother_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("last");
        const QString kept = QStringLiteral("整理未完成，fa_Total 保持原样");
        for (const int k : {15, 16, 394})
            QTest::addRow("refused from batch %d", k)
                << QStringList{QStringLiteral("--fail-batch"), QString::number(k)} << QString()
                << kept;
        const QStringList pause{QStringLiteral("--pause-batch"), QStringLiteral("200")};
        QTest::newRow("server gone") << pause << QStringLiteral("kill") << kept;
#ifdef Q_OS_UNIX
        QTest::newRow("SIGINT") << pause << QStringLiteral("interrupt")
                                << QStringLiteral("整理已停止，fa_Total 保持原样");
#endif
        QTest::newRow("a second run") << pause << QStringLiteral("second run")
                                      << QStringLiteral("新增 0 行，删除 80 行，修改 160 行");
    }

    void sqlServerRunsThatStopOrMeetAnother()
    {
#ifdef Q_OS_WIN
        if (!qEnvironmentVariableIsSet("FATOTAL_WINE_SQLSERVER_DRIVER"))
            QSKIP("the command asks for the driver \"SQL Server\", which only "
                  "scripts/test-windows.sh gives Wine (FreeTDS under that name)");
#endif
        QFETCH(QStringList, faults);
        QFETCH(QString, meanwhile);
        QFETCH(QString, last);
        Demo demo;
        fa::test::StandIn server(demo.dir.path(), faults);
        QVERIFY(server.started());
        const QString path = demo.ledger("002", "2026");
        const QStringList before = totalRows(path);

        QProcess process;
        process.start(tool(), server.args(QStringLiteral("002"), QStringLiteral("2026")));
        QVERIFY(process.waitForStarted());
        process.write("pw\n");
        QVERIFY(process.waitForBytesWritten());
        process.closeWriteChannel();
        if (!meanwhile.isEmpty()) {
            QVERIFY2(server.waitFor("paused at batch"),
                     server.output + process.readAllStandardError());
            if (meanwhile == "kill") {
                server.process.kill();
            } else if (meanwhile == "interrupt") {
#ifdef Q_OS_UNIX
                ::kill(pid_t(process.processId()), SIGINT);
#endif
            } else {
                const Run second =
                    rebuild(server.args(QStringLiteral("002"), QStringLiteral("2026")), "pw\n");
                QCOMPARE(second.exitCode, 1);
                QVERIFY2(second.messages.value(0).startsWith(fa::kAnotherRunMessage),
                         qPrintable(second.messages.join(u'\n')));
                const Run other =
                    rebuild(server.args(QStringLiteral("001"), QStringLiteral("2025")), "pw\n");
                QCOMPARE(other.exitCode, 0);
                server.process.write("\n");
                QVERIFY(server.process.waitForBytesWritten());
            }
        }
        QVERIFY(process.waitForFinished(60000));
        const QStringList messages = QString::fromLocal8Bit(process.readAllStandardError())
                                         .remove(u'\r')
                                         .split(u'\n', Qt::SkipEmptyParts);
        // A completed run ends by naming its record in the history.
        const bool completed = meanwhile == "second run";
        QCOMPARE(messages.value(messages.size() - (completed ? 2 : 1)), last);
        QCOMPARE(messages.value(messages.size() - 1).startsWith("原来的 fa_Total 已存为整理记录"),
                 completed);
        QCOMPARE(process.exitCode(), completed ? 0 : 1);
        if (meanwhile != "second run")
            QCOMPARE(totalRows(path), before);
    }

    // A run keeps the table it replaces; a restore puts it back exactly, is
    // recorded in turn and can be undone. Checks are not recorded.
    void restoreGivesBackWhatARunReplaced_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("file") << false;
        QTest::newRow("SQL Server") << true;
    }

    void restoreGivesBackWhatARunReplaced()
    {
        QFETCH(bool, server);
#ifdef Q_OS_WIN
        if (server && !qEnvironmentVariableIsSet("FATOTAL_WINE_SQLSERVER_DRIVER"))
            QSKIP("needs the driver \"SQL Server\" that scripts/test-windows.sh gives Wine");
#endif
        QTemporaryDir state;
        qputenv("FATOTAL_STATE_DIR", state.path().toUtf8());
        Demo demo;
        const QString path = demo.ledger("001", "2026");
        makeTotalsHostile(path);
        const QStringList old = totalRows(path);
        std::optional<fa::test::StandIn> standIn;
        if (server)
            QVERIFY(standIn.emplace(demo.dir.path()).started());
        const auto args = [&](const QStringList &more) {
            return (server ? standIn->args("001", "2026") : demo.args("001", "2026")) + more;
        };
        const QByteArray password = server ? "pw\n" : "";

        QCOMPARE(rebuild(args({"--check"}), password).exitCode, 3);
        const Run run = rebuild(args({}), password);
        QCOMPARE(run.exitCode, 0);
        const QString id = recordOf(run);
        const QStringList rebuilt = totalRows(path);
        QVERIFY(rebuilt != old);
        QCOMPARE(rebuild(args({"--restore", id, "--check"}), password).exitCode, 3);
        QCOMPARE(totalRows(path), rebuilt);
        const Run restore = rebuild(args({"--restore", id}), password);
        QVERIFY2(restore.exitCode == 0, qPrintable(restore.messages.join(u'\n')));
        QCOMPARE(restore.messages.value(0), QStringLiteral("恢复完毕"));
        QCOMPARE(totalRows(path), old);
        QCOMPARE(rebuild(args({"--restore", recordOf(restore)}), password).exitCode, 0);
        QCOMPARE(totalRows(path), rebuilt);

        const QStringList lines = historyLines({"--account", "001", "--year", "2026"});
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.value(1).contains(QStringLiteral(",已恢复记录 %1 之前的 fa_Total,").arg(id)));
        QVERIFY(lines.value(2).startsWith(id + ','));
        QVERIFY(lines.value(2).contains(server ? ",SQL,\"127.0.0.1," : ",ACCESS,"));
        QVERIFY(historyLines({"--year", "2025"}).isEmpty());
    }

    // A restore that does not fit the books is refused before anything is
    // written; so is one whose table has other columns now.
    void restoreRefusals_data()
    {
        QTest::addColumn<QString>("restore"); // record, account and year to restore
        QTest::addColumn<QString>("message");
        QTest::newRow("no such record") << "99 001 2026"
                                        << "整理记录中没有记录 99";
        QTest::newRow("another year") << "1 001 2025"
                                      << "整理记录 1 是帐套 001 2026 年的";
        QTest::newRow("another database") << "1 001 2026 copy"
                                          << "整理记录 1 是帐套 001 2026 年的";
        QTest::newRow("a run that stopped") << "2 002 2026"
                                            << "整理记录 2 没有保存 fa_Total";
        QTest::newRow("other columns") << "1 001 2026 column"
                                       << "fa_Total 的列与整理记录 1";
    }

    void restoreRefusals()
    {
        QFETCH(QString, restore);
        QFETCH(QString, message);
        QTemporaryDir state;
        qputenv("FATOTAL_STATE_DIR", state.path().toUtf8());
        Demo demo, copy;
        QCOMPARE(rebuild(demo.args("001", "2026")).exitCode, 0);
        exec(demo.ledger("002", "2026"),
             "UPDATE AccInformation SET cValue = '9.0' WHERE cName = 'VersionFlag'");
        QCOMPARE(rebuild(demo.args("002", "2026")).exitCode, 1);
        const QStringList parts = restore.split(u' ');
        const Demo &target = parts.contains("copy") ? copy : demo;
        const QString path = target.ledger(parts[1], parts[2]);
        if (parts.contains("column"))
            exec(path, "ALTER TABLE fa_Total ADD COLUMN dblMore REAL");
        const QByteArray before = fileBytes(path);
        const Run run = rebuild(target.args(parts[1], parts[2]) << "--restore" << parts[0]);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.messages.value(0).startsWith(message), qPrintable(run.messages.join(u'\n')));
        QCOMPARE(fileBytes(path), before);
        QCOMPARE(historyLines().size(), 2);
    }

    // Without its record the run does not commit; two programs that record at
    // once both keep theirs.
    void theHistoryGoesWithTheCommit_data()
    {
        QTest::addColumn<QString>("blocker"); // what stands where the history goes
        QTest::newRow("state folder is a file") << "folder";
        QTest::newRow("history.db is a folder") << "dir";
        QTest::newRow("history.db is someone's") << "text";
        QTest::newRow("nothing: two at once") << "";
    }

    void theHistoryGoesWithTheCommit()
    {
        QFETCH(QString, blocker);
        QTemporaryDir state;
        const QString folder = state.filePath("fatotal");
        qputenv("FATOTAL_STATE_DIR", folder.toUtf8());
        if (blocker == "folder")
            QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        QDir().mkpath(blocker == "dir" ? folder + "/history.db" : folder);
        if (QFile text(folder + "/history.db"); blocker == "text")
            QVERIFY(text.open(QIODevice::WriteOnly) && text.write("mine\n") == 5);
        Demo demo;
        const QStringList old = totalRows(demo.ledger("001", "2026"));
        QProcess other;
        if (blocker.isEmpty())
            other.start(tool(), demo.args("002", "2026"));
        const Run run = rebuild(demo.args("001", "2026"));
        if (!blocker.isEmpty()) {
            QCOMPARE(run.exitCode, 1);
            QVERIFY(run.messages.value(0).startsWith("无法把原来的 fa_Total 存入整理记录"));
            QCOMPARE(run.messages.last(), QStringLiteral("整理未完成，fa_Total 保持原样"));
            QCOMPARE(totalRows(demo.ledger("001", "2026")), old);
            return;
        }
        QVERIFY(other.waitForFinished(60000));
        QCOMPARE(run.exitCode + other.exitCode(), 0);
        const QStringList lines = historyLines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.filter(",001,2026,完成,").size() + lines.filter(",002,2026,完成,").size(),
                 2);
    }

    void refusedServerExitsWithOne()
    {
        const Run run =
            rebuild({QStringLiteral("--server"), QStringLiteral("127.0.0.1,1"),
                     QStringLiteral("--password-stdin"), QStringLiteral("--account"),
                     QStringLiteral("001"), QStringLiteral("--year"), QStringLiteral("2026")},
                    "secret;x\n");
        QCOMPARE(run.messages.first(), QStringLiteral("打开数据库错误"));
        // and the driver's reason (under Wine, that Windows' driver is missing)
        QVERIFY(run.messages.size() >= 2);
        QCOMPARE(run.exitCode, 1);
    }
};

QTEST_MAIN(TestRebuildTool)
#include "tst_rebuild_tool.moc"
