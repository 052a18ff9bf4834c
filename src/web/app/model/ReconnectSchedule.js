// How long to wait before the next attempt to reach the relay: min(0.5 s × 2^n, 30 s)
// plus up to 0.5 s of jitter, as the desktop's relay client waits, so that many
// pages that lost the same relay do not all come back at the same instant.

const baseMs = 500;
const capMs = 30000;
const maxJitterMs = 500;

export function reconnectDelayMs(attempt, random = Math.random()) {
    const n = Math.min(Math.max(attempt, 0), 16);
    return Math.min(baseMs * 2 ** n, capMs) + maxJitterMs * Math.min(Math.max(random, 0), 1);
}
