#pragma once

#include "control/FollowerBudget.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Wardlamp {

class ControlOutbox;

// Sends what the control socket's connections queue, on a thread of its own:
// the main thread hands a message over by reference (ControlOutbox::push, then
// wake()) and goes back to supervising, whatever the clients read. Each
// connection's socket is written without blocking; one that is full waits in
// poll() while the others go on, and what piles up for it meanwhile goes out
// in one sendmsg once it drains. While lines keep coming to more than one
// follower, followed logs are held to a FollowerBudget, the followers taking
// turns.
//
// Owner: ControlServer. Created and destroyed on the main thread.
class ControlWriter {
public:
    ControlWriter();
    // Stops the thread; descriptors still held are closed.
    ~ControlWriter();
    ControlWriter(const ControlWriter&) = delete;
    ControlWriter& operator=(const ControlWriter&) = delete;

    // Sends `outbox` to `fd` from now on (the writer keeps its own duplicate
    // of the descriptor and closes it when the outbox is removed).
    void add(int fd, std::shared_ptr<ControlOutbox> outbox);
    void remove(const std::shared_ptr<ControlOutbox>& outbox);
    // Something was pushed; cheap when a wake-up is already pending.
    void wake();

private:
    struct Entry {
        int fd = -1;
        std::shared_ptr<ControlOutbox> outbox;
        bool blocked = false; // its socket is full: wait for POLLOUT
        bool removed = false;
        FollowerBudget::Feed feed;
    };

    void run();
    void signal();

    int m_wakeFd = -1;
    std::atomic<bool> m_wakePending { false };
    std::atomic<bool> m_stopping { false };
    std::mutex m_mutex;
    std::vector<std::shared_ptr<Entry>> m_entries;
    std::thread m_thread;
};

} // namespace Wardlamp
