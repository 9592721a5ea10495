#include "ledger/run_history.h"

#include "ledger/change_report.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <sqlite3.h>

namespace fa {

namespace {

// Raised when the tables change; a file of a later version is left alone.
constexpr int kSchemaVersion = 1;
// Long enough for another program to finish recording a large table.
constexpr int kBusyTimeoutMs = 30000;

// Each old value keeps its QVariant type id next to SQLite's own type, so
// that it reads back as the same type: a date stays a date, not a text.
constexpr const char *kSchema = R"(
CREATE TABLE runs(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    time TEXT NOT NULL, user TEXT NOT NULL, computer TEXT NOT NULL,
    mode TEXT NOT NULL, database TEXT NOT NULL, account TEXT NOT NULL,
    year TEXT NOT NULL, outcome TEXT NOT NULL,
    added INTEGER NOT NULL, removed INTEGER NOT NULL, changed INTEGER NOT NULL,
    seconds REAL NOT NULL, change_report BLOB NOT NULL);
CREATE INDEX runs_by_place ON runs(database, account, year, id);
CREATE TABLE old_columns(
    run INTEGER NOT NULL, position INTEGER NOT NULL, name TEXT NOT NULL,
    PRIMARY KEY(run, position)) WITHOUT ROWID;
CREATE TABLE old_values(
    run INTEGER NOT NULL, row INTEGER NOT NULL, position INTEGER NOT NULL,
    type INTEGER NOT NULL, value,
    PRIMARY KEY(run, row, position)) WITHOUT ROWID;
)";

// The runs' columns, and whether the run kept the table it replaced.
constexpr const char *kRunColumns =
    "id, time, user, computer, mode, database, account, year, outcome, added, removed, "
    "changed, seconds, EXISTS(SELECT 1 FROM old_columns WHERE run = runs.id)";

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

bool failSql(sqlite3 *db, QString *error)
{
    return fail(error, QStringLiteral("整理记录出错：") + QString::fromUtf8(sqlite3_errmsg(db)));
}

class Statement
{
public:
    Statement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return m_stmt != nullptr; }
    sqlite3_stmt *get() const { return m_stmt; }
    void text(int i, const QString &value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(m_stmt, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    void blob(int i, const QByteArray &value)
    {
        sqlite3_bind_blob(m_stmt, i, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    }
    // One step of a statement that returns no rows; ready for new values.
    bool run()
    {
        const int rc = sqlite3_step(m_stmt);
        sqlite3_reset(m_stmt);
        return rc == SQLITE_DONE;
    }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

QString columnText(sqlite3_stmt *stmt, int i)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)),
                             sqlite3_column_bytes(stmt, i));
}

QByteArray columnBlob(sqlite3_stmt *stmt, int i)
{
    return QByteArray(static_cast<const char *>(sqlite3_column_blob(stmt, i)),
                      sqlite3_column_bytes(stmt, i));
}

class Connection
{
public:
    ~Connection() { sqlite3_close_v2(m_db); }
    sqlite3 *db() const { return m_db; }
    // Opens the history, made on first use. A reader (create false) finds
    // none when there is no file yet, and makes nothing: *absent tells.
    bool open(QString *error, bool create = true, bool *absent = nullptr);
    bool exec(const char *sql, QString *error)
    {
        return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK ||
               failSql(m_db, error);
    }
    void rollback() { sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr); }

private:
    bool readVersion(int *version, QString *error);
    bool createSchema(const QString &shown, QString *error);
    sqlite3 *m_db = nullptr;
};

bool refuseNotHistory(const QString &shown, QString *error)
{
    return fail(error, QStringLiteral("整理记录文件不是本程序的数据库，未作改动：") + shown);
}

bool Connection::readVersion(int *version, QString *error)
{
    Statement stmt(m_db, "PRAGMA user_version");
    if (!stmt.ok() || sqlite3_step(stmt.get()) != SQLITE_ROW)
        return failSql(m_db, error);
    *version = sqlite3_column_int(stmt.get(), 0);
    return true;
}

