// OpenConn, RunSql, RetryAgain and RaiseAppError over a scripted provider
// that makes a chosen call fail a chosen number of times: what is tried
// again, how often, and what is left behind.

#include "data/app_error.h"
#include "data/conn_strings.h"
#include "data/db_state.h"
#include "data/jet_sql.h"

#include <QHash>
#include <QtTest>

using namespace fa;

namespace {

enum class Call { Open, Close, Query };

// Shared by every provider the factory makes while a test runs: a connection
// makes a new one at each Open.
struct Script
{
    QHash<Call, int> failuresLeft;
    qint32 failWith = kProviderFailure;
    QHash<Call, int> calls;
    QStringList queries;

    void call(Call call)
    {
        ++calls[call];
        if (failuresLeft.value(call) > 0) {
            --failuresLeft[call];
            throw AppError(failWith, QStringLiteral("made to fail"));
        }
    }
};

// Rows: one per character of the text after "select ", the column "c"
// holding the character; so each query has a result of its own.
class ScriptedCursor final : public Cursor
{
public:
    explicit ScriptedCursor(QString letters) : m_letters(std::move(letters)) {}
    bool fetch() override { return ++m_row < m_letters.size(); }
    int columnCount() const override { return 1; }
    QString columnName(int) const override { return QStringLiteral("c"); }
    QVariant value(int) const override { return QString(m_letters.at(m_row)); }

private:
    QString m_letters;
    qsizetype m_row = -1;
};

class ScriptedProvider final : public Provider
{
public:
    explicit ScriptedProvider(Script &script) : m_script(script) {}

    void open(const QString &) override
    {
        m_script.call(Call::Open);
        m_open = true;
    }
    void close() override
    {
        m_script.call(Call::Close);
        m_open = false;
    }
    bool isOpen() const override { return m_open; }
    void execute(const QString &) override {}
    // Texts with "into" are statements that return no rows.
    std::unique_ptr<Cursor> query(const QString &sql) override
    {
        m_script.queries << sql;
        m_script.call(Call::Query);
        if (sql.contains(QLatin1String("into"), Qt::CaseInsensitive))
            return nullptr;
        const qsizetype at = sql.indexOf(QLatin1String("select "), 0, Qt::CaseInsensitive);
        return std::make_unique<ScriptedCursor>(at < 0 ? QString() : sql.mid(at + 7).trimmed());
    }
    void beginTransaction() override {}
    void commitTransaction() override {}
    void rollbackTransaction() override {}

private:
    Script &m_script;
    bool m_open = false;
};

const QString kConnStr = QStringLiteral("Provider=Scripted;Data Source=x");

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

    Script m_script;

    // Opens the connection without the retry, as an earlier success would have.
    void openDirectly(Connection &conn)
    {
        conn.Open(kConnStr);
        m_script.calls.clear();
    }
    // WorkRs open on SysConn with the rows "ab".
    void openWorkRs()
    {
        openDirectly(*SysConn);
        WorkRs->Open(QStringLiteral("select ab"), *SysConn);
        m_script.calls.clear();
        m_script.queries.clear();
    }

private slots:
    void init()
    {
        m_script = Script();
        setProviderFactory([this](const QString &) -> std::unique_ptr<Provider> {
            return std::make_unique<ScriptedProvider>(m_script);
        });
        ResetDbState();
        CreateSharedObjects();
    }
    void cleanup()
    {
        ResetDbState();
        setProviderFactory({});
    }

    void openConnBlankStringLeavesConnectionAlone_data()
    {
        QTest::addColumn<QString>("connectionString");
        QTest::newRow("empty") << "";
        QTest::newRow("spaces") << "    ";
    }
    void openConnBlankStringLeavesConnectionAlone()
    {
        QFETCH(QString, connectionString);
        openDirectly(*SysConn);
        RetryCount = 2;
        QVERIFY(!OpenConn(*SysConn, connectionString));
        QCOMPARE(SysConn->State(), adStateOpen);
        QVERIFY(m_script.calls.isEmpty());
        QCOMPARE(RetryCount, 2);
    }

    void openConnReopensAnOpenConnection()
    {
        openDirectly(*SysConn);
        QVERIFY(OpenConn(*SysConn, kConnStr));
        QCOMPARE(SysConn->State(), adStateOpen);
        QCOMPARE(m_script.calls.value(Call::Close), 1);
        QCOMPARE(m_script.calls.value(Call::Open), 1);
    }

