#pragma once

#include "data/dialect.h"
#include "data/value_conversion.h"

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVector>
#include <functional>

namespace fa {

// One accounting period: its first and last day as ua_period holds them
// (dbegin, dend), with the time of day the database keeps. An entry not
// (yet) read keeps day zero in both.
struct PeriodSpan
{
    QDateTime BeginDate = ZeroDate();
    QDateTime EndDate = ZeroDate();
};

// The periods to rebuild, indexed by period number from the first period to
// rebuild up to 12. Until the calendar has been read it has no bounds at all;
// any index outside the bounds (and any bound of an array without bounds)
// raises AppError(kSubscriptOutOfRange, "下标越界").
class PeriodArray
{
public:
    // Replaces the whole array by lower..upper with zero dates. Throws
    // "下标越界" and keeps the old array when lower > upper.
    void resize(int lower, int upper);
    // Back to an array without bounds.
    void clear();
    bool hasBounds() const { return !m_spans.isEmpty(); }
    int lowerBound() const;
    int upperBound() const;

    PeriodSpan &operator[](int period);
    const PeriodSpan &operator[](int period) const;

private:
    void checkIndex(int period) const;

    int m_lower = 0;
    QVector<PeriodSpan> m_spans;
};

// The calendar of the current run (written by LoadPeriods) and the start date
// of the fixed-asset module (written by the run button before it).
extern PeriodArray Periods;
extern QDateTime FaStartDate;

// Reads the periods of an account set and year from ua_period on SysConn,
// from the first period that ends on or after FaStartDate up to 12. True when
// Periods holds them and both WorkRs and SysConn have been closed. False, with
// the reason in *problem (one line naming the period and the value at fault;
// the database's text when the query fails, empty when SysConn is not open),
// when:
// - the query does not open;
// - a row before the first period has an end date that cannot be read (it
//   might be the period the module starts in);
// - no period ends on or after the start date, or the first that does lies
//   outside periods 1 to 12;
// - a period from the first up to 12 is missing, repeated or has a period
//   number that is not a whole number;
// - one of its dates is empty or cannot be read, it begins after it ends, or
//   it does not begin after the period before it has ended.
// On false the connection stays open, and Periods holds what was read up to
// the fault (or its old calendar when no first period was found). Shows
// nothing.
bool LoadPeriods(const QString &account, const QString &year, QString *problem = nullptr);

// What LoadPeriods calls once per period so that the window stays alive
// (the window sets it to let its pending events run). Does nothing by default;
// an empty function restores that.
void setPendingEventsHandler(std::function<void()> handler);

} // namespace fa
