#include "ControllerCommand.h"

#include "RemoteFormat.h"
#include "cli/ServerLookup.h"

#include <QDateTime>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace Wardlamp {

namespace {
std::optional<CommandAction> actionOf(RemoteOptions::Command command)
{
    switch (command) {
    case RemoteOptions::Command::start:
        return CommandAction::start;
    case RemoteOptions::Command::stop:
        return CommandAction::stop;
    case RemoteOptions::Command::restart:
        return CommandAction::restart;
    case RemoteOptions::Command::clear:
        return CommandAction::clearLogs;
    default:
        return std::nullopt;
    }
}
} // namespace

ControllerCommand::ControllerCommand(RemoteOptions options, const QString& room, const ContentKey& key,
    RelayClient::Options clientOptions, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_session(m_options.relay, room, key, std::move(clientOptions))
    , m_out(stdout)
    , m_err(stderr)
{
    m_deadline.setSingleShot(true);
    m_passwordGrace.setSingleShot(true);
    m_settle.setSingleShot(true);
    m_closeWait.setSingleShot(true);
    QObject::connect(&m_closeWait, &QTimer::timeout, this, &ControllerCommand::closed);
    QObject::connect(&m_session, &ControllerSession::closed, this, &ControllerCommand::closed);
    QObject::connect(&m_deadline, &QTimer::timeout, this, &ControllerCommand::handleDeadline);
    QObject::connect(&m_settle, &QTimer::timeout, this, &ControllerCommand::handleSettle);
    QObject::connect(&m_passwordGrace, &QTimer::timeout, this, [this] {
        if (m_session.openedCount() == 0)
            finish(ExitCode::wrongPassword,
                tr("messages from the desktop cannot be opened: the password is wrong "
                   "(or the desktop uses another password or pairing key)"));
    });
    QObject::connect(&m_session, &ControllerSession::connected, this, &ControllerCommand::handleConnected);
    QObject::connect(&m_session, &ControllerSession::connectionLost, this, &ControllerCommand::handleConnectionLost);
    QObject::connect(&m_session, &ControllerSession::agentPresenceChanged, this, &ControllerCommand::handlePresence);
    QObject::connect(&m_session, &ControllerSession::unopenedMessage, this, &ControllerCommand::handleUnopened);
    QObject::connect(&m_session, &ControllerSession::messageReceived, this, &ControllerCommand::handleMessage);
}

void ControllerCommand::run()
{
    if (m_phase == Phase::done)
        return; // interrupted before it began
    m_phase = m_options.command == RemoteOptions::Command::watch ? Phase::watching : Phase::awaitingSnapshot;
    if (m_phase == Phase::awaitingSnapshot)
        m_deadline.start(m_options.timeoutSeconds * 1000);
    m_session.start();
}

void ControllerCommand::handleConnected()
{
    switch (m_phase) {
    case Phase::awaitingSnapshot:
        m_session.send(PeerMessage::requestSnapshot());
        break;
    case Phase::following:
        // A new connection: the desktop sends the backlog again; lines already shown are skipped.
        note(tr("reconnected"));
        m_session.send(PeerMessage::subscribeLogs(m_target->id));
        break;
    case Phase::watching:
        note(tr("connected to the relay"));
        break;
    default:
        break;
    }
}

void ControllerCommand::handleConnectionLost(const QString& error)
{
    if (m_phase == Phase::watching || m_phase == Phase::following)
        note(tr("connection to the relay lost (%1); reconnecting").arg(error));
}

void ControllerCommand::handlePresence(bool online)
{
    switch (m_phase) {
    case Phase::awaitingSnapshot:
    case Phase::awaitingBacklog:
    case Phase::awaitingAck:
        if (!online)
            finish(ExitCode::desktopOffline,
                tr("the desktop is offline: no Wardlamp with this pairing key is connected to the relay"));
        break;
    case Phase::following:
    case Phase::watching:
        note(online ? tr("the desktop is online") : tr("the desktop is offline; waiting for it"));
        break;
    default:
        break;
    }
}

void ControllerCommand::handleUnopened()
{
    if (m_session.openedCount() == 0 && !m_passwordGrace.isActive() && m_phase != Phase::done)
        m_passwordGrace.start(passwordGraceMs);
}

void ControllerCommand::handleMessage(const PeerMessage& message)
{
    m_passwordGrace.stop();
    switch (message.type) {
    case PeerMessage::MessageType::snapshot:
        if (!message.snapshotRecord)
            return;
        m_snapshot = message.snapshotRecord;
        ++m_snapshotCount;
        if (m_phase == Phase::awaitingSnapshot) {
            if (m_snapshotCount >= 2)
                snapshotReady();
            else
                m_settle.start(snapshotSettleMs);
        }
        return;
    case PeerMessage::MessageType::logAppend:
        if ((m_phase == Phase::awaitingBacklog || m_phase == Phase::following) && m_target
            && message.serverId == m_target->id && message.lines)
            takeLines(*message.lines);
        return;
    case PeerMessage::MessageType::commandAck: {
        if (m_phase != Phase::awaitingAck || !m_target || message.serverId != m_target->id
            || message.action != actionOf(m_options.command))
            return;
        const QString what = RemoteOptions::commandName(m_options.command);
        if (message.ok.value_or(false)) {
            m_out << tr("%1: %2 acknowledged").arg(m_target->name, what) << Qt::endl;
            finish(ExitCode::success);
        } else {
            finish(ExitCode::commandFailed,
                tr("the desktop refused to %1 %2%3")
                    .arg(what, m_target->name, message.message ? QStringLiteral(": ") + *message.message : QString()));
        }
        return;
    }
    case PeerMessage::MessageType::notify:
        if (m_phase == Phase::watching && message.message)
            m_out << RemoteFormat::announcement(*message.message, QDateTime::currentDateTime()) << Qt::endl;
        return;
    default:
        return; // what a controller sends, or nothing this command waits for
    }
}

void ControllerCommand::handleSettle()
{
    if (m_phase == Phase::awaitingSnapshot) {
        snapshotReady();
        return;
    }
    if (m_phase != Phase::awaitingBacklog)
        return;
    std::stable_sort(m_backlog.begin(), m_backlog.end(),
        [](const WireLogLine& a, const WireLogLine& b) { return a.date.msSinceEpoch < b.date.msSinceEpoch; });
    const qsizetype first = std::max<qsizetype>(0, m_backlog.size() - m_options.lines);
    for (qsizetype i = first; i < m_backlog.size(); ++i)
        m_out << RemoteFormat::logLine(m_backlog.at(i)) << '\n';
    m_out.flush();
    m_backlog.clear();
    if (!m_options.follow) {
        finish(ExitCode::success);
        return;
    }
    m_phase = Phase::following;
}

void ControllerCommand::takeLines(const QList<WireLogLine>& lines)
{
    for (const WireLogLine& line : lines) {
        if (!m_seenLines.insert(line.id))
            continue;
        if (m_phase == Phase::following)
            m_out << RemoteFormat::logLine(line) << '\n';
        else
            m_backlog.append(line);
    }
    if (m_phase == Phase::following)
        m_out.flush();
    else
        m_settle.start(backlogQuietMs);
}

void ControllerCommand::snapshotReady()
{
    m_settle.stop();
    m_deadline.stop();
    const Snapshot& snapshot = *m_snapshot;
    if (m_options.command == RemoteOptions::Command::list) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (m_options.json)
            m_out << QString::fromUtf8(RemoteFormat::json(snapshot, now)) << Qt::endl;
        else
            m_out << RemoteFormat::table(snapshot, now) << Qt::flush;
        finish(ExitCode::success);
        return;
    }

    const ServerLookup::Result found = ServerLookup::find(snapshot.servers, m_options.server);
    if (!found.index) {
        if (found.problem == ServerLookup::Problem::ambiguous) {
            finish(ExitCode::unknownServer,
                tr("\"%1\" names more than one server; use one of the ids: %2")
                    .arg(m_options.server, found.candidates.join(QStringLiteral(", "))));
        } else {
            QStringList names;
            for (const WireServer& server : snapshot.servers)
                names.append(server.name);
            finish(ExitCode::unknownServer,
                tr("%1 has no server \"%2\"; its servers: %3")
                    .arg(snapshot.macName, m_options.server,
                        names.isEmpty() ? tr("none") : names.join(QStringLiteral(", "))));
        }
        return;
    }
    m_target = snapshot.servers.at(*found.index);

    if (m_options.command == RemoteOptions::Command::logs) {
        m_phase = Phase::awaitingBacklog;
        m_session.send(PeerMessage::subscribeLogs(m_target->id));
        m_settle.start(backlogFirstMs);
        return;
    }
    m_phase = Phase::awaitingAck;
    m_session.send(PeerMessage::command(m_target->id, *actionOf(m_options.command)));
    m_deadline.start(m_options.timeoutSeconds * 1000);
}

