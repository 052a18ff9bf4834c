#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

namespace Wardlamp {

// Turns POSIX signals into a Qt signal on the main thread. The handler only
// writes the signal number into a non-blocking self-pipe; a socket notifier
// reads it in the event loop. One instance per process; main thread.
//
// Delivery::once installs each handler for one delivery (SA_RESETHAND): a
// second Ctrl-C while the program winds down ends it at once, as the user asked.
class SignalWatcher : public QObject {
    Q_OBJECT

public:
    enum class Delivery { every, once };

    explicit SignalWatcher(
        std::initializer_list<int> signalNumbers, Delivery delivery = Delivery::every, QObject* parent = nullptr);
    ~SignalWatcher() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void handleReadable();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace Wardlamp
