// The main window on its own: layout, start-up state, the mode switch, the
// status bar, the run button's enabling, exit, and the dialog seam.
#include "app/dialogs.h"
#include "app/login_window.h"
#include "app/main_window.h"
#include "data/db_state.h"
#include "gui_fixtures.h"

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace fa;

namespace {

// A radio button takes a click on its indicator or its text only, and how
// far the text reaches depends on the font: click the indicator.
void clickRadio(QRadioButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    const QRect indicator =
        button->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, button);
    QTest::mouseClick(button, Qt::LeftButton, {}, indicator.center());
}

// False when a label or a button cuts its caption off.
bool captionFits(QWidget *w)
{
    auto *label = qobject_cast<QLabel *>(w);
    if (label && label->wordWrap())
        return label->heightForWidth(label->width()) <= label->height();
    const int margin =
        qobject_cast<QPushButton *>(w) ? w->style()->pixelMetric(QStyle::PM_ButtonMargin) : 0;
    const QRect room = w->contentsRect().adjusted(margin, 0, -margin, 0);
    const QString text = w->property("text").toString();
    return (!label && !qobject_cast<QAbstractButton *>(w)) ||
           (w->fontMetrics().horizontalAdvance(text) <= room.width() &&
            w->fontMetrics().tightBoundingRect(text).height() <= room.height());
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    FakePlatform *m_platform = nullptr;
    guitest::FakeDialogs m_dialogs;
    std::unique_ptr<frmMain> m_window;

    QWidget *control(const QString &name) const
    {
        if (name == QLatin1String("lblLabels(0)"))
            return m_window->lblLabels(0);
        if (name == QLatin1String("lblLabels(1)"))
            return m_window->lblLabels(1);
        if (name == QLatin1String("IsSQL(0)"))
            return m_window->IsSQL(0);
        if (name == QLatin1String("IsSQL(1)"))
            return m_window->IsSQL(1);
        return m_window->findChild<QWidget *>(name);
    }

private slots:
    void init()
    {
        ResetDbState();
        m_platform = new FakePlatform;
        m_dialogs = {};
        m_window = std::make_unique<frmMain>(m_dialogs);
        m_window->show();
    }

    void cleanup()
    {
        m_window.reset();
        delete m_platform;
        ResetDbState();
    }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");
        // Twips divided by 15.
        QTest::newRow("lblLabels(0)") << "lblLabels(0)"
                                      << "帐套号" << QRect(8, 8, 73, 17);
        QTest::newRow("lblLabels(1)") << "lblLabels(1)"
                                      << "年度" << QRect(8, 40, 89, 17);
        QTest::newRow("cmdDo") << "cmdDo"
                               << "计算总帐" << QRect(256, 8, 81, 25);
        QTest::newRow("StatusBar1") << "StatusBar1" << QString() << QRect(0, 137, 361, 17);
        QTest::newRow("cmbAcc") << "cmbAcc" << QString() << QRect(112, 8, 129, 20);
        QTest::newRow("cmbYear") << "cmbYear" << QString() << QRect(112, 40, 129, 20);
        QTest::newRow("Label1") << "Label1"
                                << "当前数据库" << QRect(8, 80, 65, 17);
        QTest::newRow("txtCurdb") << "txtCurdb" << QString() << QRect(8, 104, 329, 25);
        QTest::newRow("cmdExit") << "cmdExit"
                                 << "退出" << QRect(256, 40, 81, 25);
        QTest::newRow("IsSQL(0)") << "IsSQL(0)"
                                  << "ACCESS" << QRect(80, 80, 89, 17);
        QTest::newRow("IsSQL(1)") << "IsSQL(1)"
                                  << "SQL" << QRect(152, 80, 89, 17);
        QTest::newRow("CmdRefresh") << "CmdRefresh"
                                    << "刷新" << QRect(256, 72, 81, 25);
    }

    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);
        QWidget *widget = control(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->geometry(), geometry);
        if (auto *label = qobject_cast<QLabel *>(widget))
            QCOMPARE(label->text(), caption);
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            QCOMPARE(button->text(), caption);
    }

    void startUpState()
    {
        QCOMPARE(m_window->windowTitle(), QStringLiteral("选择帐套及其年度"));
        QCOMPARE(m_window->size(), QSize(361, 154));
        QVERIFY(IsAccess);
        QVERIFY(SysConn && AccConn && WorkRs);
        QCOMPARE(SysConn->State(), adStateClosed);
        QCOMPARE(AccConn->State(), adStateClosed);
        QCOMPARE(WorkRs->State(), adStateClosed);

        QVERIFY(!m_window->cmdDo()->isEnabled());
        QVERIFY(m_window->txtCurdb()->isEnabled() && m_window->txtCurdb()->isReadOnly());
        QVERIFY(m_window->txtCurdb()->text().isEmpty());
        for (QComboBox *combo : {m_window->cmbAcc(), m_window->cmbYear()}) {
            QVERIFY(combo->isEnabled());
            QVERIFY(combo->isEditable());
            QCOMPARE(combo->count(), 0);
            QVERIFY(combo->currentText().isEmpty());
        }
        QVERIFY(m_window->IsSQL(0)->isChecked());
        QVERIFY(!m_window->IsSQL(1)->isChecked());
        QVERIFY(m_window->cmdExit()->isEnabled());
        QVERIFY(m_window->CmdRefresh()->isEnabled());
        QVERIFY(m_window->Timer1()->isActive());
        QCOMPARE(m_window->Timer1()->interval(), 1000);
        for (int panel = 1; panel <= 3; ++panel)
            QVERIFY(m_window->panelText(panel).isEmpty());
    }

    // The whole path is the tooltip; what the box shows keeps its start and the file name.
    void pathBoxShortensInTheMiddle()
    {
        auto *box = dynamic_cast<PathBox *>(m_window->txtCurdb());
        const QString path =
            QStringLiteral("/srv/") + QString(80, u'x') + QStringLiteral("/2002/kvdata.mdb");
        box->setText(path);
        QCOMPARE(box->toolTip(), path);
        const QString shown = box->shownText();
        QVERIFY2(shown.startsWith(QStringLiteral("/srv/x")) && shown.contains(QChar(0x2026)) &&
                     shown.endsWith(QStringLiteral("/kvdata.mdb")) &&
                     box->fontMetrics().horizontalAdvance(shown) < box->width(),
                 qPrintable(shown));
    }

    // With a larger desktop font both windows grow in proportion and no
    // caption is cut off.
    void grownWithTheDesktopFont_data()
    {
        QTest::addColumn<int>("points");
        QTest::newRow("9 pt") << 9;
        QTest::newRow("14 pt") << 14;
    }

    void grownWithTheDesktopFont()
    {
        QFETCH(int, points);
        const QFont before = QApplication::font();
        const auto restore = qScopeGuard([&] { QApplication::setFont(before); });
        m_window.reset();
        QApplication::setFont(QFont(before.family(), points));
        const double scale = std::max(1.0, QFontInfo(QApplication::font()).pixelSize() / 12.0);
        m_window = std::make_unique<frmMain>(m_dialogs);
        frmLog log;
        m_window->show();
        log.show();
        m_window->IsSQL_Click(1);
        m_window->Timer1_Timer();
        const std::pair<QWidget *, QSize> windows[] = {{m_window.get(), QSize(361, 154)},
                                                       {&log, QSize(214, 90)}};
        for (const auto &[window, drawn] : windows) {
            QVERIFY(qAbs(window->width() - drawn.width() * scale) <= 1 &&
                    qAbs(window->height() - drawn.height() * scale) <= 1);
            for (QWidget *w : window->findChildren<QWidget *>())
                QVERIFY2(captionFits(w), qPrintable(w->property("text").toString()));
        }
    }

    void tabOrder()
    {
        const QList<QWidget *> expected = {
            m_window->cmdDo(),   m_window->cmbAcc(), m_window->cmbYear(), m_window->txtCurdb(),
            m_window->cmdExit(), m_window->IsSQL(0), m_window->IsSQL(1),  m_window->CmdRefresh()};
        QCOMPARE(guitest::focusOrder(expected), expected);
    }

    void modeSwitchDisablesSelection()
    {
        m_window->txtCurdb()->setText(QStringLiteral("/data/ZT001/2002/kvdata.mdb"));
        QVERIFY(m_window->cmdDo()->isEnabled());

        clickRadio(m_window->IsSQL(1));
        QVERIFY(!IsAccess);
        QVERIFY(!m_window->cmbAcc()->isEnabled());
        QVERIFY(!m_window->cmbYear()->isEnabled());
        QVERIFY(!m_window->cmdDo()->isEnabled());
        QCOMPARE(m_window->txtCurdb()->text(), QStringLiteral("/data/ZT001/2002/kvdata.mdb"));

        // Back to Access: the lists wait for the next refresh.
        clickRadio(m_window->IsSQL(0));
        QVERIFY(IsAccess);
        QVERIFY(!m_window->cmbAcc()->isEnabled());
        QVERIFY(!m_window->cmdDo()->isEnabled());
    }

    void statusBar_data()
    {
        QTest::addColumn<bool>("sql");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("sysConnStr");
        QTest::addColumn<QString>("panel1");
        QTest::addColumn<QString>("panel2");
        QTest::newRow("access, nothing chosen") << false << ""
                                                << ""
                                                << "帐套"
                                                << "是ACCESS";
        QTest::newRow("access, typed account") << false << "007"
                                               << ""
                                               << "帐套007"
                                               << "是ACCESS";
        QTest::newRow("sql, logged in")
            << true << "001" << frmLog::SysConnStrFor("SRV01", "pw") << "服务器:SRV01"
            << "是SQLSERVER";
        QTest::newRow("sql, access string") << true << "001" << JetConnPrefix + "/x/kvsystem.mdb"
                                            << "服务器:"
                                            << "是SQLSERVER";
    }

    void statusBar()
    {
        QFETCH(bool, sql);
        QFETCH(QString, account);
        QFETCH(QString, sysConnStr);
        QFETCH(QString, panel1);
        QFETCH(QString, panel2);
        m_window->IsSQL_Click(sql ? 1 : 0);
        m_window->cmbAcc()->setEditText(account);
        SysConnStr = sysConnStr;
        m_window->Timer1_Timer();
        QCOMPARE(m_window->panelText(1), panel1);
        QCOMPARE(m_window->panelText(2), panel2);
        QVERIFY(!m_window->panelText(3).isEmpty());
    }

    void timerRefreshesWithinASecond()
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_window->panelText(2), QStringLiteral("是ACCESS"), 2500);
    }

    void serverFromConnStr_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("server");
        QTest::newRow("login string") << frmLog::SysConnStrFor("SRV01", "secret") << "SRV01";
        QTest::newRow("password with =") << frmLog::SysConnStrFor("SRV01", "a=b") << "SRV01";
        QTest::newRow("no ;Password") << JetConnPrefix + "C:\\kvsystem.mdb"
                                      << "";
        QTest::newRow("no = before") << "SRV02;Password=x"
                                     << "SRV02";
        QTest::newRow("last ;Password counts") << "a=S1;Password=x;b=S2;Password=y"
                                               << "S2";
        QTest::newRow("case-sensitive") << "Data Source=S1;password=x"
                                        << "";
        QTest::newRow("empty") << ""
                               << "";
    }

    void serverFromConnStr()
    {
        QFETCH(QString, text);
        QFETCH(QString, server);
        QCOMPARE(ServerFromConnStr(text), server);
    }

    void runButtonFollowsCurrentDatabase()
    {
        m_window->txtCurdb()->setText(QStringLiteral("k"));
        QVERIFY(m_window->cmdDo()->isEnabled());
        m_window->txtCurdb()->setText(QString());
        QVERIFY(!m_window->cmdDo()->isEnabled());
    }

    void onlyListChoicesRunHandlers()
    {
        // A handler that ran would empty cmbYear (FillCombo on a closed
        // connection leaves the list empty).
        m_window->cmbAcc()->addItems({QStringLiteral("001"), QStringLiteral("002")});
        m_window->cmbYear()->addItem(QStringLiteral("2002"));
        m_window->cmbAcc()->setFocus();
        m_window->cmbAcc()->clearEditText();
        QTest::keyClicks(m_window->cmbAcc(), QStringLiteral("002"));
        QTest::keyClick(m_window->cmbAcc(), Qt::Key_Return);
        QCOMPARE(m_window->cmbAcc()->currentText(), QStringLiteral("002"));
        QCOMPARE(m_window->cmbYear()->count(), 1);
        m_window->Timer1_Timer();
        QCOMPARE(m_window->panelText(1), QStringLiteral("帐套002"));

        // Choosing an entry from the list does run it.
        emit m_window->cmbAcc()->activated(0);
        QCOMPARE(m_window->cmbYear()->count(), 0);
    }

    void exitReleasesSharedObjects()
    {
        QTest::mouseClick(m_window->cmdExit(), Qt::LeftButton);
        QVERIFY(!m_window->isVisible());
        QVERIFY(!SysConn && !AccConn && !WorkRs);
        QVERIFY(!m_window->Timer1()->isActive());
    }

    void secondInstanceIsRefused()
    {
        m_dialogs.messages.clear();
        QVERIFY(claimSingleInstance(m_dialogs));
        QVERIFY(m_dialogs.messages.isEmpty());
        m_platform->anotherInstance = true;
        QVERIFY(!claimSingleInstance(m_dialogs));
        QCOMPARE(m_dialogs.messages, QStringList{QStringLiteral("只能运行一个事例")});
    }

    void realMessageBox()
    {
        QString title;
        QMessageBox::Icon icon = QMessageBox::Warning;
        QMessageBox::StandardButtons buttons;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            title = box->windowTitle();
            icon = box->icon();
            buttons = box->standardButtons();
            box->accept();
        });
        WidgetDialogs().message(m_window.get(), QStringLiteral("打开数据库错误"));
        QCOMPARE(title, QStringLiteral("固定资产总帐整理"));
        QCOMPARE(icon, QMessageBox::NoIcon);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void realLoginIsModalAndOwned()
    {
        bool sawLogin = false;
        QTimer::singleShot(0, this, [&] {
            QWidget *shown = QApplication::activeModalWidget();
            if (auto *log = qobject_cast<frmLog *>(shown)) {
                sawLogin = log->parentWidget() == m_window.get();
                QTest::mouseClick(log->cmdTc(), Qt::LeftButton);
            } else if (shown) {
                shown->close();
            }
        });
        WidgetDialogs().login(m_window.get());
        QVERIFY(sawLogin);
    }

    void fileFilterInQtForm()
    {
        QCOMPARE(QtFileFilter(QStringLiteral("Korvane系统数据库|kvsystem*.*")),
                 QStringLiteral("Korvane系统数据库 (kvsystem*.*)"));
        QCOMPARE(QtFileFilter(QStringLiteral("A|*.a|B|*.b")), QStringLiteral("A (*.a);;B (*.b)"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
