#pragma once

#include "common/Expected.h"

#include <QString>
#include <QStringList>

#include <optional>

class QProcessEnvironment;

namespace Wardlamp {

// Where the supervisor lock and the control socket of one configuration live.
// A configuration is its settings file: two runs with different
// XDG_CONFIG_HOME never meet, and two front doors on one settings file always
// do. Both files sit in a private folder (mode 0700, ours):
//   $XDG_RUNTIME_DIR/wardlamp/          when that is set, absolute and ours
//   /tmp/wardlamp-UID/                  otherwise (as tmux does)
// named after a digest of the settings file's path: KEY.lock and KEY.sock.
// A value; resolve() creates the folder (and the settings folder, so that the
// path can be made canonical) and checks that nobody else can reach into it.
struct ControlPaths {
    QString settingsFile; // canonical path of the settings file
    QString directory;
    QString key; // 16 hexadecimal digits, from settingsFile
    QString lockFile;
    QString socketFile;

    // `settingsFile` as SettingsLocation gives it. On failure, one line saying
    // why no private folder could be had.
    static Expected<ControlPaths, QString> resolve(const QString& settingsFile, const QProcessEnvironment& environment);

    // The folder candidates in order of preference, for tests.
    static QStringList candidateDirectories(const QProcessEnvironment& environment);
    // The key of a settings file path (already canonical).
    static QString keyOf(const QString& canonicalSettingsFile);
    // Makes `directory` (creating it) private to this user; otherwise one line
    // saying why not. It must be a real directory (no symlink) owned by us;
    // group and other permissions are taken away when it is ours.
    static std::optional<QString> makePrivate(const QString& directory);
};

} // namespace Wardlamp
