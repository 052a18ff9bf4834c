#include "ErrorAlertService.h"

#include "supervision/Notifier.h"
#include "supervision/ServerConfig.h"
#include "supervision/StandardError.h"

#include <QTextBoundaryFinder>

namespace Wardlamp {

using namespace Qt::StringLiterals;

ErrorAlertService::ErrorAlertService()
    : m_clock([] { return Clock::now(); })
{
}

ErrorAlertService& ErrorAlertService::shared()
{
    static ErrorAlertService instance; // initialised once, thread-safe
    return instance;
}

void ErrorAlertService::setClock(std::function<Clock::time_point()> clock)
{
    m_clock = clock ? std::move(clock) : [] { return Clock::now(); };
}

bool ErrorAlertService::isDue(std::optional<Clock::time_point> lastAlert, Clock::time_point now)
{
    return !lastAlert || now - *lastAlert >= debounce;
}

QByteArray ErrorAlertService::logLine(const QString& name, const QString& message)
{
    return QString(u"Wardlamp ALERT ["_s + name + u"]: "_s + message + u'\n').toUtf8();
}

QString ErrorAlertService::notificationTitle(const QString& name)
{
    return u"\u26A0\uFE0F "_s + name + u" error"_s;
}

QString ErrorAlertService::notificationBody(const QString& message)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, message);
    qsizetype end = 0;
    for (int count = 0; count < bodyLength; ++count) {
        const qsizetype next = graphemes.toNextBoundary();
        if (next < 0)
            return message;
        end = next;
    }
    return message.left(end);
}

bool ErrorAlertService::isDueFor(const QUuid& serverId) const
{
    const auto last = m_lastAlert.constFind(serverId);
    return isDue(last == m_lastAlert.cend() ? std::nullopt : std::optional(*last), m_clock());
}

void ErrorAlertService::alert(const ServerConfig& server, const QString& message)
{
    const Clock::time_point now = m_clock();
    const auto last = m_lastAlert.constFind(server.id);
    if (!isDue(last == m_lastAlert.cend() ? std::nullopt : std::optional(*last), now))
        return;
    m_lastAlert.insert(server.id, now);

    writeToStandardError(logLine(server.name, message));
    if (m_notifier)
        m_notifier->notify(notificationTitle(server.name), notificationBody(message));
    if (m_customHandler)
        m_customHandler(server, message);
}

} // namespace Wardlamp
