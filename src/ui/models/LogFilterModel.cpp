#include "LogFilterModel.h"

#include "LogModel.h"

namespace Wardlamp {

LogFilterModel::LogFilterModel(LogModel& source, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_source(source)
{
    setSourceModel(&m_source);
}

void LogFilterModel::setErrorsOnly(bool errorsOnly)
{
    if (errorsOnly == m_errorsOnly)
        return;
    m_errorsOnly = errorsOnly;
    invalidateRowsFilter();
}

bool LogFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (!m_errorsOnly || sourceParent.isValid())
        return true;
    return m_source.isErrorAt(sourceRow);
}

} // namespace Wardlamp
