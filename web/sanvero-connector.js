// Browser client of the SANvero Connector: sends the three device commands and turns its frames into events.
//
// No dependencies and no build step: load it with <script type="module"> or import it from Node.
// The connector answers every command with numbered frames that do not name the command they belong to;
// this client only decodes them and dispatches one event per frame, leaving their meaning to the page.

/** Every number the connector reports, by name, as the connector's own enumeration numbers them. */
export const SocketMessage = Object.freeze({
    MISSING_COMMAND: 1,
    INVALID_ARGUMENTS: 2,
    INCOMPLETE_PATIENT: 100,
    HELIX_EXCHANGE_FOLDER_FAILED: 1000,
    HELIX_NOT_INSTALLED: 1001,
    HELIX_INSTALL_PROGRESS: 1002,
    HELIX_DOWNLOAD_FINISHED: 1003,
    HELIX_EXTRACTION_STARTED: 1004,
    HELIX_RESULTS: 1005,
    HELIX_DOWNLOAD_FAILED: 1006,
    HELIX_REQUEST_FILE_FAILED: 1007,
    HELIX_EXAM_STARTED: 1008,
    HELIX_SETUP_STARTED: 1009,
    HELIX_INSTALL_FAILED: 1010,
    HELIX_START_FAILED: 1011,
    HELIX_RESULT_UNATTRIBUTED: 1012,
    POLYSOMNO_DB_NOT_FOUND: 2000,
    POLYSOMNO_NOT_INSTALLED: 2001,
    POLYSOMNO_DB_OPEN_FAILED: 2007,
    POLYSOMNO_INSERT_FAILED: 2008,
    POLYSOMNO_DB_IN_USE: 2009,
    POLYSOMNO_STARTED: 2010,
    POLYSOMNO_START_FAILED: 2011,
    POLYSOMNO_PATIENT_MISMATCH: 2012,
});

const namesByValue = new Map(Object.entries(SocketMessage).map(([name, value]) => [value, name]));

/** The name of a reported number, or null for a number this client does not know. */
export function socketMessageName(value) {
    return namesByValue.get(value) ?? null;
}

/** Default address of the connector on the operator's own workstation. */
export const DEFAULT_URL = 'ws://localhost:1024';

/** The connector closes the connection on any message larger than this many bytes. */
export const MAX_MESSAGE_BYTES = 1024 * 1024;

/** Keys a patient record must hold for both start commands; apart from "code" only their presence is checked. */
export const REQUIRED_PATIENT_KEYS = Object.freeze([
    'first_name',
    'last_name',
    'birth_date',
    'code',
    'gender',
    'height',
    'weight',
]);

/** Device type of each command, as the envelope's "type" names it. */
export const COMMAND_TYPES = Object.freeze({
    START_AUDIOMETRY: 'AUDIOMETRY',
    INSTALL_HELIX: 'AUDIOMETRY',
    START_POLYSOMNO: 'POLYSOMNO',
});

const commandsWithPatient = new Set(['START_AUDIOMETRY', 'START_POLYSOMNO']);

/** A frame from the connector that does not have the shape of an error frame or a message frame. */
export class MalformedFrameError extends Error {
    constructor(message, text) {
        super(message);
        this.name = 'MalformedFrameError';
        this.text = text;
    }
}

/** A command that would be refused by the connector, caught before it is sent. */
export class CommandValidationError extends Error {
    constructor(message, details = {}) {
        super(message);
        this.name = 'CommandValidationError';
        this.missingKeys = details.missingKeys ?? [];
    }
}

/** A command given while no connection to the connector is open. */
export class NotConnectedError extends Error {
    constructor(message = 'not connected to the connector') {
        super(message);
        this.name = 'NotConnectedError';
    }
}

function isPlainObject(value) {
    return typeof value === 'object' && value !== null && !Array.isArray(value);
}

/**
 * Decodes the text of one frame.
 * Returns {kind: "error"|"message", code, name, payload, isError}; payload is the "args" object, or {} when the
 * frame has none (error frames never have one). Throws MalformedFrameError for anything else.
 */
