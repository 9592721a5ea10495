#include "data/odbc_provider.h"

#include "data/app_error.h"

namespace fa {

struct OdbcProvider::Impl
{
};

OdbcProvider::OdbcProvider() : d(std::make_unique<Impl>()) {}
OdbcProvider::~OdbcProvider() = default;
void OdbcProvider::open(const QString &)
{
    throw AppError(kProviderFailure, QStringLiteral("todo"));
}
void OdbcProvider::close() {}
bool OdbcProvider::isOpen() const
{
    return false;
}
void OdbcProvider::execute(const QString &) {}
std::unique_ptr<Cursor> OdbcProvider::query(const QString &)
{
    return nullptr;
}
void OdbcProvider::beginTransaction() {}
void OdbcProvider::commitTransaction() {}
void OdbcProvider::rollbackTransaction() {}

} // namespace fa
