#include "tools/standin/engine.h"

#include "tools/standin/tsql.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>

namespace standin {

namespace {

const QString kSystemCatalog = QStringLiteral("KVSYSTEM");
constexpr int kDefaultLockTimeoutMs = 5000;

QString fromUtf8(const unsigned char *text)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(text));
}

// The account-year file under a stored data path, joined with the kind of
// separator the path already uses.
QString accountYearFile(const QString &dataPath, const QString &account, const QString &year)
{
    const bool backslash =
        dataPath.contains(QLatin1Char('\\')) && !dataPath.contains(QLatin1Char('/'));
    const QString sep = backslash ? QStringLiteral("\\") : QStringLiteral("/");
    const bool ends = dataPath.endsWith(QLatin1Char('/')) || dataPath.endsWith(QLatin1Char('\\'));
    return dataPath + (ends ? QString() : sep) + QStringLiteral("ZT") + account + sep + year + sep +
           QStringLiteral("kvdata.mdb");
}

// --- Application locks, shared by every session of the process ---------------

struct AppLocks
{
    std::mutex mutex;
    std::condition_variable released;
    QHash<QString, std::pair<const void *, int>> held; // resource → owner, times taken
};

AppLocks &appLocks()
{
    static AppLocks locks;
    return locks;
}

// --- SQL Server's conversions as SQLite functions ---------------------------

QByteArray trimmedText(sqlite3_value *value)
{
    return QByteArray(reinterpret_cast<const char *>(sqlite3_value_text(value)),
                      sqlite3_value_bytes(value))
        .trimmed();
}

void tsqlFloat(sqlite3_context *context, int, sqlite3_value **argv)
{
    switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
        sqlite3_result_null(context);
        return;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        sqlite3_result_double(context, sqlite3_value_double(argv[0]));
        return;
    default:
        break;
    }
    // An empty text converts to 0 on SQL Server; anything but a whole number
    // is refused.
    const QByteArray text = trimmedText(argv[0]);
    if (text.isEmpty()) {
        sqlite3_result_double(context, 0);
        return;
    }
    // Digits, sign, point and exponent only: no hexadecimal, infinity or NaN.
    bool ok = std::all_of(text.cbegin(), text.cend(), [](char c) {
        return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
    });
    const double number = ok ? text.toDouble(&ok) : 0;
    if (!ok) {
        sqlite3_result_error(context, "tsql:8114:Error converting data type nvarchar to float.",
                             -1);
        return;
    }
    sqlite3_result_double(context, number);
}

void tsqlInt(sqlite3_context *context, int, sqlite3_value **argv)
{
    switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
        sqlite3_result_null(context);
        return;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        sqlite3_result_int64(context, sqlite3_value_int64(argv[0]));
        return;
    default:
        break;
    }
    const QByteArray text = trimmedText(argv[0]);
    bool ok = text.isEmpty();
    const qlonglong number = ok ? 0 : text.toLongLong(&ok);
    if (!ok) {
        const QByteArray message =
            "tsql:245:Conversion failed when converting the nvarchar value '" + text +
            "' to data type int.";
        sqlite3_result_error(context, message.constData(), int(message.size()));
        return;
    }
    sqlite3_result_int64(context, number);
}

// --- SQLite's errors in SQL Server's words ------------------------------------

Answer errorAnswer(int number, const QString &message, int severity = 16)
{
    Answer a;
    a.kind = Answer::Error;
    a.number = number;
    a.severity = severity;
    a.message = message;
    return a;
}

Answer errorAnswer(const tsql::Failure &f)
{
    return errorAnswer(f.number, f.message, f.severity);
}

QString unquoted(QString name)
{
    if (name.size() >= 2 &&
        ((name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']'))) ||
         (name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))))
        name = name.mid(1, name.size() - 2);
    return name;
}

