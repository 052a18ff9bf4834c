#pragma once

#include "platform/AutostartEntry.h"

#include <QObject>
#include <QString>

class QProcessEnvironment;

namespace Wardlamp {

// Launch at login, as the "Launch Wardlamp at login" switch sees it: our XDG
// autostart entry ($XDG_CONFIG_HOME/autostart/wardlamp.desktop). isEnabled is
// true exactly when that file is ours and the desktop will run it; it is read
// back from the file after every change, so it always shows the truth, also
// after a failure. Nothing else is stored.
//
// setEnabled(true) writes the entry (atomically; the folder is created when
// missing), pointing at the running program; an entry of ours that is switched
// off (Hidden=true, as desktops' own settings mark it) or points at an old path
// is written afresh. setEnabled(false) removes our entry. A file of that name
// that belongs to another program is never replaced or removed. A failure
// writes "Wardlamp: login item toggle failed: " and the reason to standard
// error.
//
// One per app; main thread.
class LoginItemManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY isEnabledChanged)

public:
    static constexpr QLatin1StringView failurePrefix { "Wardlamp: login item toggle failed: " };

    // The entry in this process's XDG configuration folder, launching the
    // running program.
    explicit LoginItemManager(QObject* parent = nullptr);
    LoginItemManager(QString entryPath, QString programPath, QObject* parent = nullptr);

    static QString defaultEntryPath(const QProcessEnvironment& environment, const QString& home);

    bool isEnabled() const { return m_enabled; }
    AutostartEntry::State state() const { return m_state; }
    QString entryPath() const { return m_entryPath; }

    // Reads the entry again.
    void refresh();
    // Changes the registration; false (with the failure line) when the entry
    // could not be written or removed, true otherwise, also when nothing had
    // to change.
    bool setEnabled(bool enabled);

Q_SIGNALS:
    void isEnabledChanged(bool enabled);

private:
    AutostartEntry::State readState() const;
    bool fail(const QString& reason);

    const QString m_entryPath;
    const QString m_programPath;
    AutostartEntry::State m_state = AutostartEntry::State::absent;
    bool m_enabled = false;
};

} // namespace Wardlamp
