#include "LogModel.h"

#include "supervision/LogRing.h"
#include "supervision/ServerManager.h"
#include "ui/logic/AnsiText.h"
#include "ui/logic/LogText.h"

namespace Wardlamp {

LogModel::LogModel(ServerManager& manager, QObject* parent)
    : QAbstractListModel(parent)
    , m_manager(manager)
{
    connect(&m_manager, &ServerManager::linesAppended, this, &LogModel::handleLinesAppended);
    connect(&m_manager, &ServerManager::logCleared, this, &LogModel::handleLogCleared);
    connect(&m_manager, &ServerManager::previousRunChanged, this, &LogModel::handlePreviousRunChanged);
}

void LogModel::setServer(const QUuid& id, Run run)
{
    beginResetModel();
    m_id = id;
    m_run = run;
    const LogRing* log = ring();
    m_count = log ? log->size() : 0;
    m_firstSeq = m_count > 0 ? log->firstSeq() : 0;
    endResetModel();
}

const LogRing* LogModel::ring() const
{
    if (m_id.isNull())
        return nullptr;
    switch (m_run) {
    case Run::current:
        return &m_manager.state(m_id).logs;
    case Run::previous:
        if (const PreviousRun* previous = m_manager.previousRun(m_id))
            return &previous->logs;
        break;
    }
    return nullptr;
}

int LogModel::ringIndex(int row) const
{
    // While rows the cap evicted are being removed, the log no longer holds them.
    const LogRing* log = ring();
    const quint64 seq = m_firstSeq + quint64(row);
    if (!log || log->isEmpty() || seq < log->firstSeq() || seq > log->lastSeq())
        return -1;
    return int(seq - log->firstSeq());
}

int LogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_count;
}

quint64 LogModel::seqAt(int row) const
{
    return m_firstSeq + quint64(row);
}

qint64 LogModel::msecsAt(int row) const
{
    const int index = ringIndex(row);
    return index < 0 ? 0 : ring()->msecsAt(index);
}

bool LogModel::isErrorAt(int row) const
{
    const int index = ringIndex(row);
    return index >= 0 && ring()->isErrorAt(index);
}

QByteArrayView LogModel::textAt(int row) const
{
    const int index = ringIndex(row);
    return index < 0 ? QByteArrayView() : ring()->textAt(index);
}

int LogModel::rowOfSeq(quint64 seq) const
{
    if (m_count == 0 || seq < m_firstSeq || seq >= m_firstSeq + quint64(m_count))
        return -1;
    return int(seq - m_firstSeq);
}

QVariant LogModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole:
    case TextRole:
        return AnsiText::plainText(textAt(row));
    case SeqRole:
        return seqAt(row);
    case MsecsRole:
        return msecsAt(row);
    case TimeRole:
        return LogText::time(msecsAt(row));
    case RawTextRole:
        return textAt(row).toByteArray();
    case IsErrorRole:
        return isErrorAt(row);
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> LogModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(SeqRole, "seq");
    names.insert(MsecsRole, "msecs");
    names.insert(TimeRole, "time");
    names.insert(TextRole, "text");
    names.insert(RawTextRole, "rawText");
    names.insert(IsErrorRole, "isError");
    return names;
}

void LogModel::handleLinesAppended(const QUuid& id, quint64 firstSeq, int count)
{
    if (id != m_id || m_run != Run::current || count <= 0)
        return;
    const LogRing& log = *ring();
    const quint64 lastNew = firstSeq + quint64(count) - 1;
    if (log.isEmpty() || log.lastSeq() != lastNew || (m_count > 0 && firstSeq != m_firstSeq + quint64(m_count))) {
        // Not the continuation of what the rows show: start again from the log.
        resetToRing();
        Q_EMIT linesChanged();
        return;
    }
    // 1. The lines the cap evicted at the front.
    if (m_count > 0 && log.firstSeq() > m_firstSeq) {
        const int evicted = int(std::min<quint64>(quint64(m_count), log.firstSeq() - m_firstSeq));
        beginRemoveRows(QModelIndex(), 0, evicted - 1);
        m_firstSeq += quint64(evicted);
        m_count -= evicted;
        endRemoveRows();
    }
    // 2. The new lines that are still there.
    const quint64 from = std::max(firstSeq, log.firstSeq());
    const int added = int(lastNew - from + 1);
    if (m_count == 0)
        m_firstSeq = from;
    beginInsertRows(QModelIndex(), m_count, m_count + added - 1);
    m_count += added;
    endInsertRows();
    Q_EMIT linesChanged();
}

void LogModel::handleLogCleared(const QUuid& id)
{
    if (id != m_id || m_run != Run::current)
        return;
    // The lines appended after the clear in the same batch follow in linesAppended().
    beginResetModel();
    m_count = 0;
    m_firstSeq = 0;
    endResetModel();
    Q_EMIT linesChanged();
}

void LogModel::handlePreviousRunChanged(const QUuid& id)
{
    if (id != m_id || m_run != Run::previous)
        return;
    resetToRing();
}

void LogModel::resetToRing()
{
    beginResetModel();
    const LogRing* log = ring();
    m_count = log ? log->size() : 0;
    m_firstSeq = m_count > 0 ? log->firstSeq() : 0;
    endResetModel();
}

} // namespace Wardlamp
