// One server's log: lines as they come (time, text; error lines marked), kept at
// the bottom while the reader is there, a "Latest" button when they scrolled up,
// and a search that shows only the matching lines. DOM work is batched per
// animation frame, and spread over frames when one batch is large.

import { clockTime } from '../model/Format.js';
import { lineMatches } from '../model/LogBuffer.js';
import { byId, el, setText } from './dom.js';

const nearBottomPx = 48;
// Lines added to the page in one frame at most, so a large batch (a busy server's
// lines of a whole push) never holds the page for long; the rest follow next frame.
const linesPerFrame = 150;
// Lines in the page at once while following: the buffer keeps 2,000, but a page with
// all of them in its DOM spends its frames laying them out. Earlier ones come on request.
const shownWhileFollowing = 500;

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
        this.pending = null; // 'redraw', or null with lines waiting in `queue`
        this.queue = []; // lines to append, oldest first
        this.shownLimit = shownWhileFollowing;
        this.earlier = byId('logEarlier');
        this.earlier.addEventListener('click', () => {
            this.shownLimit = Infinity;
            const top = this.lines.scrollHeight - this.lines.scrollTop;
            this.render(true);
            this.lines.scrollTop = this.lines.scrollHeight - top; // the same lines stay in view
        });
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
            this.updateEarlier();
        }, { passive: true });
        this.jump.addEventListener('click', () => {
            this.follow = true;
            this.jump.hidden = true;
            if (this.shownLimit !== shownWhileFollowing) {
                this.shownLimit = shownWhileFollowing;
                this.schedule('redraw');
            }
            this.scrollToEnd();
        });
    }

    open(server, buffer) {
        this.buffer = buffer;
        this.shownLimit = shownWhileFollowing;
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
        this.queue = [];
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
        if (change === 'redraw') {
            this.pending = 'redraw';
            this.queue = [];
        } else if (this.pending !== 'redraw' && this.buffer && change.appended > 0) {
            for (const line of this.buffer.lines.slice(-change.appended)) this.queue.push(line);
            // A hidden page gets no frames: past the buffer's size a redraw is cheaper.
            if (this.queue.length > this.buffer.cap) {
                this.pending = 'redraw';
                this.queue = [];
            }
        }
        if (!this.frame) this.frame = requestAnimationFrame(() => this.render());
    }

    render(redraw = false) {
        this.frame = 0;
        if (!this.buffer) return;
        if (redraw || this.pending === 'redraw') {
            this.pending = null;
            this.queue = [];
            const matching = this.buffer.lines.filter((line) => lineMatches(line, this.query));
            const fragment = document.createDocumentFragment();
            for (const line of matching.slice(-Math.min(matching.length, this.shownLimit)))
                fragment.append(this.lineElement(line));
            this.lines.replaceChildren(fragment);
        } else {
            const placeholder = this.lines.firstElementChild;
            if (placeholder && placeholder.classList.contains('log-empty')) placeholder.remove();
            this.removeOldest();
            const batch = this.queue.splice(0, linesPerFrame);
            const fragment = document.createDocumentFragment();
            for (const line of batch) {
                // A line may have left the buffer's front before its turn came.
                if (this.buffer.ids.has(line.id) && lineMatches(line, this.query)) fragment.append(this.lineElement(line));
            }
            this.lines.append(fragment);
            let extra = this.lines.childElementCount - this.shownLimit;
            while (extra-- > 0) this.lines.firstElementChild.remove();
            if (this.queue.length > 0) this.frame = requestAnimationFrame(() => this.render());
        }
        this.updateCount();
        if (this.lines.childElementCount === 0) {
            this.lines.replaceChildren(el('p', {
                className: 'log-empty', text: this.query ? 'No line matches the search.' : 'No log lines yet.',
            }));
        }
        if (this.follow) this.scrollToEnd();
    }

    // Removes the shown elements of lines that are no longer in the buffer (they
    // leave from the front, oldest first).
    removeOldest() {
        const kept = this.buffer.ids;
        let node = this.lines.firstElementChild;
        while (node && (node.dataset.id === undefined || !kept.has(node.dataset.id))) {
            const next = node.nextElementSibling;
            node.remove();
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
        const shown = this.lines.querySelectorAll('.line').length;
        const matching = this.query ? this.buffer.lines.filter((l) => lineMatches(l, this.query)).length : total;
        // Lines still waiting for their frame are not "earlier".
        this.hiddenEarlier = Math.max(0, matching - shown - this.queue.length);
        this.updateEarlier();
        if (this.query) {
            setText(this.count, `${matching.toLocaleString('en')} of ${total.toLocaleString('en')}`);
        } else {
            setText(this.count, `${total.toLocaleString('en')} ${total === 1 ? 'line' : 'lines'}`);
        }
    }

    // The button for earlier lines, while there are some and the reader is near the top.
    updateEarlier() {
        const hidden = this.hiddenEarlier ?? 0;
        this.earlier.hidden = hidden === 0 || this.lines.scrollTop > 120;
        setText(this.earlier, `Show ${hidden.toLocaleString('en')} earlier ${hidden === 1 ? 'line' : 'lines'}`);
    }

    isNearBottom() {
        return this.lines.scrollHeight - this.lines.scrollTop - this.lines.clientHeight < nearBottomPx;
    }

    scrollToEnd() {
        this.lines.scrollTop = this.lines.scrollHeight;
    }
}
