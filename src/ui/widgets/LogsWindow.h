#pragma once

#include <QSize>
#include <QWidget>

namespace Wardlamp {

class LogsView;
struct AppModels;

// The "Server Logs" window (id "logs"): the captured output of each server
// (LogsView). AppWindows creates it on request, one at a time, and deletes it
// when it closes (reopening starts afresh: no selection, auto-scroll on).
class LogsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize minimumSize { 680, 420 };

    explicit LogsWindow(const AppModels& models, QWidget* parent = nullptr);

    LogsView* view() const { return m_view; }

private:
    LogsView* m_view;
};

} // namespace Wardlamp