Answer sqliteError(sqlite3 *db, int code, const QString &sent)
{
    const QString text = QString::fromUtf8(sqlite3_errmsg(db));
    const int primary = code & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        return errorAnswer(1222, QStringLiteral("Lock request time out period exceeded."));
    if (primary == SQLITE_INTERRUPT)
        return errorAnswer(3617, QString(), 25);
    static const QRegularExpression ours(QStringLiteral("^tsql:(\\d+):(.*)$"));
    if (const auto m = ours.match(text); m.hasMatch())
        return errorAnswer(m.captured(1).toInt(), m.captured(2));
    const auto after = [&](const QString &prefix) {
        return unquoted(text.mid(prefix.size()).trimmed());
    };
    if (text.startsWith(QLatin1String("no such table: ")))
        return errorAnswer(208, QStringLiteral("Invalid object name '%1'.")
                                    .arg(after(QStringLiteral("no such table: "))));
    if (text.startsWith(QLatin1String("no such column: ")))
        return errorAnswer(207, QStringLiteral("Invalid column name '%1'.")
                                    .arg(after(QStringLiteral("no such column: "))));
    if (text.startsWith(QLatin1String("ambiguous column name: ")))
        return errorAnswer(209, QStringLiteral("Ambiguous column name '%1'.")
                                    .arg(after(QStringLiteral("ambiguous column name: "))));
    if (text.startsWith(QLatin1String("no such function: ")))
        return errorAnswer(195,
                           QStringLiteral("'%1' is not a recognized built-in function name.")
                               .arg(after(QStringLiteral("no such function: "))),
                           15);
    static const QRegularExpression exists(QStringLiteral("^table (.+) already exists$"));
    if (const auto m = exists.match(text); m.hasMatch())
        return errorAnswer(2714, QStringLiteral("There is already an object named '%1' in the "
                                                "database.")
                                     .arg(unquoted(m.captured(1))));
    static const QRegularExpression near(QStringLiteral("^near \"(.*)\": syntax error$"));
    if (const auto m = near.match(text); m.hasMatch())
        return errorAnswer(tsql::syntaxError(m.captured(1)));
    if (text == QLatin1String("incomplete input"))
        return errorAnswer(tsql::syntaxError(sent.trimmed().section(QLatin1Char(' '), -1)));
    if ((code & 0xff) == SQLITE_CONSTRAINT) {
        if (code == SQLITE_CONSTRAINT_NOTNULL)
            return errorAnswer(515, QStringLiteral("Cannot insert the value NULL into column "
                                                   "'%1'; column does not allow nulls.")
                                        .arg(text.section(QLatin1Char('.'), -1)));
        return errorAnswer(2627,
                           QStringLiteral("Violation of PRIMARY KEY constraint. Cannot "
                                          "insert duplicate key (%1).")
                               .arg(text),
                           14);
    }
    if (text.startsWith(QLatin1String("wrong number of arguments")))
        return errorAnswer(174, text, 15);
    return errorAnswer(50000, text);
}

// --- Result columns ----------------------------------------------------------

ColumnType declaredType(const QString &declared)
{
    const QString t = declared.toUpper();
    if (t.contains(QLatin1String("BIGINT")))
        return ColumnType::BigInt;
    if (t.contains(QLatin1String("INT")))
        return ColumnType::Int;
    if (t.contains(QLatin1String("BIT")) || t.contains(QLatin1String("BOOL")))
        return ColumnType::Bit;
    if (t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("FLOA")) ||
        t.contains(QLatin1String("DOUB")) || t.contains(QLatin1String("NUMERIC")) ||
        t.contains(QLatin1String("DECIMAL")) || t.contains(QLatin1String("MONEY")))
        return ColumnType::Float;
    if (t.contains(QLatin1String("DATE")) || t.contains(QLatin1String("TIME")))
        return ColumnType::DateTime;
    return ColumnType::NVarChar;
}

QVariant dateValue(const QVariant &value)
{
    if (value.isNull())
        return QVariant(QMetaType(QMetaType::QDateTime));
    const QString text = value.toString();
    for (const QString &format :
         {QStringLiteral("yyyy-MM-dd HH:mm:ss"), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"),
          QStringLiteral("yyyy-MM-ddTHH:mm:ss"), QStringLiteral("yyyy-MM-dd")}) {
        const QDateTime d = QDateTime::fromString(text, format);
        if (d.isValid())
            return d;
    }
    return {};
}

