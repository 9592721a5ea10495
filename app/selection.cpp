// The refresh button, the account and year lists and the resolution of the
// account-year database.
#include "app/dialogs.h"
#include "app/main_window.h"
#include "data/app_error.h"
#include "data/conn_strings.h"
#include "data/db_state.h"
#include "data/dialect.h"
#include "platform/platform.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpression>

namespace fa {

namespace {

const QString kOpenDatabaseError = QStringLiteral("打开数据库错误");
const QString kOpenSystemError = QStringLiteral("打开系统库错误");
const QString kAccountQuery = QStringLiteral("select  cAcc_Id from UA_Account ");
const QString kYearQuery =
    QStringLiteral("SELECT DISTINCT [iYEAR] from UA_period where cacc_id='|1'");
const QString kCatalogField = QStringLiteral("Initial Catalog=KVSYSTEM");

bool isSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

// A drive or network path of Windows ("D:\…", "\\server\…"), which names
// nothing on a system that uses "/".
bool isWindowsPath(const QString &path)
{
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    return drive.match(path).hasMatch() || path.startsWith(QLatin1String("\\\\"));
}

bool fileExists(const QString &path)
{
    if (platform().separator() == QLatin1String("/") && isWindowsPath(path))
        return false;
    return platform().isOrdinaryFile(path);
}

template <typename Step> void ignoringErrors(Step &&step)
{
    try {
        step();
    } catch (const AppError &) {
    }
}

} // namespace

QString SystemDirectory()
{
    return platform().systemDirectory();
}

bool IsNumericValue(const QVariant &value)
{
    if (value.isNull() || !value.isValid())
        return false;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    case QMetaType::QString:
    case QMetaType::QByteArray:
        break;
    default:
        return false;
    }
    static const QRegularExpression number(QStringLiteral(
        "^\\s*[+-]?\\s*(\\d+\\.?\\d*|\\.\\d+)([eEdD][+-]?\\d+)?\\s*$"
        "|^\\s*&[hH][0-9A-Fa-f]+\\s*$|^\\s*&[oO][0-7]+\\s*$"));
    return number.match(value.toString()).hasMatch();
}

QString QuotedSqlText(const QString &text)
{
    QString quoted = text;
    return quoted.replace(QLatin1Char('\''), QLatin1String("''"));
}

QString AccountYearFilePath(const QString &dataPath, const QString &account, const QString &year)
{
    // Paths were stored by the accounting system on whatever system kept the
    // data; join with the kind of separator the stored path already uses.
    const bool backslash = dataPath.contains(QLatin1Char('\\'));
    const bool slash = dataPath.contains(QLatin1Char('/'));
    QString sep = platform().separator();
    if (backslash && !slash)
        sep = QStringLiteral("\\");
    else if (slash && !backslash)
        sep = QStringLiteral("/");
    const bool endsWithSeparator = !dataPath.isEmpty() && isSeparator(dataPath.back());
    return dataPath + (endsWithSeparator ? QString() : sep) + QStringLiteral("ZT") + account + sep +
           year + sep + QStringLiteral("kvdata.mdb");
}

QString WithCatalog(const QString &sysConnStr, const QString &database)
{
    // The field as the login window writes it: preceded by ";" and followed
    // by ";". The first one is the template's own, ahead of the server name
    // and the password.
    const QString field = QLatin1Char(';') + kCatalogField + QLatin1Char(';');
    const qsizetype at = sysConnStr.indexOf(field, 0, Qt::CaseSensitive);
    if (at < 0)
        return {};
    QString result = sysConnStr;
    const qsizetype valueAt = at + 1 + kCatalogField.size() - QStringLiteral("KVSYSTEM").size();
    return result.replace(valueAt, QStringLiteral("KVSYSTEM").size(), database);
}

