// The demo page served from the internet, as the care application is: https://care.example.org on a public address,
// in headless Chromium, against the real connector on the workstation's loopback. Chromium lets such a page reach
// ws://localhost:1024 only when a policy names its origin; this shows what the page and the connector see in each case.
//
// Needs root inside scripts/in-test-network.sh (it adds a public address and a default route to that private
// network, and gives Chromium a private /etc/chromium with the case's policy), openssl, CONNECTOR_BIN and DEMO_DIR
// (see demo.test.mjs). Port 1024, 80 and 443 must be free in that network.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { X509Certificate, createHash } from 'node:crypto';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, sep } from 'node:path';
import { test } from 'node:test';

import { ARTIFACTS, ConnectorProcess, WEB_ROOT, browserToolsMissing, launchChromium, serveFolder } from './harness.mjs';

const HOST = 'care.example.org';
// A documentation address (TEST-NET-3): public to Chromium, routed nowhere outside this network.
const PUBLIC_ADDRESS = '203.0.113.10';

function ip(...args) {
    execFileSync('ip', args, { stdio: ['ignore', 'ignore', 'pipe'] });
}

/** Why this test cannot run here, or null. */
async function cannotRun() {
    const { CONNECTOR_BIN, DEMO_DIR, CONNECTOR_IN_TEST_NETWORK } = process.env;
    if (!CONNECTOR_BIN || !DEMO_DIR) return 'set CONNECTOR_BIN and DEMO_DIR (see demo.test.mjs) to run it';
    if (CONNECTOR_IN_TEST_NETWORK !== '1' || process.getuid() !== 0) {
        return 'run it as root inside scripts/in-test-network.sh';
    }
    return browserToolsMissing();
}

/**
 * Gives the private network a public address with a default route through it; returns the undoing. Refuses to touch
 * a network with interfaces that scripts/in-test-network.sh did not make.
 */
function addPublicAddress() {
    const names = execFileSync('ip', ['-o', 'link', 'show'], { encoding: 'utf8' })
        .split('\n')
        .filter(Boolean)
        .map((line) => line.split(':')[1].trim().split('@')[0]);
    const foreign = names.filter((name) => name !== 'lo' && !name.startsWith('veth-test'));
    assert.deepEqual(foreign, [], 'only the private test network is changed');
    ip('link', 'add', 'veth-care0', 'type', 'veth', 'peer', 'name', 'veth-care1');
    ip('addr', 'add', `${PUBLIC_ADDRESS}/24`, 'dev', 'veth-care0');
    // No IPv6 link-local addresses: they would appear a moment later, under Chromium's requests, which then fail
    // with ERR_NETWORK_CHANGED.
    ip('link', 'set', 'veth-care0', 'addrgenmode', 'none');
    ip('link', 'set', 'veth-care1', 'addrgenmode', 'none');
    ip('link', 'set', 'veth-care0', 'up');
    ip('link', 'set', 'veth-care1', 'up');
    ip('route', 'add', 'default', 'via', '203.0.113.1', 'dev', 'veth-care0');
    return () => ip('link', 'del', 'veth-care0');
}

/**
 * A self-signed certificate for HOST, made now, and the base64 SHA-256 of its public key, which
 * --ignore-certificate-errors-spki-list takes: Chromium then trusts it as if a CA had signed it, so the page is a
 * secure context (an accepted certificate error page would not be).
 */
function makeCertificate(folder) {
    const [key, cert] = [join(folder, 'key.pem'), join(folder, 'cert.pem')];
    const request = 'req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2'.split(' ');
    const subject = ['-subj', `/CN=${HOST}`, '-addext', `subjectAltName=DNS:${HOST}`];
    execFileSync('openssl', [...request, ...subject, '-keyout', key, '-out', cert], {
        stdio: ['ignore', 'ignore', 'pipe'],
    });
    const tls = { key: readFileSync(key), cert: readFileSync(cert) };
    const spki = new X509Certificate(tls.cert).publicKey.export({ type: 'spki', format: 'der' });
    return { tls, spkiHash: createHash('sha256').update(spki).digest('base64') };
}

const skip = await cannotRun();

