// Pairing in the page against real relays and wardlampd: by a pasted key (white
// space around it is fine), by a link, with a password (a wrong one said plainly),
// several computers listed by name and forgotten, and what the browser keeps:
// nothing without the user's say-so, never a cookie. Keys that are not keys get
// a reason and send nothing.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { collectPageErrors, launchBrowser } from './support/browser.mjs';
import { ms } from './support/environment.mjs';
import { serverRow, waitForStatus } from './support/app.mjs';
import { writeQrVideo } from './support/fakeCamera.mjs';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { Daemon, startSystem, testServer } from './support/system.mjs';

let browser;
let system;
let locked; // a second computer, with a password, on the same relay

before(async () => {
    system = await startSystem({ macName: 'Studio', servers: [testServer('api', ['out:up', 'hold'])] });
    locked = await new Daemon({
        relay: system.relay, macName: 'Locked box', password: 'correct horse',
        servers: [testServer('vault', ['out:up', 'hold'])],
    }).start();
    browser = await launchBrowser();
});

after(async () => {
    await browser?.close();
    await locked?.stop();
    locked?.dispose();
    await system?.stop();
});

// The app with nothing kept: storage is cleared from a page of the same origin that
// is not the app (an app page might write its pairings again while it closes).
async function freshPage() {
    const page = await browser.context.newPage();
    await page.goto(system.relay.pageUrl + 'healthz');
    await page.evaluate(() => localStorage.clear());
    await page.goto(system.relay.pageUrl + '?nosw');
    await page.locator('#pairView').waitFor();
    return page;
}

test('a pasted key with white space and line breaks around it pairs, and is kept when asked', async () => {
    const page = await freshPage();
    const errors = collectPageErrors(page);
    await page.locator('#keyInput').fill(`\n   ${system.daemon.pairingKey}  \r\n\t`);
    await page.locator('#rememberInput').check();
    await page.locator('#pairButton').click();
    await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(20000) });
    await waitForStatus(page, 'api', 'running');
    assert.equal(await page.locator('#computerName').textContent(), 'Studio');
    const stored = JSON.parse(await page.evaluate(() => localStorage.getItem('wardlamp.pairings')));
    assert.deepEqual(stored.map((e) => [e.name, e.key, 'password' in e]), [['Studio', system.daemon.pairingKey, false]]);
    assert.deepEqual(await browser.context.cookies(), []);
    // Opened again, the page is paired at once.
    await page.reload();
    await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(20000) });
    assert.deepEqual(errors, []);
    await page.close();
});

test('a link pairs for this visit only, unless the user keeps it, and leaves no key in the address', async () => {
    const page = await freshPage();
    await page.goto(`${system.relay.pageUrl}?nosw#k=${system.daemon.pairingKey}`);
    await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(20000) });
    assert.equal(new URL(page.url()).hash, '');
    assert.equal(await page.evaluate(() => localStorage.getItem('wardlamp.pairings')), null);
    await page.locator('#keepCard').waitFor();
    await page.locator('#keepButton').click();
    assert.ok(await page.evaluate(() => localStorage.getItem('wardlamp.pairings')));
    await page.close();
});

test('a password is asked for, a wrong one is refused plainly, the right one opens', async () => {
    const page = await freshPage();
    await page.locator('#keyInput').fill(locked.pairingKey);
    await page.locator('#pairButton').click();
    await page.locator('#passwordCard').waitFor({ timeout: ms(20000) });
    assert.equal(await page.locator('#connectionState').getAttribute('data-kind'), 'needsPassword');
    await page.locator('#passwordInput').fill('wrong horse');
    await page.locator('#passwordButton').click();
    await page.locator('#passwordProblem', { hasText: 'That password does not open this computer\'s messages' }).waitFor();
    assert.equal(await page.locator('#connectionState').getAttribute('data-kind'), 'wrongPassword');
    await page.locator('#passwordInput').fill('correct horse');
    await page.locator('#passwordButton').click();
    await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(20000) });
    await waitForStatus(page, 'vault', 'running');
    assert.equal(await page.locator('#passwordCard').isHidden(), true);
    assert.equal(await page.locator('#computerName').textContent(), 'Locked box');
    await page.close();
});

