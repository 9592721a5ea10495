#pragma once

#include <QList>
#include <QString>
#include <QVariant>

#include <atomic>
#include <memory>

// The SQL side of tds-standin: what one client session (one connection) asks
// of the served catalogs, run on their SQLite files. Knows nothing of the
// wire; the TDS side turns its answers into tokens.

namespace standin {

// The catalogs of one installation as fatotal-demo lays it out: KVSYSTEM is
// DIR/kvsystem/kvsystem.mdb, and kvdata_<account>_<year> is the account-year
// file that the system database's data path names.
class Catalogs
{
public:
    // False, with the reason, when DIR holds no system database.
    bool load(const QString &dataDir, QString *error);
    // The SQLite file of a catalog (case-insensitive name), or empty text.
    QString fileOf(const QString &catalog) const;
    // Every served catalog name, KVSYSTEM first.
    QStringList names() const;

private:
    QString m_dataDir;
    QList<std::pair<QString, QString>> m_files; // catalog name, file
};

// The SQL Server types a result column is reported with.
enum class ColumnType { Int, BigInt, Float, NVarChar, DateTime, Bit };

struct Column
{
    QString name;
    ColumnType type = ColumnType::NVarChar;
};

// One answer of a batch, in the order SQL Server sends them.
struct Answer
{
    enum Kind {
        Rows,  // a result set (columns, rows), then a DONE with its row count
        Count, // a statement that changed rows: a DONE with the count
        Done,  // a statement without a count (SET, DDL, …)
        Error  // an error (number, severity, text); the batch may go on or stop
    };
    Kind kind = Done;
    QList<Column> columns;
    QList<QVariantList> rows; // a null QVariant is NULL
    qint64 count = -1;
    int number = 0; // SQL Server's error number: 208, 2714, 8114, 1222, 102, …
    int severity = 16;
    QString message;
};

// One client session on the catalogs. Each call comes from the session's own
// thread but cancel(), which may come from any thread.
class Session
{
public:
    explicit Session(const Catalogs &catalogs);
    ~Session(); // rolls back open work and lets every lock go
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // The catalog of the login (empty: KVSYSTEM). False, with SQL Server's
    // error number and text, when it is not served.
    bool use(const QString &catalog, int *number, QString *message);
    QString catalog() const;

    // Runs a batch of T-SQL statements as SQL Server would: translated to
    // SQLite or refused with SQL Server's error. Waits for locks of other
    // sessions up to the lock time-out (then 1222).
    QList<Answer> execute(const QString &batch);

    // Transaction-manager requests and IMPLICIT_TRANSACTIONS as FreeTDS uses
    // them; the open transaction's work is undone on rollback and when the
    // session ends.
    void beginTransaction();
    void commit();
    void rollback();
    bool inTransaction() const;
    // The same with SQL Server's error when the request fails: 1222 when a
    // commit waits too long for other sessions, 3902/3903 without a
    // transaction to end.
    bool beginTransaction(Answer *error);
    bool commit(Answer *error);
    bool rollback(Answer *error);

    // An attention: stops the running statement (its answer is an error the
    // TDS side does not send) as soon as possible; callable from any thread.
    void cancel();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace standin
