// wardlamp-remote: the controller side of a Wardlamp pairing in a terminal.
#include "ControllerCommand.h"
#include "ExitCode.h"
#include "PasswordInput.h"
#include "RemoteOptions.h"

#include "platform/SignalWatcher.h"
#include "remotekit/PairingCredential.h"
#include "remotekit/RemoteCrypto.h"

#include <QCoreApplication>
#include <QProcessEnvironment>
#include <QSslCertificate>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace Wardlamp;

namespace {
int fail(ExitCode code, const QString& message)
{
    std::fprintf(stderr, "wardlamp-remote: %s\n", message.toLocal8Bit().constData());
    if (code == ExitCode::usage)
        std::fprintf(stderr, "Try \"wardlamp-remote --help\".\n");
    return toInt(code);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("wardlamp-remote"));
    QCoreApplication::setApplicationVersion(QStringLiteral(WL_VERSION));

    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const auto parsed = RemoteOptions::parse(app.arguments().mid(1), environment, ::isatty(STDIN_FILENO) == 1);
    if (parsed.outcome == RemoteOptions::Parsed::Outcome::help) {
        std::fputs(parsed.text.toLocal8Bit().constData(), stdout);
        return toInt(ExitCode::success);
    }
    if (parsed.outcome == RemoteOptions::Parsed::Outcome::error)
        return fail(ExitCode::usage, parsed.text);
    const RemoteOptions& options = parsed.options;

    QString keyText = options.key;
    switch (options.keySource) {
    case RemoteOptions::KeySource::environment:
        break;
    case RemoteOptions::KeySource::file: {
        QString error;
        const auto fromFile = PasswordInput::fromFile(options.keyFile, &error);
        if (!fromFile)
            return fail(ExitCode::usage, QStringLiteral("cannot read the key file %1: %2").arg(options.keyFile, error));
        keyText = *fromFile;
        break;
    }
    case RemoteOptions::KeySource::prompt:
        keyText = PasswordInput::prompt(QStringLiteral("Pairing key: ")).value_or(QString());
        break;
    }
    const auto credential = PairingCredential::parse(keyText.trimmed());
    if (!credential) {
        return fail(ExitCode::badKey,
            QStringLiteral("the pairing key is not valid: copy the whole text that starts with \"WL1.\" "
                           "from the desktop's remote settings (or wardlampd's output)"));
    }

    std::optional<QString> password;
    switch (options.passwordSource) {
    case RemoteOptions::PasswordSource::none:
        break;
    case RemoteOptions::PasswordSource::environment:
        password = environment.value(QStringLiteral("WL_REMOTE_PASSWORD"));
        break;
    case RemoteOptions::PasswordSource::file: {
        QString error;
        password = PasswordInput::fromFile(options.passwordFile, &error);
        if (!password)
            return fail(ExitCode::usage,
                QStringLiteral("cannot read the password file %1: %2").arg(options.passwordFile, error));
        break;
    }
    case RemoteOptions::PasswordSource::prompt:
        password = PasswordInput::prompt(QStringLiteral("Password for %1 (empty for none): ").arg(credential->name));
        break;
    }

    RelayClient::Options clientOptions;
    if (!options.caFile.isEmpty()) {
        clientOptions.extraCaCertificates = QSslCertificate::fromPath(options.caFile);
        if (clientOptions.extraCaCertificates.isEmpty())
            return fail(ExitCode::usage, QStringLiteral("no PEM certificate in %1").arg(options.caFile));
    }

    const QString room = RemoteCrypto::roomId(credential->secret);
    // An empty password is no password, on both sides.
    const auto key
        = RemoteCrypto::contentKey(credential->secret, password && !password->isEmpty() ? password : std::nullopt);
    if (room.isEmpty() || !key)
        return fail(ExitCode::badKey, QStringLiteral("cannot derive the keys from the pairing key"));

    ControllerCommand command(options, room, *key, clientOptions);
    QObject::connect(
        &command, &ControllerCommand::finished, &app, [](int code) { QCoreApplication::exit(code); },
        Qt::QueuedConnection);
    // Only now: a Ctrl-C at the password prompt still ends the program at once.
    const auto interrupts = SignalWatcher::watch({ SIGINT, SIGTERM }, SignalWatcher::Delivery::once);
    if (!interrupts)
        return fail(ExitCode::commandFailed,
            QStringLiteral("cannot watch for Ctrl-C: %1").arg(QString::fromStdString(interrupts.error().message())));
    QObject::connect(interrupts->get(), &SignalWatcher::received, &command, &ControllerCommand::interrupt);
    QTimer::singleShot(0, &command, &ControllerCommand::run);
    return app.exec();
}
