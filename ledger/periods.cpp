#include "ledger/periods.h"

#include "data/app_error.h"
#include "data/db_state.h"

#include <cmath>

namespace fa {

PeriodArray Periods;
QDateTime FaStartDate = ZeroDate();

namespace {

std::function<void()> &pendingEventsHandler()
{
    static std::function<void()> handler;
    return handler;
}

[[noreturn]] void throwOutOfRange()
{
    throw AppError(kSubscriptOutOfRange, QStringLiteral("下标越界"));
}

// The calendar reads with errors ignored step by step: a step that fails is
// skipped and the next one runs. True when the step ran.
template <typename Step> bool tryStep(Step &&step)
{
    try {
        step();
        return true;
    } catch (const AppError &) {
        return false;
    }
}

// A recordset whose end cannot even be tested has no rows left to offer.
bool noRowLeft(const Recordset &rs)
{
    bool eof = true;
    tryStep([&] { eof = rs.Eof(); });
    return eof;
}

// The period number of the current row; false when it cannot be read as a
// number.
bool periodNumber(const Recordset &rs, double &number)
{
    bool ok = false;
    tryStep([&] {
        const QVariant value = rs.Fields(QStringLiteral("iid"));
        number = value.isNull() ? 0.0 : value.toDouble(&ok);
    });
    return ok;
}

// Hands the reason to a caller that asked for one; false, so that each
// refusal is a single return.
bool refuse(QString *problem, const QString &reason)
{
    if (problem)
        *problem = reason;
    return false;
}

QString periodName(double number)
{
    return QStringLiteral("第 %1 期").arg(number);
}

QString missingPeriods(int from, int to)
{
    if (from == to)
        return QStringLiteral("缺少%1").arg(periodName(from));
    return QStringLiteral("缺少%1至%2").arg(periodName(from), periodName(to));
}

// A date as the operator writes it, with the time of day only when it has one.
QString shownDate(const QDateTime &date)
{
    return date.toString(date.time() == QTime(0, 0) ? QStringLiteral("yyyy-MM-dd")
                                                    : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The period number of the current row as it stands in ua_period (empty when
// it is null or cannot be read).
QString periodText(const Recordset &rs)
{
    QVariant value;
    tryStep([&] { value = rs.Fields(QStringLiteral("iid")); });
    return value.toString();
}

// The current row's period for a reason, before its number has been checked.
QString rowName(const Recordset &rs)
{
    const QString text = periodText(rs);
    return text.isEmpty() ? QStringLiteral("期间号为空的期间")
                          : QStringLiteral("第 %1 期").arg(text);
}

// The period number of the current row, which must be a whole number.
bool wholePeriodNumber(const Recordset &rs, double &number, QString *problem)
{
    if (periodNumber(rs, number) && number == std::floor(number))
        return true;
    const QString text = periodText(rs);
    return refuse(problem, text.isEmpty() ? QStringLiteral("期间号为空")
                                          : QStringLiteral("期间号无法识别：") + text);
}

// One date of the current row; `what` names it in the reason when it is
// missing or does not read as a date.
bool readDate(const Recordset &rs, const QString &column, const QString &what, QDateTime &date,
              QString *problem)
{
    QVariant value;
    try {
        value = rs.Fields(column);
    } catch (const AppError &error) {
        return refuse(problem, what + QStringLiteral("读不出来：") + error.description());
    }
    if (value.isNull())
        return refuse(problem, what + QStringLiteral("为空"));
    try {
        date = DateValue(value);
        return true;
    } catch (const AppError &) {
        return refuse(problem, what + QStringLiteral("无法识别：") + value.toString());
    }
}

bool moveNext(Recordset &rs, QString *problem)
{
    try {
        rs.MoveNext();
        return true;
    } catch (const AppError &error) {
        return refuse(problem, error.description());
    }
}

// Moves past the periods that end before the fixed-asset module starts. A
// row whose end cannot be read is refused, not passed over: it may be the
// period the module starts in.
bool skipPeriodsBeforeTheStart(Recordset &rs, QString *problem)
{
    while (!noRowLeft(rs)) {
        QDateTime end;
        if (!readDate(rs, QStringLiteral("dend"), rowName(rs) + QStringLiteral("的结束日期"), end,
                      problem))
            return false;
        if (FaStartDate <= end)
            return true;
        if (!moveNext(rs, problem))
            return false;
    }
    return true;
}

// Reads period i from the current row into Periods. The row must hold period
// i, with readable dates in order that begin after period i - 1 has ended: a
// calendar with a hole or an overlap would move records between periods
// without a word.
bool readPeriod(const Recordset &rs, int i, int first, QString *problem)
{
    if (noRowLeft(rs))
        return refuse(problem, missingPeriods(i, 12));
    double number = 0;
    if (!wholePeriodNumber(rs, number, problem))
        return false;
    if (number > i)
        return refuse(problem, missingPeriods(i, number > 12 ? 12 : int(number) - 1));
    if (number < i)
        return refuse(
            problem,
            number == i - 1
                ? periodName(number) + QStringLiteral("重复")
                : QStringLiteral("%1排在%2之后").arg(periodName(number), periodName(i - 1)));

    const QString name = periodName(i);
    PeriodSpan span;
    if (!readDate(rs, QStringLiteral("dbegin"), name + QStringLiteral("的开始日期"), span.BeginDate,
                  problem) ||
        !readDate(rs, QStringLiteral("dend"), name + QStringLiteral("的结束日期"), span.EndDate,
                  problem))
        return false;
    if (span.BeginDate > span.EndDate)
        return refuse(problem, QStringLiteral("%1的开始日期 %2 晚于结束日期 %3")
                                   .arg(name, shownDate(span.BeginDate), shownDate(span.EndDate)));
    if (i > first && span.BeginDate <= Periods[i - 1].EndDate)
        return refuse(problem, QStringLiteral("%1的开始日期 %2 不在%3的结束日期 %4 之后")
                                   .arg(name, shownDate(span.BeginDate), periodName(i - 1),
                                        shownDate(Periods[i - 1].EndDate)));
    Periods[i] = span;
    return true;
}

} // namespace

void PeriodArray::resize(int lower, int upper)
{
    if (lower > upper)
        throwOutOfRange();
    m_spans = QVector<PeriodSpan>(upper - lower + 1);
    m_lower = lower;
}

void PeriodArray::clear()
{
    m_spans.clear();
    m_lower = 0;
}

int PeriodArray::lowerBound() const
{
    if (m_spans.isEmpty())
        throwOutOfRange();
    return m_lower;
}

int PeriodArray::upperBound() const
{
    if (m_spans.isEmpty())
        throwOutOfRange();
    return m_lower + int(m_spans.size()) - 1;
}

void PeriodArray::checkIndex(int period) const
{
    if (m_spans.isEmpty() || period < m_lower || period - m_lower >= m_spans.size())
        throwOutOfRange();
}

PeriodSpan &PeriodArray::operator[](int period)
{
    checkIndex(period);
    return m_spans[period - m_lower];
}

const PeriodSpan &PeriodArray::operator[](int period) const
{
    checkIndex(period);
    return m_spans[period - m_lower];
}

void setPendingEventsHandler(std::function<void()> handler)
{
    pendingEventsHandler() = std::move(handler);
}

bool LoadPeriods(const QString &account, const QString &year, QString *problem)
{
    if (problem)
        problem->clear();
    // The account and year come from the operator or the command line.
    SqlText = FillPlaceholders(
        QStringLiteral("select iid,dbegin,dend from ua_period where cacc_id='|1' and iYear=|2 "
                       "order by iid"),
        {{QStringLiteral("|1"), DoubleQuotes(account)},
         {QStringLiteral("|2"), WholeNumberLiteral(year)}},
        Qt::CaseSensitive);
    if (!SysConn || !WorkRs || !RunSql(*WorkRs, SqlText, *SysConn))
        return refuse(problem, LastFailureReason());
    Recordset &rs = *WorkRs;

    if (!skipPeriodsBeforeTheStart(rs, problem))
        return false;
    if (noRowLeft(rs))
        return refuse(problem, QStringLiteral("没有在固定资产启用日期之后结束的期间"));

    double number = 0;
    if (!wholePeriodNumber(rs, number, problem))
        return false;
    // Only periods 1 to 12 are rebuilt: a module that starts after period 12
    // leaves nothing to rebuild in this year, and period 0 stands for the
    // opening figures, never for a period of the calendar.
    if (number < 1 || number > 12)
        return refuse(problem,
                      QStringLiteral("固定资产启用日期之后的第一个期间是%1，不在第 1 期至第 "
                                     "12 期之内")
                          .arg(periodName(number)));
    const int first = int(number);
    Periods.resize(first, 12);

    for (int i = first; i <= 12; ++i) {
        // Past period 12 nothing more is read.
        if (!readPeriod(rs, i, first, problem) || (i < 12 && !moveNext(rs, problem)))
            return false;
        if (pendingEventsHandler())
            pendingEventsHandler()();
    }

    tryStep([&] { rs.Close(); });
    tryStep([&] { SysConn->Close(); });
    return true;
}

} // namespace fa
