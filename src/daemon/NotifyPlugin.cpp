// The entry point of wardlampd-notify.so: desktop notifications over the
// session bus, so that Qt D-Bus is loaded only when there is a bus to talk to.

#include "daemon/DaemonPluginApi.h"
#include "platform/FreedesktopNotifier.h"

using namespace Wardlamp;

namespace {

std::unique_ptr<Notifier> createNotifier()
{
    return std::make_unique<FreedesktopNotifier>();
}

} // namespace

const DaemonPluginApi* wardlampdPlugin()
{
    static const DaemonPluginApi api = [] {
        DaemonPluginApi table;
        table.createNotifier = &createNotifier;
        return table;
    }();
    return &api;
}
