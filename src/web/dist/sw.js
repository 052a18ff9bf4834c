// The service worker: keeps the app shell (the page, its script, style, manifest and
// icons) so the app opens from the home screen even before the relay answers. It
// caches nothing else: the desktop's messages travel over the WebSocket, which a
// service worker never sees, and no other answer is stored.

const version = '4d9937f74c1f4c88';
const shell = ["./","./app.37OFJZKW.js","./app.4XWBADDX.css","./icon-192.png","./icon-512.png","./icon.svg","./manifest.webmanifest"];
const cacheName = `wardlamp-shell-${version}`;

self.addEventListener('install', (event) => {
    event.waitUntil(caches.open(cacheName).then((cache) => cache.addAll(shell)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
    event.waitUntil(caches.keys()
        .then((names) => Promise.all(names.filter((n) => n.startsWith('wardlamp-shell-') && n !== cacheName)
            .map((n) => caches.delete(n))))
        .then(() => self.clients.claim()));
});

const scope = new URL(self.registration.scope);
const shellPaths = new Set(shell.map((path) => new URL(path, scope).pathname));

self.addEventListener('fetch', (event) => {
    const request = event.request;
    if (request.method !== 'GET') return;
    const url = new URL(request.url);
    if (url.origin !== scope.origin) return;
    if (request.mode === 'navigate') {
        // The page from the network when it can be had (it names the current assets),
        // the kept copy when not.
        event.respondWith(fetch(request).catch(() => caches.match(new URL('./', scope).href)));
        return;
    }
    if (!shellPaths.has(url.pathname)) return;
    event.respondWith(caches.match(request).then((hit) => hit ?? fetch(request)));
});

self.addEventListener('notificationclick', (event) => {
    event.notification.close();
    event.waitUntil(self.clients.matchAll({ type: 'window' }).then((windows) => {
        const open = windows.find((w) => w.url.startsWith(scope.href));
        return open ? open.focus() : self.clients.openWindow(scope.href);
    }));
});
