// The system's own side of the operating-system services: the saved sa
// password (in the system-wide settings file on POSIX, in the registry on
// Windows), the system directory, the computer name, the ordinary-file test
// and the single-instance lock across processes.

#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace fa;

namespace {

constexpr char kHoldLockArgument[] = "--hold-instance-lock";

// Helper mode: asks for the single-instance lock, says whether it got it and
// keeps it until its input is closed.
int holdInstanceLock(int argc, char **argv)
{
    // As in the program itself, the application exists before the lock is
    // asked for: the lock file names it.
    QCoreApplication app(argc, argv);
    const bool another = systemPlatform().anotherInstanceRunning();
    QFile out;
    out.open(stdout, QIODevice::WriteOnly);
    out.write(another ? "another\n" : "held\n");
    out.flush();
    QFile in;
    in.open(stdin, QIODevice::ReadOnly);
    in.readAll();
    return 0;
}

// The system's own side, never a fake installed by another test.
Platform &posix()
{
    return systemPlatform();
}

#ifdef Q_OS_WIN
// Where the accounting system keeps the password, below HKEY_LOCAL_MACHINE.
constexpr wchar_t kLoginKey[] = L"Software\\Korvane\\WF\\V8.21\\Login";

// Removes Software\Korvane from one view of the registry.
void removeKorvaneKey(REGSAM view)
{
    HKEY software = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | view, &software) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(software, L"Korvane");
        RegCloseKey(software);
    }
}

// Writes SAPASS into one view; a string as REG_SZ, a number as REG_DWORD.
bool writeSavedPassword(REGSAM view, const QVariant &value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLoginKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc;
    if (value.typeId() == QMetaType::Int) {
        const DWORD number = DWORD(value.toInt());
        rc = RegSetValueExW(key, L"SAPASS", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number),
                            sizeof number);
    } else {
        const QString text = value.toString();
        rc = RegSetValueExW(key, L"SAPASS", 0, REG_SZ, reinterpret_cast<const BYTE *>(text.utf16()),
                            DWORD((text.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}
#endif

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

    // Starts a copy of this program that tries for the lock; its answer.
    QString startHolder(QProcess &process)
    {
        process.setProgram(QCoreApplication::applicationFilePath());
        process.setArguments({QString::fromLatin1(kHoldLockArgument)});
        process.start();
        if (!process.waitForStarted(10000))
            return QStringLiteral("not started");
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(10000))
                return QStringLiteral("no answer");
        }
        return QString::fromLatin1(process.readLine()).trimmed();
    }

    static void stopHolder(QProcess &process)
    {
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(10000));
    }

