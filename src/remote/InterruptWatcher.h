#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

namespace Wardlamp {

// Turns SIGINT/SIGTERM into a Qt signal on the main thread, so wardlamp-remote can
// close its relay connection politely before it exits. The handler only writes the
// signal number into a non-blocking self-pipe, read by a socket notifier in the
// event loop. Each handler is installed for one delivery (SA_RESETHAND): a second
// Ctrl-C while the program is closing ends it at once, as the user asked.
// One instance per process; main thread.
class InterruptWatcher : public QObject {
    Q_OBJECT

public:
    explicit InterruptWatcher(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~InterruptWatcher() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void handleReadable();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace Wardlamp
