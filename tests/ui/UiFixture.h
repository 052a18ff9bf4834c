#pragma once

#include "TestEnvironment.h"
#include "supervision/ErrorAlertService.h"
#include "supervision/ServerConfig.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"

#include <QSettings>
#include <QStringList>

#include <memory>

namespace Wardlamp::Test {

// The shell command line that runs wl-test-child with the steps.
QString childCommand(const QStringList& steps);

// The process is gone, or a zombie nobody has collected yet.
bool processGone(qint64 pid);

// A server record with a fresh id.
ServerConfig serverRecord(const QString& name, const QString& command, bool autostart = false);

// A real store (on a settings file of its own) and a real manager that runs
// commands through /bin/sh, as the views get them from the app.
class UiFixture {
public:
    explicit UiFixture(const TestEnvironment& environment);
    ~UiFixture();

    ServerStore& store() { return *m_store; }
    ServerManager& manager() { return *m_manager; }
    QSettings& settings() { return *m_settings; }

    // Adds a server that prints a line and keeps running until stopped.
    ServerConfig addHolding(const QString& name);
    // Adds a server whose command is wl-test-child with the steps.
    ServerConfig addChild(const QString& name, const QStringList& steps);
    // Waits for the manager to report the status for the id.
    bool waitForStatus(const QUuid& id, ServerStatus status, int baseMs = 20000);

private:
    std::unique_ptr<QSettings> m_settings;
    ErrorAlertService m_alerts;
    std::unique_ptr<ServerStore> m_store;
    std::unique_ptr<ServerManager> m_manager;
};

} // namespace Wardlamp::Test
