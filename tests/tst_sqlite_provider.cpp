// The file-database provider on real SQLite files: opening, values, errors
// and their numbers, locks, transactions, and cursors that outlive things.
#include "data/app_error.h"
#include "data/connection.h"
#include "data/odbc_provider.h"
#include "data/sqlite_provider.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>
#include <thread>

using namespace fa;

namespace {

QString jet(const QString &path)
{
    return QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=") + path;
}

// Runs a call that must fail and returns the error's number (0 if it did not fail).
template <typename F> qint32 errorNumber(F &&call, QString *description = nullptr)
{
    try {
        call();
    } catch (const AppError &e) {
        if (description)
            *description = e.description();
        return e.number();
    }
    return 0;
}

} // namespace

class TestSqliteProvider : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString newDatabase(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        createDatabaseFile(path);
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void dataSourceIsEverythingAfterTheField_data()
    {
        QTest::addColumn<QString>("connectionString");
        QTest::addColumn<QString>("path");
        QTest::newRow("plain") << jet(QStringLiteral("/a/kvdata.mdb"))
                               << QStringLiteral("/a/kvdata.mdb");
        QTest::newRow("semicolon and blanks")
            << jet(QStringLiteral("/a b/x;y/kvdata.mdb")) << QStringLiteral("/a b/x;y/kvdata.mdb");
        QTest::newRow("lower case field")
            << QStringLiteral("provider=Microsoft.Jet.OLEDB.4.0;data source = /x.mdb")
            << QStringLiteral("/x.mdb");
        QTest::newRow("none") << QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0") << QString();
    }
    void dataSourceIsEverythingAfterTheField()
    {
        QFETCH(QString, connectionString);
        QFETCH(QString, path);
        QCOMPARE(SqliteProvider::dataSource(connectionString), path);
    }

    void opensPathWithSemicolonAndBlanks()
    {
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("帐套 001;2002")));
        const QString path = newDatabase(QStringLiteral("帐套 001;2002/kvdata.mdb"));
        Connection conn;
        conn.Open(jet(path));
        QCOMPARE(conn.State(), adStateOpen);
        conn.Execute(QStringLiteral("create table t(a)"));
    }

    void openRefusesWhatIsNoDatabase_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // null: do not create
        QTest::addColumn<QString>("reason");     // the description, before the path
        QTest::newRow("missing") << QStringLiteral("missing.mdb") << QByteArray() << "找不到文件：";
        QTest::newRow("text file")
            << QStringLiteral("notes.mdb")
            << QByteArray("Standard Jet DB, or so it says\n").repeated(200) << "不是数据库文件：";
        QTest::newRow("empty file")
            << QStringLiteral("empty.mdb") << QByteArray("") << "不可识别的数据库格式：";
        QTest::newRow("directory")
            << QStringLiteral("folder.mdb") << QByteArray() << "不是数据库文件：";
    }
    void openRefusesWhatIsNoDatabase()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString path = m_dir.filePath(name);
        if (name.startsWith(QLatin1String("folder")))
            QVERIFY(QDir().mkpath(path));
        else if (!content.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }

        SqliteProvider provider;
        QString description;
        QCOMPARE(errorNumber([&] { provider.open(jet(path)); }, &description), kProviderFailure);
        QCOMPARE(description, reason + QDir::toNativeSeparators(path));
        QVERIFY(!provider.isOpen());
        if (content.isNull() && !name.startsWith(QLatin1String("folder")))
            QVERIFY2(!QFile::exists(path), "a missing database must not be created");
        if (!content.isNull()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), content); // nothing written into it
        }
    }

    // A file database is opened by what its first bytes say it is, on every
    // system: an SQLite file through SQLite, an Access file (.mdb, .accdb)
    // through the Access driver, which only Windows has; elsewhere it is
    // refused with a message that names it, before SQLite could call it
    // damaged.
    void fileDatabaseIsOpenedByItsFormat_data()
    {
        QTest::addColumn<QByteArray>("head"); // empty: a database SQLite made
        QTest::addColumn<QString>("opensWith");
#ifdef Q_OS_WIN
        const QString access = QStringLiteral("odbc");
#else
        const QString access = QStringLiteral("refused");
#endif
        QTest::newRow("SQLite") << QByteArray() << "sqlite";
        QTest::newRow("Jet") << QByteArray("\0\1\0\0Standard Jet DB\0", 20) << access;
        QTest::newRow("ACE") << QByteArray("\0\1\0\0Standard ACE DB\0", 20) << access;
        QTest::newRow("engine name elsewhere")
            << QByteArray("Standard Jet DB\0\0\0\0\0", 20) << "sqlite";
    }
    void fileDatabaseIsOpenedByItsFormat()
    {
        QFETCH(QByteArray, head);
        QFETCH(QString, opensWith);
        const QString path =
            m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".mdb"));
        if (head.isEmpty()) {
            createDatabaseFile(path);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(head + QByteArray(2028, '\0'));
        }
        QString chosen;
        try {
            const std::unique_ptr<Provider> provider = createDefaultProvider(jet(path));
            chosen = dynamic_cast<SqliteProvider *>(provider.get()) ? QStringLiteral("sqlite")
                     : dynamic_cast<OdbcProvider *>(provider.get()) ? QStringLiteral("odbc")
                                                                    : QStringLiteral("other");
        } catch (const AppError &error) {
            chosen = QStringLiteral("refused");
            QCOMPARE(error.number(), kProviderFailure);
            QVERIFY2(error.description().contains(path), qPrintable(error.description()));
        }
        QCOMPARE(chosen, opensWith);
    }

    // Only an absolute path names a database: "file:" + path is a relative
    // path, never a URI, even where a folder "file:" holds a copy.
    void openTakesOnlyAbsolutePaths()
    {
        const QString path = newDatabase(QStringLiteral("absolute.mdb"));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        QDir().mkpath(QStringLiteral("file:") + m_dir.path());
        QFile::copy(path, QStringLiteral("file:") + path);
        SqliteProvider provider;
        for (const QString &named :
             {QStringLiteral("file:") + path, QStringLiteral("absolute.mdb")})
            QCOMPARE(errorNumber([&] { provider.open(jet(named)); }), kProviderFailure);
        QDir::setCurrent(previous);
    }

    void createDatabaseFileRefusesAnExistingFile()
    {
        const QString path = newDatabase(QStringLiteral("once.mdb"));
        QCOMPARE(errorNumber([&] { createDatabaseFile(path); }), kProviderFailure);
        SqliteProvider provider;
        provider.open(jet(path));
        QVERIFY(provider.isOpen());
    }

    void valuesKeepTheirTypesAndNames()
    {
        SqliteProvider provider;
        provider.open(jet(newDatabase(QStringLiteral("values.mdb"))));
        provider.execute(QStringLiteral("create table t(i integer, r double, s text, b blob, n)"));
        provider.execute(
            QStringLiteral("insert into t values (7, 2.5, '固定资产', x'00ff', null)"));
        auto cursor = provider.query(QStringLiteral("select i, r, s, b, n as Missing from t"));
        QVERIFY(cursor);
        QCOMPARE(cursor->columnCount(), 5);
        QCOMPARE(cursor->columnName(4), QStringLiteral("Missing"));
        QVERIFY(cursor->fetch());
        QCOMPARE(cursor->value(0).typeId(), QMetaType::LongLong);
        QCOMPARE(cursor->value(0).toLongLong(), 7);
        QCOMPARE(cursor->value(1).typeId(), QMetaType::Double);
        QCOMPARE(cursor->value(1).toDouble(), 2.5);
        QCOMPARE(cursor->value(2).toString(), QStringLiteral("固定资产"));
        QCOMPARE(cursor->value(3).toByteArray(), QByteArray("\x00\xff", 2));
        QVERIFY(cursor->value(4).isNull());
        QVERIFY(!cursor->fetch());
        QVERIFY(!cursor->fetch());
    }

    void queryWithoutResultColumnsRunsAndGivesNoCursor()
    {
        SqliteProvider provider;
        provider.open(jet(newDatabase(QStringLiteral("noresult.mdb"))));
        provider.execute(QStringLiteral("create table t(a)"));
        QVERIFY(!provider.query(QStringLiteral("insert into t select 1 union all select 2")));
        auto cursor = provider.query(QStringLiteral("select count(*) from t"));
        QVERIFY(cursor && cursor->fetch());
        QCOMPARE(cursor->value(0).toInt(), 2);
    }

    void errorsInTheCommandTextHaveTheirOwnNumber_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("table exists") << QStringLiteral("create table fq([sID] nchar(20))");
        QTest::newRow("syntax") << QStringLiteral("selec * from fq");
        QTest::newRow("no such table") << QStringLiteral("delete from fqsum");
        QTest::newRow("no such column") << QStringLiteral("select nothing from fq");
        QTest::newRow("second statement") << QStringLiteral("delete from fq; drop table fq");
        QTest::newRow("empty") << QStringLiteral("   ");
    }
    void errorsInTheCommandTextHaveTheirOwnNumber()
    {
        QFETCH(QString, sql);
        SqliteProvider provider;
        provider.open(
            jet(newDatabase(QStringLiteral("command_%1.mdb").arg(QTest::currentDataTag()))));
        provider.execute(QStringLiteral("create table fq([sID] nchar(20))"));
        provider.execute(QStringLiteral("insert into fq values ('1')"));
        QString description;
        QCOMPARE(errorNumber([&] { provider.execute(sql); }, &description), kErrorsInCommand);
        QVERIFY(!description.isEmpty());
        QCOMPARE(errorNumber([&] { provider.query(sql); }), kErrorsInCommand);
        // Nothing of a refused text has run.
        auto cursor = provider.query(QStringLiteral("select count(*) from fq"));
        QVERIFY(cursor && cursor->fetch());
        QCOMPARE(cursor->value(0).toInt(), 1);
    }

    void constraintFailureIsAProviderFailure()
    {
        SqliteProvider provider;
        provider.open(jet(newDatabase(QStringLiteral("constraint.mdb"))));
        provider.execute(QStringLiteral("create table t(a primary key)"));
        provider.execute(QStringLiteral("insert into t values (1)"));
        QCOMPARE(errorNumber([&] { provider.execute(QStringLiteral("insert into t values (1)")); }),
                 kProviderFailure);
    }

    void lockedDatabaseIsWaitedForThenFails_data()
    {
        QTest::addColumn<QByteArray>("begin");
        QTest::newRow("exclusive") << QByteArray("BEGIN EXCLUSIVE");
        QTest::newRow("reserved") << QByteArray("BEGIN IMMEDIATE");
    }
    void lockedDatabaseIsWaitedForThenFails()
    {
        QFETCH(QByteArray, begin);
        const bool exclusive = begin.contains("EXCLUSIVE");
        const QString path =
            newDatabase(QStringLiteral("locked_%1.mdb").arg(QTest::currentDataTag()));
        SqliteProvider provider;
        provider.open(jet(path));
        provider.execute(QStringLiteral("create table t(a)"));
        provider.setBusyTimeout(300);

        sqlite3 *other = nullptr;
        QCOMPARE(sqlite3_open_v2(path.toUtf8().constData(), &other, SQLITE_OPEN_READWRITE, nullptr),
                 SQLITE_OK);
        QCOMPARE(
            sqlite3_exec(other, begin + "; INSERT INTO t VALUES (1)", nullptr, nullptr, nullptr),
            SQLITE_OK);

        QElapsedTimer timer;
        timer.start();
        QString description;
        QCOMPARE(errorNumber([&] { provider.execute(QStringLiteral("insert into t values (2)")); },
                             &description),
                 kProviderFailure);
        QVERIFY2(timer.elapsed() >= 250, "the lock must be waited for");
        QVERIFY(description.startsWith(QStringLiteral("数据库被其他程序占用")));
        // An exclusive lock keeps readers out as well, and a fresh open too;
        // a reserved one lets them read what was committed.
        SqliteProvider second;
        second.setBusyTimeout(100);
        if (exclusive) {
            QCOMPARE(
                errorNumber([&] { provider.query(QStringLiteral("select * from t"))->fetch(); }),
                kProviderFailure);
            QCOMPARE(errorNumber([&] { second.open(jet(path)); }), kProviderFailure);
        } else {
            QVERIFY(!provider.query(QStringLiteral("select * from t"))->fetch());
            second.open(jet(path));
        }

        // Once the other program lets go, the same provider carries on.
        QCOMPARE(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(other);
        provider.execute(QStringLiteral("insert into t values (2)"));
        auto cursor = provider.query(QStringLiteral("select count(*) from t"));
        QVERIFY(cursor && cursor->fetch());
        QCOMPARE(cursor->value(0).toInt(), 2);
    }

    // Another program's write lock, held for a moment, is waited for when the
    // transaction begins, not met at its first write and refused at once.
    void transactionWaitsForAnotherWriter()
    {
        const QString path = newDatabase(QStringLiteral("writer.mdb"));
        SqliteProvider provider;
        provider.open(jet(path));
        provider.execute(QStringLiteral("create table t(a)"));
        sqlite3 *other = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &other, SQLITE_OPEN_READWRITE, nullptr);
        QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        const std::jthread release([other] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sqlite3_close(other); // ends its transaction
        });
        QString description;
        const qint32 error = errorNumber(
            [&] {
                provider.beginTransaction();
                provider.query(QStringLiteral("select * from t"))->fetch();
                provider.execute(QStringLiteral("insert into t values (1)"));
                provider.commitTransaction();
            },
            &description);
        QVERIFY2(error == 0, qPrintable(description));
    }

    void transactionsCommitAndRollBack()
    {
        SqliteProvider provider;
        provider.open(jet(newDatabase(QStringLiteral("trans.mdb"))));
        provider.execute(QStringLiteral("create table t(a)"));
        provider.beginTransaction();
        provider.execute(QStringLiteral("insert into t values (1)"));
        provider.rollbackTransaction();
        provider.beginTransaction();
        provider.execute(QStringLiteral("insert into t values (2)"));
        provider.commitTransaction();
        auto cursor = provider.query(QStringLiteral("select group_concat(a) from t"));
        QVERIFY(cursor && cursor->fetch());
        QCOMPARE(cursor->value(0).toString(), QStringLiteral("2"));
        QCOMPARE(errorNumber([&] { provider.commitTransaction(); }), kProviderFailure);
    }

    void cursorOutlivesItsConnection()
    {
        auto provider = std::make_unique<SqliteProvider>();
        provider->open(jet(newDatabase(QStringLiteral("outlive.mdb"))));
        provider->execute(QStringLiteral("create table t(a)"));
        provider->execute(QStringLiteral("insert into t values (1),(2)"));
        auto cursor = provider->query(QStringLiteral("select a from t"));
        QVERIFY(cursor->fetch());
        provider->close();
        QVERIFY(!provider->isOpen());
        QCOMPARE(errorNumber([&] { cursor->fetch(); }), kProviderFailure);
        QVERIFY(cursor->value(0).isNull());
        QCOMPARE(errorNumber([&] { provider->execute(QStringLiteral("select 1")); }),
                 kProviderFailure);
        provider.reset();
        QCOMPARE(cursor->columnName(0), QStringLiteral("a"));
        cursor.reset();
    }

    void openRecordsetDoesNotBlockDropTable()
    {
        // The tool leaves its shared recordset open on a result it has read
        // from, then drops and re-creates its work tables.
        Connection conn;
        conn.Open(jet(newDatabase(QStringLiteral("drop.mdb"))));
        conn.Execute(QStringLiteral("create table AccInformation(cName, cValue)"));
        conn.Execute(
            QStringLiteral("insert into AccInformation values ('a','1'),('b','2'),('c','3')"));
        conn.Execute(QStringLiteral("create table fq([sID] nchar(20))"));
        Recordset rs;
        rs.Open(QStringLiteral("select cName, cValue from AccInformation order by cName"), conn);
        QCOMPARE(rs.Fields(0).toString(), QStringLiteral("a"));
        conn.Execute(QStringLiteral("drop table fq"));
        conn.Execute(QStringLiteral("create table fq([sID] nchar(20))"));
        QCOMPARE(rs.Fields(QStringLiteral("cValue")).toString(), QStringLiteral("1"));
        rs.MoveNext();
        QCOMPARE(rs.Fields(0).toString(), QStringLiteral("b"));
        rs.MoveNext();
        QCOMPARE(rs.Fields(0).toString(), QStringLiteral("c"));
        rs.MoveNext();
        QVERIFY(rs.Eof());
    }

    void largeResultIsReadRowByRow()
    {
        SqliteProvider provider;
        provider.open(jet(newDatabase(QStringLiteral("large.mdb"))));
        // A result far too large to hold must still arrive at once.
        auto cursor = provider.query(QStringLiteral(
            "with recursive n(i) as (select 1 union all select i + 1 from n) select i from n"));
        QElapsedTimer timer;
        timer.start();
        for (int i = 1; i <= 1000; ++i) {
            QVERIFY(cursor->fetch());
            QCOMPARE(cursor->value(0).toInt(), i);
        }
        QVERIFY(timer.elapsed() < 5000);
    }
};

QTEST_GUILESS_MAIN(TestSqliteProvider)
#include "tst_sqlite_provider.moc"
