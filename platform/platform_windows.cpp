#include "platform/platform.h"

#include <QDir>
#include <atomic>
#include <cstdio>
#include <functional>
#include <iterator>

#include <windows.h>

namespace fa {

class WindowsPlatform final : public Platform
{
public:
    ~WindowsPlatform() override
    {
        if (m_mutex)
            CloseHandle(m_mutex);
    }

    // The system folder as the accounting system sees it. It is a 32-bit
    // program: what it keeps under "system32" lands, on 64-bit Windows, in
    // the folder that GetSystemWow64Directory names (SysWOW64). On 32-bit
    // Windows that call fails and the system folder is the one.
    QString systemDirectory() override
    {
        // Set by the tests and the demo to point at a prepared folder.
        const QString configured = qEnvironmentVariable("FATOTAL_SYSTEM_DIR");
        if (!configured.isEmpty())
            return QDir::toNativeSeparators(QDir(configured).absolutePath());
        wchar_t buffer[MAX_PATH + 1];
        UINT length = GetSystemWow64DirectoryW(buffer, UINT(std::size(buffer)));
        if (length == 0)
            length = GetSystemDirectoryW(buffer, UINT(std::size(buffer)));
        if (length == 0 || length >= std::size(buffer))
            return {};
        return QString::fromWCharArray(buffer, int(length));
    }

    QString computerName() override
    {
        wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1];
        DWORD length = DWORD(std::size(buffer));
        if (!GetComputerNameW(buffer, &length))
            return {};
        return QString::fromWCharArray(buffer, int(length));
    }

    // HKEY_LOCAL_MACHINE\Software\Korvane\WF\V8.21\Login, value SAPASS, read
    // as the registry holds it (QSettings would decode texts such as
    // "@Invalid()"). The accounting system is a 32-bit program: on 64-bit
    // Windows its key lies in the 32-bit view, read whatever this program's
    // own width.
    QString savedSaPassword() override
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Korvane\\WF\\V8.21\\Login", 0,
                          KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
            return {};
        wchar_t buffer[1024] = {};
        DWORD size = sizeof(buffer) - sizeof(wchar_t); // room for a terminating NUL
        DWORD type = 0;
        const LONG rc = RegQueryValueExW(key, L"SAPASS", nullptr, &type,
                                         reinterpret_cast<BYTE *>(buffer), &size);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            return {};
        QString password = QString::fromWCharArray(buffer, int(size / sizeof(wchar_t)));
        // A stored value may or may not carry its terminating NUL.
        const qsizetype nul = password.indexOf(QChar(u'\0'));
        if (nul >= 0)
            password.truncate(nul);
        return password.trimmed().isEmpty() ? QString() : password;
    }

    bool anotherInstanceRunning() override
    {
        // The mutex lives as long as the process; Windows releases it when
        // the process ends, however it ends.
        if (!m_checked) {
            m_checked = true;
            m_mutex = CreateMutexW(nullptr, FALSE, L"Local\\fatotal-single-instance");
            m_another = m_mutex && GetLastError() == ERROR_ALREADY_EXISTS;
            // A copy that finds another lets go at once: holding the name
            // open, it would keep it alive after the first copy has ended.
            if (m_another) {
                CloseHandle(m_mutex);
                m_mutex = nullptr;
            }
        }
        return m_another;
    }

    // Hidden and system files do not count, nor do devices (NUL, COM1),
    // which Windows describes with the attributes of a file.
    bool isOrdinaryFile(const QString &path) override
    {
        if (path.isEmpty())
            return false;
        const QString native = QDir::toNativeSeparators(path);
        const auto name = reinterpret_cast<LPCWSTR>(native.utf16());
        const DWORD attributes = GetFileAttributesW(name);
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes &
             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0)
            return false;
        // Opened for no access at all, a file that another program holds
        // open is not disturbed.
        const HANDLE file =
            CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        const bool disk = GetFileType(file) == FILE_TYPE_DISK;
        CloseHandle(file);
        return disk;
    }

    QString separator() override { return QStringLiteral("\\"); }

    // A console on standard input; a pipe or a file is none.
    bool inputIsTerminal() override
    {
        DWORD mode = 0;
        return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
    }

    // A console, not the NUL device (which _isatty would count).
    bool errorIsTerminal() override
    {
        DWORD mode = 0;
        return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
    }

    void writeError(const QString &text) override
    {
        const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
        DWORD mode = 0;
        if (!GetConsoleMode(error, &mode)) {
            Platform::writeError(text);
            return;
        }
        // What stdio still holds goes first, so that lines keep their order.
        std::fflush(stderr);
        DWORD written = 0;
        WriteConsoleW(error, text.utf16(), DWORD(text.size()), &written, nullptr);
    }

    bool setInputEcho(bool on) override
    {
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        if (!GetConsoleMode(input, &mode))
            return false;
        mode = on ? (mode | ENABLE_ECHO_INPUT) : (mode & ~DWORD(ENABLE_ECHO_INPUT));
        return SetConsoleMode(input, mode) != 0;
    }

    void onTerminationRequest(std::function<void()> handler) override
    {
        // Windows calls console handlers on a thread of its own already.
        terminationHandler() = std::move(handler);
        SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    }

