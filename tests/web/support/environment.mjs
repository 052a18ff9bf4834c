// What every browser test needs to know about its surroundings: where the built
// programs and the npm modules are, and how much slower than usual this machine
// may be (WL_TIMEOUT_FACTOR, as for the C++ tests).

import { createRequire } from 'node:module';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
export const repoRoot = resolve(here, '../../..');
export const webRoot = join(repoRoot, 'src/web');
export const binDir = process.env.WL_TEST_BIN_DIR ?? join(repoRoot, 'build/bin');
export const modulesDir = process.env.WL_WEB_MODULES ?? join(webRoot, 'node_modules');
// WL_VECTORS_DIR as for the C++ tests; else the folder CMake found beside the clone.
export const vectorsFile = join(
    process.env.WL_VECTORS_DIR ?? process.env.WL_DEFAULT_VECTORS_DIR ?? join(repoRoot, '../shared/vectors'),
    'remote-public.json');

const factor = Number(process.env.WL_TIMEOUT_FACTOR);
export const timeoutFactor = Number.isFinite(factor) && factor >= 1 ? factor : 1;

export function ms(base) {
    return Math.round(base * timeoutFactor);
}

// npm packages from the modules folder that CMake installs from the lock file.
export function requireModule(name) {
    return createRequire(join(modulesDir, 'index.js'))(name);
}

export function program(name) {
    return join(binDir, name);
}
