#include "LogVerbs.h"

#include "control/ControlCall.h"
#include "control/ControlVerbs.h"
#include "control/LogLineJson.h"
#include "control/ServerListEdits.h"
#include "supervision/LineBatch.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"

#include <QJsonDocument>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

// Encoded batches' memory is kept this long after the last batch.
constexpr std::chrono::milliseconds releaseBuffersAfter { 2000 };

QString causeName(RunEnding::Cause cause)
{
    switch (cause) {
    case RunEnding::Cause::exited:
        return u"exited"_s;
    case RunEnding::Cause::signalled:
        return u"signalled"_s;
    case RunEnding::Cause::replaced:
        return u"replaced"_s;
    }
    return u"exited"_s;
}

QJsonObject describeRun(const PreviousRun& run)
{
    QJsonObject object;
    if (run.startedAt)
        object.insert(u"startedAt"_s, run.startedAt->toMSecsSinceEpoch());
    if (run.ending)
        object.insert(u"ending"_s,
            QJsonObject { { u"cause"_s, causeName(run.ending->cause) }, { u"code"_s, run.ending->code },
                { u"requested"_s, run.ending->requested }, { u"at"_s, run.ending->at.toMSecsSinceEpoch() } });
    return object;
}

} // namespace

LogVerbs::LogVerbs(ControlVerbs& verbs, ServerStore& store, ServerManager* manager, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_manager(manager)
{
    verbs.add(u"logs"_s, [this](ControlCall& call) { logs(call); });
    if (manager) {
        // The batch's views are valid only during the call: direct connection.
        connect(manager, &ServerManager::linesCaptured, this, &LogVerbs::handleLinesCaptured, Qt::DirectConnection);
    }
    connect(&store, &ServerStore::removed, this, &LogVerbs::handleRemoved);
    m_releaseBuffers.setSingleShot(true);
    m_releaseBuffers.setInterval(releaseBuffersAfter);
    connect(&m_releaseBuffers, &QTimer::timeout, this, [this] { m_eventBuffers.release(); });
}

LogVerbs::~LogVerbs() = default;

int LogVerbs::followerCount() const
{
    int count = 0;
    for (const QList<QPointer<ControlCall>>& calls : m_followers)
        count += int(calls.size());
    return count;
}

void LogVerbs::logs(ControlCall& call)
{
    if (!m_manager) {
        call.fail(ControlErrorCode::notRunning,
            u"nothing supervises this configuration, so no server has a log; `wardlampd` runs the servers "
            "(or start the desktop app)"_s);
        return;
    }
    const QList<ServerConfig>& servers = m_store.servers();
    const Expected<qsizetype, ControlError> index
        = ServerListEdits::find(servers, call.args().value(u"server"_s).toString());
    if (!index) {
        call.fail(index.error());
        return;
    }
    const ServerConfig& server = servers.at(*index);
    const QJsonValue linesValue = call.args().value(u"lines"_s);
    if (!linesValue.isUndefined() && (!linesValue.isDouble() || linesValue.toDouble() < 0)) {
        call.fail(ControlErrorCode::badArguments, u"\"lines\" must be a number from 0 up"_s);
        return;
    }
    const int count = linesValue.isUndefined() ? defaultLines : int(std::min(linesValue.toDouble(), 1e6));
    const bool follow = call.args().value(u"follow"_s).toBool();
    const bool previous = call.args().value(u"previous"_s).toBool();
    if (follow && previous) {
        call.fail(ControlErrorCode::badArguments, u"a previous run has ended: it cannot be followed"_s);
        return;
    }

    const PreviousRun* run = previous ? m_manager->previousRun(server.id) : nullptr;
    if (previous && !run) {
        call.fail(ControlErrorCode::failed,
            u"\"%1\" has no previous run yet (one is kept once a start replaces a log)"_s.arg(server.name));
        return;
    }
    bool truncated = false;
    const QByteArray lines
        = LogLineJson::encode(run ? run->logs : m_manager->state(server.id).logs, count, maxReplyTextBytes, &truncated);
    // The lines are spliced in as encoded; the rest goes through QJsonDocument.
    QJsonObject head { { u"server"_s, QJsonObject { { u"id"_s, uuidText(server.id) }, { u"name"_s, server.name } } } };
    if (truncated)
        head.insert(u"truncated"_s, true);
    if (run)
        head.insert(u"previous"_s, describeRun(*run));
    QByteArray body = QJsonDocument(head).toJson(QJsonDocument::Compact);
    body.chop(1); // "}"
    body += ',';
    body += QByteArrayView(lines).sliced(1); // without its "{"

    if (!follow) {
        // A reply, as the verb's result: parsed back once, which only a
        // one-off read of a log pays for.
        call.reply(QJsonDocument::fromJson(body).object());
        return;
    }
    if (!call.encodedEvent(body))
        return;
    m_followers[server.id].append(&call);
    connect(&call, &ControlCall::cancelled, this, [this, id = server.id, callPointer = &call] {
        auto it = m_followers.find(id);
        if (it == m_followers.end())
            return;
        it->removeIf([callPointer](const QPointer<ControlCall>& follower) {
            return !follower || follower.data() == callPointer;
        });
        if (it->isEmpty())
            m_followers.erase(it);
        if (m_followers.isEmpty())
            m_eventBuffers.release();
    });
}

void LogVerbs::handleLinesCaptured(const QUuid& id, const LineBatch& batch)
{
    const auto it = m_followers.find(id);
    if (it == m_followers.end() || batch.lines.empty())
        return;
    QByteArray& buffer = m_eventBuffers.take();
    LogLineJson::encode(batch, buffer);
    const QByteArray event = buffer;
    m_releaseBuffers.start();
    // A follower that cannot take it is cancelled (and leaves the list) on the way.
    const QList<QPointer<ControlCall>> followers = *it;
    for (const QPointer<ControlCall>& follower : followers) {
        if (follower)
            follower->sharedEvent(event, int(batch.lines.size()));
    }
}

void LogVerbs::handleRemoved(const QUuid& id)
{
    const QList<QPointer<ControlCall>> followers = m_followers.take(id);
    for (const QPointer<ControlCall>& follower : followers) {
        if (follower)
            follower->reply({ { u"removed"_s, true } });
    }
}

} // namespace Wardlamp
