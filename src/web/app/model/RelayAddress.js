// Where the relay is, seen from the page. A page served by the relay talks to the
// relay that served it (same host, same folder, so a relay mounted under a path
// prefix works); a page hosted anywhere else names its relay with ?relay=wss://….

export function parseRelayEndpoint(text) {
    let url;
    try {
        url = new URL(text);
    } catch {
        return undefined;
    }
    if (url.protocol !== 'wss:' && url.protocol !== 'ws:') return undefined;
    if (url.username || url.password) return undefined;
    url.hash = '';
    url.search = '';
    if (!url.pathname.endsWith('/')) url.pathname += '/';
    return url.href;
}

// { endpoint } or { problem }.
export function relayEndpointForPage(location) {
    const url = new URL(location.href);
    const named = url.searchParams.get('relay');
    if (named !== null) {
        const endpoint = parseRelayEndpoint(named);
        return endpoint ? { endpoint } : { problem: `"${named}" is not a relay address (ws:// or wss://).` };
    }
    if (url.protocol !== 'https:' && url.protocol !== 'http:')
        return { problem: 'This page was not opened from a relay: add ?relay=wss://… to its address.' };
    const folder = url.pathname.slice(0, url.pathname.lastIndexOf('/') + 1);
    return { endpoint: `${url.protocol === 'https:' ? 'wss:' : 'ws:'}//${url.host}${folder}` };
}

export function connectUrl(endpoint, roomId) {
    const url = new URL('connect', endpoint);
    url.search = `?room=${roomId}&role=controller`;
    return url.href;
}

// The pairing key in a link's fragment ("#k=WL1.…"); a fragment never reaches a server.
export function keyFromFragment(hash) {
    if (!hash || !hash.startsWith('#')) return undefined;
    const params = new URLSearchParams(hash.slice(1));
    const key = params.get('k');
    return key === null ? undefined : key;
}
