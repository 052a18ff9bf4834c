#pragma once

#include <QWidget>

namespace Wardlamp {

class AppSettings;
class LoginItemManager;
class ToggleSwitch;

// The settings window's General pane: launch at login, alerts, About. The
// login switch only asks LoginItemManager for a change and then shows what it
// reads back, so it shows the real state also after a failure; each showing
// of the pane reads the entry again.
class GeneralSettingsPane : public QWidget {
    Q_OBJECT

public:
    GeneralSettingsPane(LoginItemManager& loginItem, AppSettings& settings, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    LoginItemManager& m_loginItem;
    ToggleSwitch* m_login = nullptr;
    ToggleSwitch* m_alerts = nullptr;
};

} // namespace Wardlamp
