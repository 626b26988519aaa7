// Plays the operator's page against the Windows connector under Wine, over ws://127.0.0.1:1024.
//
//   node drive-connector.mjs smoke --connector DIR --work DIR --helix WINPATH --somno WINPATH
//        --archive ZIP --installer EXE --example GDTEXAMPLE_H
//     Starts DIR\sanvero-connector.exe with a configuration in --work, then runs an exam (twice, the
//     second time with the audiometry application running), a registration, an installation from a local
//     download server (its installer started through the shell, as one that asks for administrator rights
//     would be) and a network-share path, and starts a second connector, which must end at once, checking
//     frames and files. Prints the figures.
//   node drive-connector.mjs answers [--origin ORIGIN] [--refused-origin ORIGIN] [--odbc-somno WINPATH]
//     Checks that a running connector answers a command, that a page of the refused origin is turned away, and
//     that a registration goes to the Access database over ODBC, which Wine lacks (error 2007); WINPATH must be
//     listed in the connector's "application_folders".
//
// Wine's drive letters are resolved through $WINEPREFIX/dosdevices. Exit status 0 when every check passed.
import { spawn, execFileSync } from 'node:child_process';
import { createServer } from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';
import WebSocket from 'ws';

const url = 'ws://127.0.0.1:1024';
// Wine's 64-bit loader, which runs on hosts without 32-bit support too.
const wine64 = fileURLToPath(new URL('wine64', import.meta.url));
// Upper bounds only, so a hung connector ends the run instead of stalling it. The first start in a new
// Wine prefix takes several seconds.
const startBoundMs = 90000;
const frameBoundMs = 60000;

const examplePatient = {
    code: 'P0042', first_name: 'Sample', last_name: 'Patient', birth_date: '07/03/1985',
    gender: 1, address: 'Main Street 5', height: 170, weight: 65,
};

