#pragma once

#include "ledger/change_report.h"
#include "ledger/run_history.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;

namespace fa {

class ChangeTableModel;
class Dialogs;

// The records of RFC 4180 CSV text: a quoted field may hold commas, doubled
// quotes and line ends; records end in CRLF or LF, the last one may end in
// nothing. False, with the reason, when a quoted field does not end or a
// quote stands inside an unquoted field.
bool ParseCsv(const QString &text, QList<QStringList> *records, QString *error);

// A change report back from the CSV that ChangeReport::csvHeader() + csvLines()
// wrote. With its header line, the columns are found by name (leading columns
// of a batch are passed over); without it, they are taken in the order
// csvLines() writes them. Only the lines are filled, not the counts.
bool ChangeReportFromCsv(const QString &csv, ChangeReport *report, QString *error);

// A run's time as the history window shows it: local, yyyy-MM-dd HH:mm:ss.
QString RunTimeText(const RunRecord &run);

// The rebuilds of one account set and year, newest first, with what the
// selected one changed below. "恢复…" asks whether to put back the fa_Total
// that run replaced and, on yes, closes with that record chosen.
class HistoryDialog final : public QDialog
{
    Q_OBJECT

public:
    HistoryDialog(const QString &account, const QString &year, QList<RunRecord> runs,
                  Dialogs &dialogs, QWidget *parent = nullptr);

    // The record to restore once closed by 恢复…; 0 otherwise.
    qint64 chosenRun() const { return m_chosen; }
    QTableWidget *runList() const { return m_runs; }
    // What the selected run changed, as shown; null before one is shown.
    const ChangeTableModel *changes() const { return m_changes; }
    QPushButton *restoreButton() const { return m_restore; }

private:
    void showRun(int row);
    void restore();

    Dialogs &m_dialogs;
    QList<RunRecord> m_records;
    QTableWidget *m_runs = nullptr;
    QLabel *m_runText = nullptr;
    QTableView *m_changeView = nullptr;
    ChangeTableModel *m_changes = nullptr;
    QPushButton *m_restore = nullptr;
    qint64 m_shown = 0;   // the record whose changes are below
    bool m_saved = false; // that record kept the table it replaced
    qint64 m_chosen = 0;
};

} // namespace fa
