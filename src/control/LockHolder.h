#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace Wardlamp {

// Who holds the lock of a configuration, as the holder wrote it into the lock
// file: its pid, its program ("wardlampd", "wardlamp", …) and whether it
// supervises the servers or only edits the saved settings for a moment (a
// verb run while nothing supervises). A plain value; one JSON line on disk.
struct LockHolder {
    enum class Role { supervisor, editor };

    qint64 pid = 0; // 0: not known
    QString program;
    Role role = Role::supervisor;
    QString settingsFile;

    QByteArray encode() const;
    static std::optional<LockHolder> decode(QByteArrayView line);
    // "wardlampd (pid 4242)", or "another Wardlamp (pid unknown)".
    QString describe() const;

    friend bool operator==(const LockHolder&, const LockHolder&) = default;
};

} // namespace Wardlamp
