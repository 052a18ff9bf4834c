#pragma once

#include "control/ControlProtocol.h"

#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <optional>

namespace Wardlamp {

class ControlClient;
struct VerbLine;

// Runs one wardlampd verb. With a supervisor of this configuration running
// (wardlampd or the desktop app) the request goes through its control socket
// and takes effect there at once; with none, the verbs about the server list
// act on the saved settings directly (holding the configuration's lock for
// the moment they take), and the verbs that need running servers say that
// nothing runs and how to start it. Either way the reply is printed the same.
class VerbRunner {
public:
    struct Io {
        std::function<void(const QString& text)> out; // standard output, as it is
        std::function<void(const QString& line)> err; // one line, "wardlampd: " is added
        bool colour = false; // standard output is a colour terminal
    };

    VerbRunner(QString settingsFile, QProcessEnvironment environment, Io io);

    // The exit status (DaemonExit).
    int run(const VerbLine& line);

    // The verb answered in this process, on the saved settings.
    std::optional<ControlMessage> runLocally(const VerbLine& line);

private:
    int present(const VerbLine& line, const ControlMessage& reply);
    int presentList(const VerbLine& line, const QJsonObject& result);
    int failure(const ControlError& error);
    QString computerName() const;

    const QString m_settingsFile;
    const QProcessEnvironment m_environment;
    const Io m_io;
};

} // namespace Wardlamp
