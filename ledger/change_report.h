#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <tuple>

namespace fa {

// fa_Total as it stands at one moment: its rows by department, asset type
// and period, each with every column's value.
struct TotalsSnapshot
{
    using Key = std::tuple<QString, QString, qint64>; // sDeptNum, sTypeNum, iPeriod
    QStringList columns;
    QMap<Key, QVariantList> rows;
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
};

// Compares two snapshots. A figure (dbl… column) counts as changed when both
// sides are numbers that differ by more than 1e-9 of the larger one and by
// more than 1e-6, or when it is null on one side only; counts and texts
// compare exactly.
ChangeReport CompareTotals(const TotalsSnapshot &before, const TotalsSnapshot &after);

} // namespace fa
