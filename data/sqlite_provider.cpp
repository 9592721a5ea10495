#include "data/sqlite_provider.h"

#include "data/app_error.h"
#include "data/conn_strings.h"
#include "data/jet_functions.h"
#include "data/jet_sql.h"
#include "data/lock_wait.h"
#include "data/stop_request.h"
#include "data/vector_state.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <sqlite3.h>
#include <vector>

namespace fa {

namespace {

class SqliteCursor;

QString lastMessage(sqlite3 *db, int rc)
{
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
}

// The operating system refused the file itself (EACCES, or
// ERROR_ACCESS_DENIED on Windows), not SQLite.
bool accessDenied(sqlite3 *db)
{
#ifdef Q_OS_WIN
    constexpr int kAccessDenied = 5; // ERROR_ACCESS_DENIED
#else
    constexpr int kAccessDenied = EACCES;
#endif
    return db && sqlite3_system_errno(db) == kAccessDenied;
}

// What the operator reads: one Chinese sentence for the troubles an operator
// can act on, the database's own text for the rest (behind a short lead-in
// that says what kind of trouble it is).
QString reasonText(sqlite3 *db, int rc)
{
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("数据库被其他程序占用");
    case SQLITE_READONLY:
        return QStringLiteral("数据库是只读的");
    case SQLITE_NOTADB:
        return QStringLiteral("不是数据库文件");
    case SQLITE_FULL:
        return QStringLiteral("磁盘已满");
    case SQLITE_IOERR:
        return QStringLiteral("读写磁盘出错");
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("没有权限");
    case SQLITE_CANTOPEN:
        if (accessDenied(db))
            return QStringLiteral("没有权限");
        return QStringLiteral("无法打开数据库文件：") + lastMessage(db, rc);
    case SQLITE_CORRUPT:
        return QStringLiteral("数据库文件已损坏：") + lastMessage(db, rc);
    default:
        break;
    }
    const QString message = lastMessage(db, rc);
    static const QLatin1String noSuchTable("no such table: ");
    if (message.startsWith(noSuchTable))
        return QStringLiteral("没有表 ") + message.mid(noSuchTable.size());
    return message;
}

// Errors in the command text (syntax, unknown names, an object that exists
// already) are SQLITE_ERROR; everything else is a failure of the provider.
AppError makeError(sqlite3 *db, int rc, bool commandText)
{
    const QString reason = reasonText(db, rc);
    if (commandText && (rc & 0xff) == SQLITE_ERROR)
        return AppError(kErrorsInCommand, reason);
    return AppError(kProviderFailure, reason);
}

[[noreturn]] void fail(sqlite3 *db, int rc, bool commandText)
{
    throw makeError(db, rc, commandText);
}

[[noreturn]] void failClosed()
{
    throw AppError(kProviderFailure, QStringLiteral("数据库连接已关闭。"));
}

QVariant columnValue(sqlite3_stmt *stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(stmt, column);
    case SQLITE_TEXT: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
        return QString::fromUtf8(text, sqlite3_column_bytes(stmt, column));
    }
    case SQLITE_BLOB: {
        const auto *blob = static_cast<const char *>(sqlite3_column_blob(stmt, column));
        return QByteArray(blob, sqlite3_column_bytes(stmt, column));
    }
    default:
        return {};
    }
}

// The connection handle, shared by the provider and its cursors so that a
// cursor never holds a dangling pointer. Closing it finalizes the cursors'
// statements first.
struct Database
{
    sqlite3 *handle = nullptr;
    std::vector<SqliteCursor *> cursors;
    std::FILE *trace = nullptr; // statement log for benchmark replays
    int busyTimeoutMs = 0;      // how long to wait for a lock held by another program
    QElapsedTimer lockWait;

    ~Database() { close(); }
    void close();
    // Reads the rest of every cursor into memory and finalizes its statement:
    // a DROP TABLE cannot run while a statement is still reading.
    void releaseCursors();
};

