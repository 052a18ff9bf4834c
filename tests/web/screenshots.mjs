// The web controller's phone views (pairing, list, log, offline) in light and dark,
// at 390×844 and twice the pixels, against a real relay and wardlampd with real
// servers: docs/screenshots/web-VIEW-SCHEME.png.
// Usage: node tests/web/screenshots.mjs   (WL_TEST_BIN_DIR names the built programs)

import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser } from './support/browser.mjs';
import { ms, repoRoot } from './support/environment.mjs';
import { openPaired, serverRow, waitForStatus } from './support/app.mjs';
import { startSystem, testServer } from './support/system.mjs';

const out = join(repoRoot, 'docs/screenshots');
mkdirSync(out, { recursive: true });

const requests = ['GET /api/projects 200 12 ms', 'GET /api/projects/42 200 8 ms', 'POST /api/session 201 31 ms',
    'GET /api/projects/42/tasks 200 17 ms', 'GET /health 200 1 ms'];
const system = await startSystem({
    macName: 'Studio',
    servers: [
        testServer('api', ['out:Listening on http://localhost:3000', ...requests.map((r) => `out:${r}`),
            'err:Error: connect ECONNREFUSED 127.0.0.1:5432', 'out:retrying database connection in 2 s',
            'out:database connected', ...requests.map((r) => `out:${r}`), 'hold']),
        testServer('web', ['out:vite v5.4.2 dev server running at http://localhost:5173', 'hold']),
        testServer('worker', ['out:worker starting', 'sleep:800', 'err:Error: queue "mail" does not exist', 'exit:1']),
        testServer('docs', ['out:serving docs', 'hold'], { autostart: false }),
    ],
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
    await page.locator('#logLines .line-text', { hasText: 'GET /health' }).nth(1).waitFor({ timeout: ms(20000) });
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
}
