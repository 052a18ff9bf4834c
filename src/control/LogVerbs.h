#pragma once

#include "control/EventBuffers.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUuid>

namespace Wardlamp {

class ControlCall;
class ControlVerbs;
class ServerManager;
class ServerStore;
struct LineBatch;

// The `logs` verb: the newest lines of a server's log, or of its previous
// run, and a followed log (`logs -f`), which streams every line the manager
// appends from then on. A batch of lines is encoded once for all the clients
// that follow that server and handed to each of them in the same event-loop
// turn as the manager appends it; a follower that cannot keep up is dropped
// by its connection, never slowing the others or the manager.
//
// Args: "server" (id or name), "lines" (how many, default 50, at most the
// log's 2000), "follow", "previous". Result (not followed): {"server":{"id",
// "name"}, "lines":[…], "truncated"?, "previous"?:{"startedAt","ending"}}.
// Followed: the same as a first event, then {"lines":[…]} events (or
// {"skipped":N} where N lines were dropped for a follower that fell behind), until the
// server is removed (reply {"removed":true}).
//
// Main thread; the store and manager must outlive it.
class LogVerbs : public QObject {
    Q_OBJECT

public:
    static constexpr int defaultLines = 50;
    // What one reply may carry of a log's text (its lines are at most 1 MiB each).
    static constexpr qsizetype maxReplyTextBytes = 8 * 1024 * 1024;

    LogVerbs(ControlVerbs& verbs, ServerStore& store, ServerManager* manager, QObject* parent = nullptr);
    ~LogVerbs() override;

    int followerCount() const;

private:
    void logs(ControlCall& call);
    void handleLinesCaptured(const QUuid& id, const LineBatch& batch);
    void handleRemoved(const QUuid& id);

    ServerStore& m_store;
    QPointer<ServerManager> m_manager;
    QHash<QUuid, QList<QPointer<ControlCall>>> m_followers;
    EventBuffers m_eventBuffers;
    QTimer m_releaseBuffers; // after a quiet spell
};

} // namespace Wardlamp
