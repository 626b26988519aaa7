// Drives web/demo.html in headless Chromium: against a stand-in connector, and end to end against the real one.
//
// Setup: npm ci --prefix tests/browser; apt-get install chromium firefox-esr. Run from the repository root:
//   node --test --test-concurrency=1 tests/browser/
// (one file at a time: the end-to-end tests of this file, firefox.test.mjs and public-origin.test.mjs each start the
// connector on port 1024)
// The end-to-end test also needs
//   CONNECTOR_BIN  the built connector executable
//   DEMO_DIR       a folder made by scripts/setup-demo.sh BUILD_DIR DEMO_DIR (helix/, somnopanel/, download/,
//                  connector.json)
// and is skipped without them. It starts the connector, which listens on port 1024, so nothing else may hold that
// port, with a temporary home folder (its desktop receives the installer, its data folder the log file), and serves
// download/ on the port of the configuration's "download_server". The demo page is served from http://127.0.0.1 on
// a free port (DEMO_HTTP_PORT fixes it, for a connector whose "allowed_origins" lists one origin). Screenshots go to
// test-artifacts/.
import assert from 'node:assert/strict';
import { once } from 'node:events';
import { existsSync, mkdirSync, readFileSync, readdirSync } from 'node:fs';
import { join, sep } from 'node:path';
import { test } from 'node:test';
import { setTimeout as delay } from 'node:timers/promises';

import { errorFrame, messageFrame } from '../web/qt-json.mjs';
import {
    ARTIFACTS,
    ConnectorProcess,
    WEB_ROOT,
    browserToolsMissing,
    launchChromium,
    loggedPayloads,
    portAccepts,
    serveFolder,
    waitForPort,
} from './harness.mjs';

const missingTools = await browserToolsMissing();

const PATIENT_FIELDS = {
    first_name: 'Zoë',
    last_name: 'Prueba',
    birth_date: '01/02/1990',
    code: 'T-0001',
    height: '180',
    weight: '80',
    city: 'Málaga',
    address: 'Calle Mayor 1',
};

async function fillPatient(page, fields = PATIENT_FIELDS, gender = '0') {
    for (const [id, value] of Object.entries(fields)) {
        await page.fill(`#${id}`, value);
    }
    await page.selectOption('#gender', gender);
}

const frameEntry = (name) => `#log li.frame[data-frame-name="${name}"]`;

async function waitForEntries(page, name, count, timeout = 30000) {
    await page.waitForFunction(
        ([selector, wanted]) => document.querySelectorAll(selector).length >= wanted,
        [frameEntry(name), count],
        { timeout },
    );
}

/** Polls until condition() holds, for at most timeoutMs. */
async function waitFor(condition, what, timeoutMs = 20000) {
    const deadline = Date.now() + timeoutMs;
    while (!condition()) {
        if (Date.now() > deadline) throw new Error(`timed out waiting until ${what}`);
        await delay(100);
    }
}

/** Waits for the log entry of a command's settled promise: resolved or rejected, with the frame's number. */
const waitForOutcome = (page, command, outcome, frameCode, timeout = 60000) =>
    page.waitForSelector(
        `#log li.outcome[data-command="${command}"][data-outcome="${outcome}"][data-frame-code="${frameCode}"]`,
        { timeout },
    );

const waitForState = (page, state, timeout = 30000) =>
    page.waitForSelector(`#status[data-state="${state}"]`, { timeout });

/** A stand-in connector: answers each command with the frames the real one sends on success, in its byte format. */
class FakeConnector {
    received = [];
    origins = [];
    /** Error number to answer the next command with, instead of the frames of success. */
    failNext = null;

    async start(port = 0) {
        const { WebSocketServer } = await import('ws');
        this.server = new WebSocketServer({ host: '127.0.0.1', port });
        await once(this.server, 'listening');
        this.port = this.server.address().port;
        this.server.on('connection', (socket, request) => {
            this.origins.push(request.headers.origin);
            socket.on('message', (data) => this.#answer(socket, data.toString('utf8')));
        });
        return this;
    }

    #answer(socket, text) {
        this.received.push(text);
        const { args } = JSON.parse(text);
        const names = () => ({ first_name: args.patient.first_name, last_name: args.patient.last_name });
        const examPatient = () => ({ code: String(args.patient.code), ...names() });
        const replies = {
            START_AUDIOMETRY: () => [
                messageFrame(1008, examPatient()),
                messageFrame(1005, { ...examPatient(), results: 'Hz;L;R\r\n1000;20;25\r\n' }),
            ],
            INSTALL_HELIX: () => [
                messageFrame(1002, { percent: 0 }),
                messageFrame(1002, { percent: 40 }),
                messageFrame(1003, { folder: '/home/op/Desktop/' }),
                messageFrame(1004),
                messageFrame(1004, { folder: '/home/op/Desktop/' }),
                messageFrame(1009, { path: '/home/op/Desktop/HelixSetup/HelixSetup.exe' }),
            ],
            START_POLYSOMNO: () => [
                messageFrame(2010, {
                    ...names(),
                    statistics: [
                        { name: 'T-0001', dates: ['2024-01-15', '2024-02-20'] },
                        { name: 'notes.txt', dates: [] },
                    ],
                }),
            ],
        };
        const failure = this.failNext;
        this.failNext = null;
        const frames = failure ? [errorFrame(failure)] : (replies[args.command]?.() ?? [errorFrame(2)]);
        for (const frame of frames) {
            socket.send(frame);
        }
    }

