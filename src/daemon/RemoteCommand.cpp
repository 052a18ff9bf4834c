#include "RemoteCommand.h"

#include "agent/PairingStore.h"
#include "agent/RelayEndpoint.h"
#include "daemon/DaemonOptions.h"
#include "platform/QrCode.h"
#include "platform/SecretStore.h"
#include "supervision/StandardError.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QSettings>

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

// Strips one trailing line end ("\n" or "\r\n"); nothing else is touched, so
// a password keeps its spaces.
QString withoutLineEnd(QString text)
{
    if (text.endsWith(u'\n'))
        text.chop(1);
    if (text.endsWith(u'\r'))
        text.chop(1);
    return text;
}

std::optional<QString> readLineFromStdin(const QString& prompt)
{
    const bool terminal = ::isatty(STDIN_FILENO);
    termios saved {};
    if (terminal) {
        const QByteArray bytes = prompt.toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
        if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
    }
    QByteArray line;
    bool any = false;
    for (int c = std::getchar(); c != EOF; c = std::getchar()) {
        any = true;
        if (c == '\n')
            break;
        line.append(char(c));
    }
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    if (!any)
        return std::nullopt;
    return withoutLineEnd(QString::fromUtf8(line));
}

int usage(const RemoteCommand::Io& io, const QString& problem)
{
    io.err(problem + u" (see wardlampd remote --help)"_s);
    return DaemonExit::badInput;
}

int pair(const QStringList& args, PairingStore& pairing, const std::optional<QUrl>& relay, const RemoteCommand::Io& io)
{
    bool rotate = false;
    bool web = false;
    for (const QString& arg : args) {
        if (arg == u"--rotate"_s)
            rotate = true;
        else if (arg == u"--web"_s)
            web = true;
        else if (arg == u"--help"_s || arg == u"-h"_s) {
            io.out(RemoteCommand::helpText());
            return DaemonExit::ok;
        } else
            return usage(io, u"pair: unknown argument "_s + arg);
    }
    if (rotate) {
        pairing.rotateSecret();
        io.err(u"a new pairing key was made; paired devices must pair again, and a running wardlampd must be "
               "restarted to use it"_s);
    } else {
        pairing.ensureSecret();
    }
    const auto key = pairing.pairingKey();
    if (!key) {
        io.err(u"no pairing key could be made"_s);
        return DaemonExit::serverFailed;
    }
    if (pairing.secretFromEnvironment())
        io.err(u"the pairing key comes from WL_REMOTE_SECRET and is not stored"_s);
    QString text;
    if (web) {
        if (!relay) {
            io.err(u"no relay is set, so there is no web page to link to: `wardlampd remote relay URL` sets one"_s);
            return DaemonExit::badInput;
        }
        // The link carries the key: whoever has it controls these servers.
        const QString link = RelayEndpoint::webPairingLink(*relay, *key);
        text = u"Open this link on the phone to pair it with \""_s + pairing.macName()
            + u"\" (it holds the pairing key: share it with nobody else):\n\n"_s + link + u"\n\n"_s;
        if (const auto code = QrCode::encode(link.toUtf8()))
            text += code->toTerminalText(2, true) + u"\n"_s;
    } else {
        text = u"Pairing key for \""_s + pairing.macName() + u"\":\n\n"_s + *key + u"\n\n"_s;
        if (const auto code = pairing.qrCode())
            text += code->toTerminalText(2, true) + u"\n"_s;
    }
    text += pairing.password().isEmpty() ? u"No password is set.\n"_s
                                         : u"A password is set: enter it on the other device too.\n"_s;
    if (!pairing.isEnabled())
        text += u"Remote access is off: `wardlampd remote enable` switches it on.\n"_s;
    io.out(text);
    return DaemonExit::ok;
}

int status(PairingStore& pairing, QSettings& settings, const QProcessEnvironment& environment, SecretStore& secrets,
    const RemoteCommand::Io& io)
{
    const auto relay = RelayEndpoint::resolve(environment, settings);
    QString text;
    text += u"remote access: "_s + (pairing.isEnabled() ? u"on"_s : u"off"_s) + u'\n';
    text += u"computer name: "_s + pairing.macName() + u'\n';
    text += u"relay: "_s + (relay ? relay->toString() : u"(none)"_s) + u'\n';
    text += u"password: "_s + (pairing.password().isEmpty() ? u"not set"_s : u"set"_s) + u'\n';
    text += u"pairing key: "_s
        + (pairing.secret() ? (pairing.secretFromEnvironment() ? u"from WL_REMOTE_SECRET"_s : u"present"_s)
                            : u"not created yet"_s)
        + u'\n';
    text += u"secret store: "_s + secrets.describe() + u'\n';
    io.out(text);
    return DaemonExit::ok;
}

