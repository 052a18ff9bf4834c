#pragma once

#include <QProcess>
#include <QStringList>

#include <memory>

namespace Wardlamp::Test {

// Starts wl-test-child with the steps, in a session of its own as the
// supervisor starts servers (so a group kill never reaches the test).
std::unique_ptr<QProcess> startTestChild(const QStringList& steps);

} // namespace Wardlamp::Test
