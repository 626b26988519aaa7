// Types of the browser client of the SANvero Connector: frames, their payloads, commands and events.

/** Every number the connector reports, by name. */
export declare const SocketMessage: Readonly<{
    MISSING_COMMAND: 1;
    INVALID_ARGUMENTS: 2;
    INCOMPLETE_PATIENT: 100;
    HELIX_EXCHANGE_FOLDER_FAILED: 1000;
    HELIX_NOT_INSTALLED: 1001;
    HELIX_INSTALL_PROGRESS: 1002;
    HELIX_DOWNLOAD_FINISHED: 1003;
    HELIX_EXTRACTION_STARTED: 1004;
    HELIX_RESULTS: 1005;
    HELIX_DOWNLOAD_FAILED: 1006;
    HELIX_REQUEST_FILE_FAILED: 1007;
    HELIX_EXAM_STARTED: 1008;
    HELIX_SETUP_STARTED: 1009;
    HELIX_INSTALL_FAILED: 1010;
    HELIX_START_FAILED: 1011;
    HELIX_RESULT_UNATTRIBUTED: 1012;
    POLYSOMNO_DB_NOT_FOUND: 2000;
    POLYSOMNO_NOT_INSTALLED: 2001;
    POLYSOMNO_DB_OPEN_FAILED: 2007;
    POLYSOMNO_INSERT_FAILED: 2008;
    POLYSOMNO_DB_IN_USE: 2009;
    POLYSOMNO_STARTED: 2010;
    POLYSOMNO_START_FAILED: 2011;
    POLYSOMNO_PATIENT_MISMATCH: 2012;
}>;

export type SocketMessageName = keyof typeof SocketMessage;
export type SocketMessageValue = (typeof SocketMessage)[SocketMessageName];

/** Names sent in error frames ({"error": n}); they never carry a payload. */
export type ErrorFrameName =
    | 'MISSING_COMMAND'
    | 'INVALID_ARGUMENTS'
    | 'INCOMPLETE_PATIENT'
    | 'HELIX_EXCHANGE_FOLDER_FAILED'
    | 'HELIX_NOT_INSTALLED'
    | 'HELIX_DOWNLOAD_FAILED'
    | 'HELIX_REQUEST_FILE_FAILED'
    | 'HELIX_INSTALL_FAILED'
    | 'HELIX_START_FAILED'
    | 'HELIX_RESULT_UNATTRIBUTED'
    | 'POLYSOMNO_DB_NOT_FOUND'
    | 'POLYSOMNO_NOT_INSTALLED'
    | 'POLYSOMNO_DB_OPEN_FAILED'
    | 'POLYSOMNO_INSERT_FAILED'
    | 'POLYSOMNO_DB_IN_USE'
    | 'POLYSOMNO_START_FAILED'
    | 'POLYSOMNO_PATIENT_MISMATCH';

/** One entry of the polysomnography measurement folder: its name and the names of the entries inside it. */
export interface Measurement {
    name: string;
    dates: string[];
}

/**
 * The patient of an audiometry exam, as written into its request file: texts as sent, a whole number as its decimal
 * text, "" for a name that was neither. "code" is never empty: the connector refuses an exam without one.
 */
export interface ExamPatient {
    code: string;
    first_name: string;
    last_name: string;
}

/** Payload ("args") of each message frame; {} when the frame has no "args". */
export interface MessagePayloads {
    /** 0 when the installation begins, then the download's percentage (only while the size is known). */
    HELIX_INSTALL_PROGRESS: { percent: number };
    /** The download has ended; folder is the desktop folder where the archive is saved, ending with "/". */
    HELIX_DOWNLOAD_FINISHED: { folder: string };
    /**
     * Sent twice per installation: {} when the downloaded archive is ready, then {folder} as unpacking starts.
     * (Connectors that reused an archive found on the desktop sent {percent: 0} first; none does now.)
     */
    HELIX_EXTRACTION_STARTED: { percent?: number; folder?: string };
    /**
     * The text of an exam's result file, with the patient of the exam whose request it answers: after a page reload
     * or a newer exam in the same folder, that can be an earlier exam than the page's last one.
     */
    HELIX_RESULTS: ExamPatient & { results: string };
    /** The exam runs and its result is awaited. */
    HELIX_EXAM_STARTED: ExamPatient;
    /** The unpacked installer is being started: folder + "HelixSetup/HelixSetup.exe", or "HelixSetup-2/..." when
     * the desktop holds a "HelixSetup" folder that the connector did not make. */
    HELIX_SETUP_STARTED: { path: string };
    /** The patient is registered; the polysomnography application is started next (2011 follows if it fails). */
    POLYSOMNO_STARTED: { first_name: string; last_name: string; statistics: Measurement[] };
}

