// Browser client of the SANvero Connector: sends the three device commands and turns its frames into events.
//
// No dependencies and no build step: load it with <script type="module"> or import it from Node.
// The connector answers every command with numbered frames that do not name the command they belong to;
// this client decodes them and dispatches one event per frame, and its run... methods match the frames to the
// command they answer, so that each command's promise settles with its own outcome.

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

/** The connector answered a command with an error frame that ends it; `frame` is that frame, `code` its number. */
export class CommandFailedError extends Error {
    constructor(command, frame) {
        super(`${command} failed: ${frame.name ?? 'error'} (${frame.code})`);
        this.name = 'CommandFailedError';
        this.command = command;
        this.frame = frame;
        this.code = frame.code;
    }
}

/** The connection ended before the command's outcome arrived, and that outcome can no longer arrive here. */
export class ConnectionLostError extends Error {
    constructor(command, state) {
        super(`${command}: the connection to the connector ended (${state}) before the outcome arrived`);
        this.name = 'ConnectionLostError';
        this.command = command;
        this.state = state;
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

/**
 * Names under which browsers report whether this page may connect to the workstation itself, most specific first:
 * "loopback-network" (Chromium from 145, Firefox), "local-network-access" (Chromium 142 to 144, still answered later).
 */
export const LOCAL_NETWORK_PERMISSIONS = Object.freeze(['loopback-network', 'local-network-access']);

/**
 * Asks the browser whether it lets this page connect to the workstation: the state of the first permission of
 * LOCAL_NETWORK_PERMISSIONS the browser knows ("granted", "denied" or "prompt"), with its PermissionStatus, or
 * "unknown" where the browser knows none of them or has no permissions API. Never rejects.
 */
export async function queryLocalNetworkAccess(permissions = globalThis.navigator?.permissions) {
    if (typeof permissions?.query === 'function') {
        for (const name of LOCAL_NETWORK_PERMISSIONS) {
            try {
                const status = await permissions.query({ name });
                return { state: status.state, name, status };
            } catch {
                // A browser that does not know the name throws a TypeError: try the next one.
            }
        }
    }
    return { state: 'unknown', name: null, status: null };
}

// Errors that answer a command at once, in the order the commands were sent, instead of its acknowledgement.
// The envelope's errors can answer any command.
const ENVELOPE_ERRORS = new Set([1, 2, 100]);
const FIRST_ERRORS = {
    START_AUDIOMETRY: new Set([1000, 1001, 1007, 1011]),
    INSTALL_HELIX: new Set(),
    START_POLYSOMNO: new Set([2000, 2001, 2007, 2008, 2009, 2012]),
};
// Errors that end a command after its acknowledgement: an exam's result set aside, an installation's failure.
const EXAM_LATER_ERRORS = new Set([1012]);
const INSTALLATION_ERRORS = new Set([1006, 1010]);

// The patient code as the connector writes it into the exam's frames: a whole number as its decimal text.
const examCode = (patient) => String(patient.code);

/**
 * The commands sent by the run... methods whose outcome is awaited, oldest first, and the frames that settle them.
 * The connector answers commands one by one in the order they arrive, so a command's first answer (its
 * acknowledgement, or an error frame, which names no patient) belongs to the oldest command that has none yet; exam
 * frames name their patient's code, and an installation sent while another runs follows that one.
 */
class PendingCommands {
    #entries = [];

    add(command, patient, onProgress) {
        return new Promise((resolve, reject) => {
            const code = command === 'START_AUDIOMETRY' ? examCode(patient) : null;
            this.#entries.push({ command, code, onProgress, acknowledged: false, resolve, reject });
        });
    }

    handle(frame) {
        if (frame.isError) {
            this.#failed(frame);
            return;
        }
        const { code, payload } = frame;
        if (code === SocketMessage.HELIX_EXAM_STARTED) {
            const exam = this.#oldest('START_AUDIOMETRY', false, (entry) => entry.code === payload.code);
            if (exam) exam.acknowledged = true;
        } else if (code === SocketMessage.HELIX_RESULTS) {
            const exam = this.#oldest('START_AUDIOMETRY', true, (entry) => entry.code === payload.code);
            if (exam) this.#settle(exam, (entry) => entry.resolve(frame));
        } else if (code === SocketMessage.HELIX_INSTALL_PROGRESS) {
            this.#progress(payload.percent);
        } else if (code === SocketMessage.HELIX_SETUP_STARTED) {
            for (const installation of this.#all('INSTALL_HELIX', true)) {
                this.#settle(installation, (entry) => entry.resolve(frame));
            }
        } else if (code === SocketMessage.POLYSOMNO_STARTED) {
            const registration = this.#oldest('START_POLYSOMNO', false);
            if (registration) this.#settle(registration, (entry) => entry.resolve(frame));
        }
    }

    /** Rejects the waiting commands that `keep` does not keep with ConnectionLostError. */
    abandon(state, keep = () => false) {
        for (const entry of [...this.#entries]) {
            if (!keep(entry)) this.#settle(entry, () => entry.reject(new ConnectionLostError(entry.command, state)));
        }
    }

    /** A started exam: its result is kept by the connector and delivered at the next connection. */
    static survivesReconnect(entry) {
        return entry.command === 'START_AUDIOMETRY' && entry.acknowledged;
    }

    #failed(frame) {
        const first = this.#entries.find(
            (entry) =>
                !entry.acknowledged && (ENVELOPE_ERRORS.has(frame.code) || FIRST_ERRORS[entry.command].has(frame.code)),
        );
        const error = (entry) => entry.reject(new CommandFailedError(entry.command, frame));
        if (first) {
            this.#settle(first, error);
        } else if (EXAM_LATER_ERRORS.has(frame.code)) {
            const exam = this.#oldest('START_AUDIOMETRY', true);
            if (exam) this.#settle(exam, error);
        } else if (INSTALLATION_ERRORS.has(frame.code)) {
            for (const installation of this.#all('INSTALL_HELIX', true)) this.#settle(installation, error);
        }
    }

    // 1002 {"percent": 0} acknowledges the oldest installation sent; every other 1002 is the progress of the one that
    // runs, which all acknowledged installations follow.
    #progress(percent) {
        const joining = percent === 0 ? this.#oldest('INSTALL_HELIX', false) : undefined;
        if (joining) joining.acknowledged = true;
        for (const installation of joining ? [joining] : this.#all('INSTALL_HELIX', true)) {
            if (installation.onProgress) {
                try {
                    installation.onProgress(percent);
                } catch (error) {
                    // The page's callback must not stop the frames from reaching the other commands.
                    queueMicrotask(() => {
                        throw error;
                    });
                }
            }
        }
    }

    #all(command, acknowledged) {
        return this.#entries.filter((entry) => entry.command === command && entry.acknowledged === acknowledged);
    }

