#pragma once

#include <QList>
#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <utility>

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
