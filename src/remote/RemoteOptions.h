#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

class QProcessEnvironment;

namespace Wardlamp {

// What one run of wardlamp-remote was asked to do: a plain value filled by
// RemoteOptions::parse from the arguments and the environment.
struct RemoteOptions {
    enum class Command { list, logs, start, stop, restart, clear, watch };
    // Where the password comes from. Never the command line: it would show in `ps`.
    enum class PasswordSource { none, file, environment, prompt };
    // Where the pairing key comes from. Never the command line either: any local
    // user can read /proc/PID/cmdline, and the key alone may give full control.
    enum class KeySource { environment, file, prompt };

    Command command = Command::list;
    QString server; // logs, start, stop, restart, clear: an id or a unique name
    bool json = false; // ls
    bool follow = false; // logs
    int lines = 50; // logs: how many backlog lines to print
    KeySource keySource = KeySource::environment;
    QString key; // environment: the pairing key text, not yet parsed
    QString keyFile; // file: where its first line holds the key
    QUrl relay;
    PasswordSource passwordSource = PasswordSource::none;
    QString passwordFile;
    QString caFile; // extra certificate authority for a relay with its own certificate
    int timeoutSeconds = 10;

    struct Parsed;
    // `stdinIsTty` decides whether a missing password is asked for.
    static Parsed parse(const QStringList& arguments, const QProcessEnvironment& environment, bool stdinIsTty);

    static QString helpText(std::optional<Command> command = std::nullopt);
    static QString commandName(Command command);

    friend bool operator==(const RemoteOptions&, const RemoteOptions&) = default;
};

struct RemoteOptions::Parsed {
    enum class Outcome { run, help, error };

    Outcome outcome = Outcome::run;
    RemoteOptions options;
    // help: the text to print; error: the message.
    QString text;
};

} // namespace Wardlamp
