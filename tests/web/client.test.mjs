// Unit tests of the browser client: frame decoding, command validation and envelopes, reconnecting, the browser's
// local network permission, and the promises of the run... methods.
import assert from 'node:assert/strict';
import { describe, it } from 'node:test';

import {
    CommandFailedError,
    CommandValidationError,
    ConnectionLostError,
    DEFAULT_URL,
    MalformedFrameError,
    MAX_MESSAGE_BYTES,
    NotConnectedError,
    REQUIRED_PATIENT_KEYS,
    SanveroConnector,
    SocketMessage,
    decodeFrame,
    encodeCommand,
    reconnectDelay,
    socketMessageName,
    validateAppPath,
    validatePatient,
} from '../../web/sanvero-connector.js';
import { errorFrame, messageFrame } from './qt-json.mjs';

const patient = () => ({
    first_name: 'Sample',
    last_name: 'Patient',
    birth_date: '07/03/1985',
    code: 'P0042',
    gender: 1,
    height: 170,
    weight: 65,
});

describe('decodeFrame', () => {
    const good = [
        {
            name: 'error frame',
            text: errorFrame(2),
            frame: { kind: 'error', code: 2, name: 'INVALID_ARGUMENTS', payload: {}, isError: true },
        },
        {
            name: 'error frame of an installation failure',
            text: '{\n    "error": 1010\n}\n',
            frame: { kind: 'error', code: 1010, name: 'HELIX_INSTALL_FAILED', payload: {}, isError: true },
        },
        {
            name: 'error frame of a failed start',
            text: errorFrame(2011),
            frame: { kind: 'error', code: 2011, name: 'POLYSOMNO_START_FAILED', payload: {}, isError: true },
        },
        {
            name: 'message frame with args',
            text: '{\n    "args": {\n        "results": "a;b\\r\\nc"\n    },\n    "message": 1005\n}\n',
            frame: {
                kind: 'message',
                code: 1005,
                name: 'HELIX_RESULTS',
                payload: { results: 'a;b\r\nc' },
                isError: false,
            },
        },
        {
            name: 'message frame without args',
            text: '{\n    "message": 1004\n}\n',
            frame: { kind: 'message', code: 1004, name: 'HELIX_EXTRACTION_STARTED', payload: {}, isError: false },
        },
        {
            name: 'message frame with a list',
            text: messageFrame(2010, { first_name: 'Zoë', last_name: 'Ñu', statistics: [{ name: 'P1', dates: [] }] }),
            frame: {
                kind: 'message',
                code: 2010,
                name: 'POLYSOMNO_STARTED',
                payload: { first_name: 'Zoë', last_name: 'Ñu', statistics: [{ name: 'P1', dates: [] }] },
                isError: false,
            },
        },
        {
            name: 'compact text decodes the same',
            text: '{"message":1002,"args":{"percent":33}}',
            frame: {
                kind: 'message',
                code: 1002,
                name: 'HELIX_INSTALL_PROGRESS',
                payload: { percent: 33 },
                isError: false,
            },
        },
        {
            name: 'number this client does not know',
            text: '{"error": 2003}',
            frame: { kind: 'error', code: 2003, name: null, payload: {}, isError: true },
        },
    ];
    for (const { name, text, frame } of good) {
        it(name, () => assert.deepEqual(decodeFrame(text), frame));
    }

    const malformed = [
        ['text that is not JSON', '{"error": 2'],
        ['empty text', ''],
        ['array', '[1, 2]'],
        ['bare string', '"HELIX_RESULTS"'],
        ['null', 'null'],
        ['object without a number', '{}'],
        ['both error and message', '{"error": 2, "message": 1005}'],
        ['error number as text', '{"error": "2"}'],
        ['fractional number', '{"message": 1002.5}'],
        ['null number', '{"error": null}'],
        ['args as array', '{"message": 1005, "args": []}'],
        ['args as null', '{"message": 1005, "args": null}'],
        ['args as text', '{"message": 1005, "args": "x"}'],
        ['error frame with args', '{"error": 2, "args": {"a": 1}}'],
        ['message frame with another key', '{"message": 1008, "patient": {}}'],
        ['binary data', new ArrayBuffer(4)],
    ];
    for (const [name, text] of malformed) {
        it(`refuses ${name}`, () => assert.throws(() => decodeFrame(text), MalformedFrameError));
    }

    it('keeps the refused text on the error', () => {
        assert.throws(
            () => decodeFrame('[]'),
            (error) => error instanceof MalformedFrameError && error.text === '[]',
        );
    });
});