// A value in the column's type; an invalid QVariant when it does not convert.
QVariant converted(const QVariant &value, ColumnType type)
{
    if (value.isNull()) {
        switch (type) {
        case ColumnType::Int:
        case ColumnType::Bit:
            return QVariant(QMetaType(QMetaType::Int));
        case ColumnType::BigInt:
            return QVariant(QMetaType(QMetaType::LongLong));
        case ColumnType::Float:
            return QVariant(QMetaType(QMetaType::Double));
        case ColumnType::DateTime:
            return QVariant(QMetaType(QMetaType::QDateTime));
        case ColumnType::NVarChar:
            return QVariant(QMetaType(QMetaType::QString));
        }
    }
    bool ok = true;
    switch (type) {
    case ColumnType::Int:
    case ColumnType::Bit: {
        const qlonglong n = value.toLongLong(&ok);
        if (!ok || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
            return {};
        return QVariant(int(n));
    }
    case ColumnType::BigInt: {
        const qlonglong n = value.toLongLong(&ok);
        return ok ? QVariant(n) : QVariant();
    }
    case ColumnType::Float: {
        const double n = value.toDouble(&ok);
        return ok ? QVariant(n) : QVariant();
    }
    case ColumnType::DateTime:
        return dateValue(value);
    case ColumnType::NVarChar:
        return QVariant(value.toString());
    }
    return {};
}

QVariant columnValue(sqlite3_stmt *statement, int i)
{
    switch (sqlite3_column_type(statement, i)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(statement, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(statement, i));
    case SQLITE_NULL:
        return {};
    default:
        return QVariant(fromUtf8(sqlite3_column_text(statement, i)));
    }
}

// SQL Server names an expression column only by its alias.
QString columnName(sqlite3_stmt *statement, int i)
{
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    const QString name = QString::fromUtf8(sqlite3_column_name(statement, i));
    return identifier.match(name).hasMatch() &&
                   name.compare(QLatin1String("null"), Qt::CaseInsensitive) != 0
               ? name
               : QString();
}

// The column types of a result: the declared type first, then a date column
// by its name, then the storage class of its values.
void typeColumns(Answer *a, const QStringList &declared)
{
    static const QRegularExpression dateName(QStringLiteral("^d(?!bl)[A-Za-z]"));
    for (int c = 0; c < a->columns.size(); ++c) {
        ColumnType type = ColumnType::NVarChar;
        if (!declared.at(c).isEmpty()) {
            type = declaredType(declared.at(c));
        } else {
            QMetaType::Type storage = QMetaType::UnknownType;
            for (const QVariantList &row : std::as_const(a->rows)) {
                if (!row.at(c).isNull()) {
                    storage = QMetaType::Type(row.at(c).typeId());
                    break;
                }
            }
            if (storage == QMetaType::Double)
                type = ColumnType::Float;
            else if (storage == QMetaType::LongLong || storage == QMetaType::UnknownType)
                type = ColumnType::Int;
            if (storage == QMetaType::QString && dateName.match(a->columns.at(c).name).hasMatch())
                type = ColumnType::DateTime;
        }
        // A value that does not fit the type widens the column.
        QList<ColumnType> tries{type};
        if (type == ColumnType::Int || type == ColumnType::Bit)
            tries << ColumnType::BigInt << ColumnType::Float;
        if (type != ColumnType::NVarChar)
            tries << ColumnType::NVarChar;
        for (ColumnType t : std::as_const(tries)) {
            bool fits = true;
            QList<QVariant> values;
            for (const QVariantList &row : std::as_const(a->rows)) {
                values.append(converted(row.at(c), t));
                if (!values.back().isValid() && !row.at(c).isNull()) {
                    fits = false;
                    break;
                }
            }
            if (!fits)
                continue;
            a->columns[c].type = t;
            for (int r = 0; r < a->rows.size(); ++r)
                a->rows[r][c] = values.at(r);
            break;
        }
    }
}

} // namespace

// --- Catalogs ----------------------------------------------------------------

