#pragma once

#include <QDateTime>
#include <QVariant>

namespace fa {

// Conversions of field values as the accounting data holds them: numbers and
// dates are often kept as text. Each throws AppError 13 ("类型不匹配") when the
// value cannot be converted, like the original platform's conversions.

// A number, or text holding one (blanks around it allowed).
double NumberValue(const QVariant &value);

// Rounds to the given decimals, a half going to the even neighbour.
double RoundHalfEven(double value, int decimals);

} // namespace fa
