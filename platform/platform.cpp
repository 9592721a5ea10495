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

bool startsLikeDatabase(QByteArrayView head)
{
    // SQLite's header, and Jet's (Access 97 to 2003) or ACE's (2007 on)
    // after the four bytes of the first page's type.
    if (head.startsWith(QByteArrayView("SQLite format 3\0", 16)))
        return true;
    const QByteArrayView page = head.size() > 4 ? head.sliced(4) : QByteArrayView();
    return page.startsWith("Standard Jet DB") || page.startsWith("Standard ACE DB");
}

void setPlatform(Platform *p)
{
    installed = p;
}

} // namespace fa