bool Catalogs::load(const QString &dataDir, QString *error)
{
    m_dataDir = dataDir;
    m_files.clear();
    const QString system = QDir(dataDir).filePath(QStringLiteral("kvsystem/kvsystem.mdb"));
    sqlite3 *db = nullptr;
    if (!QFileInfo(system).isFile() ||
        sqlite3_open_v2(system.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
            SQLITE_OK) {
        sqlite3_close(db);
        if (error)
            *error = QStringLiteral("没有发现系统数据库") + QDir::toNativeSeparators(system);
        return false;
    }
    m_files.append({kSystemCatalog, system});
    sqlite3_stmt *statement = nullptr;
    const char *sql = "SELECT DISTINCT p.cAcc_Id, p.iYear, a.cAcc_Path FROM ua_period AS p "
                      "INNER JOIN ua_account AS a ON a.cAcc_Id = p.cAcc_Id ORDER BY 1, 2";
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        if (error)
            *error = QStringLiteral("可能系统库ua_period 有误: ") +
                     QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        m_files.clear();
        return false;
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const QString account = fromUtf8(sqlite3_column_text(statement, 0));
        const QString year = fromUtf8(sqlite3_column_text(statement, 1));
        const QString path = fromUtf8(sqlite3_column_text(statement, 2));
        const QString file = accountYearFile(path, account, year);
        if (!path.isEmpty() && QFileInfo(file).isFile())
            m_files.append({QStringLiteral("kvdata_%1_%2").arg(account, year), file});
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return true;
}

QString Catalogs::fileOf(const QString &catalog) const
{
    const QString name = catalog.isEmpty() ? kSystemCatalog : catalog;
    for (const auto &[served, file] : m_files) {
        if (served.compare(name, Qt::CaseInsensitive) == 0)
            return file;
    }
    return {};
}

QStringList Catalogs::names() const
{
    QStringList names;
    for (const auto &entry : m_files)
        names.append(entry.first);
    return names;
}

// --- Session -----------------------------------------------------------------

struct Session::Private
{
    const Catalogs &catalogs;
    QString catalog;
    sqlite3 *db = nullptr;
    std::mutex dbMutex; // db as cancel() sees it
    std::atomic<bool> cancelled{false};
    bool implicitTransactions = false;
    bool noCount = false;
    int lockTimeoutMs = kDefaultLockTimeoutMs;
    int tranCount = 0;
    qint64 rowCount = 0;
    QSet<QString> dateColumns;
    QHash<QString, QVariant> variables;

    explicit Private(const Catalogs &c) : catalogs(c) {}

    bool open(const QString &name, const QString &file, QString *message);
    void close();
    void readDateColumns();
    bool run(const tsql::Statement &s, QList<Answer> *answers);
    bool runData(const tsql::Statement &s, QList<Answer> *answers);
    bool runSqlite(const QString &sql, bool returnsRows, QList<Answer> *answers);
    bool exec(const QString &sql, Answer *error);
    bool implicitBegin(bool writes, Answer *error);
    bool begin(Answer *error);
    bool commit(Answer *error);
    bool rollback(Answer *error);
    bool applock(const tsql::Statement &s, int *code, Answer *error);
    void releaseLocks();
    void syncTransaction()
    {
        if (db && sqlite3_get_autocommit(db))
            tranCount = 0;
    }
    void done(QList<Answer> *answers, qint64 count = -1) const
    {
        Answer a;
        a.kind = count >= 0 && !noCount ? Answer::Count : Answer::Done;
        a.count = noCount ? -1 : count;
        answers->append(a);
    }
};

bool Session::Private::open(const QString &name, const QString &file, QString *message)
{
    sqlite3 *next = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &next, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        *message = QString::fromUtf8(sqlite3_errmsg(next));
        sqlite3_close(next);
        return false;
    }
    sqlite3_busy_timeout(next, lockTimeoutMs);
    sqlite3_create_function(next, "tsql_float", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                            tsqlFloat, nullptr, nullptr);
    sqlite3_create_function(next, "tsql_int", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                            tsqlInt, nullptr, nullptr);
    // An attention stops even a single long step.
    sqlite3_progress_handler(
        next, 1000, [](void *p) { return static_cast<Private *>(p)->cancelled.load() ? 1 : 0; },
        this);
    // master..sysdatabases lists the served catalogs.
    QString sql = QStringLiteral("ATTACH ':memory:' AS master; CREATE TABLE master.sysdatabases "
                                 "(name nvarchar COLLATE NOCASE, dbid int);");
    int dbid = 1;
    QStringList served = catalogs.names();
    served << QStringLiteral("master");
    for (const QString &entry : served)
        sql += QStringLiteral("INSERT INTO master.sysdatabases VALUES('%1', %2);")
                   .arg(QString(entry).replace(QLatin1String("'"), QLatin1String("''")))
                   .arg(dbid++);
    if (sqlite3_exec(next, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        *message = QString::fromUtf8(sqlite3_errmsg(next));
        sqlite3_close(next);
        return false;
    }
    close();
    {
        std::lock_guard lock(dbMutex);
        db = next;
    }
    catalog = name;
    for (const QString &served : catalogs.names()) {
        if (served.compare(name, Qt::CaseInsensitive) == 0)
            catalog = served;
    }
    readDateColumns();
    return true;
}

void Session::Private::close()
{
    if (!db)
        return;
    if (!sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    tranCount = 0;
    std::lock_guard lock(dbMutex);
    sqlite3_close_v2(db);
    db = nullptr;
}

void Session::Private::readDateColumns()
{
    dateColumns.clear();
    sqlite3_stmt *statement = nullptr;
    const char *sql =
        "SELECT p.name, p.type FROM sqlite_master AS m, pragma_table_info(m.name) AS p "
        "WHERE m.type = 'table'";
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const QString type = fromUtf8(sqlite3_column_text(statement, 1)).toUpper();
        if (type.contains(QLatin1String("DATE")) || type.contains(QLatin1String("TIME")))
            dateColumns.insert(fromUtf8(sqlite3_column_text(statement, 0)).toLower());
    }
    sqlite3_finalize(statement);
}

bool Session::Private::exec(const QString &sql, Answer *error)
{
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return true;
    *error = sqliteError(db, sqlite3_extended_errcode(db), sql);
    syncTransaction();
    return false;
}

bool Session::Private::implicitBegin(bool writes, Answer *error)
{
    if (!implicitTransactions || tranCount > 0)
        return true;
    // A writer takes the write lock at once, as SQL Server's first update
    // would; a reader's transaction takes it on its first write.
    if (!exec(writes ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), error))
        return false;
    tranCount = 1;
    return true;
}

