#include "app/history_dialog.h"

#include "app/dialogs.h"
#include "app/run_result_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace fa {

namespace {

enum RunColumn { Id, Time, User, Computer, Outcome, Added, Removed, Changed, Seconds, Database };

const QStringList &runHeadings()
{
    static const QStringList headings{QStringLiteral("记录"),       QStringLiteral("时间"),
                                      QStringLiteral("用户"),       QStringLiteral("计算机"),
                                      QStringLiteral("结果"),       QStringLiteral("新增"),
                                      QStringLiteral("删除"),       QStringLiteral("修改"),
                                      QStringLiteral("用时（秒）"), QStringLiteral("数据库")};
    return headings;
}

QStringList runCells(const RunRecord &run)
{
    return {QString::number(run.id),
            RunTimeText(run),
            run.user,
            run.computer,
            run.outcome,
            QString::number(run.added),
            QString::number(run.removed),
            QString::number(run.changed),
            QString::number(run.seconds, 'f', 1),
            run.database};
}

bool isNumber(int column)
{
    return column == Id || (column >= Added && column <= Seconds);
}

} // namespace

QString RunTimeText(const RunRecord &run)
{
    return run.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

HistoryDialog::HistoryDialog(const QString &account, const QString &year, QList<RunRecord> runs,
                             Dialogs &dialogs, QWidget *parent)
    : QDialog(parent), m_dialogs(dialogs), m_records(std::move(runs))
{
    setWindowTitle(QStringLiteral("整理记录 - ") + ProgramTitle());
    setSizeGripEnabled(true);
    auto *layout = new QVBoxLayout(this);
    auto *heading = new QLabel(
        m_records.isEmpty()
            ? QStringLiteral("帐套 %1 %2 年还没有整理记录。").arg(account, year)
            : QStringLiteral("帐套 %1 %2 年的整理记录，最近的在前；选中一次整理，下面是它的变动。")
                  .arg(account, year),
        this);
    layout->addWidget(heading);

    m_runs = new QTableWidget(int(m_records.size()), int(runHeadings().size()), this);
    m_runs->setObjectName(QStringLiteral("runList"));
    m_runs->setHorizontalHeaderLabels(runHeadings());
    SetUpListView(m_runs);
    m_runs->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int row = 0; row < m_records.size(); ++row) {
        const QStringList cells = runCells(m_records.at(row));
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            if (isNumber(column))
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_runs->setItem(row, column, item);
        }
    }
    const int runsWidth = FitColumns(m_runs);

    auto *below = new QWidget(this);
    auto *belowLayout = new QVBoxLayout(below);
    belowLayout->setContentsMargins(0, 0, 0, 0);
    m_runText = new QLabel(below);
    m_runText->setTextFormat(Qt::PlainText);
    m_runText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_changeView = new QTableView(below);
    m_changeView->setObjectName(QStringLiteral("changeList"));
    SetUpListView(m_changeView);
    belowLayout->addWidget(m_runText);
    belowLayout->addWidget(m_changeView, 1);

    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(m_runs);
    splitter->addWidget(below);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 2);
    layout->addWidget(splitter, 1);

    auto *buttons = new QDialogButtonBox(this);
    m_restore = buttons->addButton(QStringLiteral("恢复…"), QDialogButtonBox::ActionRole);
    m_restore->setObjectName(QStringLiteral("restore"));
    m_restore->setEnabled(false);
    QPushButton *close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    close->setDefault(true);
    connect(m_restore, &QPushButton::clicked, this, &HistoryDialog::restore);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(m_runs, &QTableWidget::currentCellChanged, this, [this](int row) { showRun(row); });
    if (!m_records.isEmpty())
        m_runs->selectRow(0);
    else
        below->hide();

    const int unit = fontMetrics().height();
    ResizeWithinScreen(
        this, QSize(std::clamp(runsWidth + 4 * unit, 50 * unit, 80 * unit), 34 * unit), parent);
}

void HistoryDialog::showRun(int row)
{
    m_restore->setEnabled(false);
    m_shown = 0;
    m_saved = false;
    QAbstractItemModel *old = m_changes;
    m_changes = nullptr;
    if (row < 0 || row >= m_records.size()) {
        m_runText->clear();
        m_changeView->setModel(nullptr);
        delete old;
        return;
    }
    // The report only: the table the run replaced is read when it is restored.
    RunRecord run;
    QString error;
    ChangeReport report;
    const qint64 id = m_records.at(row).id;
    if (!loadRun(id, &run, nullptr, &error)) {
        m_runText->setText(QStringLiteral("读取整理记录 %1 出错：%2").arg(id).arg(error));
    } else if (!ChangeReport::fromCsv(QString::fromUtf8(run.changeReportCsv), &report)) {
        m_runText->setText(QStringLiteral("整理记录 %1 的变动清单有误").arg(id));
    } else {
        report.added = int(run.added);
        report.removed = int(run.removed);
        report.changedRows = int(run.changed);
        m_shown = id;
        m_saved = run.keptTable;
        m_runText->setText(
            m_saved
                ? QStringLiteral("整理记录 %1 的变动：%2").arg(id).arg(report.summary())
                : QStringLiteral("整理记录 %1 没有完成，没有保存 fa_Total，不能恢复。").arg(id));
    }
    m_changes = new ChangeTableModel(std::move(report), this);
    m_changeView->setModel(m_changes);
    delete old;
    FitColumns(m_changeView);
    m_restore->setEnabled(m_saved);
}

void HistoryDialog::restore()
{
    const auto run = std::find_if(m_records.cbegin(), m_records.cend(),
                                  [this](const RunRecord &r) { return r.id == m_shown; });
    if (!m_saved || run == m_records.cend())
        return;
    if (!m_dialogs.question(this,
                            QStringLiteral("恢复 %1 整理前 的 fa_Total？").arg(RunTimeText(*run))))
        return;
    m_chosen = m_shown;
    accept();
}

} // namespace fa
