// Alerts from the desktop as toasts at the bottom of the page; each goes after a
// few seconds, a tap opens that server's log.

import { byId, el } from './dom.js';

const shownMs = 6000;
const maxShown = 3;

export class Toasts {
    constructor({ onOpen }) {
        this.root = byId('toasts');
        this.onOpen = onOpen;
    }

    show(alert) {
        const status = alert.kind === 'restart' ? 'running' : alert.kind === 'info' ? 'stopped' : 'error';
        const text = el('span', { className: 'toast-text' }, [
            el('strong', { text: alert.name ?? 'Wardlamp' }),
            el('span', { text: alert.text }),
        ]);
        const toast = el('button', { className: 'toast', attrs: { type: 'button', role: 'status' }, data: { kind: alert.kind } },
            [el('span', { className: 'dot', data: { status }, attrs: { 'aria-hidden': 'true' } }), text]);
        toast.addEventListener('click', () => {
            toast.remove();
            if (alert.serverId) this.onOpen(alert.serverId);
        });
        this.root.append(toast);
        while (this.root.childElementCount > maxShown) this.root.firstElementChild.remove();
        setTimeout(() => toast.remove(), shownMs);
    }
}