bool Session::Private::begin(Answer *error)
{
    if (tranCount == 0 && !exec(QStringLiteral("BEGIN"), error))
        return false;
    ++tranCount;
    return true;
}

bool Session::Private::commit(Answer *error)
{
    if (tranCount == 0) {
        *error = errorAnswer(3902, QStringLiteral("The COMMIT TRANSACTION request has no "
                                                  "corresponding BEGIN TRANSACTION."));
        return false;
    }
    if (tranCount == 1 && !exec(QStringLiteral("COMMIT"), error))
        return false;
    --tranCount;
    return true;
}

bool Session::Private::rollback(Answer *error)
{
    if (tranCount == 0) {
        *error = errorAnswer(3903, QStringLiteral("The ROLLBACK TRANSACTION request has no "
                                                  "corresponding BEGIN TRANSACTION."));
        return false;
    }
    tranCount = 0;
    if (!sqlite3_get_autocommit(db))
        return exec(QStringLiteral("ROLLBACK"), error);
    return true;
}

bool Session::Private::applock(const tsql::Statement &s, int *code, Answer *error)
{
    const bool get = s.name.compare(QLatin1String("sp_getapplock"), Qt::CaseInsensitive) == 0;
    static const QStringList getOrder{QStringLiteral("@resource"), QStringLiteral("@lockmode"),
                                      QStringLiteral("@lockowner"), QStringLiteral("@locktimeout"),
                                      QStringLiteral("@dbprincipal")};
    static const QStringList releaseOrder{QStringLiteral("@resource"), QStringLiteral("@lockowner"),
                                          QStringLiteral("@dbprincipal")};
    const QStringList &order = get ? getOrder : releaseOrder;
    QHash<QString, QString> p;
    for (int i = 0; i < s.parameters.size(); ++i) {
        const QString name = s.parameters.at(i).first.isEmpty() && i < order.size()
                                 ? order.at(i)
                                 : s.parameters.at(i).first;
        if (!order.contains(name)) {
            *error = errorAnswer(
                8145, QStringLiteral("%1 is not a parameter for procedure %2.").arg(name, s.name));
            return false;
        }
        p.insert(name, s.parameters.at(i).second);
    }
    if (!p.contains(QStringLiteral("@resource")) ||
        (get && !p.contains(QStringLiteral("@lockmode")))) {
        *error = errorAnswer(201, QStringLiteral("Procedure or function '%1' expects parameter "
                                                 "'%2', which was not supplied.")
                                      .arg(s.name, p.contains(QStringLiteral("@resource"))
                                                       ? QStringLiteral("@LockMode")
                                                       : QStringLiteral("@Resource")));
        return false;
    }
    // Locks owned by a transaction are not kept here: the tool's lock lives
    // as long as its connection.
    if (p.value(QStringLiteral("@lockowner"), QStringLiteral("Transaction"))
            .compare(QLatin1String("Session"), Qt::CaseInsensitive) != 0) {
        *error = errorAnswer(1223, QStringLiteral("Only @LockOwner = 'Session' is served here."));
        return false;
    }
    const QString key =
        catalog.toLower() + QLatin1Char('\n') + p.value(QStringLiteral("@resource"));
    AppLocks &locks = appLocks();
    std::unique_lock lock(locks.mutex);
    if (!get) {
        const auto found = locks.held.find(key);
        if (found == locks.held.end() || found->first != this) {
            *error = errorAnswer(1223, QStringLiteral("Cannot release the application lock "
                                                      "(Database Principal: 'public', Resource: "
                                                      "'%1') because it is not currently held.")
                                           .arg(p.value(QStringLiteral("@resource"))));
            *code = -999;
            return false;
        }
        if (--found->second == 0)
            locks.held.erase(found);
        locks.released.notify_all();
        *code = 0;
        return true;
    }
    const int timeout =
        p.value(QStringLiteral("@locktimeout"), QString::number(lockTimeoutMs)).toInt();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    bool waited = false;
    while (locks.held.contains(key) && locks.held.value(key).first != this) {
        if (cancelled) {
            *code = -2;
            return true;
        }
        if (timeout >= 0 && std::chrono::steady_clock::now() >= deadline) {
            *code = -1;
            return true;
        }
        waited = true;
        locks.released.wait_for(lock, std::chrono::milliseconds(50));
    }
    auto &entry = locks.held[key];
    entry.first = this;
    ++entry.second;
    *code = waited ? 1 : 0;
    return true;
}

