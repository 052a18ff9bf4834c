#pragma once

#include "control/ControlProtocol.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace Wardlamp::Test {

// A control socket client for tests that must misbehave: writes any bytes,
// reads without blocking (so the server's event loop runs while a test waits
// with QTRY_*), and tells when the server has closed the connection.
class RawControlClient {
public:
    explicit RawControlClient(const QString& socketFile);
    ~RawControlClient();
    RawControlClient(const RawControlClient&) = delete;
    RawControlClient& operator=(const RawControlClient&) = delete;

    bool isConnected() const { return m_fd >= 0; }
    bool send(QByteArrayView bytes);
    // Sends without waiting; how much went out.
    qsizetype sendSome(QByteArrayView bytes);
    void shutdownWrite();
    void close();

    // Reads what has arrived; the messages received so far, in order.
    const QList<ControlMessage>& messages();
    // Everything received so far, raw.
    const QByteArray& received();
    // The server closed its side (read returned end of file or an error).
    bool closedByServer();

private:
    void pump();

    int m_fd = -1;
    QByteArray m_received;
    qsizetype m_parsed = 0;
    QList<ControlMessage> m_messages;
    bool m_closedByServer = false;
};

} // namespace Wardlamp::Test
