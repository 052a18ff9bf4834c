#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QProcessEnvironment;
class QSettings;

namespace Wardlamp {

class SecretStore;

// The remote-access subcommands of wardlampd, run instead of the daemon:
//   wardlampd pair [--rotate]         the pairing key as text and QR code
//   wardlampd pair --web              the relay web page link that pairs a phone, and its QR code
//   wardlampd remote status
//   wardlampd remote enable | disable
//   wardlampd remote name NAME
//   wardlampd remote relay URL | --reset
//   wardlampd remote password [--file FILE | --clear]
// A password never comes from the command line itself: it is read from a file,
// from the terminal with echo off, or from standard input.
class RemoteCommand {
public:
    struct Io {
        std::function<void(const QString&)> out; // standard output
        std::function<void(const QString&)> err; // one message line, without "wardlampd: "
        // Reads one line of secret input (prompting on the terminal when there
        // is one); nothing at end of input.
        std::function<std::optional<QString>(const QString& prompt)> readSecretLine;
    };

    // Whether the arguments (program name first) name a subcommand of ours.
    // Inline: wardlampd asks before it loads the remote plugin, which runs them.
    static bool handles(const QStringList& arguments)
    {
        return arguments.size() >= 2
            && (arguments[1] == QLatin1StringView("pair") || arguments[1] == QLatin1StringView("remote"));
    }

    // Runs it; returns the exit status (0 done, 2 bad usage or input).
    static int run(const QStringList& arguments, QSettings& settings, const QProcessEnvironment& environment,
        SecretStore& secrets, const Io& io);

    static QString helpText();
    // The standard Io of a terminal program.
    static Io standardIo();
};

} // namespace Wardlamp
