// fatotal-rebuild as a script calls it: exit codes and the messages on
// standard error.
#include "tools/sample_ledger.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>

namespace {

struct Run
{
    int exitCode = -1;
    QStringList messages; // standard error, line by line
};

QString tool()
{
    return qEnvironmentVariable("FATOTAL_BIN_DIR") + QStringLiteral("/tools/fatotal-rebuild");
}

Run rebuild(const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(tool(), arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000))
        qFatal("fatotal-rebuild did not finish");
    Run run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
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

const char *kSummaryDigest =
    "SELECT group_concat(sDeptNum || sTypeNum || iPeriod || lCount || dblValue || dblYearValue, "
    "';') FROM (SELECT * FROM fa_Total ORDER BY sDeptNum, sTypeNum, iPeriod)";

} // namespace

class TestRebuildTool : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString system() const { return m_dir.path() + QStringLiteral("/kvsystem/kvsystem.mdb"); }
    QString ledger(const char *account, int year) const
    {
        return m_dir.path() +
               QStringLiteral("/ZT%1/%2/kvdata.mdb").arg(QLatin1String(account)).arg(year);
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
            QVERIFY(run.messages.join(QLatin1Char('\n')).contains(QLatin1String("usage:")));
    }

    void completedRunExitsWithZero()
    {
        const QString before = scalar(ledger("002", 2026), kSummaryDigest);
        const Run run = rebuild(fileArgs(QStringLiteral("002"), QStringLiteral("2026")));
        QCOMPARE(run.messages, QStringList{QStringLiteral("整理完毕")});
        QCOMPARE(run.exitCode, 0);
        const QString after = scalar(ledger("002", 2026), kSummaryDigest);
        QVERIFY(after != before);
        // The module starts in May: nothing is left of the periods before.
        QCOMPARE(scalar(ledger("002", 2026), "SELECT min(iPeriod) FROM fa_Total"),
                 QStringLiteral("5"));

        // A second run on the result changes nothing.
        QCOMPARE(rebuild(fileArgs(QStringLiteral("002"), QStringLiteral("2026"))).exitCode, 0);
        QCOMPARE(scalar(ledger("002", 2026), kSummaryDigest), after);
    }

    void failedChecksExitWithOne()
    {
        Run run = rebuild({QStringLiteral("--system"), m_dir.path() + QStringLiteral("/none.mdb"),
                           QStringLiteral("--account"), QStringLiteral("001"),
                           QStringLiteral("--year"), QStringLiteral("2026")});
        QCOMPARE(run.messages, (QStringList{QStringLiteral("打开数据库错误"),
                                            "找不到文件：" + m_dir.path() + "/none.mdb"}));
        QCOMPARE(run.exitCode, 1);

        run = rebuild(fileArgs(QStringLiteral("001"), QStringLiteral("2024")));
        QCOMPARE(run.messages, QStringList{QStringLiteral("没有发现") + ledger("001", 2024)});
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
        QCOMPARE(run.messages, (QStringList{QStringLiteral("打开卡片表错误"),
                                            QStringLiteral("no such table: fa_Cards"),
                                            QStringLiteral("整理未完成，fa_Total 保持原样")}));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(scalar(path, kSummaryDigest), before);
    }

    void refusedServerExitsWithOne()
    {
        const Run run =
            rebuild({QStringLiteral("--server"), QStringLiteral("127.0.0.1,1"),
                     QStringLiteral("--password-stdin"), QStringLiteral("--account"),
                     QStringLiteral("001"), QStringLiteral("--year"), QStringLiteral("2026")},
                    "secret;x\n");
        QCOMPARE(run.messages.first(), QStringLiteral("打开数据库错误"));
        QCOMPARE(run.messages.size(), 2); // and the driver's reason
        QCOMPARE(run.exitCode, 1);
    }
};

QTEST_MAIN(TestRebuildTool)
#include "tst_rebuild_tool.moc"