bool Connection::open(QString *error, bool create, bool *absent)
{
    if (absent)
        *absent = false;
    const QString folder = stateDirectory(error, create);
    if (folder.isEmpty())
        return false;
    const QString path = QDir(folder).absoluteFilePath(QStringLiteral("history.db"));
    const QString shown = QDir::toNativeSeparators(path);
    // Whatever else lies at the path is someone's file: look before SQLite
    // opens it, which would take an empty file for a new database.
    const QFileInfo info(path);
    if (!create && !info.exists() && !info.isSymLink()) {
        if (absent)
            *absent = true;
        return false;
    }
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        return refuseNotHistory(shown, error);
    if (info.exists() && info.size() > 0) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(error, QStringLiteral("打开文件错误：") + shown);
        if (!file.read(16).startsWith(QByteArrayView("SQLite format 3\0", 16)))
            return refuseNotHistory(shown, error);
    }
    const int rc =
        sqlite3_open_v2(path.toUtf8().constData(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (rc != SQLITE_OK)
        return fail(error, QStringLiteral("打开文件错误：") + shown);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);

    int version = 0;
    if (!readVersion(&version, error))
        return sqlite3_errcode(m_db) == SQLITE_NOTADB ? refuseNotHistory(shown, error) : false;
    if (version == 0)
        return createSchema(shown, error);
    if (version > kSchemaVersion)
        return fail(error,
                    QStringLiteral("整理记录文件来自较新版本的程序，本程序无法使用：") + shown);
    return true;
}

bool Connection::createSchema(const QString &shown, QString *error)
{
    // Another program may be making it at this moment: decide under the
    // write lock.
    if (!exec("BEGIN IMMEDIATE", error))
        return false;
    int version = 0;
    if (!readVersion(&version, error)) {
        rollback();
        return false;
    }
    if (version == 0) {
        // An SQLite database of someone else's: its tables are not ours.
        Statement tables(m_db, "SELECT count(*) FROM sqlite_master");
        if (!tables.ok() || sqlite3_step(tables.get()) != SQLITE_ROW) {
            rollback();
            return failSql(m_db, error);
        }
        if (sqlite3_column_int(tables.get(), 0) != 0) {
            rollback();
            return refuseNotHistory(shown, error);
        }
        const QByteArray setVersion =
            QByteArrayLiteral("PRAGMA user_version = ") + QByteArray::number(kSchemaVersion);
        if (!exec(kSchema, error) || !exec(setVersion.constData(), error)) {
            rollback();
            return false;
        }
    } else if (version > kSchemaVersion) {
        rollback();
        return fail(error,
                    QStringLiteral("整理记录文件来自较新版本的程序，本程序无法使用：") + shown);
    }
    return exec("COMMIT", error);
}

// The stored value of one cell: SQLite's own type carries the value, the
// QVariant type id says what to make of it again.
bool bindValue(Statement &stmt, int typeIndex, int valueIndex, const QVariant &value,
               QString *error)
{
    sqlite3_stmt *s = stmt.get();
    const int type = value.typeId();
    sqlite3_bind_int(s, typeIndex, type);
    switch (type) {
    case QMetaType::UnknownType:
        sqlite3_bind_null(s, valueIndex);
        return true;
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        sqlite3_bind_int64(s, valueIndex, value.toLongLong());
        return true;
    case QMetaType::ULongLong: {
        const qulonglong v = value.toULongLong();
        if (v <= qulonglong(std::numeric_limits<qint64>::max()))
            sqlite3_bind_int64(s, valueIndex, qint64(v));
        else
            stmt.text(valueIndex, QString::number(v));
        return true;
    }
    case QMetaType::Double: {
        const double v = value.toDouble();
        // SQLite stores a NaN as NULL: keep its bits instead.
        if (std::isnan(v))
            stmt.blob(valueIndex, QByteArray(reinterpret_cast<const char *>(&v), sizeof v));
        else
            sqlite3_bind_double(s, valueIndex, v);
        return true;
    }
    case QMetaType::QString: {
        const QString v = value.toString();
        if (v.isNull())
            sqlite3_bind_null(s, valueIndex);
        else
            stmt.text(valueIndex, v);
        return true;
    }
    case QMetaType::QByteArray: {
        const QByteArray v = value.toByteArray();
        if (v.isNull())
            sqlite3_bind_null(s, valueIndex);
        else
            stmt.blob(valueIndex, v);
        return true;
    }
    case QMetaType::QDate:
    case QMetaType::QTime:
    case QMetaType::QDateTime: {
        // An invalid one is SQL NULL; a local time keeps no offset, so that
        // it reads back as local time.
        const QString v = value.toString();
        if (v.isEmpty())
            sqlite3_bind_null(s, valueIndex);
        else
            stmt.text(valueIndex, type == QMetaType::QDate ? value.toDate().toString(Qt::ISODate)
                                  : type == QMetaType::QTime
                                      ? value.toTime().toString(Qt::ISODateWithMs)
                                      : value.toDateTime().toString(Qt::ISODateWithMs));
        return true;
    }
    default:
        return fail(error, QStringLiteral("fa_Total 中有无法保存的值（%1）")
                               .arg(QString::fromLatin1(value.typeName())));
    }
}