    #oldest(command, acknowledged, matches = () => true) {
        return this.#all(command, acknowledged).find(matches);
    }

    #settle(entry, how) {
        this.#entries.splice(this.#entries.indexOf(entry), 1);
        how(entry);
    }
}

const OPEN = 1;

/**
 * Connection to the connector that stays up by itself.
 *
 * States: "disconnected" (not started, or disconnect() was called), "connecting", "connected",
 * "reconnecting" (waiting for the next attempt after the connection was lost, or could not be made while the browser
 * lets the page through: the connector is not reachable), "taken-over" (another page connected; connect() takes the
 * connection back), "blocked" (the operator blocked this page's origin; connect() tries again, which helps only once
 * the decision is reset), "local-network-denied" (an attempt failed and the browser denies this page connections to
 * the workstation: no retry until the permission changes or connect() is called) and "local-network-prompt" (an
 * attempt failed and the browser asks, or will ask, the operator; retried as in "reconnecting").
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
    #permissions;
    #probe = null;
    #unwatch = () => {};
    #pending = new PendingCommands();

    /**
     * options: url (default ws://localhost:1024); backoff {initialDelay, factor, maxDelay} in ms;
     * WebSocket, setTimeout, clearTimeout, permissions (null for none) to replace the platform's (tests).
     */
    constructor(options = {}) {
        super();
        this.#url = options.url ?? DEFAULT_URL;
        this.#WebSocket = options.WebSocket ?? globalThis.WebSocket;
        this.#setTimeout = options.setTimeout ?? ((fn, ms) => globalThis.setTimeout(fn, ms));
        this.#clearTimeout = options.clearTimeout ?? ((id) => globalThis.clearTimeout(id));
        this.#backoff = { ...DEFAULT_BACKOFF, ...options.backoff };
        this.#permissions = options.permissions === undefined ? globalThis.navigator?.permissions : options.permissions;
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

    /** Closes the connection and stops reconnecting; the commands still waiting are rejected. */
    disconnect() {
        this.#cancelTimer();
        this.#stopWaitingForAccess();
        const socket = this.#socket;
        this.#socket = null;
        if (socket) {
            socket.close(1000);
        }
        this.#setState('disconnected');
        this.#pending.abandon('disconnected');
    }

    /**
     * Starts an exam and resolves with its own 1005 frame (the result whose "code" is this patient's, after the exam's
     * 1008). Rejects with CommandFailedError for the error frame that ends the exam, ConnectionLostError when the
     * connection ends for good (a started exam outlives a reconnect: the connector keeps its result), and
     * CommandValidationError or NotConnectedError when nothing was sent.
     */
    runAudiometry(appPath, patient) {
        return this.#run('START_AUDIOMETRY', appPath, patient);
    }

    /**
     * Registers the patient and resolves with the 2010 frame (a 2011 that follows comes as an event only). Rejects
     * as runAudiometry does, with the registration's errors (2000 to 2012, 2, 100).
     */
    runPolysomno(appPath, patient) {
        return this.#run('START_POLYSOMNO', appPath, patient);
    }

    /**
     * Installs the audiometry application and resolves with the 1009 frame; onProgress(percent) is called for each
     * 1002. Rejects with CommandFailedError for 1006 or 1010, or ConnectionLostError on any loss of the connection
     * (the connector does not keep an installation's frames).
     */
    runInstallation(appPath, onProgress) {
        if (onProgress !== undefined && typeof onProgress !== 'function') {
            return Promise.reject(new TypeError('onProgress must be a function'));
        }
        return this.#run('INSTALL_HELIX', appPath, undefined, onProgress);
    }

    /** Starts an exam in the audiometry application installed in appPath. Returns the text sent. */
    startAudiometry(appPath, patient) {
        return this.sendCommand('START_AUDIOMETRY', appPath, patient);
    }

    /** Downloads and starts the audiometry application's installer. Returns the text sent. */
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

    #run(command, appPath, patient, onProgress) {
        try {
            this.sendCommand(command, appPath, patient);
        } catch (error) {
            return Promise.reject(error);
        }
        return this.#pending.add(command, patient, onProgress);
    }

    #open() {
        this.#stopWaitingForAccess();
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
        this.#pending.handle(frame);
    }

    #lost(event) {
        const wasConnected = this.#state === 'connected';
        this.#socket = null;
        const takenOver = wasConnected && event.code === CLOSE_TAKEN_OVER;
        const blocked = wasConnected && event.code === CLOSE_BLOCKED;
        if (takenOver || blocked) {
            const state = takenOver ? 'taken-over' : 'blocked';
            this.#setState(state);
            this.#closed(event, { takenOver, blocked, reconnectIn: null, access: null });
            this.#pending.abandon(state);
            return;
        }
        this.#pending.abandon('reconnecting', PendingCommands.survivesReconnect);
        if (wasConnected) {
            this.#retry(event, 'reconnecting', null);
            return;
        }
        if (typeof this.#permissions?.query !== 'function') {
            this.#retry(event, 'reconnecting', 'unknown');
            return;
        }
        // An attempt that failed before opening: the browser may have stopped it, which the page cannot see in the
        // close event (always 1006), so the browser's permission decides what to report.
        const probe = {};
        this.#probe = probe;
        queryLocalNetworkAccess(this.#permissions).then(({ state, status }) => {
            if (this.#probe !== probe) {
                return; // connect() or disconnect() came first
            }
            this.#probe = null;
            if (state === 'denied') {
                this.#setState('local-network-denied');
                this.#waitForAccess(status);
                this.#closed(event, { takenOver: false, blocked: false, reconnectIn: null, access: state });
            } else {
                this.#retry(event, state === 'prompt' ? 'local-network-prompt' : 'reconnecting', state);
                if (state === 'prompt') this.#waitForAccess(status);
            }
        });
    }

    #retry(event, state, access) {
        const reconnectIn = reconnectDelay(this.#attempt, this.#backoff);
        this.#attempt += 1;
        this.#timer = this.#setTimeout(() => {
            this.#timer = null;
            this.#open();
        }, reconnectIn);
        this.#setState(state);
        this.#closed(event, { takenOver: false, blocked: false, reconnectIn, access });
    }

    #closed(event, details) {
        this.dispatchEvent(new ConnectionEvent('close', { code: event.code, reason: event.reason ?? '', ...details }));
    }

    // Tries again at once when the operator or IT lets the page through (or lets the browser ask).
    #waitForAccess(status) {
        if (typeof status?.addEventListener !== 'function') {
            return;
        }
        const changed = () => {
            if (status.state !== 'denied') this.connect();
        };
        status.addEventListener('change', changed);
        this.#unwatch = () => status.removeEventListener('change', changed);
    }

    #stopWaitingForAccess() {
        this.#probe = null;
        this.#unwatch();
        this.#unwatch = () => {};
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
