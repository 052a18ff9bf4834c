// One WebSocket to the relay for one room, kept up: it reconnects after every
// failure with the back-off of ReconnectSchedule, at once when the page comes back
// to the foreground or the network returns, and treats a relay that stays silent
// through a whole heartbeat period (its "ping" envelope unanswered) as lost.
// Frames larger than `maxFrameChars` are dropped unread; binary frames are taken
// as UTF-8 text, as the desktop takes them.

import { reconnectDelayMs } from '../model/ReconnectSchedule.js';

export const heartbeatMs = 25000;
export const maxFrameChars = 16 * 1024 * 1024;
const pingEnvelope = '{"v":1,"kind":"ping"}';
const utf8 = new TextDecoder('utf-8', { fatal: true });

export class RelayConnection {
    // handlers: { open(), close(reason), frame(text), scheduled(ms) }
    constructor(url, handlers, { WebSocketClass = globalThis.WebSocket, timers = globalThis } = {}) {
        this.url = url;
        this.handlers = handlers;
        this.WebSocketClass = WebSocketClass;
        this.timers = timers;
        this.socket = null;
        this.attempt = 0;
        this.retryTimer = null;
        this.heartbeatTimer = null;
        this.heardSincePing = true;
        this.stopped = false;
        this.open = false;
    }

    start() {
        this.stopped = false;
        this.connect();
    }

    stop() {
        this.stopped = true;
        this.timers.clearTimeout(this.retryTimer);
        this.timers.clearInterval(this.heartbeatTimer);
        this.retryTimer = null;
        this.heartbeatTimer = null;
        const socket = this.socket;
        this.socket = null;
        this.open = false;
        if (socket) {
            socket.onopen = socket.onclose = socket.onmessage = socket.onerror = null;
            try {
                socket.close(1001, 'going away');
            } catch {
                // already closed
            }
        }
    }

    // The relay answered as a relay should (its welcome): the next failure starts
    // the back-off from the beginning again.
    markHealthy() {
        this.attempt = 0;
    }

    // Skips the wait of a scheduled retry (page visible again, network back).
    retryNow() {
        if (this.stopped || this.socket) return;
        this.timers.clearTimeout(this.retryTimer);
        this.retryTimer = null;
        this.connect();
    }

    send(text) {
        if (!this.open || !this.socket) return false;
        this.socket.send(text);
        return true;
    }

    connect() {
        let socket;
        try {
            socket = new this.WebSocketClass(this.url);
        } catch (error) {
            this.handlers.close?.(String(error?.message ?? error));
            this.scheduleRetry();
            return;
        }
        socket.binaryType = 'arraybuffer';
        this.socket = socket;
        socket.onopen = () => {
            this.open = true;
            this.heardSincePing = true;
            this.heartbeatTimer = this.timers.setInterval(() => this.heartbeat(), heartbeatMs);
            this.handlers.open?.();
        };
        socket.onmessage = (event) => {
            this.heardSincePing = true;
            let text = event.data;
            if (typeof text !== 'string') {
                if (!(text instanceof ArrayBuffer) || text.byteLength > maxFrameChars) return;
                try {
                    text = utf8.decode(text);
                } catch {
                    return;
                }
            }
            if (text.length > maxFrameChars) return;
            this.handlers.frame?.(text);
        };
        socket.onerror = () => {}; // the close event that follows says it
        socket.onclose = (event) => this.lost(event.reason || `closed (${event.code})`);
    }

    heartbeat() {
        if (!this.heardSincePing) {
            // Nothing at all for a whole period, not even the answer to the last ping.
            try {
                this.socket?.close(4001, 'no answer');
            } catch {
                // closing anyway
            }
            this.lost('the relay stopped answering');
            return;
        }
        this.heardSincePing = false;
        this.send(pingEnvelope);
    }

    lost(reason) {
        if (this.stopped || !this.socket) return;
        const socket = this.socket;
        socket.onopen = socket.onclose = socket.onmessage = socket.onerror = null;
        this.socket = null;
        this.open = false;
        this.timers.clearInterval(this.heartbeatTimer);
        this.heartbeatTimer = null;
        this.handlers.close?.(reason);
        this.scheduleRetry();
    }

    scheduleRetry() {
        if (this.stopped) return;
        const delay = reconnectDelayMs(this.attempt++);
        this.handlers.scheduled?.(delay);
        this.retryTimer = this.timers.setTimeout(() => {
            this.retryTimer = null;
            if (!this.stopped) this.connect();
        }, delay);
    }
}
