#include "AppWindows.h"

#include "ui/widgets/LogsWindow.h"
#include "ui/widgets/SettingsWindow.h"

#include <QWindow>

namespace Wardlamp {

AppWindows::AppWindows(const AppModels& models, QObject* parent)
    : QObject(parent)
    , m_models(models)
{
}

AppWindows::~AppWindows()
{
    delete m_logs;
    delete m_settings;
}

QWidget* AppWindows::create(WindowId window, const AppModels& models)
{
    switch (window) {
    case WindowId::logs:
        return new LogsWindow(models);
    case WindowId::settings:
        break;
    }
    return new SettingsWindow(models);
}

QPointer<QWidget>& AppWindows::slot(WindowId window)
{
    return window == WindowId::logs ? m_logs : m_settings;
}

QWidget* AppWindows::window(WindowId window) const
{
    return window == WindowId::logs ? m_logs.data() : m_settings.data();
}

QWidget* AppWindows::open(WindowId window)
{
    QPointer<QWidget>& target = slot(window);
    if (!target) {
        target = create(window, m_models);
        target->setAttribute(Qt::WA_DeleteOnClose);
    }
    if (target->isMinimized())
        target->showNormal();
    else
        target->show();
    target->raise();
    target->activateWindow();
    if (QWindow* handle = target->windowHandle())
        handle->requestActivate();
    return target;
}

void AppWindows::closeAll()
{
    if (m_logs)
        m_logs->close();
    if (m_settings)
        m_settings->close();
}

} // namespace Wardlamp
