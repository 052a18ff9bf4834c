// Figures of the web controller, measured inside the page (performance.now(),
// PerformanceObserver, the page's own heap), against a real relay and wardlampd:
// 1. first load on a cold cache: bytes on the wire and the time from the start of
//    navigation to the first server row (key derivation included, no password);
//    PBKDF2-SHA256 at 200,000 iterations for a password;
// 2. line latency: a server prints a line every 400 ms (apart by more than the
//    agent's 0.2 s coalescing delay), and another one every 50 ms (a steady stream,
//    which the agent pushes at its maximum delay); each line's arrival in the page
//    against its capture time on the desktop (the same clock here);
// 3. 1,000 lines/s for 60 s with the log view open: long tasks over 50 ms, and the
//    JS heap every 10 s.

import { launchBrowser } from '../../tests/web/support/browser.mjs';
import { serverRow } from '../../tests/web/support/app.mjs';
import { program } from '../../tests/web/support/environment.mjs';
import { startSystem, testServer } from '../../tests/web/support/system.mjs';

const seconds = Number(process.env.WL_BENCH_FLOOD_SECONDS ?? 60);
const percentile = (values, p) => {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];
};
const round = (n) => Math.round(n * 10) / 10;

// Every page records when its first server row appears, and its long tasks.
const probe = () => {
    window.__bench = { firstRow: null, longTasks: [] };
    new MutationObserver((_, observer) => {
        if (document.querySelector('li.server')) {
            window.__bench.firstRow = performance.now();
            observer.disconnect();
        }
    }).observe(document, { childList: true, subtree: true });
    new PerformanceObserver((list) => {
        for (const entry of list.getEntries()) window.__bench.longTasks.push(entry.duration);
    }).observe({ type: 'longtask', buffered: true });
};

const floodSteps = [];
for (let i = 0; i < seconds * 10; ++i) floodSteps.push('lines:100:80', 'sleep:100');
const system = await startSystem({
    servers: [
        testServer('api', ['out:up', 'hold']),
        { ...testServer('ticker', []), command: 'while :; do echo tick; sleep 0.4; done' },
        { ...testServer('stream', []), command: 'while :; do echo tick; sleep 0.05; done', autostart: false },
        { ...testServer('flood', [...floodSteps, 'hold']), autostart: false },
    ],
});

try {
    // 1. First load, cold: a fresh profile every time; median of 5.
    const loads = [];
    for (let run = 0; run < 5; ++run) {
        const browser = await launchBrowser(['--enable-precise-memory-info']);
        const page = await browser.context.newPage();
        await page.addInitScript(probe);
        let bytes = 0;
        const cdp = await browser.context.newCDPSession(page);
        await cdp.send('Network.enable');
        cdp.on('Network.loadingFinished', (event) => { bytes += event.encodedDataLength; });
        await page.goto(`${system.relay.pageUrl}?nosw#k=${system.daemon.pairingKey}`);
        await page.waitForFunction(() => window.__bench.firstRow !== null, null, { timeout: 30000 });
        const firstRow = await page.evaluate(() => window.__bench.firstRow);
        const pbkdf2 = await page.evaluate(async () => {
            const key = await crypto.subtle.importKey('raw', new TextEncoder().encode('correct horse'), 'PBKDF2', false, ['deriveBits']);
            const started = performance.now();
            await crypto.subtle.deriveBits({ name: 'PBKDF2', hash: 'SHA-256', salt: new Uint8Array(16), iterations: 200000 }, key, 256);
            return performance.now() - started;
        });
        loads.push({ bytes, firstRow, pbkdf2 });
        await browser.close();
    }
    const median = (key) => percentile(loads.map((l) => l[key]), 50);
    console.log(`first load, cold cache (median of ${loads.length}): ${Math.round(median('bytes'))} bytes on the wire `
        + `(target <= 153600), ${round(median('firstRow'))} ms to the first server row (target <= 1000), `
        + `PBKDF2 with a password ${round(median('pbkdf2'))} ms`);

    // 2. Line latency.
    const browser = await launchBrowser(['--enable-precise-memory-info']);
    const page = await browser.context.newPage();
    await page.addInitScript(probe);
    await page.goto(`${system.relay.pageUrl}?nosw#k=${system.daemon.pairingKey}`);
    await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: 30000 });
    // One at a time: a steady stream from any server delays the agent's pushes for all.
    for (const [name, every] of [['ticker', 400], ['stream', 50]]) {
        if (name === 'stream') {
            await serverRow(page, 'ticker').locator('button[data-action="stop"]').click();
            await serverRow(page, 'stream').locator('button[data-action="start"]').click();
        }
        await serverRow(page, name).locator('.server-main').click();
        await page.evaluate(() => {
            window.__latencies = [];
            const since = Date.now() + 2000; // the backlog is not a latency
            window.__stopLatency = window.wardlamp.session.subscribe((event) => {
                if (event.type !== 'log' || !event.change.appended) return;
                const now = Date.now();
                const lines = window.wardlamp.session.logs.get(event.serverId).lines;
                for (const line of lines.slice(-event.change.appended)) if (line.date > since) window.__latencies.push(now - line.date);
            });
        });
        await page.waitForTimeout(22000);
        const latencies = await page.evaluate(() => { window.__stopLatency(); return window.__latencies; });
        console.log(`line latency server → page, a line every ${every} ms (${latencies.length} lines): `
            + `p50 ${percentile(latencies, 50)} ms, p99 ${percentile(latencies, 99)} ms, max ${Math.max(...latencies)} ms`
            + (every === 400 ? ' (targets 250 / 350 ms)' : ' (the agent pushes a steady stream at most 0.25 s apart)'));
        await page.locator('#logBack').click();
    }

    // 3. The flood.
    await serverRow(page, 'stream').locator('button[data-action="stop"]').click();
    await serverRow(page, 'flood').locator('button[data-action="start"]').click();
    await serverRow(page, 'flood').locator('.server-main').click();
    await page.evaluate(() => { window.__bench.longTasks = []; });
    const heap = [];
    for (let t = 0; t < seconds; t += 10) {
        await page.waitForTimeout(10000);
        heap.push(await page.evaluate(() => ({
            mib: Math.round(performance.memory.usedJSHeapSize / 1048576 * 10) / 10,
            lines: window.wardlamp.session.logs.get(window.wardlamp.session.openLogId)?.size ?? 0,
            nodes: document.querySelectorAll('#logLines .line').length,
        })));
    }
    const longTasks = await page.evaluate(() => window.__bench.longTasks);
    console.log(`1,000 lines/s for ${seconds} s, log view open: ${longTasks.filter((d) => d > 50).length} long tasks over 50 ms `
        + `(longest ${round(Math.max(0, ...longTasks))} ms); heap every 10 s: ${heap.map((h) => `${h.mib} MiB`).join(', ')}; `
        + `lines held ${heap.at(-1).lines}, shown ${heap.at(-1).nodes}`);
    await browser.close();
} finally {
    await system.stop();
}
