// The end-to-end crypto of the relay protocol in WebCrypto: room id, content key,
// notification tags and AES-256-GCM sealing, byte for byte what the desktop
// computes. WebCrypto exists only in a secure context (https:// or loopback);
// `isAvailable()` says whether this page has it.

import { concatBytes, hexOf, utf8Of } from './Bytes.js';

const salt = utf8Of('quillharbour');
const labels = {
    room: utf8Of('room/v1'),
    passwordSalt: utf8Of('pwsalt/v1'),
    noPassword: utf8Of('nopw/v1'),
    content: utf8Of('content/v1'),
};
export const pbkdf2Iterations = 200000;
export const notifyKinds = ['error', 'crash', 'restart'];
const nonceBytes = 12;
const tagBytes = 16;
export const sealOverhead = nonceBytes + tagBytes;

export function isAvailable() {
    return typeof globalThis.crypto !== 'undefined' && typeof globalThis.crypto.subtle !== 'undefined';
}

function subtle() {
    return globalThis.crypto.subtle;
}

async function hkdf(inputKeyMaterial, hkdfSalt, info, length) {
    const key = await subtle().importKey('raw', inputKeyMaterial, 'HKDF', false, ['deriveBits']);
    const bits = await subtle().deriveBits({ name: 'HKDF', hash: 'SHA-256', salt: hkdfSalt, info }, key, length * 8);
    return new Uint8Array(bits);
}

async function pbkdf2(password, pbkdf2Salt, iterations, length) {
    const key = await subtle().importKey('raw', password, 'PBKDF2', false, ['deriveBits']);
    const bits = await subtle().deriveBits(
        { name: 'PBKDF2', hash: 'SHA-256', salt: pbkdf2Salt, iterations }, key, length * 8);
    return new Uint8Array(bits);
}

export async function roomId(secret) {
    return hexOf(await hkdf(secret, salt, labels.room, 16));
}

// The bytes under the content key; tests compare them with known answers, the
// app keeps only the non-extractable keys of `contentKey`.
export async function contentKeyDerivation(secret, password) {
    let passwordSalt = null;
    let stretched;
    if (password) {
        passwordSalt = await hkdf(secret, salt, labels.passwordSalt, 16);
        stretched = await pbkdf2(utf8Of(password), passwordSalt, pbkdf2Iterations, 32);
    } else {
        stretched = await hkdf(secret, salt, labels.noPassword, 32);
    }
    const keyBytes = await hkdf(secret, stretched, labels.content, 32);
    return { passwordSalt, stretched, keyBytes };
}

// The content key as two non-extractable WebCrypto keys: AES-GCM for sealing and
// HMAC-SHA-256 for notification tags. An empty password is no password.
export async function contentKeyFromBytes(keyBytes) {
    const aes = await subtle().importKey('raw', keyBytes, { name: 'AES-GCM' }, false, ['encrypt', 'decrypt']);
    const hmac = await subtle().importKey('raw', keyBytes, { name: 'HMAC', hash: 'SHA-256' }, false, ['sign']);
    return { aes, hmac };
}

export async function contentKey(secret, password) {
    const { keyBytes, stretched } = await contentKeyDerivation(secret, password);
    const key = await contentKeyFromBytes(keyBytes);
    keyBytes.fill(0);
    stretched.fill(0);
    return key;
}

export async function notifyTag(kind, key) {
    const mac = new Uint8Array(await subtle().sign('HMAC', key.hmac, utf8Of('notify-tag/v1:' + kind)));
    return hexOf(mac.subarray(0, 16));
}

export async function seal(plaintext, key) {
    const nonce = globalThis.crypto.getRandomValues(new Uint8Array(nonceBytes));
    const sealed = await subtle().encrypt({ name: 'AES-GCM', iv: nonce, tagLength: 128 }, key.aes, plaintext);
    return concatBytes(nonce, new Uint8Array(sealed));
}

// The plaintext, or an error: { error: 'size' } below 28 bytes, { error: 'auth' }
// when authentication fails (wrong key, wrong password, any altered byte).
export async function open(combined, key) {
    if (combined.length < sealOverhead) return { error: 'size' };
    try {
        const plain = await subtle().decrypt(
            { name: 'AES-GCM', iv: combined.subarray(0, nonceBytes), tagLength: 128 }, key.aes,
            combined.subarray(nonceBytes));
        return { plaintext: new Uint8Array(plain) };
    } catch {
        return { error: 'auth' };
    }
}
