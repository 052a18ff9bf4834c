// The controller end of one paired computer: derives the room and the content key
// from the pairing key (and password), keeps the relay connection, opens what the
// desktop sends and keeps what the views show: the connection state, the latest
// snapshot, the logs of the servers whose log was opened, each command's fate, and
// alerts. Decides; shows nothing. Listeners get one call per change:
//   listener({ type: 'state' | 'servers' | 'log' | 'feedback' | 'alert' | 'renamed', ... })
//
// Hostile input is expected: a relay may send garbage, replays, messages sealed
// under another key, or frames too large; all are dropped and counted, never shown.

import { connectionState, canCommand } from './ConnectionState.js';
import { LogBuffer } from './LogBuffer.js';
import { connectUrl } from './RelayAddress.js';
import { contentKey, notifyKinds, notifyTag, roomId } from '../protocol/RemoteCrypto.js';
import { openMessage, sealMessage } from '../protocol/SealedMessages.js';
import { commandMessage, decodeEnvelope, encodeMessageEnvelope, requestSnapshotMessage, subscribeLogsMessage }
    from '../protocol/WireCodec.js';
import { RelayConnection } from '../net/RelayConnection.js';

export const ackTimeoutMs = 10000;
const rememberedNonces = 4096;
const keptUnopened = 8;
const followedLogs = 8; // servers whose lines are kept; the least recently opened go first
const replacementWindowMs = 2000;
// Messages that stop opening after some did: the desktop's key or password changed.
const unopenedBeforeAsking = 3;

export class ControllerSession {
    // options: { credential, endpoint, password, connectionFactory, clock }
    constructor(options) {
        this.credential = options.credential;
        this.endpoint = options.endpoint;
        this.password = options.password ?? '';
        this.clock = options.clock ?? { now: () => Date.now(), setTimeout: (f, ms) => setTimeout(f, ms),
            clearTimeout: (t) => clearTimeout(t) };
        this.connectionFactory = options.connectionFactory
            ?? ((url, handlers) => new RelayConnection(url, handlers));
        this.ackTimeoutMs = options.ackTimeoutMs ?? ackTimeoutMs;
        this.listeners = new Set();

        this.roomId = null;
        this.key = null;
        this.tagKinds = new Map();
        this.connection = null;
        this.facts = {
            relayOpen: false, everOpened: false, failedAttempts: 0, agentOnline: undefined, needsPassword: false,
            wrongPassword: false, replacedBy: null, lastUpdate: null,
        };
        this.state = connectionState(this.facts);
        this.snapshot = null; // { macName, servers, generatedAt, receivedAt }
        this.logs = new Map(); // server id → LogBuffer, in order of last opening
        this.openLogId = null;
        this.feedback = new Map(); // server id → { action, state, message, at, timer }
        this.nonces = new Set();
        this.nonceOrder = [];
        this.unopened = []; // payloads kept while no key opens them, for a password to try
        this.openedWithKey = 0;
        this.unopenedSinceOpened = 0;
        this.agentLeftAt = null;
        this.checkReplacement = false;
        this.stats = { dropped: 0, unopened: 0, opened: 0, replayed: 0, stale: 0 };
        this.inbox = Promise.resolve();
        this.outbox = Promise.resolve();
        this.stopped = false;
    }

    subscribe(listener) {
        this.listeners.add(listener);
        return () => this.listeners.delete(listener);
    }

    emit(event) {
        for (const listener of this.listeners) listener(event);
    }

    async start() {
        this.roomId = await roomId(this.credential.secret);
        await this.useKey(this.password);
        if (this.stopped) return;
        this.connection = this.connectionFactory(connectUrl(this.endpoint, this.roomId), {
            open: () => this.handleOpen(),
            close: () => this.handleClose(),
            frame: (text) => this.handleFrame(text),
        });
        this.connection.start();
    }

    stop() {
        this.stopped = true;
        this.connection?.stop();
        for (const entry of this.feedback.values()) this.clock.clearTimeout(entry.timer);
        this.listeners.clear();
    }

    async useKey(password) {
        this.key = await contentKey(this.credential.secret, password);
        this.password = password;
        this.tagKinds = new Map();
        for (const kind of notifyKinds) this.tagKinds.set(await notifyTag(kind, this.key), kind);
    }

    updateFacts(changes) {
        Object.assign(this.facts, changes);
        const next = connectionState(this.facts);
        if (JSON.stringify(next) !== JSON.stringify(this.state)) {
            this.state = next;
            this.emit({ type: 'state', state: next });
        }
    }

    get canCommand() {
        return canCommand(this.state);
    }

