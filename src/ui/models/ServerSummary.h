#pragma once

#include "ui/logic/TrayIconChoice.h"

#include <QObject>

namespace Wardlamp {

class ServerManager;

// What the tray icon and the panel's header show about all servers at once:
// how many run, whether any reports an error, and so which tray icon applies.
// changed() is emitted only when one of these changes, so a stream of log
// lines costs the views nothing.
//
// Main thread; the manager must outlive it.
class ServerSummary : public QObject {
    Q_OBJECT

public:
    explicit ServerSummary(ServerManager& manager, QObject* parent = nullptr);

    int runningCount() const { return m_runningCount; }
    bool anyError() const { return m_anyError; }
    bool anyRunning() const { return m_runningCount > 0; }
    TrayIconKind iconKind() const { return TrayIconChoice::choose(m_anyError, anyRunning()); }

Q_SIGNALS:
    void changed();

private:
    void recount();

    ServerManager& m_manager;
    int m_runningCount = 0;
    bool m_anyError = false;
};

} // namespace Wardlamp
