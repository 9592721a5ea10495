#include "data/odbc_provider.h"

#include "data/app_error.h"
#include "data/conn_strings.h"

#include <QAtomicInteger>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <iterator>
#include <optional>

#include <sql.h>
#include <sqlext.h>

namespace fa {

namespace {

// ADO waits 15 seconds for a connection unless told otherwise; so do we.
constexpr int kLoginTimeoutSeconds = 15;

QAtomicInteger<quint32> connectionSerial;

class OdbcCursor;

// What the provider and the result being read share.
struct Session
{
    QString connectionName;
    bool open = false;
    OdbcCursor *active = nullptr;

    QSqlDatabase database() const { return QSqlDatabase::database(connectionName, false); }
};

struct Diagnostic
{
    QString sqlState;
    QString message;
};

QString fromSqlWChar(const SQLWCHAR *text, qsizetype length)
{
    static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC wide text is UTF-16 here");
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text), length);
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

// The first error record on a statement handle; warnings (class 01) are
// passed over.
std::optional<Diagnostic> firstError(SQLHANDLE statement)
{
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
        SQLWCHAR message[SQL_MAX_MESSAGE_LENGTH] = {};
        SQLINTEGER nativeError = 0;
        SQLSMALLINT length = 0;
        const SQLRETURN r = SQLGetDiagRecW(SQL_HANDLE_STMT, statement, record, state, &nativeError,
                                           message, SQLSMALLINT(std::size(message)), &length);
        if (!SQL_SUCCEEDED(r))
            return std::nullopt;
        // A message longer than the buffer arrives cut, with its full length.
        const qsizetype shown =
            qBound(qsizetype(0), qsizetype(length), qsizetype(std::size(message)) - 1);
        Diagnostic diagnostic{fromSqlWChar(state, SQL_SQLSTATE_SIZE),
                              withoutTags(fromSqlWChar(message, shown))};
        if (!diagnostic.sqlState.startsWith(QLatin1String("01")))
            return diagnostic;
    }
}

// The failure of the query's last call, numbered by its SQLSTATE. Read
// before anything else is done with the statement: the next call on it
// clears the records.
AppError statementError(const QSqlQuery &query)
{
    std::optional<Diagnostic> diagnostic;
    if (const QSqlResult *result = query.result()) {
        const QVariant handle = result->handle();
        if (handle.metaType() == QMetaType::fromType<SQLHANDLE>()) {
            if (SQLHANDLE statement = *static_cast<const SQLHANDLE *>(handle.constData()))
                diagnostic = firstError(statement);
        }
    }
    if (diagnostic && !diagnostic->message.isEmpty())
        return AppError(errorNumberForSqlState(diagnostic->sqlState), diagnostic->message);
    const QSqlError error = query.lastError();
    return AppError(kProviderFailure,
                    error.databaseText().isEmpty() ? error.text() : error.databaseText());
}

AppError connectionError(const QSqlError &error)
{
    return AppError(kProviderFailure,
                    error.databaseText().isEmpty() ? error.text() : error.databaseText());
}

// Reads every further result of a batch, so that its later statements run
// and their errors are seen, and leaves the connection free.
void drainResults(QSqlQuery &query)
{
    while (query.nextResult()) {
    }
    if (query.lastError().isValid())
        throw statementError(query);
    query.finish();
}

class OdbcCursor final : public Cursor
{
public:
    OdbcCursor(Session *session, QSqlQuery &&query) : m_session(session), m_query(std::move(query))
    {
        const QSqlRecord record = m_query->record();
        for (int i = 0; i < record.count(); ++i)
            m_names.append(record.fieldName(i));
        m_session->active = this;
    }
    ~OdbcCursor() override { release(); }

