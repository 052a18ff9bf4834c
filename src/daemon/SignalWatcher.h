#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

namespace Wardlamp {

// Turns POSIX signals into a Qt signal on the main thread. The handler only
// writes the signal number into a non-blocking self-pipe; a socket notifier
// reads it in the event loop. One instance per process.
class SignalWatcher : public QObject {
    Q_OBJECT

public:
    explicit SignalWatcher(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~SignalWatcher() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void handleReadable();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace Wardlamp
