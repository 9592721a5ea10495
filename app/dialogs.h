#pragma once

#include <QString>

class QWidget;

namespace fa {

// The program's title: the caption of every message box it shows.
QString ProgramTitle();

// A file-dialog filter written as description|pattern pairs
// ("Korvane系统数据库|kvsystem*.*") in the form Qt's file dialogs take
// ("Korvane系统数据库 (kvsystem*.*)", entries joined by ";;").
QString QtFileFilter(const QString &barFilter);

// Everything modal the windows show. The windows receive one of these, so that
// tests can answer the dialogs instead of a person.
class Dialogs
{
public:
    virtual ~Dialogs() = default;
    // A message box with the OK button only, no icon and ProgramTitle() as
    // caption; returns when it has been closed.
    virtual void message(QWidget *parent, const QString &text) = 0;
    // The file-open dialog; the chosen file's path, or empty text when the
    // operator cancels. The filter is in Qt's form (see QtFileFilter).
    virtual QString openFileName(QWidget *parent, const QString &title,
                                 const QString &initialDirectory, const QString &filter) = 0;
    // Shows the SQL Server login window frmLog modally, owned by owner;
    // returns when it has been closed.
    virtual void login(QWidget *owner) = 0;
};

// The real thing: QMessageBox, QFileDialog and frmLog::exec().
class WidgetDialogs final : public Dialogs
{
public:
    void message(QWidget *parent, const QString &text) override;
    QString openFileName(QWidget *parent, const QString &title, const QString &initialDirectory,
                         const QString &filter) override;
    void login(QWidget *owner) override;
};

} // namespace fa
