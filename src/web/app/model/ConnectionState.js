// What the header says about the connection, decided from plain facts. The order
// matters: what the user must act on (a password) comes before what only waits.
//
// facts: { relayOpen, everOpened, agentOnline (true/false/undefined), needsPassword,
//          wrongPassword, replacedBy (a computer name or null), lastUpdate (ms or null) }

export function connectionState(facts) {
    if (!facts.relayOpen) {
        return facts.everOpened || facts.failedAttempts > 0
            ? { kind: 'offline', lastUpdate: facts.lastUpdate ?? null }
            : { kind: 'connecting' };
    }
    if (facts.wrongPassword) return { kind: 'wrongPassword' };
    if (facts.needsPassword) return { kind: 'needsPassword' };
    if (facts.agentOnline === false) return { kind: 'desktopOffline', lastUpdate: facts.lastUpdate ?? null };
    if (facts.replacedBy) return { kind: 'replaced', by: facts.replacedBy };
    if (facts.agentOnline === true) return { kind: 'online' };
    return { kind: 'connecting' };
}

// Whether commands can go out now: the relay is open, the desktop is there, and
// its messages open under the key this page holds.
export function canCommand(state) {
    return state.kind === 'online' || state.kind === 'replaced';
}
