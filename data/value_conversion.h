#pragma once

#include <QDateTime>
#include <QVariant>

namespace fa {

// Conversions of field values as the accounting data holds them: numbers and
// dates are often kept as text. Each throws AppError 13 ("类型不匹配") when the
// value cannot be converted, and 94 ("无效使用 Null") for a null value, like
// the original platform's conversions.

// A finite number, or text holding one (blanks around it allowed); "nan",
// "inf" and numbers too large for a double are a type mismatch.
double NumberValue(const QVariant &value);

// A date (with its time of day) from a field or setting value: a date value,
// a date text in year-month-day order with "-" or "/" ("2002-05-31",
// "2002-5-31 8:30", "2002-05-31 00:00:00", "2002-05-31T08:30:00",
// "2002/5/31 8:30:00"), as the file database and AccInformation hand dates
// back, or a day number counted from day zero. Throws AppError 94
// ("无效使用 Null") for null and 13 ("类型不匹配") for anything else.
QDateTime DateValue(const QVariant &value);

// Rounds to the given decimals, a half going to the even neighbour.
double RoundHalfEven(double value, int decimals);

} // namespace fa
