#include "data/connection.h"

#include "data/app_error.h"
#include "data/stop_request.h"

namespace fa {

namespace {

// ADO's number for reading a field when there is no current record.
constexpr qint32 kNoCurrentRecord = qint32(0x800A0BCDu);

// Once the operator has asked to stop, nothing more is sent; what ends a
// transaction (commit, rollback) still is.
void throwIfStopped()
{
    if (StopRequested())
        throw AppError(kProviderFailure, QString::fromUtf8(kStoppedText));
}

[[noreturn]] void throwClosed()
{
    throw AppError(qint32(0x800A0E78u), QStringLiteral("对象关闭时，不允许操作。"));
}

} // namespace

int Connection::State() const
{
    return m_provider && m_provider->isOpen() ? adStateOpen : adStateClosed;
}

void Connection::Open(const QString &connectionString)
{
    if (State() == adStateOpen)
        throw AppError(qint32(0x800A0E79u), QStringLiteral("对象打开时，不允许操作。"));
    {
        const std::lock_guard lock(m_providerMutex);
        m_provider.reset();
    }
    throwIfStopped();
    auto provider = createProvider(connectionString);
    provider->open(connectionString);
    const std::lock_guard lock(m_providerMutex);
    m_provider = std::move(provider);
}

void Connection::Close()
{
    if (!m_provider)
        throwClosed();
    // Whatever the provider says, the connection counts as closed afterwards.
    std::unique_ptr<Provider> provider;
    {
        const std::lock_guard lock(m_providerMutex);
        provider = std::move(m_provider);
    }
    provider->close();
}

void Connection::TakeOver(Connection &other)
{
    if (m_provider) {
        try {
            Close();
        } catch (const AppError &) {
            // Its complaint changes nothing: the old connection is given up.
        }
    }
    std::unique_ptr<Provider> provider;
    {
        const std::lock_guard lock(other.m_providerMutex);
        provider = std::move(other.m_provider);
    }
    const std::lock_guard lock(m_providerMutex);
    m_provider = std::move(provider);
}

void Connection::Execute(const QString &commandText)
{
    if (State() != adStateOpen)
        throwClosed();
    throwIfStopped();
    m_provider->execute(commandText);
}

void Connection::Interrupt()
{
    const std::lock_guard lock(m_providerMutex);
    if (m_provider && m_provider->isOpen())
        m_provider->interrupt();
}

void Connection::BeginTrans()
{
    if (State() != adStateOpen)
        throwClosed();
    m_provider->beginTransaction();
}

void Connection::CommitTrans()
{
    if (State() != adStateOpen)
        throwClosed();
    m_provider->commitTransaction();
}

void Connection::RollbackTrans()
{
    if (State() != adStateOpen)
        throwClosed();
    m_provider->rollbackTransaction();
}

void Recordset::Open(const QString &source, Connection &activeConnection)
{
    if (m_cursor)
        throw AppError(qint32(0x800A0E79u), QStringLiteral("对象打开时，不允许操作。"));
    if (activeConnection.State() != adStateOpen)
        throwClosed();
    throwIfStopped();
    auto cursor = activeConnection.provider()->query(source);
    if (!cursor)
        return; // the statement ran but returned no rows: stays closed
    m_eof = !cursor->fetch();
    m_cursor = std::move(cursor);
}

void Recordset::Close()
{
    if (!m_cursor)
        throwClosed();
    m_cursor.reset();
    m_eof = true;
}

bool Recordset::Eof() const
{
    if (!m_cursor)
        throwClosed();
    return m_eof;
}

void Recordset::MoveNext()
{
    if (!m_cursor)
        throwClosed();
    if (m_eof)
        throw AppError(kNoCurrentRecord, QStringLiteral("BOF 或 EOF 为真，没有当前记录。"));
    m_eof = !m_cursor->fetch();
}

int Recordset::FieldCount() const
{
    if (!m_cursor)
        throwClosed();
    return m_cursor->columnCount();
}

QString Recordset::FieldName(int index) const
{
    if (!m_cursor)
        throwClosed();
    if (index < 0 || index >= m_cursor->columnCount())
        throw AppError(kSubscriptOutOfRange, QStringLiteral("下标越界"));
    return m_cursor->columnName(index);
}

QVariant Recordset::Fields(int index) const
{
    if (!m_cursor)
        throwClosed();
    if (index < 0 || index >= m_cursor->columnCount())
        throw AppError(qint32(0x800A0CC1u),
                       QStringLiteral("在对应所需名称或序数的集合中，未找到项目。"));
    if (m_eof)
        throw AppError(kNoCurrentRecord, QStringLiteral("BOF 或 EOF 为真，没有当前记录。"));
    return m_cursor->value(index);
}

QVariant Recordset::Fields(const QString &name) const
{
    if (!m_cursor)
        throwClosed();
    for (int i = 0; i < m_cursor->columnCount(); ++i) {
        if (m_cursor->columnName(i).compare(name, Qt::CaseInsensitive) == 0)
            return Fields(i);
    }
    throw AppError(qint32(0x800A0CC1u),
                   QStringLiteral("在对应所需名称或序数的集合中，未找到项目。"));
}

} // namespace fa
