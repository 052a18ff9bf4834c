#pragma once

#include "remotekit/Snapshot.h"
#include "remotekit/WireEnums.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

namespace Wardlamp {

// Decides which status changes are announced to controllers. Remembers the
// status of every server seen at the previous snapshot (forgetting servers that
// left the list); a change is announced when the old status is known, differs,
// and the new one is not stopped: to running as `restart`, to error as `crash`
// when no process is left (no pid) and `error` otherwise. Text:
// "<name>: <old> → <new>". Main thread; owned by the agent; survives reconnects.
class StatusAnnouncer {
public:
    struct Announcement {
        QUuid serverId;
        NotifyKind kind = NotifyKind::restart;
        QString text;

        friend bool operator==(const Announcement&, const Announcement&) = default;
    };

    QList<Announcement> update(const Snapshot& snapshot);

    const QHash<QUuid, WireStatus>& lastStatuses() const { return m_lastStatuses; }

private:
    QHash<QUuid, WireStatus> m_lastStatuses;
};

} // namespace Wardlamp
