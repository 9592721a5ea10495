#include "app/main_window.h"

#include "app/dialogs.h"
#include "app/startup.h"
#include "data/db_state.h"
#include "platform/platform.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionFrame>
#include <QTime>
#include <QTimer>

namespace fa {

namespace {

// The system's long time format (with seconds) without its time-zone part.
QString timeOfDayText(const QTime &time)
{
    const QLocale locale = QLocale::system();
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString cleaned;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        cleaned += c;
    }
    return locale.toString(time, cleaned.trimmed());
}

QComboBox *makeCombo(QWidget *parent, const QString &name, const QRect &geometry)
{
    // A drop-down combo: the operator may type any text; the text is taken
    // as typed, without completion from the list.
    auto *combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    combo->setGeometry(geometry);
    return combo;
}

QPushButton *makeButton(QWidget *parent, const QString &name, const QString &caption,
                        const QRect &geometry)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    return button;
}

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &caption,
                  const QRect &geometry)
{
    auto *label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

} // namespace

bool claimSingleInstance(Dialogs &dialogs)
{
    if (!platform().anotherInstanceRunning())
        return true;
    dialogs.message(nullptr, QStringLiteral("只能运行一个事例"));
    return false;
}

QString ServerFromConnStr(const QString &connectionString)
{
    const qsizetype at =
        connectionString.lastIndexOf(QLatin1String(";Password"), -1, Qt::CaseSensitive);
    if (at < 0)
        return {};
    const QString before = connectionString.left(at);
    const qsizetype eq = before.lastIndexOf(QLatin1Char('='));
    return eq >= 0 ? before.mid(eq + 1) : before;
}

frmMain::frmMain(Dialogs &dialogs, QWidget *parent) : QWidget(parent), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("frmMain"));
    const Twips twips(*this);
    setFixedSize(twips(5415), twips(2310));
    // Windows draws a fixed size as a frame without a sizing border or a
    // maximize box only when asked.
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);

    m_lblLabels[0] = makeLabel(this, QStringLiteral("lblLabels"), QStringLiteral("帐套号"),
                               twips(120, 120, 1095, 255));
    m_lblLabels[1] = makeLabel(this, QStringLiteral("lblLabels"), QStringLiteral("年度"),
                               twips(120, 600, 1335, 255));
    for (int i = 0; i < 2; ++i)
        m_lblLabels[i]->setProperty("Index", i);

    m_cmdDo = makeButton(this, QStringLiteral("cmdDo"), QStringLiteral("计算总帐"),
                         twips(3840, 120, 1215, 375));
    m_cmdDo->setEnabled(false);

    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("StatusBar1"));
    m_statusBar->setSizeGripEnabled(false);
    m_statusBar->setGeometry(twips(0, 2055, 5415, 255));
    const int stretch[3] = {2, 1, 1};
    for (int i = 0; i < 3; ++i) {
        m_panels[i] = new QLabel(m_statusBar);
        m_panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        m_statusBar->addWidget(m_panels[i], stretch[i]);
    }

    m_progress = new QProgressBar(m_statusBar);
    m_progress->setObjectName(QStringLiteral("runProgress"));
    m_progress->setTextVisible(true);
    // Drawn in the Fusion style on every system: the Windows styles put the
    // text beside the bar in room for "100%", where the period text overlaps
    // the bar.
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        fusion->setParent(m_progress);
        m_progress->setStyle(fusion);
    }
    m_progress->hide();

    m_cmbAcc = makeCombo(this, QStringLiteral("cmbAcc"), twips(1680, 120, 1935, 300));
    m_cmbYear = makeCombo(this, QStringLiteral("cmbYear"), twips(1680, 600, 1935, 300));
    m_label1 = makeLabel(this, QStringLiteral("Label1"), QStringLiteral("当前数据库"),
                         twips(120, 1200, 975, 255));

    m_txtCurdb = new PathBox(this);
    m_txtCurdb->setObjectName(QStringLiteral("txtCurdb"));
    m_txtCurdb->setGeometry(twips(120, 1560, 4935, 375));

    m_cmdExit = makeButton(this, QStringLiteral("cmdExit"), QStringLiteral("退出"),
                           twips(3840, 600, 1215, 375));

    m_isSql[0] = new QRadioButton(QStringLiteral("ACCESS"), this);
    m_isSql[0]->setGeometry(twips(1200, 1200, 1335, 255));
    m_isSql[1] = new QRadioButton(QStringLiteral("SQL"), this);
    m_isSql[1]->setGeometry(twips(2280, 1200, 1335, 255));
    for (int i = 0; i < 2; ++i) {
        m_isSql[i]->setObjectName(QStringLiteral("IsSQL"));
        m_isSql[i]->setProperty("Index", i);
        connect(m_isSql[i], &QRadioButton::clicked, this, [this, i] { IsSQL_Click(i); });
    }
    m_isSql[0]->setChecked(true);

    m_cmdRefresh = makeButton(this, QStringLiteral("CmdRefresh"), QStringLiteral("刷新"),
                              twips(3840, 1080, 1215, 375));

    QWidget *tabOrder[] = {m_cmdDo,   m_cmbAcc,   m_cmbYear,  m_txtCurdb,
                           m_cmdExit, m_isSql[0], m_isSql[1], m_cmdRefresh};
    for (size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &frmMain::Timer1_Timer);

    // Only the operator's choice of an entry runs a list handler; FillCombo
    // calls them itself after selecting the first entry.
    connect(m_cmbAcc, &QComboBox::activated, this, &frmMain::cmbAcc_Click);
    connect(m_cmbYear, &QComboBox::activated, this, &frmMain::cmbYear_Click);
    for (QComboBox *combo : {m_cmbAcc, m_cmbYear}) {
        combo->installEventFilter(this);
        combo->lineEdit()->installEventFilter(this);
    }
    connect(m_txtCurdb, &QLineEdit::textChanged, this, &frmMain::txtCurdb_Change);
    connect(m_cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    connect(m_cmdRefresh, &QPushButton::clicked, this, &frmMain::CmdRefresh_Click);
    connect(m_cmdDo, &QPushButton::clicked, this, &frmMain::cmdDo_Click);
    // The history has no control of its own: the window keeps its layout.
    auto *history = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this);
    connect(history, &QShortcut::activated, this, &frmMain::showHistory);

    Form_Load();
    m_timer->start();
}

