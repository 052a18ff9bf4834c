// The paired computers: pick one, forget one, pair another; and whether alerts may
// become system notifications.

import { byId, el } from './dom.js';

export class ComputersView {
    constructor({ onPick, onForget, onAdd, onDone, onNotifyChange }) {
        this.root = byId('computersView');
        this.list = byId('computerList');
        this.notify = byId('notifyInput');
        this.notifyHint = byId('notifyHint');
        this.onPick = onPick;
        this.onForget = onForget;
        byId('addComputer').addEventListener('click', () => onAdd());
        byId('computersDone').addEventListener('click', () => onDone());
        this.notify.addEventListener('change', () => onNotifyChange(this.notify.checked));
    }

    show(visible) {
        this.root.hidden = !visible;
    }

    setEntries(entries, selected) {
        this.list.replaceChildren(...entries.map((entry) => {
            const pick = el('button', { className: 'pick', attrs: { type: 'button' } }, [
                el('strong', { text: entry.name || 'Unnamed computer' }),
                el('span', { text: entry.remember ? 'Remembered on this device' : 'Until this page closes' }),
            ]);
            pick.addEventListener('click', () => this.onPick(entry.roomId));
            const forget = el('button', { className: 'forget', text: 'Forget', attrs: { type: 'button',
                'aria-label': `Forget ${entry.name || 'this computer'}` } });
            forget.addEventListener('click', () => this.onForget(entry.roomId));
            return el('li', { attrs: { 'aria-current': String(entry.roomId === selected) } }, [pick, forget]);
        }));
    }

    setNotify(enabled, hint) {
        this.notify.checked = enabled;
        this.notifyHint.textContent = hint ?? '';
        this.notifyHint.hidden = !hint;
    }
}
