// The fallback QR decoder (a small, dependency-free one from npm), loaded on demand.

import decodeQR from 'qr/decode.js';

export function decodeFrame(image) {
    try {
        return decodeQR({ width: image.width, height: image.height, data: image.data });
    } catch {
        return undefined; // no code in this frame
    }
}
