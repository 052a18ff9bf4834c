#pragma once

#include <QList>
#include <QtGlobal>

namespace Wardlamp {

// Finds the processes that listen on a TCP port. The supervisor reaches the
// operating system's socket tables only through this seam; the Linux
// implementation lives with the platform adapters.
// Called from a worker thread: implementations must be thread-safe.
class ListenerScanner {
public:
    virtual ~ListenerScanner() = default;

    // Process ids of TCP listeners (IPv4 and IPv6) on the port, in discovery
    // order; empty when none is found or the tables cannot be read.
    virtual QList<qint32> listeningPids(quint16 port) const = 0;
};

} // namespace Wardlamp
