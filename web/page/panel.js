// The live panel: pictures from the server's WebSocket onto the canvas, the
// pointer and keys back to it (protocol in web/server.h).
'use strict';

const kBombReleased = 66658;
const kReleaseSequenceStart = 66587;
const kDragFlag = 1 << 23;
// The records' cursor field: 5 is the hand (a grabbing hand over a lever),
// 1 the arrow; -1 leaves the panel's own.
const kCursors = { 1: 'default', 5: 'pointer' };

const canvas = document.getElementById('panel');
const context = canvas.getContext('2d');
const statusLine = document.getElementById('status');
const errorLine = document.getElementById('error');
const flyButton = document.getElementById('fly');
const marks = document.getElementById('marks');

// What the tests read: frames drawn, statuses received (one per update sent,
// changed or not), the latest status, the layout, the connection, and a
// promise for the frames still decoding.
const live = { frames: 0, statuses: 0, status: null, layout: null, connected: false, settled: () => drawing };
window.live = live;

let socket = null;
let held = false;
let drawing = Promise.resolve();

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
}

function showError(text) {
  errorLine.hidden = !text;
  errorLine.textContent = text || '';
}

// A mark over every gauge the server took out after a fault in its module.
let marked = '';
function markFaults(faults) {
  const names = (faults || []).map((fault) => fault.gauge);
  const key = names.join('\n');
  if (key === marked || !live.layout) return;
  marked = key;
  marks.replaceChildren();
  const { width, height } = live.layout;
  for (const gauge of live.layout.gauges) {
    if (!names.includes(gauge.name)) continue;
    const mark = document.createElement('div');
    mark.className = 'failed';
    mark.style.left = `${(100 * gauge.left) / width}%`;
    mark.style.top = `${(100 * gauge.top) / height}%`;
    mark.style.width = `${(100 * (gauge.right - gauge.left)) / width}%`;
    mark.style.height = `${(100 * (gauge.bottom - gauge.top)) / height}%`;
    const label = document.createElement('span');
    label.textContent = 'failed';
    mark.append(label);
    marks.append(mark);
  }
}

function showStatus(status) {
  live.status = status;
  live.statuses += 1;
  showError(status.error);
  markFaults(status.faults);
  if (status.rpm === undefined) return;
  const seconds = status.time;
  const clock = `${Math.floor(seconds / 60)}:${(seconds % 60).toFixed(1).padStart(4, '0')}`;
  const state = status.paused ? 'paused' : status.flight === 'flying' ? 'flying the script' : 'running';
  const flight = status.flight === 'none' ? '' : `  model: ${status.flight}`;
  const engines = status.rpm
    .map((rpm, i) => `${rpm}${status.running[i] ? '' : ' (stopped)'} ${status.manifold_inhg[i].toFixed(1)} inHg`)
    .join(' / ');
  statusLine.textContent = `${state}  t ${clock}  rpm ${engines}  key events ${status.events}` +
    ` (last ${status.last_event})  ${Math.round(status.rate * 100)}% of real time` +
    `  ${status.pictures} pictures/s${flight}`;
  flyButton.hidden = status.flight === 'none';
  flyButton.textContent = status.flight === 'flying' ? 'Restart the flight' : 'Fly again';
}

function drawFrame(buffer) {
  const view = new DataView(buffer);
  const count = view.getUint32(0, true);
  const parts = [];
  let at = 4;
  for (let i = 0; i < count; ++i) {
    const [x, y, , , length] = [0, 4, 8, 12, 16].map((o) => view.getUint32(at + o, true));
    at += 20;
    parts.push({ x, y, png: new Blob([new Uint8Array(buffer, at, length)], { type: 'image/png' }) });
    at += length;
  }
  // Frames land in the order they came, whatever each takes to decode.
  drawing = drawing.then(async () => {
    const bitmaps = await Promise.all(parts.map((part) => createImageBitmap(part.png)));
    bitmaps.forEach((bitmap, i) => {
      context.drawImage(bitmap, parts[i].x, parts[i].y);
      bitmap.close();
    });
    live.frames += 1;
  }).catch((error) => showError(`a frame did not decode: ${error}`));
}

