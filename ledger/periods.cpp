#include "ledger/periods.h"

#include "data/app_error.h"
#include "data/db_state.h"

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

bool LoadPeriods(const QString &account, const QString &year)
{
    // The account and year come from the operator or the command line.
    SqlText = FillPlaceholders(
        QStringLiteral("select iid,dbegin,dend from ua_period where cacc_id='|1' and iYear=|2 "
                       "order by iid"),
        {{QStringLiteral("|1"), DoubleQuotes(account)},
         {QStringLiteral("|2"), WholeNumberLiteral(year)}},
        Qt::CaseSensitive);
    if (!SysConn || !WorkRs || !RunSql(*WorkRs, SqlText, *SysConn))
        return false;
    Recordset &rs = *WorkRs;

    // The first period to rebuild is the first that ends on or after the
    // start of the fixed-asset module. A row whose end cannot be read does not
    // qualify.
    while (!noRowLeft(rs)) {
        bool reached = false;
        tryStep([&] { reached = FaStartDate <= DateValue(rs.Fields(QStringLiteral("dend"))); });
        if (reached)
            break;
        // A move that fails would leave us on this row for ever.
        if (!tryStep([&] { rs.MoveNext(); }))
            return false;
    }
    if (noRowLeft(rs))
        return false;

    double number = 0;
    if (!periodNumber(rs, number))
        return false;
    // Only periods 1 to 12 are rebuilt: a module that starts after period 12
    // leaves nothing to rebuild in this year, and period 0 stands for the
    // opening figures, never for a period of the calendar.
    if (!(number >= 0.5 && number < 12.5))
        return false;
    const int first = int(std::lround(number));
    Periods.resize(first, 12);

    for (int i = first; i <= 12; ++i) {
        if (!noRowLeft(rs)) {
            if (!periodNumber(rs, number) || number != i)
                return false;
            tryStep([&] { Periods[i].BeginDate = DateValue(rs.Fields(QStringLiteral("dbegin"))); });
            tryStep([&] { Periods[i].EndDate = DateValue(rs.Fields(QStringLiteral("dend"))); });
            tryStep([&] { rs.MoveNext(); });
        }
        if (pendingEventsHandler())
            pendingEventsHandler()();
    }

    tryStep([&] { rs.Close(); });
    tryStep([&] { SysConn->Close(); });
    return true;
}

} // namespace fa
