#pragma once

#include "LineBatch.h"
#include "ProcessInfo.h"
#include "ServerManager.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMetaObject>
#include <QObject>

#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace Wardlamp::Detail {

// Hands calls from other threads to the manager's thread. Once closed (the
// manager is being destroyed) nothing more is posted; calls already posted
// are dropped with their receiver.
struct PostBox {
    explicit PostBox(QObject* target)
        : receiver(target)
    {
    }

    template <typename Functor> void post(Functor&& functor)
    {
        std::lock_guard lock(mutex);
        if (receiver)
            QMetaObject::invokeMethod(receiver, std::forward<Functor>(functor), Qt::QueuedConnection);
    }
    void close()
    {
        std::lock_guard lock(mutex);
        receiver = nullptr;
    }

    std::mutex mutex;
    QObject* receiver;
};

} // namespace Wardlamp::Detail

namespace Wardlamp {

// Changes made while an operation runs, announced when the outermost one ends.
struct ServerManager::Changes {
    struct Server {
        bool stateChanged = false;
        bool cleared = false;
        quint64 firstSeq = 0; // of the lines appended since the last clear in this batch
        int count = 0;
        std::vector<CapturedLine> tap;
        std::deque<QByteArray> ownedTexts; // texts of status lines, referenced by `tap`
    };
    QList<QUuid> order;
    QHash<QUuid, Server> servers;
    std::optional<QDateTime> date;
    std::optional<qint64> msecs; // of `date`

    Server& server(const QUuid& id)
    {
        auto it = servers.find(id);
        if (it == servers.end()) {
            order.append(id);
            it = servers.insert(id, Server {});
        }
        return *it;
    }
};

struct ServerManager::Shutdown {
    QList<ProcessInfo> processes; // every process signalled on the way down
    bool reported = false;
};

class ServerManager::ChangeScope {
public:
    explicit ChangeScope(ServerManager& manager)
        : m_manager(manager)
    {
        if (m_manager.m_scopeDepth++ == 0)
            m_manager.m_changes = std::make_unique<Changes>();
    }
    ~ChangeScope()
    {
        if (--m_manager.m_scopeDepth == 0)
            m_manager.flushChanges();
    }
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

private:
    ServerManager& m_manager;
};

} // namespace Wardlamp
