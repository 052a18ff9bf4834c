#pragma once

#include <QSortFilterProxyModel>

namespace Wardlamp {

class LogModel;

// The lines of a LogModel the log view shows: all of them, or the error lines
// alone ("Errors only"). Order and roles are the source's.
//
// Main thread; the source outlives it.
class LogFilterModel : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit LogFilterModel(LogModel& source, QObject* parent = nullptr);

    LogModel& logModel() const { return m_source; }
    bool errorsOnly() const { return m_errorsOnly; }
    void setErrorsOnly(bool errorsOnly);
    // The source row of a row of this model.
    int sourceRow(int row) const { return mapToSource(index(row, 0)).row(); }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    LogModel& m_source;
    bool m_errorsOnly = false;
};

} // namespace Wardlamp
