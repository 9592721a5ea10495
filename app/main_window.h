#pragma once

#include "ledger/account_year.h"

#include <QLineEdit>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <functional>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTimer;

namespace fa {

class Dialogs;
class RecalcUi;

// Start-up: true when no other copy of the program runs. Otherwise shows
// "只能运行一个事例" and answers false; the caller then ends at once without
// showing a window.
bool claimSingleInstance(Dialogs &dialogs);

// The server name inside a SQL Server connection string: the text between
// the last "=" before the last ";Password" and that ";Password"; empty for a
// text without ";Password".
QString ServerFromConnStr(const QString &connectionString);

// The folder of the system database: the platform's system directory, or
// empty text when it cannot be obtained.
QString SystemDirectory();

// A list value as FillCombo accepts it: a number, or a text that reads as one
// (blanks around it, a sign, decimals, an exponent, &H/&O whole numbers);
// null and empty text are not numeric.
bool IsNumericValue(const QVariant &value);

// The box of the account-year database's path: read-only but not greyed
// out, the whole path as its tooltip. text() is always the whole path; the
// box shows it shortened in the middle when it does not fit, so that both the
// folder's start and the file name stay in view, and whole while it has the
// focus, to scroll through and copy.
class PathBox final : public QLineEdit
{
public:
    explicit PathBox(QWidget *parent = nullptr);
    // What the box shows while it does not have the focus.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect textArea() const;
};

// The main window: mode, system database, account set and year.
class frmMain : public QWidget
{
    Q_OBJECT

public:
    explicit frmMain(Dialogs &dialogs, QWidget *parent = nullptr);
    ~frmMain() override;

    QLabel *lblLabels(int index) const;
    QPushButton *cmdDo() const { return m_cmdDo; }
    QStatusBar *StatusBar1() const { return m_statusBar; }
    QComboBox *cmbAcc() const { return m_cmbAcc; }
    QComboBox *cmbYear() const { return m_cmbYear; }
    QLabel *Label1() const { return m_label1; }
    QLineEdit *txtCurdb() const { return m_txtCurdb; }
    QPushButton *cmdExit() const { return m_cmdExit; }
    QRadioButton *IsSQL(int index) const;
    QPushButton *CmdRefresh() const { return m_cmdRefresh; }
    QTimer *Timer1() const { return m_timer; }
    // Shown over the status bar while a run is under way.
    QProgressBar *runProgress() const { return m_progress; }
    // Text of a status bar panel, 1 to 3.
    QString panelText(int panel) const;

    // Replaces the combo box's list with the numeric first-column values of
    // the query on SysConn and selects the first, which runs that list's
    // click handler before returning.
    void FillCombo(QComboBox *combo, const QString &sql);

public slots:
    void Form_Load();
    void Form_Unload();
    void IsSQL_Click(int Index);
    void Timer1_Timer();
    void txtCurdb_Change();
    void cmdExit_Click();
    void CmdRefresh_Click();
    void cmbAcc_Click();
    void cmbYear_Click();
    // The run button; the recalculation command fills it.
    void cmdDo_Click();
    // Ctrl+H: the history of the chosen account set and year, from which
    // the operator may restore the fa_Total a run replaced.
    void showHistory();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showError(const QString &text);
    // The close box or Esc during a run: asks whether to stop it, and stops
    // it (closing the window afterwards when the close box asked).
    void askToStop(bool closeAfterwards);
    using AccountYearCommand =
        std::function<void(const QString &account, const QString &year, RecalcUi &ui)>;
    // Runs a command on the chosen account-year on a worker thread, the
    // window idle meanwhile; stopQuestion is what Esc and the close box ask.
    void runCommand(const QString &stopQuestion, const AccountYearCommand &command);

    Dialogs &m_dialogs;
    bool m_running = false; // a run is under way (the calendar lets events through)
    bool m_askingToStop = false;
    bool m_closeAfterRun = false;
    QString m_stopQuestion;
    QProgressBar *m_progress = nullptr;
    QLabel *m_lblLabels[2] = {};
    QPushButton *m_cmdDo = nullptr;
    QStatusBar *m_statusBar = nullptr;
    QLabel *m_panels[3] = {};
    QComboBox *m_cmbAcc = nullptr;
    QComboBox *m_cmbYear = nullptr;
    QLabel *m_label1 = nullptr;
    QLineEdit *m_txtCurdb = nullptr;
    QPushButton *m_cmdExit = nullptr;
    QRadioButton *m_isSql[2] = {};
    QPushButton *m_cmdRefresh = nullptr;
    QTimer *m_timer = nullptr;
    bool m_unloaded = false;
};

} // namespace fa
