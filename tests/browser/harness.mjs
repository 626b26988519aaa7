// Shared pieces of the browser tests: a static file server, Debian's Chromium through playwright-core, Debian's
// Firefox ESR through puppeteer-core, the real connector as a process, port waits.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import {
    chmodSync,
    existsSync,
    mkdtempSync,
    readFileSync,
    readdirSync,
    readlinkSync,
    rmSync,
    writeFileSync,
} from 'node:fs';
import { mkdtemp, readFile, rm } from 'node:fs/promises';
import { createServer } from 'node:http';
import { createServer as createSecureServer } from 'node:https';
import { connect } from 'node:net';
import { tmpdir } from 'node:os';
import { extname, join, normalize, resolve, sep } from 'node:path';
import { setTimeout as delay } from 'node:timers/promises';
import { fileURLToPath } from 'node:url';

export const REPO_ROOT = resolve(fileURLToPath(new URL('../..', import.meta.url)));
export const WEB_ROOT = join(REPO_ROOT, 'web');
export const ARTIFACTS = join(REPO_ROOT, 'test-artifacts');
export const CHROMIUM_BIN = process.env.CHROMIUM_BIN ?? '/usr/bin/chromium';
export const FIREFOX_BIN = process.env.FIREFOX_BIN ?? '/usr/bin/firefox-esr';

const CONTENT_TYPES = {
    '.html': 'text/html; charset=utf-8',
    '.js': 'text/javascript; charset=utf-8',
    '.mjs': 'text/javascript; charset=utf-8',
    '.css': 'text/css; charset=utf-8',
    '.json': 'application/json',
    '.ts': 'text/plain; charset=utf-8',
    '.png': 'image/png',
};

/**
 * Why the browser tests cannot run here, or null when they can: playwright-core and ws come from
 * tests/browser/package.json (npm ci --prefix tests/browser), Chromium from Debian's "chromium" package.
 */
export async function browserToolsMissing() {
    const missing = [];
    for (const name of ['playwright-core', 'ws']) {
        try {
            await import(name);
        } catch {
            missing.push(`npm package ${name} (run: npm ci --prefix tests/browser)`);
        }
    }
    if (!existsSync(CHROMIUM_BIN)) {
        missing.push(`${CHROMIUM_BIN} (run: apt-get install chromium)`);
    }
    return missing.length ? `missing ${missing.join(' and ')}` : null;
}

/**
 * Serves the files under root on a loopback port (by default DEMO_HTTP_PORT, else a free one); GET only,
 * nothing outside root. options: host to listen on, tls {key, cert} to serve HTTPS.
 */
export async function serveFolder(root, port = Number(process.env.DEMO_HTTP_PORT ?? 0), options = {}) {
    const { host = '127.0.0.1', tls } = options;
    const base = resolve(root);
    const handle = async (request, response) => {
        const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
        const file = normalize(join(base, path));
        if (request.method !== 'GET' || !file.startsWith(base + sep)) {
            response.writeHead(404).end();
            return;
        }
        try {
            const body = await readFile(file);
            response.writeHead(200, {
                'Content-Type': CONTENT_TYPES[extname(file)] ?? 'application/octet-stream',
                'Cache-Control': 'no-store',
            });
            response.end(body);
        } catch {
            response.writeHead(404).end();
        }
    };
    const server = tls ? createSecureServer(tls, handle) : createServer(handle);
    await new Promise((resolveListen, reject) => {
        server.once('error', reject);
        server.listen(port, host, resolveListen);
    });
    return {
        url: `${tls ? 'https' : 'http'}://${host}:${server.address().port}/`,
        close: () => new Promise((resolveClose) => server.close(resolveClose)),
    };
}

/**
 * Debian's Chromium, headless, with a user data folder of its own that is removed on close; args are added to its
 * command line. With `policy` (an object, {} for none) Chromium runs in a private mount namespace (root only) whose
 * /etc/chromium holds that policy as its only managed policy, whatever the machine has.
 */
export async function launchChromium({ args = [], policy } = {}) {
    const { chromium } = await import('playwright-core');
    const userDataDir = await mkdtemp(join(tmpdir(), 'sanvero-chromium-'));
    let executablePath = CHROMIUM_BIN;
    if (policy) {
        writeFileSync(join(userDataDir, 'policy.json'), JSON.stringify(policy));
        executablePath = join(userDataDir, 'chromium-with-policy.sh');
        writeFileSync(
            executablePath,
            `#!/bin/sh
exec unshare --mount --propagation private -- sh -c '
    set -e
    mkdir -p /etc/chromium
    mount -t tmpfs sanvero-policy /etc/chromium
    mkdir -p /etc/chromium/policies/managed
    cp "$1" /etc/chromium/policies/managed/
    shift
    exec "$@"' sh '${join(userDataDir, 'policy.json')}' '${CHROMIUM_BIN}' "$@"
`,
        );
        chmodSync(executablePath, 0o755);
    }
    // playwright-core passes the user data folder as --user-data-dir itself.
    const context = await chromium.launchPersistentContext(userDataDir, {
        executablePath,
        headless: true,
        viewport: { width: 1280, height: 900 },
        args: [
            '--headless',
            '--no-sandbox',
            '--disable-gpu',
            '--disable-quic',
            '--no-first-run',
            '--disable-background-networking',
            '--disable-component-update',
            '--disable-sync',
            ...args,
        ],
    });
    return {
        context,
        /** Chromium's full version, e.g. "156.0.8078.129" (the user agent shows only the major one). */
        version: () => context.browser()?.version() ?? 'unknown',
        async close() {
            await context.close();
            await rm(userDataDir, { recursive: true, force: true });
        },
    };
}

