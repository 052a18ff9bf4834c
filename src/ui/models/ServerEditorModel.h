#pragma once

#include "supervision/ServerConfig.h"

#include <QObject>
#include <QUuid>

namespace Wardlamp {

class ServerManager;
class ServerStore;

// One server's editor: each setter writes the record straight into the store
// (which saves at once); there is no Save or Cancel. The values are read from
// the store every time, so the editor shows what others change too. A running
// server keeps its process when its command or directory changes; the new
// values apply at its next start.
//
// Main thread; the store and the manager must outlive it.
class ServerEditorModel : public QObject {
    Q_OBJECT

public:
    ServerEditorModel(const QUuid& id, ServerStore& store, ServerManager& manager, QObject* parent = nullptr);

    QUuid id() const { return m_id; }
    bool exists() const;
    // The stored record, or an empty one with this id once it is gone.
    ServerConfig server() const;
    // The name, or "Untitled" when it is empty.
    QString title() const;
    bool isRunning() const;
    // The directory field: the stored directory, or the empty string.
    QString directoryText() const;

    void setName(const QString& name);
    void setCommand(const QString& command);
    // The empty string stores no directory; anything else is stored as typed.
    void setDirectoryText(const QString& text);
    void setAutostart(bool on);
    void setRestartOnCrash(bool on);
    // Stops a running server, starts any other, reading the state now.
    void toggleRunning();

Q_SIGNALS:
    // The stored record changed (also by someone else).
    void serverChanged();
    // The runtime status changed.
    void statusChanged();
    void removed();

private:
    template <typename Change> void write(Change change);

    const QUuid m_id;
    ServerStore& m_store;
    ServerManager& m_manager;
};

} // namespace Wardlamp
