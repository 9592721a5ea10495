#include "data/value_conversion.h"

#include "data/app_error.h"
#include "data/dialect.h"

#include <QStringList>

#include <cfenv>
#include <cmath>

namespace fa {

namespace {

[[noreturn]] void typeMismatch()
{
    throw AppError(13, QStringLiteral("类型不匹配"));
}

QDateTime dateFromText(const QString &text)
{
    // Month, day and hour take one or two digits: a Chinese-locale Windows
    // writes "2026-5-10 9:30:00" where the file database writes
    // "2026-05-10 09:30:00".
    static const QStringList formats = {
        QStringLiteral("yyyy-M-d H:mm:ss"),
        QStringLiteral("yyyy-M-d H:mm:ss.zzz"),
        QStringLiteral("yyyy-MM-ddTHH:mm:ss"),
        QStringLiteral("yyyy-M-d H:mm"),
        QStringLiteral("yyyy-M-d"),
        QStringLiteral("yyyy/M/d H:mm:ss"),
        QStringLiteral("yyyy/M/d H:mm"),
        QStringLiteral("yyyy/M/d"),
        QStringLiteral("yyyyMMdd"),
    };
    const QString trimmed = text.trimmed();
    for (const QString &format : formats) {
        const QDateTime date = QDateTime::fromString(trimmed, format);
        if (date.isValid())
            return date;
    }
    typeMismatch();
}

QDateTime dateFromDayNumber(double days)
{
    if (!std::isfinite(days) || std::fabs(days) > 3.0e6)
        typeMismatch();
    const double whole = std::floor(days);
    const qint64 msecs = qint64(std::llround((days - whole) * 86400000.0));
    return ZeroDate().addDays(qint64(whole)).addMSecs(msecs);
}

} // namespace

double NumberValue(const QVariant &value)
{
    if (value.isNull())
        throw AppError(94, QStringLiteral("无效使用 Null"));
    double number = 0;
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::LongLong ||
        value.typeId() == QMetaType::Int) {
        number = value.toDouble();
    } else {
        bool ok = false;
        number = value.toString().trimmed().toDouble(&ok);
        if (!ok)
            typeMismatch();
    }
    // "nan" and "inf" read as numbers but compare false with everything (or
    // beyond every bound): a check on them would pass whatever it asks.
    if (!std::isfinite(number))
        typeMismatch();
    return number;
}

QDateTime DateValue(const QVariant &value)
{
    if (value.isNull())
        throw AppError(94, QStringLiteral("无效使用 Null"));
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return value.toDateTime();
    case QMetaType::QDate:
        return QDateTime(value.toDate(), QTime(0, 0));
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return dateFromText(value.toString());
    default:
        break;
    }
    bool ok = false;
    const double days = value.toDouble(&ok);
    if (!ok)
        typeMismatch();
    return dateFromDayNumber(days);
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
