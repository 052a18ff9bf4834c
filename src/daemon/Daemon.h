#pragma once

#include "daemon/DaemonOptions.h"

#include <QHash>
#include <QObject>
#include <QTimer>
#include <QUuid>

namespace Wardlamp {

class LogPrinter;
class ServerManager;
class ServerStore;
struct LineBatch;
enum class ServerStatus;

// The headless run: starts the autostart servers, prints their output, and
// ends the run on a signal or, with --until-stopped, once nothing runs any
// more. Every end goes through ServerManager::shutdown, so the process exits
// only after every process group it started is gone. Main thread.
class Daemon : public QObject {
    Q_OBJECT

public:
    // What one server did during the run, for the closing summary.
    struct Tally {
        quint64 lines = 0;
        quint64 errorLines = 0;
    };

    Daemon(const DaemonOptions& options, ServerStore& store, ServerManager& manager, LogPrinter& printer,
        QObject* parent = nullptr);

    void start();
    // Orderly end after SIGINT/SIGTERM/SIGHUP.
    void handleSignal(int signalNumber);

    // The exit status the run ends with (valid once finished() was emitted).
    int exitCode() const { return m_exitCode; }

    // Whether a server's end state counts as a failure of the run.
    static bool endedInError(ServerStatus status, bool neverLaunched, quint64 errorLines);

Q_SIGNALS:
    void finished(int exitCode);

private:
    void learnServerName(const QUuid& id);
    void handleLinesCaptured(const QUuid& id, const LineBatch& batch);
    void handleStateChanged(const QUuid& id);
    void checkSettled();
    void beginShutdown();
    void handleShutdownFinished();
    void writeSummary();
    void trimHeap();

    const DaemonOptions m_options;
    ServerStore& m_store;
    ServerManager& m_manager;
    LogPrinter& m_printer;
    QHash<QUuid, Tally> m_tallies;
    QHash<QUuid, ServerStatus> m_lastStatus;
    bool m_stopping = false;
    int m_exitCode = 0;
    // Gives the heap's free pages back to the system once output has paused
    // (a burst leaves freed buffers behind, in the output thread's arena too).
    QTimer m_trimTimer;
};

} // namespace Wardlamp
