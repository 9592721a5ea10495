#include "ledger/change_report.h"

#include "data/app_error.h"
#include "data/db_state.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

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

// The columns of a change report, in the order a line gives them.
const QStringList &reportColumns()
{
    static const QStringList columns{QStringLiteral("change"),   QStringLiteral("sDeptNum"),
                                     QStringLiteral("sTypeNum"), QStringLiteral("iPeriod"),
                                     QStringLiteral("column"),   QStringLiteral("old"),
                                     QStringLiteral("new")};
    return columns;
}

// The records of CSV text as csvLine() writes them; false when a quoted field
// does not end or the text does not end with a record.
bool readCsv(const QString &text, QList<QStringList> *records)
{
    QStringList record;
    QString field;
    bool quoted = false;
    const auto next = [&text](qsizetype i) {
        return i + 1 < text.size() ? text.at(i + 1) : QChar();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c != u'"')
                field += c;
            else if (next(i) == u'"')
                field += text.at(i++);
            else
                quoted = false;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            record << std::exchange(field, QString());
        } else if (c == u'\r' && next(i) == u'\n') {
            ++i;
            record << std::exchange(field, QString());
            records->append(std::exchange(record, QStringList()));
        } else {
            field += c;
        }
    }
    return !quoted && record.isEmpty() && field.isEmpty();
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

template <typename T> int sign(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// A stored number as it is: an integer exactly (one above the largest qint64
// apart), a real as it is.
struct StoredNumber
{
    enum Form { Integer, Huge, Real } form = Integer;
    qint64 integer = 0;
    quint64 huge = 0;
    double real = 0;
};

StoredNumber numberOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return {StoredNumber::Real, 0, 0, value.toDouble()};
    case QMetaType::ULongLong:
    case QMetaType::ULong: {
        const quint64 huge = value.toULongLong();
        if (huge > quint64(std::numeric_limits<qint64>::max()))
            return {StoredNumber::Huge, 0, huge, 0};
        return {StoredNumber::Integer, qint64(huge), 0, 0};
    }
    default:
        return {StoredNumber::Integer, value.toLongLong(), 0, 0};
    }
}

// An integer against a real without rounding either: 2^53 + 1 is above
// 2^53 as a real, 3 below 3.5. A NaN (SQLite stores none) is below every
// number.
template <typename Int> int compareWithReal(Int integer, double real)
{
    if (std::isnan(real) || real < double(std::numeric_limits<Int>::min()))
        return 1;
    if (real >= std::ldexp(1.0, std::numeric_limits<Int>::digits))
        return -1;
    const double whole = std::trunc(real);
    if (const int order = sign(integer, Int(whole)))
        return order;
    return sign(whole, real);
}

int compareNumbers(const StoredNumber &a, const StoredNumber &b)
{
    if (a.form == StoredNumber::Real && b.form == StoredNumber::Real) {
        if (std::isnan(a.real) || std::isnan(b.real))
            return int(!std::isnan(a.real)) - int(!std::isnan(b.real));
        return sign(a.real, b.real);
    }
    if (a.form == StoredNumber::Real)
        return -compareNumbers(b, a);
    if (b.form == StoredNumber::Real)
        return a.form == StoredNumber::Huge ? compareWithReal(a.huge, b.real)
                                            : compareWithReal(a.integer, b.real);
    if (a.form != b.form)
        return a.form == StoredNumber::Huge ? 1 : -1;
    return a.form == StoredNumber::Huge ? sign(a.huge, b.huge) : sign(a.integer, b.integer);
}

enum class Kind { Null, Number, Text, Other };

Kind kindOf(const QVariant &value)
{
    if (value.isNull())
        return Kind::Null;
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return Kind::Number;
    case QMetaType::QString:
        return Kind::Text;
    default:
        return Kind::Other;
    }
}

// The order of stored values (see TotalsSnapshot::Key): negative, zero or
// positive. Two values are equal only when SQLite holds them equal too.
int compareStored(const QVariant &a, const QVariant &b)
{
    // Most keys are texts and integers: no copies, no conversions. A null
    // text holds an empty string, so only two empty ones need a closer look.
    const int type = a.typeId();
    if (type == b.typeId() && type == QMetaType::QString) {
        const QString &x = *static_cast<const QString *>(a.constData());
        if (const int order = QString::compare(x, *static_cast<const QString *>(b.constData()));
            order != 0 || !x.isEmpty())
            return order;
    } else if (type == b.typeId() && type == QMetaType::LongLong && !a.isNull() && !b.isNull()) {
        return sign(*static_cast<const qlonglong *>(a.constData()),
                    *static_cast<const qlonglong *>(b.constData()));
    }
    const Kind kind = kindOf(a);
    if (const int order = sign(kind, kindOf(b)))
        return order;
    switch (kind) {
    case Kind::Null:
        return 0;
    case Kind::Number:
        return compareNumbers(numberOf(a), numberOf(b));
    case Kind::Text:
        return QString::compare(a.toString(), b.toString());
    case Kind::Other:
        break;
    }
    if (const int order = sign(a.typeId(), b.typeId()))
        return order;
    const QPartialOrdering order = QVariant::compare(a, b);
    if (order == QPartialOrdering::Less)
        return -1;
    if (order == QPartialOrdering::Greater)
        return 1;
    if (order == QPartialOrdering::Equivalent)
        return 0;
    return QString::compare(a.toString(), b.toString());
}

