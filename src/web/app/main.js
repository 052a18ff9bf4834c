// The web controller: builds the views and the model objects, and moves between
// pairing, the server list, a log and the list of computers. Decisions live in
// model/ and protocol/; views only show and forward.

import { canCommand } from './model/ConnectionState.js';
import { ControllerSession } from './model/ControllerSession.js';
import { clockTime } from './model/Format.js';
import { PairingBook } from './model/PairingBook.js';
import { keyFromFragment, parseRelayEndpoint, relayEndpointForPage } from './model/RelayAddress.js';
import { shouldNotifySystem } from './model/AlertPolicy.js';
import { parsePairingKey } from './protocol/PairingCredential.js';
import { isAvailable as cryptoAvailable, roomId } from './protocol/RemoteCrypto.js';
import { ComputersView } from './ui/ComputersView.js';
import { HeaderView } from './ui/HeaderView.js';
import { LogView } from './ui/LogView.js';
import { PairView } from './ui/PairView.js';
import { PasswordCard } from './ui/PasswordCard.js';
import { ServerListView } from './ui/ServerListView.js';
import { Scanner, cameraAvailable } from './ui/Scanner.js';
import { Toasts } from './ui/Toasts.js';
import { byId } from './ui/dom.js';

const notifyPreferenceKey = 'wardlamp.notify';

function localStorageOrNull() {
    try {
        return globalThis.localStorage ?? null;
    } catch {
        return null; // storage blocked by the browser's settings
    }
}

class App {
    constructor() {
        this.storage = localStorageOrNull();
        this.book = new PairingBook(this.storage);
        this.session = null;
        this.view = 'pair';
        this.logServerId = null;
        this.offerKeep = false;
        this.header = new HeaderView({ onComputers: () => this.showComputers() });
        this.pair = new PairView({
            onPair: (text, remember) => this.pairWith(text, remember),
            onScan: () => this.scanKey(),
        });
        this.list = new ServerListView({
            onOpenLog: (id) => this.openLog(id),
            onCommand: (id, action) => this.session?.sendCommand(id, action),
        });
        this.log = new LogView({ onBack: () => history.back() });
        this.password = new PasswordCard({ onSubmit: (text, remember) => this.submitPassword(text, remember) });
        this.computers = new ComputersView({
            onPick: (id) => this.pick(id),
            onForget: (id) => this.forget(id),
            onAdd: () => this.showView('pair', true),
            onDone: () => this.showView(this.book.current() ? 'list' : 'pair'),
            onNotifyChange: (on) => this.setNotify(on),
        });
        this.toasts = new Toasts({ onOpen: (id) => this.openLog(id) });
        this.scanner = new Scanner();
        byId('keepButton').addEventListener('click', () => this.keepCurrent(true));
        byId('keepDismiss').addEventListener('click', () => this.keepCurrent(false));
        window.addEventListener('popstate', (event) => this.handlePopState(event.state));
        document.addEventListener('visibilitychange', () => {
            if (!document.hidden) this.session?.connection?.retryNow();
        });
        window.addEventListener('online', () => this.session?.connection?.retryNow());
        setInterval(() => this.list.tick(Date.now()), 1000);
    }

    async start() {
        const page = relayEndpointForPage(window.location);
        this.pageEndpoint = page.endpoint ?? null;
        if (!globalThis.isSecureContext || !cryptoAvailable()) {
            this.showUnsupported('The page needs a secure connection for its encryption (WebCrypto), and this one is '
                + 'not secure. Open it over https:// (or on this computer itself, at 127.0.0.1 or localhost).');
            return;
        }
        this.pair.setCameraAvailable(cameraAvailable());
        this.registerServiceWorker();
        // A link opened in the page that is already open changes only the fragment.
        window.addEventListener('hashchange', () => this.takeLinkedKey());
        if (await this.takeLinkedKey()) return;
        if (page.problem && this.book.entries.length === 0) {
            this.showUnsupported(page.problem);
            return;
        }
        if (this.book.current()) this.connect(this.book.current());
        else this.showView('pair');
    }

    // Pairs with the key in the address's fragment ("#k=WL1.…"), if there is one.
    async takeLinkedKey() {
        const linked = keyFromFragment(window.location.hash);
        if (linked === undefined) return false;
        // The key leaves the address at once: it should not stay in history or a bookmark.
        const clean = new URL(window.location.href);
        clean.hash = '';
        history.replaceState(null, '', clean.href);
        if (!(await this.pairWith(linked, false, { fromLink: true }))) this.pair.setKey(linked);
        return true;
    }

