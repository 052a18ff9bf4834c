#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QtGlobal>

namespace Wardlamp {

// Finds the TCP ports that processes listen on, for `ls`. The operating
// system's socket tables are reached only through this seam; the Linux
// implementation (SockDiagListenerScanner) lives with the platform adapters.
class PortScanner {
public:
    virtual ~PortScanner() = default;

    // The listening TCP ports (IPv4 and IPv6, each once, ascending) of each of
    // the processes that holds any; processes without one are left out.
    virtual QHash<qint32, QList<quint16>> listeningPorts(const QSet<qint32>& pids) const = 0;
};

} // namespace Wardlamp
