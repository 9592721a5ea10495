#pragma once

// tds-standin as the tests run it: serving an installation folder to sa with
// the password "pw", with the given test faults (--fail-batch,
// --pause-batch); ended when the object goes.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace fa::test {

struct StandIn
{
    QProcess process;
    QString port;      // empty when it did not start
    QByteArray output; // what it printed after its port

    explicit StandIn(const QString &dataDir, const QStringList &faults = {});
    ~StandIn();
    StandIn(const StandIn &) = delete;
    StandIn &operator=(const StandIn &) = delete;

    bool started() const { return !port.isEmpty(); }
    // Waits until its output holds text; false after 30 s without output.
    bool waitFor(const char *text);
    // "127.0.0.1,<port>"
    QString server() const;
    // fatotal-rebuild's arguments for these account sets and years.
    QStringList args(const QString &accounts, const QString &years) const;
};

} // namespace fa::test