    handleOpen() {
        this.updateFacts({ relayOpen: true, everOpened: true, agentOnline: undefined });
        this.send(requestSnapshotMessage());
        if (this.openLogId) this.send(subscribeLogsMessage(this.openLogId));
    }

    handleClose() {
        this.updateFacts({ relayOpen: false, agentOnline: undefined, failedAttempts: this.facts.failedAttempts + 1 });
    }

    handleFrame(text) {
        const envelope = decodeEnvelope(text);
        if (!envelope) {
            ++this.stats.dropped;
            return;
        }
        switch (envelope.kind) {
        case 'welcome':
            this.connection?.markHealthy?.();
            if (envelope.online !== undefined) this.updateFacts({ agentOnline: envelope.online });
            return;
        case 'peerJoin':
        case 'peerLeave':
            if (envelope.role === 'agent') this.handleAgentPresence(envelope.kind === 'peerJoin');
            return;
        case 'msg':
            if (envelope.role === 'controller' || envelope.payload === undefined) {
                ++this.stats.dropped;
                return;
            }
            // Opening is asynchronous; the chain keeps messages in the order they came.
            this.inbox = this.inbox.then(() => this.openEnvelope(envelope)).catch(() => {});
            return;
        default:
            return; // pong, ping, register-device: nothing for a controller
        }
    }

    handleAgentPresence(online) {
        const now = this.clock.now();
        if (!online) {
            this.agentLeftAt = now;
        } else {
            // A leave and a join at once: the relay replaced the desktop's connection with
            // a newer one, maybe of another computer holding the same key.
            this.checkReplacement = this.agentLeftAt !== null && now - this.agentLeftAt < replacementWindowMs;
            this.send(requestSnapshotMessage());
        }
        this.updateFacts({ agentOnline: online });
    }

    async openEnvelope(envelope) {
        if (this.stopped) return;
        const opened = await openMessage(envelope.payload, this.key);
        if (opened.error) {
            this.handleUnopened(envelope);
            return;
        }
        this.accept(envelope, opened.message);
    }

    handleUnopened(envelope) {
        ++this.stats.unopened;
        if (this.unopened.length >= keptUnopened) this.unopened.shift();
        this.unopened.push(envelope);
        ++this.unopenedSinceOpened;
        if (this.openedWithKey > 0 && this.unopenedSinceOpened < unopenedBeforeAsking) return;
        if (this.password) this.updateFacts({ wrongPassword: true, needsPassword: false });
        else this.updateFacts({ needsPassword: true });
    }

    accept(envelope, message) {
        // The first 16 base64 characters are the 12-byte nonce: a payload seen before
        // is a replay and is dropped.
        const nonce = envelope.payload.slice(0, 16);
        if (this.nonces.has(nonce)) {
            ++this.stats.replayed;
            return;
        }
        this.nonces.add(nonce);
        this.nonceOrder.push(nonce);
        if (this.nonceOrder.length > rememberedNonces) this.nonces.delete(this.nonceOrder.shift());
        ++this.stats.opened;
        ++this.openedWithKey;
        this.unopenedSinceOpened = 0;
        this.unopened = [];
        this.updateFacts({ needsPassword: false, wrongPassword: false, lastUpdate: this.clock.now() });
        this.handleMessage(envelope, message);
    }

    handleMessage(envelope, message) {
        switch (message.type) {
        case 'snapshot':
            if (message.snapshot) this.takeSnapshot(message.snapshot);
            return;
        case 'logAppend':
            if (message.serverId && message.lines) this.takeLines(message.serverId, message.lines);
            return;
        case 'commandAck':
            if (message.serverId && message.action) this.takeAck(message);
            return;
        case 'notify':
            if (message.message !== undefined) {
                const server = this.serverById(message.serverId);
                this.emit({
                    type: 'alert', serverId: message.serverId ?? null, text: message.message,
                    kind: (envelope.tag && this.tagKinds.get(envelope.tag)) ?? 'info', name: server?.name ?? null,
                    at: this.clock.now(),
                });
            }
            return;
        default:
            return; // what a controller sends itself, or statusChange, which the desktop never sends
        }
    }

    takeSnapshot(snapshot) {
        // A snapshot older than the one shown (a relay's stale cache) changes nothing.
        if (this.snapshot && snapshot.generatedAt < this.snapshot.generatedAt) {
            ++this.stats.stale;
            return;
        }
        const previousName = this.snapshot?.macName ?? null;
        if (this.checkReplacement && previousName !== null && snapshot.macName !== previousName)
            this.updateFacts({ replacedBy: snapshot.macName });
        else if (!this.checkReplacement && this.facts.replacedBy !== null && snapshot.macName !== this.facts.replacedBy)
            this.updateFacts({ replacedBy: null });
        this.checkReplacement = false;
        this.snapshot = { ...snapshot, receivedAt: this.clock.now() };
        const ids = new Set(snapshot.servers.map((s) => s.id));
        for (const id of [...this.feedback.keys()]) if (!ids.has(id)) this.dropFeedback(id);
        if (previousName !== snapshot.macName && !this.facts.replacedBy)
            this.emit({ type: 'renamed', name: snapshot.macName });
        this.emit({ type: 'servers', snapshot: this.snapshot });
    }

