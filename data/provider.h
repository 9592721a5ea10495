#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

namespace fa {

// A forward-only, read-only query result as the database delivers it.
class Cursor
{
public:
    virtual ~Cursor() = default;
    // Moves to the next row; false when there is none. Throws AppError.
    virtual bool fetch() = 0;
    virtual int columnCount() const = 0;
    virtual QString columnName(int column) const = 0;
    // Value of a column of the current row; a null value is a null QVariant.
    virtual QVariant value(int column) const = 0;
};

// One database engine behind the ADO-shaped connection. Every failure is
// thrown as AppError with the provider's number (kErrorsInCommand for errors
// in the command text) and the database's own text.
class Provider
{
public:
    virtual ~Provider() = default;
    virtual void open(const QString &connectionString) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void execute(const QString &sql) = 0;
    // Runs a statement; nullptr when it produced no result set (the
    // statement has run all the same).
    virtual std::unique_ptr<Cursor> query(const QString &sql) = 0;
    virtual void beginTransaction() = 0;
    virtual void commitTransaction() = 0;
    virtual void rollbackTransaction() = 0;
    // Makes the statement running now (on another thread) fail as soon as
    // it can. Must be safe to call from any thread while the provider is open.
    virtual void interrupt() {}
};

using ProviderFactory = std::function<std::unique_ptr<Provider>(const QString &connectionString)>;

// The provider named by a connection string ("PROVIDER=Microsoft.Jet.OLEDB.4.0;…"
// or "Provider=SQLOLEDB;…"). Throws AppError for any other.
std::unique_ptr<Provider> createProvider(const QString &connectionString);
// The factory used when none is injected.
std::unique_ptr<Provider> createDefaultProvider(const QString &connectionString);
// Tests put a factory of their own here (to make a chosen call fail, say);
// an empty factory restores the default.
void setProviderFactory(ProviderFactory factory);

} // namespace fa
