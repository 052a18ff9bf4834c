// Reads a QR code with the camera: the browser's BarcodeDetector where it has one,
// else the small decoder loaded only now (it is not part of the first page load).

import { byId } from './dom.js';

const scanEveryMs = 150;
const maxSide = 720;

export function cameraAvailable() {
    return Boolean(globalThis.isSecureContext && navigator.mediaDevices?.getUserMedia);
}

async function makeDetector() {
    if ('BarcodeDetector' in globalThis) {
        try {
            const formats = await globalThis.BarcodeDetector.getSupportedFormats();
            if (formats.includes('qr_code')) {
                const detector = new globalThis.BarcodeDetector({ formats: ['qr_code'] });
                return async (video) => (await detector.detect(video))[0]?.rawValue;
            }
        } catch {
            // fall through to the decoder
        }
    }
    const { decodeFrame } = await import('./QrFrameDecoder.js');
    const canvas = document.createElement('canvas');
    const context = canvas.getContext('2d', { willReadFrequently: true });
    return async (video) => {
        const scale = Math.min(1, maxSide / Math.max(video.videoWidth, video.videoHeight));
        canvas.width = Math.round(video.videoWidth * scale);
        canvas.height = Math.round(video.videoHeight * scale);
        if (!canvas.width || !canvas.height) return undefined;
        context.drawImage(video, 0, 0, canvas.width, canvas.height);
        return decodeFrame(context.getImageData(0, 0, canvas.width, canvas.height));
    };
}

export class Scanner {
    constructor() {
        this.dialog = byId('scanner');
        this.video = byId('scannerVideo');
        this.problem = byId('scannerProblem');
        byId('scannerCancel').addEventListener('click', () => this.finish(undefined));
        this.dialog.addEventListener('close', () => this.finish(undefined));
        this.resolve = null;
    }

    // The text of the first QR code seen, or undefined when cancelled or impossible.
    async scan() {
        this.problem.hidden = true;
        this.dialog.showModal();
        const result = new Promise((resolve) => { this.resolve = resolve; });
        try {
            this.stream = await navigator.mediaDevices.getUserMedia({
                video: { facingMode: 'environment' }, audio: false,
            });
            this.video.srcObject = this.stream;
            await this.video.play();
            const detect = await makeDetector();
            const loop = async () => {
                if (!this.resolve) return;
                let text;
                try {
                    text = await detect(this.video);
                } catch {
                    text = undefined;
                }
                if (text) this.finish(text);
                else this.timer = setTimeout(loop, scanEveryMs);
            };
            loop();
        } catch (error) {
            this.problem.textContent = error?.name === 'NotAllowedError'
                ? 'The camera was not allowed. Paste the pairing key instead.'
                : 'No camera could be opened. Paste the pairing key instead.';
            this.problem.hidden = false;
        }
        return result;
    }

    finish(text) {
        clearTimeout(this.timer);
        this.stream?.getTracks().forEach((track) => track.stop());
        this.stream = null;
        this.video.srcObject = null;
        if (this.dialog.open) this.dialog.close();
        const resolve = this.resolve;
        this.resolve = null;
        resolve?.(text);
    }
}
