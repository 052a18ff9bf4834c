// The web controller's phone views (pairing, list, log, offline) in light and dark,
// at 390×844 and twice the pixels, against a real relay and wardlampd with real
// servers: docs/screenshots/web-VIEW-SCHEME.png.
// Usage: node tests/web/screenshots.mjs   (WL_TEST_BIN_DIR names the built programs)

import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { launchBrowser } from './support/browser.mjs';
import { ms, repoRoot } from './support/environment.mjs';
import { openPaired, serverRow, waitForStatus } from './support/app.mjs';
import { startSystem, testServer } from './support/system.mjs';

const out = join(repoRoot, 'docs/screenshots');
mkdirSync(out, { recursive: true });

// Small Node programs stand in for a developer's servers, so the log reads like one.
const folder = mkdtempSync(join(tmpdir(), 'wl-shots-'));
const program = (name, body) => writeFileSync(join(folder, name), body);
program('server.js', `const say = (t) => console.log(t);
say('Listening on http://localhost:3000');
for (const r of ['GET /api/projects 200 12 ms', 'GET /api/projects/42 200 8 ms', 'POST /api/session 201 31 ms'])
    say(r);
console.error('Error: connect ECONNREFUSED 127.0.0.1:5432');
say('retrying database connection in 2 s');
say('database connected');
for (const r of ['GET /api/projects/42/tasks 200 17 ms', 'PATCH /api/tasks/7 200 22 ms', 'GET /health 200 1 ms'])
    say(r);
setInterval(() => {}, 1 << 30);
`);
program('vite.js', "console.log('VITE v5.4.2  ready in 412 ms');\nconsole.log('Local: http://localhost:5173/');\nsetInterval(() => {}, 1 << 30);\n");
program('worker.js', "console.log('worker starting');\nsetTimeout(() => { console.error('Error: queue \"mail\" does not exist'); process.exit(1); }, 800);\n");
const node = 'node'; // from the login shell's PATH
const server = (name, script, autostart = true) => ({ ...testServer(name, []), command: `${node} ${script}`, directory: folder, autostart });
const system = await startSystem({
    macName: 'Studio',
    servers: [server('api', 'server.js'), server('web', 'vite.js'), server('worker', 'worker.js'), server('docs', 'vite.js', false)],
});
const browser = await launchBrowser([], { hasTouch: true, isMobile: true, deviceScaleFactor: 2 });
try {
    const page = await openPaired(browser.context, system);
    await waitForStatus(page, 'worker', 'error');
    await page.locator('#keepDismiss').click();
    const toasts = page.locator('#toasts');
    const shoot = async (name) => {
        for (const scheme of ['light', 'dark']) {
            await page.emulateMedia({ colorScheme: scheme });
            await page.evaluate(() => document.getElementById('toasts').replaceChildren());
            await page.screenshot({ path: join(out, `web-${name}-${scheme}.png`) });
        }
    };
    await toasts.evaluate((t) => t.replaceChildren());
    await shoot('list');

    await serverRow(page, 'api').locator('.server-main').click();
    await page.locator('#logLines .line-text', { hasText: 'GET /health' }).waitFor({ timeout: ms(20000) });
    await shoot('logs');
    await page.locator('#logBack').click();

    await system.relay.stop();
    await page.locator('#connectionState[data-kind="offline"]').waitFor({ timeout: ms(20000) });
    await shoot('offline');
    await system.relay.start();

    const pairing = await browser.context.newPage();
    await pairing.goto(system.relay.pageUrl + '?nosw');
    await pairing.evaluate(() => localStorage.clear());
    await pairing.reload();
    await pairing.locator('#pairView').waitFor();
    await pairing.locator('#keyInput').fill(system.daemon.pairingKey.slice(0, 60));
    await pairing.locator('#pairButton').click();
    await pairing.locator('#pairProblem').waitFor();
    for (const scheme of ['light', 'dark']) {
        await pairing.emulateMedia({ colorScheme: scheme });
        await pairing.screenshot({ path: join(out, `web-pairing-${scheme}.png`) });
    }
    console.log(`screenshots in ${out}`);
} finally {
    await browser.close();
    await system.stop();
    rmSync(folder, { recursive: true, force: true });
}
