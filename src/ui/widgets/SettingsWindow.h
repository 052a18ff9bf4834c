#pragma once

#include <QWidget>

namespace Wardlamp {

struct AppModels;

// The "Wardlamp Settings" window (id "settings"): the servers, launch at login, alerts and remote access.
// AppWindows creates it on request, one at a time, and deletes it when it
// closes (reopening starts afresh). Its content is built in the constructor
// from the app's models; this is where the SettingsView goes.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    explicit SettingsWindow(const AppModels& models, QWidget* parent = nullptr);
};

} // namespace Wardlamp
