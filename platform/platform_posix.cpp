#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <pthread.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fa {

namespace {

// Where the default system database lives on a machine without a Windows
// system directory; a folder an ordinary user may write to.
QString defaultSystemDirectory()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return QDir::cleanPath(base + QStringLiteral("/fatotal"));
}

// Each user runs a copy of their own: the lock is per user.
QString userName()
{
    const QString name = qEnvironmentVariable("USER", qEnvironmentVariable("LOGNAME"));
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return QString::number(::getuid());
    return name;
}

// The value of one key in one section of an INI-style file, exactly as
// written: everything after the first "=" to the end of the line, as the
// registry of Windows hands a value over. Neither ';', '\', ',' nor a leading
// '@' means anything in it. Section and key are matched without regard to
// case, as registry names are; a later line of the key wins. Null when the
// file, the section or the key is missing.
QString rawIniValue(const QString &fileName, QByteArrayView section, QByteArrayView key)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString value;
    bool inSection = false;
    bool firstLine = true;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        // Editors on Windows like to start the file with a byte-order mark.
        if (firstLine && line.startsWith("\xEF\xBB\xBF"))
            line.remove(0, 3);
        firstLine = false;
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('[')) {
            inSection =
                trimmed.endsWith(']') &&
                trimmed.sliced(1, trimmed.size() - 2).compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (inSection && equals > 0 &&
            line.first(equals).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            value = QString::fromUtf8(line.sliced(equals + 1));
    }
    return value;
}

// Typing the password with the echo off, the terminal must get its echo back
// even when the operator gives up with Ctrl+C.
termios inputModeBeforePassword;
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void restoreEchoAndEnd(int signal)
{
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &inputModeBeforePassword);
    std::signal(signal, SIG_DFL);
    std::raise(signal); // delivered with the default action once this returns
}

} // namespace

class PosixPlatform final : public Platform
{
public:
    QString systemDirectory() override
    {
        // Set by the tests and the demo to point at a prepared folder.
        // A relative folder is taken from where the program starts; the
        // files under it are looked up by absolute paths only.
        const QString configured = qEnvironmentVariable("FATOTAL_SYSTEM_DIR");
        if (!configured.isEmpty())
            return QDir(configured).absolutePath();
        return defaultSystemDirectory();
    }

    QString computerName() override { return QSysInfo::machineHostName(); }

    // The accounting system's saved sa password. On Windows it is the value
    // SAPASS under HKEY_LOCAL_MACHINE\Software\Korvane\WF\V8.21\Login; here
    // the same key path lives in Qt's system-wide settings file
    //     /etc/xdg/Korvane/WF.conf
    // (the first folder of XDG_CONFIG_DIRS, /etc/xdg by default), as
    //     [V8.21]
    //     Login\SAPASS=the password
    // The value is read as the registry would give it, not through the INI
    // syntax of QSettings, which would cut "p;w" to "p" and "a\b" to "a".
    // Blanks around it are dropped: trailing blanks cannot be seen in the
    // file. A password that must keep blanks at its ends is written in
    // double quotes, SAPASS=" pw "; only that outer pair is removed.
    QString savedSaPassword() override
    {
        const QString fileName = QSettings(QSettings::NativeFormat, QSettings::SystemScope,
                                           QStringLiteral("Korvane"), QStringLiteral("WF"))
                                     .fileName();
        QString password = rawIniValue(fileName, "V8.21", "Login\\SAPASS").trimmed();
        if (password.size() >= 2 && password.startsWith(QLatin1Char('"')) &&
            password.endsWith(QLatin1Char('"')))
            password = password.sliced(1, password.size() - 2);
        return password.trimmed().isEmpty() ? QString() : password;
    }

    bool anotherInstanceRunning() override
    {
        // The lock is held until the process ends; a lock left behind by a
        // process that no longer runs is taken over.
        if (!m_lock) {
            m_lock = std::make_unique<QLockFile>(
                QDir(QDir::tempPath()).filePath(QStringLiteral("fatotal-%1.lock").arg(userName())));
            m_lock->setStaleLockTime(0);
            m_held = m_lock->tryLock(0);
        }
        return !m_held;
    }

    bool isOrdinaryFile(const QString &path) override
    {
        if (path.isEmpty())
            return false;
        const QFileInfo info(path);
        // QFileInfo follows a symbolic link to what it names.
        return info.exists() && info.isFile() && !info.isHidden();
    }

    QString separator() override { return QStringLiteral("/"); }

    bool inputIsTerminal() override { return ::isatty(STDIN_FILENO) == 1; }
    bool errorIsTerminal() override { return ::isatty(STDERR_FILENO) == 1; }

    bool setInputEcho(bool on) override
    {
        termios mode;
        if (::tcgetattr(STDIN_FILENO, &mode) != 0)
            return false;
        if (!on) {
            inputModeBeforePassword = mode;
            for (int signal : kEndingSignals)
                std::signal(signal, restoreEchoAndEnd);
            mode.c_lflag &= ~tcflag_t(ECHO);
            return ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode) == 0;
        }
        mode.c_lflag |= ECHO;
        const bool done = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode) == 0;
        for (int signal : kEndingSignals)
            std::signal(signal, SIG_DFL);
        return done;
    }

    void onTerminationRequest(std::function<void()> handler) override
    {
        // The signals are kept from every thread and waited for by one of
        // ours, which may then do what a signal handler may not (interrupt
        // a database statement, say).
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        std::thread([set, handler = std::move(handler)] {
            for (int requests = 0;; ++requests) {
                int signal = 0;
                if (sigwait(&set, &signal) != 0)
                    continue;
                if (requests > 0)
                    std::_Exit(128 + signal);
                handler();
            }
        }).detach();
    }

private:
    std::unique_ptr<QLockFile> m_lock;
    bool m_held = false;
};

Platform &systemPlatform()
{
    static PosixPlatform instance;
    return instance;
}

} // namespace fa
