#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace fa {

// One real rebuild of fa_Total, as the history keeps it.
struct RunRecord
{
    QDateTime time; // local; kept as ISO 8601 with its offset
    QString user, computer;
    QString mode;     // "ACCESS" or "SQL"
    QString database; // the file's absolute path, or server and catalog
    QString account, year;
    QString outcome; // "完成", "已停止" or the message that stopped it
    qint64 added = 0, removed = 0, changed = 0;
    double seconds = 0;
    QByteArray changeReportCsv;
    bool keptTable = false; // the run saved the table it replaced
    qint64 id = 0;          // given by recordRun
};

// fa_Total before a run, values exactly as the provider returned them.
struct SavedTable
{
    QStringList columns;
    QList<QVariantList> rows;
};

// How many runs of one database, account set and year the history keeps.
inline constexpr int kRunsKept = 50;

// The history lives in history.db under stateDirectory(); each call opens it
// on its own, so that several programs may record at once.

// Records a run with the table it replaced, in one transaction, then forgets
// the oldest runs of the same database, account set and year beyond the last
// kRunsKept. Fills record.id.
bool recordRun(RunRecord &record, const SavedTable &oldTotals, QString *error);
// Changes the outcome of a recorded run: one that was recorded before its
// commit and then did not commit after all.
bool amendOutcome(qint64 id, const QString &outcome, QString *error);
// Runs of the given account sets and years (an empty list takes all), newest
// first, without their change reports.
bool listRuns(const QStringList &accounts, const QStringList &years, QList<RunRecord> *out,
              QString *error);
// One run in full with the table it replaced (no columns when the run saved
// none; not read when oldTotals is null). *missing tells a record that is not there from a store
// that cannot be read.
bool loadRun(qint64 id, RunRecord *record, SavedTable *oldTotals, QString *error,
             bool *missing = nullptr);

// The history as CSV (RFC 4180): the header, then one line per run, each
// without its line end.
QString historyCsvHeader();
QString historyCsvLine(const RunRecord &record);

} // namespace fa
