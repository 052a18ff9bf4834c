// The lines of one server's log as the page holds them: each line once (by its
// id, whatever path it came by: the live append, the backlog a subscription asks
// for, the whole log again after a reconnection), in the order of their dates,
// at most `cap` lines (the oldest go first). `add` reports what changed, so a view
// appends and trims instead of redrawing.

export const defaultLogCap = 2000;

export class LogBuffer {
    constructor(cap = defaultLogCap) {
        this.cap = cap;
        this.lines = [];
        this.ids = new Set();
    }

    get size() {
        return this.lines.length;
    }

    // { appended, removedFromFront, reordered }: `appended` new lines were added at
    // the end, then `removedFromFront` lines left the front; `reordered` means a
    // line went elsewhere than the end, and a view must redraw.
    add(lines) {
        let appended = 0;
        let reordered = false;
        for (const line of lines) {
            if (this.ids.has(line.id)) continue;
            const count = this.lines.length;
            if (count >= this.cap && line.date < this.lines[0].date) continue; // older than all that is kept
            if (count === 0 || line.date >= this.lines[count - 1].date) {
                this.lines.push(line);
                ++appended;
            } else {
                this.lines.splice(this.upperBound(line.date), 0, line);
                reordered = true;
            }
            this.ids.add(line.id);
        }
        let removedFromFront = 0;
        if (this.lines.length > this.cap) {
            removedFromFront = this.lines.length - this.cap;
            for (const old of this.lines.splice(0, removedFromFront)) this.ids.delete(old.id);
        }
        return { appended: Math.min(appended, this.lines.length), removedFromFront, reordered };
    }

    clear() {
        this.lines = [];
        this.ids.clear();
    }

    // First index whose date is after `date`: equal dates keep their arrival order.
    upperBound(date) {
        let lo = 0;
        let hi = this.lines.length;
        while (lo < hi) {
            const mid = (lo + hi) >> 1;
            if (this.lines[mid].date <= date) lo = mid + 1;
            else hi = mid;
        }
        return lo;
    }
}

// Whether a line matches the search text: case-insensitive, plain text (no pattern syntax).
export function lineMatches(line, query) {
    if (!query) return true;
    return line.text.toLowerCase().includes(query.toLowerCase());
}
