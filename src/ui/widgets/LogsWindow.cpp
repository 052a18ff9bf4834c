#include "LogsWindow.h"

#include "ui/models/AppModels.h"
#include "ui/widgets/WindowFacts.h"

#include <QLabel>
#include <QVBoxLayout>

namespace Wardlamp {

using namespace Qt::StringLiterals;

LogsWindow::LogsWindow(const AppModels& models, QWidget* parent)
    : QWidget(parent)
{
    Q_UNUSED(models)
    const WindowFacts facts = WindowFacts::of(WindowId::logs);
    setObjectName(facts.id);
    setWindowTitle(facts.title);
    setAccessibleName(facts.title);
    resize(facts.defaultSize);

    // Until the LogsView lands: an empty window of the right title and size.
    auto* layout = new QVBoxLayout(this);
    auto* placeholder = new QLabel(this);
    placeholder->setObjectName(u"placeholder"_s);
    layout->addWidget(placeholder);
}

} // namespace Wardlamp
