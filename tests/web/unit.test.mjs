// The web controller's pure parts under Node: tables for the decisions, and the
// session's handling of what a relay sends, with a scripted connection in place
// of the WebSocket (Node's WebCrypto does the same work as the browser's).

import assert from 'node:assert/strict';
import { webcrypto } from 'node:crypto';
import { describe, test } from 'node:test';

globalThis.crypto ??= webcrypto;

const app = '../../src/web/app/';
const { LogBuffer, lineMatches } = await import(app + 'model/LogBuffer.js');
const { reconnectDelayMs } = await import(app + 'model/ReconnectSchedule.js');
const Format = await import(app + 'model/Format.js');
const { connectionState, canCommand } = await import(app + 'model/ConnectionState.js');
const { parsePairingKey, encodePairingKey } = await import(app + 'protocol/PairingCredential.js');
const { relayEndpointForPage, connectUrl, keyFromFragment, parseRelayEndpoint } = await import(app + 'model/RelayAddress.js');
const { parseStrictJson } = await import(app + 'protocol/StrictJson.js');
const { shouldNotifySystem } = await import(app + 'model/AlertPolicy.js');
const { PairingBook } = await import(app + 'model/PairingBook.js');
const { ControllerSession } = await import(app + 'model/ControllerSession.js');
const RemoteCrypto = await import(app + 'protocol/RemoteCrypto.js');
const { sealMessage, openMessage } = await import(app + 'protocol/SealedMessages.js');

const line = (n, date = n) => ({ id: `ID-${n}`, date, text: `line ${n}`, isError: false });

describe('LogBuffer', () => {
    test('keeps each line once, whatever way it comes again', () => {
        const buffer = new LogBuffer(10);
        assert.deepEqual(buffer.add([line(1), line(2), line(3)]), { appended: 3, removedFromFront: 0, reordered: false });
        assert.deepEqual(buffer.add([line(2), line(3), line(4)]), { appended: 1, removedFromFront: 0, reordered: false });
        assert.deepEqual(buffer.lines.map((l) => l.id), ['ID-1', 'ID-2', 'ID-3', 'ID-4']);
    });

    test('holds at most the cap, dropping the oldest', () => {
        const buffer = new LogBuffer(2000);
        buffer.add(Array.from({ length: 1500 }, (_, i) => line(i)));
        const change = buffer.add(Array.from({ length: 1500 }, (_, i) => line(1500 + i)));
        assert.deepEqual(change, { appended: 1500, removedFromFront: 1000, reordered: false });
        assert.equal(buffer.size, 2000);
        assert.equal(buffer.lines[0].id, 'ID-1000');
        assert.equal(buffer.ids.size, 2000);
        // A line older than all that is kept, sent again (a backlog after a reconnection), stays out.
        assert.deepEqual(buffer.add([line(5)]), { appended: 0, removedFromFront: 0, reordered: false });
        assert.equal(buffer.size, 2000);
    });

    test('a late older line goes to its place by date', () => {
        const buffer = new LogBuffer(10);
        buffer.add([line(1, 10), line(3, 30)]);
        const change = buffer.add([line(2, 20)]);
        assert.equal(change.reordered, true);
        assert.deepEqual(buffer.lines.map((l) => l.id), ['ID-1', 'ID-2', 'ID-3']);
        buffer.add([line(4, 30)]); // the same date: after the one that came first
        assert.deepEqual(buffer.lines.map((l) => l.id), ['ID-1', 'ID-2', 'ID-3', 'ID-4']);
    });

    test('clear forgets the ids too', () => {
        const buffer = new LogBuffer(10);
        buffer.add([line(1)]);
        buffer.clear();
        assert.equal(buffer.add([line(1)]).appended, 1);
    });

    test('search is plain, case-insensitive text', () => {
        assert.equal(lineMatches({ text: 'Error: listen EADDRINUSE' }, 'eaddrinuse'), true);
        assert.equal(lineMatches({ text: 'a.b' }, '.*'), false);
        assert.equal(lineMatches({ text: 'anything' }, ''), true);
    });
});

test('reconnect delays double up to 30 s, plus at most 0.5 s', () => {
    const rows = [[0, 0, 500], [1, 0, 1000], [5, 0, 16000], [6, 0, 30000], [60, 0, 30000], [0, 1, 1000], [-3, 0, 500]];
    for (const [attempt, random, expected] of rows) assert.equal(reconnectDelayMs(attempt, random), expected, `${attempt}`);
});