bool readValue(sqlite3_stmt *s, int typeIndex, int valueIndex, QVariant *out, QString *error)
{
    const int type = sqlite3_column_int(s, typeIndex);
    const int stored = sqlite3_column_type(s, valueIndex);
    if (type == QMetaType::UnknownType) {
        *out = QVariant();
        return true;
    }
    if (stored == SQLITE_NULL) {
        // A null text, bytes or date of that type, as it was handed over.
        *out = QVariant(QMetaType(type));
        return out->isValid() || fail(error, QStringLiteral("整理记录中有无法读出的值"));
    }
    const qint64 whole = sqlite3_column_int64(s, valueIndex);
    switch (type) {
    case QMetaType::Bool:
        *out = QVariant(whole != 0);
        return true;
    case QMetaType::Int:
        *out = QVariant(int(whole));
        return true;
    case QMetaType::UInt:
        *out = QVariant(uint(whole));
        return true;
    case QMetaType::LongLong:
        *out = QVariant(qlonglong(whole));
        return true;
    case QMetaType::ULongLong:
        *out = stored == SQLITE_INTEGER ? QVariant(qulonglong(whole))
                                        : QVariant(columnText(s, valueIndex).toULongLong());
        return true;
    case QMetaType::Double: {
        double v = sqlite3_column_double(s, valueIndex);
        const QByteArray bits = stored == SQLITE_BLOB ? columnBlob(s, valueIndex) : QByteArray();
        if (bits.size() == sizeof v)
            std::memcpy(&v, bits.constData(), sizeof v);
        *out = QVariant(v);
        return true;
    }
    case QMetaType::QString:
        *out = QVariant(columnText(s, valueIndex));
        return true;
    case QMetaType::QByteArray:
        *out = QVariant(columnBlob(s, valueIndex));
        return true;
    case QMetaType::QDate:
        *out = QVariant(QDate::fromString(columnText(s, valueIndex), Qt::ISODate));
        return true;
    case QMetaType::QTime:
        *out = QVariant(QTime::fromString(columnText(s, valueIndex), Qt::ISODateWithMs));
        return true;
    case QMetaType::QDateTime:
        *out = QVariant(QDateTime::fromString(columnText(s, valueIndex), Qt::ISODateWithMs));
        return true;
    default:
        return fail(error, QStringLiteral("整理记录中有无法读出的值"));
    }
}

