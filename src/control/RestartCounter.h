#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QUuid>

namespace Wardlamp {

class ServerManager;

// Counts, per server, the starts after its first one since the supervisor
// began (crash restarts, port recoveries, requested restarts, a start after a
// stop): the RESTARTS column of `ls`. It watches the manager's states: every
// start gives a server a new start time. Create it before the first start.
// Main thread.
class RestartCounter : public QObject {
    Q_OBJECT

public:
    explicit RestartCounter(ServerManager& manager, QObject* parent = nullptr);

    int restarts(const QUuid& id) const;

private:
    void handleStateChanged(const QUuid& id);

    ServerManager& m_manager;
    QHash<QUuid, QDateTime> m_lastStart;
    QHash<QUuid, int> m_starts;
};

} // namespace Wardlamp
