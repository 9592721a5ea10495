#pragma once

#include "data/connection.h"

#include <QString>
#include <memory>

namespace fa {

// One verification's open of the system database, on a thread of its own: a
// server that accepts and then keeps the login waiting holds up neither
// window. The driver's connect cannot be interrupted, so an attempt the
// operator gives up on runs to its end unseen, on a connection and a try
// counter of its own, tries no more once given up, and leaves nothing of the
// program's changed.
class LoginAttempt
{
public:
    explicit LoginAttempt(const QString &connectionString);
    // Gives the attempt up unless it has ended.
    ~LoginAttempt();
    LoginAttempt(const LoginAttempt &) = delete;
    LoginAttempt &operator=(const LoginAttempt &) = delete;

    // Handles the thread's events (painting, timers, the operator's input)
    // until the attempt ends or is given up; true when it ended.
    bool wait();
    // Ends wait() at once; whatever the attempt comes to is dropped.
    void giveUp();

    // Once wait() has said the attempt ended: what it came to.
    bool opened() const;
    qint32 retryCount() const;
    QString failureReason() const;
    // The attempt's connection, open when opened().
    Connection &connection();

    // Attempts whose thread has not ended yet, given-up ones included.
    static int running();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace fa