describe('socketMessageName', () => {
    it('names every number and only those', () => {
        for (const [name, value] of Object.entries(SocketMessage)) {
            assert.equal(socketMessageName(value), name);
        }
        for (const value of [0, 3, 99, 1013, 2002, 2006, 2013, '1005']) {
            assert.equal(socketMessageName(value), null, `value ${value}`);
        }
    });
});

describe('validatePatient', () => {
    for (const key of REQUIRED_PATIENT_KEYS) {
        it(`refuses a patient without "${key}"`, () => {
            const record = patient();
            delete record[key];
            assert.throws(
                () => validatePatient(record),
                (error) =>
                    error instanceof CommandValidationError &&
                    error.message.includes(`"${key}"`) &&
                    error.missingKeys.length === 1 &&
                    error.missingKeys[0] === key,
            );
        });
        it(`refuses a patient whose "${key}" is undefined, since JSON would drop it`, () => {
            assert.throws(() => validatePatient({ ...patient(), [key]: undefined }), CommandValidationError);
        });
    }

    it('lists every missing key in order', () => {
        assert.throws(
            () => validatePatient({ first_name: 'A', code: 'X', weight: 1 }),
            (error) => {
                assert.deepEqual(error.missingKeys, ['last_name', 'birth_date', 'gender', 'height']);
                assert.match(error.message, /keys "last_name", "birth_date", "gender", "height"/);
                return true;
            },
        );
    });

    it('checks presence only apart from "code": null, empty and other types pass', () => {
        const record = {
            first_name: null,
            last_name: '',
            birth_date: 0,
            code: 'x',
            gender: [],
            height: {},
            weight: false,
        };
        assert.doesNotThrow(() => validatePatient(record));
    });

    // The connector's rule: non-empty text, or a whole number it can write exactly as its decimal text.
    const show = (value) => (typeof value === 'number' ? String(value) : JSON.stringify(value));
    for (const code of ['P0042', ' ', '0', 12345, 0, -7, 2 ** 53, -(2 ** 53)]) {
        it(`accepts the code ${show(code)}`, () => assert.doesNotThrow(() => validatePatient({ ...patient(), code })));
    }
    for (const code of ['', null, true, false, [], ['P0042'], {}, 12.5, 2 ** 53 + 2, NaN, Infinity]) {
        it(`refuses the code ${show(code)}`, () =>
            assert.throws(
                () => validatePatient({ ...patient(), code }),
                (error) =>
                    error instanceof CommandValidationError &&
                    error.message.startsWith('patient "code" must be') &&
                    error.missingKeys.length === 0,
            ));
    }

    it('does not require city and address', () => {
        assert.doesNotThrow(() => validatePatient(patient()));
    });

    for (const [name, value] of [
        ['null', null],
        ['undefined', undefined],
        ['an array', []],
        ['text', 'Sample Patient'],
        ['a number', 7],
    ]) {
        it(`refuses ${name} as patient`, () => assert.throws(() => validatePatient(value), CommandValidationError));
    }
});

describe('validateAppPath', () => {
    for (const [name, value] of [
        ['undefined', undefined],
        ['null', null],
        ['a number', 5],
        ['an object', {}],
        ['empty text', ''],
        ['a relative path', 'Helix\\'],
        ['a relative path with a dot', './helix/'],
        ['a drive without separator', 'C:Helix\\'],
        ['a drive alone', 'C:'],
        ['a path from the current drive', '\\Helix\\'],
        ['a network share with backslashes', '\\\\server\\share\\Helix\\'],
        ['a network share with slashes', '//server/share/Helix/'],
        ['a network share with mixed separators', '\\/server/share/'],
        ['a long UNC path', '\\\\?\\UNC\\server\\share\\'],
        ['a long local path', '\\\\?\\C:\\Helix\\'],
        ['an NT UNC path', '\\??\\UNC\\server\\share\\'],
        ['a device path', '\\\\.\\C:\\Helix\\'],
        ['a file address', 'file:///C:/Helix/'],
        ['a ".." segment', 'C:\\Clinic\\..\\Users\\op\\Downloads\\'],
        ['a ".." segment with slashes', '/opt/../home/op/Downloads/'],
        ['a ".." at the end', '/opt/helix/..'],
    ]) {
        it(`refuses ${name}`, () => assert.throws(() => validateAppPath(value), CommandValidationError));
    }
    // Without its trailing separator too: the connector adds it.
    for (const value of ['C:\\Helix\\', 'c:/Helix/', 'C:\\Helix', '/opt/helix/', '/opt/helix', '/opt/helix..v2/']) {
        it(`accepts ${JSON.stringify(value)}`, () => assert.doesNotThrow(() => validateAppPath(value)));
    }
});