QString timeText(const QDateTime &time)
{
    // With the offset in force then, so the moment is plain to anyone.
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

bool insertRun(Connection &conn, RunRecord &record, QString *error)
{
    Statement stmt(conn.db(),
                   "INSERT INTO runs(time, user, computer, mode, database, account, year, outcome, "
                   "added, removed, changed, seconds, change_report) "
                   "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!stmt.ok())
        return failSql(conn.db(), error);
    const QStringList texts{timeText(record.time), record.user,    record.computer, record.mode,
                            record.database,       record.account, record.year,     record.outcome};
    for (int i = 0; i < texts.size(); ++i)
        stmt.text(i + 1, texts[i]);
    sqlite3_bind_int64(stmt.get(), 9, record.added);
    sqlite3_bind_int64(stmt.get(), 10, record.removed);
    sqlite3_bind_int64(stmt.get(), 11, record.changed);
    sqlite3_bind_double(stmt.get(), 12, record.seconds);
    stmt.blob(13, record.changeReportCsv);
    if (!stmt.run())
        return failSql(conn.db(), error);
    record.id = sqlite3_last_insert_rowid(conn.db());
    return true;
}

bool insertTable(Connection &conn, qint64 run, const SavedTable &table, QString *error)
{
    Statement column(conn.db(), "INSERT INTO old_columns(run, position, name) VALUES(?, ?, ?)");
    Statement cell(conn.db(),
                   "INSERT INTO old_values(run, row, position, type, value) VALUES(?, ?, ?, ?, ?)");
    if (!column.ok() || !cell.ok())
        return failSql(conn.db(), error);
    for (int i = 0; i < table.columns.size(); ++i) {
        sqlite3_bind_int64(column.get(), 1, run);
        sqlite3_bind_int(column.get(), 2, i);
        column.text(3, table.columns[i]);
        if (!column.run())
            return failSql(conn.db(), error);
    }
    for (qsizetype r = 0; r < table.rows.size(); ++r) {
        const QVariantList &row = table.rows[r];
        for (qsizetype i = 0; i < row.size(); ++i) {
            sqlite3_bind_int64(cell.get(), 1, run);
            sqlite3_bind_int64(cell.get(), 2, r);
            sqlite3_bind_int64(cell.get(), 3, i);
            if (!bindValue(cell, 4, 5, row[i], error))
                return false;
            if (!cell.run())
                return failSql(conn.db(), error);
        }
    }
    return true;
}

// Forgets the runs of the same place beyond the newest kRunsKept.
bool forgetOldRuns(Connection &conn, const RunRecord &record, QString *error)
{
    if (!conn.exec("CREATE TEMP TABLE IF NOT EXISTS forgotten(id INTEGER PRIMARY KEY); "
                   "DELETE FROM forgotten",
                   error))
        return false;
    Statement pick(conn.db(), "INSERT INTO forgotten SELECT id FROM runs WHERE database = ? AND "
                              "account = ? AND year = ? ORDER BY id DESC LIMIT -1 OFFSET ?");
    if (!pick.ok())
        return failSql(conn.db(), error);
    pick.text(1, record.database);
    pick.text(2, record.account);
    pick.text(3, record.year);
    sqlite3_bind_int(pick.get(), 4, kRunsKept);
    if (!pick.run())
        return failSql(conn.db(), error);
    return conn.exec("DELETE FROM old_values WHERE run IN (SELECT id FROM forgotten); "
                     "DELETE FROM old_columns WHERE run IN (SELECT id FROM forgotten); "
                     "DELETE FROM runs WHERE id IN (SELECT id FROM forgotten)",
                     error);
}

void readRun(sqlite3_stmt *s, RunRecord *record)
{
    record->id = sqlite3_column_int64(s, 0);
    record->time = QDateTime::fromString(columnText(s, 1), Qt::ISODate).toLocalTime();
    record->user = columnText(s, 2);
    record->computer = columnText(s, 3);
    record->mode = columnText(s, 4);
    record->database = columnText(s, 5);
    record->account = columnText(s, 6);
    record->year = columnText(s, 7);
    record->outcome = columnText(s, 8);
    record->added = sqlite3_column_int64(s, 9);
    record->removed = sqlite3_column_int64(s, 10);
    record->changed = sqlite3_column_int64(s, 11);
    record->seconds = sqlite3_column_double(s, 12);
    record->keptTable = sqlite3_column_int(s, 13) != 0;
}

bool readTable(Connection &conn, qint64 run, SavedTable *table, QString *error)
{
    *table = SavedTable();
    Statement columns(conn.db(), "SELECT name FROM old_columns WHERE run = ? ORDER BY position");
    Statement cells(conn.db(), "SELECT row, position, type, value FROM old_values WHERE run = ? "
                               "ORDER BY row, position");
    if (!columns.ok() || !cells.ok())
        return failSql(conn.db(), error);
    sqlite3_bind_int64(columns.get(), 1, run);
    int rc;
    while ((rc = sqlite3_step(columns.get())) == SQLITE_ROW)
        table->columns << columnText(columns.get(), 0);
    if (rc != SQLITE_DONE)
        return failSql(conn.db(), error);
    sqlite3_bind_int64(cells.get(), 1, run);
    qint64 lastRow = -1;
    while ((rc = sqlite3_step(cells.get())) == SQLITE_ROW) {
        const qint64 row = sqlite3_column_int64(cells.get(), 0);
        if (row != lastRow) {
            table->rows.append(QVariantList());
            lastRow = row;
        }
        QVariant value;
        if (!readValue(cells.get(), 2, 3, &value, error))
            return false;
        table->rows.last().append(value);
    }
    return rc == SQLITE_DONE || failSql(conn.db(), error);
}

} // namespace

bool recordRun(RunRecord &record, const SavedTable &oldTotals, QString *error)
{
    Connection conn;
    if (!conn.open(error) || !conn.exec("BEGIN IMMEDIATE", error))
        return false;
    if (!insertRun(conn, record, error) || !insertTable(conn, record.id, oldTotals, error) ||
        !forgetOldRuns(conn, record, error) || !conn.exec("COMMIT", error)) {
        conn.rollback();
        record.id = 0;
        return false;
    }
    return true;
}

bool listRuns(const QStringList &accounts, const QStringList &years, QList<RunRecord> *out,
              QString *error)
{
    out->clear();
    Connection conn;
    // No history yet is an empty one.
    bool absent = false;
    if (!conn.open(error, false, &absent))
        return absent;
    // The chosen account sets and years travel as JSON arrays: one statement
    // whatever their number.
    const QByteArray sql = QByteArrayLiteral("SELECT ") + kRunColumns +
                           " FROM runs WHERE (?1 IS NULL OR account IN (SELECT value FROM "
                           "json_each(?1))) AND (?2 IS NULL OR year IN (SELECT value FROM "
                           "json_each(?2))) ORDER BY id DESC";
    Statement stmt(conn.db(), sql.constData());
    if (!stmt.ok())
        return failSql(conn.db(), error);
    const auto jsonArray = [](const QStringList &list) {
        QStringList quoted;
        for (QString item : list)
            quoted << QLatin1Char('"') +
                          item.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
                              .replace(QLatin1Char('"'), QLatin1String("\\\"")) +
                          QLatin1Char('"');
        return QLatin1Char('[') + quoted.join(QLatin1Char(',')) + QLatin1Char(']');
    };
    if (!accounts.isEmpty())
        stmt.text(1, jsonArray(accounts));
    if (!years.isEmpty())
        stmt.text(2, jsonArray(years));
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        RunRecord record;
        readRun(stmt.get(), &record);
        out->append(record);
    }
    return rc == SQLITE_DONE || failSql(conn.db(), error);
}

