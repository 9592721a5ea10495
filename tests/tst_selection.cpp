// "刷新" and the cascade it starts: the system database, the account and year
// lists and the account-year database, on real database files.
#include "app/login_attempt.h"
#include "app/login_window.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "data/db_state.h"
#include "gui_fixtures.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace fa;

namespace {

QStringList items(const QComboBox *combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

// The operator picks an entry of the list.
void choose(QComboBox *combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

} // namespace

class TestSelection : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<guitest::SelectionFiles> m_files;
    guitest::FakeDialogs m_dialogs;
    std::unique_ptr<frmMain> m_window;

    void refresh() { QTest::mouseClick(m_window->CmdRefresh(), Qt::LeftButton); }
    QString location() const { return m_window->txtCurdb()->text(); }
    // A system database with account 001 (years 2002 and 2003) and the file of 2002.
    QString standardSetup()
    {
        m_files->createSystemDb();
        m_files->addAccount(QStringLiteral("001"), m_files->dataPath());
        m_files->addYear(QStringLiteral("001"), 2002);
        m_files->addYear(QStringLiteral("001"), 2003);
        return m_files->createAccountYearDb(QStringLiteral("001"), 2002);
    }

private slots:
    void init()
    {
        ResetDbState();
        setChosenSystemDatabase({});
        m_files = std::make_unique<guitest::SelectionFiles>();
        m_dialogs = {};
        m_window = std::make_unique<frmMain>(m_dialogs);
        m_window->show();
    }

    void cleanup()
    {
        m_window.reset();
        ResetDbState();
        m_files.reset();
    }

    void onePressResolvesFirstAccountAndYear()
    {
        const QString file = standardSetup();
        refresh();
        QCOMPARE(m_dialogs.messages, QStringList());
        QVERIFY(m_dialogs.fileDialogs.isEmpty());
        QCOMPARE(SysConnStr, JetConnPrefix + m_files->defaultSystemDb());
        QCOMPARE(SysConn->State(), adStateOpen);
        QCOMPARE(items(m_window->cmbAcc()), QStringList{QStringLiteral("001")});
        QCOMPARE(m_window->cmbAcc()->currentText(), QStringLiteral("001"));
        QCOMPARE(m_window->cmbYear()->count(), 2); // each year once
        QCOMPARE(m_window->cmbYear()->currentIndex(), 0);
        QCOMPARE(m_window->cmbYear()->currentText(), QStringLiteral("2002"));
        QCOMPARE(location(), file);
        QCOMPARE(AccConnStr, JetConnPrefix + file);
        QVERIFY(m_window->cmdDo()->isEnabled());
        QCOMPARE(WorkRs->State(), adStateClosed);

        // Again: the lists are rebuilt, never doubled.
        refresh();
        QCOMPARE(m_window->cmbAcc()->count(), 1);
        QCOMPARE(m_window->cmbYear()->count(), 2);
        QCOMPARE(location(), file);
    }

    void onlyNumericAccountIdsAreListed()
    {
        m_files->createSystemDb();
        for (const char *id : {"abc", "001", "002"})
            m_files->addAccount(QString::fromLatin1(id), m_files->dataPath());
        m_files->addYear(QStringLiteral("001"), 2002);
        const QString file = m_files->createAccountYearDb(QStringLiteral("001"), 2002);
        refresh();
        QCOMPARE(items(m_window->cmbAcc()), (QStringList{"001", "002"}));
        QCOMPARE(location(), file);
    }

    void emptyAccountTable()
    {
        m_files->createSystemDb();
        refresh();
        QVERIFY(m_dialogs.messages.isEmpty());
        QVERIFY(m_window->cmbAcc()->isEnabled());
        QCOMPARE(m_window->cmbAcc()->count(), 0);
        QVERIFY(location().isEmpty());
        QVERIFY(!m_window->cmdDo()->isEnabled());
    }

    void browseWhenDefaultIsMissing_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancelled") << true;
        QTest::newRow("chosen") << false;
    }

