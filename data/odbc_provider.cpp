#include "data/odbc_provider.h"

#include "data/app_error.h"
#include "data/conn_strings.h"

#include <QDateTime>
#include <QList>
#include <QStringList>
#include <optional>
#include <vector>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

namespace fa {

namespace {

// ADO waits 15 seconds for a connection unless told otherwise; so do we.
constexpr SQLULEN kLoginTimeoutSeconds = 15;

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC wide text is UTF-16 here");

QString fromSqlWChar(const SQLWCHAR *text, qsizetype length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text), length);
}

SQLWCHAR *toSqlWChar(const QString &text)
{
    return const_cast<SQLWCHAR *>(reinterpret_cast<const SQLWCHAR *>(text.utf16()));
}

// The server's own words, as the operators know them: without the tags of
// the driver and its manager ("[FreeTDS][SQL Server]").
QString withoutTags(QString message)
{
    while (message.startsWith(QLatin1Char('['))) {
        const qsizetype end = message.indexOf(QLatin1Char(']'));
        if (end < 0)
            break;
        message.remove(0, end + 1);
    }
    return message.trimmed();
}

struct Diagnostic
{
    QString sqlState;
    QString message;
};

// Every diagnostic record of a handle, in the driver's order.
QList<Diagnostic> diagnostics(SQLSMALLINT handleType, SQLHANDLE handle)
{
    QList<Diagnostic> records;
    if (!handle)
        return records;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
        SQLINTEGER nativeError = 0;
        SQLSMALLINT length = 0;
        std::vector<SQLWCHAR> message(SQL_MAX_MESSAGE_LENGTH);
        SQLRETURN r = SQLGetDiagRecW(handleType, handle, record, state, &nativeError,
                                     message.data(), SQLSMALLINT(message.size()), &length);
        if (SQL_SUCCEEDED(r) && qsizetype(length) >= qsizetype(message.size())) {
            // Servers are allowed longer messages than the usual buffer.
            message.resize(size_t(length) + 1);
            r = SQLGetDiagRecW(handleType, handle, record, state, &nativeError, message.data(),
                               SQLSMALLINT(message.size()), &length);
        }
        if (!SQL_SUCCEEDED(r))
            return records;
        const qsizetype shown =
            qBound(qsizetype(0), qsizetype(length), qsizetype(message.size()) - 1);
        records.append(
            {fromSqlWChar(state, SQL_SQLSTATE_SIZE), fromSqlWChar(message.data(), shown)});
    }
}

// The failure of the last call on a statement, numbered by its SQLSTATE;
// warnings (class 01) are passed over. Read before anything else is done
// with the statement: the next call on it clears the records.
AppError statementError(SQLHSTMT statement, SQLRETURN result)
{
    for (const Diagnostic &diagnostic : diagnostics(SQL_HANDLE_STMT, statement)) {
        if (diagnostic.sqlState.startsWith(QLatin1String("01")))
            continue;
        const QString message = withoutTags(diagnostic.message);
        if (!message.isEmpty())
            return AppError(errorNumberForSqlState(diagnostic.sqlState), message);
    }
    return AppError(
        kProviderFailure,
        QStringLiteral("ODBC 驱动程序报告失败，但未说明原因（返回值 %1）。").arg(result));
}

// A failed connection or transaction: every record as the driver wrote it,
// tags included, since they tell whether the driver manager, the driver or
// the server refused.
AppError connectionError(SQLSMALLINT handleType, SQLHANDLE handle, const QString &fallback)
{
    QStringList messages;
    for (const Diagnostic &diagnostic : diagnostics(handleType, handle))
        messages.append(diagnostic.message);
    const QString text = messages.join(QLatin1Char(' ')).simplified();
    return AppError(kProviderFailure, text.isEmpty() ? fallback : text);
}

// The driver a connection string names, or nothing.
QString driverName(const QString &odbcString)
{
    if (!odbcString.startsWith(QLatin1String("DRIVER={")))
        return {};
    const qsizetype end = odbcString.indexOf(QLatin1Char('}'));
    return end < 0 ? QString() : odbcString.mid(8, end - 8);
}

