#include "RelayProcess.h"

#include "TestEnvironment.h"

#include <QDeadlineTimer>
#include <QThread>

#include <csignal>
#include <sys/types.h>

namespace Wardlamp::Test {

using namespace Qt::StringLiterals;

RelayProcess::~RelayProcess()
{
    stop();
}

bool RelayProcess::start(quint16 port, const QStringList& extraArguments)
{
    m_arguments = extraArguments;
    const quint16 wanted = port != 0 ? port : m_port;
    // A port asked for again may still be held for a moment by the previous run.
    for (int attempt = 0; attempt < (wanted != 0 ? 5 : 1); ++attempt) {
        if (startOnce(wanted))
            return true;
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(waitMs(5000));
        }
        QThread::msleep(200);
    }
    return false;
}

bool RelayProcess::restart()
{
    stop();
    return start(m_port, m_arguments);
}

bool RelayProcess::startOnce(quint16 port)
{
    m_error.clear();
    m_process.setProgram(program(u"wardlamp-relay"_s));
    m_process.setArguments(QStringList { u"--listen"_s, u"127.0.0.1:%1"_s.arg(port) } + m_arguments);
    // Nobody reads its log: a full pipe would stall the relay.
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start();
    if (!m_process.waitForStarted(waitMs(10000))) {
        m_error = m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(waitMs(10000));
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || m_process.state() != QProcess::Running) {
            m_error = u"no \"listening on\" line"_s;
            return false;
        }
        m_process.waitForReadyRead(100);
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    const QString prefix = u"listening on "_s;
    if (!line.startsWith(prefix)) {
        m_error = u"unexpected first line: "_s + line;
        return false;
    }
    bool ok = false;
    const quint16 bound = line.section(QLatin1Char(':'), -1).toUShort(&ok);
    if (!ok) {
        m_error = u"no port in: "_s + line;
        return false;
    }
    m_port = bound;
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

void RelayProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(waitMs(5000));
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
    return QUrl(u"%1://127.0.0.1:%2"_s.arg(tls ? u"wss"_s : u"ws"_s).arg(m_port));
}

} // namespace Wardlamp::Test
