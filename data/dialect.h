#pragma once

#include <QDateTime>
#include <QString>

#include <initializer_list>
#include <utility>

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

// Fills every placeholder ("|1", "|2", …) of a template in one pass from its
// first character: where several placeholders start at the same place the
// longest wins, and an inserted value is never scanned again, so a department
// number such as "T|3" or a password holding "|2" is inserted as it is.
QString FillPlaceholders(const QString &text,
                         std::initializer_list<std::pair<QString, QString>> values,
                         Qt::CaseSensitivity cs = Qt::CaseInsensitive);
// The same for a template with one placeholder.
QString FillPlaceholder(const QString &text, const QString &placeholder, const QString &value,
                        Qt::CaseSensitivity cs = Qt::CaseInsensitive);

// A value to be put between single quotes in SQL text, with every embedded
// quote doubled so that it cannot end the literal.
QString DoubleQuotes(const QString &value);

// A whole number typed by the operator or read from a list, for a numeric
// column: a text of digits stands bare; anything else becomes a quoted text
// literal that matches no number, so the statement finds no rows instead of
// being changed by it.
QString WholeNumberLiteral(const QString &value);

// The date the calendar holds where no period row exists (day zero).
QDateTime ZeroDate();

} // namespace fa
