#pragma once

#include <QWidget>

namespace Wardlamp {

struct AppModels;

// The "Server Logs" window (id "logs"): the captured output of each server.
// AppWindows creates it on request, one at a time, and deletes it when it
// closes (reopening starts afresh). Its content is built in the constructor
// from the app's models; this is where the LogsView goes.
class LogsWindow : public QWidget {
    Q_OBJECT

public:
    explicit LogsWindow(const AppModels& models, QWidget* parent = nullptr);
};

} // namespace Wardlamp