void frmMain::CmdRefresh_Click()
{
    SysConnStr.clear();
    m_txtCurdb->setText(QString());
    try {
        if (!SysConn)
            RaiseAppError(kOpenDatabaseError);
        if (IsAccess) {
            const QString directory = SystemDirectory();
            // Without a system directory there is no default place to look
            // in; say so rather than browse from nowhere.
            if (directory.isEmpty())
                RaiseAppError(kOpenDatabaseError);
            const QString sep = platform().separator();
            const QString base =
                directory.endsWith(QLatin1Char('\\')) || directory.endsWith(QLatin1Char('/'))
                    ? directory
                    : directory + sep;
            const QString file = base + QStringLiteral("kvsystem") + sep +
                                 QStringLiteral("kvsystem.mdb");
            if (fileExists(file)) {
                SysConnStr = JetConnPrefix + file;
            } else {
                SqlText = m_dialogs
                              .openFileName(this, QStringLiteral("寻找系统数据库"), directory,
                                            QtFileFilter(QStringLiteral(
                                                "Korvane系统数据库|kvsystem*.*")))
                              .trimmed();
                if (SqlText.isEmpty())
                    RaiseAppError(kOpenDatabaseError);
                SysConnStr = JetConnPrefix + SqlText;
            }
        } else {
            m_dialogs.login(this);
        }
        if (!SysConn || !OpenConn(*SysConn, SysConnStr))
            RaiseAppError(kOpenDatabaseError);
        m_cmbAcc->setEnabled(true);
        m_cmbYear->setEnabled(true);
        FillCombo(m_cmbAcc, kAccountQuery);
    } catch (const AppError &error) {
        showError(error.description());
    }
}

void frmMain::FillCombo(QComboBox *combo, const QString &sql)
{
    // Each step runs whatever became of the one before.
    combo->setEnabled(true);
    combo->clear();
    combo->clearEditText();
    if (!SysConn || !WorkRs || !RunSql(*WorkRs, sql, *SysConn))
        return;
    ignoringErrors([&] {
        while (!WorkRs->Eof()) {
            const QVariant value = WorkRs->Fields(0);
            if (IsNumericValue(value))
                combo->addItem(value.toString());
            WorkRs->MoveNext();
        }
    });
    // The list handlers query through WorkRs themselves.
    ignoringErrors([&] { WorkRs->Close(); });
    if (combo->count() == 0)
        return;
    combo->setCurrentIndex(0);
    if (combo == m_cmbAcc)
        cmbAcc_Click();
    else if (combo == m_cmbYear)
        cmbYear_Click();
}

void frmMain::cmbAcc_Click()
{
    try {
        SqlText = FillPlaceholder(kYearQuery, QStringLiteral("|1"),
                                  QuotedSqlText(m_cmbAcc->currentText()), Qt::CaseSensitive);
        FillCombo(m_cmbYear, SqlText);
    } catch (const AppError &error) {
        showError(error.description());
    }
}

void frmMain::cmbYear_Click()
{
    const QString account = m_cmbAcc->currentText();
    const QString year = m_cmbYear->currentText();
    QString location;
    try {
        if (!SysConn || !WorkRs)
            RaiseAppError(kOpenSystemError);
        if (IsAccess) {
            SqlText = QStringLiteral("Select [cAcc_Path] from ua_account where cacc_id='") +
                      QuotedSqlText(account) + QLatin1Char('\'');
            if (!RunSql(*WorkRs, SqlText, *SysConn))
                RaiseAppError(kOpenSystemError);
            const QString dataPath = WorkRs->Fields(0).toString();
            location = AccountYearFilePath(dataPath, account, year);
            if (!fileExists(location))
                RaiseAppError(QStringLiteral("没有发现") + location);
            AccConnStr = JetConnPrefix + location;
        } else {
            location = QStringLiteral("kvdata_") + account + QLatin1Char('_') + year;
            SqlText = QStringLiteral("SELECT name FROM master..sysdatabases WHERE name = '") +
                      QuotedSqlText(location) + QLatin1Char('\'');
            if (!RunSql(*WorkRs, SqlText, *SysConn))
                RaiseAppError(kOpenSystemError);
            if (WorkRs->Eof())
                RaiseAppError(QStringLiteral("没有发现数据库") + location);
            const QString connectionString = WithCatalog(SysConnStr, location);
            // Without its catalog field the system string cannot be pointed
            // at the account-year database.
            if (connectionString.isEmpty())
                RaiseAppError(kOpenSystemError);
            AccConnStr = connectionString;
        }
    } catch (const AppError &error) {
        showError(error.description());
        m_txtCurdb->setText(QString());
        AccConnStr.clear();
        return;
    }
    ignoringErrors([&] { WorkRs->Close(); });
    m_txtCurdb->setText(location);
}

} // namespace fa
