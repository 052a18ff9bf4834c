#pragma once

#include "supervision/ServerConfig.h"

#include <QList>
#include <QObject>

class QProcessEnvironment;
class QSettings;

namespace Wardlamp {

// Owns the ordered list of configured servers and keeps it in the settings as
// one opaque JSON blob under "wardlamp.servers", written through on every
// change. When WL_SEED_SERVERS holds a valid list the store is ephemeral: it
// starts from that list and never writes anything.
//
// A stored blob that cannot be decoded is copied under
// "wardlamp.servers.unreadable" when the store loads (so no later save can
// destroy it), one line on standard error says so, and the list starts empty.
// A list typed into the file by hand is read as the text typed (QSettings
// itself would split it at commas and drop its quotes), after the file as it
// was is kept beside it byte for byte (SettingsFileText). Two servers of one
// id: the first is kept, the list as it was is copied as above, and a line
// says so.
//
// Observers hear of every change twice over: per server (added, removed,
// updated, and reordered for the order), then once coarsely (serversChanged).
// A change that leaves the list as it was (an update to an equal record, the
// removal of an unknown id) is still saved but announces nothing. Within one
// change the signals come in this order, each after servers() already shows
// the whole change:
//   1. removed(id) for every id no record carries any more, in the old order;
//   2. reordered() when the records that stayed changed their relative order;
//   3. updated(id) for every id whose records differ, in the new order;
//   4. added(id) for every id no record carried before, in the new order;
//   5. serversChanged().
// So a list model that mirrors the ids removes the row of each removed id,
// re-reads the order on reordered(), refreshes on updated(), and inserts each
// added id at its index in servers(): in that order every index is valid.
// Signals speak of ids, not rows: an id that two records share (the store does
// not refuse it, and a hand-written list can hold it) is removed once, and a
// second record joining an id already listed counts as an update of that id.
//
// Main thread only. The settings object must outlive the store.
class ServerStore : public QObject {
    Q_OBJECT

public:
    static constexpr QLatin1StringView settingsKey { "wardlamp.servers" };
    static constexpr QLatin1StringView unreadableKey { "wardlamp.servers.unreadable" };
    static constexpr QLatin1StringView seedVariable { "WL_SEED_SERVERS" };

    ServerStore(QSettings& settings, const QProcessEnvironment& environment, QObject* parent = nullptr);

    const QList<ServerConfig>& servers() const { return m_servers; }
    // The record with this id, if any.
    std::optional<ServerConfig> server(const QUuid& id) const;
    bool isEphemeral() const { return m_ephemeral; }

    void setServers(QList<ServerConfig> servers);
    void add(const ServerConfig& server);
    // Removes every record with this id: one removed(id).
    void remove(const QUuid& id);
    // Replaces the first record with the same id in place; no such record, no
    // change. An equal record saves but announces nothing.
    void update(const ServerConfig& server);
    // Writes the list (a no-op when ephemeral). Every change already does this.
    void save();
    // The last write did not reach the settings file (read-only, full disk):
    // the list in memory is ahead of the saved one.
    bool lastSaveFailed() const { return m_lastSaveFailed; }

Q_SIGNALS:
    // No record carried the id before this change; one does now.
    void added(const QUuid& id);
    // Every record that carried the id is gone.
    void removed(const QUuid& id);
    // The records carrying the id differ from before (the id itself stays).
    void updated(const QUuid& id);
    // The records present before and after the change are in another order.
    void reordered();
    // The list changed in any way; emitted last, once per change.
    void serversChanged();

private:
    void announce(const QList<ServerConfig>& before);
    void loadPersisted();
    // `handWritten`: what readHandWritten() has to say, in the same line.
    void keepUnreadable(
        const QVariant& stored, const QString& problem, const QString& handWritten = {}, bool startsEmpty = true);
    // The list as typed into the settings file by hand (QSettings' own reading
    // of it is `parsed`), after keeping the file as it was; `note` says what
    // happened, for the one line on standard error.
    QVariant readHandWritten(const QVariant& parsed, QString& note);

    QSettings& m_settings;
    QList<ServerConfig> m_servers;
    bool m_ephemeral = false;
    bool m_lastSaveFailed = false;
};

} // namespace Wardlamp
