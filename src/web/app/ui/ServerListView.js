// The server list: one row per server of the latest snapshot (status dot, name,
// uptime and pid, an error flag) with Start, Stop, Restart and Clear logs, and the
// fate of the last command under it. Rows are kept by server id and only their
// changed texts are touched, so a snapshot of hundreds of servers stays cheap.

import { actionLabels, availableActions, feedbackText, serverDetail, uptimeSeconds } from '../model/Format.js';
import { byId, el, setText } from './dom.js';

const actions = ['start', 'stop', 'restart', 'clearLogs'];
const shortLabels = { start: 'Start', stop: 'Stop', restart: 'Restart', clearLogs: 'Clear' };

export class ServerListView {
    constructor({ onOpenLog, onCommand }) {
        this.root = byId('listView');
        this.list = byId('serverList');
        this.empty = byId('emptyList');
        this.banner = byId('offlineBanner');
        this.rows = new Map();
        this.onOpenLog = onOpenLog;
        this.onCommand = onCommand;
        this.snapshot = null;
        this.connected = false;
    }

    show(visible) {
        this.root.hidden = !visible;
    }

    setBanner(text) {
        this.banner.textContent = text ?? '';
        this.banner.hidden = !text;
        this.list.classList.toggle('stale', Boolean(text));
    }

    setSnapshot(snapshot, connected, feedback, now) {
        this.snapshot = snapshot;
        this.connected = connected;
        const servers = snapshot?.servers ?? [];
        const seen = new Set();
        let previous = null;
        for (const server of servers) {
            seen.add(server.id);
            let row = this.rows.get(server.id);
            if (!row) {
                row = this.makeRow(server.id);
                this.rows.set(server.id, row);
            }
            const expectedPosition = previous ? previous.nextSibling : this.list.firstChild;
            if (row.item !== expectedPosition) this.list.insertBefore(row.item, expectedPosition);
            previous = row.item;
            this.fillRow(row, server, feedback.get(server.id), now);
        }
        for (const [id, row] of this.rows) {
            if (!seen.has(id)) {
                row.item.remove();
                this.rows.delete(id);
            }
        }
        this.empty.hidden = servers.length > 0;
        setText(this.empty, snapshot ? 'No servers are configured on this computer.' : 'Waiting for the computer…');
    }

    makeRow(id) {
        const dot = el('span', { className: 'dot', attrs: { 'aria-hidden': 'true' } });
        const name = el('span', { className: 'server-name' });
        const meta = el('span', { className: 'server-meta' });
        const flag = el('span', { className: 'server-flag', text: 'errors' });
        const main = el('button', { className: 'server-main', attrs: { type: 'button' } }, [dot, name, meta, flag]);
        main.addEventListener('click', () => this.onOpenLog(id));
        const buttons = {};
        const bar = el('div', { className: 'server-actions' });
        for (const action of actions) {
            const button = el('button', { text: shortLabels[action], attrs: { type: 'button' }, data: { action } });
            button.addEventListener('click', () => this.onCommand(id, action));
            buttons[action] = button;
            bar.append(button);
        }
        const feedback = el('p', { className: 'server-feedback', attrs: { role: 'status' } });
        const item = el('li', { className: 'server', data: { id } }, [main, bar, feedback]);
        return { item, dot, name, meta, flag, main, buttons, feedback, server: null };
    }

    fillRow(row, server, feedback, now) {
        row.server = server;
        row.dot.dataset.status = server.status;
        setText(row.name, server.name);
        setText(row.meta, this.metaText(server, now));
        row.flag.hidden = !server.hasError;
        row.main.setAttribute('aria-label', `${server.name}, ${server.status}${server.hasError ? ', has errors' : ''}: open the log`);
        const allowed = availableActions(server, this.connected);
        for (const action of actions) {
            row.buttons[action].disabled = !allowed[action];
            row.buttons[action].setAttribute('aria-label', `${actionLabels[action]} ${server.name}`);
        }
        const text = feedbackText(feedback);
        setText(row.feedback, text);
        row.feedback.hidden = !text;
        row.feedback.dataset.state = feedback?.state ?? '';
    }

    metaText(server, now) {
        return serverDetail(server, uptimeSeconds(server, this.snapshot.generatedAt, this.snapshot.receivedAt, now));
    }

    // Uptimes move on between snapshots.
    tick(now) {
        if (!this.snapshot || this.root.hidden) return;
        for (const row of this.rows.values()) {
            if (row.server && (row.server.status === 'running' || row.server.pid !== undefined))
                setText(row.meta, this.metaText(row.server, now));
        }
    }

    updateFeedback(serverId, feedback) {
        const row = this.rows.get(serverId);
        if (!row || !row.server) return;
        const text = feedbackText(feedback);
        setText(row.feedback, text);
        row.feedback.hidden = !text;
        row.feedback.dataset.state = feedback?.state ?? '';
    }
}
