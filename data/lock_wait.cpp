#include "data/lock_wait.h"

namespace fa {

namespace {

LockWaitListener &listener()
{
    static LockWaitListener current;
    return current;
}

} // namespace

void setLockWaitListener(LockWaitListener newListener)
{
    listener() = std::move(newListener);
}

void notifyLockWait(int waitedMs)
{
    if (listener())
        listener()(waitedMs);
}

} // namespace fa
