#include "data/sqlite_provider.h"

#include "data/app_error.h"

#include <sqlite3.h>

namespace fa {

struct SqliteProvider::Impl
{
    sqlite3 *db = nullptr;
};

SqliteProvider::SqliteProvider() : d(std::make_unique<Impl>()) {}
SqliteProvider::~SqliteProvider() = default;
void SqliteProvider::open(const QString &)
{
    throw AppError(kProviderFailure, QStringLiteral("todo"));
}
void SqliteProvider::close() {}
bool SqliteProvider::isOpen() const
{
    return false;
}
void SqliteProvider::execute(const QString &) {}
std::unique_ptr<Cursor> SqliteProvider::query(const QString &)
{
    return nullptr;
}
void SqliteProvider::beginTransaction() {}
void SqliteProvider::commitTransaction() {}
void SqliteProvider::rollbackTransaction() {}
void createDatabaseFile(const QString &) {}

} // namespace fa