int compareKeys(const TotalsSnapshot::Key &a, const TotalsSnapshot::Key &b)
{
    if (const int order = compareStored(std::get<0>(a), std::get<0>(b)))
        return order;
    if (const int order = compareStored(std::get<1>(a), std::get<1>(b)))
        return order;
    return compareStored(std::get<2>(a), std::get<2>(b));
}

int compareValues(const QVariantList &a, const QVariantList &b)
{
    for (qsizetype i = 0; i < std::min(a.size(), b.size()); ++i) {
        if (const int order = compareStored(a.at(i), b.at(i)))
            return order;
    }
    return sign(a.size(), b.size());
}

// The rows by key; rows of one key by value, so that which of them pair up
// does not hang on the order the database hands them back in.
QList<qsizetype> keyOrder(const TotalsSnapshot &snapshot)
{
    QList<qsizetype> order(snapshot.rows.size());
    std::iota(order.begin(), order.end(), qsizetype(0));
    const auto less = [&snapshot](qsizetype x, qsizetype y) {
        const TotalsSnapshot::Row &a = snapshot.rows.at(x);
        const TotalsSnapshot::Row &b = snapshot.rows.at(y);
        if (const int order = compareKeys(a.key, b.key))
            return order < 0;
        return compareValues(a.values, b.values) < 0;
    };
    // A table the rebuild wrote comes back in key order already.
    if (!std::is_sorted(order.cbegin(), order.cend(), less))
        std::sort(order.begin(), order.end(), less);
    return order;
}

} // namespace

int CompareStoredRows(const QVariantList &a, const QVariantList &b)
{
    return compareValues(a, b);
}

QString CsvRecord(const QStringList &fields)
{
    return csvLine(fields);
}

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
        values.reserve(count);
        for (int i = 0; i < count; ++i)
            values << WorkRs->Fields(i);
        TotalsSnapshot::Key key{values.at(dept), values.at(type), values.at(period)};
        snapshot.rows.append({std::move(key), std::move(values)});
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
    return csvLine(leading + reportColumns());
}

QString ChangeReport::csvLines(const QStringList &leading) const
{
    QString text;
    for (const Line &line : lines)
        text += csvLine(leading + QStringList{line.change, line.dept, line.type, line.period,
                                              line.column, line.oldValue, line.newValue});
    return text;
}

bool ChangeReport::fromCsv(const QString &csv, ChangeReport *report)
{
    report->lines.clear();
    // A run that stopped before it compared has no report at all.
    if (csv.isEmpty())
        return true;
    QList<QStringList> records;
    if (!readCsv(csv, &records) || records.value(0) != reportColumns())
        return false;
    for (qsizetype r = 1; r < records.size(); ++r) {
        const QStringList &f = records.at(r);
        if (f.size() != reportColumns().size())
            return false;
        report->lines.append({f[0], f[1], f[2], f[3], f[4], f[5], f[6]});
    }
    return true;
}

ChangeReport CompareTotals(const TotalsSnapshot &before, const TotalsSnapshot &after)
{
    ChangeReport report;
    const auto keyLine = [](const QString &change, const TotalsSnapshot::Key &key) {
        ChangeReport::Line line;
        line.change = change;
        line.dept = valueText(std::get<0>(key));
        line.type = valueText(std::get<1>(key));
        line.period = valueText(std::get<2>(key));
        return line;
    };
    // Where each column of the new table stands in the old one (-1: nowhere).
    QList<int> oldColumn;
    for (const QString &column : after.columns)
        oldColumn << (isKeyColumn(column) ? -1 : columnIndex(before.columns, column));
    const QList<qsizetype> oldOrder = keyOrder(before);
    const QList<qsizetype> newOrder = keyOrder(after);
    qsizetype o = 0;
    qsizetype n = 0;
    while (o < oldOrder.size() || n < newOrder.size()) {
        const TotalsSnapshot::Row *old =
            o < oldOrder.size() ? &before.rows.at(oldOrder.at(o)) : nullptr;
        const TotalsSnapshot::Row *now =
            n < newOrder.size() ? &after.rows.at(newOrder.at(n)) : nullptr;
        const int order = !now ? -1 : !old ? 1 : compareKeys(old->key, now->key);
        if (order < 0) {
            report.lines << keyLine(QStringLiteral("removed"), old->key);
            ++report.removed;
            ++o;
            continue;
        }
        if (order > 0) {
            report.lines << keyLine(QStringLiteral("added"), now->key);
            ++report.added;
            ++n;
            continue;
        }
        bool changed = false;
        for (int i = 0; i < after.columns.size(); ++i) {
            const QString &column = after.columns.at(i);
            if (isKeyColumn(column))
                continue;
            const int j = oldColumn.at(i);
            const QVariant was = j >= 0 ? old->values.value(j) : QVariant();
            const QVariant is = now->values.value(i);
            if (!valuesDiffer(column, was, is))
                continue;
            ChangeReport::Line line = keyLine(QStringLiteral("changed"), now->key);
            line.column = column;
            line.oldValue = valueText(was);
            line.newValue = valueText(is);
            report.lines << line;
            changed = true;
        }
        report.changedRows += changed ? 1 : 0;
        ++o;
        ++n;
    }
    Q_ASSERT(before.rows.size() - report.removed + report.added == after.rows.size());
    return report;
}

} // namespace fa
