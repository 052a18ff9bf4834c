#pragma once

#include <QSize>
#include <QWidget>

namespace Wardlamp {

class SettingsView;
struct AppModels;

// The "Wardlamp Settings" window (id "settings"): the servers, launch at login, alerts and remote access.
// AppWindows creates it on request, one at a time, and deletes it when it
// closes (reopening starts afresh, on General).
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize minimumSize { 660, 460 };

    explicit SettingsWindow(const AppModels& models, QWidget* parent = nullptr);

    SettingsView* view() const { return m_view; }

private:
    SettingsView* m_view;
};

} // namespace Wardlamp
