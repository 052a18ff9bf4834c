#include "UiFixture.h"

#include "supervision/ShellCommand.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QTest>

#include <csignal>

namespace Wardlamp::Test {

using namespace Qt::StringLiterals;

QString childCommand(const QStringList& steps)
{
    QStringList words { ShellCommand::quoted(program(u"wl-test-child"_s)) };
    for (const QString& step : steps)
        words.append(ShellCommand::quoted(step));
    return words.join(u' ');
}

bool processGone(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return true;
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray data = stat.readAll();
    const qsizetype close = data.lastIndexOf(')');
    return close > 0 && data.size() > close + 2 && data[close + 2] == 'Z';
}

ServerConfig serverRecord(const QString& name, const QString& command, bool autostart)
{
    ServerConfig config;
    config.id = QUuid::createUuid();
    config.name = name;
    config.command = command;
    config.autostart = autostart;
    return config;
}

UiFixture::UiFixture(const TestEnvironment& environment)
{
    static int counter = 0;
    m_settings = std::make_unique<QSettings>(environment.path(u"ui-%1.conf"_s.arg(++counter)), QSettings::IniFormat);
    QProcessEnvironment processEnvironment;
    m_store = std::make_unique<ServerStore>(*m_settings, processEnvironment);
    ServerManager::Options options;
    options.loginShell = u"/bin/sh"_s;
    options.alertService = &m_alerts;
    m_manager = std::make_unique<ServerManager>(options);
}

UiFixture::~UiFixture()
{
    m_manager.reset();
    m_store.reset();
}

ServerConfig UiFixture::addHolding(const QString& name)
{
    return addChild(name, { u"out:ready"_s, u"hold"_s });
}

ServerConfig UiFixture::addChild(const QString& name, const QStringList& steps)
{
    const ServerConfig config = serverRecord(name, childCommand(steps));
    m_store->add(config);
    return config;
}

bool UiFixture::waitForStatus(const QUuid& id, ServerStatus status, int baseMs)
{
    QDeadlineTimer deadline(waitMs(baseMs));
    while (m_manager->state(id).status != status) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

} // namespace Wardlamp::Test
