#pragma once

#include <QDateTime>
#include <QString>

namespace fa {

// SQL fragments that differ between the file database and SQL Server.
// Each reads IsAccess at the moment of the call.

// A date constant that either engine reads as the same date whatever its
// language settings: #yyyy-mm-dd# or 'yyyymmdd', with the time of day only
// when it is not midnight.
QString DateLiteral(const QDateTime &date);
QString NullToZero(const QString &expression);
QString PositiveOrZero(const QString &expression);
QString NumericExpr(const QString &expression);

// Fills every occurrence of a placeholder ("|1", "|2", …) in a template.
// The inserted value is not scanned again and is inserted as it is.
QString FillPlaceholder(const QString &text, const QString &placeholder, const QString &value,
                        Qt::CaseSensitivity cs = Qt::CaseInsensitive);

// A value to be put between single quotes in SQL text, with every embedded
// quote doubled so that it cannot end the literal.
QString DoubleQuotes(const QString &value);

// The date the calendar holds where no period row exists (day zero).
QDateTime ZeroDate();

} // namespace fa
