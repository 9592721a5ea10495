#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariant>

#include <utility>

// The T-SQL the tool sends to SQL Server, split into statements and turned
// into the SQL that SQLite runs. What the tool never sends and SQLite would
// read differently is refused with SQL Server's error rather than guessed at.

namespace standin::tsql {

// An error as SQL Server reports it.
struct Failure
{
    int number = 0;
    int severity = 16;
    QString message;
};

Failure syntaxError(const QString &near);

// One statement of a batch, sorted by what the session does with it.
struct Statement
{
    enum Kind {
        Data,        // SELECT, INSERT, UPDATE, DELETE: translated and run on SQLite
        CreateTable, // translated DDL, run on SQLite
        DropTable,   // name holds the table
        Set,         // name: the option (lower case), value: its argument
        Declare,     // names: the variables (lower case, with '@')
        Exec,        // name: the procedure, result: the variable of its return code
        Use,         // name: the catalog
        Begin,
        Commit,
        Rollback,
        IfTranCommit,   // IF @@TRANCOUNT > 0 COMMIT [TRAN]
        IfTranRollback, // IF @@TRANCOUNT > 0 ROLLBACK [TRAN]
    };
    Kind kind = Data;
    QString text; // as sent
    QString name;
    QString value;
    QString result;
    QStringList names;
    QList<std::pair<QString, QString>> parameters; // lower-case name with '@', value text
};

// Splits a batch at ';' and where a statement keyword starts a new statement,
// and sorts each statement. Fails as SQL Server would compile the batch:
// nothing of a batch with such an error runs.
bool parseBatch(const QString &batch, QList<Statement> *statements, Failure *failure);

// What the translation of a data statement needs from the session.
struct Context
{
    QString catalog;                    // the session's, for <catalog>..t
    QSet<QString> dateColumns;          // lower-case names of DATE/DATETIME columns
    QHash<QString, QVariant> variables; // lower-case names with '@'; null: declared, unset
    int tranCount = 0;
    qint64 rowCount = 0;
};

// The SQLite text of a SELECT, INSERT, UPDATE, DELETE or CREATE TABLE:
// - isnull( → ifnull(, cast(x as float|int) → tsql_float(x)|tsql_int(x),
//   which fail as SQL Server's conversions do;
// - 'yyyymmdd[ hh:mm:ss]' and 'yyyy-mm-ddThh:mm:ss' compared with a date
//   column → the stored form 'yyyy-MM-dd HH:mm:ss';
// - master..t and master.dbo.t → master.t, dbo.t → t;
// - variables → their values;
// - UPDATE t SET s FROM t AS a INNER JOIN u AS b ON c [WHERE w] →
//   UPDATE t AS a SET s FROM u AS b WHERE (c) [AND (w)];
// - CREATE TABLE: ON [PRIMARY] dropped, a case-insensitive collation → NOCASE.
bool translate(const Statement &statement, const Context &context, QString *sqlite,
               Failure *failure);

// The stored form of a date literal of the tool's forms, or empty text.
QString storedDate(QStringView literal);

} // namespace standin::tsql
