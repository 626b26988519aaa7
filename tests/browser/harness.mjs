// Shared pieces of the browser tests: a static file server, Debian's Chromium through playwright-core, port waits.
import { existsSync } from 'node:fs';
import { mkdtemp, readFile, rm } from 'node:fs/promises';
import { createServer } from 'node:http';
import { connect } from 'node:net';
import { tmpdir } from 'node:os';
import { extname, join, normalize, resolve, sep } from 'node:path';
import { setTimeout as delay } from 'node:timers/promises';
import { fileURLToPath } from 'node:url';

export const REPO_ROOT = resolve(fileURLToPath(new URL('../..', import.meta.url)));
export const WEB_ROOT = join(REPO_ROOT, 'web');
export const ARTIFACTS = join(REPO_ROOT, 'test-artifacts');
export const CHROMIUM_BIN = process.env.CHROMIUM_BIN ?? '/usr/bin/chromium';

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
 * nothing outside root.
 */
export async function serveFolder(root, port = Number(process.env.DEMO_HTTP_PORT ?? 0)) {
    const base = resolve(root);
    const server = createServer(async (request, response) => {
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
    });
    await new Promise((resolveListen, reject) => {
        server.once('error', reject);
        server.listen(port, '127.0.0.1', resolveListen);
    });
    return {
        url: `http://127.0.0.1:${server.address().port}/`,
        close: () => new Promise((resolveClose) => server.close(resolveClose)),
    };
}

/** Debian's Chromium, headless, with a user data folder of its own that is removed on close. */
export async function launchChromium() {
    const { chromium } = await import('playwright-core');
    const userDataDir = await mkdtemp(join(tmpdir(), 'sanvero-chromium-'));
    // playwright-core passes the user data folder as --user-data-dir itself.
    const context = await chromium.launchPersistentContext(userDataDir, {
        executablePath: CHROMIUM_BIN,
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
        ],
    });
    return {
        context,
        async close() {
            await context.close();
            await rm(userDataDir, { recursive: true, force: true });
        },
    };
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