test('uptime texts', () => {
    const rows = [[0, '0 s'], [59.9, '59 s'], [60, '1 min'], [3599, '59 min'], [3600, '1 h 00 min'], [3 * 3600 + 7 * 60, '3 h 07 min'],
        [2 * 86400 + 4 * 3600, '2 d 4 h'], [-1, ''], [NaN, '']];
    for (const [seconds, text] of rows) assert.equal(Format.uptimeText(seconds), text, `${seconds}`);
    // The desktop's clock decides: started 60 s before the snapshot, which came 5 s ago.
    assert.equal(Format.uptimeSeconds({ status: 'running', startedAt: 1000 }, 61000, 500000, 505000), 65);
    assert.equal(Format.uptimeSeconds({ status: 'stopped', startedAt: 1000 }, 61000, 0, 0), undefined);
    assert.equal(Format.uptimeSeconds({ status: 'running' }, 61000, 0, 0), undefined);
});

test('which commands a server allows, and the line under its name', () => {
    const alive = { start: false, stop: true, restart: true, clearLogs: true };
    const gone = { start: true, stop: false, restart: false, clearLogs: true };
    const rows = [
        [{ status: 'running', pid: 7 }, alive, 'up 1 min · pid 7'],
        [{ status: 'error', pid: 7 }, alive, 'error · up 1 min · pid 7'], // an error line; the process runs on
        [{ status: 'error', lastExitCode: 3 }, gone, 'error · exited with 3'],
        [{ status: 'error' }, gone, 'error'],
        [{ status: 'stopped' }, gone, 'stopped'],
        [{ status: 'stopped', lastExitCode: 0 }, gone, 'stopped'],
        [{ status: 'stopped', lastExitCode: 143 }, gone, 'exited with 143'],
    ];
    for (const [server, actions, detail] of rows) {
        assert.deepEqual(Format.availableActions(server, true), actions, JSON.stringify(server));
        assert.equal(Format.serverDetail(server, server.pid ? 60 : undefined), detail, JSON.stringify(server));
    }
    assert.deepEqual(Format.availableActions({ status: 'running', pid: 1 }, false),
        { start: false, stop: false, restart: false, clearLogs: false });
});

test('feedback texts', () => {
    assert.equal(Format.feedbackText({ action: 'stop', state: 'ok' }), 'Stop: acknowledged by the desktop');
    assert.equal(Format.feedbackText({ action: 'clearLogs', state: 'refused', message: 'not found' }),
        'Clear logs: refused by the desktop (not found)');
    assert.match(Format.feedbackText({ action: 'restart', state: 'noAnswer' }), /no answer/);
    assert.equal(Format.feedbackText(undefined), '');
});

test('connection states by their facts', () => {
    const base = { relayOpen: true, everOpened: true, failedAttempts: 0, agentOnline: true, needsPassword: false,
        wrongPassword: false, replacedBy: null, lastUpdate: 5 };
    const rows = [
        [{}, 'online'],
        [{ relayOpen: false, everOpened: false }, 'connecting'],
        [{ relayOpen: false }, 'offline'],
        [{ relayOpen: false, everOpened: false, failedAttempts: 1 }, 'offline'],
        [{ agentOnline: false }, 'desktopOffline'],
        [{ agentOnline: undefined }, 'connecting'],
        [{ needsPassword: true }, 'needsPassword'],
        [{ wrongPassword: true, needsPassword: true }, 'wrongPassword'],
        [{ agentOnline: false, needsPassword: true }, 'needsPassword'],
        [{ replacedBy: 'Other' }, 'replaced'],
    ];
    for (const [changes, kind] of rows) assert.equal(connectionState({ ...base, ...changes }).kind, kind, JSON.stringify(changes));
    assert.equal(connectionState({ ...base, relayOpen: false }).lastUpdate, 5);
    assert.equal(canCommand({ kind: 'online' }), true);
    assert.equal(canCommand({ kind: 'desktopOffline' }), false);
    assert.match(Format.connectionText({ kind: 'offline', lastUpdate: new Date(2026, 0, 1, 14, 3, 22).getTime() }),
        /^Offline · 14:03:22$/);
});

