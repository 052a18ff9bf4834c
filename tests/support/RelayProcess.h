#pragma once

#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace Wardlamp::Test {

// The real wardlamp-relay program on 127.0.0.1 for one test, stopped with SIGTERM
// when destroyed. The first start() takes any free port (read back from the
// relay's first line, "listening on ADDR:PORT"); later starts reuse that port, so
// clients that keep the relay's URL find it again after a stop() or restart().
// pause()/resume() freeze it (SIGSTOP/SIGCONT): its sockets stay open but
// nothing answers, like a relay behind a dead path.
class RelayProcess {
public:
    RelayProcess() = default;
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    // `port` 0: the port of the previous run, or any free one on the first.
    // Blocks until the relay listens; false (with errorText()) if it did not.
    bool start(quint16 port = 0, const QStringList& extraArguments = {});
    // stop(), then start() on the same port with the same arguments.
    bool restart();
    // SIGTERM and wait for the exit.
    void stop();
    // SIGKILL: the relay vanishes without closing anything.
    void kill();
    void pause();
    void resume();

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    // ws://127.0.0.1:PORT (wss:// when `tls`), no path.
    QUrl url(bool tls = false) const;
    QString errorText() const { return m_error; }

private:
    bool startOnce(quint16 port);

    QProcess m_process;
    quint16 m_port = 0;
    QStringList m_arguments;
    QString m_error;
};

} // namespace Wardlamp::Test
