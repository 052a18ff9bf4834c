// The computers this page is paired with. Each entry: its room id (the entry's
// identity), the name it showed last, its pairing key, its relay, and the password
// when one is in use. Only entries the user asked to remember go to localStorage
// (never a cookie), and their password only when asked for as well; the others
// live as long as the page.

const storageKey = 'wardlamp.pairings';
const selectedKey = 'wardlamp.selected';

export class PairingBook {
    constructor(storage) {
        this.storage = storage ?? null;
        this.entries = [];
        this.selected = null;
        this.load();
    }

    load() {
        if (!this.storage) return;
        try {
            const saved = JSON.parse(this.storage.getItem(storageKey) ?? '[]');
            if (Array.isArray(saved)) {
                this.entries = saved.filter((e) => e && typeof e.roomId === 'string' && typeof e.key === 'string')
                    .map((e) => ({
                        roomId: e.roomId, name: String(e.name ?? ''), key: e.key, relay: String(e.relay ?? ''),
                        password: typeof e.password === 'string' ? e.password : '', remember: true,
                        rememberPassword: typeof e.password === 'string' && e.password !== '',
                    }));
            }
            const selected = this.storage.getItem(selectedKey);
            this.selected = this.entries.some((e) => e.roomId === selected) ? selected : this.entries[0]?.roomId ?? null;
        } catch {
            this.entries = []; // a damaged list is not worth a broken page
        }
    }

    save() {
        if (!this.storage) return;
        const kept = this.entries.filter((e) => e.remember).map((e) => ({
            roomId: e.roomId, name: e.name, key: e.key, relay: e.relay,
            ...(e.rememberPassword && e.password ? { password: e.password } : {}),
        }));
        try {
            if (kept.length === 0) {
                this.storage.removeItem(storageKey);
                this.storage.removeItem(selectedKey);
            } else {
                this.storage.setItem(storageKey, JSON.stringify(kept));
                if (this.selected && kept.some((e) => e.roomId === this.selected))
                    this.storage.setItem(selectedKey, this.selected);
            }
        } catch {
            // storage full or refused: the entries stay for this page's life
        }
    }

    find(roomId) {
        return this.entries.find((e) => e.roomId === roomId);
    }

    // Adds or replaces the entry of this room and selects it.
    put(entry) {
        const index = this.entries.findIndex((e) => e.roomId === entry.roomId);
        if (index >= 0) this.entries[index] = { ...this.entries[index], ...entry };
        else this.entries.push(entry);
        this.selected = entry.roomId;
        this.save();
    }

    update(roomId, changes) {
        const entry = this.find(roomId);
        if (!entry) return;
        Object.assign(entry, changes);
        this.save();
    }

    select(roomId) {
        if (!this.find(roomId)) return;
        this.selected = roomId;
        this.save();
    }

    forget(roomId) {
        this.entries = this.entries.filter((e) => e.roomId !== roomId);
        if (this.selected === roomId) this.selected = this.entries[0]?.roomId ?? null;
        this.save();
    }

    current() {
        return this.find(this.selected) ?? null;
    }
}