describe('encodeCommand', () => {
    const cases = [
        {
            name: 'exam',
            args: ['START_AUDIOMETRY', 'C:\\Helix\\', patient()],
            text:
                '{"type":"AUDIOMETRY","appPath":"C:\\\\Helix\\\\","args":{"command":"START_AUDIOMETRY","patient":' +
                '{"first_name":"Sample","last_name":"Patient","birth_date":"07/03/1985","code":"P0042",' +
                '"gender":1,"height":170,"weight":65}}}',
        },
        {
            name: 'exam with a code that is a number, sent as it is',
            args: ['START_AUDIOMETRY', '/h/', { ...patient(), code: 12345 }],
            text:
                '{"type":"AUDIOMETRY","appPath":"/h/","args":{"command":"START_AUDIOMETRY","patient":' +
                '{"first_name":"Sample","last_name":"Patient","birth_date":"07/03/1985","code":12345,' +
                '"gender":1,"height":170,"weight":65}}}',
        },
        {
            name: 'installation, without patient',
            args: ['INSTALL_HELIX', 'C:\\Helix\\'],
            text: '{"type":"AUDIOMETRY","appPath":"C:\\\\Helix\\\\","args":{"command":"INSTALL_HELIX"}}',
        },
        {
            name: 'installation ignores a patient given to it',
            args: ['INSTALL_HELIX', '/opt/helix/', patient()],
            text: '{"type":"AUDIOMETRY","appPath":"/opt/helix/","args":{"command":"INSTALL_HELIX"}}',
        },
        {
            name: 'registration with optional keys and accented names',
            args: [
                'START_POLYSOMNO',
                'C:\\SomnoPanel\\',
                { ...patient(), first_name: 'Zoë', city: 'Málaga', height: null },
            ],
            text:
                '{"type":"POLYSOMNO","appPath":"C:\\\\SomnoPanel\\\\","args":{"command":"START_POLYSOMNO","patient":' +
                '{"first_name":"Zoë","last_name":"Patient","birth_date":"07/03/1985","code":"P0042",' +
                '"gender":1,"height":null,"weight":65,"city":"Málaga"}}}',
        },
    ];
    for (const { name, args, text } of cases) {
        it(name, () => assert.equal(encodeCommand(...args), text));
    }

    for (const command of ['start_audiometry', 'START_AUDIOMETRY ', 'INSTALL', '', undefined, 1]) {
        it(`refuses command ${JSON.stringify(command)}`, () =>
            assert.throws(() => encodeCommand(command, 'C:\\Helix\\', patient()), CommandValidationError));
    }

    it('refuses a start command without patient', () => {
        assert.throws(() => encodeCommand('START_AUDIOMETRY', 'C:\\Helix\\'), CommandValidationError);
        assert.throws(() => encodeCommand('START_POLYSOMNO', 'C:\\Helix\\', {}), CommandValidationError);
    });

    it('refuses a bad appPath before looking at the patient', () => {
        assert.throws(() => encodeCommand('START_POLYSOMNO', 'SomnoPanel\\', null), /absolute folder/);
    });

    it('accepts a command of exactly the size limit in UTF-8 bytes and refuses one byte more', () => {
        const base = encodeCommand('START_AUDIOMETRY', '/h/', { ...patient(), address: '' });
        // "é" takes two bytes, so the limit is counted in bytes, not characters.
        const room = MAX_MESSAGE_BYTES - Buffer.byteLength(base);
        const fitting = 'é'.repeat(Math.floor(room / 2)) + 'x'.repeat(room % 2);
        const text = encodeCommand('START_AUDIOMETRY', '/h/', { ...patient(), address: fitting });
        assert.equal(Buffer.byteLength(text), MAX_MESSAGE_BYTES);
        assert.throws(
            () => encodeCommand('START_AUDIOMETRY', '/h/', { ...patient(), address: fitting + 'x' }),
            /larger than the connector accepts/,
        );
    });
});

describe('reconnectDelay', () => {
    const table = [
        [0, undefined, 500],
        [1, undefined, 1000],
        [4, undefined, 8000],
        [5, undefined, 10000],
        [50, undefined, 10000],
        [0, { initialDelay: 100, factor: 3, maxDelay: 1000 }, 100],
        [2, { initialDelay: 100, factor: 3, maxDelay: 1000 }, 900],
        [3, { initialDelay: 100, factor: 3, maxDelay: 1000 }, 1000],
        [3, { maxDelay: 2500 }, 2500],
    ];
    for (const [attempt, backoff, delay] of table) {
        it(`attempt ${attempt} with ${JSON.stringify(backoff ?? 'defaults')} waits ${delay} ms`, () =>
            assert.equal(reconnectDelay(attempt, backoff), delay));
    }
});

