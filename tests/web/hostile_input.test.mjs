// What a hostile or broken client may send to gaugebench serve, on raw
// sockets: the server stays up, drops what it must, and keeps every other
// page at its rate.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { connect } from 'node:net';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { randomBytes } from 'node:crypto';
import { startServer, stopServer } from './serve.mjs';

const kTimeoutSeconds = 3;
let server;

// A WebSocket client written out, so that it can send what no browser would
// and stop reading at will. Counts the text messages the server sends.
class RawSocket {
  static open(port) {
    return new Promise((resolve, reject) => {
      const socket = connect(port, '127.0.0.1');
      const raw = new RawSocket(socket);
      socket.once('error', reject);
      socket.once('connect', () =>
        socket.write(`GET /ws HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nOrigin: http://127.0.0.1:${port}\r\n` +
          'Upgrade: websocket\r\nConnection: Upgrade\r\n' +
          `Sec-WebSocket-Key: ${randomBytes(16).toString('base64')}\r\nSec-WebSocket-Version: 13\r\n\r\n`));
      raw.upgraded = resolve.bind(null, raw);
    });
  }

  constructor(socket) {
    this.socket = socket;
    this.buffer = Buffer.alloc(0);
    this.texts = 0;
    this.firstText = new Promise((resolve) => { this.gotText = resolve; });
    this.ended = new Promise((resolve) => socket.once('close', () => resolve(true)));
    socket.on('error', () => {});
    socket.on('data', (chunk) => this.take(chunk));
  }

  take(chunk) {
    this.buffer = Buffer.concat([this.buffer, chunk]);
    if (this.upgraded) {
      const end = this.buffer.indexOf('\r\n\r\n');
      if (end < 0) return;
      assert.match(this.buffer.subarray(0, end).toString(), /^HTTP\/1.1 101/);
      this.buffer = this.buffer.subarray(end + 4);
      this.upgraded();
      this.upgraded = null;
    }
    for (;;) {
      if (this.buffer.length < 2) return;
      let length = this.buffer[1] & 0x7f;
      let at = 2;
      if (length === 126) [length, at] = [this.buffer.length >= 4 ? this.buffer.readUInt16BE(2) : Infinity, 4];
      else if (length === 127) [length, at] = [this.buffer.length >= 10 ? Number(this.buffer.readBigUInt64BE(2)) : Infinity, 10];
      if (this.buffer.length < at + length) return;
      const opcode = this.buffer[0] & 0x0f;
      if (opcode === 1 && ++this.texts === 1) this.gotText();
      // Pings answered, as a browser does: the server closes a socket that answers none.
      if (opcode === 9) this.socket.write(RawSocket.frame(10, this.buffer.subarray(at, at + length)));
      // Frames said drawn, as the page does: the server sends the next only then.
      if (opcode === 2) this.socket.write(RawSocket.frame(1, '{"t":"drawn"}'));
      this.buffer = this.buffer.subarray(at + length);
    }
  }

  // One masked frame (a client's frames are masked, RFC 6455).
  static frame(opcode, payload) {
    const data = Buffer.isBuffer(payload) ? payload : Buffer.from(payload);
    const mask = randomBytes(4);
    const header = data.length < 126 ? Buffer.from([0x80 | opcode, 0x80 | data.length])
      : data.length < 65536 ? Buffer.from([0x80 | opcode, 0x80 | 126, data.length >> 8, data.length & 0xff])
        : Buffer.concat([Buffer.from([0x80 | opcode, 0x80 | 127]), (() => {
          const b = Buffer.alloc(8);
          b.writeBigUInt64BE(BigInt(data.length));
          return b;
        })()]);
    const masked = Buffer.from(data);
    for (let i = 0; i < masked.length; ++i) masked[i] ^= mask[i & 3];
    return Buffer.concat([header, mask, masked]);
  }

  send(...messages) {
    this.socket.write(Buffer.concat(messages.map((m) => (Buffer.isBuffer(m) ? RawSocket.frame(2, m) : RawSocket.frame(1, m)))));
  }

  close() {
    this.socket.destroy();
  }
}

// A page that stops reading, with a 4 kB receive buffer so that the
// server's writes to it soon block (a socket of Node's would take megabytes
// first). Python: Node cannot size a TCP receive buffer. Reads again, to
// the end of the stream, once its stdin closes; prints whether the server
// had closed it.
const kStuckClient = `
import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
s.connect(("127.0.0.1", int(sys.argv[1])))
s.sendall(b"GET /ws HTTP/1.1\\r\\nHost: 127.0.0.1\\r\\nOrigin: http://127.0.0.1\\r\\n"
          b"Upgrade: websocket\\r\\nConnection: Upgrade\\r\\n"
          b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\\r\\nSec-WebSocket-Version: 13\\r\\n\\r\\n")
head = b""
while b"\\r\\n\\r\\n" not in head:
    head += s.recv(1)
print("up", flush=True)
sys.stdin.read()
s.settimeout(5)
try:
    while s.recv(65536):
        pass
    print("closed", flush=True)
except (socket.timeout, OSError):
    print("open", flush=True)
`;

