#include "RemoteCommand.h"

#include "agent/PairingStore.h"
#include "agent/RelayEndpoint.h"
#include "platform/QrCode.h"
#include "platform/SecretStore.h"

#include <QProcessEnvironment>
#include <QSettings>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

// The exit statuses, as wardlampd's (DaemonExit).
constexpr int done = 0;
constexpr int failed = 1;
constexpr int badInput = 2;

RemoteReply usage(const QString& problem)
{
    return { badInput, {}, { problem + u" (see wardlampd remote --help)"_s } };
}

RemoteReply pair(const QStringList& args, PairingStore& pairing, const std::optional<QUrl>& relay, bool live)
{
    bool rotate = false;
    bool web = false;
    for (const QString& arg : args) {
        if (arg == u"--rotate"_s)
            rotate = true;
        else if (arg == u"--web"_s)
            web = true;
        else
            return usage(u"pair: unknown argument "_s + arg);
    }
    RemoteReply reply;
    // A key the store did not keep is lost at the next start, and so is any
    // device paired with it: say so, and show none.
    QStringList notKept;
    const QMetaObject::Connection watch = QObject::connect(
        &pairing, &PairingStore::storeFailed, &pairing, [&notKept](const QString& what) { notKept.append(what); });
    if (rotate) {
        pairing.rotateSecret();
        reply.notes.append(live ? u"a new pairing key was made and the running supervisor uses it now; paired "
                                  "devices must pair again"_s
                                : u"a new pairing key was made; paired devices must pair again"_s);
    } else {
        pairing.ensureSecret();
    }
    QObject::disconnect(watch);
    if (!notKept.isEmpty()) {
        reply.exitCode = failed;
        reply.notes = { u"could not store "_s + notKept.join(u", "_s)
            + (live ? (rotate ? u"; the running supervisor uses it until it stops, so paired devices are cut off"_s
                              : u"; the running supervisor uses it until it stops"_s)
                    : QString())
            + u"; unlock or repair the secret store and run `wardlampd pair"_s + (rotate ? u" --rotate"_s : QString())
            + u"` again"_s };
        return reply;
    }
    const auto key = pairing.pairingKey();
    if (!key) {
        reply.exitCode = failed;
        reply.notes.append(u"no pairing key could be made"_s);
        return reply;
    }
    if (pairing.secretFromEnvironment())
        reply.notes.append(u"the pairing key comes from WL_REMOTE_SECRET and is not stored"_s);
    QString text;
    if (web) {
        if (!relay) {
            reply.exitCode = badInput;
            reply.notes.append(
                u"no relay is set, so there is no web page to link to: `wardlampd remote relay URL` sets one"_s);
            return reply;
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
    reply.out = text;
    return reply;
}

RemoteReply status(
    PairingStore& pairing, QSettings& settings, const QProcessEnvironment& environment, SecretStore& secrets, bool live)
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
    if (live)
        text += u"(as the running supervisor has them)\n"_s;
    return { done, text, {} };
}

QString whenItTakesEffect(bool live)
{
    return live ? u"; the running supervisor applies it now"_s : u"; it takes effect when wardlampd starts next"_s;
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
           "\nWith a supervisor running (wardlampd, or the desktop app) each change takes effect in it at once: a\n"
           "new pairing key or password reseals the connection, and devices holding the old one get nothing more.\n"
           "WL_RELAY_URL, WL_REMOTE_ENABLED, WL_REMOTE_MACNAME, WL_REMOTE_SECRET and WL_REMOTE_PASSWORD\n"
           "override these settings.\n"_s;
}

RemoteReply RemoteCommand::run(const QStringList& words, const RemoteInputs& inputs, PairingStore& pairing,
    QSettings& settings, const QProcessEnvironment& environment, SecretStore& secrets, bool live)
{
    const QString command = words.value(0);
    const QStringList rest = words.mid(1);
    if (rest.contains(u"--help"_s) || rest.contains(u"-h"_s))
        return { done, helpText(), {} };
    if (command == u"pair"_s)
        return pair(rest, pairing, RelayEndpoint::resolve(environment, settings), live);
    if (command != u"remote"_s)
        return usage(u"unknown command "_s + command);

    const QString verb = rest.value(0);
    const QStringList values = rest.mid(1);
    if (verb.isEmpty() || verb == u"status"_s)
        return values.isEmpty() ? status(pairing, settings, environment, secrets, live)
                                : usage(u"remote status takes no arguments"_s);
    if (verb == u"enable"_s || verb == u"disable"_s) {
        if (!values.isEmpty())
            return usage(u"remote "_s + verb + u" takes no arguments"_s);
        pairing.setEnabled(verb == u"enable"_s);
        return { done, {},
            { u"remote access "_s + (verb == u"enable"_s ? u"on"_s : u"off"_s) + whenItTakesEffect(live) } };
    }
    if (verb == u"name"_s) {
        const QString name = values.join(u' ').trimmed();
        if (name.isEmpty())
            return usage(u"remote name needs a name"_s);
        pairing.setMacName(name);
        return {};
    }
    if (verb == u"relay"_s) {
        if (values.size() != 1)
            return usage(u"remote relay takes one ws:// or wss:// address, or --reset"_s);
        if (values[0] == u"--reset"_s) {
            settings.remove(RelayEndpoint::settingsKey);
        } else {
            const auto url = RelayEndpoint::parse(values[0]);
            if (!url)
                return usage(u"not a ws:// or wss:// address: "_s + values[0]);
            settings.setValue(RelayEndpoint::settingsKey, url->toString());
        }
        settings.sync();
        RemoteReply reply;
        if (environment.contains(u"WL_RELAY_URL"_s))
            reply.notes.append(u"WL_RELAY_URL is set for the supervisor and goes before this setting"_s);
        return reply;
    }
    if (verb == u"password"_s) {
        if (!values.isEmpty() || !inputs.password)
            return usage(u"remote password takes --file FILE, --clear or nothing (then it asks)"_s);
        pairing.setPassword(*inputs.password);
        return { done, {},
            { inputs.password->isEmpty() ? u"password cleared"_s + (live ? whenItTakesEffect(true) : QString())
                                         : u"password set; enter the same one on the other device"_s
                        + (live ? whenItTakesEffect(true) : QString()) } };
    }
    return usage(u"unknown remote command "_s + verb);
}

} // namespace Wardlamp