export type MessageFrameName = keyof MessagePayloads;

/** The payload of any frame by name: error frames have none. */
export type PayloadOf<N extends SocketMessageName> = N extends MessageFrameName
    ? MessagePayloads[N]
    : Record<string, never>;

/** A decoded frame of a known number. */
export type KnownFrame = {
    [N in SocketMessageName]: {
        kind: N extends ErrorFrameName ? 'error' : 'message';
        code: (typeof SocketMessage)[N];
        name: N;
        payload: PayloadOf<N>;
        isError: N extends ErrorFrameName ? true : false;
    };
}[SocketMessageName];

/** A decoded frame of a number this client does not know. */
export interface UnknownFrame {
    kind: 'error' | 'message';
    code: number;
    name: null;
    payload: Record<string, unknown>;
    isError: boolean;
}

export type Frame = KnownFrame | UnknownFrame;

/** The name of a reported number, or null for a number this client does not know. */
export declare function socketMessageName(value: number): SocketMessageName | null;

export declare const DEFAULT_URL: 'ws://localhost:1024';
/** The connector closes the connection on any message larger than this many bytes. */
export declare const MAX_MESSAGE_BYTES: 1048576;
/** Close code of a connection that another page took over; the client does not reconnect after it. */
export declare const CLOSE_TAKEN_OVER: 1000;
/** Close code when the operator blocked this page's origin; the client then stays away. */
export declare const CLOSE_BLOCKED: 1008;

export type RequiredPatientKey = 'first_name' | 'last_name' | 'birth_date' | 'code' | 'gender' | 'height' | 'weight';
export declare const REQUIRED_PATIENT_KEYS: readonly RequiredPatientKey[];

/**
 * A patient record. The seven required keys must be present (any value, null included, except for "code"); the
 * audiometry application also takes "city" and "address". "code" is the patient's identifier in the care application:
 * non-empty text, or a whole number of at most 2^53 either way, which the connector writes as its decimal text (as it
 * does a whole number in "first_name" or "last_name"). Conventional values: birth_date "DD/MM/YYYY", gender 1 for
 * female and 0 for male, height in cm, weight in kg.
 */
export type Patient = { [K in RequiredPatientKey]: unknown } & {
    code: string | number;
    city?: string;
    address?: string;
    [key: string]: unknown;
};

export type CommandName = 'START_AUDIOMETRY' | 'INSTALL_HELIX' | 'START_POLYSOMNO';
export type DeviceType = 'AUDIOMETRY' | 'POLYSOMNO';
export declare const COMMAND_TYPES: Readonly<{
    START_AUDIOMETRY: 'AUDIOMETRY';
    INSTALL_HELIX: 'AUDIOMETRY';
    START_POLYSOMNO: 'POLYSOMNO';
}>;

/** The JSON object sent for a command. */
export type CommandEnvelope =
    | { type: 'AUDIOMETRY'; appPath: string; args: { command: 'START_AUDIOMETRY'; patient: Patient } }
    | { type: 'AUDIOMETRY'; appPath: string; args: { command: 'INSTALL_HELIX' } }
    | { type: 'POLYSOMNO'; appPath: string; args: { command: 'START_POLYSOMNO'; patient: Patient } };

export declare class MalformedFrameError extends Error {
    readonly name: 'MalformedFrameError';
    /** The text that could not be decoded. */
    readonly text: unknown;
}

export declare class CommandValidationError extends Error {
    readonly name: 'CommandValidationError';
    /** The required patient keys that were missing, in order; empty for other faults (an unusable "code" among them). */
    readonly missingKeys: RequiredPatientKey[];
}

export declare class NotConnectedError extends Error {
    readonly name: 'NotConnectedError';
}

/** A frame of a known number, by name. */
export type FrameNamed<N extends SocketMessageName> = Extract<KnownFrame, { name: N }>;

/** The connector answered the command with an error frame that ends it. */
export declare class CommandFailedError extends Error {
    readonly name: 'CommandFailedError';
    readonly command: CommandName;
    /** The error frame. */
    readonly frame: Frame;
    /** Its number, e.g. 1011. */
    readonly code: number;
}