async function stuckClient(port) {
  const child = spawn('python3', ['-c', kStuckClient, String(port)], { stdio: ['pipe', 'pipe', 'inherit'] });
  let said = '';
  child.stdout.on('data', (chunk) => { said += chunk; });
  while (!said.includes('up')) await once(child.stdout, 'data');
  return {
    socket: { resume: () => child.stdin.end() },
    ended: once(child, 'exit').then(() => said.includes('closed')),
    close: () => child.kill(),
  };
}

// Statuses a well-behaved page receives in `ms` (one per picture sent).
async function statusesIn(ms) {
  const page = await RawSocket.open(server.port);
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const start = page.texts;
  await new Promise((resolve) => setTimeout(resolve, ms));
  const count = page.texts - start;
  page.close();
  return count;
}

const json = (value) => JSON.stringify(value);
const nonsense = [
  'not json at all', '{"t":', 'null', '[]', '"press"', '17', json({ t: 5 }), json({ t: 'jump' }), json({}),
  json({ t: 'press', x: '10', y: 10 }), json({ t: 'press', x: 10 }), json({ t: 'move', x: null, y: [] }),
  json({ t: 'key', event: -1 }), json({ t: 'key', event: 2 ** 32 }), json({ t: 'key', event: 1.5 }),
  json({ t: 'key', event: '66658' }), '{"t":"press","x":NaN,"y":Infinity}', '{"t":"key","event":66658,"t":7}',
  '\u0000\uffff', Buffer.from([0xff, 0xfe, 0xc0, 0x80]).toString('latin1'),
];
const ends = [2 ** 31 - 1, -(2 ** 31), 2 ** 31, -(2 ** 31) - 1, 2 ** 32, 1e300, -1e300, 5e-324, -0];

// Each row: what a client does, and whether the server must close its socket
// (`closedWithin` seconds; a client that stops reading is seen only once it
// reads again) rather than keep serving it.
const rows = [
  { what: 'text that is no message of the page', act: (c) => c.send(...nonsense) },
  { what: 'coordinates at the ends of the 32-bit range and past them', act: (c) => {
    for (const x of ends) for (const y of [0, ...ends]) c.send(json({ t: 'press', x, y }), json({ t: 'move', x: y, y: x }));
    c.send(json({ t: 'release' }));
  } },
  { what: 'a huge string', closedWithin: 0, act: (c) => c.send(json({ t: 'press', x: 1, y: 1, pad: 'x'.repeat(8 << 20) }), json({ t: 'release' })) },
  { what: 'binary frames', act: (c) => c.send(randomBytes(100), randomBytes(70_000), Buffer.alloc(0)) },
  { what: 'a flood of 10,000 messages at once', act: (c) => {
    const flood = [];
    for (let i = 0; i < 10_000; ++i) flood.push(json(i % 3 === 2 ? { t: 'release' } : { t: i % 3 ? 'move' : 'press', x: i % 1880, y: i % 900 }));
    c.send(...flood);
  } },
  { what: 'a client that stops reading', closedWithin: 3 * kTimeoutSeconds, open: stuckClient },
];

let alone;

before(async () => {
  server = await startServer(['--client-timeout', String(kTimeoutSeconds)]);
  alone = await statusesIn(3000);
  assert.ok(alone > 0, 'a page alone gets statuses');
});

after(async () => {
  if (server) await stopServer(server);
});

for (const row of rows) {
  test(row.what, async () => {
    const hostile = await (row.open ?? RawSocket.open)(server.port);
    row.act?.(hostile);
    const others = await statusesIn(3000);
    assert.equal(server.child.exitCode, null, 'the server is up');
    assert.ok(others >= 0.6 * alone, `another page got ${others} statuses in 3 s, ${alone} alone`);
    if (row.closedWithin !== undefined) {
      await new Promise((resolve) => setTimeout(resolve, row.closedWithin * 1000));
      hostile.socket.resume();
      const closed = await Promise.race([hostile.ended,
        new Promise((resolve) => setTimeout(() => resolve(false), 7000))]);
      assert.ok(closed, 'the server closed the client');
    }
    hostile.close();
  });
}

// Connections that hold a socket and send nothing (or half a request head),
// and idle pages that answer pings as a browser tab does, must not keep a
// new page out: it loads and gets its layout at once.
test('silent connections and idle pages leave room for a new page', async (t) => {
  const silent = await Promise.all(Array.from({ length: 200 }, (_, i) => new Promise((resolve) => {
    const socket = connect(server.port, '127.0.0.1');
    socket.on('error', () => {});
    socket.once('connect', () => {
      if (i % 2) socket.write('GET / HTTP/1.1\r\nX-Slow: ');
      resolve(socket);
    });
    socket.once('close', () => resolve(socket));
  })));
  const idle = await Promise.all(Array.from({ length: 16 }, () => RawSocket.open(server.port)));
  const start = Date.now();
  const [page, index] = await Promise.all([
    RawSocket.open(server.port).then(async (raw) => { await raw.firstText; return raw; }),
    fetch(`http://127.0.0.1:${server.port}/`, { signal: AbortSignal.timeout(2000) }),
  ]);
  const took = Date.now() - start;
  assert.equal(index.status, 200);
  assert.match(await index.text(), /<canvas/i);
  t.diagnostic(`a new page: ${took} ms`);
  assert.ok(took < 2000, `a new page took ${took} ms`);
  for (const socket of [...silent, ...idle, page]) (socket.socket ?? socket).destroy();
});