let failures = 0;
function check(ok, what, detail = '') {
    console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}${!ok && detail ? `: ${detail}` : ''}`);
    if (!ok) failures += 1;
    return ok;
}

/** The Linux path of a Windows path, through the prefix's drive letter links. */
function linuxPath(windowsPath) {
    const match = /^([A-Za-z]):[\\/]?(.*)$/.exec(windowsPath);
    if (!match) throw new Error(`not a drive path: ${windowsPath}`);
    const drive = fs.realpathSync(path.join(process.env.WINEPREFIX, 'dosdevices', `${match[1].toLowerCase()}:`));
    return path.join(drive, ...match[2].split(/[\\/]/).filter(Boolean));
}

/** The Z: form of a Linux path: Wine maps the Linux root to drive Z. */
function windowsPath(linux) {
    return `Z:${path.resolve(linux).replaceAll('/', '\\')}`;
}

/** The C++ worked example of the request record: the string literals of exampleRequest(). */
function exampleRequestBytes(header) {
    const text = fs.readFileSync(header, 'utf8');
    const body = text.slice(text.indexOf('exampleRequest()'));
    const lines = [...body.matchAll(/"([^"\\]*)\\r\\n"/g)].map((m) => `${m[1]}\r\n`);
    if (lines.length < 10) throw new Error(`no worked example found in ${header}`);
    return Buffer.from(lines.join(''), 'latin1');
}

/** A page connection whose frames queue up until asked for. */
class Page {
    static async open(origin, boundMs = startBoundMs) {
        const deadline = Date.now() + boundMs;
        for (;;) {
            try {
                return await new Promise((resolve, reject) => {
                    const socket = new WebSocket(url, origin ? { origin } : {});
                    socket.once('open', () => resolve(new Page(socket)));
                    socket.once('unexpected-response', (_, response) => reject(new Error(`HTTP ${response.statusCode}`)));
                    socket.once('error', reject);
                });
            } catch (error) {
                if (/^HTTP /.test(error.message) || Date.now() > deadline) throw error;
                await new Promise((resolve) => setTimeout(resolve, 250));
            }
        }
    }

    constructor(socket) {
        this.socket = socket;
        this.frames = [];
        this.waiters = [];
        socket.on('message', (data) => {
            this.frames.push(JSON.parse(data.toString()));
            this.waiters.splice(0).forEach((wake) => wake());
        });
        socket.on('close', () => this.waiters.splice(0).forEach((wake) => wake()));
    }

    send(object) {
        this.socket.send(JSON.stringify(object));
    }

    async next(boundMs = frameBoundMs) {
        const deadline = Date.now() + boundMs;
        while (this.frames.length === 0) {
            if (this.socket.readyState !== WebSocket.OPEN) throw new Error('connection closed');
            const left = deadline - Date.now();
            if (left <= 0) throw new Error('no frame in time');
            await new Promise((resolve) => {
                const timer = setTimeout(resolve, left);
                this.waiters.push(() => { clearTimeout(timer); resolve(); });
            });
        }
        return this.frames.shift();
    }

    close() {
        this.socket.close();
    }
}

const audiometry = (appPath, args) => ({ type: 'AUDIOMETRY', appPath, args });
const sameJson = (a, b) => JSON.stringify(a) === JSON.stringify(b);

async function waitFor(what, condition, boundMs = frameBoundMs) {
    const deadline = Date.now() + boundMs;
    while (!condition()) {
        if (Date.now() > deadline) throw new Error(`gave up waiting for ${what}`);
        await new Promise((resolve) => setTimeout(resolve, 100));
    }
}

async function exam(page, helix, expectedRequest, log) {
    const figures = [];
    const lastResult = path.join(helix, 'helix-simulator-last-result.csv');
    for (const round of ['first exam, starts Helix.exe', 'second exam, Helix.exe running']) {
        fs.rmSync(lastResult, { force: true });
        const sent = performance.now();
        page.send(audiometry(helixAppPath, { command: 'START_AUDIOMETRY', patient: examplePatient }));
        const started = await page.next();
        figures.push([round, performance.now() - sent]);
        check(sameJson(started, { args: { code: 'P0042', first_name: 'Sample', last_name: 'Patient' }, message: 1008 }),
            `${round}: 1008`, JSON.stringify(started));
        const request = fs.readFileSync(path.join(helix, 'XCHG', 'hedeprax.gdt'));
        check(request.equals(expectedRequest), `${round}: XCHG\\hedeprax.gdt holds the worked example's bytes`,
            JSON.stringify(request.toString('latin1')));
        const result = await page.next();
        // The simulator copies its result just after writing it; the copy is what the frame must carry.
        await waitFor("the simulator's copy of its result", () => fs.existsSync(lastResult));
        check(result.message === 1005 && result.args.code === 'P0042' &&
                result.args.results === fs.readFileSync(lastResult, 'utf8'),
            `${round}: 1005 carries the simulator's result file`, JSON.stringify(result));
    }
    // The router logs every command before it runs, so once this one is in the log, all that the two exams
    // logged is there too.
    page.send(audiometry('\\\\server\\share\\', { command: 'START_AUDIOMETRY', patient: examplePatient }));
    const refused = await page.next();
    check(sameJson(refused, { error: 2 }), 'a network-share path is refused with error 2', JSON.stringify(refused));
    await waitFor('the network-share command in the log', () => log().includes('server'));
    const starts = log().split('Helix not started.').length - 1;
    check(starts === 1, 'the process snapshot finds the running HELIX.EXE: started once for two exams',
        `${starts} starts`);
    for (const [round, ms] of figures) console.log(`figure: START_AUDIOMETRY to 1008, ${round}: ${ms.toFixed(0)} ms`);
}

