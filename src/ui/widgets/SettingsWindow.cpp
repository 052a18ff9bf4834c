#include "SettingsWindow.h"

#include "ui/models/AppModels.h"
#include "ui/widgets/SettingsView.h"
#include "ui/widgets/WindowFacts.h"

#include <QVBoxLayout>

namespace Wardlamp {

using namespace Qt::StringLiterals;

SettingsWindow::SettingsWindow(const AppModels& models, QWidget* parent)
    : QWidget(parent)
{
    const WindowFacts facts = WindowFacts::of(WindowId::settings);
    setObjectName(facts.id);
    setWindowTitle(facts.title);
    setAccessibleName(facts.title);
    resize(facts.defaultSize);

    setMinimumSize(minimumSize);

    m_view = new SettingsView(models, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

} // namespace Wardlamp
