#include "data/value_conversion.h"

#include "data/app_error.h"

#include <cfenv>
#include <cmath>

namespace fa {

namespace {

[[noreturn]] void typeMismatch()
{
    throw AppError(13, QStringLiteral("类型不匹配"));
}

} // namespace

double NumberValue(const QVariant &value)
{
    if (value.isNull())
        throw AppError(94, QStringLiteral("无效使用 Null"));
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::LongLong ||
        value.typeId() == QMetaType::Int)
        return value.toDouble();
    bool ok = false;
    const double number = value.toString().trimmed().toDouble(&ok);
    if (!ok)
        typeMismatch();
    return number;
}

double RoundHalfEven(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value * scale) / scale;
    std::fesetround(previous);
    return rounded;
}

} // namespace fa