/** A WebSocket stand-in that the test opens, feeds and drops by hand. */
function fakeWebSocketClass() {
    return class FakeWebSocket extends EventTarget {
        static instances = [];
        constructor(url) {
            super();
            this.url = url;
            this.readyState = 0;
            this.sent = [];
            this.closedWith = null;
            FakeWebSocket.instances.push(this);
        }
        send(text) {
            if (this.readyState !== 1) throw new Error('send on a socket that is not open');
            this.sent.push(text);
        }
        close(code) {
            this.closedWith = code;
            this.readyState = 2;
        }
        accept() {
            this.readyState = 1;
            this.dispatchEvent(new Event('open'));
        }
        receive(data) {
            const event = new Event('message');
            event.data = data;
            this.dispatchEvent(event);
        }
        drop(code = 1006, reason = '') {
            this.readyState = 3;
            const event = new Event('close');
            event.code = code;
            event.reason = reason;
            this.dispatchEvent(event);
        }
    };
}

/** Timers that run only when the test says so. */
function manualTimers() {
    const pending = new Map();
    let nextId = 1;
    return {
        pending,
        setTimeout: (fn, ms) => {
            pending.set(nextId, { fn, ms });
            return nextId++;
        },
        clearTimeout: (id) => pending.delete(id),
        /** Runs the one pending timer and returns its delay. */
        runNext() {
            assert.equal(pending.size, 1, 'exactly one timer pending');
            const [[id, { fn, ms }]] = pending;
            pending.delete(id);
            fn();
            return ms;
        },
    };
}

function setup(options = {}) {
    const WebSocket = fakeWebSocketClass();
    const timers = manualTimers();
    const client = new SanveroConnector({
        WebSocket,
        setTimeout: timers.setTimeout,
        clearTimeout: timers.clearTimeout,
        permissions: null,
        ...options,
    });
    const states = [];
    client.addEventListener('statechange', (event) => states.push(event.state));
    const lastSocket = () => WebSocket.instances.at(-1);
    return { client, WebSocket, timers, states, lastSocket };
}

