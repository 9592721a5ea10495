#pragma once

#include <QString>
#include <QStringList>

namespace fa {

// The ten steps of a period. SelectCards, BuildPeriodSums and FoldSums of one
// step are called with the same number; the driver runs 9, 10, 1 … 8 for each
// period and 10 once more with period 0 after the last one.
enum StepKind : int {
    MonthOpening = 1,   // cards as they stood before the period began
    PeriodClosing = 2,  // cards as they stood at its end
    Additions = 3,      // codes 1, 2 entered and 7, 9 dated in the period
    Decreases = 4,      // code 3 disposed and 6, 8 dated in the period
    ValueIncrease = 5,  // code 4, with its change voucher
    ValueDecrease = 6,  // code 5, with its change voucher
    DeprTransfer = 7,   // code 11
    Revaluation = 8,    // code 18, with its evaluation voucher
    PreviousPeriod = 9, // the previous period's figures from fa_Total
    YearOpening = 10,   // code 1 entries of the year so far; period 0: the opening state
};

// Fills fq with the card record ids that a step needs (kinds 1 to 8; a kind
// below 1 selects as kind 2). Empties fq first; an error of that delete is not
// caught. True when the selection was inserted; false for kind 9 or above
// (fq stays empty), for a period outside Periods, and when the insert fails
// (an error in the command is tried three times in all, emptying fq before
// each new try). Leaves the statement in SqlText and the failed tries in
// RetryCount.
bool SelectCards(qint32 period, int kind);

// Fills fqsum with one row of sums per department and asset type (kind 9: one
// row per fa_Total row of the source period). Empties fqsum first. The delete
// and the assembly of the text (its look-up in Periods included) are not
// guarded: their errors reach the caller. False for a kind outside 1 to 10 and
// when the insert fails, retried as in SelectCards.
bool BuildPeriodSums(qint32 period, int kind);

// Applies fqsum to the matching rows of fa_Total with one joined UPDATE. False
// for a kind outside 1 to 10 (nothing is sent) and when the statement fails;
// no error escapes and none is retried.
bool FoldSums(qint32 period, int kind);

// The statements the operations send, built from the string table, the
// dialect of IsAccess and the dates in Periods. An empty text where the
// operation sends none (SelectCards: kinds 9 and above; BuildPeriodSums and
// FoldSums: kinds outside 1 to 10). SelectCardsStatement and
// PeriodSumsStatement throw "下标越界" for a period they must look up in
// Periods and that lies outside it.
QString SelectCardsStatement(qint32 period, int kind);
QString PeriodSumsStatement(qint32 period, int kind);
QString FoldSumsStatement(qint32 period, int kind);

// The removal of the rows of a period that end it without opening count,
// closing count, additions and decreases (strings 110 and 114).
QString EmptyRowsStatement(int period);

// Executes SqlText on AccConn as a guarded step: RetryCount is set to 0; on an
// error in the command (kErrorsInCommand) `cleanup` is executed and the
// statement is tried again while RetryAgain(RetryCount) allows, three tries in
// all; any other error answers false at once. An error of `cleanup` itself
// reaches the caller. True when the statement ran.
bool ExecuteGuarded(const QString &cleanup);

// Statements that go to AccConn many at a time: a server takes a hundred in
// one round trip (some 20 KB), the file database one statement at a time.
// Each batch is left in SqlText as it is sent; a failing one throws.
class StatementBatch
{
public:
    void add(const QString &statement);
    // Sends what is left.
    void send();

private:
    QStringList m_statements;
};

} // namespace fa
