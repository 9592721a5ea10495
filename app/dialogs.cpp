#include "app/dialogs.h"

#include "app/history_dialog.h"
#include "app/login_window.h"
#include "app/run_result_dialog.h"
#include "app/startup.h"
#include "data/conn_strings.h"
#include "data/db_state.h"
#include "ledger/change_report.h"
#include "ledger/run_history.h"

#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStringList>

namespace fa {

QString ProgramTitle()
{
    return QStringLiteral("固定资产总帐整理");
}

namespace {

// Qt sizes a box for its text and allows for a caption only in its own font;
// the frame draws the caption bold in the desktop's larger font beside its
// icon and buttons, and cuts it to "固… 理". An empty row as wide as all that
// widens the box. Call once the box has all its parts, before it shows:
// showing sizes it from its layout.
void fitCaption(QMessageBox &box)
{
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    if (!grid)
        return;
    QFont titleFont = desktopFont();
    titleFont.setBold(true);
    const QFontMetrics metrics(titleFont);
    const int width = metrics.horizontalAdvance(box.windowTitle()) + 6 * metrics.height();
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace

QString QtFileFilter(const QString &barFilter)
{
    const QStringList parts = barFilter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        entries << parts.at(i) + QStringLiteral(" (") + parts.at(i + 1) + QLatin1Char(')');
    return entries.join(QStringLiteral(";;"));
}

void WidgetDialogs::message(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, ProgramTitle(), text, QMessageBox::Ok, parent);
    fitCaption(box);
    box.exec();
}

QString WidgetDialogs::openFileName(QWidget *parent, const QString &title,
                                    const QString &initialDirectory, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, title, initialDirectory, filter);
}

QString WidgetDialogs::saveFileName(QWidget *parent, const QString &title,
                                    const QString &suggestedPath, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, title, suggestedPath, filter);
}

void Dialogs::runResult(QWidget *owner, const QString &text, const ChangeReport &changes)
{
    QString table = ChangeReport::csvHeader() + changes.csvLines();
    table.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    detailedMessage(owner, text, changes.summary() + QStringLiteral("\n\n") + table);
}

void WidgetDialogs::runResult(QWidget *owner, const QString &text, const ChangeReport &changes)
{
    // The files the program has open are never a place for the report.
    QStringList databases;
    if (IsAccess) {
        for (const QString *connection : {&SysConnStr, &AccConnStr}) {
            if (const QString path = jetDataSource(*connection); !path.isEmpty())
                databases << path;
        }
    }
    RunResultDialog dialog(text, changes, *this, databases, owner);
    dialog.exec();
}

void WidgetDialogs::detailedMessage(QWidget *parent, const QString &text, const QString &details)
{
    QMessageBox box(QMessageBox::NoIcon, ProgramTitle(), text, QMessageBox::Ok, parent);
    box.setDetailedText(details);
    fitCaption(box);
    box.exec();
}

bool WidgetDialogs::question(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Question, ProgramTitle(), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    fitCaption(box);
    return box.exec() == QMessageBox::Yes;
}

qint64 WidgetDialogs::history(QWidget *owner, const QString &account, const QString &year)
{
    QList<RunRecord> runs;
    QString error;
    if (!listRuns({account}, {year}, &runs, &error)) {
        message(owner, QStringLiteral("读取整理记录出错\n") + error);
        return 0;
    }
    HistoryDialog dialog(account, year, std::move(runs), *this, owner);
    dialog.exec();
    return dialog.chosenRun();
}

bool WidgetDialogs::login(QWidget *owner)
{
    frmLog window(owner);
    window.exec();
    return !window.gaveUp();
}

} // namespace fa