describe('SanveroConnector', () => {
    it('connects to the default address and reports its states', () => {
        const { client, WebSocket, states, lastSocket } = setup();
        const opened = [];
        client.addEventListener('open', (event) => opened.push(event.url));
        assert.equal(client.state, 'disconnected');
        client.connect();
        assert.equal(lastSocket().url, DEFAULT_URL);
        lastSocket().accept();
        assert.equal(client.connected, true);
        assert.deepEqual(states, ['connecting', 'connected']);
        assert.deepEqual(opened, [DEFAULT_URL]);
        client.connect();
        assert.equal(WebSocket.instances.length, 1, 'connect() on an open connection opens nothing new');
    });

    it('connects to a configured address', () => {
        const { client, lastSocket } = setup({ url: 'ws://127.0.0.1:4321' });
        client.connect();
        assert.equal(lastSocket().url, 'ws://127.0.0.1:4321');
    });

    it('dispatches each frame under its name and as "frame"', () => {
        const { client, lastSocket } = setup();
        const seen = [];
        for (const type of ['frame', 'HELIX_RESULTS', 'INVALID_ARGUMENTS', 'HELIX_EXTRACTION_STARTED']) {
            client.addEventListener(type, (event) => seen.push([type, event.code, event.isError, event.payload]));
        }
        client.connect();
        lastSocket().accept();
        lastSocket().receive(messageFrame(1005, { results: 'x' }));
        lastSocket().receive(errorFrame(2));
        lastSocket().receive(messageFrame(1004));
        lastSocket().receive('{"message": 3000}');
        assert.deepEqual(seen, [
            ['HELIX_RESULTS', 1005, false, { results: 'x' }],
            ['frame', 1005, false, { results: 'x' }],
            ['INVALID_ARGUMENTS', 2, true, {}],
            ['frame', 2, true, {}],
            ['HELIX_EXTRACTION_STARTED', 1004, false, {}],
            ['frame', 1004, false, {}],
            ['frame', 3000, false, {}],
        ]);
    });

    it('reports a malformed frame as "protocolerror" and no frame', () => {
        const { client, lastSocket } = setup();
        const errors = [];
        let frames = 0;
        client.addEventListener('protocolerror', (event) => errors.push([event.text, event.error.name]));
        client.addEventListener('frame', () => frames++);
        client.connect();
        lastSocket().accept();
        lastSocket().receive('{"error": "2"}');
        assert.deepEqual(errors, [['{"error": "2"}', 'MalformedFrameError']]);
        assert.equal(frames, 0);
        assert.equal(client.state, 'connected');
    });

    it('sends each command as its envelope and returns the text', () => {
        const { client, lastSocket } = setup();
        client.connect();
        lastSocket().accept();
        const sent = [
            client.startAudiometry('C:\\Helix\\', patient()),
            client.installHelix('C:\\Helix\\'),
            client.startPolysomno('C:\\SomnoPanel\\', patient()),
        ];
        assert.deepEqual(lastSocket().sent, sent);
        assert.deepEqual(
            sent.map((text) => JSON.parse(text)).map(({ type, args }) => [type, args.command]),
            [
                ['AUDIOMETRY', 'START_AUDIOMETRY'],
                ['AUDIOMETRY', 'INSTALL_HELIX'],
                ['POLYSOMNO', 'START_POLYSOMNO'],
            ],
        );
    });

    it('sends nothing for an invalid command', () => {
        const { client, lastSocket } = setup();
        client.connect();
        lastSocket().accept();
        const record = patient();
        delete record.gender;
        assert.throws(() => client.startAudiometry('C:\\Helix\\', record), /"gender"/);
        assert.throws(() => client.startPolysomno('C:\\SomnoPanel\\', { ...patient(), code: null }), /"code"/);
        assert.throws(() => client.startPolysomno(42, patient()), CommandValidationError);
        assert.throws(() => client.installHelix(undefined), CommandValidationError);
        assert.deepEqual(lastSocket().sent, []);
    });

    it('refuses commands while not connected', () => {
        const { client, lastSocket } = setup();
        assert.throws(() => client.installHelix('C:\\Helix\\'), NotConnectedError);
        client.connect();
        assert.throws(() => client.installHelix('C:\\Helix\\'), NotConnectedError);
        lastSocket().accept();
        lastSocket().drop(1006);
        assert.throws(() => client.installHelix('C:\\Helix\\'), NotConnectedError);
    });

    it('retries with growing delays up to the cap, and starts over after a success', () => {
        const { client, timers, lastSocket, WebSocket } = setup({ backoff: { initialDelay: 100, maxDelay: 1000 } });
        const closes = [];
        client.addEventListener('close', (event) => closes.push([event.code, event.reconnectIn]));
        client.connect();
        // The connector is not running: every attempt fails.
        const delays = [];
        for (let i = 0; i < 6; i++) {
            lastSocket().drop(1006);
            assert.equal(client.state, 'reconnecting');
            delays.push(timers.runNext());
            assert.equal(client.state, 'connecting');
        }
        assert.deepEqual(delays, [100, 200, 400, 800, 1000, 1000]);
        assert.equal(WebSocket.instances.length, 7);
        lastSocket().accept();
        lastSocket().drop(1006);
        assert.equal(timers.runNext(), 100);
        assert.deepEqual(closes.at(-1), [1006, 100]);
    });

    for (const [code, why] of [
        [1006, 'the connector process ended'],
        [1001, 'the connector went away'],
        [1009, 'the connector refused a message too large'],
        [1011, 'the connector failed'],
    ]) {
        it(`reconnects by itself after close code ${code}: ${why}`, () => {
            const { client, timers, lastSocket, WebSocket } = setup();
            client.connect();
            lastSocket().accept();
            lastSocket().drop(code);
            assert.equal(client.state, 'reconnecting');
            assert.equal(timers.runNext(), 500);
            assert.equal(WebSocket.instances.length, 2);
            lastSocket().accept();
            assert.equal(client.state, 'connected');
        });
    }

    for (const [code, state, why] of [
        [1000, 'taken-over', 'another page took the connection over'],
        [1008, 'blocked', 'the operator blocked the origin'],
    ]) {
        it(`stays away after close code ${code}: ${why}, until connect() is called`, () => {
            const { client, timers, lastSocket, WebSocket, states } = setup();
            const closes = [];
            client.addEventListener('close', (event) =>
                closes.push([event.code, event.takenOver, event.blocked, event.reconnectIn]),
            );
            client.connect();
            lastSocket().accept();
            lastSocket().drop(code);
            assert.equal(client.state, state);
            assert.equal(timers.pending.size, 0);
            assert.deepEqual(closes, [[code, code === 1000, code === 1008, null]]);
            client.connect();
            assert.equal(WebSocket.instances.length, 2);
            lastSocket().accept();
            assert.deepEqual(states, ['connecting', 'connected', state, 'connecting', 'connected']);
        });

        it(`retries when a connection attempt ends with ${code} before it opened`, () => {
            const { client, timers, lastSocket } = setup();
            client.connect();
            lastSocket().drop(code);
            assert.equal(client.state, 'reconnecting');
            assert.equal(timers.pending.size, 1);
        });
    }

    it('disconnect() closes normally, stops retrying and ignores the old socket', () => {
        const { client, timers, lastSocket, WebSocket } = setup();
        let frames = 0;
        client.addEventListener('frame', () => frames++);
        client.connect();
        const first = lastSocket();
        first.accept();
        client.disconnect();
        assert.equal(first.closedWith, 1000);
        assert.equal(client.state, 'disconnected');
        first.receive(errorFrame(2));
        first.drop(1000);
        assert.equal(frames, 0);
        assert.equal(timers.pending.size, 0);
        assert.equal(client.state, 'disconnected');

        client.connect();
        lastSocket().drop(1006);
        assert.equal(timers.pending.size, 1);
        client.disconnect();
        assert.equal(timers.pending.size, 0, 'the pending retry is cancelled');
        assert.equal(WebSocket.instances.length, 2);
    });

    it('connect() while waiting to retry tries at once and restarts the delays', () => {
        const { client, timers, lastSocket, WebSocket } = setup();
        client.connect();
        lastSocket().drop(1006);
        timers.runNext();
        lastSocket().drop(1006);
        assert.equal([...timers.pending.values()][0].ms, 1000);
        client.connect();
        assert.equal(timers.pending.size, 0);
        assert.equal(WebSocket.instances.length, 3);
        lastSocket().drop(1006);
        assert.equal(timers.runNext(), 500);
    });

    it('needs a WebSocket implementation', () => {
        assert.throws(() => new SanveroConnector({ WebSocket: 'not a class' }), TypeError);
    });
});