describe('pairing keys', () => {
    const secret = new Uint8Array(32).map((_, i) => i);
    const key = encodePairingKey({ v: 1, name: 'Studio', secret });

    test('white space and line breaks around the key are accepted', () => {
        for (const text of [key, `  ${key}\n`, `\r\n\t${key} \u00a0`, `\u2028${key}`]) {
            assert.equal(parsePairingKey(text).credential?.name, 'Studio', JSON.stringify(text));
        }
    });

    test('a broken key says why in words', () => {
        const rows = [
            ['', /No pairing key/],
            ['hello', /must begin with "WL1."/],
            [key.replace('WL1.', 'wl1.'), /in capitals/],
            [key.slice(0, 40), /damaged or incomplete/],
            [key.slice(0, 20) + '\n' + key.slice(20), /space or line break inside/],
            [encodePairingKey({ v: 1, name: 'x', secret: secret.subarray(0, 31) }), /wrong length/],
            ['WL1.' + Buffer.from('{"v":1,"name":"a","name":"b","secret":"AAAA"}').toString('base64url'), /damaged/],
            [`\ufeff${key}`, /must begin/], // a byte order mark is not white space for the desktop either
        ];
        for (const [text, problem] of rows) {
            const parsed = parsePairingKey(text);
            assert.equal(parsed.credential, undefined, text);
            assert.match(parsed.problem, problem, text);
        }
    });
});

test('relay addresses seen from the page', () => {
    const at = (href) => relayEndpointForPage(new URL(href));
    assert.deepEqual(at('https://relay.example.net/'), { endpoint: 'wss://relay.example.net/' });
    assert.deepEqual(at('https://example.net/relay/?x=1#k=abc'), { endpoint: 'wss://example.net/relay/' });
    assert.deepEqual(at('http://127.0.0.1:8080/index.html'), { endpoint: 'ws://127.0.0.1:8080/' });
    assert.deepEqual(at('https://pages.example.org/wl/?relay=wss://relay.example.net/r'),
        { endpoint: 'wss://relay.example.net/r/' });
    assert.match(at('https://pages.example.org/?relay=https://relay.example.net/').problem, /not a relay address/);
    assert.match(at('https://pages.example.org/?relay=javascript:alert(1)').problem, /not a relay address/);
    assert.match(at('file:///tmp/index.html').problem, /add \?relay=/);
    assert.equal(parseRelayEndpoint('wss://me:pw@relay.example.net/'), undefined);
    assert.equal(connectUrl('wss://example.net/relay/', 'ab'.repeat(16)),
        `wss://example.net/relay/connect?room=${'ab'.repeat(16)}&role=controller`);
    assert.equal(keyFromFragment('#k=WL1.abc-_'), 'WL1.abc-_');
    assert.equal(keyFromFragment('#other=1'), undefined);
    assert.equal(keyFromFragment(''), undefined);
});

test('strict JSON refuses what the desktop refuses', () => {
    for (const text of ['{"a":1,"a":1}', '{"a":"\\ud800"}', '[1,]', '01', '1e999', '"\t"', '{"a":1}x', '[' .repeat(600) + ']'.repeat(600)])
        assert.equal(parseStrictJson(text), undefined, text);
    assert.deepEqual({ ...parseStrictJson(' {"a":[1,2.5,-3e2,true,null,"\\u00e9"]} ') }, { a: [1, 2.5, -300, true, null, 'é'] });
    assert.equal(Object.getPrototypeOf(parseStrictJson('{"__proto__":1}')), null);
});

test('system notifications only when allowed, wanted and in the background', () => {
    const rows = [
        [{ enabled: true, permission: 'granted', hidden: true }, true],
        [{ enabled: true, permission: 'granted', hidden: false }, false],
        [{ enabled: false, permission: 'granted', hidden: true }, false],
        [{ enabled: true, permission: 'default', hidden: true }, false],
        [{ enabled: true, permission: 'denied', hidden: true }, false],
    ];
    for (const [facts, expected] of rows) assert.equal(shouldNotifySystem(facts), expected, JSON.stringify(facts));
});

class MemoryStorage {
    constructor() { this.map = new Map(); }
    getItem(k) { return this.map.has(k) ? this.map.get(k) : null; }
    setItem(k, v) { this.map.set(k, String(v)); }
    removeItem(k) { this.map.delete(k); }
}