    serverById(id) {
        return this.snapshot?.servers.find((s) => s.id === id) ?? null;
    }

    takeLines(serverId, lines) {
        const buffer = this.logs.get(serverId);
        if (!buffer) return; // lines of a server whose log is not open are not kept
        const change = buffer.add(lines);
        if (change.appended || change.removedFromFront || change.reordered)
            this.emit({ type: 'log', serverId, change });
    }

    // The log of one server: kept from now on and asked for (the desktop answers with
    // its recent lines, then every new line).
    openLog(serverId) {
        let buffer = this.logs.get(serverId);
        if (buffer) {
            this.logs.delete(serverId);
        } else {
            buffer = new LogBuffer();
            if (this.logs.size >= followedLogs) this.logs.delete(this.logs.keys().next().value);
        }
        this.logs.set(serverId, buffer);
        this.openLogId = serverId;
        this.send(subscribeLogsMessage(serverId));
        return buffer;
    }

    closeLog() {
        this.openLogId = null;
    }

    sendCommand(serverId, action) {
        this.dropFeedback(serverId);
        if (!this.canCommand) {
            this.setFeedback(serverId, { action, state: 'notSent' });
            return;
        }
        const timer = this.clock.setTimeout(() => {
            const entry = this.feedback.get(serverId);
            if (entry && entry.action === action && entry.state === 'pending')
                this.setFeedback(serverId, { action, state: 'noAnswer' });
        }, this.ackTimeoutMs);
        this.setFeedback(serverId, { action, state: 'pending', timer });
        this.send(commandMessage(serverId, action));
    }

    takeAck(message) {
        const entry = this.feedback.get(message.serverId);
        if (!entry || entry.action !== message.action || (entry.state !== 'pending' && entry.state !== 'noAnswer'))
            return;
        const ok = message.ok === true;
        this.setFeedback(message.serverId, {
            action: message.action, state: ok ? 'ok' : 'refused', message: message.message ?? null,
        });
        if (ok && message.action === 'clearLogs') {
            const buffer = this.logs.get(message.serverId);
            if (buffer) {
                buffer.clear();
                this.emit({ type: 'log', serverId: message.serverId, change: { cleared: true } });
            }
        }
    }

    setFeedback(serverId, entry) {
        const previous = this.feedback.get(serverId);
        if (previous && previous.timer && previous.timer !== entry.timer) this.clock.clearTimeout(previous.timer);
        this.feedback.set(serverId, { ...entry, at: this.clock.now() });
        this.emit({ type: 'feedback', serverId });
    }

    dropFeedback(serverId) {
        const previous = this.feedback.get(serverId);
        if (!previous) return;
        this.clock.clearTimeout(previous.timer);
        this.feedback.delete(serverId);
    }

    // Tries a password on the messages that did not open. { ok: true } when one
    // opens (the password is then in use and those messages are shown), { ok: false }
    // when none does, and { ok: true, untested: true } when there is nothing to try it on.
    async tryPassword(password) {
        const previousKey = this.key;
        const previousPassword = this.password;
        const previousTags = this.tagKinds;
        await this.useKey(password);
        const waiting = this.unopened;
        if (waiting.length === 0) {
            this.updateFacts({ needsPassword: false, wrongPassword: false });
            return { ok: true, untested: true };
        }
        const results = [];
        for (const envelope of waiting) results.push(await openMessage(envelope.payload, this.key));
        if (!results.some((r) => r.message)) {
            this.key = previousKey;
            this.password = previousPassword;
            this.tagKinds = previousTags;
            this.updateFacts({ wrongPassword: true, needsPassword: false });
            return { ok: false };
        }
        this.unopened = [];
        this.openedWithKey = 0;
        waiting.forEach((envelope, i) => {
            if (results[i].message) this.accept(envelope, results[i].message);
        });
        return { ok: true };
    }

    send(message) {
        if (!this.key) return;
        const key = this.key;
        this.outbox = this.outbox.then(async () => {
            const payload = await sealMessage(message, key);
            this.connection?.send(encodeMessageEnvelope(payload));
        }).catch(() => {});
    }
}
