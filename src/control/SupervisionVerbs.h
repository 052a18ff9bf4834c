#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace Wardlamp {

class ControlCall;
class ControlVerbs;
class PortScanner;
class RestartCounter;
class ServerManager;
class ServerStore;
struct ServerListing;

// The verbs every supervisor answers on its control socket, acting on its one
// server list and manager: ping, ls (more to come). Without a manager (a
// front door editing the saved settings while nothing supervises) the same
// verbs act on the list alone and the ones that need running servers say so.
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

private:
    void ping(ControlCall& call);
    void ls(ControlCall& call);

    ServerStore& m_store;
    QPointer<ServerManager> m_manager;
    const Options m_options;
    std::unique_ptr<RestartCounter> m_restarts;
};

} // namespace Wardlamp
