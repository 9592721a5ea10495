#include "data/db_state.h"
#include "ledger/steps.h"

namespace fa {

namespace {

// Hundreds of round trips fewer for every hundred department/type pairs of
// the seeding, in batches of some 20 KB.
constexpr int kStatementsPerBatch = 100;

} // namespace

void StatementBatch::add(const QString &statement)
{
    m_statements << statement;
    if (m_statements.size() >= (IsAccess ? 1 : kStatementsPerBatch))
        send();
}

void StatementBatch::send()
{
    if (m_statements.isEmpty())
        return;
    SqlText = m_statements.join(QStringLiteral(";\n"));
    m_statements.clear();
    AccConn->Execute(SqlText);
}

} // namespace fa