/** A browser's permissions API that knows the names in `states`; any other name throws a TypeError, as browsers do. */
function fakePermissions(states) {
    const asked = [];
    const statuses = new Map();
    return {
        asked,
        status: (name) => statuses.get(name),
        async query({ name }) {
            asked.push(name);
            if (!Object.hasOwn(states, name)) throw new TypeError(`'${name}' is not a valid value for PermissionName`);
            if (!statuses.has(name)) statuses.set(name, Object.assign(new EventTarget(), { state: states[name] }));
            return statuses.get(name);
        },
    };
}

const nextTurn = () => new Promise((resolve) => setImmediate(resolve));

describe("SanveroConnector and the browser's local network permission", () => {
    const both = ['loopback-network', 'local-network-access'];
    const cases = [
        ['denied: the browser blocks', { 'loopback-network': 'denied' }, 'local-network-denied', 'denied', false],
        ['prompt: the browser asks', { 'loopback-network': 'prompt' }, 'local-network-prompt', 'prompt', true],
        ['granted: the connector is not reachable', { 'loopback-network': 'granted' }, 'reconnecting', 'granted', true],
        [
            'only the older name known',
            { 'local-network-access': 'denied' },
            'local-network-denied',
            'denied',
            false,
            both,
        ],
        ['no name known', {}, 'reconnecting', 'unknown', true, both],
    ];
    for (const [name, states, state, access, retries, asked = ['loopback-network']] of cases) {
        it(`a failed attempt, ${name}: ${state}`, async () => {
            const permissions = fakePermissions(states);
            const { client, timers, lastSocket } = setup({ permissions });
            const closes = [];
            client.addEventListener('close', (event) => closes.push([event.access, event.reconnectIn]));
            client.connect();
            lastSocket().drop(1006);
            await nextTurn();
            assert.equal(client.state, state);
            assert.deepEqual(closes, [[access, retries ? 500 : null]]);
            assert.equal(timers.pending.size, retries ? 1 : 0);
            assert.deepEqual(permissions.asked, asked);
        });
    }

    it('without a permissions API a failed attempt reconnects at once, as before', () => {
        const { client, timers, lastSocket } = setup({ permissions: {} });
        client.connect();
        lastSocket().drop(1006);
        assert.equal(client.state, 'reconnecting');
        assert.equal(timers.pending.size, 1);
    });

    it('a lost open connection reconnects without asking the browser', () => {
        const permissions = fakePermissions({ 'loopback-network': 'denied' });
        const { client, lastSocket } = setup({ permissions });
        client.connect();
        lastSocket().accept();
        lastSocket().drop(1006);
        assert.equal(client.state, 'reconnecting');
        assert.deepEqual(permissions.asked, []);
    });

    it('while blocked, tries again once the permission changes to anything but denied', async () => {
        const permissions = fakePermissions({ 'loopback-network': 'denied' });
        const { client, WebSocket, lastSocket } = setup({ permissions });
        client.connect();
        lastSocket().drop(1006);
        await nextTurn();
        const status = permissions.status('loopback-network');
        status.dispatchEvent(new Event('change'));
        assert.equal(WebSocket.instances.length, 1, 'still denied: no attempt');
        status.state = 'granted';
        status.dispatchEvent(new Event('change'));
        assert.equal(WebSocket.instances.length, 2);
        lastSocket().accept();
        assert.equal(client.state, 'connected');
        status.dispatchEvent(new Event('change'));
        assert.equal(WebSocket.instances.length, 2, 'the watch ends with the new attempt');
    });

    it('disconnect() while the browser is asked wins', async () => {
        const { client, timers, lastSocket } = setup({
            permissions: fakePermissions({ 'loopback-network': 'granted' }),
        });
        client.connect();
        lastSocket().drop(1006);
        client.disconnect();
        await nextTurn();
        assert.equal(client.state, 'disconnected');
        assert.equal(timers.pending.size, 0);
    });
});

