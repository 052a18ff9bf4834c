#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

namespace Wardlamp {

class ControlCall;
class ControlVerbs;
class ServerManager;
class ServerStore;

// The verbs that change the server list: add, edit, rm, import, export. They
// act on the supervisor's one store, so a change shows in its list at once
// and is saved by it; without a supervisor the front door runs them on a store
// of the saved settings. The rules are ServerListEdits'.
//
// Results: add/edit/rm {"server": record, "warnings"?, "running"?}; import
// {"added", "replaced", "removed"} (names); export {"servers": the JSON array
// as text}. Every result says "saved": false when the list could not be
// written, and "ephemeral": true when the supervisor runs a list that is never
// saved (--servers, WL_SEED_SERVERS).
//
// Main thread; the store and manager must outlive it.
class ServerListVerbs : public QObject {
    Q_OBJECT

public:
    ServerListVerbs(ControlVerbs& verbs, ServerStore& store, ServerManager* manager, QObject* parent = nullptr);

private:
    void add(ControlCall& call);
    void edit(ControlCall& call);
    void remove(ControlCall& call);
    void import(ControlCall& call);
    void exportList(ControlCall& call);
    QJsonObject stored(QJsonObject result) const;

    ServerStore& m_store;
    QPointer<ServerManager> m_manager;
};

} // namespace Wardlamp
