#include "RemoteVerbs.h"

#include "agent/PairingStore.h"
#include "control/ControlCall.h"
#include "control/ControlVerbs.h"
#include "daemon/DaemonOptions.h"
#include "daemon/DaemonPluginApi.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"

#include <QJsonArray>
#include <QSettings>
#include <QSysInfo>

namespace Wardlamp {

using namespace Qt::StringLiterals;

RemoteVerbs::RemoteVerbs(ControlVerbs& verbs, QSettings& settings, QProcessEnvironment environment, bool sessionBus,
    Say say, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_environment(std::move(environment))
    , m_sessionBus(sessionBus)
    , m_say(std::move(say))
{
    for (const QString& verb : { u"pair"_s, u"remote"_s })
        verbs.add(verb, [this](ControlCall& call) { call.reply(run(call.args()).toJson()); });
}

RemoteVerbs::~RemoteVerbs() = default;

std::optional<QString> RemoteVerbs::loadPlugin()
{
    if (m_plugin)
        return std::nullopt;
    Expected<DaemonPlugin, QString> plugin = DaemonPlugin::load(DaemonPlugin::remote);
    if (!plugin)
        return plugin.error();
    m_plugin = std::move(*plugin);
    return std::nullopt;
}

void RemoteVerbs::start(ServerStore& store, ServerManager& manager)
{
    m_store = &store;
    m_manager = &manager;
    if (!m_plugin || m_access)
        return;
    m_access = m_plugin->api().createRemoteAccess(m_settings, m_environment, m_sessionBus, m_say);
    m_access->start(store, manager);
}

QString RemoteVerbs::computerName() const
{
    if (m_access)
        return m_access->computerName();
    const QVariant name = m_settings.value(PairingStore::macNameKey);
    return name.isValid() ? name.toString() : QSysInfo::machineHostName();
}

RemoteReply RemoteVerbs::run(const QJsonObject& args)
{
    if (!m_access) {
        if (const auto problem = loadPlugin())
            return { DaemonExit::missingPlugin, {}, { u"remote access is not available: "_s + *problem } };
        if (!m_store || !m_manager)
            return { DaemonExit::unreachable, {}, { u"remote access is not ready yet; try again"_s } };
        start(*m_store, *m_manager);
    }
    const RemoteRequest request = RemoteRequest::fromJson(args);
    return m_access->runCommand(request.words, request.inputs);
}

RemoteReply RemoteVerbs::runLocally(const QStringList& words, const RemoteInputs& inputs, QSettings& settings,
    const QProcessEnvironment& environment, bool sessionBus)
{
    const Expected<DaemonPlugin, QString> plugin = DaemonPlugin::load(DaemonPlugin::remote);
    if (!plugin)
        return { DaemonExit::missingPlugin, {}, { u"remote access is not available: "_s + plugin.error() } };
    return plugin->api().runRemoteCommand(words, inputs, settings, environment, sessionBus);
}

} // namespace Wardlamp
