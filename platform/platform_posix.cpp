#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// Where a copy of the window keeps its one-copy lock: the user's runtime
// folder of the session, else the user's cache folder. Never the temporary
// folder: TMPDIR may name a folder of anyone's, or none. Each computer has a
// lock of its own, for a home folder may be shared between computers.
QString instanceLockPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QFileInfo info(runtime);
    QString folder;
    if (!runtime.isEmpty() && info.isAbsolute() && info.isDir() && info.ownerId() == ::getuid() &&
        ::access(QFile::encodeName(runtime).constData(), W_OK | X_OK) == 0)
        folder = runtime;
    else
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return {};
    const QString host = QSysInfo::machineHostName().replace(QLatin1Char('/'), QLatin1Char('_'));
    return QDir(folder).filePath(QStringLiteral("fatotal-%1.lock").arg(host));
}

HeldFileLock::Outcome failed(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return HeldFileLock::Outcome::Failed;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens a lock file, made if missing; -1 with errno when it cannot be.
int openLockFile(const char *name)
{
    int fd = -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Made here, it is writable by everyone whatever the umask, so that
        // any user of a shared folder can claim it after us.
        fd = ::open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::fchmod(fd, 0666);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
        fd = ::open(name, O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        // Left by a user who kept it to himself: read-only will do.
        if (fd < 0 && errno == EACCES)
            fd = ::open(name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        // Else removed by its holder in between, and made anew.
        if (fd >= 0 || errno != ENOENT)
            return fd;
    }
    return fd;
}

// Why an open file is no lock file (a database, say); empty when it is one.
QString refusal(int fd, struct stat *opened)
{
    char head[20];
    const ssize_t size = ::pread(fd, head, sizeof head, 0);
    if (::fstat(fd, opened) != 0)
        return qt_error_string(errno);
    if (!S_ISREG(opened->st_mode) || opened->st_nlink > 1)
        return QStringLiteral("不是普通文件");
    if (startsLikeDatabase(QByteArrayView(head, size > 0 ? size : 0)))
        return QStringLiteral("这是一个数据库文件，不能用作锁文件");
    return {};
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
        // Held until the process ends. With nowhere to keep the lock, the
        // program runs unchecked rather than not at all.
        if (!m_checked) {
            m_checked = true;
            const QString path = instanceLockPath();
            m_another =
                !path.isEmpty() && m_lock.take(path) == HeldFileLock::Outcome::HeldElsewhere;
        }
        return m_another;
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
    HeldFileLock m_lock;
    bool m_checked = false;
    bool m_another = false;
};

HeldFileLock::Outcome HeldFileLock::take(const QString &path, QString *error)
{
    release();
    const QByteArray name = QFile::encodeName(path);
    // A holder removes the file as it lets go: the file just locked may no
    // longer be the one named, and the claim is made again on the new one.
    for (int attempt = 0; attempt < 100; ++attempt) {
        struct stat named;
        // A device, a pipe or another name of a file (a database's, say)
        // is not even opened.
        if (::lstat(name.constData(), &named) == 0 &&
            (!S_ISREG(named.st_mode) || named.st_nlink > 1))
            return failed(error, QStringLiteral("不是普通文件"));
        const int fd = openLockFile(name.constData());
        if (fd < 0)
            return failed(error, qt_error_string(errno));
        struct stat opened;
        const QString refused = refusal(fd, &opened);
        if (!refused.isEmpty()) {
            ::close(fd);
            return failed(error, refused);
        }
        // flock rather than fcntl: its claim belongs to the open file, so two
        // claims in one process exclude each other as two processes do, and
        // closing some other descriptor of the file does not drop it; it
        // claims a file open for reading only; and Linux hands it to the
        // server on NFS (since 2.6.12) and SMB (since 5.5) as a lock on the
        // whole file, so computers that share a folder see each other's.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            ::close(fd);
            if (code == EWOULDBLOCK)
                return Outcome::HeldElsewhere;
            if (code == EINTR)
                continue;
            return failed(error, qt_error_string(code));
        }
        struct stat now;
        if (::lstat(name.constData(), &now) != 0 || !sameFile(now, opened)) {
            ::close(fd);
            continue;
        }
        m_path = path;
        m_handle = fd;
        return Outcome::Held;
    }
    // Made and removed over and over: other claimants are at work.
    return Outcome::HeldElsewhere;
}

void HeldFileLock::release()
{
    if (m_handle == kNone)
        return;
    const int fd = int(m_handle);
    // Removed while still held, so that no one claims a file about to go; and
    // only while it is ours: someone may have removed it, and another
    // claimant made it anew.
    const QByteArray name = QFile::encodeName(m_path);
    struct stat named;
    struct stat held;
    if (::lstat(name.constData(), &named) == 0 && ::fstat(fd, &held) == 0 && sameFile(named, held))
        ::unlink(name.constData());
    ::close(fd);
    m_handle = kNone;
    m_path.clear();
}

QString stateDirectory(QString *error, bool create)
{
    QString folder = qEnvironmentVariable("FATOTAL_STATE_DIR");
    if (folder.isEmpty()) {
        // XDG_STATE_HOME counts only as an absolute path.
        QString base = qEnvironmentVariable("XDG_STATE_HOME");
        if (!QDir::isAbsolutePath(base))
            base = QDir::homePath() + QStringLiteral("/.local/state");
        folder = base + QStringLiteral("/fatotal");
    }
    folder = QDir::cleanPath(QDir(folder).absolutePath());
    if (!create)
        return folder;
    // The parents as the user's umask makes them; the folder itself holds
    // who ran what, so it is the owner's alone.
    const QByteArray name = QFile::encodeName(folder);
    if (!QDir().mkpath(QFileInfo(folder).path()) ||
        (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) || !QFileInfo(folder).isDir()) {
        if (error)
            *error = QStringLiteral("无法建立文件夹：") + folder;
        return {};
    }
    return folder;
}

QString systemUserName()
{
    // The account the program runs as, not what the environment claims.
    if (const passwd *entry = ::getpwuid(::geteuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

Platform &systemPlatform()
{
    static PosixPlatform instance;
    return instance;
}

} // namespace fa
