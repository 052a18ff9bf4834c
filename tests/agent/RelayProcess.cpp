#include "RelayProcess.h"

#include "TestEnvironment.h"

#include <QDeadlineTimer>
#include <QDebug>

namespace Wardlamp::Test {

using namespace Qt::StringLiterals;

RelayProcess::RelayProcess() = default;

RelayProcess::~RelayProcess()
{
    stop();
}

QUrl RelayProcess::url() const
{
    return QUrl(u"ws://127.0.0.1:%1"_s.arg(m_port));
}

bool RelayProcess::start()
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (m_port == 0)
            m_port = freeTcpPort();
        m_process.setProgram(program(u"wardlamp-relay"_s));
        m_process.setArguments({ u"--listen"_s, u"127.0.0.1:%1"_s.arg(m_port) });
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
        if (!m_process.waitForStarted(waitMs(10000)))
            return false;
        QByteArray out;
        const QDeadlineTimer deadline(waitMs(10000));
        while (!out.contains("listening on") && m_process.state() == QProcess::Running && !deadline.hasExpired()) {
            m_process.waitForReadyRead(100);
            out += m_process.readAllStandardOutput();
        }
        if (out.contains("listening on"))
            return true;
        qWarning() << "relay did not start:" << out << m_process.readAllStandardError();
        m_process.kill();
        m_process.waitForFinished(waitMs(5000));
        // The port was probably taken between our probe and the relay's bind.
        QDeadlineTimer pause(200);
        while (!pause.hasExpired()) { }
    }
    return false;
}

void RelayProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(waitMs(10000))) {
        m_process.kill();
        m_process.waitForFinished(waitMs(5000));
    }
}

} // namespace Wardlamp::Test
