// Debian's Chromium, headless, driven by playwright-core. Flags keep it off the
// network (this machine has none beyond loopback) and the profile is a fresh
// temporary folder per launch.

import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { ms, requireModule } from './environment.mjs';

export const chromiumPath = process.env.WL_CHROMIUM ?? '/usr/bin/chromium';

export const chromiumFlags = [
    '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage',
];

export async function launchBrowser(extraArgs = [], contextOptions = {}) {
    const { chromium } = requireModule('playwright-core');
    const profile = mkdtempSync(join(tmpdir(), 'wl-chromium-'));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: chromiumPath,
        headless: true,
        args: [...chromiumFlags, ...extraArgs],
        timeout: ms(30000),
        viewport: { width: 390, height: 844 },
        ...contextOptions,
    });
    context.setDefaultTimeout(ms(10000));
    const close = async () => {
        await context.close().catch(() => {});
        rmSync(profile, { recursive: true, force: true });
    };
    return { context, close };
}

// Every console error and uncaught exception of a page, for tests that assert there were none.
export function collectPageErrors(page) {
    const errors = [];
    page.on('pageerror', (error) => errors.push(`pageerror: ${error.message}`));
    page.on('console', (message) => {
        if (message.type() === 'error') errors.push(`console: ${message.text()}`);
    });
    return errors;
}