// A failed connect because the named driver is not on this computer: the
// driver manager's own words name no remedy, so the driver is named first.
// IM002 and IM003 are the driver managers' states for a driver that is not
// registered or cannot be loaded; unixODBC says the latter with 01000.
AppError connectError(SQLHDBC connection, const QString &odbcString)
{
    bool driverMissing = false;
    for (const Diagnostic &diagnostic : diagnostics(SQL_HANDLE_DBC, connection)) {
        driverMissing = driverMissing || diagnostic.sqlState == u"IM002" ||
                        diagnostic.sqlState == u"IM003" ||
                        diagnostic.message.contains(QLatin1String("Can't open lib"));
    }
    AppError error =
        connectionError(SQL_HANDLE_DBC, connection, QStringLiteral("未能连接到数据库。"));
    const QString driver = driverName(odbcString);
    if (!driverMissing || driver.isEmpty())
        return error;
    return AppError(error.number(),
                    QStringLiteral("这台电脑没有装 ODBC 驱动程序“%1”（64 位）。\n").arg(driver) +
                        error.description());
}

// A statement ended with SQL_NO_DATA has run: a searched update or delete
// that met no rows.
bool ran(SQLRETURN r)
{
    return SQL_SUCCEEDED(r) || r == SQL_NO_DATA;
}

// How a column's values are read and handed on.
enum class Kind { Int, UInt, LongLong, ULongLong, Double, Date, Time, DateTime, Bytes, Text };

Kind kindOf(SQLSMALLINT sqlType, bool isUnsigned)
{
    switch (sqlType) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIT:
        return isUnsigned ? Kind::UInt : Kind::Int;
    case SQL_BIGINT:
        return isUnsigned ? Kind::ULongLong : Kind::LongLong;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return Kind::Double;
    case SQL_DATE:
    case SQL_TYPE_DATE:
        return Kind::Date;
    case SQL_TIME:
    case SQL_TYPE_TIME:
        return Kind::Time;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP:
        return Kind::DateTime;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return Kind::Bytes;
    default:
        // Character data and whatever else the driver can spell out.
        return Kind::Text;
    }
}

struct Column
{
    QString name;
    Kind kind;
};

class OdbcCursor;

// What the provider and the result being read share. The statement handle
// lives as long as the connection, so that another thread can always reach
// the statement that is running.
struct Session
{
    SQLHENV environment = SQL_NULL_HENV;
    SQLHDBC connection = SQL_NULL_HDBC;
    SQLHSTMT statement = SQL_NULL_HSTMT;
    bool open = false;
    OdbcCursor *active = nullptr;
};

// Throws unless the statement has run.
void check(SQLHSTMT statement, SQLRETURN r)
{
    if (!ran(r))
        throw statementError(statement, r);
}

// Reads every further result of a batch, so that its later statements run
// and their errors are seen, and leaves the connection free.
void drainResults(SQLHSTMT statement)
{
    for (;;) {
        const SQLRETURN r = SQLMoreResults(statement);
        if (r == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(r))
            throw statementError(statement, r);
    }
    SQLFreeStmt(statement, SQL_CLOSE);
}

// A value of variable length, in as many parts as it takes. `terminator` is
// the size of the terminating null the driver writes after text.
std::optional<QByteArray> readParts(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT cType,
                                    SQLLEN terminator)
{
    QByteArray value;
    char buffer[4096];
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN r =
            SQLGetData(statement, column, cType, buffer, SQLLEN(sizeof buffer), &indicator);
        if (r == SQL_NO_DATA)
            return value;
        if (!SQL_SUCCEEDED(r))
            throw statementError(statement, r);
        if (indicator == SQL_NULL_DATA)
            return std::nullopt;
        const SQLLEN room = SQLLEN(sizeof buffer) - terminator;
        if (indicator != SQL_NO_TOTAL && indicator <= room) {
            value.append(buffer, qsizetype(indicator));
            return value;
        }
        value.append(buffer, qsizetype(room));
    }
}

// A fixed-size value; false for null.
template <typename T>
bool readFixed(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT cType, T &into)
{
    SQLLEN indicator = 0;
    const SQLRETURN r =
        SQLGetData(statement, column, cType, &into, SQLLEN(sizeof into), &indicator);
    if (!SQL_SUCCEEDED(r))
        throw statementError(statement, r);
    return indicator != SQL_NULL_DATA;
}

