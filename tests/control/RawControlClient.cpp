#include "RawControlClient.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Wardlamp::Test {

RawControlClient::RawControlClient(const QString& socketFile)
{
    const QByteArray path = QFile::encodeName(socketFile);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(std::min<qsizetype>(path.size(), 107)));
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

RawControlClient::~RawControlClient()
{
    close();
}

bool RawControlClient::send(QByteArrayView bytes)
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

qsizetype RawControlClient::sendSome(QByteArrayView bytes)
{
    const ssize_t sent = ::send(m_fd, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    return sent < 0 ? 0 : sent;
}

void RawControlClient::shutdownWrite()
{
    ::shutdown(m_fd, SHUT_WR);
}

void RawControlClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void RawControlClient::pump()
{
    if (m_fd < 0 || m_closedByServer)
        return;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t received = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received > 0) {
            m_received.append(buffer, received);
            continue;
        }
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        m_closedByServer = true; // end of file, or a reset
        break;
    }
    for (;;) {
        const qsizetype end = m_received.indexOf('\n', m_parsed);
        if (end < 0)
            break;
        if (auto message = ControlMessage::parse(QByteArrayView(m_received).sliced(m_parsed, end - m_parsed)))
            m_messages.append(*message);
        m_parsed = end + 1;
    }
}

const QList<ControlMessage>& RawControlClient::messages()
{
    pump();
    return m_messages;
}

const QByteArray& RawControlClient::received()
{
    pump();
    return m_received;
}

bool RawControlClient::closedByServer()
{
    pump();
    return m_closedByServer;
}

} // namespace Wardlamp::Test
