#include "ServerListModel.h"

#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"

#include <algorithm>

namespace Wardlamp {

using namespace Qt::StringLiterals;

ServerListModel::ServerListModel(ServerStore& store, ServerManager& manager, QObject* parent)
    : QAbstractListModel(parent)
    , m_store(store)
    , m_manager(manager)
{
    for (const ServerConfig& config : m_store.servers())
        m_rows.append(rowFor(config));
    connect(&m_store, &ServerStore::serversChanged, this, &ServerListModel::handleServersChanged);
    connect(&m_manager, &ServerManager::stateChanged, this, &ServerListModel::handleStateChanged);
}

ServerListModel::Row ServerListModel::rowFor(const ServerConfig& config) const
{
    const ServerRuntimeState& state = m_manager.state(config.id);
    return Row { config, state.status, state.hasError };
}

int ServerListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ServerListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const Row& row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case TitleRole:
        return row.config.name.isEmpty() ? row.config.command : row.config.name;
    case IdRole:
        return row.config.id;
    case NameRole:
        return row.config.name;
    case CommandRole:
        return row.config.command;
    case StatusRole:
        return int(row.status);
    case HasErrorRole:
        return row.hasError;
    case TunnelUrlRole:
        return row.config.tunnelURL().value_or(QUrl());
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> ServerListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(IdRole, "id");
    names.insert(NameRole, "name");
    names.insert(CommandRole, "command");
    names.insert(TitleRole, "title");
    names.insert(StatusRole, "status");
    names.insert(HasErrorRole, "hasError");
    names.insert(TunnelUrlRole, "tunnelUrl");
    return names;
}

int ServerListModel::rowOf(const QUuid& id) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).config.id == id)
            return row;
    }
    return -1;
}

void ServerListModel::handleServersChanged()
{
    const QList<ServerConfig>& servers = m_store.servers();

    // 1. Rows whose id is gone, from the end so the row numbers stay right.
    for (int row = int(m_rows.size()) - 1; row >= 0; --row) {
        const QUuid id = m_rows.at(row).config.id;
        const bool kept = std::any_of(
            servers.cbegin(), servers.cend(), [&id](const ServerConfig& server) { return server.id == id; });
        if (kept)
            continue;
        int first = row;
        while (first > 0) {
            const QUuid before = m_rows.at(first - 1).config.id;
            if (std::any_of(servers.cbegin(), servers.cend(),
                    [&before](const ServerConfig& server) { return server.id == before; }))
                break;
            --first;
        }
        beginRemoveRows(QModelIndex(), first, row);
        m_rows.remove(first, row - first + 1);
        endRemoveRows();
        row = first;
    }

    // 2. Walk the new order: keep, move up, or insert; then changed contents.
    for (int target = 0; target < servers.size(); ++target) {
        const ServerConfig& server = servers.at(target);
        if (target < m_rows.size() && m_rows.at(target).config.id == server.id) {
            if (!(m_rows.at(target).config == server)) {
                m_rows[target].config = server;
                const QModelIndex changed = index(target);
                Q_EMIT dataChanged(
                    changed, changed, { Qt::DisplayRole, TitleRole, NameRole, CommandRole, TunnelUrlRole });
            }
            continue;
        }
        int found = -1;
        for (int row = target + 1; row < m_rows.size(); ++row) {
            if (m_rows.at(row).config.id == server.id) {
                found = row;
                break;
            }
        }
        if (found >= 0) {
            beginMoveRows(QModelIndex(), found, found, QModelIndex(), target);
            m_rows.move(found, target);
            endMoveRows();
            --target; // compare its contents on the next turn
            continue;
        }
        beginInsertRows(QModelIndex(), target, target);
        m_rows.insert(target, rowFor(server));
        endInsertRows();
    }

    // 3. Extra copies of an id the store now holds fewer times.
    if (m_rows.size() > servers.size()) {
        beginRemoveRows(QModelIndex(), int(servers.size()), int(m_rows.size()) - 1);
        m_rows.resize(servers.size());
        endRemoveRows();
    }
}

void ServerListModel::handleStateChanged(const QUuid& id)
{
    const ServerRuntimeState& state = m_manager.state(id);
    for (int row = 0; row < m_rows.size(); ++row) {
        Row& entry = m_rows[row];
        if (entry.config.id != id)
            continue;
        if (entry.status == state.status && entry.hasError == state.hasError)
            continue;
        entry.status = state.status;
        entry.hasError = state.hasError;
        const QModelIndex changed = index(row);
        Q_EMIT dataChanged(changed, changed, { StatusRole, HasErrorRole });
    }
}

} // namespace Wardlamp