// Waits for a lock that another program holds, as long as
// sqlite3_busy_timeout would, but in short naps, telling whoever listens that
// we wait: the operator should not face a silent pause of several seconds.
int waitForLock(void *context, int count)
{
    constexpr qint64 kNapMs = 50;
    auto *db = static_cast<Database *>(context);
    if (count == 0)
        db->lockWait.start();
    const qint64 waited = db->lockWait.elapsed();
    if (waited >= db->busyTimeoutMs || StopRequested())
        return 0;
    notifyLockWait(int(waited));
    sqlite3_sleep(int(std::min(kNapMs, db->busyTimeoutMs - waited)));
    return 1;
}

class SqliteCursor final : public Cursor
{
public:
    SqliteCursor(std::shared_ptr<Database> db, sqlite3_stmt *stmt)
        : m_db(std::move(db)), m_stmt(stmt)
    {
        const int count = sqlite3_column_count(stmt);
        for (int i = 0; i < count; ++i)
            m_names << QString::fromUtf8(sqlite3_column_name(stmt, i));
        m_db->cursors.push_back(this);
    }

    ~SqliteCursor() override
    {
        finalize();
        std::erase(m_db->cursors, this);
    }

    bool fetch() override
    {
        if (m_buffered) {
            m_hasRow = !m_rows.empty();
            if (m_hasRow) {
                m_current = std::move(m_rows.front());
                m_rows.pop_front();
            }
            return m_hasRow;
        }
        if (!m_stmt) {
            if (m_connectionClosed)
                failClosed();
            return false; // already at the end
        }
        ClearUpperVectorState();
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW) {
            m_hasRow = true;
            return true;
        }
        m_hasRow = false;
        if (rc == SQLITE_DONE) {
            finalize(); // ends the read at once, releasing the file
            return false;
        }
        AppError error = makeError(m_db->handle, rc, true);
        finalize();
        throw error;
    }

    int columnCount() const override { return int(m_names.size()); }
    QString columnName(int column) const override { return m_names.value(column); }

    QVariant value(int column) const override
    {
        if (!m_hasRow || column < 0 || column >= columnCount())
            return {};
        if (m_buffered)
            return m_current.value(column);
        return columnValue(m_stmt, column);
    }

    void connectionClosed()
    {
        finalize();
        m_buffered = false;
        m_hasRow = false;
        m_connectionClosed = true;
    }

    void buffer()
    {
        if (!m_stmt)
            return;
        if (m_hasRow)
            m_current = readRow();
        ClearUpperVectorState();
        int rc;
        while ((rc = sqlite3_step(m_stmt)) == SQLITE_ROW)
            m_rows.push_back(readRow());
        finalize();
        m_buffered = true;
        if (rc != SQLITE_DONE)
            m_rows.clear(); // the rest is lost with the failure; end here
    }

private:
    QVariantList readRow() const
    {
        QVariantList row;
        row.reserve(columnCount());
        for (int i = 0; i < columnCount(); ++i)
            row << columnValue(m_stmt, i);
        return row;
    }

    void finalize()
    {
        if (m_stmt) {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
        }
    }

    std::shared_ptr<Database> m_db;
    sqlite3_stmt *m_stmt;
    QStringList m_names;
    bool m_hasRow = false;
    bool m_connectionClosed = false;
    bool m_buffered = false;
    QVariantList m_current;
    std::deque<QVariantList> m_rows;
};

void Database::close()
{
    if (!handle)
        return;
    for (SqliteCursor *cursor : cursors)
        cursor->connectionClosed();
    sqlite3_close_v2(handle);
    handle = nullptr;
    if (trace)
        std::fclose(trace);
    trace = nullptr;
}

// When FATOTAL_SQL_TRACE names a folder, each statement is appended, as
// SQLite runs it, to <folder>/<database file name>.sql, so that a benchmark
// can replay exactly the same statements in the sqlite3 shell.
int traceStatement(unsigned, void *context, void *statement, void *)
{
    auto *file = static_cast<std::FILE *>(context);
    const char *sql = sqlite3_sql(static_cast<sqlite3_stmt *>(statement));
    if (sql)
        std::fprintf(file, "%s;\n", sql);
    return 0;
}

void startTrace(Database &db, const QString &databasePath)
{
    const QString folder = qEnvironmentVariable("FATOTAL_SQL_TRACE");
    if (folder.isEmpty())
        return;
    const QString file =
        folder + QLatin1Char('/') + QFileInfo(databasePath).fileName() + QStringLiteral(".sql");
    db.trace = std::fopen(QFile::encodeName(file).constData(), "a");
    if (db.trace)
        sqlite3_trace_v2(db.handle, SQLITE_TRACE_STMT, traceStatement, db.trace);
}

