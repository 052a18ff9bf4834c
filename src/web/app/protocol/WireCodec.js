// The relay protocol's JSON records, read as strictly as the desktop reads them:
// the outer `Envelope` that the relay sees and the inner `PeerMessage` that only
// the peers can open. A reader returns the typed record, or undefined when the
// whole record is not decodable (a required field missing or null, a value of
// the wrong type, an enumeration outside its raw values, an Int32 out of range).
// Unknown keys are ignored; optional fields that are null read as absent.

import { parseStrictJson, parseStrictJsonBytes } from './StrictJson.js';

export const envelopeKinds = ['welcome', 'peerJoin', 'peerLeave', 'msg', 'ping', 'pong', 'register-device'];
export const peerRoles = ['agent', 'controller'];
export const messageTypes = ['snapshot', 'logAppend', 'statusChange', 'commandAck', 'notify', 'requestSnapshot',
    'subscribeLogs', 'command'];
export const wireStatuses = ['stopped', 'running', 'error'];
export const commandActions = ['start', 'stop', 'restart', 'clearLogs'];

const bad = Symbol('bad');
const uuidPattern = /^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$/;
const int64Limit = 2 ** 63;

const asString = (v) => (typeof v === 'string' ? v : bad);
const asBool = (v) => (typeof v === 'boolean' ? v : bad);
const asInt = (v) => (typeof v === 'number' && Number.isInteger(v) && v >= -int64Limit && v < int64Limit ? v : bad);
const asInt32 = (v) => (typeof v === 'number' && Number.isInteger(v) && v >= -(2 ** 31) && v < 2 ** 31 ? v : bad);
const asTime = (v) => (typeof v === 'number' ? v : bad);
// Identifiers are compared in their canonical upper-case form.
const asUuid = (v) => (typeof v === 'string' && uuidPattern.test(v) ? v.toUpperCase() : bad);
const asEnum = (values) => (v) => (typeof v === 'string' && values.includes(v) ? v : bad);
const asArrayOf = (read) => (v) => {
    if (!Array.isArray(v)) return bad;
    const out = new Array(v.length);
    for (let i = 0; i < v.length; ++i) {
        const item = read(v[i]);
        if (item === bad) return bad;
        out[i] = item;
    }
    return out;
};
const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);

// Reads the fields of `shape` ({ key: [reader, required] }) into a plain object.
function readRecord(value, shape) {
    if (!isObject(value)) return bad;
    const out = {};
    for (const key in shape) {
        const [read, required] = shape[key];
        const field = value[key];
        if (field === undefined || field === null) {
            if (required) return bad;
            continue;
        }
        const decoded = read(field);
        if (decoded === bad) return bad;
        out[key] = decoded;
    }
    return out;
}

const logLineShape = {
    id: [asUuid, true], date: [asTime, true], text: [asString, true], isError: [asBool, true],
};
const readLogLine = (v) => readRecord(v, logLineShape);

const serverShape = {
    id: [asUuid, true], name: [asString, true], command: [asString, true], directory: [asString, false],
    tunnelHostname: [asString, false], status: [asEnum(wireStatuses), true], hasError: [asBool, true],
    pid: [asInt32, false], startedAt: [asTime, false], lastExitCode: [asInt32, false],
};
const readServer = (v) => readRecord(v, serverShape);

const snapshotShape = {
    macName: [asString, true], servers: [asArrayOf(readServer), true], generatedAt: [asTime, true],
};
const readSnapshot = (v) => readRecord(v, snapshotShape);

const messageShape = {
    type: [asEnum(messageTypes), true], serverId: [asUuid, false], lines: [asArrayOf(readLogLine), false],
    status: [asEnum(wireStatuses), false], hasError: [asBool, false], action: [asEnum(commandActions), false],
    ok: [asBool, false], message: [asString, false], snapshot: [readSnapshot, false],
};

const envelopeShape = {
    v: [asInt, true], kind: [asEnum(envelopeKinds), true], role: [asEnum(peerRoles), false],
    payload: [asString, false], cache: [asBool, false], online: [asBool, false], deviceToken: [asString, false],
    tags: [asArrayOf(asString), false], tag: [asString, false], notify: [asBool, false],
};

function orUndefined(value) {
    return value === bad ? undefined : value;
}

// A `PeerMessage` from the UTF-8 JSON bytes of an opened payload.
export function decodePeerMessage(bytes) {
    const value = parseStrictJsonBytes(bytes);
    return value === undefined ? undefined : orUndefined(readRecord(value, messageShape));
}

// An `Envelope` from the text of one WebSocket frame.
export function decodeEnvelope(text) {
    const value = parseStrictJson(text);
    return value === undefined ? undefined : orUndefined(readRecord(value, envelopeShape));
}

// What a controller sends: requestSnapshot, subscribeLogs (all servers when the id
// is absent) and command. Keys in the desktop's order; absent fields left out.
export function requestSnapshotMessage() {
    return { type: 'requestSnapshot' };
}

export function subscribeLogsMessage(serverId) {
    return serverId ? { type: 'subscribeLogs', serverId } : { type: 'subscribeLogs' };
}

export function commandMessage(serverId, action) {
    return { type: 'command', serverId, action };
}

export function encodePeerMessage(message) {
    const ordered = {};
    for (const key of Object.keys(messageShape)) {
        if (message[key] !== undefined && message[key] !== null) ordered[key] = message[key];
    }
    return JSON.stringify(ordered);
}

export function encodeMessageEnvelope(payload) {
    return JSON.stringify({ v: 1, kind: 'msg', role: 'controller', payload });
}
