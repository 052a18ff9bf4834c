#pragma once

#include <QUuid>

#include <array>

namespace Wardlamp {

// The ids of one server's log lines, derived from the server id and the line's
// sequence number instead of being stored: the same line reads with the same id
// every time, wherever it is read (the log, a captured batch, a backlog).
//
// Each id has the shape of a random (version 4) UUID. A key drawn once per
// process makes the ids unrelated to those of another run. Within one server
// the ids of lines below 2^60 are distinct by construction (a permutation of
// the sequence number); across servers they are as distinct as random UUIDs.
//
// A small value; any thread.
class LogLineIds {
public:
    explicit LogLineIds(const QUuid& serverId = {});

    QUuid id(quint64 seq) const;

    friend bool operator==(const LogLineIds&, const LogLineIds&) = default;

private:
    std::array<quint64, 3> m_key {};
};

} // namespace Wardlamp