    send(text) {
        for (const socket of this.server.clients) {
            socket.send(text);
        }
    }

    closeClients(code) {
        for (const socket of this.server.clients) {
            socket.close(code);
        }
    }

    /** Ends like a killed process: connections dropped without a close frame. */
    async crash() {
        for (const socket of this.server.clients) {
            socket.terminate();
        }
        await new Promise((resolveClose) => this.server.close(resolveClose));
    }
}

test('demo page against a stand-in connector', { skip: missingTools ?? false, timeout: 120000 }, async (t) => {
    let fake = await new FakeConnector().start();
    const web = await serveFolder(WEB_ROOT);
    const browser = await launchChromium();
    t.after(async () => {
        await browser.close();
        await web.close();
        await fake.crash();
    });
    const page = browser.context.pages()[0] ?? (await browser.context.newPage());
    const pageErrors = [];
    page.on('pageerror', (error) => pageErrors.push(error.message));

    const query = new URLSearchParams({
        connector: `ws://127.0.0.1:${fake.port}`,
        helixPath: 'C:\\Helix\\',
        somnoPath: 'C:\\SomnoPanel\\',
    });
    await page.goto(`${web.url}demo.html?${query}`);
    assert.equal(await page.inputValue('#helix-path'), 'C:\\Helix\\');
    assert.equal(await page.inputValue('#somno-path'), 'C:\\SomnoPanel\\');
    assert.equal(await page.textContent('#status'), 'disconnected');
    assert.equal(await page.isDisabled('#start-audiometry'), true);

    await page.click('#connect');
    await waitForState(page, 'connected');
    assert.equal(await page.textContent('#status'), 'connected');
    assert.deepEqual(fake.origins, [new URL(web.url).origin]);

    await t.test('an exam sends the envelope and shows its frames', async () => {
        await fillPatient(page);
        await page.click('#start-audiometry');
        await waitForOutcome(page, 'START_AUDIOMETRY', 'resolved', '1005');
        assert.deepEqual(fake.received, [
            '{"type":"AUDIOMETRY","appPath":"C:\\\\Helix\\\\","args":{"command":"START_AUDIOMETRY","patient":' +
                '{"first_name":"Zoë","last_name":"Prueba","birth_date":"01/02/1990","code":"T-0001","gender":0,' +
                '"height":180,"weight":80,"city":"Málaga","address":"Calle Mayor 1"}}}',
        ]);
        assert.deepEqual(await loggedPayloads(page, 'HELIX_EXAM_STARTED'), [
            { code: 'T-0001', first_name: 'Zoë', last_name: 'Prueba' },
        ]);
        assert.equal(await page.textContent('#results'), 'Hz;L;R\r\n1000;20;25\r\n');
        assert.equal(await page.textContent('#results-patient'), '(T-0001: Zoë Prueba)');
        assert.match(await page.textContent(`${frameEntry('HELIX_EXAM_STARTED')} .meaning`), /T-0001: Zoë Prueba/);
        assert.equal(await page.getAttribute(frameEntry('HELIX_RESULTS'), 'data-frame-code'), '1005');
    });

    await t.test('an incomplete patient is refused in the page and not sent', async () => {
        await page.fill('#weight', '');
        await page.click('#start-polysomno');
        const refusal = await page.waitForSelector('#log li.client-error[data-command="START_POLYSOMNO"]');
        assert.match(await refusal.textContent(), /"weight"/);
        await page.fill('#weight', PATIENT_FIELDS.weight);
        assert.equal(fake.received.length, 1);
    });

    await t.test('an installation fills the progress bar', async () => {
        await page.click('#install-helix');
        await waitForOutcome(page, 'INSTALL_HELIX', 'resolved', '1009');
        assert.equal(
            fake.received[1],
            '{"type":"AUDIOMETRY","appPath":"C:\\\\Helix\\\\","args":{"command":"INSTALL_HELIX"}}',
        );
        assert.equal(await page.getAttribute('#install-progress', 'data-state'), 'done');
        assert.equal(await page.$eval('#install-progress', (bar) => bar.value), 100);
        assert.deepEqual(await loggedPayloads(page, 'HELIX_EXTRACTION_STARTED'), [{}, { folder: '/home/op/Desktop/' }]);
    });

    await t.test('a registration lists the measurements', async () => {
        await page.click('#start-polysomno');
        await waitForOutcome(page, 'START_POLYSOMNO', 'resolved', '2010');
        assert.equal(JSON.parse(fake.received[2]).type, 'POLYSOMNO');
        const shown = await page.$$eval('#statistics > li', (items) =>
            items.map((item) => [
                item.dataset.measurement,
                [...item.querySelectorAll('.dates li')].map((li) => li.textContent),
            ]),
        );
        assert.deepEqual(shown, [
            ['T-0001', ['2024-01-15', '2024-02-20']],
            ['notes.txt', []],
        ]);
        assert.equal(await page.getAttribute('#statistics', 'data-count'), '2');
        assert.equal(await page.textContent('#polysomno-patient'), '(Zoë Prueba)');
    });

    await t.test('a registration the connector refuses ends with its error frame', async () => {
        fake.failNext = 2012;
        await page.click('#start-polysomno');
        const outcome = await waitForOutcome(page, 'START_POLYSOMNO', 'rejected', '2012');
        assert.match(await outcome.textContent(), /POLYSOMNO_PATIENT_MISMATCH \(2012\): this code is stored/);
    });

    await t.test('error frames and unreadable frames are marked', async () => {
        fake.send(errorFrame(2009));
        fake.send(errorFrame(2011));
        fake.send('{"error": "2009"}');
        const error = await page.waitForSelector('#log li.frame-error[data-frame-name="POLYSOMNO_DB_IN_USE"]');
        assert.equal(await error.getAttribute('data-frame-code'), '2009');
        const failedStart = await page.waitForSelector('#log li.frame-error[data-frame-name="POLYSOMNO_START_FAILED"]');
        assert.match(await failedStart.textContent(), /cannot be started/);
        await page.waitForSelector('#log li.client-error >> text=unreadable frame');
    });

    mkdirSync(ARTIFACTS, { recursive: true });
    await page.screenshot({ path: join(ARTIFACTS, 'demo-stand-in.png'), fullPage: true });

    await t.test('the page reconnects by itself when the connector comes back', async () => {
        const port = fake.port;
        await fake.crash();
        await waitForState(page, 'reconnecting');
        fake = await new FakeConnector().start(port);
        await waitForState(page, 'connected');
        await page.click('#install-helix');
        await waitForEntries(page, 'HELIX_SETUP_STARTED', 2);
        assert.deepEqual(
            fake.received.map((text) => JSON.parse(text).args.command),
            ['INSTALL_HELIX'],
        );
    });

    for (const [code, state] of [
        [1000, 'taken-over'],
        [1008, 'blocked'],
    ]) {
        await t.test(`the page stays away after close code ${code} as ${state}, until Connect`, async () => {
            fake.closeClients(code);
            await waitForState(page, state);
            await page.waitForSelector(`#log li.connection[data-close-code="${code}"]`);
            await page.click('#connect');
            await waitForState(page, 'connected');
        });
    }

    assert.deepEqual(pageErrors, []);
});

