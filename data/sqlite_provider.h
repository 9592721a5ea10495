#pragma once

#include "data/provider.h"

namespace fa {

// The file database: the file behind a Jet connection string, opened as an
// SQLite database. The Jet SQL the tool sends is adapted on the way in.
class SqliteProvider final : public Provider
{
public:
    // How long a statement waits for a database that another program has
    // locked before it fails.
    static constexpr int kDefaultBusyTimeoutMs = 5000;

    SqliteProvider();
    ~SqliteProvider() override;

    void open(const QString &connectionString) override;
    void close() override;
    bool isOpen() const override;
    void execute(const QString &sql) override;
    std::unique_ptr<Cursor> query(const QString &sql) override;
    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() override;
    void interrupt() override;

    // Changes the wait for a locked database (now, and for later opens).
    void setBusyTimeout(int milliseconds);

    // The path named by "Data Source=" in a connection string: everything
    // after it, semicolons and blanks included. Empty when there is none.
    static QString dataSource(const QString &connectionString);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace fa

namespace fa {
// Creates a new, empty database file for the file-database mode (for the demo
// command and the tests; the tool itself never creates a database). Throws
// AppError when the file exists or cannot be written.
void createDatabaseFile(const QString &path);
} // namespace fa