int password(const QStringList& args, PairingStore& pairing, const RemoteCommand::Io& io)
{
    std::optional<QString> value;
    if (args.size() == 1 && args[0] == u"--clear"_s) {
        value = QString();
    } else if (args.size() == 2 && args[0] == u"--file"_s) {
        QFile file(args[1]);
        if (!file.open(QIODevice::ReadOnly)) {
            io.err(u"cannot read "_s + args[1] + u": "_s + file.errorString());
            return DaemonExit::badInput;
        }
        const QByteArray bytes = file.readLine(64 * 1024);
        value = withoutLineEnd(QString::fromUtf8(bytes));
    } else if (args.isEmpty()) {
        value = io.readSecretLine(u"Password (empty for none): "_s);
        if (!value) {
            io.err(u"no password given; nothing changed"_s);
            return DaemonExit::badInput;
        }
    } else {
        return usage(io, u"remote password takes --file FILE, --clear or nothing (then it asks)"_s);
    }
    pairing.setPassword(*value);
    io.err(value->isEmpty() ? u"password cleared"_s : u"password set; enter the same one on the other device"_s);
    return DaemonExit::ok;
}

} // namespace

QString RemoteCommand::helpText()
{
    return u"Usage:\n"
           "  wardlampd pair [--rotate]        show the pairing key as text and QR code (--rotate: make a new one)\n"
           "  wardlampd pair --web             a link to the relay's web page that pairs a phone, and its QR code\n"
           "  wardlampd remote status          what remote access is set to\n"
           "  wardlampd remote enable|disable  switch remote access on or off\n"
           "  wardlampd remote name NAME       the name shown on paired devices\n"
           "  wardlampd remote relay URL       the relay (ws:// or wss://); --reset to forget it\n"
           "  wardlampd remote password        ask for the password (empty for none)\n"
           "  wardlampd remote password --file FILE | --clear\n"
           "\nWL_RELAY_URL, WL_REMOTE_ENABLED, WL_REMOTE_MACNAME, WL_REMOTE_SECRET and WL_REMOTE_PASSWORD\n"
           "override these settings.\n"_s;
}

int RemoteCommand::run(const QStringList& arguments, QSettings& settings, const QProcessEnvironment& environment,
    SecretStore& secrets, const Io& io)
{
    const QString command = arguments.value(1);
    const QStringList rest = arguments.mid(2);
    if (rest.contains(u"--help"_s) || rest.contains(u"-h"_s)) {
        io.out(helpText());
        return DaemonExit::ok;
    }
    PairingStore pairing(settings, environment, secrets);
    if (command == u"pair"_s)
        return pair(rest, pairing, RelayEndpoint::resolve(environment, settings), io);

    const QString verb = rest.value(0);
    const QStringList values = rest.mid(1);
    if (verb.isEmpty() || verb == u"status"_s)
        return values.isEmpty() ? status(pairing, settings, environment, secrets, io)
                                : usage(io, u"remote status takes no arguments"_s);
    if (verb == u"enable"_s || verb == u"disable"_s) {
        if (!values.isEmpty())
            return usage(io, u"remote "_s + verb + u" takes no arguments"_s);
        pairing.setEnabled(verb == u"enable"_s);
        io.err(u"remote access "_s + (verb == u"enable"_s ? u"on"_s : u"off"_s)
            + u"; it takes effect when wardlampd starts next"_s);
        return DaemonExit::ok;
    }
    if (verb == u"name"_s) {
        const QString name = values.join(u' ').trimmed();
        if (name.isEmpty())
            return usage(io, u"remote name needs a name"_s);
        pairing.setMacName(name);
        return DaemonExit::ok;
    }
    if (verb == u"relay"_s) {
        if (values.size() != 1)
            return usage(io, u"remote relay takes one ws:// or wss:// address, or --reset"_s);
        if (values[0] == u"--reset"_s) {
            settings.remove(RelayEndpoint::settingsKey);
        } else {
            const auto url = RelayEndpoint::parse(values[0]);
            if (!url)
                return usage(io, u"not a ws:// or wss:// address: "_s + values[0]);
            settings.setValue(RelayEndpoint::settingsKey, url->toString());
        }
        settings.sync();
        return DaemonExit::ok;
    }
    if (verb == u"password"_s)
        return password(values, pairing, io);
    return usage(io, u"unknown remote command "_s + verb);
}

RemoteCommand::Io RemoteCommand::standardIo()
{
    Io io;
    io.out = [](const QString& text) {
        const QByteArray bytes = text.toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    };
    io.err = [](const QString& line) { writeToStandardError(QString(u"wardlampd: "_s + line + u'\n').toUtf8()); };
    io.readSecretLine = readLineFromStdin;
    return io;
}

} // namespace Wardlamp