void ControllerCommand::handleDeadline()
{
    const QString seconds = QString::number(m_options.timeoutSeconds);
    if (m_phase == Phase::awaitingAck) {
        finish(ExitCode::noAcknowledgement,
            tr("the desktop did not acknowledge the command within %1 s (it may still run it)").arg(seconds));
        return;
    }
    if (m_phase != Phase::awaitingSnapshot)
        return;
    if (!m_session.everConnected()) {
        finish(ExitCode::relayUnreachable,
            tr("cannot reach the relay at %1 within %2 s: %3")
                .arg(m_options.relay.toDisplayString(), seconds,
                    m_session.lastError().isEmpty() ? tr("no answer") : m_session.lastError()));
    } else if (m_session.unopenedCount() > 0 && m_session.openedCount() == 0) {
        finish(ExitCode::wrongPassword,
            tr("messages from the desktop cannot be opened: the password is wrong "
               "(or the desktop uses another password or pairing key)"));
    } else if (m_session.agentOnline() == false) {
        finish(ExitCode::desktopOffline,
            tr("the desktop is offline: no Wardlamp with this pairing key is connected to the relay"));
    } else {
        finish(ExitCode::desktopOffline, tr("the desktop did not answer within %1 s").arg(seconds));
    }
}

void ControllerCommand::interrupt(int signalNumber)
{
    // Ctrl-C is how `watch` and `logs -f` end, so it says nothing; output already
    // printed stays whole (lines are written out as they come).
    finish(signalNumber == SIGINT ? ExitCode::interrupted : ExitCode::terminated);
}

void ControllerCommand::note(const QString& text)
{
    m_err << QStringLiteral("wardlamp-remote: ") << text << Qt::endl;
}

void ControllerCommand::finish(ExitCode code, const QString& message)
{
    if (m_phase == Phase::done)
        return;
    m_phase = Phase::done;
    m_deadline.stop();
    m_settle.stop();
    m_passwordGrace.stop();
    if (!message.isEmpty())
        note(message);
    m_out.flush();
    // The relay should see this controller leave, not lose it: the exit waits for
    // the close to go through (it is quick), but never long.
    m_exitCode = toInt(code);
    m_closeWait.start(closeWaitMs);
    m_session.stop();
}

void ControllerCommand::closed()
{
    if (!m_exitCode)
        return;
    m_closeWait.stop();
    const int code = *m_exitCode;
    m_exitCode.reset();
    Q_EMIT finished(code);
}

} // namespace Wardlamp
