#pragma once

#include <QObject>
#include <QUuid>

#include <optional>

namespace Wardlamp {

class ServerManager;
class ServerStore;

// What the settings window's sidebar has chosen: a server by id, General or
// Remote.
struct SettingsSelection {
    enum class Kind { server, general, remote };

    Kind kind = Kind::general;
    QUuid id; // only for `server`

    static SettingsSelection general() { return { Kind::general, {} }; }
    static SettingsSelection remote() { return { Kind::remote, {} }; }
    static SettingsSelection server(const QUuid& id) { return { Kind::server, id }; }

    friend bool operator==(const SettingsSelection&, const SettingsSelection&) = default;
};

// The settings window's state and its sidebar commands: the selection, what
// the detail area shows for it, and the add, remove and delete actions.
//
// A selected server that leaves the store stays selected: the detail area
// then shows "Select a server" until the user chooses another row.
//
// Main thread; the store and the manager must outlive it.
class SettingsWindowModel : public QObject {
    Q_OBJECT

public:
    enum class Detail { general, remote, editor, noServer };

    SettingsWindowModel(ServerStore& store, ServerManager& manager, QObject* parent = nullptr);

    // Each opening of the window starts on General.
    SettingsSelection selection() const { return m_selection; }
    void select(const SettingsSelection& selection);
    Detail detail() const;
    // The "−" button: only while a server is selected.
    bool canRemove() const { return m_selection.kind == SettingsSelection::Kind::server; }

    // Appends "New Server" (a fresh id, nothing else set) and selects it.
    QUuid addServer();
    // The "−" button: stops the selected server when it runs, removes it and
    // selects General. Nothing without a selected server that exists.
    void removeSelected();
    // The editor's Delete: stops the server when it runs and removes it; the
    // selection stays.
    void deleteServer(const QUuid& id);

Q_SIGNALS:
    void selectionChanged();
    // What the detail area shows changed without a new selection (the
    // selected server was removed or came back).
    void detailChanged();

private:
    void stopIfRunning(const QUuid& id);
    void handleServerListChange(const QUuid& id);

    ServerStore& m_store;
    ServerManager& m_manager;
    SettingsSelection m_selection;
};

} // namespace Wardlamp
