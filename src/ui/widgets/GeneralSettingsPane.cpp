#include "GeneralSettingsPane.h"

#include "platform/LoginItemManager.h"
#include "supervision/AppSettings.h"
#include "ui/widgets/SettingsForm.h"
#include "ui/widgets/ToggleSwitch.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace Wardlamp {

using namespace Qt::StringLiterals;

GeneralSettingsPane::GeneralSettingsPane(LoginItemManager& loginItem, AppSettings& settings, QWidget* parent)
    : QWidget(parent)
    , m_loginItem(loginItem)
{
    setObjectName(u"generalPane"_s);
    QVBoxLayout* sections = SettingsForm::makePane(this, u"General"_s);
    QWidget* content = sections->parentWidget();

    auto* startup = new FormSection(u"Startup"_s, content);
    m_login = SettingsForm::addToggleRow(startup->rows(), u"Launch Wardlamp at login"_s,
        u"Starts automatically when you log in or after a restart. Servers marked “Start on launch” will then run "
        "on their own."_s,
        u"loginSwitch"_s);
    m_login->setChecked(loginItem.isEnabled());
    // A click asks for the change; the switch then shows what the entry says.
    connect(m_login, &ToggleSwitch::clicked, this, [this](bool wanted) {
        m_loginItem.setEnabled(wanted);
        m_login->setChecked(m_loginItem.isEnabled());
    });
    connect(&loginItem, &LoginItemManager::isEnabledChanged, m_login, &ToggleSwitch::setChecked);
    sections->addWidget(startup);

    auto* alerts = new FormSection(u"Alerts"_s, content);
    m_alerts = SettingsForm::addToggleRow(alerts->rows(), u"Send alerts to paired devices"_s,
        u"When a server error is detected, a desktop notification is shown and the devices paired for remote "
        "access (the web controller on a phone, wardlamp-remote) are alerted too."_s,
        u"alertsSwitch"_s);
    m_alerts->setChecked(settings.pushEnabled());
    connect(m_alerts, &ToggleSwitch::toggled, &settings, &AppSettings::setPushEnabled);
    connect(&settings, &AppSettings::pushEnabledChanged, m_alerts, &ToggleSwitch::setChecked);
    sections->addWidget(alerts);

    auto* about = new FormSection(u"About"_s, content);
    auto* appRow = new QHBoxLayout;
    auto* appLabel = new QLabel(u"App"_s, about->card());
    auto* appValue = new QLabel(u"Wardlamp"_s, about->card());
    appValue->setObjectName(u"appName"_s);
    appValue->setTextFormat(Qt::PlainText);
    appRow->addWidget(appLabel);
    appRow->addStretch(1);
    appRow->addWidget(appValue);
    about->rows()->addLayout(appRow);
    about->rows()->addWidget(SettingsForm::makeNote(
        u"Runs your local servers and lets you monitor them from your tray and from your other devices."_s,
        about->card()));
    sections->addWidget(about);
    sections->addStretch(1);
}

void GeneralSettingsPane::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_loginItem.refresh();
    m_login->setChecked(m_loginItem.isEnabled());
}

} // namespace Wardlamp
