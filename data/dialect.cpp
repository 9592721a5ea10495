#include "data/dialect.h"

#include "data/db_state.h"

#include <algorithm>

namespace fa {

QString FillPlaceholders(const QString &text,
                         std::initializer_list<std::pair<QString, QString>> values,
                         Qt::CaseSensitivity cs)
{
    QString result;
    result.reserve(text.size());
    const QStringView rest(text);
    qsizetype pos = 0;
    while (pos < text.size()) {
        const std::pair<QString, QString> *found = nullptr;
        for (const auto &entry : values) {
            if (!entry.first.isEmpty() && rest.sliced(pos).startsWith(entry.first, cs) &&
                (!found || entry.first.size() > found->first.size()))
                found = &entry;
        }
        if (found) {
            result += found->second;
            pos += found->first.size();
        } else {
            result += text.at(pos);
            ++pos;
        }
    }
    return result;
}

QString FillPlaceholder(const QString &text, const QString &placeholder, const QString &value,
                        Qt::CaseSensitivity cs)
{
    return FillPlaceholders(text, {{placeholder, value}}, cs);
}

QString DoubleQuotes(const QString &value)
{
    QString result = value;
    return result.replace(QLatin1Char('\''), QLatin1String("''"));
}

QString WholeNumberLiteral(const QString &value)
{
    const bool digits = !value.isEmpty() && std::all_of(value.cbegin(), value.cend(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    if (digits)
        return value;
    return QLatin1Char('\'') + DoubleQuotes(value) + QLatin1Char('\'');
}

QDateTime ZeroDate()
{
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0));
}

QString DateLiteral(const QDateTime &date)
{
    const QDateTime d = date.isValid() ? date : ZeroDate();
    const bool midnight = d.time() == QTime(0, 0);
    if (IsAccess) {
        const QString text = midnight ? d.toString(QStringLiteral("yyyy-MM-dd"))
                                      : d.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        return QLatin1Char('#') + text + QLatin1Char('#');
    }
    const QString text = midnight ? d.toString(QStringLiteral("yyyyMMdd"))
                                  : d.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

QString NullToZero(const QString &expression)
{
    if (IsAccess)
        return expression;
    return FillPlaceholder(QStringLiteral("isnull(|1,0)"), QStringLiteral("|1"), expression);
}

QString PositiveOrZero(const QString &expression)
{
    const QString pattern = IsAccess ? QStringLiteral("iif(|1>0,|1,0)")
                                     : QStringLiteral("Case when |1>0 then |1 else 0 end");
    return FillPlaceholder(pattern, QStringLiteral("|1"), expression);
}

QString NumericExpr(const QString &expression)
{
    if (IsAccess)
        return QStringLiteral("val(") + expression + QLatin1Char(')');
    return QStringLiteral("cast(") + expression + QStringLiteral(" as float)");
}

} // namespace fa