/** The connection ended before the command's outcome arrived, and the outcome can no longer arrive here. */
export declare class ConnectionLostError extends Error {
    readonly name: 'ConnectionLostError';
    readonly command: CommandName;
    /** The client's state when it gave the command up: "disconnected", "taken-over", "blocked" or "reconnecting". */
    readonly state: ConnectionState;
}

/** Decodes the text of one frame; throws MalformedFrameError when it is neither an error nor a message frame. */
export declare function decodeFrame(text: string): Frame;

/**
 * Throws CommandValidationError unless appPath is an absolute folder on a local drive, as the connector accepts it:
 * "C:\..." or "C:/..." (Windows) or "/..." (elsewhere), no network share or device path, no ".." segment. The
 * trailing separator may be left out. The connector also needs the operator's consent for the folder: one listed in
 * its "application_folders" is served; for any other, "unknown_application_folders" decides: error 2 ("refuse"),
 * served ("allow"), or, by default, the command waits without an answer while a box asks the operator, and is then
 * carried out (Allow) or answered with error 2 (Block).
 */
export declare function validateAppPath(appPath: unknown): asserts appPath is string;

/**
 * Throws CommandValidationError unless every required key is present (a value of undefined counts as missing) and
 * "code" is usable (see Patient).
 */
export declare function validatePatient(patient: unknown): asserts patient is Patient;

/** The text of a command envelope, after validation; throws CommandValidationError. */
export declare function encodeCommand(command: 'INSTALL_HELIX', appPath: string, patient?: unknown): string;
export declare function encodeCommand(
    command: 'START_AUDIOMETRY' | 'START_POLYSOMNO',
    appPath: string,
    patient: Patient,
): string;

export interface Backoff {
    /** Delay before the first retry, ms (default 500). */
    initialDelay?: number;
    /** Growth of the delay per failed attempt (default 2). */
    factor?: number;
    /** Longest delay, ms (default 10000). */
    maxDelay?: number;
}
export declare const DEFAULT_BACKOFF: Readonly<Required<Backoff>>;

/** Delay before retry number `attempt` (0 for the first), capped at maxDelay. */
export declare function reconnectDelay(attempt: number, backoff?: Backoff): number;

/** The parts of a WebSocket that the client uses. */
export interface WebSocketLike extends EventTarget {
    readonly readyState: number;
    send(data: string): void;
    close(code?: number, reason?: string): void;
}

/**
 * What the browser says about this page's connections to the workstation: a permission state, or "unknown" where the
 * browser knows none of LOCAL_NETWORK_PERMISSIONS or has no permissions API.
 */
export type LocalNetworkAccess = 'granted' | 'denied' | 'prompt' | 'unknown';

/** The part of the browser's navigator.permissions that the client uses. */
export interface PermissionsLike {
    query(descriptor: { name: string }): Promise<{ readonly state: string } & Partial<EventTarget>>;
}

/** The permission names asked, in order: "loopback-network", then "local-network-access". */
export declare const LOCAL_NETWORK_PERMISSIONS: readonly ['loopback-network', 'local-network-access'];

/** The state of the first permission of LOCAL_NETWORK_PERMISSIONS the browser knows; never rejects. */
export declare function queryLocalNetworkAccess(permissions?: PermissionsLike | null): Promise<{
    state: LocalNetworkAccess;
    /** The permission name answered, or null for "unknown". */
    name: (typeof LOCAL_NETWORK_PERMISSIONS)[number] | null;
    status: PermissionStatus | null;
}>;

export interface SanveroConnectorOptions {
    /** Address of the connector; default "ws://localhost:1024". */
    url?: string;
    backoff?: Backoff;
    /** WebSocket class to use; default the platform's. */
    WebSocket?: new (url: string) => WebSocketLike;
    setTimeout?: (callback: () => void, ms: number) => unknown;
    clearTimeout?: (id: unknown) => void;
    /** Where to ask about local network access; default navigator.permissions, null never asks. */
    permissions?: PermissionsLike | null;
}

/**
 * "disconnected": not started, or disconnect() was called; "connecting": an attempt is under way; "connected";
 * "reconnecting": waiting for the next attempt (after a failed attempt: the connector is not reachable, the browser
 * lets the page through or does not say); "taken-over": another page connected, connect() takes it back;
 * "blocked": the operator blocked this page's origin (close code 1008), no retry is scheduled;
 * "local-network-denied": the browser blocks this page's connections to the workstation, no retry is scheduled until
 * the permission changes; "local-network-prompt": the browser asks (or will ask) the operator, retrying as in
 * "reconnecting".
 */
