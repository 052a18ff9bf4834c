#pragma once

namespace Wardlamp {

class AppSettings;
class LoginItemManager;
class PairingStore;
class PanelCommands;
class RemoteAgent;
class ServerListModel;
class ServerManager;
class ServerStore;
class ServerSummary;

// The model objects the desktop app creates once and hands to every view.
// Views keep the references and never create model objects of their own.
// Everything here outlives every view.
struct AppModels {
    ServerStore& store;
    ServerManager& manager;
    LoginItemManager& loginItem;
    AppSettings& settings;
    PairingStore& pairing;
    RemoteAgent& remoteAgent;
    // Shared view models over the two above.
    ServerListModel& servers;
    ServerSummary& summary;
    PanelCommands& commands;
};

} // namespace Wardlamp