    void browseWhenDefaultIsMissing()
    {
        QFETCH(bool, cancel);
        const QString elsewhere = m_files->root() + QStringLiteral("/kvsystem_copy.mdb");
        m_files->createSystemDb(elsewhere);
        m_files->addAccount(QStringLiteral("001"), m_files->dataPath(), elsewhere);
        m_files->addYear(QStringLiteral("001"), 2002, elsewhere);
        const QString file = m_files->createAccountYearDb(QStringLiteral("001"), 2002);
        m_window->cmbAcc()->addItem(QStringLiteral("keep"));
        if (!cancel)
            m_dialogs.fileAnswers << QStringLiteral("  ") + elsewhere + QStringLiteral(" ");

        refresh();
        QCOMPARE(m_dialogs.fileDialogs.size(), 1);
        QCOMPARE(m_dialogs.fileDialogs[0].title, QStringLiteral("寻找系统数据库"));
        // The home folder, no file name: the default folder may not exist.
        QCOMPARE(m_dialogs.fileDialogs[0].directory, QDir::homePath());
        QCOMPARE(m_dialogs.fileDialogs[0].filter,
                 QStringLiteral("Korvane系统数据库 (kvsystem*.*)"));
        QVERIFY(m_dialogs.messages.isEmpty());
        if (cancel) {
            QVERIFY(SysConnStr.isEmpty());
            QCOMPARE(items(m_window->cmbAcc()), QStringList{QStringLiteral("keep")});
        } else {
            QCOMPARE(SysConnStr, JetConnPrefix + elsewhere);
            QCOMPARE(location(), file);
        }

        // Chosen once, it is used again without asking; cancelled, it asks again.
        refresh();
        QCOMPARE(m_dialogs.fileDialogs.size(), cancel ? 2 : 1);
        QCOMPARE(SysConnStr, cancel ? QString() : JetConnPrefix + elsewhere);
        QCOMPARE(location(), cancel ? QString() : file);
    }

    void chosenFileThatDoesNotOpen()
    {
        const QString missing = m_files->root() + QStringLiteral("/kvsystem_gone.mdb");
        m_dialogs.fileAnswers << missing;
        refresh();
        QCOMPARE(m_dialogs.messages,
                 QStringList{"打开数据库错误\n找不到文件：" + QDir::toNativeSeparators(missing)});
        QCOMPARE(SysConnStr, JetConnPrefix + missing);
        QCOMPARE(SysConn->State(), adStateClosed);
        refresh(); // not kept: it asks again
        QCOMPARE(m_dialogs.fileDialogs.size(), 2);
    }

    void unobtainableSystemDirectory()
    {
        m_files->platform.systemDirectoryValue.clear();
        refresh();
        QCOMPARE(m_dialogs.messages, QStringList{QStringLiteral("打开数据库错误")});
        QVERIFY(m_dialogs.fileDialogs.isEmpty());
        QVERIFY(m_window->isVisible());
    }

    void missingAccountYearFile()
    {
        standardSetup();
        refresh();
        QVERIFY(m_window->cmdDo()->isEnabled());

        // 2003 has periods but no file.
        choose(m_window->cmbYear(), 1);
        const QString expected = m_files->dataPath() + QStringLiteral("/ZT001/2003/kvdata.mdb");
        QCOMPARE(m_dialogs.messages, QStringList{QStringLiteral("没有发现") + expected});
        QVERIFY(location().isEmpty());
        QVERIFY(AccConnStr.isEmpty());
        QVERIFY(!m_window->cmdDo()->isEnabled());
    }

