#include "tools/report_file.h"

#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Brings what the file holds to the disk, so that a disk that cannot take it
// says so now, not after the run has committed.
bool syncToDisk(QFileDevice &file)
{
    const int fd = file.handle();
    if (fd < 0)
        return false;
#ifdef Q_OS_WIN
    return ::_commit(fd) == 0;
#else
    return ::fsync(fd) == 0;
#endif
}

bool replaceFile(const QString &from, const QString &to, QString *reason)
{
#ifdef Q_OS_WIN
    if (MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                    reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *reason = qt_error_string(int(GetLastError()));
    return false;
#else
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *reason = systemReason(errno);
    return false;
#endif
}

bool sameFile(const QString &a, const QString &b)
{
#ifndef Q_OS_WIN
    struct stat x;
    struct stat y;
    if (::stat(QFile::encodeName(a).constData(), &x) == 0 &&
        ::stat(QFile::encodeName(b).constData(), &y) == 0)
        return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
#endif
    const QString real = QFileInfo(a).canonicalFilePath();
    return !real.isEmpty() && real == QFileInfo(b).canonicalFilePath();
}

bool beginsLikeDatabase(const QString &path)
{
    // Only ordinary files are read: opening a pipe would wait for a writer.
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && fa::startsLikeDatabase(file.read(32));
}

} // namespace

bool ReportFile::open(const QString &target, QString *reason)
{
    const QFileInfo info(target);
    m_target = info.absoluteFilePath();
    if (info.exists() && !info.isFile()) {
        *reason = QStringLiteral("不是普通文件");
        return false;
    }
    if (info.exists() && !info.isWritable()) {
        *reason = QStringLiteral("文件不可写");
        return false;
    }
    m_file = std::make_unique<QTemporaryFile>(info.absolutePath() + QLatin1Char('/') +
                                              info.fileName() + QStringLiteral(".XXXXXX.tmp"));
    if (!m_file->open()) {
        *reason = m_file->errorString();
        return false;
    }
    // The report is no secret: it gets the target's permissions, or those of
    // an ordinary new file, not the temporary file's private ones.
    m_file->setPermissions(info.exists() ? info.permissions()
                                         : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadGroup | QFileDevice::ReadOther);
    m_written = 0;
    return true;
}

bool ReportFile::append(const QByteArray &bytes, QString *reason)
{
    if (!m_file || !m_file->isOpen()) {
        *reason = QStringLiteral("变动清单的临时文件已无法写入");
        return false;
    }
    if (m_file->write(bytes) == bytes.size() && m_file->flush() && syncToDisk(*m_file)) {
        m_written += bytes.size();
        return true;
    }
    *reason = m_file->error() != QFileDevice::NoError ? m_file->errorString() : systemReason(errno);
    // The write buffer may still hold what did not go out: closing drops it.
    // Then whatever of this part reached the disk is cut off again, and the
    // file is opened anew for the next part.
    m_file->close();
    if (QFile::resize(m_file->fileName(), m_written) && m_file->open())
        m_file->seek(m_written);
    else
        m_file->close();
    return false;
}

bool ReportFile::commit(QString *reason)
{
    const QString temporary = m_file->fileName();
    // Let go of the file entirely: Windows moves no file that is open, and
    // a temporary file stays open inside its object until that goes.
    m_file->setAutoRemove(false);
    m_file.reset();
    if (replaceFile(temporary, m_target, reason))
        return true;
    *reason += QStringLiteral("\n变动清单留在：") + QDir::toNativeSeparators(temporary);
    return false;
}

void ReportFile::discard()
{
    if (m_file)
        m_file->remove();
    m_file.reset();
}

QString reportTargetProblem(const QString &target, const QStringList &databases)
{
    for (const QString &database : databases) {
        if (sameFile(target, database))
            return QStringLiteral("--changes 指向数据库 %1").arg(database);
    }
    if (beginsLikeDatabase(target))
        return QStringLiteral("--changes 指向数据库文件：%1").arg(target);
    return {};
}

bool writeStandardOutput(const QByteArray &bytes, QString *reason)
{
#ifdef Q_OS_WIN
    // The report carries its own CRLF line ends: a console's text mode would
    // write CR CR LF.
    static const bool binary = (_setmode(_fileno(stdout), _O_BINARY), true);
    (void)binary;
#endif
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size()) &&
        std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    *reason = systemReason(errno ? errno : EIO);
    return false;
}
