#pragma once

#include "data/conn_strings.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace fa {

class LoginAttempt;

// The computer name, and the password the accounting system saved for sa.
QString ComputerName();
QString SavedSaPassword();

// The SQL Server login window. Each display is a fresh window: the boxes are
// filled at construction. A successful verification leaves SysConn open and
// its string in SysConnStr; a failed one leaves SysConnStr as it was, and so
// does one given up by closing the window while it waits.
class frmLog : public QDialog
{
    Q_OBJECT

public:
    explicit frmLog(QWidget *owner = nullptr);
    ~frmLog() override;

    // The string a verification opens: the template with the server and the
    // catalog KVSYSTEM filled in, and the password appended as typed.
    static QString SysConnStrFor(const QString &server, const QString &password);
    // True once the operator closed the window while it waited for a server.
    bool gaveUp() const { return m_gaveUp; }

    QLabel *Label1() const { return m_label1; }
    QLineEdit *txtServer() const { return m_txtServer; }
    QLabel *Label3() const { return m_label3; }
    QLineEdit *txtPassword() const { return m_txtPassword; }
    QPushButton *cmdlj() const { return m_cmdlj; }
    QPushButton *cmdTc() const { return m_cmdTc; }
    QStatusBar *StatusBar1() const { return m_statusBar; }
    // The text of the status bar's one panel.
    QString panelText() const;

    // However the window is closed, a verification waiting in it is given up.
    void done(int result) override;

public slots:
    void Form_Load();
    void cmdlj_Click();
    void cmdTc_Click();

private:
    void setPanelText(const QString &text);

    LoginAttempt *m_attempt = nullptr;
    bool m_gaveUp = false;
    QLabel *m_label1 = nullptr;
    QLineEdit *m_txtServer = nullptr;
    QLabel *m_label3 = nullptr;
    QLineEdit *m_txtPassword = nullptr;
    QPushButton *m_cmdlj = nullptr;
    QPushButton *m_cmdTc = nullptr;
    QStatusBar *m_statusBar = nullptr;
    QLabel *m_panel = nullptr;
};

} // namespace fa
