#pragma once

#include "common/Expected.h"

#include <QObject>

#include <initializer_list>
#include <memory>
#include <system_error>

class QSocketNotifier;

namespace Wardlamp {

// Turns POSIX signals into a Qt signal on the main thread. The handler only
// writes the signal number into a non-blocking self-pipe; a socket notifier
// reads it in the event loop. One instance per process (signal dispositions
// are the process's), made by the program's main(); main thread.
//
// Delivery::once installs each handler for one delivery (SA_RESETHAND): a
// second Ctrl-C while the program winds down ends it at once, as the user asked.
class SignalWatcher : public QObject {
    Q_OBJECT

public:
    enum class Delivery { every, once };

    // Installs the handlers. Fails, with nothing installed, when the self-pipe
    // cannot be made (no descriptor left): the program reports it and stops.
    static Expected<std::unique_ptr<SignalWatcher>, std::error_code> watch(
        std::initializer_list<int> signalNumbers, Delivery delivery = Delivery::every);
    ~SignalWatcher() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    SignalWatcher();
    void handleReadable();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace Wardlamp
