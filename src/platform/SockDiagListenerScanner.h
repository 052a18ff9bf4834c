#pragma once

#include "control/PortScanner.h"
#include "supervision/ListenerScanner.h"

#include <QList>
#include <QSet>

#include <optional>

namespace Wardlamp {

// Finds the processes listening on a TCP port without running lsof: the
// kernel's socket tables are asked through NETLINK_SOCK_DIAG for listening
// TCP sockets (IPv4 and IPv6) on the port, and /proc/<pid>/fd is searched
// for those sockets' inodes. No fork, no external tool, no root needed; the
// processes of other users whose fds cannot be read are not found.
//
// The other way round, for `ls`: the listening sockets of given processes,
// looked up by inode in one dump of the tables.
//
// Stateless: every call opens and closes its own netlink socket, so calls
// from any number of threads at once are safe.
class SockDiagListenerScanner final : public ListenerScanner, public PortScanner {
public:
    // Each pid once, in /proc order (ascending pids), however many of the
    // listening sockets or descriptors it holds. Empty for port 0.
    QList<qint32> listeningPids(quint16 port) const override;
    QHash<qint32, QList<quint16>> listeningPorts(const QSet<qint32>& pids) const override;

    // The two halves, for tests and diagnostics. listeningInodes() is empty
    // when netlink is unavailable; nothing is returned for it then.
    static std::optional<QSet<quint64>> listeningInodes(quint16 port);
    static QList<qint32> pidsHoldingSockets(const QSet<quint64>& inodes);
};

} // namespace Wardlamp
