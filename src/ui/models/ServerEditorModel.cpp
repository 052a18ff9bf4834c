#include "ServerEditorModel.h"

#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "ui/logic/SettingsText.h"

namespace Wardlamp {

ServerEditorModel::ServerEditorModel(const QUuid& id, ServerStore& store, ServerManager& manager, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_store(store)
    , m_manager(manager)
{
    connect(&m_store, &ServerStore::updated, this, [this](const QUuid& changed) {
        if (changed == m_id)
            Q_EMIT serverChanged();
    });
    connect(&m_store, &ServerStore::removed, this, [this](const QUuid& gone) {
        if (gone == m_id)
            Q_EMIT removed();
    });
    connect(&m_manager, &ServerManager::stateChanged, this, [this](const QUuid& changed) {
        if (changed == m_id)
            Q_EMIT statusChanged();
    });
}

bool ServerEditorModel::exists() const
{
    return m_store.server(m_id).has_value();
}

ServerConfig ServerEditorModel::server() const
{
    if (std::optional<ServerConfig> stored = m_store.server(m_id))
        return *stored;
    ServerConfig empty;
    empty.id = m_id;
    return empty;
}

QString ServerEditorModel::title() const
{
    return SettingsText::serverTitle(server().name);
}

bool ServerEditorModel::isRunning() const
{
    return m_manager.state(m_id).status == ServerStatus::running;
}

QString ServerEditorModel::directoryText() const
{
    return server().directory.value_or(QString());
}

template <typename Change> void ServerEditorModel::write(Change change)
{
    std::optional<ServerConfig> stored = m_store.server(m_id);
    if (!stored)
        return;
    ServerConfig changed = *stored;
    change(changed);
    if (changed.toJson() != stored->toJson())
        m_store.update(changed);
}

void ServerEditorModel::setName(const QString& name)
{
    write([&](ServerConfig& server) { server.name = name; });
}

void ServerEditorModel::setCommand(const QString& command)
{
    write([&](ServerConfig& server) { server.command = command; });
}

void ServerEditorModel::setDirectoryText(const QString& text)
{
    write(
        [&](ServerConfig& server) { server.directory = text.isEmpty() ? std::nullopt : std::optional<QString>(text); });
}

void ServerEditorModel::setAutostart(bool on)
{
    write([&](ServerConfig& server) { server.autostart = on; });
}

void ServerEditorModel::setRestartOnCrash(bool on)
{
    write([&](ServerConfig& server) { server.restartOnCrash = on; });
}

void ServerEditorModel::toggleRunning()
{
    const std::optional<ServerConfig> stored = m_store.server(m_id);
    if (!stored)
        return;
    if (isRunning())
        m_manager.stop(*stored);
    else
        m_manager.start(*stored);
}

} // namespace Wardlamp
