#include "ControlClient.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

using Clock = std::chrono::steady_clock;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Milliseconds left until `deadline` for poll(): -1 for none.
int remainingMs(const std::optional<Clock::time_point>& deadline)
{
    if (!deadline)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, 24 * 3600 * 1000));
}

} // namespace

Expected<ControlClient, ControlClient::Failure> ControlClient::connect(
    const QString& socketFile, std::chrono::milliseconds timeout)
{
    const QByteArray path = QFile::encodeName(socketFile);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return Failure { Problem::noServer, u"%1 is too long a path for a socket"_s.arg(socketFile) };
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Failure { Problem::lost, u"cannot make a socket: "_s + errnoText(errno) };
    int result = 0;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        const bool absent = error == ENOENT || error == ECONNREFUSED || error == ENOTDIR;
        return Failure { absent ? Problem::noServer : Problem::lost,
            u"cannot connect to %1: %2"_s.arg(socketFile, errnoText(error)) };
    }
    ControlClient client(fd);
    Expected<ControlMessage, Failure> hello = client.read(timeout);
    if (!hello)
        return hello.error();
    if (hello->kind == ControlMessage::Kind::reply && !hello->ok)
        return Failure { Problem::refused, hello->error.message };
    if (hello->kind != ControlMessage::Kind::hello)
        return Failure { Problem::protocol, u"the control socket did not say hello"_s };
    client.m_hello = hello->hello;
    return client;
}

ControlClient::ControlClient(int fd)
    : m_fd(fd)
{
}

ControlClient::ControlClient(ControlClient&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_framer(std::move(other.m_framer))
    , m_hello(std::move(other.m_hello))
    , m_nextId(other.m_nextId)
{
}

ControlClient& ControlClient::operator=(ControlClient&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_framer = std::move(other.m_framer);
        m_hello = std::move(other.m_hello);
        m_nextId = other.m_nextId;
    }
    return *this;
}

ControlClient::~ControlClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ControlClient::sendRaw(QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(m_fd, bytes.data() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        done += sent;
    }
    return true;
}

Expected<ControlMessage, ControlClient::Failure> ControlClient::read(std::optional<std::chrono::milliseconds> timeout)
{
    const std::optional<Clock::time_point> deadline
        = timeout ? std::optional<Clock::time_point>(Clock::now() + *timeout) : std::nullopt;
    for (;;) {
        if (std::optional<QByteArray> line = m_framer.takeLine()) {
            if (line->trimmed().isEmpty())
                continue;
            std::optional<ControlMessage> message = ControlMessage::parse(*line);
            if (!message)
                return Failure { Problem::protocol, u"the control socket sent something that is not a message"_s };
            return std::move(*message);
        }
        if (m_framer.isOverflowed())
            return Failure { Problem::protocol, u"the control socket sent a line too long to read"_s };
        pollfd wait { m_fd, POLLIN, 0 };
        const int ready = ::poll(&wait, 1, remainingMs(deadline));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return Failure { Problem::lost, u"waiting for the supervisor failed: "_s + errnoText(errno) };
        }
        if (ready == 0)
            return Failure { Problem::timeout, u"the supervisor did not answer in time"_s };
        char buffer[64 * 1024];
        const ssize_t received = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            return Failure { Problem::lost, u"the connection to the supervisor broke: "_s + errnoText(errno) };
        }
        if (received == 0)
            return Failure { Problem::lost, u"the supervisor closed the connection"_s };
        m_framer.append(QByteArrayView(buffer, received));
    }
}

Expected<ControlMessage, ControlClient::Failure> ControlClient::call(const QString& verb, const QJsonObject& args,
    const EventHandler& onEvent, std::optional<std::chrono::milliseconds> timeout)
{
    ControlRequest request;
    request.id = m_nextId++;
    request.verb = verb;
    request.args = args;
    const QByteArray line = request.encode();
    if (line.size() > ControlProtocol::maxRequestBytes)
        return Failure { Problem::protocol,
            u"the request is larger than %1 MiB"_s.arg(ControlProtocol::maxRequestBytes >> 20) };
    if (!sendRaw(line))
        return Failure { Problem::lost, u"the supervisor closed the connection"_s };
    const std::optional<Clock::time_point> deadline
        = timeout ? std::optional<Clock::time_point>(Clock::now() + *timeout) : std::nullopt;
    for (;;) {
        const std::optional<std::chrono::milliseconds> left = deadline
            ? std::optional<std::chrono::milliseconds>(std::chrono::milliseconds(remainingMs(deadline)))
            : std::nullopt;
        Expected<ControlMessage, Failure> message = read(left);
        if (!message)
            return message;
        // A message without our id is the server speaking to the connection
        // (a refusal, "too large"): it answers this call as well as any.
        if (message->id != request.id && !message->id.isNull())
            continue;
        if (message->kind == ControlMessage::Kind::event) {
            if (onEvent)
                onEvent(message->event);
            continue;
        }
        if (message->kind == ControlMessage::Kind::reply)
            return message;
    }
}

} // namespace Wardlamp
