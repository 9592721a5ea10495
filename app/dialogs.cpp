#include "app/dialogs.h"

#include "app/login_window.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace fa {

QString ProgramTitle()
{
    return QStringLiteral("固定资产总帐整理");
}

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
    box.exec();
}

QString WidgetDialogs::openFileName(QWidget *parent, const QString &title,
                                    const QString &initialDirectory, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, title, initialDirectory, filter);
}

void WidgetDialogs::login(QWidget *owner)
{
    frmLog window(owner);
    window.exec();
}

} // namespace fa