QVariant readValue(SQLHSTMT statement, SQLUSMALLINT column, Kind kind)
{
    switch (kind) {
    case Kind::Int: {
        SQLINTEGER v = 0;
        return readFixed(statement, column, SQL_C_SLONG, v) ? QVariant(int(v)) : QVariant();
    }
    case Kind::UInt: {
        SQLUINTEGER v = 0;
        return readFixed(statement, column, SQL_C_ULONG, v) ? QVariant(uint(v)) : QVariant();
    }
    case Kind::LongLong: {
        SQLBIGINT v = 0;
        return readFixed(statement, column, SQL_C_SBIGINT, v) ? QVariant(qlonglong(v)) : QVariant();
    }
    case Kind::ULongLong: {
        SQLUBIGINT v = 0;
        return readFixed(statement, column, SQL_C_UBIGINT, v) ? QVariant(qulonglong(v))
                                                              : QVariant();
    }
    case Kind::Double: {
        SQLDOUBLE v = 0;
        return readFixed(statement, column, SQL_C_DOUBLE, v) ? QVariant(double(v)) : QVariant();
    }
    case Kind::Date: {
        SQL_DATE_STRUCT v{};
        if (!readFixed(statement, column, SQL_C_TYPE_DATE, v))
            return {};
        return QDate(v.year, v.month, v.day);
    }
    case Kind::Time: {
        SQL_TIME_STRUCT v{};
        if (!readFixed(statement, column, SQL_C_TYPE_TIME, v))
            return {};
        return QTime(v.hour, v.minute, v.second);
    }
    case Kind::DateTime: {
        SQL_TIMESTAMP_STRUCT v{};
        if (!readFixed(statement, column, SQL_C_TYPE_TIMESTAMP, v))
            return {};
        // The fraction is in nanoseconds.
        return QDateTime(QDate(v.year, v.month, v.day),
                         QTime(v.hour, v.minute, v.second, int(v.fraction / 1000000)));
    }
    case Kind::Bytes: {
        const std::optional<QByteArray> bytes = readParts(statement, column, SQL_C_BINARY, 0);
        return bytes ? QVariant(*bytes) : QVariant();
    }
    case Kind::Text: {
        const std::optional<QByteArray> text =
            readParts(statement, column, SQL_C_WCHAR, SQLLEN(sizeof(SQLWCHAR)));
        if (!text)
            return {};
        return fromSqlWChar(reinterpret_cast<const SQLWCHAR *>(text->constData()),
                            text->size() / qsizetype(sizeof(SQLWCHAR)));
    }
    }
    return {};
}