void Session::Private::releaseLocks()
{
    AppLocks &locks = appLocks();
    std::lock_guard lock(locks.mutex);
    for (auto it = locks.held.begin(); it != locks.held.end();) {
        if (it->first == this)
            it = locks.held.erase(it);
        else
            ++it;
    }
    locks.released.notify_all();
}

bool Session::Private::runSqlite(const QString &sql, bool returnsRows, QList<Answer> *answers)
{
    sqlite3_stmt *statement = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    const char *tail = nullptr;
    int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &statement, &tail);
    if (rc == SQLITE_OK && !statement) {
        answers->append(errorAnswer(tsql::syntaxError(sql)));
        return false;
    }
    if (rc == SQLITE_OK && tail && QByteArray(tail).trimmed().size() > 0) {
        sqlite3_finalize(statement);
        answers->append(errorAnswer(tsql::syntaxError(QString::fromUtf8(tail).trimmed())));
        return false;
    }
    if (rc != SQLITE_OK) {
        answers->append(sqliteError(db, sqlite3_extended_errcode(db), sql));
        syncTransaction();
        return false;
    }
    Answer a;
    a.kind = Answer::Rows;
    const int columns = sqlite3_column_count(statement);
    QStringList declared;
    for (int c = 0; c < columns; ++c) {
        a.columns.append({columnName(statement, c), ColumnType::NVarChar});
        declared.append(QString::fromUtf8(sqlite3_column_decltype(statement, c)));
    }
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        QVariantList row;
        for (int c = 0; c < columns; ++c)
            row.append(columnValue(statement, c));
        a.rows.append(row);
    }
    if (rc != SQLITE_DONE) {
        answers->append(sqliteError(db, sqlite3_extended_errcode(db), sql));
        sqlite3_finalize(statement);
        syncTransaction();
        return false;
    }
    sqlite3_finalize(statement);
    if (columns > 0) {
        typeColumns(&a, declared);
        rowCount = a.rows.size();
        a.count = noCount ? -1 : rowCount;
        answers->append(a);
    } else {
        rowCount = returnsRows ? 0 : sqlite3_changes64(db);
        done(answers, returnsRows ? -1 : rowCount);
    }
    return true;
}

