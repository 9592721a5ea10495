#pragma once

// Fixtures of the rebuild tests: a recorder for what the run tells the
// operator, exact dumps of a database file's tables, failures injected into
// the n-th statement of a kind, and a small hand-checked ledger.

#include "fixtures.h"
#include "ledger/recalc_ui.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

namespace fa::test {

// Records every call in order: "message:<text>", "busy:on", "busy:off",
// "enableRun", "period:<n>".
class RecordingUi final : public RecalcUi
{
public:
    QStringList events;
    QStringList messages;
    QList<int> periods;

    void showMessage(const QString &text) override;
    void setBusy(bool busy) override;
    void enableRun() override;
    void periodDone(int period) override;
};

// Every row of a table of a database file, read with SQLite itself (not
// through the program's data layer): one line per row, each value as its
// storage class and exact text, lines sorted; the column names first.
QStringList dumpTable(const QString &path, const QString &table);
// Every table of the file but the work tables fq and fqsum, by name.
QMap<QString, QStringList> dumpTables(const QString &path);

// Makes the n-th statement (counting from 1) that satisfies `matches` fail
// with `number`; every other statement runs.
void failNth(StatementLog &log, std::function<bool(const QString &)> matches, int n, qint32 number);
// A matcher: the statement starts with `head` (in any letter case).
std::function<bool(const QString &)> startsWith(const QString &head);

// A per-period column family for n = 0..12 ("dblDeprT0" … "dblDeprT12").
QVariantMap family(const QString &name, const std::function<double(int)> &value);

// The small ledger of the rebuild tests, year 2002, module start 10 May (so
// periods 5 to 12 are rebuilt): seven cards in two departments and two asset
// types, with an outdated fa_Total. The figures it leads to are worked out by
// hand in tst_rebuild.
void fillSmallLedger(AccountYearDb &db, const QString &numberSuffix = {});
// The AccInformation rows the run button reads; a null text leaves the row out.
void addInformation(AccountYearDb &db, const QString &versionFlag, const QString &startDate);

} // namespace fa::test
