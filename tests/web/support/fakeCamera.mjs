// A video file for Chromium's fake camera that shows one QR code, so the page's
// scanner reads a real picture through getUserMedia.

import { writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { modulesDir } from './environment.mjs';

export async function writeQrVideo(path, text, { width = 640, height = 480, frames = 10 } = {}) {
    const { default: encodeQR } = await import(pathToFileURL(join(modulesDir, 'qr/index.js')).href);
    const modules = encodeQR(text, 'raw', { ecc: 'medium' });
    const count = modules.length + 8; // four light modules of quiet zone on each side
    const scale = Math.floor((Math.min(width, height) - 20) / count);
    const left = Math.floor((width - count * scale) / 2);
    const top = Math.floor((height - count * scale) / 2);
    const luma = Buffer.alloc(width * height, 235);
    for (let y = 0; y < modules.length; ++y) {
        for (let x = 0; x < modules.length; ++x) {
            if (!modules[y][x]) continue;
            for (let dy = 0; dy < scale; ++dy) {
                const row = (top + (y + 4) * scale + dy) * width + left + (x + 4) * scale;
                luma.fill(16, row, row + scale);
            }
        }
    }
    const chroma = Buffer.alloc((width / 2) * (height / 2) * 2, 128);
    const frame = Buffer.concat([Buffer.from('FRAME\n'), luma, chroma]);
    const header = Buffer.from(`YUV4MPEG2 W${width} H${height} F10:1 Ip A1:1 C420jpeg\n`);
    writeFileSync(path, Buffer.concat([header, ...Array(frames).fill(frame)]));
}
