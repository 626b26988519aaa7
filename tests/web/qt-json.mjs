// Writes a JSON value byte for byte as the connector's frames are written (Qt's indented JSON document format).
//
// Sorted keys, four spaces per level, one member per line, a line feed after the closing brace of the document;
// an empty array or object still opens a line of its own. Shared by the unit and browser tests to stand in for the
// connector.

function escapeString(text) {
    let out = '"';
    for (const ch of text) {
        const code = ch.codePointAt(0);
        if (ch === '"') out += '\\"';
        else if (ch === '\\') out += '\\\\';
        else if (ch === '\b') out += '\\b';
        else if (ch === '\f') out += '\\f';
        else if (ch === '\n') out += '\\n';
        else if (ch === '\r') out += '\\r';
        else if (ch === '\t') out += '\\t';
        else if (code < 0x20) out += '\\u' + code.toString(16).padStart(4, '0');
        else out += ch;
    }
    return out + '"';
}

// Opens a line for each entry; nothing stands between the brackets of an empty one but the line break.
function block(open, close, entries, level) {
    const inner = ' '.repeat(4 * (level + 1));
    const body = entries.map((entry) => inner + entry).join(',\n');
    return open + '\n' + (body ? body + '\n' : '') + ' '.repeat(4 * level) + close;
}

function writeValue(value, level) {
    if (Array.isArray(value)) {
        const items = value.map((item) => writeValue(item, level + 1));
        return block('[', ']', items, level);
    }
    if (value !== null && typeof value === 'object') {
        const members = Object.keys(value)
            .sort()
            .map((key) => escapeString(key) + ': ' + writeValue(value[key], level + 1));
        return block('{', '}', members, level);
    }
    if (typeof value === 'string') return escapeString(value);
    if (typeof value === 'number') {
        if (!Number.isFinite(value)) throw new TypeError('JSON has no non-finite numbers');
        return String(value);
    }
    if (typeof value === 'boolean' || value === null) return String(value);
    throw new TypeError(`cannot write ${typeof value} as JSON`);
}

/** The text of a JSON document holding `value` (an object or array) in Qt's indented format. */
export function qtJson(value) {
    if (value === null || typeof value !== 'object') {
        throw new TypeError('a JSON document holds an object or an array');
    }
    return writeValue(value, 0) + '\n';
}

/** The error frame the connector sends for `code`. */
export function errorFrame(code) {
    return qtJson({ error: code });
}

/** The message frame the connector sends for `code`; "args" only when the payload has a key. */
export function messageFrame(code, payload = {}) {
    return qtJson(Object.keys(payload).length > 0 ? { args: payload, message: code } : { message: code });
}
