#include "data/db_state.h"
#include "data/jet_functions.h"
#include "data/jet_sql.h"
#include "fixtures.h"
#include "ledger/periods.h"
#include "ledger/sql_strings.h"
#include "ledger/steps.h"
#include "rebuild_fixture.h"
#include "tools/sample_ledger.h"
#include "tools/standin/engine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sqlite3.h>

#include <thread>

using standin::Answer;
using standin::ColumnType;

namespace {

QString kinds(const QList<Answer> &answers)
{
    QStringList names;
    for (const Answer &a : answers)
        names << QStringList{"Rows", "Count", "Done", "Error"}.at(a.kind) +
                     (a.kind == Answer::Error ? QString::number(a.number) : QString());
    return names.join(u',');
}

// The statements of one step in the current mode, as the tool sends them.
QStringList stepStatements(int period, int kind)
{
    QStringList all{
        fa::LoadSqlString(fa::IsAccess ? 121 : 111), fa::LoadSqlString(fa::IsAccess ? 123 : 113),
        // Kinds 9 and 10 select no cards: fill fq as the run does before them.
        fa::SelectCardsStatement(qMax(period, 1), kind <= fa::Revaluation ? kind
                                                  : period == 0           ? int(fa::MonthOpening)
                                                                          : int(fa::PeriodClosing)),
        fa::PeriodSumsStatement(period, kind), fa::FoldSumsStatement(period, kind)};
    all.removeAll(QString());
    return all;
}

// A table's dump with its reals to four decimals: the engines may add the
// same values in another order.
QStringList rounded(const QStringList &dump)
{
    QStringList lines;
    for (const QString &line : dump) {
        QStringList fields = line.split(u'|');
        for (QString &field : fields) {
            bool real = false;
            const double value = field.toDouble(&real);
            if (real && !field.startsWith(u'\'') && field.contains(u'.'))
                field = QString::number(value, 'f', 4);
        }
        lines << fields.join(u'|');
    }
    lines.sort();
    return lines;
}

} // namespace

class TestStandin : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    standin::Catalogs m_catalogs;
    QString ledger() const { return m_dir.path() + QStringLiteral("/ZT001/2026/kvdata.mdb"); }

