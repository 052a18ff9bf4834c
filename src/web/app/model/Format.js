// Texts the views show, from plain values: times, uptimes, states. Pure, so the
// tables in the tests pin them.

const two = (n) => String(n).padStart(2, '0');

// "HH:mm:ss" in the page's local time, as the desktop shows log lines.
export function clockTime(ms) {
    const d = new Date(ms);
    return `${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
}

// A running server's uptime: "42 s", "5 min", "3 h 07 min", "2 d 4 h".
export function uptimeText(seconds) {
    if (!Number.isFinite(seconds) || seconds < 0) return '';
    const s = Math.floor(seconds);
    if (s < 60) return `${s} s`;
    const m = Math.floor(s / 60);
    if (m < 60) return `${m} min`;
    const h = Math.floor(m / 60);
    if (h < 24) return `${h} h ${two(m % 60)} min`;
    return `${Math.floor(h / 24)} d ${h % 24} h`;
}

// Seconds a server has been up, from the desktop's clock: its start time against
// the snapshot's time, plus what has passed here since the snapshot arrived
// (a phone's clock may be minutes off the desktop's).
export function uptimeSeconds(server, snapshotGeneratedAt, receivedAt, now) {
    if ((server.status !== 'running' && server.pid === undefined) || typeof server.startedAt !== 'number') return undefined;
    return Math.max(0, (snapshotGeneratedAt - server.startedAt) / 1000 + (now - receivedAt) / 1000);
}

export const actionLabels = { start: 'Start', stop: 'Stop', restart: 'Restart', clearLogs: 'Clear logs' };

// The line under a server after a command: pending, acknowledged, refused, or no answer.
export function feedbackText(feedback) {
    if (!feedback) return '';
    const label = actionLabels[feedback.action] ?? feedback.action;
    switch (feedback.state) {
    case 'pending': return `${label}: sent, waiting for the desktop…`;
    case 'ok': return `${label}: acknowledged by the desktop`;
    case 'refused': return `${label}: refused by the desktop${feedback.message ? ` (${feedback.message})` : ''}`;
    case 'noAnswer': return `${label}: no answer from the desktop (it may still run it)`;
    case 'notSent': return `${label}: not sent, the desktop is not connected`;
    default: return '';
    }
}

// Which commands make sense for a server: a process that is there (running, or in
// error after an error line while it still runs) can be stopped and restarted; one
// that is not can be started.
export function availableActions(server, connected) {
    if (!connected) return { start: false, stop: false, restart: false, clearLogs: false };
    const alive = server.status === 'running' || server.pid !== undefined;
    return { start: !alive, stop: alive, restart: alive, clearLogs: true };
}

// The line under a server's name: uptime and pid while its process runs, else its last exit.
export function serverDetail(server, uptime) {
    const parts = server.status === 'error' ? ['error'] : [];
    if (server.pid !== undefined || server.status === 'running') {
        if (uptime !== undefined) parts.push(`up ${uptimeText(uptime)}`);
        if (server.pid !== undefined) parts.push(`pid ${server.pid}`);
        return parts.join(' · ') || 'running';
    }
    if (server.lastExitCode !== undefined && (server.status === 'error' || server.lastExitCode !== 0))
        parts.push(`exited with ${server.lastExitCode}`);
    return parts.length ? parts.join(' · ') : server.status;
}

// The words for the connection state in the header.
export function connectionText(state) {
    switch (state.kind) {
    case 'connecting': return 'Connecting…';
    case 'online': return 'Online';
    case 'desktopOffline': return 'Desktop offline';
    case 'needsPassword': return 'Password needed';
    case 'wrongPassword': return 'Wrong password';
    case 'replaced': return 'Another computer took the key';
    case 'offline':
        return state.lastUpdate ? `Offline · ${clockTime(state.lastUpdate)}` : 'Offline';
    default: return '';
    }
}
