#include "RunEndingText.h"

#include "supervision/PreviousRun.h"
#include "ui/logic/LogText.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

QString RunEndingText::how(const PreviousRun& run)
{
    if (!run.ending)
        return u"ended before it had a process"_s;
    const RunEnding& ending = *run.ending;
    if (ending.cause == RunEnding::Cause::replaced)
        return u"replaced by a new start"_s;
    if (ending.requested)
        return u"stopped"_s;
    if (ending.cause == RunEnding::Cause::signalled)
        return u"killed by signal %1"_s.arg(ending.code);
    return u"exited with code %1"_s.arg(ending.code);
}

QString RunEndingText::describe(const PreviousRun& run)
{
    if (run.ending && run.ending->at.isValid())
        return u"Ended "_s + LogText::time(run.ending->at.toMSecsSinceEpoch()) + u" · "_s + how(run);
    return how(run).replace(0, 1, how(run).at(0).toUpper());
}

} // namespace Wardlamp
