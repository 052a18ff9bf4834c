#include "ControlServer.h"

#include "control/ControlConnection.h"
#include "control/ControlProtocol.h"
#include "control/ControlWriter.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(lcControl, "wardlamp.control")

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

ControlServer::ControlServer(const ControlVerbs& verbs, Options options, QObject* parent)
    : QObject(parent)
    , m_verbs(verbs)
    , m_options(std::move(options))
{
}

ControlServer::~ControlServer()
{
    close();
}

std::optional<QString> ControlServer::listen(const QString& socketFile)
{
    close();
    const QByteArray path = QFile::encodeName(socketFile);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return u"%1 is too long a path for a socket"_s.arg(socketFile);
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return u"cannot make a socket: "_s + errnoText(errno);
    // Whoever holds the supervisor lock owns the path; a file left there by a
    // supervisor that was killed is in the way.
    ::unlink(path.constData());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        return u"cannot listen on %1: %2"_s.arg(socketFile, errnoText(error));
    }
    // The folder is private already; the socket itself is too.
    ::chmod(path.constData(), 0600);
    if (::listen(fd, SOMAXCONN) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(path.constData());
        return u"cannot listen on %1: %2"_s.arg(socketFile, errnoText(error));
    }
    m_fd = fd;
    m_socketFile = socketFile;
    if (!m_writer)
        m_writer = std::make_unique<ControlWriter>();
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ControlServer::handleIncoming);
    return std::nullopt;
}

void ControlServer::close()
{
    const QList<QPointer<ControlConnection>> connections = std::exchange(m_connections, {});
    for (const QPointer<ControlConnection>& connection : connections)
        delete connection.data();
    if (m_fd < 0)
        return;
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_fd);
    m_fd = -1;
    ::unlink(QFile::encodeName(m_socketFile).constData());
}

int ControlServer::connectionCount() const
{
    int count = 0;
    for (const QPointer<ControlConnection>& connection : m_connections)
        count += connection && !connection->isClosed() ? 1 : 0;
    return count;
}

void ControlServer::handleIncoming()
{
    for (;;) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            qCWarning(lcControl) << "accept on the control socket failed:" << errnoText(errno);
            // The waiting connection stays queued and the socket stays readable:
            // without a pause (no descriptor left, say) this would spin.
            if (m_notifier) {
                m_notifier->setEnabled(false);
                QTimer::singleShot(
                    acceptRetryDelay, m_notifier, [notifier = m_notifier] { notifier->setEnabled(true); });
            }
            return;
        }
        ucred peer {};
        socklen_t length = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer) {
            refuse(fd, u"the peer's credentials cannot be read"_s);
            continue;
        }
        if (peer.uid != ::geteuid()) {
            refuse(fd,
                u"this control socket serves uid %1 only; pid %2 runs as uid %3"_s.arg(
                    QString::number(::geteuid()), QString::number(peer.pid), QString::number(peer.uid)));
            continue;
        }
        m_connections.removeAll(nullptr);
        if (connectionCount() >= m_options.maxConnections) {
            refuse(fd, u"too many connections (%1)"_s.arg(m_options.maxConnections));
            continue;
        }
        auto* connection = new ControlConnection(fd, m_verbs, m_options, *m_writer, this);
        connect(connection, &ControlConnection::closed, connection, &QObject::deleteLater);
        if (connection->isClosed()) {
            connection->deleteLater();
            continue;
        }
        m_connections.append(connection);
    }
}

void ControlServer::refuse(int fd, const QString& reason)
{
    // Said once, without waiting: a peer we do not serve gets no queue.
    const QByteArray line
        = ControlMessage::encodeError(QJsonValue(), ControlError { ControlErrorCode::refused, reason });
    [[maybe_unused]] const ssize_t sent
        = ::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
    qCWarning(lcControl) << "control connection refused:" << reason;
    Q_EMIT connectionRefused(reason);
}

} // namespace Wardlamp
