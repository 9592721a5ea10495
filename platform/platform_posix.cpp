#include "platform/platform.h"

namespace fa {

// Placeholder until the POSIX side is written.
class PosixPlatform final : public Platform
{
public:
    QString systemDirectory() override { return {}; }
    QString computerName() override { return {}; }
    QString savedSaPassword() override { return {}; }
    bool anotherInstanceRunning() override { return false; }
    bool isOrdinaryFile(const QString &) override { return false; }
    QString separator() override { return QStringLiteral("/"); }
};

Platform &systemPlatform()
{
    static PosixPlatform instance;
    return instance;
}

} // namespace fa
