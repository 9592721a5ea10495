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
