// The refresh button, the account and year lists and the resolution of the
// account-year database.
#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "data/app_error.h"
#include "data/conn_strings.h"
#include "data/db_state.h"
#include "data/dialect.h"
#include "ledger/account_year.h"
#include "platform/platform.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRegularExpression>

namespace fa {

namespace {

const QString kOpenDatabaseError = QStringLiteral("打开数据库错误");
const QString kOpenSystemError = QStringLiteral("打开系统库错误");
const QString kAccountQuery = QStringLiteral("select  cAcc_Id from UA_Account ");
const QString kYearQuery =
    QStringLiteral("SELECT DISTINCT [iYEAR] from UA_period where cacc_id='|1'");

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
    static const QRegularExpression number(
        QStringLiteral("^\\s*[+-]?\\s*(\\d+\\.?\\d*|\\.\\d+)([eEdD][+-]?\\d+)?\\s*$"
                       "|^\\s*&[hH][0-9A-Fa-f]+\\s*$|^\\s*&[oO][0-7]+\\s*$"));
    return number.match(value.toString()).hasMatch();
}

void frmMain::CmdRefresh_Click()
{
    SysConnStr.clear();
    m_txtCurdb->setText(QString());
    QString browsed; // a system database chosen in the file dialog
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
            const QString file =
                base + QStringLiteral("kvsystem") + sep + QStringLiteral("kvsystem.mdb");
            const QString chosen = ChosenSystemDatabase();
            if (AccountYearFileExists(file)) {
                SysConnStr = JetConnPrefix + file;
            } else if (!chosen.isEmpty() && AccountYearFileExists(chosen)) {
                SysConnStr = JetConnPrefix + chosen;
            } else {
                // The default folder need not exist on a first start: browse
                // from the operator's own folder, with no file name proposed.
                browsed =
                    m_dialogs
                        .openFileName(this, QStringLiteral("寻找系统数据库"), QDir::homePath(),
                                      QtFileFilter(QStringLiteral("Korvane系统数据库|kvsystem*.*")))
                        .trimmed();
                // Cancelled: the operator knows that nothing opens.
                if (browsed.isEmpty())
                    return;
                SysConnStr = JetConnPrefix + browsed;
            }
        } else if (!m_dialogs.login(this)) {
            // Given up while it waited: the operator knows, and nothing opens.
            return;
        }
        if (!SysConn || !OpenConn(*SysConn, SysConnStr))
            RaiseStepError(kOpenDatabaseError);
        if (!browsed.isEmpty())
            setChosenSystemDatabase(browsed);
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
                                  DoubleQuotes(m_cmbAcc->currentText()), Qt::CaseSensitive);
        FillCombo(m_cmbYear, SqlText);
    } catch (const AppError &error) {
        showError(error.description());
    }
}

void frmMain::cmbYear_Click()
{
    AccountYearDatabase database;
    try {
        if (!SysConn || !WorkRs)
            RaiseAppError(kOpenSystemError);
        database = ResolveAccountYear(m_cmbAcc->currentText(), m_cmbYear->currentText());
    } catch (const AppError &error) {
        showError(error.description());
        m_txtCurdb->setText(QString());
        AccConnStr.clear();
        return;
    }
    AccConnStr = database.connectionString;
    m_txtCurdb->setText(database.location);
}

} // namespace fa