QList<Column> describeColumns(SQLHSTMT statement, SQLSMALLINT count)
{
    QList<Column> columns;
    for (SQLUSMALLINT i = 1; i <= SQLUSMALLINT(count); ++i) {
        std::vector<SQLWCHAR> name(256);
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT sqlType = 0;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLSMALLINT nullable = 0;
        SQLRETURN r = SQLDescribeColW(statement, i, name.data(), SQLSMALLINT(name.size()),
                                      &nameLength, &sqlType, &size, &digits, &nullable);
        if (SQL_SUCCEEDED(r) && qsizetype(nameLength) >= qsizetype(name.size())) {
            name.resize(size_t(nameLength) + 1);
            r = SQLDescribeColW(statement, i, name.data(), SQLSMALLINT(name.size()), &nameLength,
                                &sqlType, &size, &digits, &nullable);
        }
        if (!SQL_SUCCEEDED(r))
            throw statementError(statement, r);
        SQLLEN isUnsigned = SQL_FALSE;
        SQLColAttributeW(statement, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
        columns.append({fromSqlWChar(name.data(), nameLength), kindOf(sqlType, isUnsigned)});
    }
    return columns;
}

class OdbcCursor final : public Cursor
{
public:
    OdbcCursor(Session *session, QList<Column> columns)
        : m_session(session), m_statement(session->statement), m_columns(std::move(columns))
    {
        m_session->active = this;
    }
    ~OdbcCursor() override { release(); }

    bool fetch() override
    {
        if (m_statement) {
            if (readRow(m_row))
                return true;
            release();
            m_row.clear();
            return false;
        }
        if (!m_rest.isEmpty()) {
            m_row = m_rest.takeFirst();
            return true;
        }
        m_row.clear();
        if (m_pendingError) {
            const AppError error = *m_pendingError;
            m_pendingError.reset();
            throw error;
        }
        return false;
    }
    int columnCount() const override { return int(m_columns.size()); }
    QString columnName(int column) const override
    {
        return column >= 0 && column < m_columns.size() ? m_columns[column].name : QString();
    }
    QVariant value(int column) const override { return m_row.value(column); }

    // Another statement is about to be sent: the rows not yet read are taken
    // into memory and the statement handle is given back.
    void detach()
    {
        QVariantList row;
        try {
            while (readRow(row))
                m_rest.append(row);
        } catch (const AppError &error) {
            // Met by the fetch that reaches this point.
            m_pendingError = error;
        }
        release();
    }

    // The connection closes: the rows not yet read are lost, as with an ADO
    // recordset whose connection is closed.
    void abandon()
    {
        release();
        m_session = nullptr;
    }

private:
    bool readRow(QVariantList &row)
    {
        if (!m_statement)
            return false;
        try {
            const SQLRETURN r = SQLFetch(m_statement);
            if (r == SQL_NO_DATA)
                return false;
            if (!SQL_SUCCEEDED(r))
                throw statementError(m_statement, r);
            // Forward-only drivers hand out the columns of a row in order
            // only, so the whole row is read at once.
            row.resize(m_columns.size());
            for (qsizetype i = 0; i < m_columns.size(); ++i)
                row[i] = readValue(m_statement, SQLUSMALLINT(i + 1), m_columns[i].kind);
            return true;
        } catch (const AppError &) {
            release();
            throw;
        }
    }

    void release()
    {
        if (m_statement) {
            SQLFreeStmt(m_statement, SQL_CLOSE);
            m_statement = SQL_NULL_HSTMT;
        }
        if (m_session && m_session->active == this)
            m_session->active = nullptr;
    }

    Session *m_session;
    SQLHSTMT m_statement;
    QList<Column> m_columns;
    QVariantList m_row;
    QList<QVariantList> m_rest;
    std::optional<AppError> m_pendingError;
};

} // namespace

qint32 errorNumberForSqlState(QStringView sqlState)
{
    if (sqlState.startsWith(u"42") || sqlState == u"37000" || sqlState.startsWith(u"S00"))
        return kErrorsInCommand;
    return kProviderFailure;
}

struct OdbcProvider::Impl
{
    Session session;
    SqlServerDriver driver = kSystemSqlServerDriver;

    void requireOpen() const
    {
        if (!session.open)
            throw AppError(kProviderFailure, QStringLiteral("数据库连接未打开。"));
    }

    // FreeTDS serves one result at a time per connection; the statement
    // handle is made ready for the next statement.
    SQLHSTMT freeStatement()
    {
        requireOpen();
        if (session.active)
            session.active->detach();
        SQLFreeStmt(session.statement, SQL_CLOSE);
        return session.statement;
    }

    // Runs a statement; the number of columns of its first result.
    SQLSMALLINT run(const QString &sql)
    {
        const SQLHSTMT statement = freeStatement();
        const SQLRETURN r = SQLExecDirectW(statement, toSqlWChar(sql), SQLINTEGER(sql.size()));
        check(statement, r);
        SQLSMALLINT columns = 0;
        if (r != SQL_NO_DATA)
            check(statement, SQLNumResultCols(statement, &columns));
        return columns;
    }

    void endTransaction(SQLSMALLINT completion)
    {
        freeStatement();
        if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, session.connection, completion)))
            throw connectionError(SQL_HANDLE_DBC, session.connection,
                                  QStringLiteral("未能结束事务。"));
        setAutoCommit(true);
    }

    void setAutoCommit(bool on)
    {
        const SQLRETURN r = SQLSetConnectAttrW(
            session.connection, SQL_ATTR_AUTOCOMMIT,
            reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF),
            SQL_IS_UINTEGER);
        if (!SQL_SUCCEEDED(r))
            throw connectionError(SQL_HANDLE_DBC, session.connection,
                                  QStringLiteral("未能切换事务方式。"));
    }

    void freeHandles()
    {
        if (session.statement)
            SQLFreeHandle(SQL_HANDLE_STMT, session.statement);
        if (session.connection) {
            if (session.open)
                SQLDisconnect(session.connection);
            SQLFreeHandle(SQL_HANDLE_DBC, session.connection);
        }
        if (session.environment)
            SQLFreeHandle(SQL_HANDLE_ENV, session.environment);
        session.statement = SQL_NULL_HSTMT;
        session.connection = SQL_NULL_HDBC;
        session.environment = SQL_NULL_HENV;
        session.open = false;
    }
};

