// The SQL Server login window: layout, what it proposes, and what a
// verification leaves in SysConn and SysConnStr.
#include "app/login_attempt.h"
#include "app/login_window.h"
#include "data/db_state.h"
#include "gui_fixtures.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QStatusBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <memory>

using namespace fa;

class TestLoginWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<QTemporaryDir> m_dir;

    static QString rightString(const QString &server, const QString &password)
    {
        return frmLog::SysConnStrFor(server, password);
    }

private slots:
    void init()
    {
        ResetDbState();
        CreateSharedObjects();
        m_platform = std::make_unique<FakePlatform>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_platform->computerNameValue = QStringLiteral("WS-07");
        m_platform->savedSaPasswordValue = QStringLiteral("saved");
    }

    void cleanup()
    {
        m_platform.reset();
        ResetDbState();
        m_dir.reset();
    }

    void layout()
    {
        frmLog window;
        QCOMPARE(window.windowTitle(), QStringLiteral("SQLSERVER登录"));
        QCOMPARE(window.size(), QSize(214, 90));
        QCOMPARE(window.Label1()->text(), QStringLiteral("服务器："));
        QCOMPARE(window.Label1()->geometry(), QRect(8, 12, 77, 12));
        QCOMPARE(window.txtServer()->geometry(), QRect(56, 8, 88, 20));
        QCOMPARE(window.Label3()->text(), QStringLiteral("SA口令："));
        QCOMPARE(window.Label3()->geometry(), QRect(10, 42, 85, 12));
        QCOMPARE(window.txtPassword()->geometry(), QRect(56, 38, 89, 20));
        QCOMPARE(window.cmdlj()->text(), QStringLiteral("验证"));
        QCOMPARE(window.cmdlj()->geometry(), QRect(152, 8, 51, 23));
        QCOMPARE(window.cmdTc()->text(), QStringLiteral("退出"));
        QCOMPARE(window.cmdTc()->geometry(), QRect(152, 40, 51, 23));
        QCOMPARE(window.StatusBar1()->geometry(), QRect(0, 69, 214, 21));
        QCOMPARE(window.panelText(), QStringLiteral("等待连接数据库"));

        QCOMPARE(window.txtPassword()->echoMode(), QLineEdit::Password);
        QCOMPARE(window.txtPassword()->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter,
                                                          nullptr, window.txtPassword()),
                 int(u'*'));

        const QList<QWidget *> expected = {window.txtServer(), window.txtPassword(), window.cmdlj(),
                                           window.cmdTc()};
        QCOMPARE(guitest::focusOrder(expected), expected);
    }

    void proposesComputerAndSavedPassword()
    {
        m_platform->computerNameValue = QStringLiteral("127.0.0.1,14330");
        frmLog window;
        window.show();
        QCOMPARE(window.txtServer()->text(), QStringLiteral("127.0.0.1,14330"));
        QCOMPARE(window.txtServer()->cursorPosition(), 0); // longer than the box: from its start
        QCOMPARE(window.txtPassword()->text(), QStringLiteral("saved"));
    }

    void unreadableComputerNameKeepsLocal()
    {
        m_platform->computerNameValue.clear();
        m_platform->savedSaPasswordValue.clear();
        frmLog window;
        QCOMPARE(window.txtServer()->text(), QStringLiteral("(local)"));
        QVERIFY(window.txtPassword()->text().isEmpty());
    }

    void connectionString_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("expected");
        const QString head = QStringLiteral(
            "Provider=SQLOLEDB;Persist Security Info=False;User ID=sa;Initial Catalog=");
        QTest::newRow("plain") << "SRV01"
                               << "pw" << head + "KVSYSTEM;Data Source=SRV01;Password=pw";
        QTest::newRow("empty server and password")
            << ""
            << "" << head + "KVSYSTEM;Data Source=;Password=";
        QTest::newRow("password never substituted")
            << "SRV"
            << "|1|2" << head + "KVSYSTEM;Data Source=SRV;Password=|1|2";
        QTest::newRow("server with |2") << "a|2"
                                        << "p" << head + "KVSYSTEM;Data Source=a|2;Password=p";
    }

    void connectionString()
    {
        QFETCH(QString, server);
        QFETCH(QString, password);
        QFETCH(QString, expected);
        QCOMPARE(frmLog::SysConnStrFor(server, password), expected);
    }

    void successLeavesStringAndOpenConnection()
    {
        guitest::FakeServer server(m_dir->path(), QStringLiteral("pa;ss=KVSYSTEM"));
        server.createSystemCatalog();
        frmLog window;
        window.show();
        guitest::verify(window, QStringLiteral("SRV01"), QStringLiteral("pa;ss=KVSYSTEM"));
        QCOMPARE(window.panelText(), QStringLiteral("连接数据库成功！"));
        // The password reaches the provider exactly as typed, after the server.
        QCOMPARE(server.opened.size(), 1);
        QVERIFY(server.opened.first().endsWith(
            QStringLiteral(";Data Source=SRV01;Password=pa;ss=KVSYSTEM")));
        QCOMPARE(SysConnStr, server.opened.first());
        QCOMPARE(SysConn->State(), adStateOpen);
        QVERIFY(window.isVisible());
    }

    void failureKeepsEarlierSuccess()
    {
        guitest::FakeServer server(m_dir->path(), QStringLiteral("right"));
        server.createSystemCatalog();
        SysConnStr = QStringLiteral("before");
        frmLog window;
        window.show();
        guitest::verify(window, QStringLiteral("SRV01"), QStringLiteral("wrong"));
        // The driver's reason under the fixed words.
        QCOMPARE(window.panelText().section(u'\n', 0, 0), QStringLiteral("连接数据库失败"));
        QVERIFY(!window.panelText().section(u'\n', 1).isEmpty());
        QCOMPARE(SysConnStr, QStringLiteral("before"));
        QCOMPARE(server.opened.size(), 3); // three tries

        guitest::verify(window, QStringLiteral("SRV01"), QStringLiteral("right"));
        const QString good = rightString(QStringLiteral("SRV01"), QStringLiteral("right"));
        QCOMPARE(SysConnStr, good);
        guitest::verify(window, QStringLiteral("SRV02"), QStringLiteral("wrong"));
        QVERIFY(window.panelText().startsWith(QStringLiteral("连接数据库失败\n")));
        QCOMPARE(SysConnStr, good);
        QCOMPARE(SysConn->State(), adStateClosed);
    }

    void busyWhileVerifying()
    {
        // Looked at on the window thread while the server holds the open.
        guitest::FakeServer server(m_dir->path(), QStringLiteral("right"));
        server.createSystemCatalog();
        frmLog window;
        window.show();
        QSemaphore looked;
        server.duringOpen = [&] { looked.tryAcquire(1, guitest::kPatienceMs); };
        bool boxesEnabled = true, buttonEnabled = true, exitEnabled = false;
        bool hourglass = false;
        QString panel;
        QTimer::singleShot(0, &window, [&] {
            boxesEnabled = window.txtServer()->isEnabled() || window.txtPassword()->isEnabled();
            buttonEnabled = window.cmdlj()->isEnabled();
            exitEnabled = window.cmdTc()->isEnabled();
            hourglass = QApplication::overrideCursor() &&
                        QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            panel = window.panelText();
            looked.release();
        });
        guitest::verify(window, QStringLiteral("SRV01"), QStringLiteral("right"));
        QVERIFY(!boxesEnabled);
        QVERIFY(!buttonEnabled);
        QVERIFY(exitEnabled);
        QVERIFY(hourglass);
        QCOMPARE(panel, QStringLiteral("正在连接数据库..."));
        QVERIFY(window.txtServer()->isEnabled() && window.txtPassword()->isEnabled());
        QVERIFY(window.cmdlj()->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    void inputDuringTheWaitIsDropped()
    {
        // What the operator clicks or types while the server keeps us waiting
        // is not carried out, then or afterwards: no second wait, and no key
        // (Esc, or space on 退出) gives the wait up.
        guitest::FakeServer server(m_dir->path(), QStringLiteral("right"));
        server.createSystemCatalog();
        frmLog window;
        window.show();
        QSemaphore given;
        server.duringOpen = [&] { given.tryAcquire(1, guitest::kPatienceMs); };
        QTimer::singleShot(0, &window, [&] {
            QTest::mouseClick(window.cmdlj(), Qt::LeftButton);
            QTest::keyClick(&window, Qt::Key_Escape);
            QTest::keyClick(window.cmdTc(), Qt::Key_Space);
            given.release();
        });
        guitest::verify(window, QStringLiteral("SRV01"), QStringLiteral("right"));
        QCoreApplication::processEvents();
        QVERIFY(window.isVisible());
        QCOMPARE(server.opened.size(), 1);
        QCOMPARE(window.panelText(), QStringLiteral("连接数据库成功！"));
    }

    // The server holds the open: the window goes on with its events, 退出
    // gives the wait up at once, a new verification goes ahead meanwhile, and
    // the late answer of the given-up one changes nothing.
    void exitGivesTheWaitUp()
    {
        guitest::FakeServer server(m_dir->path(), QStringLiteral("right"));
        server.createSystemCatalog();
        QSemaphore answer;
        std::atomic<int> opens = 0;
        std::atomic<bool> holding = false;
        server.duringOpen = [&] {
            if (opens++ > 0)
                return;
            holding = true;
            answer.tryAcquire(1, guitest::kPatienceMs);
            holding = false;
        };
        // A check that fails while the server holds still lets the given-up
        // attempt end before the locals it uses go.
        const auto letGo = qScopeGuard([&] {
            answer.release();
            (void)QTest::qWaitFor([] { return LoginAttempt::running() == 0; },
                                  guitest::kPatienceMs);
        });
        SysConnStr = QStringLiteral("before");
        frmLog window;
        window.show();
        int ticksWhileHeld = 0;
        QTimer clock;
        connect(&clock, &QTimer::timeout, &window, [&] {
            if (holding && ++ticksWhileHeld == 3) {
                clock.stop();
                QTest::mouseClick(window.cmdTc(), Qt::LeftButton);
            }
        });
        clock.start(5);
        // Refused once the server answers: given up, it tries no more.
        guitest::verify(window, QStringLiteral("SRV01"), QStringLiteral("wrong"));
        clock.stop();
        QCOMPARE(ticksWhileHeld, 3);
        QVERIFY(holding);
        QVERIFY(!window.isVisible());
        QCOMPARE(SysConnStr, QStringLiteral("before"));

        frmLog next;
        next.show();
        guitest::verify(next, QStringLiteral("SRV02"), QStringLiteral("right"));
        QCOMPARE(next.panelText(), QStringLiteral("连接数据库成功！"));
        const Provider *opened = SysConn->provider();

        answer.release();
        QTRY_COMPARE_WITH_TIMEOUT(LoginAttempt::running(), 0, guitest::kPatienceMs);
        QCOMPARE(server.opened.filter(QStringLiteral("SRV01")).size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(SysConnStr, rightString(QStringLiteral("SRV02"), QStringLiteral("right")));
        QCOMPARE(SysConn->provider(), opened);
        QCOMPARE(SysConn->State(), adStateOpen);
    }

    void refusedServerFails()
    {
        SysConnStr = QStringLiteral("before");
        frmLog window;
        window.show();
        guitest::verify(window, QStringLiteral("127.0.0.1,1"), QStringLiteral("x"));
        QVERIFY(window.panelText().startsWith(QStringLiteral("连接数据库失败\n")));
        QCOMPARE(SysConnStr, QStringLiteral("before"));
        QCOMPARE(SysConn->State(), adStateClosed);
    }

    void exitCloses()
    {
        frmLog window;
        window.show();
        QTest::mouseClick(window.cmdTc(), Qt::LeftButton);
        QVERIFY(!window.isVisible());
        QCOMPARE(window.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(TestLoginWindow)
#include "tst_login_window.moc"
