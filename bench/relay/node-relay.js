// A minimal relay on Node's `ws` package, the server most people would reach for:
// rooms of one agent and its controllers, "msg" envelopes passed on unchanged,
// peerJoin/peerLeave to the agent. Used only as the benchmark's point of comparison.
'use strict';
const http = require('http');
const { WebSocketServer } = require('ws');

const [host, port] = (process.argv[2] || '127.0.0.1:0').split(':');
const rooms = new Map();
const server = http.createServer((req, res) => { res.writeHead(404); res.end('not found\n'); });
const wss = new WebSocketServer({ noServer: true, maxPayload: 1024 * 1024, perMessageDeflate: false });

server.on('upgrade', (req, socket, head) => {
  const url = new URL(req.url, 'http://x');
  const room = req.headers['x-wl-room'] || url.searchParams.get('room');
  const role = req.headers['x-wl-role'] || url.searchParams.get('role');
  if (!url.pathname.endsWith('/connect') || !/^[0-9a-f]{32}$/.test(room || '') || !['agent', 'controller'].includes(role)) {
    socket.end('HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n');
    return;
  }
  wss.handleUpgrade(req, socket, head, (ws) => join(ws, room, role));
});

function join(ws, id, role) {
  let room = rooms.get(id);
  if (!room) { room = { agent: null, controllers: new Set() }; rooms.set(id, room); }
  if (role === 'agent') {
    if (room.agent) room.agent.close(4000, 'replaced');
    room.agent = ws;
  } else {
    room.controllers.add(ws);
    if (room.agent) room.agent.send('{"v":1,"kind":"peerJoin","role":"controller"}');
  }
  ws.on('message', (data, isBinary) => {
    let envelope;
    try { envelope = JSON.parse(data); } catch { return; }
    if (!envelope || envelope.kind !== 'msg') return;
    if (role === 'agent') { for (const c of room.controllers) c.send(data, { binary: false }); }
    else if (room.agent) room.agent.send(data, { binary: false });
  });
  ws.on('close', () => {
    if (role === 'agent') { if (room.agent === ws) room.agent = null; }
    else { room.controllers.delete(ws); if (room.agent) room.agent.send('{"v":1,"kind":"peerLeave","role":"controller"}'); }
    if (!room.agent && room.controllers.size === 0) rooms.delete(id);
  });
}

server.listen(Number(port), host, () => {
  const address = server.address();
  process.stdout.write(`listening on ${address.address}:${address.port}\n`);
});
process.on('SIGTERM', () => process.exit(0));
