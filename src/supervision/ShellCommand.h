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

    // A leading "~" (the whole directory, or "~/" and more) becomes `home`, as
    // a shell would expand it; anything else, "~user" included, stays as is.
    // An empty `home` changes nothing.
    static QString expandedDirectory(const QString& directory, const QString& home);

    // The user's home folder: $HOME, else the user database's entry; empty
    // when neither says.
    static QString homeFolder();

    // "cd <quoted directory> && " when the directory is present and not empty
    // (as is, not trimmed; a leading ~ expanded to homeFolder()), then "exec "
    // and the command exactly as stored.
    // A command that exec cannot take whole (takesExec() false) is run by
    // "exec <quoted shell> -c <quoted command>" instead.
    static QString script(const QString& command, const std::optional<QString>& directory, const QString& shell);

    // The arguments after the shell path: "-lic" and the script. With
    // `markStart` (and a shell that takes it, see marksStart()), the script
    // first writes startMarker as a line on standard output and on standard
    // error: whatever comes before it on a stream is the login shell's own
    // start-up output (rc files: stty, nvm, conda notices), not the server's.
    static QStringList arguments(
        const QString& command, const std::optional<QString>& directory, const QString& shell, bool markStart = false);

    // The line the script writes on both streams just before the command
    // starts (before its cd, so a failing cd is the server's error).
    static constexpr QByteArrayView startMarker { "\x1ewardlamp: the command starts\x1e" };
    // Whether the shell runs the marker's printf lines: every Bourne-like
    // shell and fish; not csh and tcsh, where ">&2" means something else.
    static bool marksStart(const QString& shell);
    // The script's prefix that writes the marker (empty when !marksStart).
    static QString startMarkerScript(const QString& shell);

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