test('the pairing book stores only what the user asked to keep', () => {
    const storage = new MemoryStorage();
    const book = new PairingBook(storage);
    book.put({ roomId: 'a', name: 'A', key: 'WL1.a', relay: 'wss://r/', password: 'pw', remember: false });
    assert.equal(storage.map.size, 0, 'nothing stored without consent');
    book.put({ roomId: 'b', name: 'B', key: 'WL1.b', relay: 'wss://r/', password: 'pw', remember: true, rememberPassword: false });
    const stored = JSON.parse(storage.getItem('wardlamp.pairings'));
    assert.deepEqual(stored, [{ roomId: 'b', name: 'B', key: 'WL1.b', relay: 'wss://r/' }], 'no password without consent');
    book.update('b', { rememberPassword: true });
    assert.equal(JSON.parse(storage.getItem('wardlamp.pairings'))[0].password, 'pw');
    const again = new PairingBook(storage);
    assert.deepEqual(again.entries.map((e) => e.roomId), ['b']);
    assert.equal(again.current().password, 'pw');
    again.forget('b');
    assert.equal(storage.map.size, 0);
    storage.setItem('wardlamp.pairings', '{not json');
    assert.deepEqual(new PairingBook(storage).entries, []);
});

// A relay played by the test: frames go in through `deliver`, what the page sends is kept.
function scriptedSession({ password = '', secret = new Uint8Array(32).fill(9) } = {}) {
    const sent = [];
    let handlers;
    const connection = {
        start() { handlers.open(); },
        stop() {},
        send(text) { sent.push(JSON.parse(text)); return true; },
        markHealthy() {},
        retryNow() {},
    };
    let now = 1000;
    const timers = [];
    const session = new ControllerSession({
        credential: { v: 1, name: 'Desk', secret }, endpoint: 'ws://127.0.0.1:1/', password,
        connectionFactory: (url, h) => { handlers = h; connection.url = url; return connection; },
        clock: { now: () => now, setTimeout: (f, ms) => { timers.push({ f, at: now + ms }); return timers.length; },
            clearTimeout: () => {} },
    });
    const events = [];
    session.subscribe((e) => events.push(e));
    return {
        session, sent, events, connection,
        deliver: (value) => handlers.frame(typeof value === 'string' ? value : JSON.stringify(value)),
        advance: (ms) => { now += ms; for (const t of timers.splice(0)) if (t.at <= now) t.f(); else timers.push(t); },
        settle: () => session.inbox.then(() => session.outbox),
    };
}

async function sealedEnvelope(message, secret, password = '') {
    const key = await RemoteCrypto.contentKey(secret, password);
    return { v: 1, kind: 'msg', role: 'agent', payload: await sealMessage(message, key) };
}

const serverA = { id: '6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B', name: 'api', command: 'x', status: 'running', hasError: false };
const snapshotOf = (macName, generatedAt, servers = [serverA]) => ({ type: 'snapshot', snapshot: { macName, servers, generatedAt } });

