#pragma once

#include "platform/platform.h"

#include <QString>
#include <QStringList>

// A platform whose answers the test sets. Installed for its lifetime.
class FakePlatform final : public fa::Platform
{
public:
    FakePlatform();
    ~FakePlatform() override;
    FakePlatform(const FakePlatform &) = delete;
    FakePlatform &operator=(const FakePlatform &) = delete;

    QString systemDirectoryValue;
    QString computerNameValue = QStringLiteral("TESTPC");
    QString savedSaPasswordValue;
    bool anotherInstance = false;
    QString separatorValue = QStringLiteral("/");

    QString systemDirectory() override { return systemDirectoryValue; }
    QString computerName() override { return computerNameValue; }
    QString savedSaPassword() override { return savedSaPasswordValue; }
    bool anotherInstanceRunning() override { return anotherInstance; }
    QStringList lookedUp; // every path isOrdinaryFile was asked about

    // The real file system's answer.
    bool isOrdinaryFile(const QString &path) override;
    QString separator() override { return separatorValue; }
    bool inputIsTerminal() override { return false; }
    bool setInputEcho(bool) override { return false; }
};
