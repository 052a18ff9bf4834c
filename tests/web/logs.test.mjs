// A server's log in the page against a real relay and wardlampd: it follows new
// lines, marks error lines, searches, keeps 2,000 lines at most, shows a 64 KiB
// line whole, and keeps every line exactly once across a relay restart.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { collectPageErrors, launchBrowser } from './support/browser.mjs';
import { ms } from './support/environment.mjs';
import { openPaired, serverRow, waitInPage } from './support/app.mjs';
import { startSystem, testServer } from './support/system.mjs';

let browser;
let system;
let page;
let errors;

// A shell loop, run by the daemon through the login shell: "tick N" every 100 ms.
const ticker = 'i=0; while [ $i -lt 100000 ]; do echo tick $i; i=$((i+1)); sleep 0.1; done';

before(async () => {
    system = await startSystem({
        servers: [
            testServer('steps', ['out:first', 'sleep:300', 'err:Error: second went wrong', 'sleep:300', 'out:third', 'hold']),
            testServer('many', ['lines:1500', 'sleep:1500', 'lines:1500', 'hold'], { autostart: false }),
            testServer('wide', ['lines:1:65536', 'out:after-wide', 'hold']),
            { ...testServer('ticker', []), command: ticker },
        ],
    });
    browser = await launchBrowser();
    page = await openPaired(browser.context, system);
    errors = collectPageErrors(page);
});

after(async () => {
    await browser?.close();
    await system?.stop();
});

async function openLog(name) {
    if (await page.locator('#logView').isVisible()) await backToList(); // after a test that failed there
    await serverRow(page, name).locator('.server-main').click();
    await page.locator('#logView').waitFor();
    assert.equal(await page.locator('#logTitle').textContent(), name);
}

async function backToList() {
    await page.locator('#logBack').click();
    await page.locator('#listView').waitFor();
}

const shownTexts = () => page.locator('#logLines .line-text').allTextContents();

test('lines come in order, error lines marked, and search narrows them', async () => {
    await openLog('steps');
    await page.locator('#logLines .line-text', { hasText: /^third$/ }).waitFor({ timeout: ms(20000) });
    const texts = await shownTexts();
    assert.deepEqual(texts.filter((t) => ['first', 'Error: second went wrong', 'third'].includes(t)),
        ['first', 'Error: second went wrong', 'third']);
    const errorLine = page.locator('#logLines .line.error');
    assert.equal(await errorLine.count(), 1);
    assert.equal(await errorLine.locator('.line-text').textContent(), 'Error: second went wrong');
    assert.equal(await errorLine.locator('.line-mark').getAttribute('aria-label'), 'error');
    await page.locator('#logSearch').fill('SECOND');
    await waitInPage(page, () => [...document.querySelectorAll('#logLines .line-text')]
        .every((n) => n.textContent.toLowerCase().includes('second')));
    const found = await shownTexts();
    assert.ok(found.includes('Error: second went wrong') && !found.includes('first') && !found.includes('third'));
    assert.equal(await page.locator('#logCount').textContent(), `${found.length} of ${texts.length}`);
    await page.locator('#logSearch').fill('');
    await backToList();
});

test('a log holds its latest 2,000 lines, the newest 500 in view and the rest on request', async () => {
    // Opened once before the server starts, so its lines are kept as they come: 3,000 of them.
    await openLog('many');
    await backToList();
    await serverRow(page, 'many').locator('button[data-action="start"]').click();
    await openLog('many');
    await page.locator('#logCount', { hasText: /^2,000 lines$/ }).waitFor({ timeout: ms(30000) });
    await waitInPage(page, () => {
        const lines = document.querySelectorAll('#logLines .line-text');
        return lines.length === 500 && lines[lines.length - 1].textContent === 'line 1500';
    }, undefined, ms(30000));
    await page.locator('#logLines').evaluate((node) => { node.scrollTop = 0; });
    await page.locator('#logEarlier', { hasText: 'Show 1,500 earlier lines' }).click();
    await waitInPage(page, () => document.querySelectorAll('#logLines .line').length === 2000);
    const texts = await shownTexts();
    assert.match(texts[0], /^line \d+$/, 'the oldest lines went first');
    assert.equal(texts.filter((t) => t === 'line 1').length, 1);
    assert.equal(texts.at(-1), 'line 1500');
    assert.equal(await page.locator('#logEarlier').isHidden(), true);
    await backToList();
});

test('a 64 KiB line is shown whole, inside the phone\'s width', async () => {
    await openLog('wide');
    await page.locator('#logLines .line-text', { hasText: /^after-wide$/ }).waitFor({ timeout: ms(20000) });
    const lengths = await page.locator('#logLines .line-text').evaluateAll((nodes) => nodes.map((n) => n.textContent.length));
    assert.ok(lengths.includes(65536), `lengths ${lengths}`);
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    assert.ok(overflow <= 0);
    await backToList();
});

test('every line exactly once, following on across a relay restart', async () => {
    await openLog('ticker');
    const isTick = /^tick \d+$/;
    const ticks = async () => (await shownTexts()).filter((t) => isTick.test(t)).map((t) => Number(t.slice(5)));
    await waitInPage(page, () => [...document.querySelectorAll('#logLines .line-text')]
        .filter((n) => /^tick \d+$/.test(n.textContent)).length >= 10);
    await system.relay.restart();
    await page.locator('#connectionState[data-kind="offline"], #connectionState[data-kind="connecting"]').first()
        .waitFor({ timeout: ms(20000) }).catch(() => {}); // it may come back before the test looks
    await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(40000) });
    const before = (await ticks()).at(-1);
    await waitInPage(page, (n) => [...document.querySelectorAll('#logLines .line-text')]
        .some((node) => node.textContent === `tick ${n}`), before + 20, ms(40000));
    const seen = await ticks();
    assert.equal(new Set(seen).size, seen.length, 'a line shown twice');
    for (let i = 1; i < seen.length; ++i) assert.equal(seen[i], seen[i - 1] + 1, `gap or disorder at ${seen[i - 1]} → ${seen[i]}`);
    const ids = await page.locator('#logLines .line').evaluateAll((nodes) => nodes.map((n) => n.dataset.id));
    assert.equal(new Set(ids).size, ids.length);
    // The browser itself reports each refused connection while the relay is down.
    assert.deepEqual(errors.filter((e) => !e.includes('ERR_CONNECTION_REFUSED')), []);
});
