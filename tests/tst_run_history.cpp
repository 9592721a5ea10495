// The history of rebuild runs: what a run saves comes back exactly, the
// history stays bounded per account year, and a file it does not own is
// never written.
#include "ledger/run_history.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <sqlite3.h>
#include <thread>

using namespace fa;

namespace {

RunRecord aRun(const QString &account, const QString &year = QStringLiteral("2024"))
{
    RunRecord run;
    run.time = QDateTime(QDate(2026, 12, 8), QTime(9, 30, 15));
    run.user = QStringLiteral("张三");
    run.computer = QStringLiteral("PC-01");
    run.mode = QStringLiteral("ACCESS");
    run.database = QStringLiteral("/data/账套 \"甲\",\n2024.mdb");
    run.account = account;
    run.year = year;
    run.outcome = QStringLiteral("完成");
    run.added = 1;
    run.seconds = 2.5;
    run.changeReportCsv = "change,sDeptNum\r\nadded,\"01\"\r\n";
    return run;
}

int execInt(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    const int value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
}

} // namespace

class TestRunHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    int m_case = 0;

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        const QString state = m_dir.filePath(QStringLiteral("state%1").arg(++m_case));
        qputenv("FATOTAL_STATE_DIR", state.toUtf8());
        m_path = state + QStringLiteral("/history.db");
    }

    void oldValuesComeBackExactly_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("null") << QVariant();
        QTest::newRow("empty text") << QVariant(QString(""));
        QTest::newRow("null text") << QVariant(QString());
        QTest::newRow("2^53+1") << QVariant(qlonglong((1LL << 53) + 1));
        QTest::newRow("int") << QVariant(int(-7));
        QTest::newRow("0.1+0.2") << QVariant(0.1 + 0.2);
        QTest::newRow("-0.0") << QVariant(-0.0);
        QTest::newRow("text 42") << QVariant(QStringLiteral("42"));
        QTest::newRow("quotes, lines, Chinese") << QVariant(QStringLiteral("\"甲\",\r\n乙'"));
        QTest::newRow("local time")
            << QVariant(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58, 123)));
        QTest::newRow("date") << QVariant(QDate(2024, 12, 31));
    }

    void oldValuesComeBackExactly()
    {
        QFETCH(QVariant, value);
        RunRecord run = aRun(QStringLiteral("001"));
        const SavedTable saved{{QStringLiteral("sDeptNum"), QStringLiteral("dblValue")},
                               {{QStringLiteral("01"), value}, {value, QVariant()}}};
        QString error;
        QVERIFY2(recordRun(run, saved, &error), qPrintable(error));
        QVERIFY(run.id > 0);
        QVERIFY(QFileInfo(m_path).isFile());
#ifndef Q_OS_WIN
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                            QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(QFileInfo(m_path).path()) & others, QFileDevice::Permissions());
#endif

        RunRecord back;
        SavedTable table;
        QVERIFY2(loadRun(run.id, &back, &table, &error), qPrintable(error));
        QCOMPARE(historyCsvLine(back), historyCsvLine(run));
        QCOMPARE(back.changeReportCsv, run.changeReportCsv);
        QCOMPARE(table.columns, saved.columns);
        QCOMPARE(table.rows.size(), 2);
        for (const QVariant &got : {table.rows[0][1], table.rows[1][0]}) {
            QCOMPARE(got.typeId(), value.typeId());
            QCOMPARE(got.isValid(), value.isValid());
            QCOMPARE(got.toString().isNull(), value.toString().isNull());
            QCOMPARE(got.toString(), value.toString());
            const double a = got.toDouble(), b = value.toDouble();
            QVERIFY(std::memcmp(&a, &b, sizeof a) == 0);
        }
        QCOMPARE(table.rows[1][1].isValid(), false);
    }

    // Runs of one account year beyond the newest 50 go with their tables;
    // another account year keeps its own, however old.
    void keepsTheNewestFifty()
    {
        QString error;
        QList<qint64> ids;
        for (int i = 0; i < 2; ++i) {
            RunRecord other = aRun(QStringLiteral("002"));
            QVERIFY2(recordRun(other, {{QStringLiteral("c")}, {{1}}}, &error), qPrintable(error));
        }
        for (int i = 0; i < kRunsKept + 3; ++i) {
            RunRecord run = aRun(QStringLiteral("001"));
            QVERIFY2(recordRun(run, {{QStringLiteral("c")}, {{i}}}, &error), qPrintable(error));
            ids.prepend(run.id);
        }
        QList<RunRecord> runs;
        QVERIFY(listRuns({QStringLiteral("001")}, {QStringLiteral("2024")}, &runs, &error));
        QCOMPARE(runs.size(), kRunsKept);
        for (int i = 0; i < kRunsKept; ++i)
            QCOMPARE(runs[i].id, ids[i]);
        QVERIFY(listRuns({QStringLiteral("002")}, {}, &runs, &error));
        QCOMPARE(runs.size(), 2);
        QVERIFY(listRuns({}, {}, &runs, &error));
        QCOMPARE(runs.size(), kRunsKept + 2);
        RunRecord gone;
        SavedTable table;
        QVERIFY(!loadRun(ids.last(), &gone, &table, &error));
        QCOMPARE(execInt(m_path, "SELECT count(*) FROM old_values"), kRunsKept + 2);
    }

    // Two programs finishing at once: both runs are kept.
    void recordsFromTwoConnectionsAtOnce()
    {
        SavedTable big{{QStringLiteral("a"), QStringLiteral("b")}, {}};
        for (int i = 0; i < 2000; ++i)
            big.rows.append({i, QStringLiteral("行%1").arg(i)});
        int failures = 0;
        auto record = [&](const QString &account) {
            for (int i = 0; i < 10; ++i) {
                RunRecord run = aRun(account);
                QString error;
                if (!recordRun(run, big, &error))
                    ++failures;
            }
        };
        std::thread first(record, QStringLiteral("001"));
        std::thread second(record, QStringLiteral("002"));
        first.join();
        second.join();
        QCOMPARE(failures, 0);
        QList<RunRecord> runs;
        QString error;
        QVERIFY(listRuns({}, {}, &runs, &error));
        QCOMPARE(runs.size(), 20);
    }

    void refusesFilesItDoesNotOwn_data()
    {
        QTest::addColumn<QByteArray>("makeSql"); // empty: a text file
        QTest::newRow("newer version") << QByteArray("PRAGMA user_version = 2; CREATE TABLE t(x)");
        QTest::newRow("someone's database") << QByteArray("CREATE TABLE runs(x)");
        QTest::newRow("not a database") << QByteArray();
    }

    void refusesFilesItDoesNotOwn()
    {
        QFETCH(QByteArray, makeSql);
        QVERIFY(QDir().mkpath(QFileInfo(m_path).path()));
        if (makeSql.isEmpty()) {
            QFile text(m_path);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write("id,time\r\n1,2024-01-01\r\n");
        } else {
            sqlite3 *db = nullptr;
            QCOMPARE(sqlite3_open(m_path.toUtf8().constData(), &db), SQLITE_OK);
            QCOMPARE(sqlite3_exec(db, makeSql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        RunRecord run = aRun(QStringLiteral("001"));
        QString error;
        QVERIFY(!recordRun(run, {}, &error));
        QVERIFY2(error.contains(QStringLiteral("整理记录文件")), qPrintable(error));
        QList<RunRecord> runs;
        QVERIFY(!listRuns({}, {}, &runs, &error));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
};

QTEST_GUILESS_MAIN(TestRunHistory)
#include "tst_run_history.moc"