void Database::releaseCursors()
{
    for (SqliteCursor *cursor : cursors)
        cursor->buffer();
}

// Owns a prepared statement until it is handed on.
class Statement
{
public:
    Statement() = default;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    ~Statement() { sqlite3_finalize(m_stmt); }
    sqlite3_stmt *get() const { return m_stmt; }
    sqlite3_stmt **out() { return &m_stmt; }
    sqlite3_stmt *release() { return std::exchange(m_stmt, nullptr); }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

} // namespace

struct SqliteProvider::Impl
{
    std::shared_ptr<Database> db;
    int busyTimeoutMs = kDefaultBusyTimeoutMs;

    sqlite3 *handle() const
    {
        if (!db || !db->handle)
            failClosed();
        return db->handle;
    }

    // Prepares one statement of the tool's dialect. The text must hold
    // exactly one statement: what follows it is refused rather than ignored
    // or run, as the file database's own engine does.
    void prepare(const QString &sql, Statement &stmt) const
    {
        sqlite3 *h = handle();
        const QByteArray text = jet::translate(sql).toUtf8();
        const char *tail = nullptr;
        int rc = sqlite3_prepare_v2(h, text.constData(), int(text.size()), stmt.out(), &tail);
        if (rc != SQLITE_OK)
            fail(h, rc, true);
        if (!stmt.get())
            throw AppError(kErrorsInCommand, QStringLiteral("命令文本为空。"));
        const char *end = text.constData() + text.size();
        while (tail && tail < end) {
            Statement rest;
            const char *next = nullptr;
            rc = sqlite3_prepare_v2(h, tail, int(end - tail), rest.out(), &next);
            if (rc != SQLITE_OK || rest.get())
                throw AppError(kErrorsInCommand, QStringLiteral("在 SQL 语句结尾之后找到字符。"));
            tail = next;
        }
    }

    // Steps a statement until it is done; the rows of a query are dropped.
    void run(sqlite3_stmt *stmt, bool commandText) const
    {
        sqlite3 *h = handle();
        bool released = false;
        ClearUpperVectorState();
        for (;;) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_ROW)
                continue;
            if (rc == SQLITE_DONE)
                return;
            // A statement still reading (an open recordset) keeps DROP TABLE
            // from running: read the recordsets into memory and try again.
            if ((rc & 0xff) == SQLITE_LOCKED && !released && !db->cursors.empty()) {
                released = true;
                db->releaseCursors();
                sqlite3_reset(stmt);
                continue;
            }
            fail(h, rc, commandText);
        }
    }

    void runText(const char *sql) const
    {
        Statement stmt;
        sqlite3 *h = handle();
        const int rc = sqlite3_prepare_v2(h, sql, -1, stmt.out(), nullptr);
        if (rc != SQLITE_OK)
            fail(h, rc, false);
        run(stmt.get(), false);
    }
};

SqliteProvider::SqliteProvider() : d(std::make_unique<Impl>()) {}

SqliteProvider::~SqliteProvider()
{
    close();
}

QString SqliteProvider::dataSource(const QString &connectionString)
{
    return jetDataSource(connectionString);
}

