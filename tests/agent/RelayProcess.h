#pragma once

#include <QProcess>
#include <QUrl>

namespace Wardlamp::Test {

// A real wardlamp-relay on a loopback port, for agent and end-to-end tests.
// restart() stops it and starts a new one on the same port.
class RelayProcess {
public:
    RelayProcess();
    ~RelayProcess();

    // False (with a warning) when the relay did not say it listens in time.
    bool start();
    void stop();
    bool restart()
    {
        stop();
        return start();
    }

    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    QUrl url() const;

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace Wardlamp::Test