    // The open is tried at most three times; the close before it is not
    // repeated.
    void openConnRetriesTheOpen_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<int>("opens");
        QTest::newRow("none") << 0 << true << 1;
        QTest::newRow("one") << 1 << true << 2;
        QTest::newRow("two") << 2 << true << 3;
        QTest::newRow("three") << 3 << false << 3;
        QTest::newRow("always") << 100 << false << 3;
    }
    void openConnRetriesTheOpen()
    {
        QFETCH(int, failures);
        QFETCH(bool, opened);
        QFETCH(int, opens);
        openDirectly(*SysConn);
        RetryCount = 2; // left over: the reset comes before the open
        m_script.failuresLeft[Call::Open] = failures;

        QCOMPARE(OpenConn(*SysConn, kConnStr), opened);
        QCOMPARE(SysConn->State(), opened ? adStateOpen : adStateClosed);
        QCOMPARE(RetryCount, qMin(failures, 3));
        QCOMPARE(m_script.calls.value(Call::Open), opens);
        QCOMPARE(m_script.calls.value(Call::Close), 1);
    }

    // A failing close counts against RetryCount as it stands on entry.
    void openConnCloseCountsAgainstTheEntryValue_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<int>("retryCount");
        QTest::addColumn<int>("opens");
        QTest::newRow("fresh counter") << 0 << true << 0 << 1;
        QTest::newRow("one left over") << 1 << true << 0 << 1;
        QTest::newRow("two left over") << 2 << false << 3 << 0;
        QTest::newRow("three left over") << 3 << false << 4 << 0;
    }
    void openConnCloseCountsAgainstTheEntryValue()
    {
        QFETCH(int, entry);
        QFETCH(bool, opened);
        QFETCH(int, retryCount);
        QFETCH(int, opens);
        openDirectly(*SysConn);
        RetryCount = entry;
        m_script.failuresLeft[Call::Close] = 1;

        QCOMPARE(OpenConn(*SysConn, kConnStr), opened);
        QCOMPARE(RetryCount, retryCount);
        QCOMPARE(m_script.calls.value(Call::Open), opens);
        // Whatever the close reported, the old connection is gone.
        QCOMPARE(SysConn->State(), opened ? adStateOpen : adStateClosed);
    }

    void openConnNeverThrows()
    {
        // No provider by that name: refused at every try, nothing escapes.
        setProviderFactory({});
        QVERIFY(!OpenConn(*SysConn, QStringLiteral("Provider=Nonesuch;Data Source=x")));
        QCOMPARE(RetryCount, 3);
        QCOMPARE(SysConn->State(), adStateClosed);
    }

    // Texts without "select" (any case, anywhere) are never sent; an open
    // result stays as it was.
    void runSqlRefusesTextsWithoutSelect_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("drop") << "drop table fq";
        QTest::newRow("delete") << "delete from fq";
        QTest::newRow("empty") << "";
        QTest::newRow("split word") << "sel ect a";
    }
    void runSqlRefusesTextsWithoutSelect()
    {
        QFETCH(QString, sql);
        openWorkRs();
        WorkRs->MoveNext();
        QVERIFY(!RunSql(*WorkRs, sql, *SysConn));
        QVERIFY(m_script.queries.isEmpty());
        QVERIFY(m_script.calls.isEmpty());
        QCOMPARE(WorkRs->State(), adStateOpen);
        QCOMPARE(WorkRs->Fields(0).toString(), QStringLiteral("b"));
    }

    void runSqlSendsAnyTextWithSelect_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("firstValue");
        QTest::newRow("lower case") << "select  xy"
                                    << "x";
        QTest::newRow("leading blank") << " SELECT q"
                                       << "q";
        QTest::newRow("mixed case") << "SeLeCt m"
                                    << "m";
        QTest::newRow("inside a word") << "drop table preselect z"
                                       << "z";
    }
    void runSqlSendsAnyTextWithSelect()
    {
        QFETCH(QString, sql);
        QFETCH(QString, firstValue);
        openWorkRs();
        QVERIFY(RunSql(*WorkRs, sql, *SysConn));
        QCOMPARE(m_script.queries, QStringList{sql}); // sent unchanged
        QCOMPARE(WorkRs->Fields(QStringLiteral("c")).toString(), firstValue);
    }

    void runSqlOnAClosedConnectionTouchesNothing()
    {
        openWorkRs();
        QVERIFY(!RunSql(*WorkRs, QStringLiteral("select z"), *AccConn));
        QVERIFY(m_script.queries.isEmpty());
        QCOMPARE(WorkRs->State(), adStateOpen);
        QCOMPARE(WorkRs->Fields(0).toString(), QStringLiteral("a"));
    }

    // The statement ran, but there is no result to hold.
    void runSqlOnAStatementWithoutRows()
    {
        openWorkRs();
        QVERIFY(!RunSql(*WorkRs, QStringLiteral("insert into fq select * from t"), *SysConn));
        QCOMPARE(m_script.queries.size(), 1);
        QCOMPARE(WorkRs->State(), adStateClosed);
    }

    // The open is tried at most three times on the call's own counter;
    // RetryCount is not touched. The old result is closed once, before.
    void runSqlRetriesTheOpen_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<int>("tries");
        QTest::newRow("none") << 0 << true << 1;
        QTest::newRow("two") << 2 << true << 3;
        QTest::newRow("three") << 3 << false << 3;
        QTest::newRow("always") << 50 << false << 3;
    }
    void runSqlRetriesTheOpen()
    {
        QFETCH(int, failures);
        QFETCH(bool, opened);
        QFETCH(int, tries);
        openWorkRs();
        RetryCount = 2;
        m_script.failuresLeft[Call::Query] = failures;

        QCOMPARE(RunSql(*WorkRs, QStringLiteral("select k"), *SysConn), opened);
        QCOMPARE(m_script.calls.value(Call::Query), tries);
        QCOMPARE(RetryCount, 2);
        QCOMPARE(WorkRs->State(), opened ? adStateOpen : adStateClosed);
        if (opened)
            QCOMPARE(WorkRs->Fields(0).toString(), QStringLiteral("k"));
        // A later call starts with a counter of its own.
        m_script.failuresLeft[Call::Query] = 2;
        QVERIFY(RunSql(*WorkRs, QStringLiteral("select n"), *SysConn));
    }

    void runSqlResultWithoutRowsIsOpenAtItsEnd()
    {
        openDirectly(*SysConn);
        QVERIFY(RunSql(*WorkRs, QStringLiteral("select "), *SysConn));
        QCOMPARE(WorkRs->State(), adStateOpen);
        QVERIFY(WorkRs->Eof());
    }

    void retryAgainAllowsThreeTries()
    {
        qint32 counter = 0;
        QList<bool> answers;
        for (int i = 0; i < 4; ++i)
            answers << RetryAgain(counter);
        QCOMPARE(answers, (QList<bool>{true, true, false, false}));
        QCOMPARE(counter, 4);
    }

    // The guarded steps of the recalculation: the step runs again while the
    // count allows, and every failure is shown to the handler first.
    void retryStepRunsTheStepAgain_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<bool>("done");
        QTest::addColumn<int>("runs");
        QTest::newRow("succeeds at once") << 0 << true << 1;
        QTest::newRow("succeeds at the third") << 2 << true << 3;
        QTest::newRow("fails three times") << 3 << false << 3;
    }
    void retryStepRunsTheStepAgain()
    {
        QFETCH(int, failures);
        QFETCH(bool, done);
        QFETCH(int, runs);
        RetryCount = 0;
        int ran = 0;
        QList<qint32> seen;
        const bool result = RetryStep(
            RetryCount,
            [&] {
                if (ran++ < failures)
                    throw AppError(kErrorsInCommand, QStringLiteral("x"));
            },
            [&](const AppError &error) { seen << error.number(); });
        QCOMPARE(result, done);
        QCOMPARE(ran, runs);
        QCOMPARE(seen.size(), qMin(failures, 3));
        QCOMPARE(RetryCount, qMin(failures, 3));
    }

    void raiseAppErrorCarries5555AndTheText()
    {
        try {
            RaiseAppError(QStringLiteral("打开文件错误"));
            QFAIL("returned");
        } catch (const AppError &error) {
            QCOMPARE(error.number(), 5555);
            QCOMPARE(error.description(), QStringLiteral("打开文件错误"));
            QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("打开文件错误"));
        }
    }

    // Logins and rebuilds run on threads that end when done: each keeps its
    // own failure reason, and a thread that matched a connection string and
    // a date ends without harm to the heap.
    void workerThreadsKeepTheirReasonAndEndCleanly()
    {
        NoteFailureReason(QStringLiteral("window"));
        for (int i = 0; i < 20; ++i) {
            QString seen;
            std::unique_ptr<QThread> worker(QThread::create([&seen] {
                NoteFailureReason(jetDataSource(QStringLiteral("Data Source=C:\\a.mdb")));
                jet::translate(QStringLiteral("select #2026-01-02#"));
                seen = LastFailureReason();
            }));
            worker->start();
            QVERIFY(worker->wait(10000) && seen == QStringLiteral("C:\\a.mdb"));
        }
        QCOMPARE(LastFailureReason(), QStringLiteral("window"));
        NoteFailureReason(QString());
    }
};

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