async function registration(page, somno) {
    const sent = performance.now();
    page.send({ type: 'POLYSOMNO', appPath: somnoAppPath, args: { command: 'START_POLYSOMNO', patient: examplePatient } });
    const frame = await page.next();
    const ms = performance.now() - sent;
    // Hidden entries are not listed; Wine shows a Linux dot file as hidden.
    const measurements = fs.readdirSync(path.join(somno, 'measurement')).filter((name) => !name.startsWith('.')).sort();
    const listed = (frame.args?.statistics ?? []).map((entry) => entry.name).sort();
    check(frame.message === 2010 && frame.args.first_name === 'Sample' && frame.args.last_name === 'Patient' &&
            sameJson(listed, measurements),
        '2010 with the names and the measurement folder\'s entries', JSON.stringify(frame));
    const rows = execFileSync('sqlite3', ['-json', path.join(somno, 'SomnoDB', 'SomnoDB.mdb'),
        "SELECT Name, Vorname FROM Patient WHERE IDKrankenhaus = 'P0042'"], { encoding: 'utf8' });
    // The application's table takes "first_name" in Name and "last_name" in Vorname.
    check(sameJson(JSON.parse(rows || '[]'), [{ Name: 'Sample', Vorname: 'Patient' }]),
        'the patient row is in the SQLite database', rows);
    const startsFile = path.join(somno, 'bin', 'SomnoPanel.starts');
    await waitFor('SomnoPanel.exe to record its start', () => fs.existsSync(startsFile));
    check(fs.readFileSync(startsFile, 'utf8').trim().split('\n').length === 1, 'SomnoPanel.exe started once');
    console.log(`figure: START_POLYSOMNO to 2010: ${ms.toFixed(0)} ms`);
}

async function installation(page, installerBytes) {
    const sent = performance.now();
    page.send(audiometry(helixAppPath, { command: 'INSTALL_HELIX' }));
    const frames = [];
    for (;;) {
        const frame = await page.next();
        frames.push(frame);
        if (frame.error !== undefined || frame.message === 1009) break;
    }
    const ms = performance.now() - sent;
    const codes = frames.map((frame) => frame.message ?? `error ${frame.error}`);
    const folder = frames.find((frame) => frame.message === 1003)?.args?.folder ?? '';
    const last = frames.at(-1);
    check(sameJson(frames[0], { args: { percent: 0 }, message: 1002 }) && folder !== '' &&
            sameJson(codes.filter((code) => code !== 1002), [1003, 1004, 1004, 1009]) &&
            sameJson(last.args, { path: `${folder}HelixSetup/HelixSetup.exe` }),
        'INSTALL_HELIX: 1002, 1003, 1004, 1004, 1009 with the unpacked installer', JSON.stringify(frames));
    if (last.message !== 1009) return;
    const unpacked = linuxPath(last.args.path);
    check(fs.existsSync(unpacked) && fs.readFileSync(unpacked).equals(installerBytes),
        '7z.exe unpacked the installer from the downloaded archive');
    const marker = path.join(path.dirname(unpacked), 'HelixSetup.started');
    await waitFor('the installer to record its start', () => fs.existsSync(marker));
    const ranIn = fs.readFileSync(marker, 'utf8').replaceAll('\\', '/').toLowerCase();
    check(ranIn === `${folder}HelixSetup`.toLowerCase(), 'the installer started in its own folder', ranIn);
    console.log(`figure: INSTALL_HELIX to 1009 (download and 7z.exe): ${ms.toFixed(0)} ms`);
}

/** The connector's log files in the prefix's local application data folders, whoever the Wine user is. */
function connectorLogs() {
    const users = path.join(process.env.WINEPREFIX, 'drive_c', 'users');
    return fs.readdirSync(users).map((user) => path.join(users, user, 'AppData', 'Local', 'SANvero',
        'SANvero Connector', 'connector.log')).filter((file) => fs.existsSync(file));
}

/** One connector per session: a second start ends at once, with status 0, and the first one serves on, alone in
 * its log file. */
