#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace Wardlamp {

class ControlCall;
class ControlVerbs;
class LogVerbs;
class PortScanner;
class RestartCounter;
class ServerListVerbs;
class ServerManager;
class ServerStore;
struct ServerListing;

// The verbs every supervisor answers on its control socket, acting on its one
// server list and manager: ping, ls, start, stop, restart, clear (here), logs
// (LogVerbs), add, edit, rm, import, export (ServerListVerbs). Without a
// manager (a front door editing the saved settings while nothing supervises)
// the same verbs act on the list alone, and those that need running servers
// say that nothing runs them.
//
// start|stop|restart|clear take "server" (id or name, ServerLookup's rules)
// or "all": true, and answer {"servers":[{"id","name","status","pid"?,
// "note"?, "failed"?}]} with each server's state after the action.
//
// Owner: the program's object graph, beside the ControlServer. Main thread.
// The store, manager and port scanner must outlive it.
class SupervisionVerbs : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString program; // "wardlampd", "wardlamp"
        // The computer's name as the remote side shows it (it may change).
        std::function<QString()> computerName;
        // Finds listening ports for ls; none: ports are not shown.
        const PortScanner* portScanner = nullptr;
    };

    SupervisionVerbs(
        ControlVerbs& verbs, ServerStore& store, ServerManager* manager, Options options, QObject* parent = nullptr);
    ~SupervisionVerbs() override;

    // What ls answers, built now.
    ServerListing listing() const;

    enum class Action { start, stop, restart, clear };

private:
    void ping(ControlCall& call);
    void ls(ControlCall& call);
    void act(ControlCall& call, Action action);

    ServerStore& m_store;
    QPointer<ServerManager> m_manager;
    const Options m_options;
    std::unique_ptr<RestartCounter> m_restarts;
    std::unique_ptr<ServerListVerbs> m_listVerbs;
    std::unique_ptr<LogVerbs> m_logVerbs;
};

} // namespace Wardlamp