bool Session::Private::runData(const tsql::Statement &s, QList<Answer> *answers)
{
    tsql::Context context;
    context.catalog = catalog;
    context.dateColumns = dateColumns;
    context.variables = variables;
    context.tranCount = tranCount;
    context.rowCount = rowCount;
    QString sql;
    tsql::Failure failure;
    if (!tsql::translate(s, context, &sql, &failure)) {
        answers->append(errorAnswer(failure));
        return false;
    }
    const bool query = s.kind == tsql::Statement::Data &&
                       s.text.trimmed().startsWith(QLatin1String("select"), Qt::CaseInsensitive);
    Answer error;
    if (!implicitBegin(!query, &error)) {
        answers->append(error);
        return false;
    }
    if (s.kind == tsql::Statement::DropTable) {
        // SQLite's IF EXISTS keeps the error SQL Server's own.
        sqlite3_stmt *probe = nullptr;
        const QByteArray name = s.name.toUtf8();
        sqlite3_prepare_v2(db,
                           "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1 "
                           "COLLATE NOCASE",
                           -1, &probe, nullptr);
        sqlite3_bind_text(probe, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        const bool exists = sqlite3_step(probe) == SQLITE_ROW;
        sqlite3_finalize(probe);
        if (!exists) {
            answers->append(errorAnswer(3701,
                                        QStringLiteral("Cannot drop the table '%1', because "
                                                       "it does not exist or you do not have "
                                                       "permission.")
                                            .arg(s.name),
                                        11));
            return false;
        }
        sql = QStringLiteral("DROP TABLE \"%1\"")
                  .arg(QString(s.name).replace(QLatin1String("\""), QLatin1String("\"\"")));
    }
    if (!runSqlite(sql, s.kind != tsql::Statement::Data || query, answers))
        return false;
    if (s.kind != tsql::Statement::Data)
        readDateColumns();
    return true;
}

bool Session::Private::run(const tsql::Statement &s, QList<Answer> *answers)
{
    if (cancelled) {
        answers->append(errorAnswer(3617, QString(), 25));
        return false;
    }
    Answer error;
    switch (s.kind) {
    case tsql::Statement::Data:
    case tsql::Statement::CreateTable:
    case tsql::Statement::DropTable:
        return runData(s, answers);
    case tsql::Statement::Set:
        if (s.name == QLatin1String("nocount"))
            noCount = s.value == QLatin1String("on");
        else if (s.name == QLatin1String("implicit_transactions"))
            implicitTransactions = s.value == QLatin1String("on");
        else if (s.name == QLatin1String("lock_timeout")) {
            lockTimeoutMs = s.value.toInt() < 0 ? std::numeric_limits<int>::max() : s.value.toInt();
            sqlite3_busy_timeout(db, lockTimeoutMs);
        }
        done(answers);
        return true;
    case tsql::Statement::Declare:
        for (const QString &name : s.names) {
            if (variables.contains(name)) {
                answers->append(errorAnswer(134,
                                            QStringLiteral("The variable name '%1' has already "
                                                           "been declared.")
                                                .arg(name),
                                            15));
                return false;
            }
            variables.insert(name, QVariant());
        }
        done(answers);
        return true;
    case tsql::Statement::Exec: {
        if (!s.result.isEmpty() && !variables.contains(s.result)) {
            answers->append(errorAnswer(137,
                                        QStringLiteral("Must declare the scalar variable "
                                                       "\"%1\".")
                                            .arg(s.result),
                                        15));
            return false;
        }
        if (s.name.compare(QLatin1String("sp_getapplock"), Qt::CaseInsensitive) != 0 &&
            s.name.compare(QLatin1String("sp_releaseapplock"), Qt::CaseInsensitive) != 0) {
            answers->append(errorAnswer(2812, QStringLiteral("Could not find stored procedure "
                                                             "'%1'.")
                                                  .arg(s.name)));
            return false;
        }
        int code = 0;
        const bool ok = applock(s, &code, &error);
        if (!s.result.isEmpty())
            variables.insert(s.result, code);
        if (!ok) {
            answers->append(error);
            return false;
        }
        done(answers);
        return true;
    }
    case tsql::Statement::Use: {
        QString message;
        const QString file = catalogs.fileOf(s.name);
        if (file.isEmpty()) {
            answers->append(
                errorAnswer(911, QStringLiteral("Database '%1' does not exist. Make sure "
                                                "that the name is entered correctly.")
                                     .arg(s.name)));
            return false;
        }
        if (tranCount > 0) {
            answers->append(errorAnswer(574, QStringLiteral("USE statement is not allowed within "
                                                            "an open transaction here.")));
            return false;
        }
        if (!open(s.name, file, &message)) {
            answers->append(errorAnswer(4060, message, 11));
            return false;
        }
        done(answers);
        return true;
    }
    case tsql::Statement::Begin:
        if (!begin(&error)) {
            answers->append(error);
            return false;
        }
        done(answers);
        return true;
    case tsql::Statement::Commit:
    case tsql::Statement::IfTranCommit:
        if ((s.kind == tsql::Statement::Commit || tranCount > 0) && !commit(&error)) {
            answers->append(error);
            return false;
        }
        done(answers);
        return true;
    case tsql::Statement::Rollback:
    case tsql::Statement::IfTranRollback:
        if ((s.kind == tsql::Statement::Rollback || tranCount > 0) && !rollback(&error)) {
            answers->append(error);
            return false;
        }
        done(answers);
        return true;
    }
    return false;
}

Session::Session(const Catalogs &catalogs) : d(std::make_unique<Private>(catalogs)) {}

Session::~Session()
{
    d->close();
    d->releaseLocks();
}

bool Session::use(const QString &catalog, int *number, QString *message)
{
    const QString name = catalog.isEmpty() ? kSystemCatalog : catalog;
    const QString file = d->catalogs.fileOf(name);
    QString reason;
    if (file.isEmpty() || d->tranCount > 0 || !d->open(name, file, &reason)) {
        if (number)
            *number = 4060;
        if (message)
            *message = QStringLiteral("Cannot open database \"%1\" requested by the login. The "
                                      "login failed.")
                           .arg(name);
        return false;
    }
    return true;
}

QString Session::catalog() const
{
    return d->catalog;
}

QList<Answer> Session::execute(const QString &batch)
{
    d->cancelled = false;
    d->variables.clear();
    QList<Answer> answers;
    if (!d->db) {
        int number = 0;
        QString message;
        if (!use(QString(), &number, &message)) {
            answers.append(errorAnswer(number, message, 11));
            return answers;
        }
    }
    QList<tsql::Statement> statements;
    tsql::Failure failure;
    if (!tsql::parseBatch(batch, &statements, &failure)) {
        answers.append(errorAnswer(failure));
        return answers;
    }
    // Any error ends the batch, where SQL Server would go on after some.
    for (const tsql::Statement &s : std::as_const(statements)) {
        if (!d->run(s, &answers))
            break;
    }
    return answers;
}

void Session::beginTransaction()
{
    Answer error;
    beginTransaction(&error);
}

void Session::commit()
{
    Answer error;
    if (d->tranCount > 0)
        commit(&error);
}

void Session::rollback()
{
    Answer error;
    if (d->tranCount > 0)
        rollback(&error);
}

bool Session::beginTransaction(Answer *error)
{
    int number = 0;
    QString message;
    if (!d->db && !use(QString(), &number, &message)) {
        *error = errorAnswer(number, message, 11);
        return false;
    }
    return d->begin(error);
}

bool Session::commit(Answer *error)
{
    if (!d->db) {
        *error = errorAnswer(3902, QStringLiteral("The COMMIT TRANSACTION request has no "
                                                  "corresponding BEGIN TRANSACTION."));
        return false;
    }
    return d->commit(error);
}

bool Session::rollback(Answer *error)
{
    if (!d->db) {
        *error = errorAnswer(3903, QStringLiteral("The ROLLBACK TRANSACTION request has no "
                                                  "corresponding BEGIN TRANSACTION."));
        return false;
    }
    return d->rollback(error);
}

bool Session::inTransaction() const
{
    return d->tranCount > 0;
}

void Session::cancel()
{
    d->cancelled = true;
    std::lock_guard lock(d->dbMutex);
    if (d->db)
        sqlite3_interrupt(d->db);
    appLocks().released.notify_all();
}

} // namespace standin
