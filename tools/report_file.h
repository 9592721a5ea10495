#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <memory>

// The change report of --changes goes with the run: it is written into a
// temporary file beside the target while the runs go on, each account-year's
// lines before that account-year commits, and moved into place at the end.
// A target that already holds something keeps it until then, and a report
// that cannot be written completely never reaches the target.
class ReportFile
{
public:
    // Creates the temporary file beside the target. False, with the reason,
    // when the report cannot be written there.
    bool open(const QString &target, QString *reason);
    // Appends and brings the bytes to the disk. On failure the file is cut
    // back to what it held before, so that it only ever holds whole parts;
    // a file that cannot even be cut back takes nothing more.
    bool append(const QByteArray &bytes, QString *reason);
    // Moves the file into place. On failure it stays where it is, and the
    // reason names it.
    bool commit(QString *reason);
    // Removes the temporary file; the target stays as it was.
    void discard();

private:
    QString m_target;
    std::unique_ptr<QTemporaryFile> m_file;
    qint64 m_written = 0;
};

// What is wrong with a report target before anything is opened, or empty
// text: a path that is, or links to, one of the databases, or an existing
// file that begins like a database (SQLite's header, an Access file).
QString reportTargetProblem(const QString &target, const QStringList &databases);

// Writes to standard output and flushes it; false, with the reason, when
// any of it did not reach its destination.
bool writeStandardOutput(const QByteArray &bytes, QString *reason);
