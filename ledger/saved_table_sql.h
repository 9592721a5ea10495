#pragma once

#include <QString>
#include <QVariant>

namespace fa {

// A stored value as a literal of the SQL the account-year database takes
// (IsAccess: the file database's, else SQL Server's) that stores it exactly
// as it was: a figure to the last bit, a text with every character. Empty
// text, with the reason, for a value no literal can carry.
QString ExactLiteral(const QVariant &value, QString *problem);

} // namespace fa
