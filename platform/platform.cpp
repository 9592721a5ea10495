#include "platform/platform.h"

#include <cstdio>

namespace fa {

namespace {
Platform *installed = nullptr;
}

Platform &platform()
{
    return installed ? *installed : systemPlatform();
}

void Platform::writeError(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    // Windows' C runtime buffers standard error into a pipe: whoever reads
    // it (a log, a supervising program) must see each line as it is said.
    std::fflush(stderr);
}

void setPlatform(Platform *p)
{
    installed = p;
}

} // namespace fa
