#pragma once

#include <QAbstractListModel>
#include <QByteArrayView>
#include <QUuid>

namespace Wardlamp {

class LogRing;
class ServerManager;

// One server's log as a list model, a row per line, oldest first, read
// straight from the manager's LogRing (nothing is copied). It follows the
// manager batch by batch: linesAppended() becomes one removal of the lines
// the cap evicted at the front and one insertion at the end, logCleared() a
// reset; so a stream of output costs a view two row signals per batch, never
// one per line, and never a reset.
//
// It shows the current run, or the previous run (the log a start replaced,
// kept by the manager with how that run ended), which changes only when a
// start replaces it (a reset).
//
// linesChanged() says that lines came, went or were cleared (not when the
// model is pointed at another server or run): the moment auto-scroll acts on.
//
// Main thread; the manager outlives the model.
class LogModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum class Run { current, previous };
    Q_ENUM(Run)

    enum Role {
        SeqRole = Qt::UserRole + 1, // quint64: the line's sequence number
        MsecsRole, // qint64: ms since 1970
        TimeRole, // QString "HH:mm:ss" (local time)
        TextRole, // QString: the text as shown, without control sequences (also Qt::DisplayRole)
        RawTextRole, // QByteArray: the text as captured (UTF-8, with its escape sequences)
        IsErrorRole, // bool
    };
    Q_ENUM(Role)

    explicit LogModel(ServerManager& manager, QObject* parent = nullptr);

    // Shows another server or run (a reset); a null id shows nothing.
    void setServer(const QUuid& id, Run run = Run::current);
    QUuid serverId() const { return m_id; }
    Run run() const { return m_run; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Row access for views, without QVariant; `row` must be valid. textAt()
    // is valid until the log next changes. Rows the cap has evicted and that
    // are being removed read as empty.
    quint64 seqAt(int row) const;
    qint64 msecsAt(int row) const;
    bool isErrorAt(int row) const;
    QByteArrayView textAt(int row) const;
    // The row of the line with this sequence number, or -1.
    int rowOfSeq(quint64 seq) const;

Q_SIGNALS:
    void linesChanged();

private:
    const LogRing* ring() const;
    int ringIndex(int row) const;
    void handleLinesAppended(const QUuid& id, quint64 firstSeq, int count);
    void handleLogCleared(const QUuid& id);
    void handlePreviousRunChanged(const QUuid& id);
    void resetToRing();

    ServerManager& m_manager;
    QUuid m_id;
    Run m_run = Run::current;
    // The rows are the lines m_firstSeq .. m_firstSeq + m_count - 1 of the ring.
    quint64 m_firstSeq = 0;
    int m_count = 0;
};

} // namespace Wardlamp