function connect() {
  socket = new WebSocket(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/ws`);
  socket.binaryType = 'arraybuffer';
  socket.onopen = () => { live.connected = true; showError(''); };
  socket.onmessage = (event) => {
    if (typeof event.data !== 'string') return drawFrame(event.data);
    const message = JSON.parse(event.data);
    if (message.type === 'layout') {
      live.layout = message;
      marked = null;
      canvas.width = message.width;
      canvas.height = message.height;
    } else if (message.type === 'status') {
      showStatus(message);
    }
  };
  socket.onclose = () => {
    const was = live.connected;
    live.connected = false;
    held = false;
    statusLine.textContent = 'no connection';
    showError(was ? 'The server stopped; reconnecting…' : 'No server; trying again…');
    setTimeout(connect, 1000);
  };
}

// Client coordinates to panel pixels, whatever the zoom and pixel ratio.
function panelPoint(event) {
  const box = canvas.getBoundingClientRect();
  return {
    x: ((event.clientX - box.left) * canvas.width) / box.width,
    y: ((event.clientY - box.top) * canvas.height) / box.height,
  };
}

const inside = (b, p) => p.x >= b.left && p.x < b.right && p.y >= b.top && p.y < b.bottom;

// The box under the point as the host routes it: the top gauge, its first
// child box holding the point; the help of that child or else of the
// innermost parent around the point: the help id's text, or the id itself
// where the host knows no text for it.
const helpOf = (b) => b.help_text || (b.help ? `help id ${b.help}` : '');

function boxAt(point) {
  if (!live.layout) return null;
  const gauges = live.layout.gauges;
  for (let g = gauges.length - 1; g >= 0; --g) {
    const gauge = gauges[g];
    if (!inside(gauge, point)) continue;
    const child = gauge.boxes.find((b) => b.child && inside(b, point)) || null;
    let help = child ? helpOf(child) : '';
    if (!help) {
      for (const b of gauge.boxes) if (!b.child && helpOf(b) && inside(b, point)) help = helpOf(b);
    }
    return { gauge, child, help };
  }
  return null;
}

function cursorFor(hit) {
  if (!hit || !hit.child) return 'default';
  const shape = kCursors[hit.child.cursor] || 'default';
  if (shape === 'pointer' && hit.child.flags & kDragFlag) return held ? 'grabbing' : 'grab';
  return shape;
}

canvas.addEventListener('pointerdown', (event) => {
  if (event.button !== 0) return;
  canvas.setPointerCapture(event.pointerId);
  held = true;
  send({ t: 'press', ...panelPoint(event) });
  canvas.style.cursor = cursorFor(boxAt(panelPoint(event)));
});
canvas.addEventListener('pointermove', (event) => {
  const point = panelPoint(event);
  if (held) send({ t: 'move', ...point });
  const hit = boxAt(point);
  canvas.style.cursor = cursorFor(hit);
  canvas.title = hit && hit.help ? `${hit.gauge.name}: ${hit.help}` : '';
});
const letGo = () => {
  if (!held) return;
  held = false;
  send({ t: 'release' });
};
canvas.addEventListener('pointerup', letGo);
canvas.addEventListener('pointercancel', letGo);
canvas.addEventListener('lostpointercapture', letGo);

document.addEventListener('keydown', (event) => {
  if (event.repeat || event.ctrlKey || event.altKey || event.metaKey) return;
  const key = event.key.toLowerCase();
  if (key === 'b') send({ t: 'key', event: kBombReleased });
  else if (key === 'q') send({ t: 'key', event: kReleaseSequenceStart });
  else if (key === 'p') send({ t: 'pause' });
  else if (key === 'r' && event.shiftKey) send({ t: 'reset' });
  else if (key === 'f') send({ t: 'fly' });
  else if (key === 'escape') letGo();
  else return;
  event.preventDefault();
});
document.getElementById('pause').onclick = () => send({ t: 'pause' });
document.getElementById('reset').onclick = () => send({ t: 'reset' });
flyButton.onclick = () => send({ t: 'fly' });

connect();
