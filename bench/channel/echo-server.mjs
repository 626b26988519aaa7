// Reference server for the round-trip benchmark: answers every text message with the error frame for 2.
import { WebSocketServer } from 'ws';

const port = Number(process.argv[2] ?? 1025);
const frame = '{\n    "error": 2\n}\n';
const server = new WebSocketServer({ host: '127.0.0.1', port });
server.on('connection', (socket) => socket.on('message', () => socket.send(frame)));
server.on('listening', () => console.log(`listening ${port}`));