describe('controller session', () => {
    test('hostile frames are dropped and the page goes on', async () => {
        const t = scriptedSession();
        await t.session.start();
        const secret = new Uint8Array(32).fill(9);
        for (const junk of ['', 'not json', '[]', '{"v":1}', '{"v":1,"kind":"bogus"}', '{"v":"1","kind":"msg"}',
            '{"v":1,"kind":"msg","payload":"@@@"}', '{"v":1,"kind":"msg","payload":"AAAA"}', 'x'.repeat(100000)])
            t.deliver(junk);
        t.deliver({ v: 1, kind: 'welcome', online: true });
        t.deliver(await sealedEnvelope(snapshotOf('<img src=x onerror=alert(1)>', 5), secret));
        await t.settle();
        assert.equal(t.session.state.kind, 'online');
        assert.equal(t.session.snapshot.macName, '<img src=x onerror=alert(1)>');
        assert.ok(t.session.stats.dropped >= 5);
    });

    test('a message sealed under another key asks for the password, which then opens it', async () => {
        const secret = new Uint8Array(32).fill(9);
        const t = scriptedSession({ secret });
        await t.session.start();
        t.deliver({ v: 1, kind: 'welcome', online: true });
        t.deliver(await sealedEnvelope(snapshotOf('Desk', 5), secret, 'hunter2'));
        await t.settle();
        assert.equal(t.session.state.kind, 'needsPassword');
        assert.deepEqual(await t.session.tryPassword('hunter3'), { ok: false });
        assert.equal(t.session.state.kind, 'wrongPassword');
        assert.deepEqual(await t.session.tryPassword('hunter2'), { ok: true });
        assert.equal(t.session.state.kind, 'online');
        assert.equal(t.session.snapshot.macName, 'Desk');
    });

    test('a replayed payload is taken once, a stale snapshot not at all', async () => {
        const secret = new Uint8Array(32).fill(9);
        const t = scriptedSession({ secret });
        await t.session.start();
        t.deliver({ v: 1, kind: 'welcome', online: true });
        const newer = await sealedEnvelope(snapshotOf('Desk', 20), secret);
        t.deliver(newer);
        t.deliver(newer);
        t.deliver(await sealedEnvelope(snapshotOf('Old name', 10), secret));
        await t.settle();
        assert.equal(t.session.stats.replayed, 1);
        assert.equal(t.session.stats.stale, 1);
        assert.equal(t.session.snapshot.macName, 'Desk');
    });

    test('commands are acknowledged, refused, or time out', async () => {
        const secret = new Uint8Array(32).fill(9);
        const t = scriptedSession({ secret });
        await t.session.start();
        t.deliver({ v: 1, kind: 'welcome', online: true });
        t.deliver(await sealedEnvelope(snapshotOf('Desk', 5), secret));
        await t.settle();
        t.session.sendCommand(serverA.id, 'stop');
        await t.settle();
        const key = await RemoteCrypto.contentKey(secret, '');
        const sentCommand = await openMessage(t.sent.at(-1).payload, key);
        assert.deepEqual(sentCommand.message, { type: 'command', serverId: serverA.id, action: 'stop' });
        assert.equal(t.session.feedback.get(serverA.id).state, 'pending');
        t.deliver(await sealedEnvelope({ type: 'commandAck', serverId: serverA.id, action: 'stop', ok: true }, secret));
        await t.settle();
        assert.equal(t.session.feedback.get(serverA.id).state, 'ok');
        t.session.sendCommand(serverA.id, 'restart');
        t.deliver(await sealedEnvelope({ type: 'commandAck', serverId: serverA.id, action: 'restart', ok: false,
            message: 'not now' }, secret));
        await t.settle();
        assert.deepEqual([t.session.feedback.get(serverA.id).state, t.session.feedback.get(serverA.id).message],
            ['refused', 'not now']);
        t.session.sendCommand(serverA.id, 'start');
        t.advance(10001);
        assert.equal(t.session.feedback.get(serverA.id).state, 'noAnswer');
    });

    test('an agent replaced by another computer with the same key is told apart', async () => {
        const secret = new Uint8Array(32).fill(9);
        const t = scriptedSession({ secret });
        await t.session.start();
        t.deliver({ v: 1, kind: 'welcome', online: true });
        t.deliver(await sealedEnvelope(snapshotOf('Desk', 5), secret));
        await t.settle();
        t.deliver({ v: 1, kind: 'peerLeave', role: 'agent' });
        t.deliver({ v: 1, kind: 'peerJoin', role: 'agent' });
        t.deliver(await sealedEnvelope(snapshotOf('Laptop', 6), secret));
        await t.settle();
        assert.deepEqual(t.session.state, { kind: 'replaced', by: 'Laptop' });
    });

    test('lines of an open log are kept once across repeats', async () => {
        const secret = new Uint8Array(32).fill(9);
        const t = scriptedSession({ secret });
        await t.session.start();
        t.deliver({ v: 1, kind: 'welcome', online: true });
        const buffer = t.session.openLog(serverA.id);
        const lines = [1, 2, 3].map((n) => ({ id: `00000000-0000-4000-8000-00000000000${n}`, date: n, text: `l${n}`, isError: n === 3 }));
        t.deliver(await sealedEnvelope({ type: 'logAppend', serverId: serverA.id, lines: lines.slice(0, 2) }, secret));
        t.deliver(await sealedEnvelope({ type: 'logAppend', serverId: serverA.id, lines }, secret));
        t.deliver(await sealedEnvelope({ type: 'logAppend', serverId: '0D9E8F7A-6B5C-4D3E-9F2A-1B0C9D8E7F6A', lines }, secret));
        await t.settle();
        assert.deepEqual(buffer.lines.map((l) => l.text), ['l1', 'l2', 'l3']);
        assert.equal(t.session.logs.size, 1, 'lines of a server whose log is not open are not kept');
    });
});