    showUnsupported(text) {
        byId('unsupportedText').textContent = text;
        byId('unsupportedView').hidden = false;
        this.pair.show(false);
        this.header.show('Wardlamp', null);
    }

    registerServiceWorker() {
        if (!('serviceWorker' in navigator) || new URL(window.location.href).searchParams.has('nosw')) return;
        navigator.serviceWorker.register('./sw.js').catch(() => {});
    }

    // Pairs with the key text; false (and a reason shown) when it is not a key.
    async pairWith(text, remember, { fromLink = false } = {}) {
        const parsed = parsePairingKey(text);
        if (!parsed.credential) {
            this.pair.showProblem(parsed.problem);
            this.showView('pair');
            return false;
        }
        const endpoint = this.pageEndpoint;
        if (!endpoint) {
            this.pair.showProblem('This page does not know its relay: open it with ?relay=wss://… in its address.');
            return false;
        }
        this.pair.showProblem(null);
        const room = await roomId(parsed.credential.secret);
        const existing = this.book.find(room);
        this.book.put({
            roomId: room, name: parsed.credential.name, key: text.trim(), relay: endpoint,
            password: existing?.password ?? '', remember: remember || Boolean(existing?.remember),
            rememberPassword: existing?.rememberPassword ?? false,
        });
        this.offerKeep = fromLink && !existing?.remember && this.storage !== null;
        this.pair.reset();
        this.connect(this.book.current());
        return true;
    }

    async scanKey() {
        const text = await this.scanner.scan();
        if (!text) return;
        const key = keyFromFragment(text.includes('#') ? text.slice(text.indexOf('#')) : '') ?? text;
        this.pair.setKey(key);
        await this.pairWith(key, byId('rememberInput').checked);
    }

    connect(entry) {
        this.session?.stop();
        this.logServerId = null;
        this.log.close();
        const parsed = parsePairingKey(entry.key);
        const endpoint = parseRelayEndpoint(entry.relay) ?? this.pageEndpoint;
        if (!parsed.credential || !endpoint) {
            this.book.forget(entry.roomId);
            this.showView('pair');
            return;
        }
        const session = new ControllerSession({ credential: parsed.credential, endpoint, password: entry.password });
        this.session = session;
        session.subscribe((event) => this.handleSessionEvent(session, event));
        this.list.setSnapshot(null, false, new Map(), Date.now());
        this.showView('list');
        this.refreshHeader();
        session.start().catch(() => {});
    }

    handleSessionEvent(session, event) {
        if (session !== this.session) return;
        const entry = this.book.current();
        switch (event.type) {
        case 'state':
            this.refreshHeader();
            this.refreshList();
            break;
        case 'servers':
            this.refreshList();
            if (this.logServerId) this.log.setServer(session.serverById(this.logServerId));
            break;
        case 'renamed':
            if (entry && event.name) this.book.update(entry.roomId, { name: event.name });
            this.refreshHeader();
            break;
        case 'feedback':
            this.list.updateFeedback(event.serverId, session.feedback.get(event.serverId));
            break;
        case 'log':
            if (event.serverId === this.logServerId) this.log.changed(event.change);
            break;
        case 'alert':
            this.toasts.show(event);
            this.notifySystem(event);
            break;
        default:
            break;
        }
    }

    refreshHeader() {
        const entry = this.book.current();
        const name = this.session?.snapshot?.macName || entry?.name || 'Wardlamp';
        this.header.show(this.view === 'pair' && !entry ? 'Wardlamp' : name, this.session ? this.session.state : null);
        document.title = entry ? `${name} · Wardlamp` : 'Wardlamp';
    }

    refreshList() {
        const session = this.session;
        if (!session) return;
        const state = session.state;
        this.list.setSnapshot(session.snapshot, canCommand(state), session.feedback, Date.now());
        let banner = null;
        if (state.kind === 'offline') {
            banner = `Offline: the relay cannot be reached; trying again. ${state.lastUpdate
                ? `Last update ${clockTime(state.lastUpdate)}.` : ''}`;
        } else if (state.kind === 'desktopOffline') {
            banner = `The computer is not connected to the relay. ${state.lastUpdate
                ? `Last update ${clockTime(state.lastUpdate)}.` : ''}`;
        } else if (state.kind === 'replaced') {
            banner = `Another computer (${state.by}) took this pairing key: its servers are shown now. Pair again from `
                + 'your computer if that is not what you want.';
        }
        this.list.setBanner(banner?.trim() ?? null);
        const entry = this.book.current();
        this.password.show(state.kind, { canRemember: Boolean(entry?.remember) });
        byId('keepCard').hidden = !(this.offerKeep && entry && !entry.remember);
        byId('keepName').textContent = entry?.name || 'this computer';
    }

