#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <memory>
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

} // namespace

class PosixPlatform final : public Platform
{
public:
    QString systemDirectory() override
    {
        // Set by the tests and the demo to point at a prepared folder.
        const QString configured = qEnvironmentVariable("FATOTAL_SYSTEM_DIR");
        if (!configured.isEmpty())
            return QDir::cleanPath(configured);
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
    // Qt writes the group separator of the key inside a section as '\'. A
    // password with a comma, a quote or blanks at its ends is written in
    // double quotes: SAPASS="a,b".
    QString savedSaPassword() override
    {
        const QSettings settings(QSettings::NativeFormat, QSettings::SystemScope,
                                 QStringLiteral("Korvane"), QStringLiteral("WF"));
        const QVariant value = settings.value(QStringLiteral("V8.21/Login/SAPASS"));
        QString password;
        switch (value.typeId()) {
        case QMetaType::QString:
            password = value.toString();
            break;
        case QMetaType::QStringList:
            // Written with commas and without quotes: the file format reads a
            // list, whose parts the commas joined.
            password = value.toStringList().join(QLatin1Char(','));
            break;
        case QMetaType::QByteArray:
            password = QString::fromUtf8(value.toByteArray());
            break;
        default:
            break;
        }
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
