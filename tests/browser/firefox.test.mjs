// The demo page's exam in a second browser engine: Debian's Firefox ESR, headless, driven over WebDriver BiDi by
// puppeteer-core, against the real connector. Needs CONNECTOR_BIN and DEMO_DIR (see demo.test.mjs) and port 1024;
// the page is served from http://127.0.0.1 on DEMO_HTTP_PORT, an origin the demo configuration lets in.
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { join, sep } from 'node:path';
import { test } from 'node:test';

import { ARTIFACTS, ConnectorProcess, WEB_ROOT, firefoxMissing, launchFirefox, serveFolder } from './harness.mjs';

const { CONNECTOR_BIN, DEMO_DIR } = process.env;
const skip =
    !CONNECTOR_BIN || !DEMO_DIR ? 'set CONNECTOR_BIN and DEMO_DIR (see demo.test.mjs)' : await firefoxMissing();

test('the demo page runs an exam in Firefox ESR', { skip: skip ?? false, timeout: 180000 }, async (t) => {
    mkdirSync(ARTIFACTS, { recursive: true });
    const connector = new ConnectorProcess(CONNECTOR_BIN, join(DEMO_DIR, 'connector.json'), DEMO_DIR);
    const web = await serveFolder(WEB_ROOT);
    t.after(async () => {
        await web.close();
        await connector.dispose('connector-firefox.log');
    });
    await connector.start();
    const browser = await launchFirefox();
    t.after(() => browser.close());
    const page = await browser.newPage();
    await page.goto(`${web.url}demo.html?${new URLSearchParams({ helixPath: join(DEMO_DIR, 'helix') + sep })}`);

    await page.click('#connect');
    await page.waitForSelector('#status[data-state="connected"]', { timeout: 30000 });
    await page.$eval('#code', (input) => (input.value = 'T-FX-1'));
    await page.click('#start-audiometry');
    const outcome = await page.waitForSelector(
        '#log li.outcome[data-command="START_AUDIOMETRY"][data-outcome="resolved"][data-frame-code="1005"]',
        { timeout: 60000 },
    );
    assert.match(await outcome.evaluate((item) => item.textContent), /HELIX_RESULTS \(1005\)/);
    assert.equal(await page.$eval('#results-patient', (span) => span.dataset.code), 'T-FX-1');
    assert.notEqual(await page.$eval('#results', (pre) => pre.textContent), '');
    assert.equal(await page.$$eval('#log li.frame-error', (items) => items.length), 0);
    t.diagnostic(`${await browser.version()}: runAudiometry resolved with the 1005 of T-FX-1`);
    await page.screenshot({ path: join(ARTIFACTS, 'demo-firefox.png'), fullPage: true });
});
