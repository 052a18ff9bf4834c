#include "RelayProcess.h"

#include "TestEnvironment.h"

#include <QElapsedTimer>

#include <csignal>
#include <sys/types.h>

namespace Wardlamp::Test {

RelayProcess::~RelayProcess()
{
    resume();
    stop();
}

bool RelayProcess::start(quint16 port, const QStringList& extraArguments)
{
    m_error.clear();
    m_process.setProgram(program(QStringLiteral("wardlamp-relay")));
    m_process.setArguments(
        QStringList { QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port) } + extraArguments);
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start();
    if (!m_process.waitForStarted(waitMs(10000))) {
        m_error = m_process.errorString();
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (!m_process.canReadLine()) {
        if (timer.elapsed() > waitMs(10000) || m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("no \"listening on\" line");
            return false;
        }
        m_process.waitForReadyRead(100);
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    const QString prefix = QStringLiteral("listening on ");
    if (!line.startsWith(prefix)) {
        m_error = QStringLiteral("unexpected first line: ") + line;
        return false;
    }
    bool ok = false;
    m_port = line.section(QLatin1Char(':'), -1).toUShort(&ok);
    if (!ok) {
        m_error = QStringLiteral("no port in: ") + line;
        return false;
    }
    return true;
}

void RelayProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(m_process.processId()), SIGCONT);
    m_process.terminate();
    if (!m_process.waitForFinished(waitMs(10000))) {
        m_process.kill();
        m_process.waitForFinished(waitMs(5000));
    }
}

void RelayProcess::pause()
{
    if (m_process.state() == QProcess::Running)
        ::kill(static_cast<pid_t>(m_process.processId()), SIGSTOP);
}

void RelayProcess::resume()
{
    if (m_process.state() == QProcess::Running)
        ::kill(static_cast<pid_t>(m_process.processId()), SIGCONT);
}

QUrl RelayProcess::url(bool tls) const
{
    return QUrl(
        QStringLiteral("%1://127.0.0.1:%2").arg(tls ? QStringLiteral("wss") : QStringLiteral("ws")).arg(m_port));
}

} // namespace Wardlamp::Test
