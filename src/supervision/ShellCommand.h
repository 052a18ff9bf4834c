#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

namespace Wardlamp {

// How a server's command becomes a login-shell invocation:
//   <shell> -lic "cd '<directory>' && exec <command>"
// Pure functions.
class ShellCommand {
public:
    // The directory in single quotes, each ' written as '\'' (close, escaped
    // quote, reopen). Safe for every byte, newlines included.
    static QString quoted(const QString& text);

    // "cd <quoted directory> && " when the directory is present and not empty
    // (as is, not trimmed), then "exec " and the command exactly as stored.
    static QString script(const QString& command, const std::optional<QString>& directory);

    // The arguments after the shell path: "-lic" and the script.
    static QStringList arguments(const QString& command, const std::optional<QString>& directory);

    // bash started without a terminal prints two job-control lines on standard
    // error before anything else:
    //   bash: cannot set terminal process group (<number>): Inappropriate ioctl for device
    //   bash: no job control in this shell
    // True for exactly these (any optionally negative number).
    static bool isJobControlNoise(QByteArrayView line);
};

} // namespace Wardlamp
