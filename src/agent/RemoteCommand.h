#pragma once

#include "agent/RemoteReply.h"

#include <QString>
#include <QStringList>

class QProcessEnvironment;
class QSettings;

namespace Wardlamp {

class PairingStore;
class SecretStore;

// The remote-access verbs of wardlampd, run on a pairing store:
//   pair [--rotate]         the pairing key as text and QR code
//   pair --web              the relay web page link that pairs a phone, and its QR code
//   remote status
//   remote enable | disable
//   remote name NAME
//   remote relay URL | --reset
//   remote password         (the password comes in RemoteInputs)
// Nothing is printed or read here: the reply carries the output, and a front
// door has read any secret before (SecretInput). The same code runs in a
// running supervisor on its one pairing store (`live`: the change takes effect
// at once) and, with none running, on a pairing store of the saved settings.
// Exit statuses as wardlampd's: 0 done, 1 failed, 2 bad usage or input.
class RemoteCommand {
public:
    // `words`: the verb first ("pair", "--rotate").
    static RemoteReply run(const QStringList& words, const RemoteInputs& inputs, PairingStore& pairing,
        QSettings& settings, const QProcessEnvironment& environment, SecretStore& secrets, bool live);

    static QString helpText();
};

} // namespace Wardlamp
