// Whether an alert also becomes a system notification: only when the user turned
// that on, the browser allows it, and the page is not in front (in front, the
// toast is enough).

export function shouldNotifySystem({ enabled, permission, hidden }) {
    return Boolean(enabled) && permission === 'granted' && Boolean(hidden);
}
