#pragma once

#include "data/conn_strings.h"
#include "data/provider.h"

namespace fa {

// SQL Server through the ODBC driver manager (FreeTDS on Linux): the OLE DB
// connection string is turned into an ODBC one (conn_strings.h) and handed to
// SQLDriverConnect as it stands. Every result is read forward only; since
// FreeTDS serves one result at a time per connection, a result still being
// read is taken into memory before the next statement is sent.
class OdbcProvider final : public Provider
{
public:
    // SQL Server is reached through `driver`; the system's own unless a test
    // wants the other.
    explicit OdbcProvider(SqlServerDriver driver = kSystemSqlServerDriver);
    ~OdbcProvider() override;

    void open(const QString &connectionString) override;
    void close() override;
    bool isOpen() const override;
    void execute(const QString &sql) override;
    std::unique_ptr<Cursor> query(const QString &sql) override;
    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() override;
    void interrupt() override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The error number of the OLE DB provider for an ODBC SQLSTATE: errors in the
// command text (syntax, unknown or already existing object: class 42, and
// 37000 and S00xx of ODBC 2) are kErrorsInCommand, anything else
// kProviderFailure.
qint32 errorNumberForSqlState(QStringView sqlState);

} // namespace fa