private slots:
    void savedPasswordFromTheSystemSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("fileText"); // empty: no file at all
        QTest::addColumn<QString>("password");

        QTest::newRow("no file") << QByteArray() << "";
        QTest::newRow("plain") << QByteArray("[V8.21]\nLogin\\SAPASS=secret\n") << "secret";
        QTest::newRow("no value") << QByteArray("[V8.21]\nLogin\\USER=sa\n") << "";
        QTest::newRow("other version") << QByteArray("[V8.20]\nLogin\\SAPASS=old\n") << "";
        QTest::newRow("blank") << QByteArray("[V8.21]\nLogin\\SAPASS=\"   \"\n") << "";
        QTest::newRow("blanks kept around a password")
            << QByteArray("[V8.21]\nLogin\\SAPASS=\" pw \"\n") << " pw ";
        QTest::newRow("quoted separators")
            << QByteArray("[V8.21]\nLogin\\SAPASS=\"p;w,x=y\"\n") << "p;w,x=y";
        QTest::newRow("unquoted comma") << QByteArray("[V8.21]\nLogin\\SAPASS=a,b\n") << "a,b";
        QTest::newRow("Chinese") << QByteArray("[V8.21]\nLogin\\SAPASS=口令\n")
                                 << QStringLiteral("口令");
        // As written, as the registry would hand it over: nothing in the
        // value is syntax.
        QTest::newRow("semicolon") << QByteArray("[V8.21]\nLogin\\SAPASS=p;w\n") << "p;w";
        QTest::newRow("backslash") << QByteArray("[V8.21]\nLogin\\SAPASS=a\\b\n") << "a\\b";
        QTest::newRow("at sign") << QByteArray("[V8.21]\nLogin\\SAPASS=@Invalid()\n")
                                 << "@Invalid()";
        QTest::newRow("quoted, inside as written")
            << QByteArray("[V8.21]\nLogin\\SAPASS=\"q\\\"d\"\n") << "q\\\"d";
        QTest::newRow("blanks, CR LF, byte-order mark, no final line end")
            << QByteArray("\xEF\xBB\xBF[V8.21]\r\n Login\\SAPASS = a=b \t\r\n[V8.3]\r\nx=y")
            << "a=b";
    }
    void savedPasswordFromTheSystemSettingsFile()
    {
        QFETCH(QByteArray, fileText);
        QFETCH(QString, password);
#ifdef Q_OS_WIN
        QSKIP("Windows keeps the password in the registry (savedPasswordFromTheRegistry)");
#endif

        QTemporaryDir root;
        QVERIFY(root.isValid());
        if (!fileText.isEmpty()) {
            QVERIFY(QDir(root.path()).mkpath(QStringLiteral("Korvane")));
            QFile file(root.filePath(QStringLiteral("Korvane/WF.conf")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(fileText);
        }
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, root.path());
        QCOMPARE(posix().savedSaPassword(), password);
    }

    // As a 32-bit accounting client writes it: in the 32-bit view of the
    // registry, which a 64-bit build reads all the same. A value in the
    // 64-bit view alone is not the accounting system's.
    void savedPasswordFromTheRegistry_data()
    {
        QTest::addColumn<bool>("in32BitView"); // else in the 64-bit view
        QTest::addColumn<QVariant>("value");   // null: no key at all
        QTest::addColumn<QString>("password");
        QTest::newRow("no key") << true << QVariant() << "";
        QTest::newRow("plain") << true << QVariant("secret") << "secret";
        QTest::newRow("as written")
            << true << QVariant("p;w=x,\\@Invalid()") << "p;w=x,\\@Invalid()";
        QTest::newRow("blanks kept") << true << QVariant(" pw ") << " pw ";
        QTest::newRow("only blanks") << true << QVariant("   ") << "";
        QTest::newRow("Chinese") << true << QVariant(QStringLiteral("口令"))
                                 << QStringLiteral("口令");
        QTest::newRow("a number") << true << QVariant(1234) << "";
        QTest::newRow("64-bit view only") << false << QVariant("secret") << "";
    }
    void savedPasswordFromTheRegistry()
    {
#ifndef Q_OS_WIN
        QSKIP("only Windows has a registry (savedPasswordFromTheSystemSettingsFile)");
#else
        QFETCH(bool, in32BitView);
        QFETCH(QVariant, value);
        QFETCH(QString, password);
        removeKorvaneKey(KEY_WOW64_32KEY);
        removeKorvaneKey(KEY_WOW64_64KEY);
        if (value.isValid() &&
            !writeSavedPassword(in32BitView ? KEY_WOW64_32KEY : KEY_WOW64_64KEY, value))
            QSKIP("HKEY_LOCAL_MACHINE cannot be written (that needs an administrator)");
        const QString read = posix().savedSaPassword();
        removeKorvaneKey(KEY_WOW64_32KEY);
        removeKorvaneKey(KEY_WOW64_64KEY);
        QCOMPARE(read, password);
#endif
    }

    void systemDirectoryFromTheEnvironment()
    {
        QTemporaryDir dir;
        qputenv("FATOTAL_SYSTEM_DIR", QFile::encodeName(dir.path() + QStringLiteral("/")));
        QCOMPARE(posix().systemDirectory(), QDir::toNativeSeparators(dir.path()));
        qunsetenv("FATOTAL_SYSTEM_DIR");
    }

    // Without the variable, on Windows: the system folder of 32-bit programs,
    // where the accounting system's own files are.
    void systemDirectoryOfTheAccountingSystem()
    {
#ifndef Q_OS_WIN
        QSKIP("only Windows has a system folder (systemDirectoryOfTheUser)");
#else
        qunsetenv("FATOTAL_SYSTEM_DIR");
        const QDir windows(qEnvironmentVariable("SystemRoot"));
        const QString folder = windows.exists(QStringLiteral("SysWOW64"))
                                   ? windows.filePath(QStringLiteral("SysWOW64"))
                                   : windows.filePath(QStringLiteral("System32"));
        QCOMPARE(posix().systemDirectory().toLower(), QDir::toNativeSeparators(folder).toLower());
#endif
    }

    // The name the login window proposes as the server: this machine's, as
    // Windows tells every program in COMPUTERNAME.
    void computerName()
    {
#ifndef Q_OS_WIN
        QSKIP("the POSIX side hands over QSysInfo's host name unchanged");
#else
        QVERIFY(!qEnvironmentVariable("COMPUTERNAME").isEmpty());
        QCOMPARE(posix().computerName(), qEnvironmentVariable("COMPUTERNAME"));
#endif
    }

    // Without the variable: the user's own data folder, never one that
    // needs root.
    void systemDirectoryOfTheUser()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has a system folder (systemDirectoryOfTheAccountingSystem)");
#endif
        QTemporaryDir dataHome;
        qunsetenv("FATOTAL_SYSTEM_DIR");
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
        QCOMPARE(posix().systemDirectory(), dataHome.path() + QStringLiteral("/fatotal"));
        qunsetenv("XDG_DATA_HOME");
    }

    void ordinaryFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("ordinary");
        QTest::newRow("file") << "kvsystem.mdb" << true;
        QTest::newRow("link to a file") << "link-to-file" << true;
        QTest::newRow("folder") << "kvsystem" << false;
        QTest::newRow("link to a folder") << "link-to-folder" << false;
        QTest::newRow("dangling link") << "dangling" << false;
        QTest::newRow("missing") << "missing.mdb" << false;
        QTest::newRow("hidden") << ".kvdata.mdb" << false;
        QTest::newRow("device") << "/dev/null" << false;
        QTest::newRow("empty path") << "" << false;
    }
    void ordinaryFiles()
    {
        QFETCH(QString, name);
        QFETCH(bool, ordinary);

        QTemporaryDir root;
        const QDir dir(root.path());
        for (const char *file : {"kvsystem.mdb", ".kvdata.mdb"}) {
            QFile f(dir.filePath(QString::fromLatin1(file)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(dir.mkdir(QStringLiteral("kvsystem")));
#ifdef Q_OS_WIN
        if (name.contains(QLatin1String("link")) || name == QLatin1String("dangling"))
            QSKIP("symbolic links need a privilege that Windows gives no ordinary user, and "
                  "QFile::link makes a shell shortcut there instead");
        // A leading dot hides nothing on Windows; the attribute does.
        const QString hidden =
            QDir::toNativeSeparators(dir.filePath(QStringLiteral(".kvdata.mdb")));
        QVERIFY(
            SetFileAttributesW(reinterpret_cast<LPCWSTR>(hidden.utf16()), FILE_ATTRIBUTE_HIDDEN));
        if (name == QLatin1String("/dev/null"))
            name = QStringLiteral("NUL");
#endif
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("kvsystem.mdb")),
                            dir.filePath(QStringLiteral("link-to-file"))));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("kvsystem")),
                            dir.filePath(QStringLiteral("link-to-folder"))));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone.mdb")),
                            dir.filePath(QStringLiteral("dangling"))));

        const QString path = name.isEmpty() || name.startsWith(QLatin1Char('/')) || name == "NUL"
                                 ? name
                                 : dir.filePath(name);
        QCOMPARE(posix().isOrdinaryFile(path), ordinary);
    }

    // One copy per user: a second copy sees the first until it ends, however
    // it ends; a long-held lock is not mistaken for a stale one.
    // (On Windows the lock is a named mutex, which ends with the last
    // process that holds it: there is no file to look at.)
    void singleInstanceAcrossProcesses_data()
    {
        QTest::addColumn<QByteArray>("folder"); // where the lock file is kept
        QTest::newRow("runtime folder") << QByteArray("XDG_RUNTIME_DIR");
        QTest::newRow("no runtime folder: the cache folder") << QByteArray("XDG_CACHE_HOME");
    }
    void singleInstanceAcrossProcesses()
    {
        QFETCH(QByteArray, folder);
#ifndef Q_OS_WIN
        QTemporaryDir tmp;
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        // Whatever TMPDIR says, the lock is kept in the user's folder.
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv(folder.constData(), QFile::encodeName(tmp.filePath(QStringLiteral("locks"))));
        QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("locks")));
        const auto lockFiles = [&tmp] {
            return QDir(tmp.filePath(QStringLiteral("locks")))
                .entryList({QStringLiteral("fatotal-*.lock")}, QDir::Files | QDir::Hidden);
        };