void SqliteProvider::open(const QString &connectionString)
{
    close();
    const QString named = dataSource(connectionString);
    if (named.isEmpty())
        throw AppError(kProviderFailure, QStringLiteral("连接字符串中没有指定数据库文件。"));
    // A relative path would depend on the working folder, and one that begins
    // with "file:" would be read by SQLite as a URI naming another file than
    // the one checked here. An absolute path begins with "/" (or a drive) and
    // is always taken as a path, whatever URI defaults SQLite was built with.
    if (QDir::isRelativePath(named))
        throw AppError(kProviderFailure, QStringLiteral("数据库文件的路径不完整：") + named);
    const QString path = QDir::cleanPath(named);
    // Named in messages as the system writes paths.
    const QString shown = QDir::toNativeSeparators(path);
    // The tool never creates a database: a missing file is an error, and
    // SQLite is asked to open, not to create.
    const QFileInfo info(path);
    if (!info.exists())
        throw AppError(kProviderFailure, QStringLiteral("找不到文件：") + shown);
    if (!info.isFile())
        throw AppError(kProviderFailure, QStringLiteral("不是数据库文件：") + shown);
    // SQLite would take an empty file for an empty database and write into it.
    if (info.size() == 0)
        throw AppError(kProviderFailure, QStringLiteral("不可识别的数据库格式：") + shown);

    auto db = std::make_shared<Database>();
    const QByteArray name = path.toUtf8();
    int rc = sqlite3_open_v2(name.constData(), &db->handle, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        throw AppError(kProviderFailure, reasonText(db->handle, rc) + QStringLiteral("：") + shown);
    }
    sqlite3_extended_result_codes(db->handle, 1);
    db->busyTimeoutMs = d->busyTimeoutMs;
    sqlite3_busy_handler(db->handle, waitForLock, db.get());
    rc = jet::registerFunctions(db->handle);
    if (rc != SQLITE_OK)
        fail(db->handle, rc, false);

    // SQLite reads the file only at the first statement; read it now so that
    // a file that is not a database fails here and not at the first query.
    {
        Statement probe;
        rc = sqlite3_prepare_v2(db->handle, "SELECT count(*) FROM sqlite_master", -1, probe.out(),
                                nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(probe.get());
            if (rc == SQLITE_ROW)
                rc = SQLITE_OK;
        }
        if (rc != SQLITE_OK) {
            throw AppError(kProviderFailure,
                           reasonText(db->handle, rc) + QStringLiteral("：") + shown);
        }
    }
    startTrace(*db, path);
    d->db = std::move(db);
}

void SqliteProvider::close()
{
    if (!d->db)
        return;
    // Cursors still alive keep the shared handle but lose their statements.
    auto db = std::move(d->db);
    db->close();
}

bool SqliteProvider::isOpen() const
{
    return d->db && d->db->handle;
}

void SqliteProvider::execute(const QString &sql)
{
    Statement stmt;
    d->prepare(sql, stmt);
    d->run(stmt.get(), true);
}

std::unique_ptr<Cursor> SqliteProvider::query(const QString &sql)
{
    Statement stmt;
    d->prepare(sql, stmt);
    if (sqlite3_column_count(stmt.get()) == 0) {
        d->run(stmt.get(), true);
        return nullptr;
    }
    return std::make_unique<SqliteCursor>(d->db, stmt.release());
}

void SqliteProvider::beginTransaction()
{
    // Taken as a writer at once, so that the busy handler's wait covers the
    // whole run: a transaction that reads first and asks for the write lock
    // later is refused at once, without any wait, when another program has
    // taken that lock in between. A file we may only read has no write lock
    // to take; its transaction fails at its first write, as it always did.
    d->runText(sqlite3_db_readonly(d->handle(), "main") == 1 ? "BEGIN" : "BEGIN IMMEDIATE");
}

void SqliteProvider::commitTransaction()
{
    d->runText("COMMIT");
}

void SqliteProvider::rollbackTransaction()
{
    d->runText("ROLLBACK");
}

void SqliteProvider::interrupt()
{
    if (d->db && d->db->handle)
        sqlite3_interrupt(d->db->handle);
}

void SqliteProvider::setBusyTimeout(int milliseconds)
{
    d->busyTimeoutMs = milliseconds;
    if (isOpen())
        d->db->busyTimeoutMs = milliseconds;
}

void createDatabaseFile(const QString &path)
{
    if (QFileInfo::exists(path))
        throw AppError(kProviderFailure, QStringLiteral("文件已存在：") + path);
    sqlite3 *db = nullptr;
    // Absolute, so that SQLite never reads a name beginning with "file:" as a URI.
    const QByteArray name = QFileInfo(path).absoluteFilePath().toUtf8();
    int rc =
        sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    // Writing the header makes the file a database of its own: an empty file
    // is refused at open.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "PRAGMA application_id = 0; VACUUM", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const QString reason = reasonText(db, rc);
        sqlite3_close_v2(db);
        throw AppError(kProviderFailure, reason + QStringLiteral("：") + path);
    }
    sqlite3_close_v2(db);
}

} // namespace fa