/** The promise's outcome so far, read without waiting for it. */
function watch(promise) {
    const outcome = { state: 'pending' };
    promise.then(
        (value) => Object.assign(outcome, { state: 'resolved', value }),
        (error) => Object.assign(outcome, { state: 'rejected', error }),
    );
    return outcome;
}

function connectedClient() {
    const context = setup();
    context.client.connect();
    context.lastSocket().accept();
    context.feed = (...frames) => frames.forEach((frame) => context.lastSocket().receive(frame));
    return context;
}

const exam = (code, names = {}) => ({ code, first_name: 'Sample', last_name: 'Patient', ...names });

describe('SanveroConnector promises', () => {
    it("an exam resolves with its own 1005, after its 1008, and never with another patient's", async () => {
        const { client, feed } = connectedClient();
        const outcome = watch(client.runAudiometry('C:\\Helix\\', patient()));
        feed(messageFrame(1005, { ...exam('P0042'), results: 'left from before' }));
        feed(messageFrame(1008, exam('P0042')), messageFrame(1005, { ...exam('P0099'), results: 'other patient' }));
        await nextTurn();
        assert.equal(outcome.state, 'pending');
        feed(messageFrame(1005, { ...exam('P0042'), results: 'own' }));
        await nextTurn();
        assert.equal(outcome.value.payload.results, 'own');
        assert.equal(outcome.value.code, 1005);
    });

    it('a numeric code is matched by its decimal text', async () => {
        const { client, feed } = connectedClient();
        const outcome = watch(client.runAudiometry('/h/', { ...patient(), code: 12345 }));
        feed(messageFrame(1008, exam('12345')), messageFrame(1005, { ...exam('12345'), results: 'r' }));
        await nextTurn();
        assert.equal(outcome.state, 'resolved');
    });

    for (const [code, acknowledged] of [
        [1001, false],
        [1000, false],
        [1007, false],
        [1011, false],
        [2, false],
        [100, false],
        [1012, true],
    ]) {
        it(`an exam rejects with error ${code}${acknowledged ? ' after its 1008' : ''}`, async () => {
            const { client, feed } = connectedClient();
            const outcome = watch(client.runAudiometry('C:\\Helix\\', patient()));
            if (acknowledged) feed(messageFrame(1008, exam('P0042')));
            feed(errorFrame(code));
            await nextTurn();
            assert.ok(outcome.error instanceof CommandFailedError);
            assert.equal(outcome.error.code, code);
            assert.equal(outcome.error.frame.code, code);
            assert.equal(outcome.error.command, 'START_AUDIOMETRY');
        });
    }

    it('errors go to the oldest command still awaiting its first answer', async () => {
        const { client, feed } = connectedClient();
        const waiting = watch(client.runAudiometry('C:\\Helix\\', patient()));
        feed(messageFrame(1008, exam('P0042')));
        const registration = watch(client.runPolysomno('C:\\SomnoPanel\\', patient()));
        const second = watch(client.runAudiometry('D:\\Helix\\', { ...patient(), code: 'P0099' }));
        feed(errorFrame(2009), errorFrame(1011));
        await nextTurn();
        assert.deepEqual([waiting.state, registration.error.code, second.error.code], ['pending', 2009, 1011]);
    });

    it('a registration resolves with 2010; a 2011 after it comes as an event only', async () => {
        const { client, feed } = connectedClient();
        const failedStarts = [];
        client.addEventListener('POLYSOMNO_START_FAILED', (event) => failedStarts.push(event.code));
        const outcome = watch(client.runPolysomno('C:\\SomnoPanel\\', patient()));
        const mismatch = watch(client.runPolysomno('C:\\SomnoPanel\\', patient()));
        feed(messageFrame(2010, { first_name: 'Sample', last_name: 'Patient', statistics: [] }), errorFrame(2011));
        feed(errorFrame(2012));
        await nextTurn();
        assert.equal(outcome.value.code, 2010);
        assert.equal(mismatch.error.code, 2012);
        assert.deepEqual(failedStarts, [2011]);
    });

    it('an installation reports each percentage and resolves with 1009; one sent meanwhile follows it', async () => {
        const { client, feed } = connectedClient();
        const [first, second] = [[], []];
        const running = watch(client.runInstallation('C:\\Helix\\', (percent) => first.push(percent)));
        feed(messageFrame(1002, { percent: 0 }), messageFrame(1002, { percent: 40 }));
        const joining = watch(client.runInstallation('C:\\Helix\\', (percent) => second.push(percent)));
        // The running download's progress may come before the connector's answer to the second command.
        feed(
            messageFrame(1002, { percent: 60 }),
            messageFrame(1002, { percent: 0 }),
            messageFrame(1002, { percent: 100 }),
        );
        feed(messageFrame(1003, { folder: '/d/' }), messageFrame(1009, { path: '/d/HelixSetup/HelixSetup.exe' }));
        await nextTurn();
        assert.deepEqual(first, [0, 40, 60, 100]);
        assert.deepEqual(second, [0, 100]);
        assert.equal(running.value.code, 1009);
        assert.equal(joining.value.code, 1009);
    });

    for (const code of [1006, 1010]) {
        it(`an installation rejects with error ${code}`, async () => {
            const { client, feed } = connectedClient();
            const outcome = watch(client.runInstallation('C:\\Helix\\'));
            feed(messageFrame(1002, { percent: 0 }), errorFrame(code));
            await nextTurn();
            assert.equal(outcome.error.code, code);
        });
    }

    for (const [name, end, state] of [
        ['another page takes over', ({ lastSocket }) => lastSocket().drop(1000), 'taken-over'],
        ['the operator blocks the origin', ({ lastSocket }) => lastSocket().drop(1008), 'blocked'],
        ['the page disconnects', ({ client }) => client.disconnect(), 'disconnected'],
    ]) {
        it(`every waiting command rejects when ${name}`, async () => {
            const context = connectedClient();
            const started = watch(context.client.runAudiometry('C:\\Helix\\', patient()));
            context.feed(messageFrame(1008, exam('P0042')));
            const unanswered = watch(context.client.runPolysomno('C:\\SomnoPanel\\', patient()));
            end(context);
            await nextTurn();
            for (const outcome of [started, unanswered]) {
                assert.ok(outcome.error instanceof ConnectionLostError);
                assert.equal(outcome.error.state, state);
            }
        });
    }

    it('a started exam outlives a reconnect and takes the result delivered then; the rest rejects', async () => {
        const { client, feed, timers, lastSocket } = connectedClient();
        const started = watch(client.runAudiometry('C:\\Helix\\', patient()));
        feed(messageFrame(1008, exam('P0042')));
        const unanswered = watch(client.runAudiometry('D:\\Helix\\', { ...patient(), code: 'P0099' }));
        const installation = watch(client.runInstallation('C:\\Helix\\'));
        feed(messageFrame(1008, exam('P0099')), messageFrame(1002, { percent: 0 }));
        const answerless = watch(client.runPolysomno('C:\\SomnoPanel\\', patient()));
        lastSocket().drop(1006);
        timers.runNext();
        lastSocket().accept();
        feed(messageFrame(1005, { ...exam('P0042'), results: 'kept' }));
        await nextTurn();
        assert.equal(started.value.payload.results, 'kept');
        assert.equal(unanswered.state, 'pending', 'acknowledged too: its result is kept as well');
        assert.ok(installation.error instanceof ConnectionLostError);
        assert.ok(answerless.error instanceof ConnectionLostError);
    });

    it('rejects without sending when the command is refused or not connected', async () => {
        const { client, lastSocket } = setup();
        await assert.rejects(client.runAudiometry('C:\\Helix\\', patient()), NotConnectedError);
        client.connect();
        lastSocket().accept();
        await assert.rejects(
            client.runPolysomno('C:\\SomnoPanel\\', { ...patient(), code: '' }),
            CommandValidationError,
        );
        await assert.rejects(client.runInstallation('C:\\Helix\\', 'not a function'), TypeError);
        assert.deepEqual(lastSocket().sent, []);
    });
});
