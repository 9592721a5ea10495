#pragma once

#include "platform/platform.h"

#include <QDir>
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
    // The separator of the system the tests run on: its temporary folders
    // are what the fake system directory points into.
    QString separatorValue = QDir::separator();

    QString systemDirectory() override { return systemDirectoryValue; }
    QString computerName() override { return computerNameValue; }
    QString savedSaPassword() override { return savedSaPasswordValue; }
    bool anotherInstanceRunning() override { return anotherInstance; }
    QStringList lookedUp; // every path isOrdinaryFile was asked about

    // The real file system's answer.
    bool isOrdinaryFile(const QString &path) override;
    QString separator() override { return separatorValue; }
    bool inputIsTerminal() override { return false; }
    bool errorIsTerminal() override { return false; }
    bool setInputEcho(bool) override { return false; }
    void onTerminationRequest(std::function<void()>) override {}
};
