#include "RemoteOptions.h"

#include <QProcessEnvironment>

#include <array>
#include <utility>

#ifndef WL_DEFAULT_RELAY_URL
#define WL_DEFAULT_RELAY_URL ""
#endif

namespace Wardlamp {

namespace {
using Command = RemoteOptions::Command;

constexpr std::array<std::pair<Command, const char*>, 7> commandNames { {
    { Command::list, "ls" },
    { Command::logs, "logs" },
    { Command::start, "start" },
    { Command::stop, "stop" },
    { Command::restart, "restart" },
    { Command::clear, "clear" },
    { Command::watch, "watch" },
} };

std::optional<Command> commandFromName(const QString& name)
{
    for (const auto& [command, text] : commandNames) {
        if (name == QLatin1String(text))
            return command;
    }
    if (name == u"list")
        return Command::list;
    return std::nullopt;
}

bool takesServer(Command command)
{
    return command != Command::list && command != Command::watch;
}

RemoteOptions::Parsed failure(QString message)
{
    RemoteOptions::Parsed parsed;
    parsed.outcome = RemoteOptions::Parsed::Outcome::error;
    parsed.text = std::move(message);
    return parsed;
}

RemoteOptions::Parsed help(std::optional<Command> command)
{
    RemoteOptions::Parsed parsed;
    parsed.outcome = RemoteOptions::Parsed::Outcome::help;
    parsed.text = RemoteOptions::helpText(command);
    return parsed;
}

// ws:// or wss:// with a host; anything else is refused with the reason.
std::optional<QString> relayProblem(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("is not a URL with a host");
    if (url.scheme() != u"ws" && url.scheme() != u"wss")
        return QStringLiteral("must start with ws:// or wss://");
    return std::nullopt;
}
} // namespace

QString RemoteOptions::commandName(Command command)
{
    for (const auto& [c, text] : commandNames) {
        if (c == command)
            return QString::fromLatin1(text);
    }
    return {};
}

RemoteOptions::Parsed RemoteOptions::parse(
    const QStringList& arguments, const QProcessEnvironment& environment, bool stdinIsTty)
{
    RemoteOptions options;
    std::optional<Command> command;
    QStringList positionals;
    std::optional<QString> keyFile;
    std::optional<QString> relay;
    std::optional<QString> passwordFile;
    bool noPassword = false;
    bool wantHelp = false;
    bool sawJson = false;
    bool sawFollow = false;
    bool sawLines = false;

    for (int i = 0; i < arguments.size(); ++i) {
        QString flag = arguments.at(i);
        std::optional<QString> inlineValue;
        if (flag.startsWith(u"--") && flag.contains(QLatin1Char('='))) {
            inlineValue = flag.section(QLatin1Char('='), 1);
            flag = flag.section(QLatin1Char('='), 0, 0);
        }
        auto value = [&]() -> std::optional<QString> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < arguments.size())
                return arguments.at(++i);
            return std::nullopt;
        };

