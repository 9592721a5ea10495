#include "platform/platform.h"

namespace fa {

namespace {
Platform *installed = nullptr;
}

Platform &platform()
{
    return installed ? *installed : systemPlatform();
}

void setPlatform(Platform *p)
{
    installed = p;
}

} // namespace fa