test('demo page end to end with the connector', { timeout: 240000 }, async (t) => {
    const { CONNECTOR_BIN, DEMO_DIR } = process.env;
    if (!CONNECTOR_BIN || !DEMO_DIR) {
        t.skip('set CONNECTOR_BIN (built connector) and DEMO_DIR (made by scripts/setup-demo.sh) to run it');
        return;
    }
    if (missingTools) {
        t.skip(missingTools);
        return;
    }
    assert.equal(await portAccepts(1024), false, 'port 1024 is taken: stop the other connector first');

    const helixPath = join(DEMO_DIR, 'helix') + sep;
    const somnoPath = join(DEMO_DIR, 'somnopanel') + sep;
    const config = join(DEMO_DIR, 'connector.json');
    mkdirSync(ARTIFACTS, { recursive: true });
    const connector = new ConnectorProcess(CONNECTOR_BIN, config, DEMO_DIR);
    const { home } = connector;

    const web = await serveFolder(WEB_ROOT);
    const downloads = await serveFolder(
        join(DEMO_DIR, 'download'),
        Number(new URL(JSON.parse(readFileSync(config, 'utf8')).download_server).port),
    );
    const browser = await launchChromium();
    t.after(async () => {
        await browser.close();
        await web.close();
        await downloads.close();
        await connector.dispose('connector-demo.log');
    });

    await connector.start();
    const page = browser.context.pages()[0] ?? (await browser.context.newPage());
    await page.goto(`${web.url}demo.html?${new URLSearchParams({ helixPath, somnoPath })}`);
    assert.equal(await page.inputValue('#connector-url'), 'ws://localhost:1024');
    await page.click('#connect');
    await waitForState(page, 'connected');
    await fillPatient(page, PATIENT_FIELDS, '1');

    await t.test('an exam reports its start and its results', async () => {
        await page.click('#start-audiometry');
        await waitForOutcome(page, 'START_AUDIOMETRY', 'resolved', '1005');
        assert.deepEqual(await loggedPayloads(page, 'HELIX_EXAM_STARTED'), [
            { code: 'T-0001', first_name: 'Zoë', last_name: 'Prueba' },
        ]);
        const [{ code, results }] = await loggedPayloads(page, 'HELIX_RESULTS');
        assert.equal(code, 'T-0001');
        assert.equal(typeof results, 'string');
        assert.notEqual(results, '');
        assert.equal(await page.textContent('#results'), results);
        assert.equal(await page.$$eval('#log li.frame-error', (items) => items.length), 0);
    });

    await t.test('a registration lists the stored measurements', async () => {
        await page.click('#start-polysomno');
        await waitForEntries(page, 'POLYSOMNO_STARTED', 1);
        const [reply] = await loggedPayloads(page, 'POLYSOMNO_STARTED');
        assert.deepEqual([reply.first_name, reply.last_name], ['Zoë', 'Prueba']);
        const onDisk = readdirSync(join(somnoPath, 'measurement')).filter((name) => !name.startsWith('.'));
        assert.ok(onDisk.length > 0, 'the demo folder holds sample measurements');
        const shown = await page.$$eval('#statistics > li', (items) => items.map((item) => item.dataset.measurement));
        assert.deepEqual([...shown].sort(), [...onDisk].sort());
        assert.deepEqual(
            reply.statistics.map((entry) => entry.name),
            shown,
            'the list shows the measurements in the order the connector sent them',
        );
    });

    await t.test('an installation runs through download, unpacking and the installer', async () => {
        await page.click('#install-helix');
        await waitForOutcome(page, 'INSTALL_HELIX', 'resolved', '1009');
        const setupFolder = join(home, 'Desktop', 'HelixSetup');
        assert.deepEqual(await loggedPayloads(page, 'HELIX_SETUP_STARTED'), [
            { path: `${home}/Desktop/HelixSetup/HelixSetup.exe` },
        ]);
        assert.equal(await page.getAttribute('#install-progress', 'data-state'), 'done');
        assert.ok(existsSync(join(home, 'Desktop', 'HelixSetup.zip')), 'the archive is kept on the desktop');
        // The stand-in installer notes the folder it was started in, once it runs.
        const marker = join(setupFolder, 'HelixSetup.started');
        await waitFor(() => existsSync(marker) && readFileSync(marker, 'utf8').trim() !== '', 'the installer ran');
        assert.equal(readFileSync(marker, 'utf8').trim(), setupFolder);
        assert.equal(await page.$$eval('#log li.frame-error', (items) => items.length), 0);
    });

    await page.screenshot({ path: join(ARTIFACTS, 'demo.png'), fullPage: true });

    await t.test('the page reconnects by itself after the connector restarts', async () => {
        await connector.stop();
        await waitForState(page, 'reconnecting');
        await connector.start();
        await waitForState(page, 'connected');
        await page.click('#start-polysomno');
        await waitForEntries(page, 'POLYSOMNO_STARTED', 2);
    });

    await t.test('the log file keeps the frame codes and no patient value', () => {
        const logged = connector.logText();
        assert.match(logged, /SANvero Connector \d+\.\d+\S* started/);
        for (const line of ['Message 1005 sent', 'Message 1009 sent', 'Message 2010 sent']) {
            assert.ok(logged.includes(line), `"${line}" in the log file`);
        }
        for (const value of Object.values(PATIENT_FIELDS).filter((field) => !/^\d+$/.test(field))) {
            assert.ok(!logged.includes(value), `"${value}" must not be in the log file`);
        }
    });
});
