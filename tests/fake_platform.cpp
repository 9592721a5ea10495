#include "fake_platform.h"

#include <QFileInfo>

FakePlatform::FakePlatform()
{
    fa::setPlatform(this);
}

FakePlatform::~FakePlatform()
{
    fa::setPlatform(nullptr);
}

bool FakePlatform::isOrdinaryFile(const QString &path)
{
    lookedUp << path;
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.isHidden();
}
