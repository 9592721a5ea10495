#include "ledger/saved_table_sql.h"

#include "data/db_state.h"
#include "data/dialect.h"

#include <cmath>

namespace fa {

namespace {

// Decimal texts that every parser reads exactly: an integer of at most 53
// bits, and a power of two in a short form that is exactly that power
// (2^-k = 5^k e-k). A decimal fraction is not one of them: SQLite reads
// 0.000224428 a unit in the last place off.
QString powerOfTwo(int exponent)
{
    if (exponent >= 0)
        return QString::number(qint64(1) << exponent) + QStringLiteral("E0");
    return QString::number(qint64(std::pow(5.0, -exponent))) + QStringLiteral("E-") +
           QString::number(-exponent);
}

// A figure as integer × powers of two. Every step of the product is exact,
// since each partial product is the figure itself times a power of two; the
// last factor makes the result a float even where the integer alone is not.
QString figureLiteral(double value)
{
    if (value == 0)
        return std::signbit(value) ? QStringLiteral("-0E0") : QStringLiteral("0E0");
    int exponent = 0;
    const double fraction = std::frexp(value, &exponent);
    auto mantissa = qint64(std::ldexp(fraction, 53));
    exponent -= 53;
    while (mantissa % 2 == 0) {
        mantissa /= 2;
        ++exponent;
    }
    QString text = QLatin1Char('(') + QString::number(mantissa);
    for (; exponent > 20; exponent -= 20)
        text += QLatin1Char('*') + powerOfTwo(20);
    for (; exponent < -20; exponent += 20)
        text += QLatin1Char('*') + powerOfTwo(-20);
    return text + QLatin1Char('*') + powerOfTwo(exponent) + QLatin1Char(')');
}

} // namespace

QString ExactLiteral(const QVariant &value, QString *problem)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
        return value.toString();
    case QMetaType::Double:
    case QMetaType::Float: {
        const double figure = value.toDouble();
        if (std::isnan(figure)) {
            *problem = QStringLiteral("不是数字的数");
            return {};
        }
        // Beyond the largest double a parser makes an infinity.
        if (std::isinf(figure))
            return figure > 0 ? QStringLiteral("1e999") : QStringLiteral("-1e999");
        return figureLiteral(figure);
    }
    case QMetaType::QString: {
        const QString text = value.toString();
        if (text.contains(QChar(0))) {
            *problem = QStringLiteral("含有空字符（NUL）的文本");
            return {};
        }
        const QString quoted = QLatin1Char('\'') + DoubleQuotes(text) + QLatin1Char('\'');
        // A server reads a text without N in its code page.
        return IsAccess ? quoted : QLatin1Char('N') + quoted;
    }
    default:
        *problem = QStringLiteral("类型为 %1 的值").arg(QString::fromLatin1(value.typeName()));
        return {};
    }
}

} // namespace fa
