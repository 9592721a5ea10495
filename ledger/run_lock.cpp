#include "ledger/run_lock.h"

#include "data/app_error.h"
#include "data/conn_strings.h"
#include "data/db_state.h"

#include <QDir>
#include <QFileInfo>

namespace fa {

AccountYearRunLock::AccountYearRunLock() = default;

void AccountYearRunLock::claim()
{
    if (IsAccess) {
        const QString path = jetDataSource(AccConnStr);
        // A missing database has nothing to guard: opening it says what is
        // wrong. Reached through links, the lock is the real file's.
        const QString real = QFileInfo(path).canonicalFilePath();
        if (real.isEmpty() || QDir::isRelativePath(path))
            return;
        const QString lockPath = real + kRunLockSuffix;
        QString reason;
        switch (m_file.take(lockPath, &reason)) {
        case HeldFileLock::Outcome::Held:
            return;
        case HeldFileLock::Outcome::HeldElsewhere:
            RaiseAppError(kAnotherRunMessage + path);
        case HeldFileLock::Outcome::Failed:
            RaiseAppError(kNoRunLockMessage + QDir::toNativeSeparators(lockPath) +
                          QLatin1Char('\n') + reason);
        }
        return;
    }
    // No row count may come before the lock's answer.
    SqlText = QStringLiteral(
        "SET NOCOUNT ON; DECLARE @r int; EXEC @r = sp_getapplock @Resource = 'fatotal-rebuild', "
        "@LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; "
        "SELECT @r");
    if (!RunSql(*WorkRs, SqlText, *AccConn))
        RaiseStepError(QStringLiteral("打开文件错误"));
    const bool granted = !WorkRs->Eof() && WorkRs->Fields(0).toInt() >= 0;
    WorkRs->Close();
    if (!granted)
        RaiseAppError(kAnotherRunMessage + parseSqlOledbString(AccConnStr).database);
}

void AccountYearRunLock::release()
{
    m_file.release();
}

AccountYearRunLock::~AccountYearRunLock()
{
    release();
}

} // namespace fa