/** Why Firefox ESR cannot run here, or null when it can (puppeteer-core drives it over WebDriver BiDi). */
export async function firefoxMissing() {
    try {
        await import('puppeteer-core');
    } catch {
        return 'missing npm package puppeteer-core (run: npm ci --prefix tests/browser)';
    }
    return existsSync(FIREFOX_BIN) ? null : `missing ${FIREFOX_BIN} (run: apt-get install firefox-esr)`;
}

/** Debian's Firefox ESR, headless, with a fresh profile; close() ends it. */
export async function launchFirefox() {
    const { default: puppeteer } = await import('puppeteer-core');
    return puppeteer.launch({ browser: 'firefox', executablePath: FIREFOX_BIN, headless: true });
}

/** Ends every process whose executable lies under the folder. */
export function stopProgramsUnder(folder) {
    for (const pid of readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
        try {
            if (readlinkSync(`/proc/${pid}/exe`).startsWith(folder)) process.kill(Number(pid), 'SIGKILL');
        } catch {
            // gone already, or not ours to read
        }
    }
}

/**
 * The real connector on port 1024 with the configuration file `config` and a temporary home folder of its own (its
 * desktop receives the installer, its data folder the log file). stop() also ends the programs it started from
 * demoDir (the simulators), which outlive it.
 */
export class ConnectorProcess {
    output = '';
    #child = null;

    constructor(bin, config, demoDir) {
        Object.assign(this, { bin, config, demoDir });
        this.home = mkdtempSync(join(tmpdir(), 'sanvero-demo-home-'));
        // The desktop is then home/Desktop and the log file under home/.local/share, whatever the machine's settings.
        this.env = { ...process.env, QT_QPA_PLATFORM: 'offscreen', HOME: this.home };
        for (const name of ['XDG_CONFIG_HOME', 'XDG_DATA_HOME', 'XDG_DESKTOP_DIR']) delete this.env[name];
    }

    async start() {
        const child = spawn(this.bin, [this.config], { env: this.env, stdio: ['ignore', 'pipe', 'pipe'] });
        child.stdout.on('data', (data) => (this.output += data));
        child.stderr.on('data', (data) => (this.output += data));
        child.exitStatus = null;
        child.once('exit', (code, signal) => (child.exitStatus = signal ?? code));
        this.#child = child;
        await waitForPort(1024, {
            gaveUp: () =>
                child.exitStatus === null ? null : `the connector ended (${child.exitStatus}):\n${this.output}`,
        });
    }

    async stop() {
        const child = this.#child;
        if (child && child.exitStatus === null) {
            const exited = once(child, 'exit');
            child.kill('SIGTERM');
            await exited;
        }
        stopProgramsUnder(this.demoDir);
        child?.stdout.destroy();
        child?.stderr.destroy();
    }

    /** Stops it and removes its home folder, keeping its output in `artifact` under test-artifacts/. */
    async dispose(artifact) {
        await this.stop();
        writeFileSync(join(ARTIFACTS, artifact), this.output);
        rmSync(this.home, { recursive: true, force: true });
    }

    /** The text of its log files, oldest first. */
    logText() {
        const folder = join(this.home, '.local', 'share', 'SANvero', 'SANvero Connector');
        if (!existsSync(folder)) return '';
        return readdirSync(folder)
            .filter((name) => /^connector(\.\d)?\.log$/.test(name))
            .sort((a, b) => b.length - a.length || b.localeCompare(a))
            .map((name) => readFileSync(join(folder, name), 'utf8'))
            .join('');
    }
}

/** Whether something accepts TCP connections on host:port right now. */
export function portAccepts(port, host = '127.0.0.1') {
    return new Promise((resolveProbe) => {
        const socket = connect({ port, host });
        socket.once('connect', () => {
            socket.destroy();
            resolveProbe(true);
        });
        socket.once('error', () => resolveProbe(false));
    });
}

/**
 * Polls until host:port accepts, for at most timeoutMs; `gaveUp` may return a reason to stop early
 * (e.g. the process that should listen has ended).
 */
export async function waitForPort(port, { host = '127.0.0.1', timeoutMs = 20000, gaveUp = () => null } = {}) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
        if (await portAccepts(port, host)) {
            return;
        }
        const reason = gaveUp();
        if (reason) {
            throw new Error(`nothing listens on ${host}:${port}: ${reason}`);
        }
        if (Date.now() > deadline) {
            throw new Error(`nothing listens on ${host}:${port} after ${timeoutMs} ms`);
        }
        await delay(100);
    }
}

/** The decoded payloads of the log entries of one frame name, oldest first. */
export async function loggedPayloads(page, name) {
    return page.$$eval(`#log li.frame[data-frame-name="${name}"] pre`, (pres) =>
        pres.map((pre) => JSON.parse(pre.textContent)),
    );
}