#endif

        QProcess first;
        QCOMPARE(startHolder(first), QStringLiteral("held"));
#ifndef Q_OS_WIN
        QCOMPARE(lockFiles().size(), 1);
        qputenv("TMPDIR", QFile::encodeName(tmp.filePath(QStringLiteral("missing"))));
#endif
        QVERIFY(posix().anotherInstanceRunning());
        // Asked again, the answer stands.
        QVERIFY(posix().anotherInstanceRunning());

        QProcess second;
        QCOMPARE(startHolder(second), QStringLiteral("another"));
        stopHolder(second);

        // Killed, the first leaves its lock file behind; the next copy takes
        // it over.
        first.kill();
        QVERIFY(first.waitForFinished(10000));
#ifndef Q_OS_WIN
        QCOMPARE(lockFiles().size(), 1);
#endif
        QProcess third;
        QCOMPARE(startHolder(third), QStringLiteral("held"));

#ifndef Q_OS_WIN
        // A lock an hour old whose owner still runs is still held.
        const QString lockPath = tmp.filePath(QStringLiteral("locks/") + lockFiles().value(0));
        QFile lock(lockPath);
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
        lock.close();
        QProcess fourth;
        QCOMPARE(startHolder(fourth), QStringLiteral("another"));
        stopHolder(fourth);
#endif

        // Ended normally, the holder gives the lock back.
        stopHolder(third);
#ifndef Q_OS_WIN
        QCOMPARE(lockFiles().size(), 0);
#endif
        QProcess fifth;
        QCOMPARE(startHolder(fifth), QStringLiteral("held"));
        stopHolder(fifth);

        qunsetenv("TMPDIR");
        qunsetenv(folder.constData());
    }
};

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], kHoldLockArgument) == 0)
        return holdInstanceLock(argc, argv);
    QCoreApplication app(argc, argv);
    TestPlatform test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_platform.moc"
