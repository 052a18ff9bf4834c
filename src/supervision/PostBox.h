#pragma once

#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <utility>

namespace Wardlamp::Detail {

// Hands calls from other threads (the output thread, the port-recovery pool
// thread) to the manager's thread. Once closed (the manager is being
// destroyed) nothing more is posted; calls already posted are dropped with
// their receiver. Shared by pointer with whoever posts; thread-safe.
class PostBox {
public:
    explicit PostBox(QObject* receiver)
        : m_receiver(receiver)
    {
    }

    template <typename Functor> void post(Functor&& functor)
    {
        std::lock_guard lock(m_mutex);
        if (m_receiver)
            QMetaObject::invokeMethod(m_receiver, std::forward<Functor>(functor), Qt::QueuedConnection);
    }

    void close()
    {
        std::lock_guard lock(m_mutex);
        m_receiver = nullptr;
    }

private:
    std::mutex m_mutex;
    QObject* m_receiver;
};

} // namespace Wardlamp::Detail