frmMain::~frmMain()
{
    Form_Unload();
}

QLabel *frmMain::lblLabels(int index) const
{
    return index >= 0 && index < 2 ? m_lblLabels[index] : nullptr;
}

QRadioButton *frmMain::IsSQL(int index) const
{
    return index >= 0 && index < 2 ? m_isSql[index] : nullptr;
}

QString frmMain::panelText(int panel) const
{
    return panel >= 1 && panel <= 3 ? m_panels[panel - 1]->text() : QString();
}

void frmMain::Form_Load()
{
    // The single-instance check has run before the window exists (main).
    IsAccess = true;
    CreateSharedObjects();
    setWindowTitle(QStringLiteral("选择帐套及其年度"));
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_timer->stop();
    ReleaseSharedObjects();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // The run uses the shared objects that closing releases.
    if (m_running) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    // Enter in a list's text box would pick the entry of the same text; a
    // list handler runs only for an entry chosen from the list.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::IsSQL_Click(int Index)
{
    m_cmbAcc->setEnabled(false);
    m_cmbYear->setEnabled(false);
    m_cmdDo->setEnabled(false);
    IsAccess = Index == 0;
}

void frmMain::Timer1_Timer()
{
    const QString account = m_cmbAcc->currentText();
    const QString server = ServerFromConnStr(SysConnStr);
    m_panels[0]->setText(IsAccess ? QStringLiteral("帐套") + account
                                  : QStringLiteral("服务器:") + server);
    m_panels[1]->setText(IsAccess ? QStringLiteral("是ACCESS") : QStringLiteral("是SQLSERVER"));
    m_panels[2]->setText(timeOfDayText(QTime::currentTime()));
}

void frmMain::txtCurdb_Change()
{
    m_cmdDo->setEnabled(m_txtCurdb->text().length() > 0);
}

void frmMain::cmdExit_Click()
{
    close();
}

void frmMain::showError(const QString &text)
{
    m_dialogs.message(this, text);
}

PathBox::PathBox(QWidget *parent) : QLineEdit(parent)
{
    setReadOnly(true);
    connect(this, &QLineEdit::textChanged, this, [this](const QString &text) { setToolTip(text); });
}

QRect PathBox::textArea() const
{
    // Where QLineEdit itself draws its text: the style's contents, less the
    // text margins and its own 2 pixels each side.
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    return style()
        ->subElementRect(QStyle::SE_LineEditContents, &panel, this)
        .marginsRemoved(textMargins())
        .adjusted(2, 0, -2, 0);
}

QString PathBox::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textArea().width());
}

void PathBox::paintEvent(QPaintEvent *event)
{
    if (hasFocus()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    style()->drawItemText(&painter, textArea(), Qt::AlignLeft | Qt::AlignVCenter, palette(),
                          isEnabled(), shownText(), QPalette::Text);
}

} // namespace fa
