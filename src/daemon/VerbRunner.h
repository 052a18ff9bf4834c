#pragma once

#include "agent/RemoteReply.h"
#include "control/ControlProtocol.h"

#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <optional>

class QSettings;

namespace Wardlamp {

class ControlClient;
struct VerbLine;

// Runs one wardlampd verb. With a supervisor of this configuration running
// (wardlampd or the desktop app) the request goes through its control socket
// and takes effect there at once; with none, the verbs about the server list
// and remote access act on the saved settings directly, holding the
// configuration's lock while they do (so that no supervisor starts from the
// settings half-way), and the verbs that need running servers say that
// nothing runs them and how to start it. Either way the reply is printed the
// same.
class VerbRunner {
public:
    struct Io {
        std::function<void(const QString& text)> out; // standard output, as it is
        std::function<void(const QString& line)> err; // one line, "wardlampd: " is added
        bool colour = false; // standard output is a colour terminal
        // Reads a secret line (`remote password`).
        std::function<std::optional<QString>(const QString& prompt)> readSecretLine;
        // Runs a remote command without a supervisor (loads the remote plugin).
        std::function<RemoteReply(const QStringList& words, const RemoteInputs& inputs, QSettings& settings)>
            runRemoteLocally;
    };

    VerbRunner(QString settingsFile, QProcessEnvironment environment, Io io);

    // The exit status (DaemonExit).
    int run(const VerbLine& line);

private:
    // The request's arguments, once what the front door reads itself is read.
    std::optional<QJsonObject> prepare(const VerbLine& line);
    int runThroughSocket(ControlClient& client, const VerbLine& line, const QJsonObject& args);
    int runLocally(const VerbLine& line, const QJsonObject& args);
    int present(const VerbLine& line, const ControlMessage& reply, bool supervised);
    int presentList(const VerbLine& line, const QJsonObject& result);
    int presentLogLines(const QJsonObject& result);
    int presentActions(const QJsonObject& result);
    int presentEdit(const VerbLine& line, const QJsonObject& result, bool supervised);
    int presentRemote(const QJsonObject& result);
    int failure(const ControlError& error);
    QString computerName() const;

    const QString m_settingsFile;
    const QProcessEnvironment m_environment;
    const Io m_io;
};

} // namespace Wardlamp
