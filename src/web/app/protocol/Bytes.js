// Byte helpers for the protocol: lower-case hex, strict standard base64 (one text
// per byte string: RFC 4648 alphabet, "=" padding, no white space, unused bits zero)
// and UTF-8.

const alphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
const sextets = new Int8Array(128).fill(-1);
for (let i = 0; i < alphabet.length; ++i) sextets[alphabet.charCodeAt(i)] = i;

export function hexOf(bytes) {
    let out = '';
    for (const b of bytes) out += b.toString(16).padStart(2, '0');
    return out;
}

export function bytesOfHex(text) {
    if (text.length % 2 !== 0 || !/^[0-9a-fA-F]*$/.test(text)) return undefined;
    const out = new Uint8Array(text.length / 2);
    for (let i = 0; i < out.length; ++i) out[i] = parseInt(text.slice(2 * i, 2 * i + 2), 16);
    return out;
}

export function base64Of(bytes) {
    let out = '';
    let i = 0;
    for (; i + 2 < bytes.length; i += 3) {
        const g = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += alphabet[g >> 18] + alphabet[(g >> 12) & 63] + alphabet[(g >> 6) & 63] + alphabet[g & 63];
    }
    if (i < bytes.length) {
        const rest = bytes.length - i;
        const g = (bytes[i] << 16) | (rest === 2 ? bytes[i + 1] << 8 : 0);
        out += alphabet[g >> 18] + alphabet[(g >> 12) & 63] + (rest === 2 ? alphabet[(g >> 6) & 63] : '=') + '=';
    }
    return out;
}

const base64Pattern = /^[A-Za-z0-9+/]*(?:[A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?$/;

// Undefined for anything that is not the one canonical base64 text of some bytes.
export function bytesOfStrictBase64(text) {
    if (typeof text !== 'string' || text.length % 4 !== 0 || !base64Pattern.test(text)) return undefined;
    const binary = atob(text);
    const out = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) out[i] = binary.charCodeAt(i);
    // The bits that padding leaves unused must be zero: one text per byte string.
    if (text.endsWith('==') && (sextets[text.charCodeAt(text.length - 3)] & 0x0f) !== 0) return undefined;
    if (text.endsWith('=') && !text.endsWith('==') && (sextets[text.charCodeAt(text.length - 2)] & 0x03) !== 0)
        return undefined;
    return out;
}

const encoder = new TextEncoder();
const decoder = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true });

export function utf8Of(text) {
    return encoder.encode(text);
}

export function textOfUtf8(bytes) {
    try {
        return decoder.decode(bytes);
    } catch {
        return undefined;
    }
}

export function concatBytes(...parts) {
    const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
    let at = 0;
    for (const p of parts) {
        out.set(p, at);
        at += p.length;
    }
    return out;
}