    void storedDataPathForms_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("missing"); // empty: found
        QTest::newRow("windows") << "D:\\Acct\\Data"
                                 << "D:\\Acct\\Data\\ZT001\\2002\\kvdata.mdb";
        QTest::newRow("windows, trailing \\") << "D:\\Acct\\Data\\"
                                              << "D:\\Acct\\Data\\ZT001\\2002\\kvdata.mdb";
        QTest::newRow("posix") << "DATA"
                               << "";
        QTest::newRow("posix, trailing /") << "DATA/"
                                           << "";
        // Not a URI: a relative path that no working folder may complete.
        QTest::newRow("file: prefix") << "file:DATA"
                                      << "file:DATA/ZT001/2002/kvdata.mdb";
        // No data path: reported, never looked for in the root folder.
        QTest::newRow("empty") << ""
                               << "SEPZT001SEP2002SEPkvdata.mdb";
        QTest::newRow("null") << "NULL"
                              << "SEPZT001SEP2002SEPkvdata.mdb";
    }

    void storedDataPathForms()
    {
        QFETCH(QString, stored);
        QFETCH(QString, missing);
        stored.replace(QStringLiteral("DATA"), m_files->dataPath());
        missing.replace(QStringLiteral("DATA"), m_files->dataPath());
        missing.replace(QStringLiteral("SEP"), m_files->platform.separatorValue);
        m_files->createSystemDb();
        m_files->addAccount(QStringLiteral("001"), stored);
        if (stored == QLatin1String("NULL"))
            guitest::execOn(m_files->defaultSystemDb(),
                            {QStringLiteral("UPDATE UA_Account SET cAcc_Path = NULL")});
        m_files->addYear(QStringLiteral("001"), 2002);
        const QString file = m_files->createAccountYearDb(QStringLiteral("001"), 2002);
        // Even a file whose name spells the Windows path (or the relative
        // one) is not that path.
        const QString previous = QDir::currentPath();
        QDir::setCurrent(m_files->root());
        if (QDir::isRelativePath(missing) && QDir().mkpath(QFileInfo(missing).path()))
            QFile::copy(file, missing);
        refresh();
        QDir::setCurrent(previous);
        if (missing.isEmpty()) {
            QVERIFY(m_dialogs.messages.isEmpty());
            QCOMPARE(location(), file);
        } else {
            QCOMPARE(m_dialogs.messages, QStringList{QStringLiteral("没有发现") + missing});
            QVERIFY(location().isEmpty());
            // A path that names nothing here (relative, or of Windows where
            // "/" separates) is not even looked up.
            if (QDir::isRelativePath(missing) || m_files->platform.separatorValue == "/")
                QVERIFY(!m_files->platform.lookedUp.contains(missing));
        }
    }

    void numericListValues_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("numeric");
        QTest::newRow("leading zeros") << QVariant(QStringLiteral("001")) << true;
        QTest::newRow("integer") << QVariant(2002) << true;
        QTest::newRow("blanks, sign, decimals") << QVariant(QStringLiteral(" -12.5 ")) << true;
        QTest::newRow("exponent") << QVariant(QStringLiteral("1e3")) << true;
        QTest::newRow("hex") << QVariant(QStringLiteral("&H1F")) << true;
        QTest::newRow("letters") << QVariant(QStringLiteral("abc")) << false;
        QTest::newRow("two numbers") << QVariant(QStringLiteral("1 2")) << false;
        QTest::newRow("empty") << QVariant(QString()) << false;
        QTest::newRow("null") << QVariant() << false;
    }

    void numericListValues()
    {
        QFETCH(QVariant, value);
        QFETCH(bool, numeric);
        QCOMPARE(IsNumericValue(value), numeric);
    }

    void afterSystemConnectionClosed()
    {
        const QString file = standardSetup();
        refresh();
        SysConn->Close(); // as after a recalculation run

        choose(m_window->cmbAcc(), 0);
        QVERIFY(m_dialogs.messages.isEmpty());
        QVERIFY(m_window->cmbYear()->isEnabled());
        QCOMPARE(m_window->cmbYear()->count(), 0);
        QCOMPARE(location(), file);

        m_window->cmbYear()->addItem(QStringLiteral("2002"));
        choose(m_window->cmbYear(), 0);
        QCOMPARE(m_dialogs.messages, QStringList{QStringLiteral("打开系统库错误")});
        QVERIFY(location().isEmpty());
    }

    void quotesInTypedAccountId()
    {
        standardSetup();
        const QString odd = QStringLiteral("0'1");
        m_files->addAccount(odd, m_files->dataPath());
        m_files->addYear(odd, 2005);
        const QString file = m_files->createAccountYearDb(odd, 2005);
        refresh();

        m_window->cmbAcc()->setEditText(odd);
        m_window->cmbAcc_Click();
        QCOMPARE(items(m_window->cmbYear()), QStringList{QStringLiteral("2005")});
        QCOMPARE(m_dialogs.messages, QStringList());
        QCOMPARE(location(), file);
    }

    // Closed without a login, the window says the system database did not
    // open; closed while it waited for the server, it was given up and says
    // nothing more.
    void sqlServerLoginClosedUnverified_data()
    {
        QTest::addColumn<bool>("waiting");
        QTest::newRow("closed") << false;
        QTest::newRow("given up while waiting") << true;
    }

    void sqlServerLoginClosedUnverified()
    {
        QFETCH(bool, waiting);
        guitest::FakeServer server(m_files->root(), QStringLiteral("pw"));
        server.createSystemCatalog();
        QSemaphore answer;
        server.duringOpen = [&] { answer.tryAcquire(1, guitest::kPatienceMs); };
        if (waiting) {
            m_dialogs.loginScripts << [](frmLog &log) {
                QTimer::singleShot(50, &log, &frmLog::close);
                guitest::verify(log, QStringLiteral("SRV01"), QStringLiteral("pw"));
            };
        }
        m_window->IsSQL_Click(1);
        refresh();
        answer.release();
        QTRY_COMPARE_WITH_TIMEOUT(LoginAttempt::running(), 0, guitest::kPatienceMs);
        QCOMPARE(m_dialogs.logins, 1);
        QCOMPARE(m_dialogs.messages,
                 waiting ? QStringList() : QStringList{QStringLiteral("打开数据库错误")});
        QVERIFY(SysConnStr.isEmpty());
        QVERIFY(!m_window->cmbAcc()->isEnabled());
    }

    void sqlServerCascade()
    {
        // The password holds the catalog's name; only the catalog field changes.
        const QString password = QStringLiteral("x;KVSYSTEM");
        guitest::FakeServer server(m_files->root(), password);
        const QString system = server.createSystemCatalog();
        m_files->addAccount(QStringLiteral("001"), QString(), system);
        m_files->addYear(QStringLiteral("001"), 2002, system);
        m_files->addYear(QStringLiteral("001"), 2003, system);
        server.addDatabase(QStringLiteral("kvdata_001_2002"));

        m_window->IsSQL_Click(1);
        // A success, then a failure: the window keeps the successful string.
        m_dialogs.loginScripts << [&](frmLog &log) {
            guitest::verify(log, QStringLiteral("SRV01"), password);
            guitest::verify(log, QStringLiteral("SRV01"), QStringLiteral("wrong"));
        };
        refresh();
        const QString good = frmLog::SysConnStrFor(QStringLiteral("SRV01"), password);
        QCOMPARE(m_dialogs.messages, QStringList());
        QCOMPARE(SysConnStr, good);
        QCOMPARE(SysConn->State(), adStateOpen);
        QCOMPARE(location(), QStringLiteral("kvdata_001_2002"));
        QString expected = good;
        expected.replace(QStringLiteral("Initial Catalog=KVSYSTEM;"),
                         QStringLiteral("Initial Catalog=kvdata_001_2002;"));
        QCOMPARE(AccConnStr, expected);
        QVERIFY(AccConnStr.endsWith(QStringLiteral(";Password=x;KVSYSTEM")));
        QVERIFY(m_window->cmdDo()->isEnabled());
        m_window->Timer1_Timer();
        QCOMPARE(m_window->panelText(1), QStringLiteral("服务器:SRV01"));

        choose(m_window->cmbYear(), 1);
        QCOMPARE(m_dialogs.messages, QStringList{QStringLiteral("没有发现数据库kvdata_001_2003")});
        QVERIFY(location().isEmpty());
        QVERIFY(AccConnStr.isEmpty());
    }

    void sqlServerQuotedDatabaseName()
    {
        guitest::FakeServer server(m_files->root(), QStringLiteral("pw"));
        const QString system = server.createSystemCatalog();
        m_files->addAccount(QStringLiteral("001"), QString(), system);
        m_files->addYear(QStringLiteral("001"), 2002, system);
        server.addDatabase(QStringLiteral("kvdata_0'1_2002"));
        m_window->IsSQL_Click(1);
        m_dialogs.loginScripts << guitest::verifying(QStringLiteral("SRV01"), QStringLiteral("pw"));
        refresh();
        m_dialogs.messages.clear();

        m_window->cmbAcc()->setEditText(QStringLiteral("0'1"));
        choose(m_window->cmbYear(), 0);
        QCOMPARE(m_dialogs.messages, QStringList());
        QCOMPARE(location(), QStringLiteral("kvdata_0'1_2002"));
    }
};

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
