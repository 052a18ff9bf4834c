// Sealing and opening whole messages: JSON, AES-256-GCM under the content key,
// standard base64 in the envelope's "payload".

import { base64Of, bytesOfStrictBase64, utf8Of } from './Bytes.js';
import { open, seal } from './RemoteCrypto.js';
import { decodePeerMessage, encodePeerMessage } from './WireCodec.js';

export async function sealMessage(message, key) {
    return base64Of(await seal(utf8Of(encodePeerMessage(message)), key));
}

// { message } or { error }: 'sealFailed' (not strict base64), 'size', 'auth', 'decode'.
export async function openMessage(payload, key) {
    const combined = bytesOfStrictBase64(payload);
    if (!combined) return { error: 'sealFailed' };
    const opened = await open(combined, key);
    if (opened.error) return opened;
    const message = decodePeerMessage(opened.plaintext);
    return message ? { message } : { error: 'decode' };
}
