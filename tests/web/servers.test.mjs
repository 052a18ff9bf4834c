// The server list on a phone (390×844, touch) against a real relay and wardlampd:
// it follows starts, stops and a crash from the snapshots; Start, Stop, Restart
// and Clear logs each show the desktop's acknowledgement; a status announcement
// becomes a toast; nothing overflows down to 320 px.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { collectPageErrors, launchBrowser } from './support/browser.mjs';
import { ms } from './support/environment.mjs';
import { openPaired, serverRow, waitForStatus } from './support/app.mjs';
import { startSystem, testServer } from './support/system.mjs';

let browser;
let system;
let page;
let errors;

before(async () => {
    system = await startSystem({
        macName: 'Build box',
        servers: [
            testServer('api', ['out:api-up', 'hold']),
            testServer('worker', ['out:worker-up', 'hold'], { autostart: false }),
            testServer('crasher', ['out:about-to-crash', 'sleep:1500', 'err:Error:boom', 'exit:3'], { autostart: false }),
        ],
    });
    browser = await launchBrowser([], { hasTouch: true, isMobile: true, deviceScaleFactor: 2 });
    page = await openPaired(browser.context, system);
    errors = collectPageErrors(page);
});

after(async () => {
    await browser?.close();
    await system?.stop();
});

test('the list shows each server with its status, uptime and pid', async () => {
    await waitForStatus(page, 'api', 'running');
    await waitForStatus(page, 'worker', 'stopped');
    assert.equal(await page.locator('#computerName').textContent(), 'Build box');
    assert.match(await serverRow(page, 'api').locator('.server-meta').textContent(), /^up \d+ s · pid \d+$/);
    assert.equal(await serverRow(page, 'worker').locator('.server-meta').textContent(), 'stopped');
    assert.deepEqual(await page.locator('.server-name').allTextContents(), ['api', 'worker', 'crasher']);
});

test('Start is acknowledged, the list follows, and the announcement is a toast', async () => {
    const row = serverRow(page, 'worker');
    await row.locator('button[data-action="start"]').tap();
    await row.locator('.server-feedback', { hasText: 'Start: acknowledged by the desktop' }).waitFor();
    await waitForStatus(page, 'worker', 'running');
    await page.locator('.toast', { hasText: 'worker: stopped → running' }).waitFor();
    assert.equal(await row.locator('button[data-action="start"]').isDisabled(), true);
});

test('Restart gives a new pid, Stop stops, Clear logs is acknowledged', async () => {
    const row = serverRow(page, 'worker');
    const pidOf = async () => (await row.locator('.server-meta').textContent()).match(/pid (\d+)/)?.[1];
    await page.waitForFunction(() => true);
    const before = await pidOf();
    assert.ok(before);
    await row.locator('button[data-action="restart"]').tap();
    await row.locator('.server-feedback', { hasText: 'Restart: acknowledged' }).waitFor();
    await page.waitForFunction(([name, old]) => {
        const item = [...document.querySelectorAll('li.server')].find((li) => li.querySelector('.server-name').textContent === name);
        const pid = item?.querySelector('.server-meta').textContent.match(/pid (\d+)/)?.[1];
        return pid && pid !== old;
    }, ['worker', before], { timeout: ms(20000) });
    await row.locator('button[data-action="stop"]').tap();
    await row.locator('.server-feedback', { hasText: 'Stop: acknowledged' }).waitFor();
    await waitForStatus(page, 'worker', 'stopped');
    await row.locator('button[data-action="clearLogs"]').tap();
    await row.locator('.server-feedback', { hasText: 'Clear logs: acknowledged' }).waitFor();
});

test('a crash turns the dot red with its flag, and is announced', async () => {
    const row = serverRow(page, 'crasher');
    await row.locator('button[data-action="start"]').tap();
    await waitForStatus(page, 'crasher', 'running');
    await waitForStatus(page, 'crasher', 'error');
    assert.equal(await row.locator('.server-flag').isVisible(), true);
    assert.match(await row.locator('.server-meta').textContent(), /error · exited with 3|error/);
    await page.locator('.toast', { hasText: 'crasher: running → error' }).waitFor();
});

test('nothing is wider than the phone, down to 320 px', async () => {
    for (const width of [390, 320]) {
        await page.setViewportSize({ width, height: 844 });
        const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
        assert.ok(overflow <= 0, `${overflow} px too wide at ${width}`);
        const buttons = await page.locator('.server-actions button').first().boundingBox();
        assert.ok(buttons.height >= 44, 'touch targets of at least 44 px');
    }
    await page.setViewportSize({ width: 390, height: 844 });
    assert.deepEqual(errors, []);
});
