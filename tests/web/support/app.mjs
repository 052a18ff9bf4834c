// Steps the browser tests share: open the app paired with a daemon (by its link)
// and find what it shows.

import { ms } from './environment.mjs';

// The page served by the relay, with the daemon's key in the fragment. `?nosw`
// keeps the service worker out of tests about other things.
export async function openPaired(context, system, { query = '?nosw' } = {}) {
    const page = await context.newPage();
    await page.goto(`${system.relay.pageUrl}${query}#k=${system.daemon.pairingKey}`);
    await page.locator('#connectionState[data-kind="online"]').waitFor({ timeout: ms(20000) });
    return page;
}

export function serverRow(page, name) {
    return page.locator('li.server').filter({ has: page.locator('.server-name', { hasText: new RegExp(`^${name}$`) }) });
}

export async function waitForStatus(page, name, status, timeout = ms(20000)) {
    await serverRow(page, name).locator(`.dot[data-status="${status}"]`).waitFor({ timeout });
}

// Fails the test with the page's text when `condition` (run in the page) stays false.
export async function waitInPage(page, condition, arg, timeout = ms(20000)) {
    await page.waitForFunction(condition, arg, { timeout, polling: 100 });
}
