// The protocol's known answers (room ids, content keys with and without a
// password, notification tags, sealed payloads that open and that must not,
// pairing keys, envelopes) run against the web controller's modules inside
// Chromium, where the page's WebCrypto does the work.

import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import { after, before, test } from 'node:test';
import { join } from 'node:path';
import { launchBrowser } from './support/browser.mjs';
import { ms, repoRoot, vectorsFile, webRoot } from './support/environment.mjs';
import { startStaticServer } from './support/staticServer.mjs';

let browser;
let server;

before(async () => {
    server = await startStaticServer({ '/app/': join(webRoot, 'app'), '/tests/': join(repoRoot, 'tests/web') });
    browser = await launchBrowser();
});

after(async () => {
    await browser?.close();
    await server?.close();
});

test('known answers hold in the browser', { skip: !existsSync(vectorsFile) && 'no vectors' }, async () => {
    const vectors = JSON.parse(readFileSync(vectorsFile, 'utf8'));
    const page = await browser.context.newPage();
    await page.goto(server.url + '/');
    const result = await page.evaluate(async (vectors) => {
        const load = (name) => import(`/app/protocol/${name}.js`);
        const modules = {
            Bytes: await load('Bytes'), RemoteCrypto: await load('RemoteCrypto'),
            PairingCredential: await load('PairingCredential'), WireCodec: await load('WireCodec'),
            SealedMessages: await load('SealedMessages'),
        };
        const { runVectorChecks } = await import('/tests/vectorChecks.mjs');
        return { secure: isSecureContext, ...(await runVectorChecks(vectors, modules)) };
    }, vectors);
    assert.equal(result.secure, true);
    assert.deepEqual(result.failures, []);
    assert.ok(result.checks >= 40, `only ${result.checks} checks ran`);
});

test('sealing draws a fresh nonce and adds 28 bytes', { timeout: ms(30000) }, async () => {
    const page = await browser.context.newPage();
    await page.goto(server.url + '/');
    const result = await page.evaluate(async () => {
        const crypto = await import('/app/protocol/RemoteCrypto.js');
        const bytes = await import('/app/protocol/Bytes.js');
        const key = await crypto.contentKey(new Uint8Array(32).fill(7), 'pw');
        const empty = await crypto.seal(new Uint8Array(0), key);
        const a = await crypto.seal(bytes.utf8Of('same'), key);
        const b = await crypto.seal(bytes.utf8Of('same'), key);
        const flipped = a.slice();
        flipped[13] ^= 1;
        return {
            emptyLength: empty.length, length: a.length, differ: bytes.hexOf(a) !== bytes.hexOf(b),
            opens: bytes.textOfUtf8((await crypto.open(b, key)).plaintext),
            flipped: (await crypto.open(flipped, key)).error,
            short: (await crypto.open(a.subarray(0, 27), key)).error,
        };
    });
    assert.deepEqual(result, { emptyLength: 28, length: 32, differ: true, opens: 'same', flipped: 'auth', short: 'size' });
});
