// Compiles only when the client's declarations describe its use by a care application correctly.
import {
    CommandFailedError,
    CommandValidationError,
    ConnectionLostError,
    SanveroConnector,
    SocketMessage,
    decodeFrame,
    encodeCommand,
    type ExamPatient,
    type Frame,
    type Measurement,
    type Patient,
} from '../../../web/sanvero-connector.js';

const connector = new SanveroConnector({ url: 'ws://localhost:1024', backoff: { maxDelay: 5000 } });
void new SanveroConnector({ permissions: navigator.permissions });
void new SanveroConnector({ permissions: null });

connector.addEventListener('POLYSOMNO_STARTED', (event) => {
    const list: Measurement[] = event.payload.statistics;
    const first: string = event.payload.first_name;
    const isError: false = event.isError;
    void [list, first, isError];
});
connector.addEventListener('HELIX_RESULTS', (event) => {
    const text: string = event.payload.results;
    const patientCode: string = event.payload.code;
    const code: 1005 = event.code;
    void [text, patientCode, code];
});
connector.addEventListener('HELIX_EXAM_STARTED', (event) => {
    const started: ExamPatient = event.payload;
    void started;
});
for (const failure of ['HELIX_INSTALL_FAILED', 'HELIX_START_FAILED', 'POLYSOMNO_START_FAILED'] as const) {
    connector.addEventListener(failure, (event) => {
        const isError: true = event.isError;
        void isError;
    });
}
connector.addEventListener('frame', (event) => {
    const frame: Frame = event.frame;
    if (frame.name === 'HELIX_SETUP_STARTED') {
        const path: string = frame.payload.path;
        void path;
    }
});
connector.addEventListener('close', (event) => {
    const retry: number | null = event.reconnectIn;
    const blocked: boolean = event.blocked;
    void [retry, event.takenOver, blocked, event.code];
});
connector.addEventListener('statechange', (event) => {
    if (event.state === 'taken-over') connector.connect();
    if (event.state === 'blocked') connector.disconnect();
});

const patient: Patient = {
    first_name: 'Sample',
    last_name: 'Patient',
    birth_date: '07/03/1985',
    code: 'P0042',
    gender: 1,
    height: 170,
    weight: null,
    city: 'Málaga',
};
connector.startAudiometry('C:\\Helix\\', patient);
connector.startPolysomno('C:\\SomnoPanel\\', { ...patient, code: 12345 });
connector.installHelix('C:\\Helix\\');
const text: string = encodeCommand('INSTALL_HELIX', 'C:\\Helix\\');
const results: 1005 = SocketMessage.HELIX_RESULTS;
const decoded = decodeFrame(text);
try {
    encodeCommand('START_POLYSOMNO', 'C:\\SomnoPanel\\', patient);
} catch (error) {
    if (error instanceof CommandValidationError) {
        const keys: string[] = error.missingKeys;
        void keys;
    }
}
void [results, decoded];

async function examOf(record: Patient): Promise<string | null> {
    try {
        const result = await connector.runAudiometry('C:\\Helix\\', record);
        const code: 1005 = result.code;
        void code;
        return result.payload.results;
    } catch (error) {
        if (error instanceof CommandFailedError) return `failed with ${error.code} (${error.frame.name})`;
        if (error instanceof ConnectionLostError) return `connection ${error.state}`;
        return null;
    }
}
void examOf(patient);
void connector.runPolysomno('C:\\SomnoPanel\\', patient).then((frame) => frame.payload.statistics.length);
void connector.runInstallation('C:\\Helix\\', (percent: number) => void percent).then((frame) => frame.payload.path);
connector.addEventListener('close', (event) => {
    if (event.access === 'denied' || connector.state === 'local-network-denied') void event.reconnectIn;
});

// Misuse that the declarations must refuse.
// @ts-expect-error: "weight" is required
const incomplete: Patient = { first_name: '', last_name: '', birth_date: '', code: '', gender: 0, height: 0 };
// @ts-expect-error: the start commands need a patient
connector.startAudiometry('C:\\Helix\\');
// @ts-expect-error: an unknown command
encodeCommand('START_HELIX', 'C:\\Helix\\');
connector.addEventListener('HELIX_RESULTS', (event) => {
    // @ts-expect-error: the results frame has no "percent"
    void event.payload.percent;
});
// @ts-expect-error: the code must be text or a number
const withoutCode: Patient = { ...patient, code: null };
// @ts-expect-error: no such state
const state: typeof connector.state = 'open';
// @ts-expect-error: an exam resolves with its results frame, which has no "statistics"
void connector.runAudiometry('C:\\Helix\\', patient).then((frame) => frame.payload.statistics);
// @ts-expect-error: progress is a number
void connector.runInstallation('C:\\Helix\\', (percent: string) => percent);
void [incomplete, withoutCode, state];
