#include "data/stop_request.h"

#include "data/db_state.h"

#include <atomic>

namespace fa {

namespace {
std::atomic<bool> stopRequested{false};
} // namespace

void RequestStop()
{
    stopRequested.store(true);
    InterruptSharedConnections();
}

bool StopRequested()
{
    return stopRequested.load(std::memory_order_relaxed);
}

void ClearStopRequest()
{
    stopRequested.store(false);
}

} // namespace fa
