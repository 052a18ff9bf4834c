// Builds the web controller into dist/: the app's modules bundled and minified by
// esbuild under content-hashed names (so the relay can let browsers keep them for
// a year), index.html pointing at them, the service worker with the list of the
// shell's files, and the static files copied as they are. dist/ is committed: the
// relay compiles it in without Node. `node build.mjs --check` builds in memory
// and fails when dist/ differs from what the sources give.
//
// Usage: node build.mjs [--check] [--modules DIR]   (DIR: the node_modules to use)

import { createHash } from 'node:crypto';
import { createRequire } from 'node:module';
import { existsSync, mkdirSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
const check = args.includes('--check');
const modulesArg = args.indexOf('--modules');
const modules = resolve(modulesArg >= 0 ? args[modulesArg + 1] : join(here, 'node_modules'));
const esbuild = createRequire(join(modules, 'index.js'))('esbuild');

const app = join(here, 'app');
const dist = join(here, 'dist');
const copied = ['manifest.webmanifest', 'icon.svg', 'icon-192.png', 'icon-512.png'];

const result = await esbuild.build({
    absWorkingDir: here,
    entryPoints: [{ in: 'app/main.js', out: 'app' }, { in: 'app/app.css', out: 'app' }],
    bundle: true,
    splitting: true,
    format: 'esm',
    minify: true,
    target: ['chrome100', 'safari15.4', 'firefox100'],
    entryNames: '[name].[hash]',
    chunkNames: '[name].[hash]',
    external: ['*.svg'],
    outdir: 'dist',
    nodePaths: [modules],
    write: false,
    metafile: true,
    legalComments: 'eof',
    charset: 'utf8',
});

const files = new Map(); // name in dist/ → bytes
for (const output of result.outputFiles) files.set(output.path.slice(dist.length + 1), output.contents);
const names = [...files.keys()];
const entryJs = names.find((n) => /^app\.[A-Z0-9]+\.js$/.test(n));
const entryCss = names.find((n) => /^app\.[A-Z0-9]+\.css$/.test(n));
if (!entryJs || !entryCss) throw new Error(`no entry outputs among ${names.join(', ')}`);

for (const name of copied) files.set(name, readFileSync(join(app, name)));
files.set('index.html', Buffer.from(readFileSync(join(app, 'index.html'), 'utf8')
    .replace('{{app.js}}', entryJs).replace('{{app.css}}', entryCss)));

// The shell: the page and everything the first load needs; the QR decoder is
// fetched (and then kept by the browser's cache) only by those who scan.
const shell = ['./', ...[...files.keys()].filter((n) => n !== 'index.html' && !n.startsWith('QrFrameDecoder.'))
    .sort().map((n) => `./${n}`)];
const version = createHash('sha256');
for (const name of [...files.keys()].sort()) version.update(name).update(files.get(name));
files.set('sw.js', Buffer.from(readFileSync(join(app, 'sw.js'), 'utf8')
    .replace('{{version}}', version.digest('hex').slice(0, 16))
    .replace('{{shell}}', JSON.stringify(shell))));

if (check) {
    const problems = [];
    const present = existsSync(dist) ? readdirSync(dist) : [];
    for (const [name, bytes] of files) {
        if (!present.includes(name)) problems.push(`missing: ${name}`);
        else if (!Buffer.from(bytes).equals(readFileSync(join(dist, name)))) problems.push(`differs: ${name}`);
    }
    for (const name of present) if (!files.has(name)) problems.push(`not built from the sources: ${name}`);
    if (problems.length) {
        console.error(`src/web/dist is not what the sources build (run: node src/web/build.mjs):\n  ${problems.join('\n  ')}`);
        process.exit(1);
    }
    console.log(`dist is current (${files.size} files)`);
} else {
    rmSync(dist, { recursive: true, force: true });
    mkdirSync(dist);
    for (const [name, bytes] of files) writeFileSync(join(dist, name), bytes);
    let total = 0;
    for (const bytes of files.values()) total += bytes.length;
    console.log(`built ${files.size} files, ${total} bytes, into ${dist}`);
}
