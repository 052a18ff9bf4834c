#include "TestChild.h"

#include "TestEnvironment.h"

#include <unistd.h>

namespace Wardlamp::Test {

std::unique_ptr<QProcess> startTestChild(const QStringList& steps)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(program(QStringLiteral("wl-test-child")));
    process->setArguments(steps);
    process->setChildProcessModifier([] { ::setsid(); });
    process->start();
    return process;
}

} // namespace Wardlamp::Test
