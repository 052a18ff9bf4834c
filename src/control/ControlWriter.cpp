#include "ControlWriter.h"

#include "control/ControlOutbox.h"
#include "control/FollowerBudget.h"

#include <QLoggingCategory>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

namespace Wardlamp {

namespace {

Q_LOGGING_CATEGORY(lcControlWriter, "wardlamp.control")

// The writer thread's nice value (a thread's own on Linux). With 100 followers
// of a log that takes 1,000,000 lines, 0 slowed the manager's ingestion by
// about 40% on two cores; 19 left it within the noise.
constexpr int writerNice = 19;

// How often followers waiting for a FollowerBudget look again.
constexpr int budgetRetryMs = 1;

} // namespace

ControlWriter::ControlWriter()
    : m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_wakeFd < 0)
        qFatal("cannot make an eventfd for the control socket's writer: %s", std::strerror(errno));
    m_thread = std::thread([this] { run(); });
}

ControlWriter::~ControlWriter()
{
    m_stopping = true;
    signal();
    m_thread.join();
    for (const std::shared_ptr<Entry>& entry : m_entries)
        ::close(entry->fd);
    ::close(m_wakeFd);
}

void ControlWriter::add(int fd, std::shared_ptr<ControlOutbox> outbox)
{
    auto entry = std::make_shared<Entry>();
    entry->fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    entry->outbox = std::move(outbox);
    if (entry->fd < 0) {
        // Without a descriptor of its own the writer cannot send: the
        // connection learns it the same way as from a client that went.
        qCWarning(lcControlWriter) << "cannot duplicate a control connection:" << std::strerror(errno);
        entry->outbox->clear();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_entries.push_back(std::move(entry));
    }
    signal();
}

void ControlWriter::remove(const std::shared_ptr<ControlOutbox>& outbox)
{
    {
        std::lock_guard lock(m_mutex);
        for (const std::shared_ptr<Entry>& entry : m_entries) {
            if (entry->outbox == outbox)
                entry->removed = true;
        }
    }
    signal();
}

void ControlWriter::wake()
{
    if (!m_wakePending.exchange(true))
        signal();
}

void ControlWriter::signal()
{
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
}

void ControlWriter::run()
{
    // Below the main thread: when they compete for a core, ingestion and
    // supervision come first and followers get the time left over (a
    // follower that falls behind loses its oldest lines, see ControlOutbox).
    // On a quiet machine a line still goes out at once.
    ::setpriority(PRIO_PROCESS, id_t(::gettid()), writerNice);
    std::vector<std::shared_ptr<Entry>> entries;
    std::vector<pollfd> polled;
    std::vector<Entry*> polledEntries;
    FollowerBudget budget;
    size_t turn = 0; // where the next round starts while followers take turns
    while (!m_stopping) {
        m_wakePending = false;
        {
            std::lock_guard lock(m_mutex);
            std::erase_if(m_entries, [](const std::shared_ptr<Entry>& entry) {
                if (!entry->removed)
                    return false;
                ::close(entry->fd);
                return true;
            });
            entries = m_entries;
        }
        const FollowerBudget::Clock::time_point now = FollowerBudget::Clock::now();
        int followersFed = 0;
        for (const std::shared_ptr<Entry>& entry : entries) {
            if (entry->feed.fedRecently(entry->outbox->droppablePushed(), now))
                ++followersFed;
        }
        budget.update(now, followersFed);
        polled.assign(1, pollfd { m_wakeFd, POLLIN, 0 });
        polledEntries.assign(1, nullptr);
        std::optional<size_t> waiting; // the first follower that got no turn
        std::optional<size_t> cut; // the follower whose turn the budget ended
        for (size_t k = 0; k < entries.size(); ++k) {
            const size_t index = (turn + k) % entries.size();
            Entry& entry = *entries[index];
            if (!entry.blocked) {
                ControlOutbox::Sent sent;
                qsizetype spent = 0;
                if (budget.limited()) {
                    sent = entry.outbox->sendTo(entry.fd, qsizetype(budget.available()), &spent);
                    budget.spend(spent);
                } else {
                    sent = entry.outbox->sendTo(entry.fd);
                }
                if (sent == ControlOutbox::Sent::wouldBlock)
                    entry.blocked = true;
                else if (sent == ControlOutbox::Sent::overBudget && spent > 0)
                    cut = index;
                else if (sent == ControlOutbox::Sent::overBudget && !waiting)
                    waiting = index;
            }
            if (entry.blocked) {
                polled.push_back(pollfd { entry.fd, POLLOUT, 0 });
                polledEntries.push_back(&entry);
            }
        }
        if (waiting)
            turn = *waiting;
        else if (cut)
            turn = (*cut + 1) % entries.size();
        if (m_wakePending)
            continue; // pushed meanwhile: go round before sleeping
        // Followers waiting for the budget look again as the rate refills it,
        // or as the flood ends.
        if (::poll(polled.data(), nfds_t(polled.size()), (waiting || cut) ? budgetRetryMs : -1) < 0 && errno != EINTR) {
            qCWarning(lcControlWriter) << "poll in the control socket's writer failed:" << std::strerror(errno);
            ::usleep(10000);
            continue;
        }
        if (polled[0].revents & POLLIN) {
            quint64 count;
            [[maybe_unused]] const ssize_t got = ::read(m_wakeFd, &count, sizeof count);
        }
        for (size_t i = 1; i < polled.size(); ++i) {
            // Writable, or in error: sendTo says which.
            if (polled[i].revents)
                polledEntries[i]->blocked = false;
        }
    }
}

} // namespace Wardlamp