export function decodeFrame(text) {
    if (typeof text !== 'string') {
        throw new MalformedFrameError('frame is not text', text);
    }
    let value;
    try {
        value = JSON.parse(text);
    } catch (error) {
        throw new MalformedFrameError(`frame is not JSON: ${error.message}`, text);
    }
    if (!isPlainObject(value)) {
        throw new MalformedFrameError('frame is not a JSON object', text);
    }
    const hasError = Object.hasOwn(value, 'error');
    const hasMessage = Object.hasOwn(value, 'message');
    if (hasError === hasMessage) {
        throw new MalformedFrameError('frame must hold exactly one of "error" and "message"', text);
    }
    const kind = hasError ? 'error' : 'message';
    const code = value[kind];
    if (!Number.isInteger(code)) {
        throw new MalformedFrameError(`"${kind}" is not an integer`, text);
    }
    for (const key of Object.keys(value)) {
        if (key !== kind && !(kind === 'message' && key === 'args')) {
            throw new MalformedFrameError(`unexpected key "${key}" in ${kind} frame`, text);
        }
    }
    let payload = {};
    if (Object.hasOwn(value, 'args')) {
        if (!isPlainObject(value.args)) {
            throw new MalformedFrameError('"args" is not a JSON object', text);
        }
        payload = value.args;
    }
    return { kind, code, name: socketMessageName(code), payload, isError: kind === 'error' };
}

/**
 * Throws CommandValidationError unless appPath names a folder the connector accepts: an absolute path on a local
 * drive, "C:\..." or "C:/..." on Windows, "/..." elsewhere (the client does not know the connector's system, so
 * either passes here), without a ".." segment. The trailing separator may be left out; the connector adds it.
 */
export function validateAppPath(appPath) {
    if (typeof appPath !== 'string') {
        throw new CommandValidationError(`appPath must be a string, got ${appPath === null ? 'null' : typeof appPath}`);
    }
    // "\\server\share", "//server/share", "\\?\UNC\...", "\\.\...": another machine's share or a device path.
    if (/^[\\/]{2}/.test(appPath)) {
        throw new CommandValidationError(`appPath names a network share, which the connector refuses: ${appPath}`);
    }
    // Also refuses "\??\UNC\...", "C:" without a separator, relative paths and "file:" addresses.
    if (!/^[A-Za-z]:[\\/]/.test(appPath) && !appPath.startsWith('/')) {
        throw new CommandValidationError(`appPath must be an absolute folder on a local drive: ${appPath}`);
    }
    // A ".." segment could climb out of any folder.
    if (appPath.split(/[\\/]/).includes('..')) {
        throw new CommandValidationError(`appPath must not hold a ".." segment: ${appPath}`);
    }
}

// The connector writes a whole number up to 2^53 as its decimal text; beyond that a double may already differ from
// the number the page meant.
const EXACT_INTEGER_LIMIT = 2 ** 53;

// Whether the connector can use value as a patient code: non-empty text, or a whole number that it writes as its
// decimal text (12345 as "12345"). Without a code the applications could not tell the patient from any other.
function isUsableCode(value) {
    if (typeof value === 'string') {
        return value !== '';
    }
    return Number.isInteger(value) && Math.abs(value) <= EXACT_INTEGER_LIMIT;
}

function describeValue(value) {
    if (value === null || typeof value === 'number' || typeof value === 'boolean') {
        return String(value);
    }
    if (typeof value === 'string') {
        return 'empty text';
    }
    if (typeof value === 'object') {
        return Array.isArray(value) ? 'an array' : 'an object';
    }
    return `a ${typeof value}`;
}

/**
 * Throws CommandValidationError unless patient holds every required key and a usable "code": non-empty
 * text, or a whole number of at most 2^53 either way (the connector writes it as its decimal text).
 * Apart from the code, presence only, as the connector checks it; a key whose value is undefined is missing, since
 * JSON drops it.
 */
export function validatePatient(patient) {
    if (!isPlainObject(patient)) {
        throw new CommandValidationError('patient must be an object');
    }
    const missingKeys = REQUIRED_PATIENT_KEYS.filter(
        (key) => !Object.hasOwn(patient, key) || patient[key] === undefined,
    );
    if (missingKeys.length > 0) {
        const list = missingKeys.map((key) => `"${key}"`).join(', ');
        throw new CommandValidationError(`patient lacks required key${missingKeys.length > 1 ? 's' : ''} ${list}`, {
            missingKeys,
        });
    }
    if (!isUsableCode(patient.code)) {
        throw new CommandValidationError(
            `patient "code" must be non-empty text or a whole number, got ${describeValue(patient.code)}`,
        );
    }
}

