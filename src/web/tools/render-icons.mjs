// Renders app/icon.svg to the PNG icons the manifest names (192 and 512 pixels)
// with Debian's Chromium. Run after changing the icon; the PNGs are committed.
// Usage: node tools/render-icons.mjs [--modules DIR]

import { createRequire } from 'node:module';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const app = join(here, '../app');
const args = process.argv.slice(2);
const modules = resolve(args.includes('--modules') ? args[args.indexOf('--modules') + 1] : join(here, '../node_modules'));
const { chromium } = createRequire(join(modules, 'index.js'))('playwright-core');

const svg = readFileSync(join(app, 'icon.svg'), 'utf8');
const profile = mkdtempSync(join(tmpdir(), 'wl-icons-'));
const browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update'],
});
try {
    for (const size of [192, 512]) {
        const page = await browser.newPage();
        await page.setViewportSize({ width: size, height: size });
        await page.setContent(`<html><body style="margin:0;background:transparent">${svg
            .replace('<svg ', `<svg width="${size}" height="${size}" `)}</body></html>`);
        await page.screenshot({ path: join(app, `icon-${size}.png`), omitBackground: true });
        await page.close();
    }
} finally {
    await browser.close();
    rmSync(profile, { recursive: true, force: true });
}
