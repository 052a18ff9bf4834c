#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <chrono>

namespace Wardlamp::Test {

// Gives one test process a private HOME and XDG tree, so settings, keyring files
// and autostart entries never touch the developer's own. Create it before anything
// reads QSettings or the environment (in initTestCase), keep it for the whole run.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    QString home() const;
    QString configHome() const;
    QString path(const QString& relative) const;

private:
    QTemporaryDir m_dir;
};

// Multiplier for every wait, from WL_TIMEOUT_FACTOR (default 1), so a loaded
// machine can stretch timeouts without editing tests.
double timeoutFactor();

// A generous event wait in milliseconds, already scaled by timeoutFactor().
int waitMs(int baseMs);

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freeTcpPort();

// Directory of the built programs (bin/), taken from WL_TEST_BIN_DIR.
QString binDir();

// Full path of a program in binDir().
QString program(const QString& name);

} // namespace Wardlamp::Test
