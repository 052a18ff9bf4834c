#include "RelayEndpoint.h"

#include "RemoteAgentLogging.h"

#include <QProcessEnvironment>
#include <QSettings>

#ifndef WL_DEFAULT_RELAY_URL
#define WL_DEFAULT_RELAY_URL ""
#endif

namespace Wardlamp {

using namespace Qt::StringLiterals;

std::optional<QUrl> RelayEndpoint::parse(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != u"ws"_s && scheme != u"wss"_s)
        return std::nullopt;
    return url;
}

QUrl RelayEndpoint::webPage(const QUrl& relay)
{
    QUrl page = relay.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    page.setScheme(relay.scheme().toLower() == u"wss"_s ? u"https"_s : u"http"_s);
    QString path = page.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    page.setPath(path);
    return page;
}

QString RelayEndpoint::webPairingLink(const QUrl& relay, const QString& pairingKey)
{
    // The key's characters (letters, digits, "-", "_", ".") need no escaping in a fragment.
    return webPage(relay).toString(QUrl::FullyEncoded) + u"#k="_s + pairingKey;
}

std::optional<QUrl> RelayEndpoint::builtIn()
{
    return parse(QString::fromUtf8(WL_DEFAULT_RELAY_URL));
}

std::optional<QUrl> RelayEndpoint::resolve(const QProcessEnvironment& environment, const QSettings& settings)
{
    const QString fromEnvironment = environment.value(QString(environmentVariable));
    if (!fromEnvironment.isEmpty()) {
        if (auto url = parse(fromEnvironment))
            return url;
        qCWarning(lcRemoteAgent, "WL_RELAY_URL is not a ws:// or wss:// address; ignored");
    }
    const QString fromSettings = settings.value(settingsKey).toString();
    if (!fromSettings.isEmpty()) {
        if (auto url = parse(fromSettings))
            return url;
        qCWarning(lcRemoteAgent, "the relay address in the settings is not a ws:// or wss:// address; ignored");
    }
    return builtIn();
}

} // namespace Wardlamp
