// The pairing key "WL1." + URL-safe base64 of {"v","name","secret"}: parsing with
// the desktop's rules (white space and line breaks around the key are trimmed,
// inside it they make it invalid; the standard alphabet and "=" are accepted too),
// and a reason in words when it fails, for the person who pasted it.

import { base64Of, bytesOfStrictBase64, utf8Of } from './Bytes.js';
import { parseStrictJsonBytes } from './StrictJson.js';

export const prefix = 'WL1.';
const secretBytes = 32;

// The white space and line breaks the desktop trims from both ends of a key.
const spaces = '\\t\\n\\v\\f\\r \\u0085\\u00A0\\u1680\\u2000-\\u200A\\u2028\\u2029\\u202F\\u205F\\u3000';
const edgeSpace = new RegExp(`^[${spaces}]+|[${spaces}]+$`, 'g');

// { credential: { v, name, secret } } or { problem: text }.
export function parsePairingKey(text) {
    if (typeof text !== 'string') return { problem: 'No pairing key was given.' };
    const trimmed = text.replace(edgeSpace, '');
    if (trimmed === '') return { problem: 'No pairing key was given.' };
    if (!trimmed.startsWith(prefix)) {
        return {
            problem: trimmed.toUpperCase().startsWith(prefix)
                ? 'This is not a Wardlamp pairing key: it must begin with "WL1." in capitals.'
                : 'This is not a Wardlamp pairing key: it must begin with "WL1.".',
        };
    }
    let body = trimmed.slice(prefix.length).replaceAll('-', '+').replaceAll('_', '/');
    const remainder = body.length % 4;
    if (remainder !== 0) body += '='.repeat(4 - remainder);
    const broken = 'This pairing key is damaged or incomplete: copy it again from the desktop (wardlampd pair).';
    if (/\s/.test(body)) return { problem: 'This pairing key has a space or line break inside it: copy it again in one piece.' };
    const json = bytesOfStrictBase64(body);
    if (!json) return { problem: broken };
    const record = parseStrictJsonBytes(json);
    json.fill(0);
    if (!record || typeof record !== 'object' || Array.isArray(record)) return { problem: broken };
    const { v, name, secret } = record;
    if (!Number.isInteger(v) || Math.abs(v) >= 2 ** 63 || typeof name !== 'string' || typeof secret !== 'string')
        return { problem: broken };
    const secretValue = bytesOfStrictBase64(secret);
    if (!secretValue) return { problem: broken };
    if (secretValue.length !== secretBytes)
        return { problem: 'This pairing key holds a secret of the wrong length: it was not made by Wardlamp.' };
    return { credential: { v, name, secret: secretValue } };
}

// The key text of a credential, as the desktop writes it.
export function encodePairingKey(credential) {
    const json = JSON.stringify({ v: credential.v, name: credential.name, secret: base64Of(credential.secret) });
    return prefix + base64Of(utf8Of(json)).replaceAll('+', '-').replaceAll('/', '_').replaceAll('=', '');
}
