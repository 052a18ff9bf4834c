#pragma once

#include "ui/models/AppModels.h"
#include "ui/widgets/WindowFacts.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace Wardlamp {

// The app's windows besides the panel: at most one of each. open() creates
// the window the first time (and again after it was closed: a closed window
// is deleted, so it starts afresh) and otherwise brings the existing one
// forward and gives it the keyboard focus. Closing a window never quits the
// app. Windows appear in the task bar while they are open.
//
// Main thread; the models outlive it.
class AppWindows : public QObject {
    Q_OBJECT

public:
    explicit AppWindows(const AppModels& models, QObject* parent = nullptr);
    ~AppWindows() override;

    QWidget* open(WindowId window);
    // The open window of the id, or null.
    QWidget* window(WindowId window) const;
    void closeAll();

    // Builds a window's content: the place where each window's view is made.
    static QWidget* create(WindowId window, const AppModels& models);

private:
    QPointer<QWidget>& slot(WindowId window);

    AppModels m_models;
    QPointer<QWidget> m_logs;
    QPointer<QWidget> m_settings;
};

} // namespace Wardlamp
