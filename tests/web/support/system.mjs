// The real parts the browser tests run against: wardlamp-relay on a loopback port
// and wardlampd with its own settings folder, a pairing secret, a password if
// asked, and servers that are wl-test-child runs. Every process is ended when the
// test ends, and a test that fails says what the processes printed.

import { spawn } from 'node:child_process';
import { randomBytes, randomUUID } from 'node:crypto';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { ms, program } from './environment.mjs';

const base64url = (bytes) => bytes.toString('base64').replaceAll('+', '-').replaceAll('/', '_').replaceAll('=', '');

export function pairingKeyOf(secret, name) {
    const json = JSON.stringify({ v: 1, name, secret: secret.toString('base64') });
    return 'WL1.' + base64url(Buffer.from(json));
}

// A child process whose output is collected; `waitFor(pattern)` resolves with the
// first match on either stream.
class Child {
    constructor(command, args, options) {
        this.output = '';
        this.waiters = [];
        this.process = spawn(command, args, { ...options, stdio: ['ignore', 'pipe', 'pipe'] });
        this.exited = new Promise((resolve) => this.process.on('exit', (code, signal) => resolve({ code, signal })));
        for (const stream of [this.process.stdout, this.process.stderr]) {
            stream.setEncoding('utf8');
            stream.on('data', (text) => {
                this.output += text;
                this.waiters = this.waiters.filter((w) => !w());
            });
        }
    }

    waitFor(pattern, timeout = ms(20000), from = 0) {
        return new Promise((resolve, reject) => {
            const check = () => {
                const match = this.output.slice(from).match(pattern);
                if (match) {
                    clearTimeout(timer);
                    resolve(match);
                    return true;
                }
                return false;
            };
            const timer = setTimeout(() => {
                this.waiters = this.waiters.filter((w) => w !== check);
                reject(new Error(`no ${pattern} within ${timeout} ms; output:\n${this.output.slice(-4000)}`));
            }, timeout);
            if (!check()) this.waiters.push(check);
        });
    }

    async stop(signal = 'SIGTERM') {
        if (this.process.exitCode !== null || this.process.signalCode !== null) return;
        this.process.kill(signal);
        const timer = setTimeout(() => this.process.kill('SIGKILL'), ms(10000));
        await this.exited;
        clearTimeout(timer);
    }
}

export class Relay {
    constructor(extraArgs = []) {
        this.extraArgs = extraArgs;
        this.port = 0;
        this.child = null;
    }

    async start() {
        this.child = new Child(program('wardlamp-relay'), ['--listen', `127.0.0.1:${this.port}`, ...this.extraArgs], {});
        const match = await this.child.waitFor(/listening on 127\.0\.0\.1:(\d+)/);
        this.port = Number(match[1]);
        return this;
    }

    get url() {
        return `ws://127.0.0.1:${this.port}/`;
    }

    get pageUrl() {
        return `http://127.0.0.1:${this.port}/`;
    }

    async stop() {
        await this.child?.stop();
    }

    // Stops and starts again on the same port, as an operator restarting it would.
    async restart() {
        await this.stop();
        await this.start();
    }
}

// A server of the daemon's list that runs wl-test-child with these steps (each a
// shell word of its own, so a step may hold spaces but no single quote).
export function testServer(name, steps, extra = {}) {
    return {
        id: extra.id ?? randomUUIDUpper(), name,
        command: [program('wl-test-child'), ...steps.map((step) => `'${step}'`)].join(' '),
        autostart: extra.autostart ?? true, errorAlertEnabled: false, restartOnCrash: false, ...extra,
    };
}

function randomUUIDUpper() {
    return randomUUID().toUpperCase();
}

export class Daemon {
    // options: { relay, servers, macName, password, secret }
    constructor(options) {
        this.options = options;
        this.secret = options.secret ?? randomBytes(32);
        this.macName = options.macName ?? 'Test box';
        this.home = mkdtempSync(join(tmpdir(), 'wl-daemon-'));
        this.child = null;
    }

    get pairingKey() {
        return pairingKeyOf(this.secret, this.macName);
    }

    async start() {
        const serversFile = join(this.home, 'servers.json');
        const runtime = join(this.home, 'runtime');
        mkdirSync(runtime, { mode: 0o700, recursive: true });
        writeFileSync(serversFile, JSON.stringify(this.options.servers ?? []));
        const env = {
            ...process.env,
            HOME: this.home,
            XDG_CONFIG_HOME: join(this.home, 'config'),
            XDG_DATA_HOME: join(this.home, 'data'),
            XDG_CACHE_HOME: join(this.home, 'cache'),
            XDG_RUNTIME_DIR: runtime, // its control socket, apart from any other wardlampd
            SHELL: '/bin/sh',
            WL_RELAY_URL: this.options.relay.url,
            WL_REMOTE_ENABLED: '1',
            WL_REMOTE_MACNAME: this.macName,
            WL_REMOTE_SECRET: this.secret.toString('hex'),
            WL_REMOTE_PASSWORD: this.options.password ?? '',
        };
        delete env.DBUS_SESSION_BUS_ADDRESS; // no desktop notifications from these runs
        this.child = new Child(program('wardlampd'), ['--servers', serversFile, '--grace', '2'], { env, cwd: this.home });
        await this.child.waitFor(/remote access: Online/);
        return this;
    }

    async stop() {
        await this.child?.stop();
    }

    dispose() {
        rmSync(this.home, { recursive: true, force: true });
    }
}

// A relay, a daemon in its room, and their teardown in one.
export async function startSystem(options = {}) {
    const relay = await new Relay(options.relayArgs ?? []).start();
    const daemon = await new Daemon({ ...options, relay }).start();
    return {
        relay, daemon,
        async stop() {
            await daemon.stop();
            await relay.stop();
            daemon.dispose();
        },
    };
}
