#pragma once

#include <QString>

class QWidget;

namespace fa {

struct ChangeReport;

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
    // The file-save dialog, starting at suggestedPath; the chosen path, or
    // empty text when the operator cancels. Unless answered otherwise, it is
    // cancelled.
    virtual QString saveFileName(QWidget *parent, const QString &title,
                                 const QString &suggestedPath, const QString &filter)
    {
        (void)parent;
        (void)title;
        (void)suggestedPath;
        (void)filter;
        return {};
    }
    // Shows the SQL Server login window frmLog modally, owned by owner;
    // returns when it has been closed: false when the operator closed it
    // while it waited for the server, giving the login up.
    virtual bool login(QWidget *owner) = 0;
    // A message box as message(), with a "显示详细信息" section holding
    // details (nothing more when they are empty).
    virtual void detailedMessage(QWidget *parent, const QString &text, const QString &details)
    {
        (void)details;
        message(parent, text);
    }
    // The end of a completed run: the text, and what changed in fa_Total as
    // a table that can be saved as the CSV of fatotal-rebuild --changes.
    // Unless shown otherwise, a detailedMessage with the summary and that CSV.
    virtual void runResult(QWidget *owner, const QString &text, const ChangeReport &changes);
    // A yes/no question with ProgramTitle() as caption; true for yes. Unless
    // answered otherwise, the answer is no: nothing is given up by default.
    virtual bool question(QWidget *parent, const QString &text)
    {
        (void)parent;
        (void)text;
        return false;
    }
    // The history of rebuilds of one account set and year (Ctrl+H), owned by
    // owner: the record whose old fa_Total the operator chose to restore, or
    // 0. Unless answered otherwise, nothing is chosen.
    virtual qint64 history(QWidget *owner, const QString &account, const QString &year)
    {
        (void)owner;
        (void)account;
        (void)year;
        return 0;
    }
};

// The real thing: QMessageBox, QFileDialog, RunResultDialog, HistoryDialog and
// frmLog::exec().
class WidgetDialogs final : public Dialogs
{
public:
    void message(QWidget *parent, const QString &text) override;
    QString openFileName(QWidget *parent, const QString &title, const QString &initialDirectory,
                         const QString &filter) override;
    bool login(QWidget *owner) override;
    bool question(QWidget *parent, const QString &text) override;
    void detailedMessage(QWidget *parent, const QString &text, const QString &details) override;
    QString saveFileName(QWidget *parent, const QString &title, const QString &suggestedPath,
                         const QString &filter) override;
    void runResult(QWidget *owner, const QString &text, const ChangeReport &changes) override;
    qint64 history(QWidget *owner, const QString &account, const QString &year) override;
};

} // namespace fa
