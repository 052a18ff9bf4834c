// One server's log: lines as they come (time, text; error lines marked), kept at
// the bottom while the reader is there, a "Latest" button when they scrolled up,
// and a search that shows only the matching lines. DOM work is batched into one
// animation frame however many appends arrive.

import { clockTime } from '../model/Format.js';
import { lineMatches } from '../model/LogBuffer.js';
import { byId, el, setText } from './dom.js';

const nearBottomPx = 48;

export class LogView {
    constructor({ onBack }) {
        this.root = byId('logView');
        this.title = byId('logTitle');
        this.dot = byId('logDot');
        this.lines = byId('logLines');
        this.search = byId('logSearch');
        this.count = byId('logCount');
        this.jump = byId('jumpLatest');
        this.buffer = null;
        this.pending = null; // { appended, removedFromFront } or 'redraw'
        this.frame = 0;
        this.follow = true;
        this.query = '';
        byId('logBack').addEventListener('click', () => onBack());
        this.search.addEventListener('input', () => {
            this.query = this.search.value;
            this.schedule('redraw');
        });
        this.lines.addEventListener('scroll', () => {
            this.follow = this.isNearBottom();
            this.jump.hidden = this.follow;
        }, { passive: true });
        this.jump.addEventListener('click', () => {
            this.follow = true;
            this.jump.hidden = true;
            this.scrollToEnd();
        });
    }

    open(server, buffer) {
        this.buffer = buffer;
        this.query = '';
        this.search.value = '';
        this.follow = true;
        this.jump.hidden = true;
        this.setServer(server);
        this.root.hidden = false;
        this.schedule('redraw');
    }

    close() {
        this.root.hidden = true;
        this.buffer = null;
        this.lines.replaceChildren();
        cancelAnimationFrame(this.frame);
        this.frame = 0;
        this.pending = null;
    }

    get isOpen() {
        return !this.root.hidden;
    }

    setServer(server) {
        setText(this.title, server?.name ?? 'Server');
        this.dot.dataset.status = server?.status ?? 'stopped';
    }

    changed(change) {
        if (change.cleared || change.reordered) this.schedule('redraw');
        else this.schedule(change);
    }

    schedule(change) {
        if (change === 'redraw' || this.pending === 'redraw') {
            this.pending = 'redraw';
        } else if (this.pending) {
            this.pending.appended += change.appended;
            this.pending.removedFromFront += change.removedFromFront;
        } else {
            this.pending = { appended: change.appended, removedFromFront: change.removedFromFront };
        }
        // A hidden page gets no frames: past the buffer's size a redraw is cheaper anyway.
        if (this.pending !== 'redraw' && this.buffer && this.pending.appended >= this.buffer.cap) this.pending = 'redraw';
        if (!this.frame) this.frame = requestAnimationFrame(() => this.render());
    }

    render() {
        this.frame = 0;
        const pending = this.pending;
        this.pending = null;
        if (!this.buffer || !pending) return;
        const lines = this.buffer.lines;
        if (pending === 'redraw') {
            const fragment = document.createDocumentFragment();
            for (const line of lines) if (lineMatches(line, this.query)) fragment.append(this.lineElement(line));
            this.lines.replaceChildren(fragment);
        } else {
            // Lines that left the buffer's front leave the view's front (those shown).
            const placeholder = this.lines.firstElementChild;
            if (placeholder && placeholder.classList.contains('log-empty')) placeholder.remove();
            const gone = pending.removedFromFront;
            if (gone > 0) this.removeOldest(gone);
            const fresh = lines.slice(Math.max(0, lines.length - pending.appended));
            const fragment = document.createDocumentFragment();
            for (const line of fresh) if (lineMatches(line, this.query)) fragment.append(this.lineElement(line));
            this.lines.append(fragment);
        }
        this.updateCount();
        if (this.lines.childElementCount === 0) {
            this.lines.replaceChildren(el('p', {
                className: 'log-empty', text: this.query ? 'No line matches the search.' : 'No log lines yet.',
            }));
        }
        if (this.follow) this.scrollToEnd();
    }

    // Removes the shown elements of lines that are no longer in the buffer.
    removeOldest(count) {
        const kept = this.buffer.ids;
        let node = this.lines.firstElementChild;
        let removed = 0;
        while (node && removed < count) {
            const next = node.nextElementSibling;
            if (node.dataset.id === undefined || !kept.has(node.dataset.id)) {
                node.remove();
                if (node.dataset.id !== undefined) ++removed;
            } else {
                break;
            }
            node = next;
        }
    }

    lineElement(line) {
        const children = [el('span', { className: 'line-time', text: clockTime(line.date) })];
        if (line.isError) children.push(el('span', { className: 'line-mark', text: '!', attrs: { 'aria-label': 'error' } }));
        children.push(el('span', { className: 'line-text', text: line.text }));
        return el('div', { className: line.isError ? 'line error' : 'line', data: { id: line.id } }, children);
    }

    updateCount() {
        const total = this.buffer.size;
        if (this.query) {
            const shown = this.lines.querySelectorAll('.line').length;
            setText(this.count, `${shown.toLocaleString('en')} of ${total.toLocaleString('en')}`);
        } else {
            setText(this.count, `${total.toLocaleString('en')} ${total === 1 ? 'line' : 'lines'}`);
        }
    }

    isNearBottom() {
        return this.lines.scrollHeight - this.lines.scrollTop - this.lines.clientHeight < nearBottomPx;
    }

    scrollToEnd() {
        this.lines.scrollTop = this.lines.scrollHeight;
    }
}