async function secondStart(page, exe, config, cwd) {
    const sent = performance.now();
    const second = spawn(wine64, [exe, windowsPath(config)], { cwd, stdio: ['ignore', 'ignore', 'ignore'] });
    const code = await Promise.race([
        new Promise((resolve) => second.once('exit', resolve)),
        new Promise((resolve) => setTimeout(() => resolve('still running'), startBoundMs)),
    ]);
    const ms = performance.now() - sent;
    if (code === 'still running') second.kill();
    check(code === 0, 'a second connector in the same session ends at once with status 0', String(code));
    page.send({});
    const answer = await page.next();
    check(sameJson(answer, { error: 2 }), 'the first connector serves on', JSON.stringify(answer));
    const logs = connectorLogs();
    const starts = logs.map((file) => fs.readFileSync(file, 'utf8').split(' started, configuration ').length - 1);
    check(sameJson(starts, [1]), 'the log file holds the first connector\'s start only', JSON.stringify(starts));
    console.log(`figure: second start to its end: ${ms.toFixed(0)} ms`);
}

let helixAppPath = '';
let somnoAppPath = '';

async function smoke(options) {
    helixAppPath = options.helix;
    somnoAppPath = options.somno;
    const archive = fs.readFileSync(options.archive);
    const server = createServer((request, response) => {
        if (request.url !== '/audiometry/helix/version_1.0.zip') {
            response.writeHead(404).end();
            return;
        }
        response.writeHead(200, { 'Content-Type': 'application/zip', 'Content-Length': archive.length });
        response.end(archive);
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));

    const config = path.join(options.work, 'connector.json');
    fs.writeFileSync(config, JSON.stringify({
        sessionids: '', polysomno_database: 'sqlite', download_server: `http://127.0.0.1:${server.address().port}`,
        application_folders: [options.helix, options.somno],
    }));
    const exe = path.join(options.connector, 'sanvero-connector.exe');
    const connector = spawn(wine64, [exe, windowsPath(config)], { cwd: options.connector, stdio: ['ignore', 'ignore', 'pipe'] });
    let log = '';
    connector.stderr.on('data', (data) => { log += data.toString(); });
    const logFile = path.join(options.work, 'connector.log');

    try {
        const startedAt = performance.now();
        const page = await Page.open();
        console.log(`figure: connector start to a page connection: ${(performance.now() - startedAt).toFixed(0)} ms`);
        await exam(page, linuxPath(helixAppPath), exampleRequestBytes(options.example), () => log);
        await registration(page, linuxPath(somnoAppPath));
        await installation(page, fs.readFileSync(options.installer));
        await secondStart(page, exe, config, options.connector);
        page.close();
    } catch (error) {
        check(false, 'the smoke run went through', error.message);
    } finally {
        connector.kill();
        server.close();
        fs.writeFileSync(logFile, log);
    }
    if (failures) console.log(`the connector's log: ${logFile}`);
}

async function answers(options) {
    try {
        const page = await Page.open(options.origin);
        // Without "appPath": answered before any application folder is looked at, whatever the configuration.
        page.send({ type: 'AUDIOMETRY', args: { patient: examplePatient } });
        const frame = await page.next();
        check(sameJson(frame, { error: 2 }), 'the connector answers a command', JSON.stringify(frame));
        if (options['odbc-somno']) {
            page.send({ type: 'POLYSOMNO', appPath: options['odbc-somno'],
                args: { command: 'START_POLYSOMNO', patient: examplePatient } });
            const odbc = await page.next();
            check(sameJson(odbc, { error: 2007 }), 'without a configured backend a registration uses ODBC',
                JSON.stringify(odbc));
        }
        page.close();
        if (options['refused-origin']) {
            const refused = await Page.open(options['refused-origin']).then(() => 'accepted', (error) => error.message);
            check(refused === 'HTTP 403', `a page from ${options['refused-origin']} is refused`, refused);
        }
    } catch (error) {
        check(false, 'the connector answers a command', error.message);
    }
}

const { positionals, values } = parseArgs({
    allowPositionals: true,
    options: Object.fromEntries(['connector', 'work', 'helix', 'somno', 'archive', 'installer', 'example', 'origin',
        'refused-origin', 'odbc-somno'].map((name) => [name, { type: 'string' }])),
});
if (positionals[0] === 'smoke') await smoke(values);
else if (positionals[0] === 'answers') await answers(values);
else {
    console.error('usage: drive-connector.mjs smoke|answers [options]');
    process.exit(2);
}
process.exit(failures ? 1 : 0);