export type ConnectionState =
    | 'disconnected'
    | 'connecting'
    | 'connected'
    | 'reconnecting'
    | 'taken-over'
    | 'blocked'
    | 'local-network-denied'
    | 'local-network-prompt';

export declare class FrameEvent<F extends Frame = Frame> extends Event {
    readonly frame: F;
    readonly code: F['code'];
    readonly payload: F['payload'];
    readonly isError: F['isError'];
}

export interface StateChangeEvent extends Event {
    readonly state: ConnectionState;
}
export interface OpenEvent extends Event {
    readonly url: string;
}
export interface CloseEvent extends Event {
    readonly code: number;
    readonly reason: string;
    /** True for close code 1000 on an open connection: another page took over, and no retry is scheduled. */
    readonly takenOver: boolean;
    /** True for close code 1008 on an open connection: the operator blocked the origin, and no retry is scheduled. */
    readonly blocked: boolean;
    /** Delay of the scheduled retry in ms, or null when none is scheduled. */
    readonly reconnectIn: number | null;
    /** For an attempt that failed before opening, what the browser says about local network access; else null. */
    readonly access: LocalNetworkAccess | null;
}
export interface ProtocolErrorEvent extends Event {
    readonly error: MalformedFrameError;
    readonly text: unknown;
}

export type SanveroConnectorEventMap = {
    [N in SocketMessageName]: FrameEvent<Extract<KnownFrame, { name: N }>>;
} & {
    frame: FrameEvent;
    statechange: StateChangeEvent;
    open: OpenEvent;
    close: CloseEvent;
    protocolerror: ProtocolErrorEvent;
};

export declare class SanveroConnector extends EventTarget {
    constructor(options?: SanveroConnectorOptions);
    readonly url: string;
    readonly state: ConnectionState;
    readonly connected: boolean;
    /** Opens the connection now, also while waiting to retry, after another page took over or a block. */
    connect(): void;
    /** Closes the connection (code 1000) and stops retrying. */
    disconnect(): void;
    /** Sends "START_AUDIOMETRY"; returns the text sent. Throws CommandValidationError or NotConnectedError. */
    startAudiometry(appPath: string, patient: Patient): string;
    /** Sends "INSTALL_HELIX"; returns the text sent. Throws CommandValidationError or NotConnectedError. */
    installHelix(appPath: string): string;
    /** Sends "START_POLYSOMNO"; returns the text sent. Throws CommandValidationError or NotConnectedError. */
    startPolysomno(appPath: string, patient: Patient): string;
    sendCommand(command: CommandName, appPath: string, patient?: Patient): string;
    /**
     * Starts an exam; resolves with its own 1005 (the result whose "code" is this patient's, after its 1008). Rejects
     * with CommandFailedError (1000, 1001, 1007, 1011, 1012, 2, 100), ConnectionLostError, CommandValidationError or
     * NotConnectedError. For a folder the operator is being asked about, nothing settles until the answer (2 for
     * Block). Error frames name no command: while a command waits for the operator, send no command for another
     * folder, or its error could be taken for the waiting one's.
     */
    runAudiometry(appPath: string, patient: Patient): Promise<FrameNamed<'HELIX_RESULTS'>>;
    /** Registers the patient; resolves with 2010 (a 2011 after it is an event only), rejects as runAudiometry. */
    runPolysomno(appPath: string, patient: Patient): Promise<FrameNamed<'POLYSOMNO_STARTED'>>;
    /** Installs the audiometry application; resolves with 1009, onProgress gets each 1002's percentage. */
    runInstallation(
        appPath: string,
        onProgress?: (percent: number) => void,
    ): Promise<FrameNamed<'HELIX_SETUP_STARTED'>>;

    addEventListener<K extends keyof SanveroConnectorEventMap>(
        type: K,
        listener: (event: SanveroConnectorEventMap[K]) => void,
        options?: boolean | AddEventListenerOptions,
    ): void;
    addEventListener(
        type: string,
        listener: EventListenerOrEventListenerObject | null,
        options?: boolean | AddEventListenerOptions,
    ): void;
    removeEventListener<K extends keyof SanveroConnectorEventMap>(
        type: K,
        listener: (event: SanveroConnectorEventMap[K]) => void,
        options?: boolean | EventListenerOptions,
    ): void;
    removeEventListener(
        type: string,
        listener: EventListenerOrEventListenerObject | null,
        options?: boolean | EventListenerOptions,
    ): void;
}

export declare class ConnectionEvent extends Event {}
