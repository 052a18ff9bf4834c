// The relay serving the web controller: the files and their headers as HTTP sees
// them; the page in Chromium with no policy violation, its size on the wire, its
// service worker keeping the shell (the app opens while the relay is down);
// --web-root and --no-web; the same files from another origin with ?relay=; and a
// page that is not in a secure context saying so in words.

import assert from 'node:assert/strict';
import { request } from 'node:http';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { gunzipSync } from 'node:zlib';
import { after, before, test } from 'node:test';
import { collectPageErrors, launchBrowser } from './support/browser.mjs';
import { ms, webRoot } from './support/environment.mjs';
import { startStaticServer } from './support/staticServer.mjs';
import { Relay, startSystem, testServer } from './support/system.mjs';
import { serverRow, waitForStatus } from './support/app.mjs';

let system;
let browser;

before(async () => {
    system = await startSystem({ servers: [testServer('api', ['out:up', 'hold'])] });
    browser = await launchBrowser();
});

after(async () => {
    await browser?.close();
    await system?.stop();
});

function get(port, path, { method = 'GET', headers = {} } = {}) {
    return new Promise((resolve, reject) => {
        const req = request({ host: '127.0.0.1', port, path, method, headers: { Host: `127.0.0.1:${port}`, ...headers } },
            (res) => {
                const chunks = [];
                res.on('data', (c) => chunks.push(c));
                res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks) }));
            });
        req.on('error', reject);
        req.end();
    });
}

test('the page and its files come with strict headers', async () => {
    const port = system.relay.port;
    const page = await get(port, '/');
    assert.equal(page.status, 200);
    assert.equal(page.headers['content-type'], 'text/html; charset=utf-8');
    assert.equal(page.headers['cache-control'], 'no-cache');
    assert.equal(page.headers['referrer-policy'], 'no-referrer');
    assert.equal(page.headers['x-content-type-options'], 'nosniff');
    const csp = page.headers['content-security-policy'];
    assert.match(csp, /script-src 'self';/);
    assert.match(csp, new RegExp(`connect-src 'self' wss://127\\.0\\.0\\.1:${port} ws://127\\.0\\.0\\.1:${port};`));
    assert.doesNotMatch(csp, /unsafe/);
    assert.equal(page.headers['set-cookie'], undefined);
    const html = page.body.toString();
    assert.doesNotMatch(html, /<script>|<script [^>]*>[^<]/, 'no inline script');
    const script = html.match(/src="\.\/(app\.[A-Z0-9]+\.js)"/)[1];

    const asset = await get(port, `/${script}`, { headers: { 'Accept-Encoding': 'gzip, br' } });
    assert.equal(asset.status, 200);
    assert.equal(asset.headers['cache-control'], 'public, max-age=31536000, immutable');
    assert.equal(asset.headers['content-encoding'], 'gzip');
    assert.equal(asset.headers['content-type'], 'text/javascript; charset=utf-8');
    const plain = await get(port, `/${script}`);
    assert.deepEqual(gunzipSync(asset.body), plain.body);
    assert.equal(plain.headers['content-encoding'], undefined);

    const head = await get(port, '/', { method: 'HEAD' });
    assert.equal(head.status, 200);
    assert.equal(head.body.length, 0);
    assert.equal(Number(head.headers['content-length']), page.body.length);
    assert.equal((await get(port, '/', { headers: { 'If-None-Match': page.headers.etag } })).status, 304);
    assert.equal((await get(port, '/missing.js')).status, 404);
    assert.equal((await get(port, '/../../etc/passwd')).status, 404);
    assert.equal((await get(port, '/', { method: 'POST' })).status, 405);
    assert.equal((await get(port, '/healthz')).body.toString(), 'ok');
    assert.equal((await get(port, '/manifest.webmanifest')).headers['content-type'], 'application/manifest+json');
});