/**
 * Builds the text of one command envelope after validating it.
 * command is "START_AUDIOMETRY", "INSTALL_HELIX" or "START_POLYSOMNO"; patient is needed by the two start commands
 * and ignored by "INSTALL_HELIX".
 */
export function encodeCommand(command, appPath, patient) {
    if (!Object.hasOwn(COMMAND_TYPES, command)) {
        throw new CommandValidationError(`unknown command: ${String(command)}`);
    }
    validateAppPath(appPath);
    const args = { command };
    if (commandsWithPatient.has(command)) {
        validatePatient(patient);
        args.patient = patient;
    }
    const text = JSON.stringify({ type: COMMAND_TYPES[command], appPath, args });
    if (utf8Length(text) > MAX_MESSAGE_BYTES) {
        throw new CommandValidationError(`command is larger than the connector accepts (${MAX_MESSAGE_BYTES} bytes)`);
    }
    return text;
}

function utf8Length(text) {
    return new TextEncoder().encode(text).length;
}

/** Default reconnect timing, in milliseconds. */
export const DEFAULT_BACKOFF = Object.freeze({ initialDelay: 500, factor: 2, maxDelay: 10000 });

/** Delay before reconnect attempt number `attempt` (0 for the first one after a loss), capped at maxDelay. */
export function reconnectDelay(attempt, backoff = DEFAULT_BACKOFF) {
    const { initialDelay, factor, maxDelay } = { ...DEFAULT_BACKOFF, ...backoff };
    return Math.min(maxDelay, initialDelay * factor ** attempt);
}

/**
 * Close code the connector uses when another page connects and takes the connection over.
 * This page then stays away: reconnecting would take the connection back and start a tug of war between the pages.
 */
export const CLOSE_TAKEN_OVER = 1000;

/**
 * Close code (policy violation) the connector uses when the operator blocked this page's origin.
 * This page then stays away: the connector refuses every later handshake from the origin.
 */
export const CLOSE_BLOCKED = 1008;

/** Event dispatched for a frame: under the frame's name, and as "frame". */
export class FrameEvent extends Event {
    constructor(type, frame) {
        super(type);
        this.frame = frame;
        this.code = frame.code;
        this.payload = frame.payload;
        this.isError = frame.isError;
    }
}

/** Event dispatched on every change of the connection state. */
export class ConnectionEvent extends Event {
    constructor(type, details) {
        super(type);
        Object.assign(this, details);
    }
}

const OPEN = 1;

/**
 * Connection to the connector that stays up by itself.
 *
 * States: "disconnected" (not started, or disconnect() was called), "connecting", "connected",
 * "reconnecting" (waiting for the next attempt after the connection was lost or could not be made),
 * "taken-over" (another page connected; connect() takes the connection back) and "blocked" (the operator blocked
 * this page's origin; connect() tries again, which helps only once the decision is reset).
 *
 * Events: one per frame named after the frame (e.g. "HELIX_RESULTS") and "frame" for every frame, both FrameEvent;
 * "statechange", "open" and "close" (ConnectionEvent); "protocolerror" for a frame that can't be decoded.
 */
export class SanveroConnector extends EventTarget {
    #url;
    #WebSocket;
    #setTimeout;
    #clearTimeout;
    #backoff;
    #socket = null;
    #timer = null;
    #attempt = 0;
    #state = 'disconnected';

    /**
     * options: url (default ws://localhost:1024); backoff {initialDelay, factor, maxDelay} in ms;
     * WebSocket, setTimeout, clearTimeout to replace the platform's (tests).
     */
    constructor(options = {}) {
        super();
        this.#url = options.url ?? DEFAULT_URL;
        this.#WebSocket = options.WebSocket ?? globalThis.WebSocket;
        this.#setTimeout = options.setTimeout ?? ((fn, ms) => globalThis.setTimeout(fn, ms));
        this.#clearTimeout = options.clearTimeout ?? ((id) => globalThis.clearTimeout(id));
        this.#backoff = { ...DEFAULT_BACKOFF, ...options.backoff };
        if (typeof this.#WebSocket !== 'function') {
            throw new TypeError('no WebSocket implementation available');
        }
    }

