#include "app/run_result_dialog.h"

#include "app/dialogs.h"
#include "tools/report_file.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>
#include <vector>

namespace fa {

namespace {

bool isNumeric(int column)
{
    return column == ChangeTableModel::Period || column == ChangeTableModel::OldValue ||
           column == ChangeTableModel::NewValue;
}

const QString &field(const ChangeReport::Line &line, int column)
{
    switch (column) {
    case ChangeTableModel::Dept:
        return line.dept;
    case ChangeTableModel::Type:
        return line.type;
    case ChangeTableModel::Period:
        return line.period;
    case ChangeTableModel::Item:
        return line.column;
    case ChangeTableModel::OldValue:
        return line.oldValue;
    case ChangeTableModel::NewValue:
        return line.newValue;
    default:
        return line.change;
    }
}

QString kindText(const QString &change)
{
    if (change == QLatin1String("added"))
        return QStringLiteral("新增");
    if (change == QLatin1String("removed"))
        return QStringLiteral("删除");
    if (change == QLatin1String("changed"))
        return QStringLiteral("修改");
    return change;
}

// A cell's place in a numeric column: empty first, then numbers by value,
// then whatever else was stored there, by text.
struct NumericKey
{
    int rank = 0;
    double number = 0;
};

NumericKey numericKey(const QString &text)
{
    if (text.isEmpty())
        return {};
    bool ok = false;
    const double number = text.toDouble(&ok);
    return ok ? NumericKey{1, number} : NumericKey{2, 0};
}

} // namespace

bool SaveChangeReport(const QString &target, const ChangeReport &changes,
                      const QStringList &databases, QString *reason)
{
    if (!reportTargetProblem(target, databases).isEmpty()) {
        *reason = QStringLiteral("这是数据库文件");
        return false;
    }
    const QByteArray bytes = (ChangeReport::csvHeader() + changes.csvLines()).toUtf8();
    ReportFile file;
    if (!file.open(target, reason))
        return false;
    if (!file.append(bytes, reason)) {
        file.discard();
        return false;
    }
    return file.commit(reason);
}

ChangeTableModel::ChangeTableModel(ChangeReport report, QObject *parent)
    : QAbstractTableModel(parent), m_report(std::move(report)), m_order(m_report.lines.size())
{
    std::iota(m_order.begin(), m_order.end(), qsizetype(0));
}

QString ChangeTableModel::text(int row, int column) const
{
    const ChangeReport::Line &line = m_report.lines.at(m_order.at(row));
    return column == Kind ? kindText(line.change) : field(line, column);
}

int ChangeTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_order.size());
}

int ChangeTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ChangeTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole && isNumeric(index.column()))
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant ChangeTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const QStringList headings{QStringLiteral("变动"), QStringLiteral("部门"),
                                      QStringLiteral("类别"), QStringLiteral("期间"),
                                      QStringLiteral("项目"), QStringLiteral("原值"),
                                      QStringLiteral("新值")};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return headings.value(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void ChangeTableModel::sort(int column, Qt::SortOrder order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<qsizetype> lines;
    for (const QModelIndex &index : before)
        lines << m_order.at(index.row());

    std::iota(m_order.begin(), m_order.end(), qsizetype(0));
    const QList<ChangeReport::Line> &all = m_report.lines;
    // Equal cells keep the report's order both ways: descending compares
    // with the sides swapped rather than reversing the result.
    const auto sorted = [&](auto less) {
        if (order == Qt::AscendingOrder)
            std::stable_sort(m_order.begin(), m_order.end(), less);
        else
            std::stable_sort(m_order.begin(), m_order.end(),
                             [&less](qsizetype a, qsizetype b) { return less(b, a); });
    };
    if (isNumeric(column)) {
        std::vector<NumericKey> keys;
        keys.reserve(size_t(all.size()));
        for (const ChangeReport::Line &line : all)
            keys.push_back(numericKey(field(line, column)));
        sorted([&](qsizetype a, qsizetype b) {
            const NumericKey &x = keys[size_t(a)];
            const NumericKey &y = keys[size_t(b)];
            if (x.rank != y.rank)
                return x.rank < y.rank;
            if (x.rank == 1)
                return x.number < y.number;
            return x.rank == 2 && field(all.at(a), column) < field(all.at(b), column);
        });
    } else if (column == Kind) {
        sorted([&](qsizetype a, qsizetype b) {
            return kindText(all.at(a).change) < kindText(all.at(b).change);
        });
    } else if (column >= 0 && column < ColumnCount) {
        sorted([&](qsizetype a, qsizetype b) {
            return field(all.at(a), column) < field(all.at(b), column);
        });
    }

    QList<qsizetype> rowOf(m_order.size());
    for (qsizetype row = 0; row < m_order.size(); ++row)
        rowOf[m_order.at(row)] = row;
    QModelIndexList after;
    for (qsizetype i = 0; i < before.size(); ++i)
        after << index(int(rowOf.at(lines.at(i))), before.at(i).column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void SetUpListView(QTableView *view)
{
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view->horizontalHeader()->setStretchLastSection(true);
}

int FitColumns(QTableView *view)
{
    const QAbstractItemModel *model = view->model();
    const QFontMetrics metrics = view->fontMetrics();
    QHeaderView *header = view->horizontalHeader();
    const int sample = std::min(model->rowCount(), 1000);
    int total = 0;
    for (int column = 0; column < model->columnCount(); ++column) {
        int width = header->fontMetrics().horizontalAdvance(
                        model->headerData(column, Qt::Horizontal).toString()) +
                    3 * metrics.height();
        for (int row = 0; row < sample; ++row)
            width = std::max(
                width, metrics.horizontalAdvance(model->index(row, column).data().toString()) +
                           metrics.height());
        width = std::min(width, 24 * metrics.height());
        header->resizeSection(column, width);
        total += width;
    }
    return total;
}

void ResizeWithinScreen(QDialog *dialog, QSize size, QWidget *parent)
{
    if (const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    dialog->resize(size);
}

RunResultDialog::RunResultDialog(const QString &text, const ChangeReport &changes, Dialogs &dialogs,
                                 QStringList databases, QWidget *parent)
    : QDialog(parent), m_dialogs(dialogs), m_databases(std::move(databases))
{
    setWindowTitle(ProgramTitle());
    setSizeGripEnabled(true);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(text, this);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);

    auto *buttons = new QDialogButtonBox(this);
    if (changes.differs()) {
        m_model = new ChangeTableModel(changes, this);
        auto *view = new QTableView(this);
        view->setModel(m_model);
        SetUpListView(view);
        // Unsorted until a heading is clicked: the report's own order.
        view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
        view->setSortingEnabled(true);
        const int total = FitColumns(view);
        layout->addWidget(view, 1);
        QPushButton *save =
            buttons->addButton(QStringLiteral("保存…"), QDialogButtonBox::ActionRole);
        connect(save, &QPushButton::clicked, this, &RunResultDialog::save);
        const int unit = fontMetrics().height();
        ResizeWithinScreen(this, QSize(std::min(total + 4 * unit, 80 * unit), 30 * unit), parent);
    }
    QPushButton *ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

void RunResultDialog::save()
{
    const QString target = m_dialogs.saveFileName(
        this, QStringLiteral("保存变动清单"), QDir::homePath() + QStringLiteral("/变动清单.csv"),
        QStringLiteral("CSV 文件 (*.csv)"));
    if (target.isEmpty())
        return;
    QString reason;
    if (!SaveChangeReport(target, m_model->report(), m_databases, &reason))
        m_dialogs.message(this, QStringLiteral("无法保存变动清单：") +
                                    QDir::toNativeSeparators(target) + QLatin1Char('\n') + reason);
}

} // namespace fa
