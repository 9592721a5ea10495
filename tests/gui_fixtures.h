#pragma once

// Fixtures of the window tests: dialogs answered by the test, a system
// database with account sets under a fake system directory, and a stand-in
// SQL Server whose catalogs are database files.

#include "app/dialogs.h"
#include "fake_platform.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

namespace fa {
class frmLog;
}

namespace guitest {

// How long a test waits for what the code under test must bring about (a held
// open reaching the window, a thread ending): far beyond any slow or loaded
// machine, so that only a fault uses it up.
inline constexpr int kPatienceMs = 120000;

using LoginScript = std::function<void(fa::frmLog &)>;

// Records every message, answers file dialogs from a queue (cancel when it is
// empty) and runs each login display against a real frmLog: the next script
// (if any) acts on the shown window, which is then closed.
class FakeDialogs final : public fa::Dialogs
{
public:
    struct FileDialog
    {
        QString title;
        QString directory;
        QString filter;
    };

    QStringList messages;
    QStringList fileAnswers;
    QList<FileDialog> fileDialogs;
    QList<LoginScript> loginScripts;
    int logins = 0;

    void message(QWidget *parent, const QString &text) override;
    QString openFileName(QWidget *parent, const QString &title, const QString &initialDirectory,
                         const QString &filter) override;
    bool login(QWidget *owner) override;
};

// Shows a real frmLog owned by `owner`, lets the script (if any) act on it and
// closes it; false when that gave a waiting verification up.
bool showLogin(QWidget *owner, const LoginScript &script);

// Types the server and the password into the login window and presses "验证".
void verify(fa::frmLog &window, const QString &server, const QString &password);
LoginScript verifying(const QString &server, const QString &password);

// Runs statements on a database file through a connection of its own.
// The widgets of `among` in the order the tab key visits them, starting from
// the first of them.
QList<QWidget *> focusOrder(const QList<QWidget *> &among);

void execOn(const QString &path, const QStringList &statements);

// A temporary folder with a system directory ("<tmp>/system") in which the
// default system database can be created, and a data folder for the
// account-year files. Installs a fake platform pointing there.
class SelectionFiles
{
public:
    SelectionFiles();

    FakePlatform platform;
    QString root() const { return m_dir.path(); }
    QString systemDirectory() const { return root() + QStringLiteral("/system"); }
    QString defaultSystemDb() const;
    QString dataPath() const { return root() + QStringLiteral("/data"); }

    // Creates a system database (by default at the default place).
    QString createSystemDb(QString path = {});
    void addAccount(const QString &id, const QString &dataPath, const QString &db = {});
    void addYear(const QString &id, int year, const QString &db = {});
    // The account-year file of an account set and year under a data path.
    QString createAccountYearDb(const QString &id, int year, QString dataPath = {});

private:
    QTemporaryDir m_dir;
};

// A SQL Server stand-in behind the provider seam: the SQLOLEDB strings open
// "<folder>/<catalog>.mdb" when their password is the accepted one; other
// strings go to the default providers. master..sysdatabases is the table
// sysdatabases of the catalog.
class FakeServer
{
public:
    explicit FakeServer(QString folder, QString password);
    ~FakeServer();
    FakeServer(const FakeServer &) = delete;
    FakeServer &operator=(const FakeServer &) = delete;

    QString folder;
    QString password;
    QStringList opened;               // every SQLOLEDB string asked for
    std::function<void()> duringOpen; // runs inside each open, on its thread

    // KVSYSTEM with the system tables and sysdatabases; returns its path.
    QString createSystemCatalog();
    // Lists a database in sysdatabases of KVSYSTEM.
    void addDatabase(const QString &name);
    QString catalogPath(const QString &catalog) const;
};

} // namespace guitest