private:
    static std::function<void()> &terminationHandler()
    {
        static std::function<void()> handler;
        return handler;
    }

    static BOOL WINAPI onConsoleEvent(DWORD event)
    {
        static std::atomic<int> requests{0};
        if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
            return FALSE;
        if (requests++ > 0)
            return FALSE; // the default: end the program
        terminationHandler()();
        return TRUE;
    }

    HANDLE m_mutex = nullptr;
    bool m_checked = false;
    bool m_another = false;
};

HeldFileLock::Outcome HeldFileLock::take(const QString &path, QString *error)
{
    release();
    const auto failed = [error](const QString &reason) {
        if (error)
            *error = reason;
        return Outcome::Failed;
    };
    const QString native = QDir::toNativeSeparators(path);
    const auto name = reinterpret_cast<LPCWSTR>(native.utf16());
    // What is there already is looked at before it is claimed: the claim's
    // open deletes the file when it closes.
    const DWORD attributes = GetFileAttributesW(name);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                           FILE_ATTRIBUTE_DEVICE)) != 0)
            return failed(QStringLiteral("不是普通文件"));
        const HANDLE existing =
            CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (existing == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_SHARING_VIOLATION)
                return Outcome::HeldElsewhere;
        } else {
            // Another name of a file would lose that name with the claim.
            BY_HANDLE_FILE_INFORMATION info;
            const bool linked =
                GetFileInformationByHandle(existing, &info) != 0 && info.nNumberOfLinks > 1;
            char head[20];
            DWORD size = 0;
            const bool read = ReadFile(existing, head, DWORD(sizeof head), &size, nullptr) != 0;
            CloseHandle(existing);
            if (linked)
                return failed(QStringLiteral("不是普通文件"));
            if (read && startsLikeDatabase(QByteArrayView(head, qsizetype(size))))
                return failed(QStringLiteral("这是一个数据库文件，不能用作锁文件"));
        }
    }
    // Shared with no one: a second claimant's open fails with a sharing
    // violation, on a network share too. The system deletes the file when
    // the holder's handle closes, however the holder ends, so no stale file
    // is left to remove.
    const HANDLE file = CreateFileW(
        name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION)
            return Outcome::HeldElsewhere;
        return failed(qt_error_string(int(code)));
    }
    m_path = path;
    m_handle = reinterpret_cast<qintptr>(file);
    return Outcome::Held;
}

void HeldFileLock::release()
{
    if (m_handle == kNone)
        return;
    CloseHandle(reinterpret_cast<HANDLE>(m_handle)); // and the file is deleted
    m_handle = kNone;
    m_path.clear();
}

QString stateDirectory(QString *error, bool create)
{
    QString folder = qEnvironmentVariable("FATOTAL_STATE_DIR");
    if (folder.isEmpty()) {
        const QString local = qEnvironmentVariable("LOCALAPPDATA");
        if (!local.isEmpty())
            folder = local + QStringLiteral("\\fatotal");
    }
    if (!folder.isEmpty())
        folder = QDir::toNativeSeparators(QDir::cleanPath(QDir(folder).absolutePath()));
    if (!create && !folder.isEmpty())
        return folder;
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("无法建立文件夹：") + folder;
        return {};
    }
    return folder;
}

QString systemUserName()
{
    wchar_t name[257];
    DWORD size = DWORD(std::size(name));
    if (GetUserNameW(name, &size) && size > 0)
        return QString::fromWCharArray(name, int(size) - 1);
    return qEnvironmentVariable("USERNAME");
}

Platform &systemPlatform()
{
    static WindowsPlatform instance;
    return instance;
}

} // namespace fa