    bool fetch() override
    {
        if (m_query) {
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
    int columnCount() const override { return int(m_names.size()); }
    QString columnName(int column) const override { return m_names.value(column); }
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
        if (!m_query)
            return false;
        if (!m_query->next()) {
            if (m_query->lastError().isValid()) {
                const AppError error = statementError(*m_query);
                release();
                throw error;
            }
            return false;
        }
        row.resize(m_names.size());
        for (int i = 0; i < m_names.size(); ++i)
            row[i] = m_query->isNull(i) ? QVariant() : m_query->value(i);
        return true;
    }

    void release()
    {
        if (m_query) {
            m_query->finish();
            m_query.reset();
        }
        if (m_session && m_session->active == this)
            m_session->active = nullptr;
    }

    Session *m_session;
    std::optional<QSqlQuery> m_query;
    QStringList m_names;
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

    void requireOpen() const
    {
        if (!session.open)
            throw AppError(kProviderFailure, QStringLiteral("数据库连接未打开。"));
    }

    // FreeTDS serves one result at a time per connection.
    void freeConnection()
    {
        if (session.active)
            session.active->detach();
    }

    QSqlQuery newQuery() const
    {
        QSqlQuery query(session.database());
        query.setForwardOnly(true);
        return query;
    }
};

OdbcProvider::OdbcProvider() : d(std::make_unique<Impl>()) {}

OdbcProvider::~OdbcProvider()
{
    close();
}

void OdbcProvider::open(const QString &connectionString)
{
    close();
    const QString odbcString = odbcConnectionStringFor(connectionString);
    const QString name = QStringLiteral("fatotal-odbc-%1").arg(++connectionSerial);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        if (!db.isValid()) {
            failure = QStringLiteral("未能加载 QODBC 数据库驱动程序。");
        } else {
            // Given whole as the database name, the string goes to
            // SQLDriverConnect as it stands; user name and password stay
            // unset, since the driver would append them unquoted.
            db.setDatabaseName(odbcString);
            // ODBC 3 states (42S01, not S0001); both are numbered alike.
            db.setConnectOptions(
                QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_ODBC_VERSION=SQL_OV_ODBC3")
                    .arg(kLoginTimeoutSeconds));
            if (db.open()) {
                d->session.connectionName = name;
                d->session.open = true;
                return;
            }
            failure = connectionError(db.lastError()).description();
        }
    }
    QSqlDatabase::removeDatabase(name);
    throw AppError(kProviderFailure, failure);
}

void OdbcProvider::close()
{
    if (d->session.active)
        d->session.active->abandon();
    d->session.active = nullptr;
    if (d->session.connectionName.isEmpty())
        return;
    d->session.database().close();
    QSqlDatabase::removeDatabase(d->session.connectionName);
    d->session.connectionName.clear();
    d->session.open = false;
}

bool OdbcProvider::isOpen() const
{
    return d->session.open;
}

void OdbcProvider::execute(const QString &sql)
{
    d->requireOpen();
    d->freeConnection();
    QSqlQuery query = d->newQuery();
    if (!query.exec(sql))
        throw statementError(query);
    drainResults(query);
}

std::unique_ptr<Cursor> OdbcProvider::query(const QString &sql)
{
    d->requireOpen();
    d->freeConnection();
    QSqlQuery query = d->newQuery();
    if (!query.exec(sql))
        throw statementError(query);
    if (!query.isSelect()) {
        // The statement has run; it returned no rows.
        drainResults(query);
        return nullptr;
    }
    return std::make_unique<OdbcCursor>(&d->session, std::move(query));
}

void OdbcProvider::beginTransaction()
{
    d->requireOpen();
    d->freeConnection();
    QSqlDatabase db = d->session.database();
    if (!db.transaction())
        throw connectionError(db.lastError());
}

void OdbcProvider::commitTransaction()
{
    d->requireOpen();
    d->freeConnection();
    QSqlDatabase db = d->session.database();
    if (!db.commit())
        throw connectionError(db.lastError());
}

void OdbcProvider::rollbackTransaction()
{
    d->requireOpen();
    d->freeConnection();
    QSqlDatabase db = d->session.database();
    if (!db.rollback())
        throw connectionError(db.lastError());
}

} // namespace fa