bool amendOutcome(qint64 id, const QString &outcome, QString *error)
{
    Connection conn;
    if (!conn.open(error))
        return false;
    Statement stmt(conn.db(), "UPDATE runs SET outcome = ? WHERE id = ?");
    if (!stmt.ok())
        return failSql(conn.db(), error);
    stmt.text(1, outcome);
    sqlite3_bind_int64(stmt.get(), 2, id);
    return stmt.run() || failSql(conn.db(), error);
}

bool loadRun(qint64 id, RunRecord *record, SavedTable *oldTotals, QString *error, bool *missing)
{
    if (missing)
        *missing = false;
    Connection conn;
    bool absent = false;
    if (!conn.open(error, false, &absent)) {
        if (!absent)
            return false;
        if (missing)
            *missing = true;
        return fail(error, QStringLiteral("整理记录中没有记录 %1").arg(id));
    }
    // One read transaction: the run cannot be forgotten halfway through.
    if (!conn.exec("BEGIN", error))
        return false;
    const QByteArray sql =
        QByteArrayLiteral("SELECT ") + kRunColumns + ", change_report FROM runs WHERE id = ?";
    Statement stmt(conn.db(), sql.constData());
    if (!stmt.ok())
        return failSql(conn.db(), error);
    sqlite3_bind_int64(stmt.get(), 1, id);
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE) {
        if (missing)
            *missing = true;
        return fail(error, QStringLiteral("整理记录中没有记录 %1").arg(id));
    }
    if (rc != SQLITE_ROW)
        return failSql(conn.db(), error);
    readRun(stmt.get(), record);
    record->changeReportCsv = columnBlob(stmt.get(), 14);
    return !oldTotals || readTable(conn, id, oldTotals, error);
}

QString historyCsvHeader()
{
    return QStringLiteral(
        "id,time,user,computer,mode,database,account,year,outcome,added,removed,changed,seconds");
}

QString historyCsvLine(const RunRecord &record)
{
    const QStringList fields{QString::number(record.id),
                             timeText(record.time),
                             record.user,
                             record.computer,
                             record.mode,
                             record.database,
                             record.account,
                             record.year,
                             record.outcome,
                             QString::number(record.added),
                             QString::number(record.removed),
                             QString::number(record.changed),
                             QString::number(record.seconds, 'g', QLocale::FloatingPointShortest)};
    return CsvRecord(fields).chopped(2);
}

} // namespace fa
