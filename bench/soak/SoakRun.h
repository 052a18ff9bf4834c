#pragma once

#include "SoakController.h"

#include "remotekit/SecretBytes.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <memory>
#include <vector>

namespace Wardlamp::Soak {

// The soak end to end: a real wardlamp-relay on loopback, a real wardlampd
// supervising printers, two controllers following their logs, commands from
// both, and the relay killed (SIGKILL) and started again on the same port at
// random moments. Prints a table and says whether every target was met.
class SoakRun : public QObject {
    Q_OBJECT

public:
    struct Settings {
        QString binDir;
        QString scratchDir;
        int seconds = 300;
        int kills = 20;
        int servers = 5;
        int linesPerSecond = 2000; // all servers together
        int commandEveryMs = 3000;
        qint64 targetFlowMs = 2000;
        quint32 seed = 0;
    };

    explicit SoakRun(Settings settings, QObject* parent = nullptr);
    ~SoakRun() override;

    // Starts everything; the event loop's exit code is the verdict (0: every
    // target met, 1: a target missed, 2: the soak could not run).
    void begin();

private:
    struct Server {
        QUuid id;
        QString name;
        int restartsSent = 0;
        int clearsSent = 0;
    };

    bool startRelay(quint16 port);
    void relayOutput();
    void killRelay();
    void warmUp();
    void sendCommand();
    void finishSoon();
    void report();
    void fail(const QString& why);
    QHash<QString, int> startsByServer() const;

    Settings m_settings;
    QRandomGenerator m_random;
    SecretBytes m_secret;
    std::vector<Server> m_servers;
    QProcess m_relay;
    QProcess m_daemon;
    quint16 m_port = 0;
    QByteArray m_relayBuffer;
    bool m_relayUp = false;
    std::vector<std::unique_ptr<SoakController>> m_controllers;
    // Kill moments, in ms after the warm-up.
    std::vector<qint64> m_killAt;
    size_t m_nextKill = 0;
    std::vector<qint64> m_downMs; // per kill: from SIGKILL to the port accepting again
    qint64 m_killedAtMs = 0;
    QElapsedTimer m_clock;
    QTimer m_tick;
    QTimer m_commands;
    int m_turn = 0;
    bool m_running = false;
    bool m_finishing = false;
};

} // namespace Wardlamp::Soak
