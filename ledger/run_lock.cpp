#include "ledger/run_lock.h"

#include "data/app_error.h"
#include "data/conn_strings.h"
#include "data/db_state.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace fa {

AccountYearRunLock::AccountYearRunLock() = default;

void AccountYearRunLock::claim()
{
    if (IsAccess) {
        const QString path = jetDataSource(AccConnStr);
        const QString real = QFileInfo(path).canonicalFilePath();
        const QByteArray id = QCryptographicHash::hash((real.isEmpty() ? path : real).toUtf8(),
                                                       QCryptographicHash::Sha1)
                                  .toHex();
        m_file = std::make_unique<QLockFile>(QDir::temp().filePath(
            QStringLiteral("fatotal-") + QString::fromLatin1(id) + QStringLiteral(".lock")));
        // A lock file left by a run that was killed names a process that is
        // gone; QLockFile takes it over.
        if (!m_file->tryLock(0))
            RaiseAppError(kAnotherRunMessage + path);
        return;
    }
    SqlText =
        QStringLiteral("DECLARE @r int; EXEC @r = sp_getapplock @Resource = 'fatotal-rebuild', "
                       "@LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; "
                       "SELECT @r");
    if (!RunSql(*WorkRs, SqlText, *AccConn))
        RaiseStepError(QStringLiteral("打开文件错误"));
    const bool granted = !WorkRs->Eof() && WorkRs->Fields(0).toInt() >= 0;
    WorkRs->Close();
    if (!granted)
        RaiseAppError(kAnotherRunMessage + parseSqlOledbString(AccConnStr).database);
}

// The lock file is let go with the QLockFile.
AccountYearRunLock::~AccountYearRunLock() = default;

} // namespace fa