        if (flag == u"-h" || flag == u"--help") {
            wantHelp = true;
        } else if (flag == u"--key") {
            return failure(QStringLiteral("the pairing key is never taken from the command line (any local user "
                                          "can read it there, and it may give full control): set WL_REMOTE_KEY, "
                                          "use --key-file FILE, or run on a terminal to be asked for it"));
        } else if (flag == u"--key-file") {
            keyFile = value();
            if (!keyFile || keyFile->isEmpty())
                return failure(QStringLiteral("--key-file expects a file name"));
        } else if (flag == u"--relay") {
            relay = value();
            if (!relay || relay->isEmpty())
                return failure(QStringLiteral("--relay expects a ws:// or wss:// URL"));
        } else if (flag == u"--password-file") {
            passwordFile = value();
            if (!passwordFile || passwordFile->isEmpty())
                return failure(QStringLiteral("--password-file expects a file name"));
        } else if (flag == u"--password" || flag == u"-p") {
            return failure(QStringLiteral("a password is never taken from the command line (others can read it): "
                                          "use --password-file FILE, WL_REMOTE_PASSWORD or the prompt"));
        } else if (flag == u"--no-password") {
            noPassword = true;
        } else if (flag == u"--ca-file") {
            const auto file = value();
            if (!file || file->isEmpty())
                return failure(QStringLiteral("--ca-file expects a PEM certificate file"));
            options.caFile = *file;
        } else if (flag == u"--timeout") {
            const auto text = value();
            bool ok = false;
            const int seconds = text ? text->toInt(&ok) : 0;
            if (!ok || seconds < 1 || seconds > 3600)
                return failure(QStringLiteral("--timeout expects a number of seconds from 1 to 3600"));
            options.timeoutSeconds = seconds;
        } else if (flag == u"--json") {
            sawJson = true;
        } else if (flag == u"-f" || flag == u"--follow") {
            sawFollow = true;
        } else if (flag == u"-n" || flag == u"--lines") {
            const auto text = value();
            bool ok = false;
            const int n = text ? text->toInt(&ok) : 0;
            if (!ok || n < 0 || n > 100000)
                return failure(QStringLiteral("-n expects a number of lines from 0 to 100000"));
            options.lines = n;
            sawLines = true;
        } else if (flag.startsWith(u"-") && flag.size() > 1) {
            return failure(QStringLiteral("unknown option %1").arg(flag));
        } else if (!command) {
            if (flag == u"help") {
                wantHelp = true;
                // "help CMD" is "CMD --help".
                if (i + 1 < arguments.size())
                    command = commandFromName(arguments.at(i + 1));
                return help(command);
            }
            command = commandFromName(flag);
            if (!command)
                return failure(QStringLiteral("unknown command \"%1\"").arg(flag));
        } else {
            positionals.append(flag);
        }
    }

    if (wantHelp)
        return help(command);
    if (!command)
        return failure(QStringLiteral("no command given"));
    options.command = *command;
    const QString name = commandName(*command);

    if (takesServer(*command)) {
        if (positionals.isEmpty())
            return failure(QStringLiteral("%1 needs a server (its name or id)").arg(name));
        options.server = positionals.takeFirst();
    }
    if (!positionals.isEmpty())
        return failure(QStringLiteral("unexpected argument \"%1\"").arg(positionals.first()));
    if (sawJson && *command != Command::list)
        return failure(QStringLiteral("--json belongs to ls"));
    if ((sawFollow || sawLines) && *command != Command::logs)
        return failure(QStringLiteral("-f and -n belong to logs"));
    options.json = sawJson;
    options.follow = sawFollow;

    if (keyFile) {
        options.keySource = KeySource::file;
        options.keyFile = *keyFile;
    } else if (const QString fromEnvironment = environment.value(QStringLiteral("WL_REMOTE_KEY")).trimmed();
               !fromEnvironment.isEmpty()) {
        options.keySource = KeySource::environment;
        options.key = fromEnvironment;
    } else if (stdinIsTty) {
        options.keySource = KeySource::prompt;
    } else {
        return failure(QStringLiteral("no pairing key: set WL_REMOTE_KEY or use --key-file FILE (on a terminal, "
                                      "wardlamp-remote asks for it)"));
    }

    const QString relayText
        = relay.value_or(environment.value(QStringLiteral("WL_RELAY_URL"), QString::fromUtf8(WL_DEFAULT_RELAY_URL)));
    if (relayText.isEmpty())
        return failure(QStringLiteral("no relay: pass --relay URL or set WL_RELAY_URL"));
    options.relay = QUrl(relayText, QUrl::StrictMode);
    if (const auto problem = relayProblem(options.relay))
        return failure(QStringLiteral("the relay address \"%1\" %2").arg(relayText, *problem));

    if (passwordFile && noPassword)
        return failure(QStringLiteral("--password-file and --no-password contradict each other"));
    if (passwordFile) {
        options.passwordSource = PasswordSource::file;
        options.passwordFile = *passwordFile;
    } else if (noPassword) {
        options.passwordSource = PasswordSource::none;
    } else if (environment.contains(QStringLiteral("WL_REMOTE_PASSWORD"))) {
        options.passwordSource = PasswordSource::environment;
    } else {
        options.passwordSource = stdinIsTty ? PasswordSource::prompt : PasswordSource::none;
    }

    Parsed parsed;
    parsed.options = std::move(options);
    return parsed;
}

