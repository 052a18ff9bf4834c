#include "platform/SockDiagListenerScanner.h"

#include <QLoggingCategory>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Wardlamp {

namespace {

Q_LOGGING_CATEGORY(lcListeners, "wardlamp.platform")

// Closes a descriptor when the scope ends.
struct FdCloser {
    int fd = -1;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

constexpr size_t alignedLength(size_t length)
{
    return (length + NLMSG_ALIGNTO - 1) & ~size_t(NLMSG_ALIGNTO - 1);
}
constexpr size_t headerLength = alignedLength(sizeof(nlmsghdr));

// Dumps the listening TCP sockets of one address family and adds the inode
// and port of those bound to `port` (every one for port 0). The kernel can
// filter by port only with a bytecode program; the listening sockets of a
// machine are few, so the reply is filtered here instead. Returns false when
// the table could not be read.
bool collectListeners(int netlinkFd, quint8 family, quint16 port, QHash<quint64, quint16>& listeners)
{
    struct Request {
        nlmsghdr header;
        inet_diag_req_v2 body;
    };
    Request request {};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = family;
    request.body.sdiag_family = family;
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = 1U << TCP_LISTEN;

    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent = -1;
    do {
        sent = ::sendto(netlinkFd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof request))
        return false;

    const quint16 portInNetworkOrder = htons(port);
    alignas(nlmsghdr) std::array<char, 32 * 1024> buffer;
    for (;;) {
        const ssize_t received = ::recv(netlinkFd, buffer.data(), buffer.size(), 0);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (received == 0)
            return false;
        // Walked by hand: the NLMSG_* macros use C casts.
        size_t offset = 0;
        const auto total = static_cast<size_t>(received);
        while (total - offset >= sizeof(nlmsghdr)) {
            nlmsghdr header;
            std::memcpy(&header, buffer.data() + offset, sizeof header);
            if (header.nlmsg_len < sizeof header || header.nlmsg_len > total - offset)
                return false; // a malformed reply: give up rather than guess
            if (header.nlmsg_type == NLMSG_DONE)
                return true;
            if (header.nlmsg_type == NLMSG_ERROR)
                return false;
            if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY && header.nlmsg_len >= headerLength + sizeof(inet_diag_msg)) {
                inet_diag_msg socket;
                std::memcpy(&socket, buffer.data() + offset + headerLength, sizeof socket);
                if (socket.idiag_state == TCP_LISTEN && (port == 0 || socket.id.idiag_sport == portInNetworkOrder)
                    && socket.idiag_inode != 0)
                    listeners.insert(socket.idiag_inode, ntohs(socket.id.idiag_sport));
            }
            offset += alignedLength(header.nlmsg_len);
        }
    }
}

// Parses "socket:[12345]".
std::optional<quint64> socketInode(const char* link, ssize_t length)
{
    static constexpr char prefix[] = "socket:[";
    constexpr ssize_t prefixLength = sizeof prefix - 1;
    if (length <= prefixLength + 1 || std::memcmp(link, prefix, prefixLength) != 0 || link[length - 1] != ']')
        return std::nullopt;
    quint64 inode = 0;
    for (ssize_t i = prefixLength; i < length - 1; ++i) {
        if (link[i] < '0' || link[i] > '9')
            return std::nullopt;
        inode = inode * 10 + static_cast<quint64>(link[i] - '0');
    }
    return inode;
}

// Every listening table of both families, inode -> port; nothing when
// netlink cannot be had or a table cannot be read.
std::optional<QHash<quint64, quint16>> listenerTable(quint16 port)
{
    FdCloser netlink { ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG) };
    if (netlink.fd < 0) {
        qCWarning(lcListeners) << "no NETLINK_SOCK_DIAG:" << std::strerror(errno);
        return std::nullopt;
    }
    QHash<quint64, quint16> listeners;
    for (const quint8 family : { quint8(AF_INET), quint8(AF_INET6) }) {
        if (!collectListeners(netlink.fd, family, port, listeners)) {
            qCWarning(lcListeners) << "cannot read the TCP listeners of family" << family;
            return std::nullopt;
        }
    }
    return listeners;
}

// Calls `visit` with the inode of every socket the process holds, until it
// returns false.
template <typename Visit> void forEachSocket(int procFd, const char* pidName, Visit visit)
{
    char path[sizeof(dirent::d_name) + 8];
    std::snprintf(path, sizeof path, "%s/fd", pidName);
    const int fdDirFd = ::openat(procFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDirFd < 0)
        return; // ended meanwhile, or another user's process
    DIR* fdDir = ::fdopendir(fdDirFd);
    if (!fdDir) {
        ::close(fdDirFd);
        return;
    }
    while (const dirent* entry = ::readdir(fdDir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        char link[64];
        const ssize_t length = ::readlinkat(fdDirFd, entry->d_name, link, sizeof link);
        if (length <= 0 || length >= static_cast<ssize_t>(sizeof link))
            continue;
        if (const auto inode = socketInode(link, length); inode && !visit(*inode))
            break;
    }
    ::closedir(fdDir);
}

bool holdsOneOf(int procFd, const char* pidName, const QSet<quint64>& inodes)
{
    bool found = false;
    forEachSocket(procFd, pidName, [&](quint64 inode) {
        found = inodes.contains(inode);
        return !found;
    });
    return found;
}

} // namespace

std::optional<QSet<quint64>> SockDiagListenerScanner::listeningInodes(quint16 port)
{
    if (port == 0)
        return QSet<quint64>();
    const auto listeners = listenerTable(port);
    if (!listeners)
        return std::nullopt;
    QSet<quint64> inodes;
    for (auto it = listeners->cbegin(); it != listeners->cend(); ++it)
        inodes.insert(it.key());
    return inodes;
}

QHash<qint32, QList<quint16>> SockDiagListenerScanner::listeningPorts(const QSet<qint32>& pids) const
{
    QHash<qint32, QList<quint16>> ports;
    if (pids.isEmpty())
        return ports;
    const auto listeners = listenerTable(0);
    if (!listeners || listeners->isEmpty())
        return ports;
    const int procFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procFd < 0)
        return ports;
    for (const qint32 pid : pids) {
        char name[16];
        std::snprintf(name, sizeof name, "%d", pid);
        QList<quint16> found;
        forEachSocket(procFd, name, [&](quint64 inode) {
            const auto it = listeners->constFind(inode);
            if (it != listeners->cend() && !found.contains(*it))
                found.append(*it);
            return true;
        });
        if (!found.isEmpty()) {
            std::sort(found.begin(), found.end());
            ports.insert(pid, found);
        }
    }
    ::close(procFd);
    return ports;
}

QList<qint32> SockDiagListenerScanner::pidsHoldingSockets(const QSet<quint64>& inodes)
{
    QList<qint32> pids;
    if (inodes.isEmpty())
        return pids;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return pids;
    const int procFd = ::dirfd(proc);
    while (const dirent* entry = ::readdir(proc)) {
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9')
            continue;
        char* end = nullptr;
        const long pid = std::strtol(name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid > INT32_MAX)
            continue;
        if (holdsOneOf(procFd, name, inodes))
            pids.append(static_cast<qint32>(pid));
    }
    ::closedir(proc);
    return pids;
}

QList<qint32> SockDiagListenerScanner::listeningPids(quint16 port) const
{
    if (port == 0)
        return {};
    const auto inodes = listeningInodes(port);
    if (!inodes)
        return {};
    return pidsHoldingSockets(*inodes);
}

} // namespace Wardlamp