test('in Chromium: no policy violation, small on the wire, and the shell works offline', async () => {
    const page = await browser.context.newPage();
    const errors = collectPageErrors(page);
    let transferred = 0;
    const cdp = await browser.context.newCDPSession(page);
    await cdp.send('Network.enable');
    cdp.on('Network.loadingFinished', (event) => { transferred += event.encodedDataLength; });
    await page.goto(`${system.relay.pageUrl}#k=${system.daemon.pairingKey}`);
    await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(20000) });
    await waitForStatus(page, 'api', 'running');
    assert.ok(transferred > 0 && transferred <= 150 * 1024, `${transferred} bytes on the wire`);
    const violations = await page.evaluate(() => new Promise((resolve) => {
        const seen = [];
        document.addEventListener('securitypolicyviolation', (e) => seen.push(e.violatedDirective));
        setTimeout(() => resolve(seen), 300);
    }));
    assert.deepEqual(violations, []);

    // The service worker keeps the shell: with the relay gone, the app still opens.
    await page.waitForFunction(async () => (await navigator.serviceWorker.ready).active !== null, null, { timeout: ms(20000) });
    const cached = await page.evaluate(async () => {
        const names = await caches.keys();
        const cache = await caches.open(names[0]);
        return (await cache.keys()).map((r) => new URL(r.url).pathname);
    });
    assert.ok(cached.includes('/') && cached.some((p) => /^\/app\.[A-Z0-9]+\.js$/.test(p)), cached.join(' '));
    assert.ok(!cached.some((p) => p.includes('connect')), 'no payload is cached');
    await page.locator('#keepButton').click(); // so that the page opens paired again
    await system.relay.stop();
    try {
        await page.reload();
        await page.locator('#listView').waitFor({ timeout: ms(20000) });
        await page.locator('#connectionState[data-kind="offline"]').waitFor({ timeout: ms(20000) });
    } finally {
        await system.relay.start();
    }
    await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(40000) });
    assert.deepEqual(errors.filter((e) => !e.includes('ERR_CONNECTION_REFUSED') && !e.includes('WebSocket')), []);
    await page.close();
});

test('--web-root serves another copy and --no-web serves none', async () => {
    const folder = mkdtempSync(join(tmpdir(), 'wl-webroot-'));
    writeFileSync(join(folder, 'index.html'), '<!doctype html><title>own copy</title>');
    const own = await new Relay(['--web-root', folder]).start();
    const none = await new Relay(['--no-web']).start();
    try {
        const page = await get(own.port, '/');
        assert.equal(page.body.toString(), '<!doctype html><title>own copy</title>');
        assert.match(page.headers['content-security-policy'], /script-src 'self'/);
        assert.equal((await get(own.port, '/app.js')).status, 404);
        assert.equal((await get(none.port, '/')).status, 404);
        assert.equal((await get(none.port, '/healthz')).status, 200);
    } finally {
        await own.stop();
        await none.stop();
        rmSync(folder, { recursive: true, force: true });
    }
});

test('the same files from another origin, with ?relay=', async () => {
    const elsewhere = await startStaticServer({ '/': join(webRoot, 'dist') });
    try {
        const page = await browser.context.newPage();
        const origin = elsewhere.url.replace('127.0.0.1', 'localhost');
        await page.goto(`${origin}/index.html?nosw&relay=${encodeURIComponent(system.relay.url)}#k=${system.daemon.pairingKey}`);
        await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(20000) });
        await serverRow(page, 'api').waitFor();
        await page.close();
    } finally {
        await elsewhere.close();
    }
});

test('outside a secure context the page says why it cannot work', async () => {
    const insecure = await launchBrowser(['--host-resolver-rules=MAP relay.test 127.0.0.1']);
    try {
        const page = await insecure.context.newPage();
        await page.goto(`http://relay.test:${system.relay.port}/?nosw`);
        await page.locator('#unsupportedView').waitFor();
        assert.match(await page.locator('#unsupportedText').textContent(), /needs a secure connection.*https:\/\//);
        assert.equal(await page.locator('#pairView').isHidden(), true);
    } finally {
        await insecure.close();
    }
});
