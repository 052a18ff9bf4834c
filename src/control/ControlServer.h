#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace Wardlamp {

class ControlConnection;
class ControlVerbs;
class ControlWriter;

// The supervisor's local control socket: a Unix stream socket in the
// configuration's private folder (ControlPaths), reachable by the same user
// only, answering requests in the framing of ControlProtocol with the
// handlers of a ControlVerbs table.
//
// Defences: the peer's uid is checked on every connection (SO_PEERCRED; the
// folder's 0700 already keeps others out, this keeps out a process of another
// uid that was handed a way in); a bounded number of connections; a request
// line is bounded in size and must be finished within requestTimeout once
// begun; what waits to be sent to one client is bounded, and a client that
// lets it fill up (never reads, or reads too slowly for a followed log) is
// dropped, except that a followed log's oldest lines are dropped first, with
// a marker (ControlOutbox). Everything is sent by a writer thread, so no client
// holds up the main thread. Malformed requests get an error reply and the connection goes on.
//
// Owner: the program's object graph, after it took the supervisor lock
// (listen() replaces a socket file left at the path). Main thread.
class ControlServer : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString program; // said in the hello
        int maxConnections = 256;
        qsizetype maxQueuedBytes = 16 * 1024 * 1024;
        std::chrono::milliseconds requestTimeout { 10000 };
        // A connection with no request under way and no call open (a followed
        // log is one) is closed after this long: a client that connects and
        // says nothing does not hold a slot for good.
        std::chrono::milliseconds idleTimeout { 60000 };
    };

    ControlServer(const ControlVerbs& verbs, Options options, QObject* parent = nullptr);
    // Closes every connection and removes the socket file.
    ~ControlServer() override;

    // Listens on `socketFile`; one line saying why not on failure.
    std::optional<QString> listen(const QString& socketFile);
    void close();
    bool isListening() const { return m_fd >= 0; }
    QString socketFile() const { return m_socketFile; }
    int connectionCount() const;
    const Options& options() const { return m_options; }

Q_SIGNALS:
    // A connection was turned away (another user, too many connections).
    void connectionRefused(const QString& reason);

private:
    // How long accepting pauses after a failure other than "nothing waiting".
    static constexpr std::chrono::milliseconds acceptRetryDelay { 200 };

    void handleIncoming();
    void refuse(int fd, const QString& reason);

    const ControlVerbs& m_verbs;
    const Options m_options;
    int m_fd = -1;
    QString m_socketFile;
    QSocketNotifier* m_notifier = nullptr;
    QList<QPointer<ControlConnection>> m_connections;
    std::unique_ptr<ControlWriter> m_writer; // made by listen()
};

} // namespace Wardlamp
