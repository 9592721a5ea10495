#pragma once

#include "data/provider.h"

#include <QString>
#include <QVariant>
#include <memory>
#include <mutex>

namespace fa {

inline constexpr int adStateClosed = 0;
inline constexpr int adStateOpen = 1;

// An ADO-shaped connection: the provider is chosen from the connection
// string at each Open. Errors are thrown as AppError.
class Connection
{
public:
    int State() const;
    void Open(const QString &connectionString);
    void Close();
    // Takes over the other connection's provider, open or not, closing this
    // connection's own first; the other is left closed. Never throws.
    void TakeOver(Connection &other);
    void Execute(const QString &commandText);

    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    // Interrupts the statement running on this connection; callable from
    // another thread.
    void Interrupt();

    // The open provider, or nullptr; for the recordset.
    Provider *provider() const { return m_provider.get(); }

private:
    // Held while the provider is replaced or released, and while another
    // thread interrupts it.
    std::mutex m_providerMutex;
    std::unique_ptr<Provider> m_provider;
};

// An ADO-shaped recordset: forward-only, read-only, positioned on the first
// row after Open. (ADO calls the end test EOF, which is a C macro.)
class Recordset
{
public:
    int State() const { return m_cursor ? adStateOpen : adStateClosed; }
    // Runs the text on the connection; a statement without a result set
    // leaves the recordset closed.
    void Open(const QString &source, Connection &activeConnection);
    void Close();
    bool Eof() const;
    void MoveNext();
    QVariant Fields(int index) const;
    QVariant Fields(const QString &name) const;
    int FieldCount() const;
    QString FieldName(int index) const;

private:
    std::unique_ptr<Cursor> m_cursor;
    bool m_eof = true;
};

} // namespace fa
