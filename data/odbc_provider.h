#pragma once

#include "data/provider.h"

namespace fa {

// SQL Server through ODBC (FreeTDS on Linux): the OLE DB connection string is
// turned into an ODBC one.
class OdbcProvider final : public Provider
{
public:
    OdbcProvider();
    ~OdbcProvider() override;

    void open(const QString &connectionString) override;
    void close() override;
    bool isOpen() const override;
    void execute(const QString &sql) override;
    std::unique_ptr<Cursor> query(const QString &sql) override;
    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace fa
