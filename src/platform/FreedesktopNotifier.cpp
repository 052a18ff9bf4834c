#include "FreedesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {
// The server answers at once or not at all; the reply is never waited for.
constexpr int callTimeoutMs = 5000;
// Let the notification server choose how long the bubble stays.
constexpr int defaultExpiry = -1;
// Notifications kept while the capabilities are not known yet.
constexpr qsizetype maxWaiting = 16;

QString escapedMarkup(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            escaped += u"&amp;"_s;
        else if (c == u'<')
            escaped += u"&lt;"_s;
        else if (c == u'>')
            escaped += u"&gt;"_s;
        else
            escaped += c;
    }
    return escaped;
}
} // namespace

FreedesktopNotifier::FreedesktopNotifier()
    : FreedesktopNotifier(QDBusConnection::sessionBus())
{
}

struct FreedesktopNotifier::State {
    enum class Markup { unknown, asked, yes, no };
    Markup markup = Markup::unknown;
    QList<std::pair<QString, QString>> waiting;
};

FreedesktopNotifier::FreedesktopNotifier(const QDBusConnection& bus)
    : m_bus(std::make_unique<QDBusConnection>(bus))
    , m_state(std::make_shared<State>())
{
}

FreedesktopNotifier::~FreedesktopNotifier() = default;

void FreedesktopNotifier::notify(const QString& title, const QString& body)
{
    if (!m_bus->isConnected())
        return;
    if (m_state->markup == State::Markup::yes || m_state->markup == State::Markup::no) {
        send(title, body);
        return;
    }
    if (m_state->waiting.size() < maxWaiting)
        m_state->waiting.append({ title, body });
    if (m_state->markup == State::Markup::asked)
        return;
    m_state->markup = State::Markup::asked;
    const QDBusMessage question = QDBusMessage::createMethodCall(u"org.freedesktop.Notifications"_s,
        u"/org/freedesktop/Notifications"_s, u"org.freedesktop.Notifications"_s, u"GetCapabilities"_s);
    auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(question, callTimeoutMs));
    // The watcher may outlive this notifier: it holds the state, which only
    // the notifier owns, weakly, and touches nothing once that is gone.
    std::weak_ptr<State> weakState = m_state;
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher, [weakState, this](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            const auto state = weakState.lock();
            if (!state)
                return;
            const QDBusPendingReply<QStringList> reply = *call;
            // No answer: send the text as it is, as to a server without markup.
            state->markup
                = !reply.isError() && reply.value().contains(u"body-markup"_s) ? State::Markup::yes : State::Markup::no;
            const auto waiting = std::exchange(state->waiting, {});
            for (const auto& [waitingTitle, waitingBody] : waiting)
                send(waitingTitle, waitingBody);
        });
}

void FreedesktopNotifier::send(const QString& title, const QString& body)
{
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.Notifications"_s,
        u"/org/freedesktop/Notifications"_s, u"org.freedesktop.Notifications"_s, u"Notify"_s);
    const QString shownBody = m_state->markup == State::Markup::yes ? escapedMarkup(body) : body;
    call << QString(appName) << uint(0) << QString(iconName) << title << shownBody << QStringList() << QVariantMap()
         << defaultExpiry;
    // Without a service the bus answers with an error at once; either way the
    // pending reply is dropped.
    m_bus->asyncCall(call, callTimeoutMs);
}

} // namespace Wardlamp
