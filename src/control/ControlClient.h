#pragma once

#include "common/Expected.h"
#include "control/ControlProtocol.h"
#include "control/LineFramer.h"

#include <QJsonObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace Wardlamp {

// The client side of the control socket for a command-line front door:
// blocking, no event loop needed. connect() reads the server's hello; call()
// sends one request and reads until its reply, handing the events that come
// before it to a callback (a followed log).
//
// Move-only; one thread at a time.
class ControlClient {
public:
    enum class Problem {
        noServer, // nothing listens there (no socket file, or refused connection)
        refused, // the server turned this client away (its reply says why)
        lost, // the connection broke or ended early
        timeout,
        protocol, // the other side does not speak our framing
    };
    struct Failure {
        Problem problem = Problem::lost;
        QString message;
    };

    static Expected<ControlClient, Failure> connect(
        const QString& socketFile, std::chrono::milliseconds timeout = std::chrono::seconds(5));

    ControlClient(ControlClient&& other) noexcept;
    ControlClient& operator=(ControlClient&& other) noexcept;
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;
    ~ControlClient();

    const ControlHello& hello() const { return m_hello; }

    using EventHandler = std::function<void(const QJsonObject& event)>;
    // The reply (ok or not) to the request; events before it go to onEvent.
    // No timeout: wait as long as it takes (a followed log).
    Expected<ControlMessage, Failure> call(const QString& verb, const QJsonObject& args,
        const EventHandler& onEvent = {}, std::optional<std::chrono::milliseconds> timeout = std::chrono::seconds(30));

    // Lower level, for tests: sends raw bytes, reads the next message.
    bool sendRaw(QByteArrayView bytes);
    Expected<ControlMessage, Failure> read(std::optional<std::chrono::milliseconds> timeout);

private:
    explicit ControlClient(int fd);

    int m_fd = -1;
    LineFramer m_framer { ControlProtocol::maxReplyBytes };
    ControlHello m_hello;
    qint64 m_nextId = 1;
};

} // namespace Wardlamp