    async submitPassword(text, rememberPassword) {
        const session = this.session;
        if (!session) return;
        this.password.busy(true);
        const result = await session.tryPassword(text);
        this.password.busy(false);
        if (session !== this.session) return;
        if (!result.ok) {
            this.password.showProblem('That password does not open this computer\'s messages. Check it and try again.');
            return;
        }
        this.password.showProblem(null);
        const entry = this.book.current();
        if (entry) this.book.update(entry.roomId, { password: text, rememberPassword: rememberPassword && entry.remember });
        this.refreshList();
    }

    keepCurrent(keep) {
        this.offerKeep = false;
        const entry = this.book.current();
        if (keep && entry) this.book.update(entry.roomId, { remember: true });
        this.refreshList();
    }

    openLog(serverId) {
        if (!this.session) return;
        const buffer = this.session.openLog(serverId);
        this.logServerId = serverId;
        this.log.open(this.session.serverById(serverId), buffer);
        if (this.view !== 'log') history.pushState({ view: 'log', serverId }, '');
        this.showView('log');
    }

    handlePopState(state) {
        if (state?.view === 'log' && state.serverId && this.session) {
            this.openLog(state.serverId);
            return;
        }
        if (this.view === 'log' || this.view === 'computers') this.showView(this.book.current() ? 'list' : 'pair');
    }

    showComputers() {
        if (this.book.entries.length === 0) return;
        this.computers.setEntries(this.book.entries, this.book.selected);
        this.computers.setNotify(this.notifyEnabled(), this.notifyHint());
        this.showView('computers');
    }

    pick(roomId) {
        this.book.select(roomId);
        this.offerKeep = false;
        this.connect(this.book.current());
    }

    forget(roomId) {
        const wasCurrent = this.book.selected === roomId;
        this.book.forget(roomId);
        if (wasCurrent) {
            this.session?.stop();
            this.session = null;
            if (this.book.current()) this.connect(this.book.current());
        }
        if (this.book.entries.length === 0) {
            this.showView('pair');
            return;
        }
        this.computers.setEntries(this.book.entries, this.book.selected);
        this.showView('computers'); // the list of computers stays in front
    }

    showView(view, force = false) {
        if (view === 'list' && !this.book.current() && !force) view = 'pair';
        if (this.view === 'log' && view !== 'log') {
            this.session?.closeLog();
            this.logServerId = null;
            this.log.close();
        }
        this.view = view;
        this.pair.show(view === 'pair');
        this.list.show(view === 'list');
        this.computers.show(view === 'computers');
        if (view !== 'log') this.log.root.hidden = true;
        byId('computerChevron').hidden = this.book.entries.length === 0;
        if (view === 'list') this.refreshList();
        this.refreshHeader();
        window.scrollTo(0, 0);
    }

    notifyEnabled() {
        return this.storage?.getItem(notifyPreferenceKey) === 'on';
    }

    notifyHint() {
        if (!('Notification' in globalThis)) return 'This browser has no system notifications.';
        if (Notification.permission === 'denied') return 'The browser blocks notifications for this page.';
        return null;
    }

    async setNotify(on) {
        if (on && 'Notification' in globalThis && Notification.permission !== 'granted')
            await Notification.requestPermission().catch(() => {});
        const granted = 'Notification' in globalThis && Notification.permission === 'granted';
        if (on && granted) this.storage?.setItem(notifyPreferenceKey, 'on');
        else this.storage?.removeItem(notifyPreferenceKey);
        this.computers.setNotify(on && granted, this.notifyHint());
    }

    notifySystem(alert) {
        if (!('Notification' in globalThis)) return;
        if (!shouldNotifySystem({ enabled: this.notifyEnabled(), permission: Notification.permission,
            hidden: document.hidden })) return;
        const title = alert.name ? `${alert.name} · ${this.session?.snapshot?.macName ?? 'Wardlamp'}` : 'Wardlamp';
        const options = { body: alert.text, tag: `wardlamp-${alert.serverId ?? 'alert'}`, icon: './icon-192.png' };
        // Phones show notifications only through the service worker.
        navigator.serviceWorker?.getRegistration?.().then((registration) => {
            if (registration) return registration.showNotification(title, options);
            return new Notification(title, options);
        }).catch(() => {});
    }
}

const app = new App();
globalThis.wardlamp = app; // for the browser tests and the curious
app.start();
