#pragma once

#include <QByteArrayView>
#include <QString>
#include <functional>

namespace fa {

// What the tool asks of the operating system, and nothing more. One side per
// OS; tests install a fake with setPlatform.
class Platform
{
public:
    virtual ~Platform() = default;
    // The folder under which the default system database lives, without a
    // trailing separator; empty when it cannot be obtained.
    virtual QString systemDirectory() = 0;
    // The local computer name; empty when it cannot be read.
    virtual QString computerName() = 0;
    // The saved sa password of the accounting system, or empty text.
    virtual QString savedSaPassword() = 0;
    // True when another copy of the program already runs. The first call
    // claims the single-instance lock for this process.
    virtual bool anotherInstanceRunning() = 0;
    // True for an existing ordinary file that is not hidden.
    virtual bool isOrdinaryFile(const QString &path) = 0;
    // The separator the system directory uses ("/" or "\").
    virtual QString separator() = 0;
    // True when standard input is a terminal that someone types on.
    virtual bool inputIsTerminal() = 0;
    // True when standard error is a terminal that someone reads.
    virtual bool errorIsTerminal() = 0;
    // Writes text to standard error as it is, in the encoding the reader
    // expects: the system's for a file or a pipe. Windows consoles take the
    // characters themselves, whatever their code page.
    virtual void writeError(const QString &text);
    // Stops (false) or resumes (true) the terminal on standard input showing
    // what is typed, for a password. False when there is no such terminal.
    virtual bool setInputEcho(bool on) = 0;
    // From now on, the operator's request to end the program (Ctrl+C, a
    // termination signal or console close) calls the handler, on a thread of
    // its own, instead of ending the program; a second request ends it at
    // once. Call before any other thread is started.
    virtual void onTerminationRequest(std::function<void()> handler) = 0;
};

// An exclusive claim on a lock file, taken with the system's own file
// locking: the system lets go of it when the holder ends, however it ends, so
// a file left behind by a killed holder claims nothing and is taken over,
// whoever left it. Never a symbolic link, nor a file that is not a plain one,
// has other names (hard links) or holds a database. One side per OS.
class HeldFileLock
{
public:
    enum class Outcome {
        Held,          // this object holds the claim
        HeldElsewhere, // another process (or another object) holds it
        Failed         // no lock file could be made or locked
    };

    HeldFileLock() = default;
    ~HeldFileLock() { release(); }
    HeldFileLock(const HeldFileLock &) = delete;
    HeldFileLock &operator=(const HeldFileLock &) = delete;

    // Makes the file at path if it is missing and claims it, without waiting.
    // On Failed, *error (if given) has the system's reason.
    Outcome take(const QString &path, QString *error = nullptr);
    // Removes the file and lets the claim go; nothing when none is held.
    void release();

private:
    static constexpr qintptr kNone = -1;
    QString m_path;
    qintptr m_handle = kNone; // a descriptor on POSIX, a HANDLE on Windows
};

// True when a file's first bytes are those of an SQLite or Access database:
// such a file is never taken for a lock file.
bool startsLikeDatabase(QByteArrayView head);

// The user's own folder for what the tool keeps between runs (its history):
// FATOTAL_STATE_DIR when set, else the system's per-user state folder plus
// "fatotal". Made when missing, for its owner alone where the system has
// such modes. Empty, with the reason in *error, when it cannot be made.
// A reader passes create false: the folder is named, never made.
QString stateDirectory(QString *error = nullptr, bool create = true);

// The name the operator logged in with, for the run history; empty when the
// system does not say.
QString systemUserName();

// The platform in force: the installed fake, else the system's own side.
Platform &platform();
// Installs a platform for tests (not owned); nullptr restores the system's.
void setPlatform(Platform *platform);
// The system's own side, created on first use.
Platform &systemPlatform();

} // namespace fa
