// Keeps docs/protocol.md, the README's table and the browser client in step with the connector's SocketMessage
// enumeration.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { describe, it } from 'node:test';

import { SanveroConnector, SocketMessage, decodeFrame, encodeCommand } from '../../web/sanvero-connector.js';
import { qtJson } from './qt-json.mjs';

const read = (path) => readFileSync(new URL(`../../${path}`, import.meta.url), 'utf8');

/** [name, value] of every enumerator of `enum SocketMessage`, in declaration order. */
function parseEnumeration(header) {
    const body = header.match(/enum\s+SocketMessage\s*\{([^}]*)\}/);
    assert.ok(body, 'socketmessage.h declares enum SocketMessage');
    const code = body[1].replace(/\/\/.*$/gm, '').replace(/\/\*[\s\S]*?\*\//g, '');
    const entries = code
        .split(',')
        .map((item) => item.trim())
        .filter(Boolean)
        .map((item) => {
            const match = item.match(/^([A-Z][A-Z0-9_]*)\s*=\s*(\d+)$/);
            assert.ok(match, `enumerator with an explicit value: ${item}`);
            return [match[1], Number(match[2])];
        });
    assert.ok(entries.length > 0, 'the enumeration has values');
    return entries;
}

/** The section of a markdown text under a "## " heading, up to the next one. */
function section(markdown, heading) {
    const start = markdown.indexOf(`\n## ${heading}\n`);
    assert.notEqual(start, -1, `a section "${heading}"`);
    const end = markdown.indexOf('\n## ', start + 1);
    return markdown.slice(start, end === -1 ? undefined : end);
}

/** Rows "| value | NAME | error|message | ..." of the numbers table in a section; the name may be in backticks. */
function parseDocTable(markdown, heading) {
    const rows = [...section(markdown, heading).matchAll(/^\|\s*(\d+)\s*\|\s*`?([A-Z0-9_]+)`?\s*\|\s*(\w+)\s*\|/gm)];
    return rows.map(([, value, name, kind]) => ({ value: Number(value), name, kind }));
}

/** Contents of the fenced blocks of a markdown text whose info string is `info`, with the line end after each line. */
function fencedBlocks(markdown, info) {
    return [...markdown.matchAll(new RegExp('^```' + info + '\\n([\\s\\S]*?)^```$', 'gm'))].map((match) => match[1]);
}

const enumeration = parseEnumeration(read('src/protocol/socketmessage.h'));
const doc = read('docs/protocol.md');
const table = parseDocTable(doc, 'Reported numbers');
const declarations = read('web/sanvero-connector.d.ts');

describe('docs/protocol.md', () => {
    it('lists every enumerator with its name', () => {
        for (const [name, value] of enumeration) {
            const rows = table.filter((row) => row.value === value);
            assert.equal(rows.length, 1, `one table row for ${value}`);
            assert.equal(rows[0].name, name, `name of ${value}`);
        }
    });

    it('lists no value that the enumeration lacks', () => {
        const values = new Set(enumeration.map(([, value]) => value));
        assert.deepEqual(
            table.filter((row) => !values.has(row.value)),
            [],
        );
    });

    it('gives each value a frame kind', () => {
        for (const row of table) {
            assert.ok(['error', 'message'].includes(row.kind), `kind of ${row.value}: ${row.kind}`);
        }
    });

    it('shows frames exactly as the connector writes them', () => {
        const frames = fencedBlocks(doc, 'frame');
        assert.ok(frames.length >= 3, 'frame examples found');
        for (const text of frames) {
            assert.equal(text, qtJson(JSON.parse(text)));
            const frame = decodeFrame(text);
            const row = table.find((entry) => entry.value === frame.code);
            assert.ok(row, `example frame ${frame.code} is in the table`);
            assert.equal(frame.kind, row.kind, `example frame ${frame.code} is of its kind`);
        }
    });

    it('spells the error frame for 2 out correctly', () => {
        const match = doc.match(/The error frame for 2 is the (\d+) bytes `("[^`]*")`/);
        assert.ok(match, 'the sentence is there');
        const bytes = JSON.parse(match[2]);
        assert.equal(bytes, qtJson({ error: 2 }));
        assert.equal(Buffer.byteLength(bytes), Number(match[1]));
        assert.equal(fencedBlocks(doc, 'frame')[0], bytes);
    });

    it('shows envelopes exactly as the client sends them', () => {
        const commands = fencedBlocks(doc, 'command');
        assert.equal(commands.length, 3);
        for (const block of commands) {
            const text = block.trimEnd();
            const { appPath, args } = JSON.parse(text);
            assert.equal(encodeCommand(args.command, appPath, args.patient), text);
        }
    });
});

/** The client's state after the connector closed an open connection with code. */
function stateAfterClose(code) {
    let socket;
    const WebSocket = class extends EventTarget {
        constructor() {
            super();
            socket = this;
        }
    };
    const client = new SanveroConnector({ WebSocket, setTimeout: () => 0, clearTimeout: () => {} });
    client.connect();
    socket.dispatchEvent(new Event('open'));
    socket.dispatchEvent(Object.assign(new Event('close'), { code }));
    return client.state;
}

describe('docs/protocol.md close codes', () => {
    it('say what the client does after each code', () => {
        const rows = [
            ...section(doc, 'Connection').matchAll(
                /^\| (\d+) \|[^|]*\| (?:stays away \(state "([a-z-]+)"\)|reconnects)/gm,
            ),
        ];
        assert.ok(rows.length >= 4, 'close code rows found');
        for (const [, code, state] of rows) {
            assert.equal(stateAfterClose(Number(code)), state ?? 'reconnecting', `after close code ${code}`);
        }
    });
});

describe('docs/protocol.md browser client', () => {
    it('tables every connection state the client declares', () => {
        const documented = [...section(doc, 'Browser client').matchAll(/^\| "([a-z-]+)" \|/gm)].map(
            (match) => match[1],
        );
        const declared = [...declarations.match(/export type ConnectionState =([^;]*);/)[1].matchAll(/'([a-z-]+)'/g)];
        assert.deepEqual(
            documented,
            declared.map((match) => match[1]),
        );
    });
});

describe('README.md', () => {
    it('tables the numbers as docs/protocol.md does', () => {
        assert.deepEqual(parseDocTable(read('README.md'), 'Protocol'), table);
    });
});

describe('web client', () => {
    it('names the numbers as the enumeration does', () => {
        assert.deepEqual(Object.entries(SocketMessage), enumeration);
    });

    it('declares the same table in its types', () => {
        const declared = [...declarations.matchAll(/^\s+([A-Z][A-Z0-9_]*): (\d+);$/gm)].map(([, name, value]) => [
            name,
            Number(value),
        ]);
        assert.deepEqual(declared, enumeration);
    });

    it('types error frames and message payloads as the table kinds them', () => {
        const errorNames = declarations
            .match(/export type ErrorFrameName =([^;]*);/)[1]
            .split('|')
            .map((name) => name.trim().replace(/'/g, ''))
            .filter(Boolean);
        const messageNames = [
            ...declarations
                .match(/export interface MessagePayloads \{([\s\S]*?)\n\}/)[1]
                .matchAll(/^ {4}([A-Z0-9_]+):/gm),
        ].map((match) => match[1]);
        const kindOf = (kind) => table.filter((row) => row.kind === kind).map((row) => row.name);
        assert.deepEqual(errorNames, kindOf('error'));
        assert.deepEqual(messageNames, kindOf('message'));
    });
});
