// A hostile relay, played by the test in place of the WebSocket (Playwright's
// routeWebSocket): garbage, frames too large, messages sealed under another key,
// replays, markup in every text the desktop sends, a snapshot of 500 servers and a
// 64 KiB log line. The page drops what it must, shows text as text, and goes on.

import assert from 'node:assert/strict';
import { webcrypto } from 'node:crypto';
import { after, before, test } from 'node:test';
import { collectPageErrors, launchBrowser } from './support/browser.mjs';
import { ms } from './support/environment.mjs';
import { Relay, pairingKeyOf } from './support/system.mjs';

globalThis.crypto ??= webcrypto;
const RemoteCrypto = await import('../../src/web/app/protocol/RemoteCrypto.js');
const { sealMessage } = await import('../../src/web/app/protocol/SealedMessages.js');

const secret = Buffer.alloc(32, 5);
const otherSecret = Buffer.alloc(32, 6);
let browser;
let relay;
let key;
let otherKey;

before(async () => {
    relay = await new Relay().start(); // serves the page; the WebSocket never reaches it
    browser = await launchBrowser();
    key = await RemoteCrypto.contentKey(secret, '');
    otherKey = await RemoteCrypto.contentKey(otherSecret, '');
});

after(async () => {
    await browser?.close();
    await relay?.stop();
});

const uuid = (n) => `00000000-0000-4000-8000-${String(n).padStart(12, '0')}`;
const sealed = async (message, withKey = key) =>
    JSON.stringify({ v: 1, kind: 'msg', role: 'agent', payload: await sealMessage(message, withKey) });
const hostile = '<img src=x onerror="window.__pwned=1"><script>window.__pwned=2</script>';

function server(n, extra = {}) {
    return { id: uuid(n), name: `server ${n}`, command: 'x', status: n % 3 === 0 ? 'error' : 'running', hasError: n % 3 === 0,
        pid: 1000 + n, startedAt: Date.now() - 60000, ...extra };
}

// Opens the app with the relay's side scripted: `script(ws, onPageMessage)` runs when
// the page connects.
async function openWithRelay(script) {
    const page = await browser.context.newPage();
    const errors = collectPageErrors(page);
    const sentByPage = [];
    await page.routeWebSocket(/\/connect\?/, (ws) => {
        const listeners = [];
        ws.onMessage((text) => {
            sentByPage.push(text);
            for (const listener of listeners) listener(text);
        });
        script(ws, (listener) => listeners.push(listener));
    });
    await page.goto(`${relay.pageUrl}?nosw#k=${pairingKeyOf(secret, 'Hostile')}`);
    return { page, errors, sentByPage };
}

test('garbage, oversized frames, replays and foreign messages are dropped; markup stays text', async () => {
    const snapshot = { type: 'snapshot', snapshot: { macName: hostile, generatedAt: Date.now(),
        servers: [server(1, { name: hostile }), server(2)] } };
    const replay = await sealed({ type: 'snapshot', snapshot: { macName: 'replayed', generatedAt: Date.now() + 5000,
        servers: [server(1, { name: hostile })] } });
    const frames = [
        '{"v":1,"kind":"welcome","online":true}',
        'garbage', '', '[1,2,3]', '{"v":1,"kind":"msg","payload":"!!!"}', '{"v":1,"kind":"msg"}',
        '{"kind":"msg","payload":"AAAA"}', JSON.stringify({ v: 1, kind: 'msg', role: 'agent', payload: 'A'.repeat(40) }),
        await sealed({ type: 'snapshot', snapshot: { macName: 'FOREIGN', generatedAt: Date.now(), servers: [] } }, otherKey),
        'x'.repeat(17 * 1024 * 1024),
        await sealed(snapshot),
        await sealed({ type: 'notify', serverId: uuid(1), message: hostile }),
    ];
    const hostileLine = () => sealed({ type: 'logAppend', serverId: uuid(1),
        lines: [{ id: uuid(99), date: 1733700000000, text: hostile, isError: true }] });
    const { page, errors, sentByPage } = await openWithRelay(async (ws, onPageMessage) => {
        for (const frame of frames) ws.send(frame);
        // The same payload twice: the second is a replay.
        setTimeout(() => { ws.send(replay); ws.send(replay); }, 300);
        onPageMessage(async () => ws.send(await hostileLine())); // whatever the page asks, this line comes back
    });
    await page.locator('#computerName', { hasText: 'replayed' }).waitFor({ timeout: ms(20000) });
    await page.locator('.toast', { hasText: hostile }).waitFor();
    assert.equal(await page.locator('li.server').count(), 1);
    assert.equal(await page.locator('.server-name').textContent(), hostile);
    await page.locator('.server-main').click();
    await page.locator('#logLines .line.error .line-text', { hasText: hostile }).waitFor({ timeout: ms(20000) });
    const state = await page.evaluate(() => ({ pwned: window.__pwned ?? null, images: document.images.length,
        scripts: document.querySelectorAll('script').length, stats: window.wardlamp.session.stats }));
    assert.equal(state.pwned, null);
    assert.equal(state.images, 0);
    assert.equal(state.scripts, 1);
    assert.equal(state.stats.replayed, 1);
    assert.ok(state.stats.dropped >= 5 && state.stats.unopened >= 3, JSON.stringify(state.stats));
    assert.equal(await page.locator('#connectionState').getAttribute('data-kind'), 'online', 'foreign messages ask no password once ours open');
    assert.ok(sentByPage.length >= 2, 'the page asked for a snapshot and the log');
    assert.deepEqual(errors, []);
    await page.close();
});

test('500 servers and a 64 KiB line', async () => {
    const servers = Array.from({ length: 500 }, (_, i) => server(i + 1));
    const { page, errors } = await openWithRelay(async (ws, onPageMessage) => {
        ws.send('{"v":1,"kind":"welcome","online":true}');
        ws.send(await sealed({ type: 'snapshot', snapshot: { macName: 'Big', generatedAt: Date.now(), servers } }));
        onPageMessage(async () => {
            ws.send(await sealed({ type: 'logAppend', serverId: uuid(7), lines: [
                { id: uuid(1001), date: Date.now(), text: 'y'.repeat(65536), isError: false },
                { id: uuid(1002), date: Date.now(), text: 'after', isError: false }] }));
        });
    });
    await page.waitForFunction(() => document.querySelectorAll('li.server').length === 500, null, { timeout: ms(20000) });
    const started = Date.now();
    await page.locator('li.server').nth(6).locator('.server-main').click();
    await page.locator('#logLines .line-text', { hasText: 'after' }).waitFor({ timeout: ms(20000) });
    assert.ok(Date.now() - started < ms(5000));
    const longest = await page.locator('#logLines .line-text').evaluateAll((n) => Math.max(...n.map((x) => x.textContent.length)));
    assert.equal(longest, 65536);
    assert.deepEqual(errors, []);
    await page.close();
});

test('a binary frame holding an envelope is taken like text', async () => {
    const { page } = await openWithRelay(async (ws) => {
        ws.send(Buffer.from('{"v":1,"kind":"welcome","online":true}'));
        ws.send(Buffer.from(await sealed({ type: 'snapshot', snapshot: { macName: 'Binary', generatedAt: Date.now(), servers: [server(3)] } })));
    });
    await page.locator('.server-name', { hasText: 'server 3' }).waitFor({ timeout: ms(20000) });
    assert.equal(await page.locator('#computerName').textContent(), 'Binary');
    await page.close();
});