test('the demo page from a public HTTPS origin in Chromium', { skip: skip ?? false, timeout: 240000 }, async (t) => {
    const { CONNECTOR_BIN, DEMO_DIR } = process.env;
    const work = mkdtempSync(join(tmpdir(), 'sanvero-public-origin-'));
    mkdirSync(ARTIFACTS, { recursive: true });
    const removeAddress = addPublicAddress();
    const { tls, spkiHash } = makeCertificate(work);

    // The connector lets both origins in, so that only the browser can keep a page out.
    const config = join(work, 'connector.json');
    const demoConfig = JSON.parse(readFileSync(join(DEMO_DIR, 'connector.json'), 'utf8'));
    writeFileSync(config, JSON.stringify({ ...demoConfig, allowed_origins: [`https://${HOST}`, `http://${HOST}`] }));
    const connector = new ConnectorProcess(CONNECTOR_BIN, config, DEMO_DIR);
    const secure = await serveFolder(WEB_ROOT, 443, { host: PUBLIC_ADDRESS, tls });
    const plain = await serveFolder(WEB_ROOT, 80, { host: PUBLIC_ADDRESS });
    t.after(async () => {
        await secure.close();
        await plain.close();
        await connector.dispose('connector-public-origin.log');
        removeAddress();
        rmSync(work, { recursive: true, force: true });
    });
    await connector.start();

    const helixPath = join(DEMO_DIR, 'helix') + sep;
    const pageConnections = () => connector.logText().match(/Page connected|Handshake refused/g)?.length ?? 0;

    /**
     * Opens the demo page from `origin` in a Chromium with `policy`, presses Connect, waits for the state `settlesIn`
     * and hands the page to `check`.
     */
    async function withDemo(origin, policy, settlesIn, check) {
        const browser = await launchChromium({
            policy,
            args: [
                `--host-resolver-rules=MAP ${HOST} ${PUBLIC_ADDRESS}`,
                `--ignore-certificate-errors-spki-list=${spkiHash}`,
            ],
        });
        try {
            const page = browser.context.pages()[0] ?? (await browser.context.newPage());
            await page.goto(`${origin}/demo.html?${new URLSearchParams({ helixPath })}`);
            const seen = { secure: await page.evaluate(() => isSecureContext), version: browser.version() };
            await page.click('#connect');
            await page.waitForSelector(`#status[data-state="${settlesIn}"]`, { timeout: 30000 });
            await check(page, seen);
        } finally {
            await browser.close();
        }
    }

    const lnaPolicy = (origin) => ({ LocalNetworkAccessAllowedForUrls: [origin] });
    const loopbackPolicy = (origin) => ({ LoopbackNetworkAllowedForUrls: [origin] });

    for (const [name, origin, policy, secureContext] of [
        ['HTTPS page, no policy', `https://${HOST}`, {}, true],
        [
            'HTTP page, both policies naming it',
            `http://${HOST}`,
            { ...lnaPolicy(`http://${HOST}`), ...loopbackPolicy(`http://${HOST}`) },
            false,
        ],
    ]) {
        await t.test(`${name}: the browser blocks, the client says so, the connector sees nothing`, async () => {
            const before = pageConnections();
            await withDemo(origin, policy, 'local-network-denied', async (page, { secure, version }) => {
                assert.equal(secure, secureContext);
                assert.equal(await page.getAttribute('#status-detail', 'data-access'), 'denied');
                assert.match(await page.textContent('#status-detail'), /Local network access/);
                assert.equal(pageConnections(), before, 'no handshake reached the connector');
                const shot = `public-origin-${secureContext ? 'https' : 'http'}-blocked.png`;
                await page.screenshot({ path: join(ARTIFACTS, shot) });
                t.diagnostic(`Chromium ${version}, ${name}: local-network-denied, the connector saw nothing`);
            });
        });
    }

    for (const [name, policy, code] of [
        ['LocalNetworkAccessAllowedForUrls', lnaPolicy(`https://${HOST}`), 'T-LNA-1'],
        ['LoopbackNetworkAllowedForUrls', loopbackPolicy(`https://${HOST}`), 'T-LOOP-1'],
    ]) {
        await t.test(`HTTPS page with ${name}: an exam runs to its own result`, async () => {
            const before = pageConnections();
            await withDemo(`https://${HOST}`, policy, 'connected', async (page, { secure }) => {
                assert.equal(secure, true);
                assert.ok(connector.logText().includes(`Page connected, origin "https://${HOST}"`));
                assert.equal(pageConnections(), before + 1);
                await page.fill('#code', code);
                await page.click('#start-audiometry');
                await page.waitForSelector(
                    '#log li.outcome[data-command="START_AUDIOMETRY"][data-outcome="resolved"][data-frame-code="1005"]',
                    { timeout: 60000 },
                );
                assert.equal(await page.getAttribute('#results-patient', 'data-code'), code);
                assert.notEqual(await page.textContent('#results'), '');
                t.diagnostic(`${name}: connected, runAudiometry resolved with the 1005 of ${code}`);
            });
        });
    }
});
