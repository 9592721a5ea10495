#pragma once

#include <functional>

namespace fa {

// Another program may hold the database locked for a while; the tool then
// waits for it (a few seconds per try) before it gives up. Whoever runs a
// long command can listen, to tell the operator why nothing moves, and to let
// the window paint meanwhile. The listener is called on the waiting thread,
// with how long this wait has lasted so far (0 at its start), every few tens
// of milliseconds while it lasts.
using LockWaitListener = std::function<void(int waitedMs)>;

void setLockWaitListener(LockWaitListener listener);
// For the providers: the database is locked, and we wait.
void notifyLockWait(int waitedMs);

} // namespace fa
