#include "EmergencyStop.h"

#include "supervision/StandardError.h"
#include "supervision/Subreaper.h"

#include <QtGlobal>

#include <atomic>
#include <cstdlib>
#include <string>

namespace Wardlamp {

namespace {

std::atomic<bool> s_armed { false };
std::atomic<bool> s_ran { false };
std::chrono::milliseconds s_grace { 3000 };
QtMessageHandler s_previousHandler = nullptr;

void atExit()
{
    EmergencyStop::run("the app is ending without its orderly stop (did the display go away?)");
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // A fatal message aborts once the handler returns: say it, stop the
    // servers, then let it.
    if (type == QtFatalMsg) {
        writeToStandardError(QByteArray(message.toLocal8Bit() + '\n'));
        EmergencyStop::run("a fatal error ends the app");
        return;
    }
    if (s_previousHandler)
        s_previousHandler(type, context, message);
}

} // namespace

void EmergencyStop::install(std::chrono::milliseconds grace)
{
    if (s_armed.exchange(true))
        return;
    s_grace = grace;
    std::atexit(atExit);
    s_previousHandler = qInstallMessageHandler(handleMessage);
}

void EmergencyStop::disarm()
{
    s_armed = false;
}

void EmergencyStop::run(const char* why)
{
    if (!s_armed || s_ran.exchange(true))
        return;
    if (Subreaper::children().isEmpty())
        return;
    writeToStandardError(
        std::string("Wardlamp: ") + why + "; stopping every server (SIGTERM, SIGKILL after the grace period)\n");
    Subreaper::endAllChildren(s_grace);
}

} // namespace Wardlamp
