#include "ledger/change_report.h"

#include "data/app_error.h"
#include "data/db_state.h"

#include <QLocale>
#include <cmath>

namespace fa {

namespace {

// The shortest text that reads back as the same value.
QString valueText(const QVariant &value)
{
    if (value.isNull())
        return {};
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float)
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    return value.toString();
}

bool isNumber(const QVariant &value, double &number)
{
    if (value.isNull())
        return false;
    bool ok = false;
    number = value.toDouble(&ok);
    return ok && std::isfinite(number);
}

bool figuresDiffer(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() != b.isNull();
    double x = 0;
    double y = 0;
    if (!isNumber(a, x) || !isNumber(b, y))
        return valueText(a) != valueText(b);
    const double difference = std::abs(x - y);
    return difference > 1e-9 * std::max(std::abs(x), std::abs(y)) && difference > 1e-6;
}

bool valuesDiffer(const QString &column, const QVariant &a, const QVariant &b)
{
    if (column.startsWith(QLatin1String("dbl"), Qt::CaseInsensitive))
        return figuresDiffer(a, b);
    if (a.isNull() || b.isNull())
        return a.isNull() != b.isNull();
    double x = 0;
    double y = 0;
    if (isNumber(a, x) && isNumber(b, y))
        return x != y;
    return valueText(a) != valueText(b);
}

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString csvLine(const QStringList &fields)
{
    QStringList escaped;
    for (const QString &field : fields)
        escaped << csvField(field);
    return escaped.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

int columnIndex(const QStringList &columns, const QString &name)
{
    for (int i = 0; i < columns.size(); ++i) {
        if (columns.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool isKeyColumn(const QString &column)
{
    for (const char *key : {"sDeptNum", "sTypeNum", "iPeriod"}) {
        if (column.compare(QLatin1String(key), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

TotalsSnapshot ReadTotals()
{
    SqlText = QStringLiteral("SELECT * FROM fa_Total");
    if (!RunSql(*WorkRs, SqlText, *AccConn))
        RaiseStepError(QStringLiteral("读取fa_Total出错"));
    TotalsSnapshot snapshot;
    const int count = WorkRs->FieldCount();
    for (int i = 0; i < count; ++i)
        snapshot.columns << WorkRs->FieldName(i);
    const int dept = columnIndex(snapshot.columns, QStringLiteral("sDeptNum"));
    const int type = columnIndex(snapshot.columns, QStringLiteral("sTypeNum"));
    const int period = columnIndex(snapshot.columns, QStringLiteral("iPeriod"));
    if (dept < 0 || type < 0 || period < 0)
        RaiseAppError(QStringLiteral("读取fa_Total出错"));
    while (!WorkRs->Eof()) {
        QVariantList values;
        for (int i = 0; i < count; ++i)
            values << WorkRs->Fields(i);
        snapshot.rows.insert({values.value(dept).toString(), values.value(type).toString(),
                              values.value(period).toLongLong()},
                             values);
        WorkRs->MoveNext();
    }
    WorkRs->Close();
    return snapshot;
}

QString ChangeReport::summary() const
{
    return QStringLiteral("新增 %1 行，删除 %2 行，修改 %3 行")
        .arg(added)
        .arg(removed)
        .arg(changedRows);
}

QString ChangeReport::csvHeader(const QStringList &leading)
{
    return csvLine(leading + QStringList{QStringLiteral("change"), QStringLiteral("sDeptNum"),
                                         QStringLiteral("sTypeNum"), QStringLiteral("iPeriod"),
                                         QStringLiteral("column"), QStringLiteral("old"),
                                         QStringLiteral("new")});
}

QString ChangeReport::csvLines(const QStringList &leading) const
{
    QString text;
    for (const Line &line : lines)
        text += csvLine(leading + QStringList{line.change, line.dept, line.type, line.period,
                                              line.column, line.oldValue, line.newValue});
    return text;
}

ChangeReport CompareTotals(const TotalsSnapshot &before, const TotalsSnapshot &after)
{
    ChangeReport report;
    const auto keyLine = [](const QString &change, const TotalsSnapshot::Key &key) {
        return ChangeReport::Line{
            change, std::get<0>(key), std::get<1>(key), QString::number(std::get<2>(key)), {}, {},
            {}};
    };
    // Where each column of the new table stands in the old one (-1: nowhere).
    QList<int> oldColumn;
    for (const QString &column : after.columns)
        oldColumn << (isKeyColumn(column) ? -1 : columnIndex(before.columns, column));
    auto old = before.rows.cbegin();
    auto now = after.rows.cbegin();
    while (old != before.rows.cend() || now != after.rows.cend()) {
        if (now == after.rows.cend() || (old != before.rows.cend() && old.key() < now.key())) {
            report.lines << keyLine(QStringLiteral("removed"), old.key());
            ++report.removed;
            ++old;
            continue;
        }
        if (old == before.rows.cend() || now.key() < old.key()) {
            report.lines << keyLine(QStringLiteral("added"), now.key());
            ++report.added;
            ++now;
            continue;
        }
        bool changed = false;
        for (int i = 0; i < after.columns.size(); ++i) {
            const QString &column = after.columns.at(i);
            if (isKeyColumn(column))
                continue;
            const int j = oldColumn.at(i);
            const QVariant was = j >= 0 ? old.value().value(j) : QVariant();
            const QVariant is = now.value().value(i);
            if (!valuesDiffer(column, was, is))
                continue;
            ChangeReport::Line line = keyLine(QStringLiteral("changed"), now.key());
            line.column = column;
            line.oldValue = valueText(was);
            line.newValue = valueText(is);
            report.lines << line;
            changed = true;
        }
        report.changedRows += changed ? 1 : 0;
        ++old;
        ++now;
    }
    return report;
}

} // namespace fa
