// "计算总帐" from the window: "刷新", then the run on the demo installation,
// with the message boxes answered by a recorder.
#include "app/dialogs.h"
#include "app/history_dialog.h"
#include "app/main_window.h"
#include "app/run_result_dialog.h"
#include "data/db_state.h"
#include "fake_platform.h"
#include "gui_fixtures.h"
#include "ledger/run_history.h"
#include "ledger/run_lock.h"
#include "platform/platform.h"
#include "rebuild_fixture.h"
#include "standin_process.h"
#include "tools/sample_ledger.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <sqlite3.h>

using namespace fa;

namespace {

// Records each message with the state of the window at the moment it shows.
class RecordingDialogs final : public Dialogs
{
public:
    struct Shown
    {
        QString text;
        bool runEnabled;
        bool hourglass;
    };
    QList<Shown> shown;
    QPushButton *runButton = nullptr;

    QStringList texts() const
    {
        QStringList list;
        for (const Shown &s : shown)
            list << s.text;
        return list;
    }

    std::function<void()> onMessage; // called as each message shows
    void message(QWidget *, const QString &text) override
    {
        if (onMessage)
            onMessage();
        const QCursor *cursor = QApplication::overrideCursor();
        shown.append({text, runButton && runButton->isEnabled(),
                      cursor && cursor->shape() == Qt::WaitCursor});
    }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return {};
    }
    // A completed run's box: its first line counts as the message, the
    // second (books, changes, time) and the rest (its history record) are
    // kept apart.
    QStringList details;
    QStringList results;
    QStringList notes;
    void detailedMessage(QWidget *parent, const QString &text, const QString &more) override
    {
        message(parent, text.section(QLatin1Char('\n'), 0, 0));
        results << text.section(QLatin1Char('\n'), 1, 1);
        notes << text.section(QLatin1Char('\n'), 2);
        details << more;
    }
    // Ctrl+H: the real history window, looked at, then 恢复… pressed.
    std::function<void(HistoryDialog &)> onHistory;
    int histories = 0;
    qint64 history(QWidget *owner, const QString &account, const QString &year) override
    {
        ++histories;
        QList<RunRecord> runs;
        QString error;
        if (!listRuns({account}, {year}, &runs, &error))
            return 0;
        HistoryDialog dialog(account, year, runs, *this, owner);
        dialog.show();
        if (onHistory)
            onHistory(dialog);
        QTest::mouseClick(dialog.restoreButton(), Qt::LeftButton);
        return dialog.chosenRun();
    }
    QStringList questions;
    bool answer = false;
    bool question(QWidget *, const QString &text) override
    {
        questions << text;
        return answer;
    }
    guitest::LoginScript loginScript; // none: the login counts as done
    bool login(QWidget *owner) override
    {
        return !loginScript || guitest::showLogin(owner, loginScript);
    }
};

// Rows of fa_Total as text, read straight from the file.
QStringList totals(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM fa_Total ORDER BY sDeptNum, sTypeNum, iPeriod", -1, &stmt,
                       nullptr);
    QStringList rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList cells;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            cells << QString::fromUtf8(
                reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)));
        rows << cells.join(QLatin1Char('|'));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

} // namespace

