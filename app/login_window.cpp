#include "app/login_window.h"

#include "app/input_blocker.h"
#include "app/login_attempt.h"
#include "app/startup.h"
#include "data/db_state.h"
#include "data/dialect.h"
#include "ledger/account_year.h"
#include "platform/platform.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QStatusBar>
#include <algorithm>

namespace fa {

namespace {

// The password box masks every character with "*", whatever the style's own
// mask character is.
class StarMaskStyle final : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return int(u'*');
        if (hint == SH_LineEdit_PasswordMaskDelay)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Hourglass and the controls out of use for the length of a verification,
// restored however the verification ends. 退出 is left usable: it gives the
// wait up.
class BusyWindow
{
public:
    explicit BusyWindow(QList<QWidget *> controls) : m_controls(std::move(controls))
    {
        for (QWidget *control : m_controls)
            control->setEnabled(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~BusyWindow()
    {
        QApplication::restoreOverrideCursor();
        for (QWidget *control : m_controls)
            control->setEnabled(true);
    }
    BusyWindow(const BusyWindow &) = delete;
    BusyWindow &operator=(const BusyWindow &) = delete;

private:
    QList<QWidget *> m_controls;
};

} // namespace

QString ComputerName()
{
    return platform().computerName();
}

QString SavedSaPassword()
{
    return platform().savedSaPassword();
}

frmLog::frmLog(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("SQLSERVER登录"));
    const Twips twips(*this);
    setFixedSize(twips(3210), twips(1350));

    m_label1 = new QLabel(QStringLiteral("服务器："), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(twips(120, 180, 1155, 180));

    m_txtServer = new QLineEdit(QStringLiteral("(local)"), this);
    m_txtServer->setObjectName(QStringLiteral("txtServer"));
    m_txtServer->setGeometry(twips(840, 120, 1320, 300));

    m_label3 = new QLabel(QStringLiteral("SA口令："), this);
    m_label3->setObjectName(QStringLiteral("Label3"));
    m_label3->setGeometry(twips(150, 630, 1275, 180));

    m_txtPassword = new QLineEdit(this);
    m_txtPassword->setObjectName(QStringLiteral("txtPassword"));
    m_txtPassword->setGeometry(twips(840, 570, 1335, 300));
    auto *mask = new StarMaskStyle;
    mask->setParent(this);
    m_txtPassword->setStyle(mask);
    m_txtPassword->setEchoMode(QLineEdit::Password);

    m_cmdlj = new QPushButton(QStringLiteral("验证"), this);
    m_cmdlj->setObjectName(QStringLiteral("cmdlj"));
    m_cmdlj->setGeometry(twips(2280, 120, 765, 345));
    m_cmdlj->setAutoDefault(false);

    m_cmdTc = new QPushButton(QStringLiteral("退出"), this);
    m_cmdTc->setObjectName(QStringLiteral("cmdTc"));
    m_cmdTc->setGeometry(twips(2280, 600, 765, 345));
    m_cmdTc->setAutoDefault(false);

    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("StatusBar1"));
    m_statusBar->setSizeGripEnabled(false);
    m_statusBar->setGeometry(0, height() - twips(315), width(), twips(315));
    m_panel = new QLabel(QStringLiteral("等待连接数据库"), m_statusBar);
    m_panel->setObjectName(QStringLiteral("Panel1"));
    m_panel->setWordWrap(true);
    m_statusBar->addWidget(m_panel, 1);

    setTabOrder(m_txtServer, m_txtPassword);
    setTabOrder(m_txtPassword, m_cmdlj);
    setTabOrder(m_cmdlj, m_cmdTc);
    m_txtServer->setFocus();

    connect(m_cmdlj, &QPushButton::clicked, this, &frmLog::cmdlj_Click);
    connect(m_cmdTc, &QPushButton::clicked, this, &frmLog::cmdTc_Click);

    Form_Load();
}

frmLog::~frmLog() = default;

QString frmLog::panelText() const
{
    return m_panel->text();
}

QString frmLog::SysConnStrFor(const QString &server, const QString &password)
{
    return SqlServerSystemConnStr(server, password);
}

void frmLog::Form_Load()
{
    // Without a readable computer name the box keeps "(local)", which still
    // names this machine's server.
    const QString computer = ComputerName();
    if (!computer.isEmpty())
        m_txtServer->setText(computer);
    // Selected whole, as showing the window would select it, but from the
    // end back to the start: a name longer than the box shows its start.
    const int length = int(m_txtServer->text().size());
    m_txtServer->setSelection(length, -length);
    m_txtPassword->setText(SavedSaPassword());
}

void frmLog::cmdlj_Click()
{
    BusyWindow busy({m_cmdlj, m_txtServer, m_txtPassword});
    // The server may keep the login waiting for up to three time-outs. Both
    // windows go on painting meanwhile; the operator's clicks and keys are
    // dropped, not carried out after it, but 退出 and the close box give the
    // wait up.
    const InputBlocker blocker(this, m_cmdTc);
    setPanelText(QStringLiteral("正在连接数据库..."));

    const QString connectionString = SysConnStrFor(m_txtServer->text(), m_txtPassword->text());
    if (!SysConn) {
        setPanelText(QStringLiteral("连接数据库失败"));
        return;
    }
    LoginAttempt attempt(connectionString);
    m_attempt = &attempt;
    const bool ended = attempt.wait();
    m_attempt = nullptr;
    if (!ended)
        return; // given up with the window: nothing of it is kept

    // The outcome is the one an open of SysConn itself would have left.
    RetryCount = attempt.retryCount();
    NoteFailureReason(attempt.failureReason());
    SysConn->TakeOver(attempt.connection());
    if (attempt.opened()) {
        setPanelText(QStringLiteral("连接数据库成功！"));
        SysConnStr = connectionString;
    } else {
        // The driver's words say why: a wrong password, a server that does
        // not answer, a missing driver.
        const QString reason = attempt.failureReason();
        setPanelText(QStringLiteral("连接数据库失败") +
                     (reason.isEmpty() ? QString() : QLatin1Char('\n') + reason));
    }
}

void frmLog::setPanelText(const QString &text)
{
    // The window is as tall as its status line needs: a failure's reason
    // takes lines of its own under the fixed words.
    const Twips twips(*this);
    const int drawnHeight = twips(1350);
    const int drawnBarHeight = twips(315);
    m_panel->setText(text);
    const int panelHeight = m_panel->heightForWidth(width() - 8);
    const int barHeight = std::max(drawnBarHeight, panelHeight + 4);
    setFixedSize(width(), drawnHeight - drawnBarHeight + barHeight);
    m_statusBar->setGeometry(0, height() - barHeight, width(), barHeight);
}

void frmLog::cmdTc_Click()
{
    close();
}

void frmLog::done(int result)
{
    if (m_attempt) {
        m_attempt->giveUp();
        m_gaveUp = true;
    }
    QDialog::done(result);
}

} // namespace fa