OdbcProvider::OdbcProvider(SqlServerDriver driver) : d(std::make_unique<Impl>())
{
    d->driver = driver;
}

OdbcProvider::~OdbcProvider()
{
    close();
}

void OdbcProvider::open(const QString &connectionString)
{
    close();
    // The string goes to the driver manager exactly as built: no file DSN,
    // DSN or driver is guessed from what a server name or password holds.
    const QString odbcString = odbcConnectionStringFor(connectionString, d->driver);
    Session &s = d->session;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &s.environment))) {
        s.environment = SQL_NULL_HENV;
        throw AppError(kProviderFailure, QStringLiteral("未能加载 ODBC 驱动程序管理器。"));
    }
    try {
        // ODBC 3 states (42S01, not S0001); both are numbered alike.
        if (!SQL_SUCCEEDED(SQLSetEnvAttr(s.environment, SQL_ATTR_ODBC_VERSION,
                                         reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
            !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, s.environment, &s.connection))) {
            s.connection = SQL_NULL_HDBC;
            throw connectionError(SQL_HANDLE_ENV, s.environment,
                                  QStringLiteral("未能加载 ODBC 驱动程序管理器。"));
        }
        // Drivers without a login timeout (the file databases' own) simply
        // go without.
        SQLSetConnectAttrW(s.connection, SQL_ATTR_LOGIN_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), SQL_IS_UINTEGER);
        SQLSMALLINT completedLength = 0;
        const SQLRETURN r = SQLDriverConnectW(s.connection, nullptr, toSqlWChar(odbcString),
                                              SQLSMALLINT(odbcString.size()), nullptr, 0,
                                              &completedLength, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(r))
            throw connectError(s.connection, odbcString);
        s.open = true;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, s.connection, &s.statement))) {
            s.statement = SQL_NULL_HSTMT;
            throw connectionError(SQL_HANDLE_DBC, s.connection,
                                  QStringLiteral("未能分配语句句柄。"));
        }
    } catch (...) {
        d->freeHandles();
        throw;
    }
}

void OdbcProvider::close()
{
    if (d->session.active)
        d->session.active->abandon();
    d->session.active = nullptr;
    d->freeHandles();
}

void OdbcProvider::interrupt()
{
    // SQLCancel is the one call ODBC allows on a statement that another
    // thread is running.
    if (d->session.open)
        SQLCancel(d->session.statement);
}

bool OdbcProvider::isOpen() const
{
    return d->session.open;
}

void OdbcProvider::execute(const QString &sql)
{
    d->run(sql);
    drainResults(d->session.statement);
}

std::unique_ptr<Cursor> OdbcProvider::query(const QString &sql)
{
    SQLSMALLINT columns = d->run(sql);
    const SQLHSTMT statement = d->session.statement;
    // A statement ahead of the query in one batch may answer with a row count
    // first: the answer is the first result that has columns, and a text
    // without one has run and returned no rows.
    while (columns == 0) {
        const SQLRETURN r = SQLMoreResults(statement);
        if (r == SQL_NO_DATA) {
            SQLFreeStmt(statement, SQL_CLOSE);
            return nullptr;
        }
        check(statement, r);
        check(statement, SQLNumResultCols(statement, &columns));
    }
    return std::make_unique<OdbcCursor>(&d->session, describeColumns(statement, columns));
}

void OdbcProvider::beginTransaction()
{
    d->freeStatement();
    d->setAutoCommit(false);
}

void OdbcProvider::commitTransaction()
{
    d->endTransaction(SQL_COMMIT);
}

void OdbcProvider::rollbackTransaction()
{
    d->endTransaction(SQL_ROLLBACK);
}

} // namespace fa