class TestRunButton : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_state; // the run history's home
    std::unique_ptr<FakePlatform> m_platform;
    RecordingDialogs m_dialogs;
    std::unique_ptr<frmMain> m_window;

    QString ledger() const
    {
        return QDir::toNativeSeparators(m_dir.path() + QStringLiteral("/ZT001/2025/kvdata.mdb"));
    }
    void click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_state.isValid());
        qputenv("FATOTAL_STATE_DIR", m_state.path().toUtf8());
        sample::writeDemo(m_dir.path(), 120);
    }

    void init()
    {
        ResetDbState();
        m_platform = std::make_unique<FakePlatform>();
        m_platform->systemDirectoryValue = m_dir.path();
        m_dialogs.shown.clear();
        m_dialogs.questions.clear();
        m_dialogs.details.clear();
        m_dialogs.results.clear();
        m_dialogs.notes.clear();
        m_dialogs.histories = 0;
        m_dialogs.onHistory = nullptr;
        m_dialogs.loginScript = nullptr;
        m_dialogs.answer = false;
        m_window = std::make_unique<frmMain>(m_dialogs);
        m_dialogs.runButton = m_window->cmdDo();
        m_window->show();
    }

    void cleanup()
    {
        m_window.reset();
        m_platform.reset();
        ResetDbState();
    }

    void refreshThenRunRebuildsTheSummary()
    {
        const QStringList before = totals(ledger());
        click(m_window->CmdRefresh());
        QCOMPARE(m_window->txtCurdb()->text(), ledger());
        QVERIFY(m_window->cmdDo()->isEnabled());

        click(m_window->cmdDo());
        QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("整理完毕")});
        // The report comes after the busy state has ended.
        QVERIFY(m_dialogs.shown.first().runEnabled);
        QVERIFY(!m_dialogs.shown.first().hourglass);
        QVERIFY(m_window->cmdDo()->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(AccConn->State(), adStateClosed);
        QCOMPARE(SysConn->State(), adStateClosed);

        const QStringList after = totals(ledger());
        QVERIFY(!after.isEmpty());
        QVERIFY(after != before);
    }

    // Every way out of a run lets the account-year go before its last word
    // shows: the connection closed, no read lock left on the file, the run
    // lock free. The next 计算总帐 needs no 刷新.
    void everyWayOutLetsTheLedgerGo_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("last");
        QTest::newRow("completed") << QString() << QStringLiteral("整理完毕");
        QTest::newRow("refused by a check")
            << "UPDATE AccInformation SET cValue = '9.1' WHERE cName = 'VersionFlag'"
            << QStringLiteral("Korvane软件版本好太高");
        QTest::newRow("failed") << "ALTER TABLE fa_Cards RENAME TO fa_Cards_saved"
                                << QStringLiteral("整理未完成，fa_Total 保持原样");
        QTest::newRow("stopped") << "stop" << QStringLiteral("整理已停止，fa_Total 保持原样");
    }

    void everyWayOutLetsTheLedgerGo()
    {
        QFETCH(QString, damage);
        QFETCH(QString, last);
        const auto exec = [this](const QString &sql) {
            sqlite3 *db = nullptr;
            sqlite3_open_v2(ledger().toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
            const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
            sqlite3_close(db);
            return rc;
        };
        QStringList held;
        m_dialogs.onMessage = [&] {
            HeldFileLock runLock;
            if (AccConn->State() != adStateClosed)
                held << "AccConn";
            if (exec("BEGIN EXCLUSIVE; ROLLBACK") != SQLITE_OK)
                held << "the file";
            if (runLock.take(QDir::fromNativeSeparators(ledger()) + kRunLockSuffix) !=
                HeldFileLock::Outcome::Held)
                held << "the run lock";
        };
        const auto restore = qScopeGuard([&] {
            m_dialogs.onMessage = nullptr;
            exec("ALTER TABLE fa_Cards_saved RENAME TO fa_Cards");
            exec("UPDATE AccInformation SET cValue = '8.21' WHERE cName = 'VersionFlag'");
        });
        click(m_window->CmdRefresh());
        click(m_window->cmdDo());
        m_dialogs.shown.clear();
        m_dialogs.answer = true;
        if (damage == "stop")
            connect(m_window->runProgress(), &QProgressBar::valueChanged, m_window.get(), [&] {
                QCoreApplication::postEvent(m_window.get(),
                                            new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
            });
        else if (!damage.isEmpty())
            QCOMPARE(exec(damage), SQLITE_OK);

        // The second run, without 刷新.
        click(m_window->cmdDo());
        QCoreApplication::processEvents();
        QCOMPARE(m_dialogs.texts().value(m_dialogs.shown.size() - 1), last);
        QCOMPARE(held, QStringList());
        QCOMPARE(m_window->cmdDo()->isEnabled(), true);
    }

    void aStoppedRunReportsWhileBusyAndKeepsTheSummary()
    {
        click(m_window->CmdRefresh());
        // Without its card table the seeding cannot list departments and types.
        const QString copy = m_dir.path() + QStringLiteral("/ZT001/2025/kvdata.mdb");
        const QStringList before = totals(copy);
        sqlite3 *db = nullptr;
        sqlite3_open_v2(copy.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "ALTER TABLE fa_Cards RENAME TO fa_Cards_saved", nullptr, nullptr,
                     nullptr);
        sqlite3_close(db);

        click(m_window->cmdDo());

        sqlite3_open_v2(copy.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "ALTER TABLE fa_Cards_saved RENAME TO fa_Cards", nullptr, nullptr,
                     nullptr);
        sqlite3_close(db);

        QCOMPARE(m_dialogs.texts(), (QStringList{QStringLiteral("打开卡片表错误\n没有表 fa_Cards"),
                                                 QStringLiteral("整理未完成，fa_Total 保持原样")}));
        QVERIFY(!m_dialogs.shown.first().runEnabled);
        QVERIFY(m_dialogs.shown.first().hourglass);
        QVERIFY(m_window->cmdDo()->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(totals(copy), before);
    }

    void inputDuringTheRunIsDropped_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("刷新") << "CmdRefresh";
        QTest::newRow("退出") << "cmdExit";
        QTest::newRow("SQL") << "IsSQL1";
        QTest::newRow("close box") << "close";
        QTest::newRow("typing an account") << "cmbAcc";
    }

    void inputDuringTheRunIsDropped()
    {
        QFETCH(QString, target);
        click(m_window->CmdRefresh());
        click(m_window->cmdDo());
        const QStringList undisturbed = totals(ledger());
        click(m_window->CmdRefresh());
        const QString connectionString = SysConnStr;
        m_dialogs.shown.clear();

        // Queued now, the input reaches the window when the period calendar
        // lets events run, in the middle of the run.
        const QHash<QString, QWidget *> widgets{{"CmdRefresh", m_window->CmdRefresh()},
                                                {"cmdExit", m_window->cmdExit()},
                                                {"IsSQL1", m_window->IsSQL(1)},
                                                {"cmbAcc", m_window->cmbAcc()->lineEdit()},
                                                {"close", m_window.get()}};
        QWidget *widget = widgets.value(target);
        if (target == "close") {
            QCoreApplication::postEvent(widget, new QCloseEvent);
        } else if (target == "cmbAcc") {
            QCoreApplication::postEvent(widget, new QKeyEvent(QEvent::KeyPress, Qt::Key_2,
                                                              Qt::NoModifier, QStringLiteral("2")));
        } else {
            const QPointF at = QRectF(widget->rect()).center();
            for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                QCoreApplication::postEvent(
                    widget, new QMouseEvent(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                                            Qt::LeftButton, Qt::NoModifier));
        }
        click(m_window->cmdDo());
        QCoreApplication::processEvents();

        QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("整理完毕")});
        QCOMPARE(totals(ledger()), undisturbed);
        QVERIFY(m_window->isVisible());
        QVERIFY(IsAccess);
        QVERIFY(m_window->IsSQL(0)->isChecked());
        QCOMPARE(m_window->cmbAcc()->currentText(), QStringLiteral("001"));
        QCOMPARE(SysConnStr, connectionString);
    }

    void theEndMessageListsTheChanges()
    {
        // A summary that no longer agrees with the cards, in one figure.
        sqlite3 *db = nullptr;
        sqlite3_open_v2(ledger().toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "UPDATE fa_Total SET dblValue = dblValue + 1 WHERE rowid = 1", nullptr,
                     nullptr, nullptr);
        sqlite3_close(db);
        click(m_window->CmdRefresh());
        click(m_window->cmdDo());
        const QStringList lines = m_dialogs.details.value(0).split(QLatin1Char('\n'));
        QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("整理完毕")});
        QCOMPARE(lines.value(2), QStringLiteral("change,sDeptNum,sTypeNum,iPeriod,column,old,new"));
        QCOMPARE(lines.first(), QStringLiteral("新增 0 行，删除 0 行，修改 1 行"));
        QVERIFY2(
            QRegularExpression(QStringLiteral("^帐套 001 2025 年：新增 0 行，删除 0 行，修改 1 "
                                              "行，用时 \\d+ 秒$"))
                .match(m_dialogs.results.value(0))
                .hasMatch(),
            qPrintable(m_dialogs.results.value(0)));
        QCOMPARE(lines.size(), 5);
        QVERIFY2(lines.value(3).startsWith(QStringLiteral("changed,")) &&
                     lines.value(3).contains(QStringLiteral(",dblValue,")),
                 qPrintable(lines.value(3)));

        // The same books once more: nothing left to change.
        click(m_window->CmdRefresh());
        click(m_window->cmdDo());
        QCOMPARE(m_dialogs.details.value(1),
                 QStringLiteral("新增 0 行，删除 0 行，修改 0 行\n\n"
                                "change,sDeptNum,sTypeNum,iPeriod,column,old,new\n"));
    }

    void progressShowsEachPeriodInTurn()
    {
        click(m_window->CmdRefresh());
        QStringList shown;
        QProgressBar *progress = m_window->runProgress();
        connect(progress, &QProgressBar::valueChanged, progress, [&] {
            if (shown.value(shown.size() - 1) != progress->text())
                shown << progress->text();
        });
        click(m_window->cmdDo());
        QStringList expected;
        for (int p = 1; p <= 12; ++p)
            expected << QStringLiteral("正在整理第%1期，剩%2期").arg(p).arg(12 - p);
        QCOMPARE(shown, expected);
        QVERIFY(!progress->isVisible());
        // Focus stays on a button: a key pressed next must not overwrite the account.
        QCOMPARE(QApplication::focusWidget(), m_window->cmdDo());
    }

    void stopDuringTheRun_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("answer");
        QTest::newRow("close box, yes") << "close" << true;
        QTest::newRow("Esc, yes") << "Esc" << true;
        QTest::newRow("close box, no") << "close" << false;
        QTest::newRow("退出, yes") << "exit" << true;
        QTest::newRow("退出, no") << "exit" << false;
    }

    void stopDuringTheRun()
    {
        QFETCH(QString, how);
        QFETCH(bool, answer);
        const QStringList before = totals(ledger());
        click(m_window->CmdRefresh());
        m_dialogs.answer = answer;
        // Asked for while period 3 is rebuilt, in the middle of the transaction.
        QProgressBar *progress = m_window->runProgress();
        QStringList enabledDuringTheRun;
        bool asked = false;
        connect(progress, &QProgressBar::valueChanged, progress, [&](int value) {
            if (value != 2 || std::exchange(asked, true))
                return;
            // Nothing but 退出 looks usable meanwhile.
            for (QWidget *control : m_window->findChildren<QWidget *>())
                if (control->isEnabled() && qobject_cast<QAbstractButton *>(control) &&
                    control != m_window->cmdExit())
                    enabledDuringTheRun << control->objectName();
            if (m_window->cmbAcc()->isEnabled() || m_window->cmbYear()->isEnabled())
                enabledDuringTheRun << "lists";
            if (QApplication::focusWidget() != m_window->cmdExit())
                enabledDuringTheRun << "focus elsewhere";
            if (how == "close") {
                QCoreApplication::postEvent(m_window.get(), new QCloseEvent);
            } else if (how == "exit") {
                QWidget *exit = m_window->cmdExit();
                const QPointF at = QRectF(exit->rect()).center();
                for (const QEvent::Type type :
                     {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                    QCoreApplication::postEvent(
                        exit, new QMouseEvent(type, at, exit->mapToGlobal(at), Qt::LeftButton,
                                              Qt::LeftButton, Qt::NoModifier));
            } else
                QCoreApplication::postEvent(
                    m_window.get(),
                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        });
        click(m_window->cmdDo());
        QCoreApplication::processEvents();

        QCOMPARE(m_dialogs.questions,
                 QStringList{QStringLiteral("停止整理？fa_Total 将保持原样。")});
        QCOMPARE(enabledDuringTheRun, QStringList());
        if (!answer) {
            QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("整理完毕")});
            QVERIFY(m_window->isVisible());
            return;
        }
        QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("整理已停止，fa_Total 保持原样")});
        QCOMPARE(totals(ledger()), before);
        QCOMPARE(m_window->isVisible(), how == "Esc");
        if (how == "Esc") {
            // Nothing of the stop is left over for the next run.
            click(m_window->CmdRefresh());
            m_dialogs.shown.clear();
            click(m_window->cmdDo());
            QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("整理完毕")});
        }
    }

    void sqlServerModeThroughTheStandIn_data()
    {
        QTest::addColumn<int>("pauseAt");
        QTest::newRow("completed") << 0;
        // About halfway through the 395 batches of the account year's connection.
        QTest::newRow("Esc") << 200;
    }

    void sqlServerModeThroughTheStandIn()
    {
#ifdef Q_OS_WIN
        if (qEnvironmentVariableIntValue("FATOTAL_WINE_SQLSERVER_DRIVER") != 1)
            QSKIP("SQL Server mode asks for Windows' own \"SQL Server\" ODBC driver, which "
                  "this Wine lacks");
#endif
        QFETCH(int, pauseAt);
        QTemporaryDir demo;
        sample::writeDemo(demo.path(), 120);
        const QString served = demo.path() + QStringLiteral("/ZT002/2026/kvdata.mdb");
        const QStringList before = test::dumpTable(served, QStringLiteral("fa_Total"));
        QStringList faults;
        if (pauseAt > 0)
            faults << "--pause-batch" << QString::number(pauseAt);
        test::StandIn standin(demo.path(), faults);
        QVERIFY(standin.started());
        QProcess &server = standin.process;

        m_window->IsSQL(1)->click();
        m_dialogs.loginScript = guitest::verifying(standin.server(), "pw");
        click(m_window->CmdRefresh());
        for (QComboBox *combo : {m_window->cmbAcc(), m_window->cmbYear()}) {
            const int index = combo->findText(combo == m_window->cmbAcc() ? "002" : "2026");
            combo->setCurrentIndex(index);
            emit combo->activated(index);
        }
        QCOMPARE(m_window->txtCurdb()->text(), QStringLiteral("kvdata_002_2026"));
        QCOMPARE(m_dialogs.texts(), QStringList());

        // Esc while the server holds the batch: only the stop can end it (or,
        // should the stop not reach the server, a line let through to fail).
        m_dialogs.answer = true;
        connect(&server, &QProcess::readyReadStandardOutput, m_window.get(), [&] {
            if (!server.readAllStandardOutput().contains("paused at batch"))
                return;
            QCoreApplication::postEvent(m_window.get(),
                                        new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
            QTimer::singleShot(30000, &server, [&] { server.write("\n"); });
        });
        click(m_window->cmdDo());
        QCoreApplication::processEvents();
        QCOMPARE(AccConn->State(), adStateClosed);
        if (pauseAt == 0) {
            QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("整理完毕")});
            QVERIFY(test::dumpTable(served, QStringLiteral("fa_Total")) != before);
            return;
        }
        QCOMPARE(m_dialogs.questions,
                 QStringList{QStringLiteral("停止整理？fa_Total 将保持原样。")});
        QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("整理已停止，fa_Total 保持原样")});
        QCOMPARE(test::dumpTable(served, QStringLiteral("fa_Total")), before);
        // Nothing of the run's session holds the file any more.
        sqlite3 *other = nullptr;
        sqlite3_open_v2(served.toUtf8().constData(), &other, SQLITE_OPEN_READWRITE, nullptr);
        const int written = sqlite3_exec(other, "BEGIN EXCLUSIVE; DELETE FROM fa_Total; ROLLBACK",
                                         nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QCOMPARE(written, SQLITE_OK);
    }

    void aLockHeldByAnotherProgramIsWaitedForAndSaid()
    {
        click(m_window->CmdRefresh());
        sqlite3 *other = nullptr;
        sqlite3_open_v2(ledger().toUtf8().constData(), &other, SQLITE_OPEN_READWRITE, nullptr);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        // The wait shows where the progress goes, with the seconds waited;
        // the mode and the clock stay in view, and nothing looks usable.
        QStringList shownWhileLocked;
        QTimer::singleShot(1300, [&] {
            shownWhileLocked << m_window->runProgress()->text()
                             << m_window->StatusBar1()->currentMessage();
            for (QLabel *panel : m_window->StatusBar1()->findChildren<QLabel *>())
                if (!panel->isVisible())
                    shownWhileLocked << panel->objectName();
            for (QWidget *control : {static_cast<QWidget *>(m_window->cmdDo()),
                                     static_cast<QWidget *>(m_window->CmdRefresh()),
                                     static_cast<QWidget *>(m_window->cmbAcc())})
                if (control->isEnabled())
                    shownWhileLocked << control->objectName();
            sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        });

        click(m_window->cmdDo());
        sqlite3_close(other);

        // However late the run began to wait.
        shownWhileLocked[0].replace(QRegularExpression(QStringLiteral(" \\d 秒$")),
                                    QStringLiteral(" n 秒"));
        QCOMPARE(shownWhileLocked,
                 (QStringList{QStringLiteral("数据库被其他程序占用，正在等待… n 秒"), QString()}));
        QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("整理完毕")});
        QCOMPARE(m_window->StatusBar1()->currentMessage(), QString());
    }

    // The box of a run names its history record; Ctrl+H shows that run with
    // what it changed, and 恢复… puts back exactly the table it replaced.
    void ctrlHRestoresWhatTheRunReplaced_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("one figure off") << "UPDATE fa_Total SET dblValue = dblValue + 0.1 "
                                           "WHERE rowid = 1";
        QTest::newRow("a row of nulls and odd values")
            << "INSERT INTO fa_Total (sDeptNum, sTypeNum, iPeriod, lCount, dblValue) "
               "VALUES ('部门,\"一\"', '99', 13, NULL, 1e-300)";
        QTest::newRow("empty") << "DELETE FROM fa_Total";
    }

    void ctrlHRestoresWhatTheRunReplaced()
    {
        QFETCH(QString, damage);
        m_dialogs.answer = true;
        const auto press = [this] {
            QTest::keyClick(m_window.get(), Qt::Key_H, Qt::ControlModifier);
        };
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        // No books chosen yet.
        press();
        QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("请先选择帐套及其年度")});
        m_dialogs.shown.clear();
        guitest::execOn(ledger(), {damage});
        const QStringList before = test::dumpTable(ledger(), QStringLiteral("fa_Total"));
        click(m_window->CmdRefresh());
        // Pressed during the run, it waits for nothing and opens nothing.
        connect(m_window->runProgress(), &QProgressBar::valueChanged, m_window.get(), press);
        click(m_window->cmdDo());
        disconnect(m_window->runProgress(), nullptr, m_window.get(), nullptr);
        QCOMPARE(m_dialogs.histories, 0);
        const QRegularExpression recordLine(
            QStringLiteral("^原来的 fa_Total 已保存为整理记录 (\\d+)；要恢复它，在主窗口按 "
                           "Ctrl\\+H 打开整理记录。$"));
        const QString id = recordLine.match(m_dialogs.notes.value(0)).captured(1);
        QVERIFY2(!id.isEmpty(), qPrintable(m_dialogs.notes.value(0)));

        QString listed, changes;
        m_dialogs.onHistory = [&](HistoryDialog &dialog) {
            listed = dialog.runList()->item(0, 0)->text();
            changes = ChangeReport::csvHeader() + dialog.changes()->report().csvLines();
        };
        press();
        QCOMPARE(listed, id);
        // The changes as the run's own box had them, read back from the history.
        QCOMPARE(changes.replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                 m_dialogs.details.value(0).section(QStringLiteral("\n\n"), 1));
        QVERIFY2(QRegularExpression(QStringLiteral("^恢复 \\d{4}-\\d\\d-\\d\\d "
                                                   "\\d\\d:\\d\\d:\\d\\d 整理前 的 fa_Total？$"))
                     .match(m_dialogs.questions.value(0))
                     .hasMatch(),
                 qPrintable(m_dialogs.questions.value(0)));
        QCOMPARE(m_dialogs.texts(),
                 (QStringList{QStringLiteral("整理完毕"), QStringLiteral("恢复完毕")}));
        QCOMPARE(test::dumpTable(ledger(), QStringLiteral("fa_Total")), before);
        // The restore can be undone in its turn.
        QVERIFY2(recordLine.match(m_dialogs.notes.value(1)).captured(1).toLongLong() >
                     id.toLongLong(),
                 qPrintable(m_dialogs.notes.value(1)));
        QVERIFY(m_window->cmdDo()->isEnabled());
    }
};

QTEST_MAIN(TestRunButton)
#include "tst_run_button.moc"
