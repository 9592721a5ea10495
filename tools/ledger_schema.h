#pragma once

#include "data/connection.h"

#include <QString>
#include <QStringList>

namespace fa::sample {

// Table definitions of the accounting system's databases in the file-database
// form, as the tool meets them: a system database (account sets and their
// periods) and one database per account set and year.

QStringList systemTableStatements();
QStringList accountYearTableStatements();

// "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" + path.
QString jetConnectionString(const QString &path);

// Creates a new database file with the system tables (or the account-year
// tables) and returns it opened. Throws AppError.
void createSystemDatabase(const QString &path, Connection &conn);
void createAccountYearDatabase(const QString &path, Connection &conn);

// A date as the file database stores it: "yyyy-MM-dd HH:mm:ss".
QString storedDate(const QDateTime &date);
QString storedDate(int year, int month, int day);

// Single-quoted SQL text literal with embedded quotes doubled; NULL for a
// null string.
QString sqlText(const QString &value);

} // namespace fa::sample
