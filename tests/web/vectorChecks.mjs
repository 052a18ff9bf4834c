// The known answers of the relay protocol, checked against the web controller's
// protocol modules. `runVectorChecks` runs wherever those modules run (the tests
// call it inside Chromium); it returns one line per mismatch, so an empty list
// means every answer agreed.

export async function runVectorChecks(vectors, modules) {
    const { Bytes, RemoteCrypto, PairingCredential, WireCodec, SealedMessages } = modules;
    const failures = [];
    const expect = (label, actual, wanted) => {
        const a = JSON.stringify(actual);
        const w = JSON.stringify(wanted);
        if (a !== w) failures.push(`${label}: got ${a}, expected ${w}`);
    };
    const keyOf = (hex) => RemoteCrypto.contentKeyFromBytes(Bytes.bytesOfHex(hex));
    let checks = 0;

    for (const d of vectors.derivations) {
        const secret = Bytes.bytesOfHex(d.secretHex);
        if (d.passwordUtf8Hex !== null && d.password !== null)
            expect(`${d.label}: password bytes`, Bytes.hexOf(Bytes.utf8Of(d.password)), d.passwordUtf8Hex);
        expect(`${d.label}: room`, await RemoteCrypto.roomId(secret), d.roomId);
        const derived = await RemoteCrypto.contentKeyDerivation(secret, d.password);
        expect(`${d.label}: password salt`, derived.passwordSalt && Bytes.hexOf(derived.passwordSalt), d.passwordSaltHex);
        expect(`${d.label}: stretched`, Bytes.hexOf(derived.stretched), d.stretchedHex);
        expect(`${d.label}: content key`, Bytes.hexOf(derived.keyBytes), d.contentKeyHex);
        const key = await RemoteCrypto.contentKey(secret, d.password);
        for (const kind of RemoteCrypto.notifyKinds)
            expect(`${d.label}: tag ${kind}`, await RemoteCrypto.notifyTag(kind, key), d.notifyTags[kind]);
        checks += 1;
    }

    for (const o of vectors.openOk) {
        const key = await keyOf(o.contentKeyHex);
        const opened = await SealedMessages.openMessage(o.payload, key);
        const plain = await RemoteCrypto.open(Bytes.bytesOfStrictBase64(o.payload), key);
        expect(`${o.label}: plaintext`, plain.plaintext && Bytes.textOfUtf8(plain.plaintext), o.plaintext);
        expect(`${o.label}: message`, normalised(opened.message), normalised(o.message));
        // Sealed again here, opened again: the round trip keeps every field.
        const again = await SealedMessages.openMessage(await SealedMessages.sealMessage(opened.message, key), key);
        expect(`${o.label}: round trip`, normalised(again.message), normalised(o.message));
        checks += 1;
    }

    for (const o of vectors.openFail) {
        const opened = await SealedMessages.openMessage(o.payload, await keyOf(o.contentKeyHex));
        expect(`${o.label}: error`, opened.error ?? 'opened', o.error);
        checks += 1;
    }

    for (const p of vectors.pairingOk) {
        const parsed = PairingCredential.parsePairingKey(p.text);
        const c = parsed.credential;
        expect(`${p.label}: credential`, c && { v: c.v, name: c.name, secretHex: Bytes.hexOf(c.secret) }, p.credential);
        if (c) {
            const reparsed = PairingCredential.parsePairingKey(PairingCredential.encodePairingKey(c)).credential;
            expect(`${p.label}: encode and parse`, reparsed && Bytes.hexOf(reparsed.secret), p.credential.secretHex);
        }
        checks += 1;
    }
    const canonical = vectors.pairingOk.find((p) => p.label === 'canonical key');
    if (canonical) {
        const c = canonical.credential;
        expect('canonical key: encoded', PairingCredential.encodePairingKey(
            { v: c.v, name: c.name, secret: Bytes.bytesOfHex(c.secretHex) }), canonical.text);
    }

    for (const p of vectors.pairingFail) {
        const parsed = PairingCredential.parsePairingKey(p.text);
        expect(`${p.label}: refused`, parsed.credential === undefined && typeof parsed.problem === 'string', true);
        checks += 1;
    }

    for (const e of vectors.envelopeOk) {
        expect(`${e.label}: envelope`, normalised(WireCodec.decodeEnvelope(e.text)), normalised(e.envelope));
        checks += 1;
    }
    for (const e of vectors.envelopeFail) {
        expect(`${e.label}: refused`, WireCodec.decodeEnvelope(e.text), undefined);
        checks += 1;
    }
    return { failures, checks };
}

// Keys sorted and identifiers upper-cased, so records compare by content.
function normalised(value) {
    if (Array.isArray(value)) return value.map(normalised);
    if (value && typeof value === 'object') {
        const out = {};
        for (const key of Object.keys(value).sort()) {
            const v = value[key];
            out[key] = (key === 'id' || key === 'serverId') && typeof v === 'string' ? v.toUpperCase() : normalised(v);
        }
        return out;
    }
    return value;
}
