#include "PanelLayout.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

PanelLayout::ListForm PanelLayout::listForm(qsizetype serverCount)
{
    if (serverCount <= 0)
        return ListForm::empty;
    return serverCount <= maxNaturalRows ? ListForm::natural : ListForm::scrolling;
}

QString PanelLayout::runningHeader(int runningCount)
{
    return runningCount >= 1 ? QString::number(runningCount) + u" running"_s : QString();
}

} // namespace Wardlamp