QString RemoteOptions::helpText(std::optional<Command> command)
{
    const QString common = QStringLiteral(R"(
Connection (every command):
  --key-file FILE      read the pairing key shown by the desktop from the first
                       line of FILE; otherwise it comes from $WL_REMOTE_KEY, or is
                       asked for (without echo) when standard input is a terminal.
                       It is never taken from the command line.
  --relay URL          the relay, ws:// or wss:// (default: $WL_RELAY_URL)
  --password-file FILE read the password from the first line of FILE
  --no-password        the desktop has no password; do not ask
                       Otherwise the password comes from $WL_REMOTE_PASSWORD, or is
                       asked for (without echo) when standard input is a terminal.
                       It is never taken from the command line.
  --ca-file FILE       also trust this PEM certificate (a relay with its own)
  --timeout SECONDS    how long to wait for the relay and the desktop (default 10)
  -h, --help           show help; "wardlamp-remote COMMAND --help" for one command
)");
    const QString exitCodes = QStringLiteral(R"(
Exit status:
  0  done                     5  the desktop is offline or did not answer
  1  the desktop refused      6  wrong password (nothing from the desktop opens)
  2  usage error              7  unknown server, or a name that is not unique
  3  the pairing key is bad   8  the command was not acknowledged in time
  4  the relay cannot be reached
  130, 143  interrupted by SIGINT (Ctrl-C) or SIGTERM, after leaving the relay
            politely (close code 1001); a second Ctrl-C ends it at once
)");
    if (!command) {
        return QStringLiteral(R"(Usage: wardlamp-remote [options] COMMAND [arguments]

Watches and controls the servers of a Wardlamp desktop from a terminal, through
the relay, end-to-end encrypted with the pairing key (and password).

Commands:
  ls [--json]                 the servers with status, pid and uptime
  logs SERVER [-f] [-n N]     the last N lines of a server's log; -f keeps following
  start SERVER                start a server and wait for the desktop's acknowledgement
  stop SERVER                 stop it
  restart SERVER              restart it
  clear SERVER                clear its log
  watch                       print status announcements as they arrive (Ctrl-C ends)

SERVER is a server's id or its name (exact, or ignoring case when that is unique).
)") + common + exitCodes;
    }
    switch (*command) {
    case Command::list:
        return QStringLiteral(R"(Usage: wardlamp-remote ls [--json] [options]

Lists the desktop's servers: name, status, pid, uptime and id.
  --json    one JSON object: {"macName", "generatedAt", "servers": [{"id", "name",
            "command", "status", "hasError", "pid", "startedAt", "uptimeSeconds",
            "lastExitCode", "directory", "tunnelHostname"}]}; absent values are left out.
)") + common + exitCodes;
    case Command::logs:
        return QStringLiteral(R"(Usage: wardlamp-remote logs SERVER [-f] [-n N] [options]

Prints the last N lines (default 50, at most the 500 the desktop sends) of a
server's log as "HH:mm:ss  text"; lines from standard error are marked "HH:mm:ss! text".
  -f, --follow      keep printing new lines as they arrive (Ctrl-C ends)
  -n, --lines N     how many backlog lines to print
)") + common + exitCodes;
    case Command::start:
    case Command::stop:
    case Command::restart:
    case Command::clear:
        return QStringLiteral("Usage: wardlamp-remote %1 SERVER [options]\n\n"
                              "Asks the desktop to %2 and waits for its acknowledgement (which says the\n"
                              "request was handed to the supervisor; \"ls\" shows the outcome).\n")
                   .arg(commandName(*command),
                       *command == Command::clear ? QStringLiteral("clear the server's log")
                                                  : commandName(*command) + QStringLiteral(" the server"))
            + common + exitCodes;
    case Command::watch:
        return QStringLiteral(R"(Usage: wardlamp-remote watch [options]

Prints each status announcement of the desktop as it arrives, such as
"12:00:03  api: running → error", and notes when the desktop goes offline or
comes back. Runs until interrupted.
)") + common + exitCodes;
    }
    return {};
}

} // namespace Wardlamp
