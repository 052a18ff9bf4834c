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
    // A command that exec cannot take whole (takesExec() false) is run by
    // "exec <quoted shell> -c <quoted command>" instead.
    static QString script(const QString& command, const std::optional<QString>& directory, const QString& shell);

    // The arguments after the shell path: "-lic" and the script.
    static QStringList arguments(const QString& command, const std::optional<QString>& directory, const QString& shell);

    // Whether "exec " + command runs the command as written: one simple
    // command or a pipeline-free one with redirections. Not for lists
    // ("a && b", "a; b", "a &"), pipelines, compound commands (while, if,
    // subshells, groups) and leading variable assignments ("PORT=3000 npm
    // start"): exec would run only the first command of a list, and fail on
    // the others outright. False when unsure.
    static bool takesExec(const QString& command);

    // The arguments after the shell path: "-lic" and the script.
    static QStringList arguments(const QString& command, const std::optional<QString>& directory);

    // An interactive shell started without a terminal says so on standard
    // error before anything else: bash in two lines, dash and busybox's ash
    // in one (the shell's name as it was started, dash with its line number):
    //   bash: cannot set terminal process group (<number>): Inappropriate ioctl for device
    //   bash: no job control in this shell
    //   dash: 0: can't access tty; job control turned off
    //   /bin/sh: can't access tty; job control turned off
    // True for exactly these (any optionally negative number in bash's; any
    // name without a colon or space in the others).
    static bool isJobControlNoise(QByteArrayView line);
};

} // namespace Wardlamp
