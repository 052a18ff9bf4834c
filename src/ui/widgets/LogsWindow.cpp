#include "LogsWindow.h"

#include "ui/models/AppModels.h"
#include "ui/widgets/LogsView.h"
#include "ui/widgets/WindowFacts.h"

#include <QVBoxLayout>

namespace Wardlamp {

using namespace Qt::StringLiterals;

LogsWindow::LogsWindow(const AppModels& models, QWidget* parent)
    : QWidget(parent)
{
    const WindowFacts facts = WindowFacts::of(WindowId::logs);
    setObjectName(facts.id);
    setWindowTitle(facts.title);
    setAccessibleName(facts.title);
    setMinimumSize(minimumSize);
    resize(facts.defaultSize);

    m_view = new LogsView(models.servers, models.store, models.manager, models.commands, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

} // namespace Wardlamp