private slots:
    void init()
    {
        // Every case starts from an untouched demo installation.
        QDir(m_dir.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_dir.path()));
        fa::sample::writeDemo(m_dir.path(), 150);
        QString error;
        QVERIFY2(m_catalogs.load(m_dir.path(), &error), qPrintable(error));
    }

    // A step's statements leave fqsum and fa_Total as the file database's
    // statements of the same step leave them.
    void stepMatchesFileMode_data()
    {
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("kind");
        for (int kind = fa::MonthOpening; kind <= fa::YearOpening; ++kind)
            QTest::addRow("period 3 kind %d", kind) << 3 << kind;
        QTest::newRow("carried into the first period") << 1 << int(fa::PreviousPeriod);
        QTest::newRow("year start") << 0 << int(fa::YearOpening);
    }
    void stepMatchesFileMode()
    {
        QFETCH(int, period);
        QFETCH(int, kind);
        const bool wasAccess = fa::IsAccess;
        const auto restore = qScopeGuard([&] { fa::IsAccess = wasAccess; });
        fa::test::setMonthlyPeriods(2026, 1);
        const QString copy = m_dir.path() + QStringLiteral("/file.mdb");
        QVERIFY(QFile::copy(ledger(), copy));

        fa::IsAccess = false;
        standin::Session session(m_catalogs);
        QVERIFY(session.use(QStringLiteral("KVDATA_001_2026"), nullptr, nullptr));
        for (const QString &sql : stepStatements(period, kind)) {
            const QList<Answer> answers = session.execute(sql);
            QVERIFY2(answers.size() == 1 && answers[0].kind != Answer::Error,
                     qPrintable(sql + u'\n' + answers.value(0).message));
        }

        fa::IsAccess = true;
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(copy.toUtf8().constData(), &db), SQLITE_OK);
        fa::jet::registerFunctions(db);
        for (const QString &sql : stepStatements(period, kind))
            QCOMPARE(sqlite3_exec(db, fa::jet::translate(sql).toUtf8().constData(), nullptr,
                                  nullptr, nullptr),
                     SQLITE_OK);
        sqlite3_close(db);

        QVERIFY(fa::test::dumpTable(copy, QStringLiteral("fqsum")).size() > 1);
        for (const QString &table : {QStringLiteral("fqsum"), QStringLiteral("fa_Total")})
            QCOMPARE(rounded(fa::test::dumpTable(ledger(), table)),
                     rounded(fa::test::dumpTable(copy, table)));
    }

    // What a batch answers: the kinds in order, and one cell of its last result.
    void answers_data()
    {
        QTest::addColumn<QString>("catalog");
        QTest::addColumn<QString>("batch");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("type");
        QTest::addColumn<QVariant>("value"); // of the first row; invalid: no row
        const auto row = [](const char *name, const char *catalog, const char *batch,
                            const char *expected, int column = 0,
                            ColumnType type = ColumnType::NVarChar, QVariant value = {}) {
            QTest::newRow(name) << catalog << batch << expected << column << int(type) << value;
        };
        row("served catalog", "",
            "SELECT name FROM master..sysdatabases WHERE name = "
            "'kvdata_001_2026'",
            "Rows", 0, ColumnType::NVarChar, QStringLiteral("kvdata_001_2026"));
        row("catalog not served", "",
            "SELECT name FROM master.dbo.sysdatabases WHERE name = "
            "'kvdata_009_2026'",
            "Rows");
        row("run lock", "kvdata_001_2026",
            "SET NOCOUNT ON; DECLARE @r int; EXEC @r = sp_getapplock "
            "@Resource = 'fatotal-rebuild', @LockMode = 'Exclusive', @LockOwner = 'Session', "
            "@LockTimeout = 0; SELECT @r",
            "Done,Done,Done,Rows", 0, ColumnType::Int, 0);
        row("period dates", "",
            "select iid,dbegin,dend from ua_period where cacc_id='001' and "
            "iYear=2026 order by iid",
            "Rows", 2, ColumnType::DateTime, QDateTime(QDate(2026, 1, 31), QTime(0, 0)));
        row("null date", "kvdata_001_2026",
            "SELECT dDisposeDate FROM fa_Cards WHERE dDisposeDate "
            "Is Null",
            "Rows", 0, ColumnType::DateTime, QVariant(QMetaType(QMetaType::QDateTime)));
        row("date literal", "kvdata_001_2026",
            "SELECT Count(*) FROM fa_Cards WHERE dInputDate "
            "between '20260101' and '2026-12-31T23:59:59'",
            "Rows", 0, ColumnType::Int, 126);
        row("login options", "",
            "SET TEXTSIZE 2147483647 set implicit_transactions on "
            "IF @@TRANCOUNT > 0 COMMIT TRAN SET NOCOUNT OFF",
            "Done,Done,Done,Done");
        row("count", "kvdata_001_2026", "delete from fa_total where iperiod=12", "Count");
        row("no counts", "kvdata_001_2026", "SET NOCOUNT ON; delete from fa_total", "Done,Done");
        row("quoted name", "", "SELECT \"nocolumn\" FROM ua_account", "Error207");
        row("unclosed text", "", "SELECT 'abc", "Error105");
        row("missing table", "", "SELECT * FROM fa_Total", "Error208");
        row("existing table", "kvdata_001_2026",
            "CREATE TABLE [fa_Total] ([sID] [int] ) ON "
            "[PRIMARY]",
            "Error2714");
        row("drop missing", "kvdata_001_2026", "drop table fq", "Error3701");
        row("not a number", "kvdata_001_2026", "SELECT cast(sAssetName as float) FROM fa_Cards",
            "Error8114");
        row("syntax", "", "SELECT FROM WHERE", "Error102");
        row("SQLite only", "", "SELECT cAcc_Id FROM ua_account LIMIT 1", "Error102");
        row("SQLite function", "", "SELECT ifnull(cAcc_Id, 0) FROM ua_account", "Error195");
        row("not grouped", "kvdata_001_2026", "SELECT sDeptNum, Count(*) FROM fa_Cards",
            "Error8120");
        row("unknown procedure", "", "EXEC sp_who", "Error2812");
        row("error ends the batch", "", "SELECT * FROM nowhere; SELECT 1", "Error208");
    }
    void answers()
    {
        QFETCH(QString, catalog);
        QFETCH(QString, batch);
        QFETCH(QString, expected);
        QFETCH(int, column);
        QFETCH(int, type);
        QFETCH(QVariant, value);
        standin::Session session(m_catalogs);
        QVERIFY(session.use(catalog, nullptr, nullptr));
        const QList<Answer> answers = session.execute(batch);
        QCOMPARE(kinds(answers), expected);
        if (answers.back().kind != Answer::Rows)
            return;
        const Answer &rows = answers.back();
        QCOMPARE(int(rows.columns.at(column).type), type);
        QCOMPARE(rows.rows.isEmpty() ? QVariant() : rows.rows.first().at(column), value);
    }

    // The lock of the run belongs to one session at a time, until it ends;
    // a session's open work waits for no one and is undone when it ends.
    void sessionsExcludeEachOther()
    {
        const QString lock = QStringLiteral(
            "DECLARE @r int; EXEC @r = sp_getapplock @Resource = 'fatotal-rebuild', @LockMode = "
            "'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; SELECT @r");
        const QString count = QStringLiteral("SELECT count(*) FROM fa_Total");
        const auto first = [](const QList<Answer> &a) { return a.back().rows.value(0).value(0); };
        standin::Session b(m_catalogs);
        QVERIFY(b.use(QStringLiteral("kvdata_001_2026"), nullptr, nullptr));
        const QVariant before = first(b.execute(count));
        {
            standin::Session a(m_catalogs);
            QVERIFY(a.use(QStringLiteral("kvdata_001_2026"), nullptr, nullptr));
            QCOMPARE(first(a.execute(lock)), QVariant(0));
            QCOMPARE(first(b.execute(lock)), QVariant(-1));
            QCOMPARE(kinds(a.execute(QStringLiteral("set implicit_transactions on; delete from "
                                                    "fa_Total"))),
                     QStringLiteral("Done,Count"));
            QVERIFY(a.inTransaction());
            QCOMPARE(kinds(b.execute(QStringLiteral("SET LOCK_TIMEOUT 100; delete from fa_Total"))),
                     QStringLiteral("Done,Error1222"));
        }
        QCOMPARE(first(b.execute(lock)), QVariant(0));
        QCOMPARE(first(b.execute(count)), before);
        b.beginTransaction();
        b.execute(QStringLiteral("delete from fa_Total"));
        b.commit();
        QCOMPARE(first(b.execute(count)), QVariant(0));
    }

    // An attention ends a long statement at once, with the error the wire
    // side leaves unsent.
    void cancelStopsTheStatement()
    {
        standin::Session session(m_catalogs);
        QVERIFY(session.use(QStringLiteral("kvdata_001_2026"), nullptr, nullptr));
        std::thread attention([&] {
            QThread::msleep(200);
            session.cancel();
        });
        QElapsedTimer clock;
        clock.start();
        const QList<Answer> answers = session.execute(QStringLiteral(
            "SELECT count(*) FROM fa_Cards AS a, fa_Cards AS b, fa_Cards AS c, fa_Cards AS d"));
        attention.join();
        QCOMPARE(kinds(answers), QStringLiteral("Error3617"));
        QVERIFY(clock.elapsed() < 5000);
    }
};

QTEST_GUILESS_MAIN(TestStandin)
#include "tst_standin.moc"
