#include "app/login_attempt.h"

#include "data/db_state.h"

#include <QEventLoop>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace fa {

namespace {
std::atomic<int> runningThreads{0};
} // namespace

// Shared by the window thread and the attempt's thread, which keeps it alive
// for as long as it runs: a given-up attempt outlives its window.
struct LoginAttempt::State
{
    QString connectionString;
    // Written by the attempt's thread only until `ended` is set under the
    // lock, read by the window thread only after it saw `ended` there.
    Connection conn;
    qint32 retryCount = 0;
    QString failureReason;
    bool opened = false;

    std::mutex mutex;
    bool ended = false;
    bool givenUp = false;
    // Set on giving up: the attempt tries no more (the try under way runs to
    // its end, since the driver's connect cannot be interrupted).
    std::atomic<bool> stop = false;
    // Tells the waiting window thread that the attempt ended; unset once it
    // no longer waits, so that a late end touches nothing of the window's.
    std::function<void()> wake;
};

LoginAttempt::LoginAttempt(const QString &connectionString) : m_state(std::make_shared<State>())
{
    m_state->connectionString = connectionString;
    ++runningThreads;
    // Detached: a given-up connect may hang on for up to three time-outs,
    // and the program neither waits for it nor keeps it from ending.
    std::thread([state = m_state]() mutable {
        const bool opened =
            OpenConn(state->conn, state->connectionString, state->retryCount, &state->stop);
        state->failureReason = LastFailureReason();
        {
            const std::lock_guard lock(state->mutex);
            state->opened = opened;
            state->ended = true;
            if (state->wake)
                state->wake();
        }
        // A given-up connection closes here, with the last hold on it.
        state.reset();
        --runningThreads;
    }).detach();
}

LoginAttempt::~LoginAttempt()
{
    giveUp();
}

bool LoginAttempt::wait()
{
    QEventLoop loop;
    {
        const std::lock_guard lock(m_state->mutex);
        if (m_state->ended || m_state->givenUp)
            return !m_state->givenUp;
        m_state->wake = [&loop] {
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        };
    }
    loop.exec();
    const std::lock_guard lock(m_state->mutex);
    m_state->wake = nullptr;
    // The program may also be ending, which ends every event loop.
    return m_state->ended && !m_state->givenUp;
}

void LoginAttempt::giveUp()
{
    const std::lock_guard lock(m_state->mutex);
    if (m_state->ended && !m_state->wake)
        return;
    m_state->givenUp = true;
    m_state->stop = true;
    if (m_state->wake)
        m_state->wake();
    m_state->wake = nullptr;
}

bool LoginAttempt::opened() const
{
    return m_state->opened;
}

qint32 LoginAttempt::retryCount() const
{
    return m_state->retryCount;
}

QString LoginAttempt::failureReason() const
{
    return m_state->failureReason;
}

Connection &LoginAttempt::connection()
{
    return m_state->conn;
}

int LoginAttempt::running()
{
    return runningThreads.load();
}

} // namespace fa
