// "计算总帐" from the window: "刷新", then the run on the demo installation,
// with the message boxes answered by a recorder.
#include "app/dialogs.h"
#include "app/main_window.h"
#include "data/db_state.h"
#include "fake_platform.h"
#include "tools/sample_ledger.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
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

    void message(QWidget *, const QString &text) override
    {
        const QCursor *cursor = QApplication::overrideCursor();
        shown.append({text, runButton && runButton->isEnabled(),
                      cursor && cursor->shape() == Qt::WaitCursor});
    }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return {};
    }
    void login(QWidget *) override {}
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
    std::unique_ptr<FakePlatform> m_platform;
    RecordingDialogs m_dialogs;
    std::unique_ptr<frmMain> m_window;

    QString ledger() const { return m_dir.path() + QStringLiteral("/ZT001/2025/kvdata.mdb"); }
    void click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        sample::writeDemo(m_dir.path(), 120);
    }

    void init()
    {
        ResetDbState();
        m_platform = std::make_unique<FakePlatform>();
        m_platform->systemDirectoryValue = m_dir.path();
        m_dialogs.shown.clear();
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

    void secondRunNeedsTheSystemDatabaseAgain()
    {
        click(m_window->CmdRefresh());
        click(m_window->cmdDo());
        m_dialogs.shown.clear();
        click(m_window->cmdDo());
        QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("可能系统库ua_period 有误")});
        QVERIFY(m_window->cmdDo()->isEnabled());

        m_dialogs.shown.clear();
        click(m_window->CmdRefresh());
        click(m_window->cmdDo());
        QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("整理完毕")});
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

        QCOMPARE(m_dialogs.texts(),
                 (QStringList{QStringLiteral("打开卡片表错误"), QStringLiteral("整理完毕")}));
        QVERIFY(!m_dialogs.shown.first().runEnabled);
        QVERIFY(m_dialogs.shown.first().hourglass);
        QVERIFY(m_window->cmdDo()->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(totals(copy), before);
    }
};

QTEST_MAIN(TestRunButton)
#include "tst_run_button.moc"
