#include "StatusAnnouncer.h"

#include <QSet>

namespace Wardlamp {

using namespace Qt::StringLiterals;

QList<StatusAnnouncer::Announcement> StatusAnnouncer::update(const Snapshot& snapshot)
{
    QList<Announcement> announcements;
    QSet<QUuid> present;
    for (const WireServer& server : snapshot.servers) {
        present.insert(server.id);
        const auto previous = m_lastStatuses.constFind(server.id);
        const std::optional<WireStatus> old
            = previous == m_lastStatuses.cend() ? std::nullopt : std::optional<WireStatus>(*previous);
        m_lastStatuses.insert(server.id, server.status);
        if (!old || *old == server.status || server.status == WireStatus::stopped)
            continue;
        NotifyKind kind = NotifyKind::restart;
        if (server.status == WireStatus::error)
            kind = server.pid ? NotifyKind::error : NotifyKind::crash;
        const QString text = server.name + u": "_s + rawValue(*old) + u" \u2192 "_s + rawValue(server.status);
        announcements.append({ server.id, kind, text });
    }
    for (auto it = m_lastStatuses.begin(); it != m_lastStatuses.end();) {
        if (present.contains(it.key()))
            ++it;
        else
            it = m_lastStatuses.erase(it);
    }
    return announcements;
}

} // namespace Wardlamp