    get url() {
        return this.#url;
    }

    get state() {
        return this.#state;
    }

    get connected() {
        return this.#state === 'connected';
    }

    /** Opens the connection now, also while waiting for a reconnect, after another page took over or a block. */
    connect() {
        if (this.#state === 'connecting' || this.#state === 'connected') {
            return;
        }
        this.#cancelTimer();
        this.#attempt = 0;
        this.#open();
    }

    /** Closes the connection and stops reconnecting. */
    disconnect() {
        this.#cancelTimer();
        const socket = this.#socket;
        this.#socket = null;
        if (socket) {
            socket.close(1000);
        }
        this.#setState('disconnected');
    }

    /** Starts an exam in the audiometry application installed in appPath. Returns the text sent. */
    startAudiometry(appPath, patient) {
        return this.sendCommand('START_AUDIOMETRY', appPath, patient);
    }

    /** Downloads (or reuses) and starts the audiometry application's installer. Returns the text sent. */
    installHelix(appPath) {
        return this.sendCommand('INSTALL_HELIX', appPath);
    }

    /** Registers the patient with the polysomnography application in appPath and starts it. Returns the text sent. */
    startPolysomno(appPath, patient) {
        return this.sendCommand('START_POLYSOMNO', appPath, patient);
    }

    /** Validates, encodes and sends one command; throws CommandValidationError or NotConnectedError. */
    sendCommand(command, appPath, patient) {
        const text = encodeCommand(command, appPath, patient);
        if (this.#state !== 'connected' || !this.#socket || this.#socket.readyState !== OPEN) {
            throw new NotConnectedError();
        }
        this.#socket.send(text);
        return text;
    }

    #open() {
        this.#setState('connecting');
        let socket;
        try {
            socket = new this.#WebSocket(this.#url);
        } catch (error) {
            // A malformed URL throws at once; there is nothing to retry.
            this.#setState('disconnected');
            throw error;
        }
        this.#socket = socket;
        socket.addEventListener('open', () => {
            if (socket !== this.#socket) {
                return;
            }
            this.#attempt = 0;
            this.#setState('connected');
            this.dispatchEvent(new ConnectionEvent('open', { url: this.#url }));
        });
        socket.addEventListener('message', (event) => {
            if (socket === this.#socket) {
                this.#receive(event.data);
            }
        });
        socket.addEventListener('close', (event) => {
            if (socket === this.#socket) {
                this.#lost(event);
            }
        });
    }

    #receive(text) {
        let frame;
        try {
            frame = decodeFrame(text);
        } catch (error) {
            this.dispatchEvent(new ConnectionEvent('protocolerror', { error, text }));
            return;
        }
        if (frame.name !== null) {
            this.dispatchEvent(new FrameEvent(frame.name, frame));
        }
        this.dispatchEvent(new FrameEvent('frame', frame));
    }

    #lost(event) {
        const wasConnected = this.#state === 'connected';
        this.#socket = null;
        const takenOver = wasConnected && event.code === CLOSE_TAKEN_OVER;
        const blocked = wasConnected && event.code === CLOSE_BLOCKED;
        let reconnectIn = null;
        if (takenOver || blocked) {
            this.#setState(takenOver ? 'taken-over' : 'blocked');
        } else {
            reconnectIn = reconnectDelay(this.#attempt, this.#backoff);
            this.#attempt += 1;
            this.#timer = this.#setTimeout(() => {
                this.#timer = null;
                this.#open();
            }, reconnectIn);
            this.#setState('reconnecting');
        }
        this.dispatchEvent(
            new ConnectionEvent('close', {
                code: event.code,
                reason: event.reason ?? '',
                takenOver,
                blocked,
                reconnectIn,
            }),
        );
    }

    #cancelTimer() {
        if (this.#timer !== null) {
            this.#clearTimeout(this.#timer);
            this.#timer = null;
        }
    }

    #setState(state) {
        if (state !== this.#state) {
            this.#state = state;
            this.dispatchEvent(new ConnectionEvent('statechange', { state }));
        }
    }
}
