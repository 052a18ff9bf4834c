#pragma once

#include "supervision/ServerConfig.h"
#include "supervision/ServerStatus.h"

#include <QAbstractListModel>
#include <QList>
#include <QUuid>

namespace Wardlamp {

class ServerManager;
class ServerStore;

// The configured servers in store order, each with its runtime status, as a
// list model for every view that lists servers (the panel, the tray menu, the
// log window's and settings window's sidebars).
//
// It follows the store with targeted row changes (a rename is one
// dataChanged, an addition one insert; selections survive), and the manager
// with a dataChanged of one row, only when something the model exposes
// changed: a batch of log lines that leaves status and error flag alone
// costs one hash lookup and no signal.
//
// Main thread. The store and the manager must outlive the model.
class ServerListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        IdRole = Qt::UserRole + 1, // QUuid
        NameRole, // QString, as stored
        CommandRole, // QString
        TitleRole, // QString: the name, or the command when the name is empty (also Qt::DisplayRole)
        StatusRole, // ServerStatus as int
        HasErrorRole, // bool
        TunnelUrlRole, // QUrl, invalid without a usable tunnel host
    };
    Q_ENUM(Role)

    ServerListModel(ServerStore& store, ServerManager& manager, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Row access for views; `row` must be valid.
    const ServerConfig& serverAt(int row) const { return m_rows.at(row).config; }
    ServerStatus statusAt(int row) const { return m_rows.at(row).status; }
    bool hasErrorAt(int row) const { return m_rows.at(row).hasError; }
    // The first row of the id, or -1.
    int rowOf(const QUuid& id) const;

private:
    struct Row {
        ServerConfig config;
        ServerStatus status = ServerStatus::stopped;
        bool hasError = false;
    };

    Row rowFor(const ServerConfig& config) const;
    void handleServersChanged();
    void handleStateChanged(const QUuid& id);

    ServerStore& m_store;
    ServerManager& m_manager;
    QList<Row> m_rows;
};

} // namespace Wardlamp
