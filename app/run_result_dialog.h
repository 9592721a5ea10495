#pragma once

#include "ledger/change_report.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QList>
#include <QStringList>

class QTableView;

namespace fa {

class Dialogs;

// Writes the report as fatotal-rebuild --changes writes it for one
// account-year: the same CSV, into a temporary file beside the target that
// takes its place only once complete. False, with the reason, when the target
// is or leads to one of the databases or to any database file (which stays
// untouched), or when the file cannot be written.
bool SaveChangeReport(const QString &target, const ChangeReport &changes,
                      const QStringList &databases, QString *reason);

// A read-only table that selects whole rows, with rows of one height that
// are never measured: a list of a hundred thousand lines opens at once.
void SetUpListView(QTableView *view);
// Sets each column as wide as its heading and the first thousand rows need,
// up to a limit; the total width.
int FitColumns(QTableView *view);
// Resizes a dialog to size, within the screen of parent, so that its buttons
// are always in view.
void ResizeWithinScreen(QDialog *dialog, QSize size, QWidget *parent);

// The lines of a change report as a table: 变动, 部门, 类别, 期间, 项目, 原值,
// 新值. Sorting reorders a list of line numbers, never the lines, so that
// even a report of a hundred thousand lines sorts at once.
class ChangeTableModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Kind, Dept, Type, Period, Item, OldValue, NewValue, ColumnCount };

    explicit ChangeTableModel(ChangeReport report, QObject *parent = nullptr);

    const ChangeReport &report() const { return m_report; }
    // The text of a cell by row as shown, whatever the order.
    QString text(int row, int column) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Periods and values by number, the rest by text; lines that compare
    // equal keep the report's order. A column of -1 restores that order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    ChangeReport m_report;
    QList<qsizetype> m_order; // the line shown in each row
};

// What a completed run says: the text and, when fa_Total changed, the table
// of the changes with "保存…" to write it as a CSV file.
class RunResultDialog final : public QDialog
{
    Q_OBJECT

public:
    // databases: the files the program has open, never a place for the report.
    RunResultDialog(const QString &text, const ChangeReport &changes, Dialogs &dialogs,
                    QStringList databases, QWidget *parent = nullptr);

private:
    void save();

    Dialogs &m_dialogs;
    QStringList m_databases;
    ChangeTableModel *m_model = nullptr;
};

} // namespace fa
