#pragma once

#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace Wardlamp::Test {

// The real wardlamp-relay program, started for one test on 127.0.0.1 (port 0 picks a
// free port, read back from its first line "listening on ADDR:PORT"). Stopped with
// SIGTERM when destroyed. pause()/resume() freeze it (SIGSTOP/SIGCONT): its sockets
// stay open but nothing answers, like a relay behind a dead path.
class RelayProcess {
public:
    RelayProcess() = default;
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    // `port` 0: any free port. Blocks until the relay listens; false if it did not.
    bool start(quint16 port = 0, const QStringList& extraArguments = {});
    // SIGTERM and wait for the exit.
    void stop();
    void pause();
    void resume();

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    quint16 port() const { return m_port; }
    // ws://127.0.0.1:PORT (wss:// when `tls`), no path.
    QUrl url(bool tls = false) const;
    QString errorText() const { return m_error; }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace Wardlamp::Test
