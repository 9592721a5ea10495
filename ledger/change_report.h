#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <tuple>

namespace fa {

// fa_Total as it stands at one moment: every row, duplicates included, with
// every column's value.
struct TotalsSnapshot
{
    // sDeptNum, sTypeNum, iPeriod as the database hands them back. SQLite keeps
    // whatever was stored there (a period of 2.5 or 'x', a null department),
    // so the parts are never converted: they are ordered null, numbers (by
    // value, 3 and 3.0 alike as in SQLite), texts (exactly, letter case
    // counts), then anything else.
    using Key = std::tuple<QVariant, QVariant, QVariant>;
    struct Row
    {
        Key key;
        QVariantList values; // in the order of columns
    };
    QStringList columns;
    QList<Row> rows; // in the order read
};

// Reads every row of fa_Total of the open account-year database (AccConn)
// through WorkRs. Throws AppError when it cannot.
TotalsSnapshot ReadTotals();

// What a rebuild changes in fa_Total: one line per added row, per removed row
// and per changed column of a kept row, in the order of the rows' keys.
struct ChangeReport
{
    struct Line
    {
        QString change; // "added", "removed" or "changed"
        QString dept, type, period, column, oldValue, newValue;
    };
    QList<Line> lines;
    int added = 0;
    int removed = 0;
    int changedRows = 0;

    bool differs() const { return !lines.isEmpty(); }
    // "新增 A 行，删除 R 行，修改 C 行"
    QString summary() const;
    // RFC 4180 CSV, UTF-8, CRLF line ends; the header line first. Leading
    // columns (the account set and the year of a batch) go in front of each
    // line when given.
    static QString csvHeader(const QStringList &leading = {});
    QString csvLines(const QStringList &leading = {}) const;
    // The lines back from csvHeader() + csvLines() without leading columns
    // (the counts are not filled); empty text is an empty report. False for
    // any other text.
    static bool fromCsv(const QString &csv, ChangeReport *report);
};

// Compares two snapshots. Rows pair up by key; of several rows with one key
// (a table without its primary key) the first ones by value pair up and the
// rest count as removed or added, so that the rows before, less the removed,
// plus the added, are the rows after. A figure (dbl… column) counts as
// changed when both sides are numbers that differ by more than 1e-9 of the
// larger one and by more than 1e-6, or when it is null on one side only;
// counts and texts compare exactly.
ChangeReport CompareTotals(const TotalsSnapshot &before, const TotalsSnapshot &after);

// Two rows of values, value by value in the order of stored values that
// TotalsSnapshot::Key describes: negative, zero or positive; zero only for
// rows SQLite holds equal.
int CompareStoredRows(const QVariantList &a, const QVariantList &b);

// One RFC 4180 CSV record, with its CRLF.
QString CsvRecord(const QStringList &fields);

} // namespace fa

// Moved as bytes when the list of rows grows.
Q_DECLARE_TYPEINFO(fa::TotalsSnapshot::Row, Q_RELOCATABLE_TYPE);
