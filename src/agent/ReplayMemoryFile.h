#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>

namespace Wardlamp {

// Where the agent keeps the nonces of the payloads it accepted last, so that a
// command captured from the relay and sent again after a restart is refused
// too. Written like the secrets' file: readable by the user alone, replaced
// atomically (a crash leaves the old memory or the new one, never half of
// one). A missing or unreadable file is an empty memory. Main thread.
class ReplayMemoryFile {
public:
    explicit ReplayMemoryFile(QString path);

    const QString& path() const { return m_path; }
    // The nonces saved last, oldest first, at most `capacity` (the newest).
    QList<QByteArray> load(int capacity) const;
    bool save(const std::deque<QByteArray>& nonces) const;
    // A new pairing key: nothing accepted under the old one matters any more.
    void remove() const;

private:
    QString m_path;
};

} // namespace Wardlamp