test('keys that are not keys get a reason and nothing goes out', async () => {
    const page = await freshPage();
    let sockets = 0;
    page.on('websocket', () => ++sockets);
    const key = system.daemon.pairingKey;
    const rows = [
        [key.slice(0, key.length - 30), /damaged or incomplete/],
        [key.slice(0, 30) + ' ' + key.slice(30), /space or line break inside/],
        ['WL2.' + key.slice(4), /must begin with "WL1."/],
        ['{"v":1,"name":"x","secret":"AAAA"}', /must begin with "WL1."/],
        ['WL1.' + Buffer.from('{"v":1,"name":"x","secret":"AAAA"}').toString('base64url'), /wrong length/],
        ['   ', /No pairing key/],
    ];
    for (const [text, reason] of rows) {
        await page.locator('#keyInput').fill(text);
        await page.locator('#pairButton').click();
        await page.locator('#pairProblem', { hasText: reason }).waitFor();
    }
    assert.equal(sockets, 0);
    assert.equal(await page.evaluate(() => localStorage.length), 0);
    await page.close();
});

test('several computers are listed by name, switched between, and forgotten', async () => {
    const page = await freshPage();
    for (const [daemon, password] of [[system.daemon, null], [locked, 'correct horse']]) {
        if (await page.locator('#pairView').isHidden()) {
            await page.locator('#computerButton').click();
            await page.locator('#addComputer').click();
        }
        await page.locator('#keyInput').fill(daemon.pairingKey);
        await page.locator('#rememberInput').check();
        await page.locator('#pairButton').click();
        if (password) {
            await page.locator('#passwordInput').fill(password);
            await page.locator('#rememberPasswordInput').check();
            await page.locator('#passwordButton').click();
        }
        await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(20000) });
    }
    await page.locator('#computerButton').click();
    assert.deepEqual(await page.locator('#computerList strong').allTextContents(), ['Studio', 'Locked box']);
    const stored = JSON.parse(await page.evaluate(() => localStorage.getItem('wardlamp.pairings')));
    assert.equal(stored.find((e) => e.name === 'Locked box').password, 'correct horse');
    await page.locator('#computerList li', { hasText: 'Studio' }).locator('.pick').click();
    await serverRow(page, 'api').waitFor();
    assert.equal(await page.locator('#computerName').textContent(), 'Studio');
    await page.locator('#computerButton').click();
    await page.locator('#computerList li', { hasText: 'Studio' }).locator('.forget').click();
    assert.deepEqual(await page.locator('#computerList strong').allTextContents(), ['Locked box']);
    const after = JSON.parse(await page.evaluate(() => localStorage.getItem('wardlamp.pairings')));
    assert.deepEqual(after.map((e) => e.name), ['Locked box']);
    await page.locator('#computersDone').click();
    await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(20000) });
    await waitForStatus(page, 'vault', 'running');
    await page.close();
});

test('the camera reads the QR code of the pairing link', async () => {
    const folder = mkdtempSync(join(tmpdir(), 'wl-camera-'));
    const video = join(folder, 'qr.y4m');
    await writeQrVideo(video, `${system.relay.pageUrl}#k=${system.daemon.pairingKey}`);
    const camera = await launchBrowser(['--use-fake-device-for-media-stream', `--use-file-for-fake-video-capture=${video}`,
        '--use-fake-ui-for-media-stream']);
    try {
        await camera.context.grantPermissions(['camera'], { origin: system.relay.pageUrl.slice(0, -1) });
        const page = await camera.context.newPage();
        await page.goto(system.relay.pageUrl + '?nosw');
        await page.locator('#scanButton').click();
        await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(30000) });
        await waitForStatus(page, 'api', 'running');
        assert.equal(await page.locator('#scanner').evaluate((d) => d.open), false);
    } finally {
        await camera.close();
        rmSync(folder, { recursive: true, force: true });
    }
});
