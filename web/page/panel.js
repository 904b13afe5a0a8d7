// The live panel: pictures from the server's WebSocket onto the canvas, the
// pointer and keys back to it (protocol in web/server.h).
'use strict';


const canvas = document.getElementById('panel');
const context = canvas.getContext('2d');
const statusLine = document.getElementById('status');
const errorLine = document.getElementById('error');
const flyButton = document.getElementById('fly');
const marks = document.getElementById('marks');
const pointerLine = document.getElementById('pointer');
const callsList = document.getElementById('calls');
const recordButton = document.getElementById('record');
const recorded = document.getElementById('recorded');

// What the tests read: frames drawn, statuses received (one per update sent,
// changed or not), the latest status, the layout, the connection, and a
// promise for the frames still decoding.
const live = {
  frames: 0, statuses: 0, status: null, layout: null, connected: false, settled: () => drawing,
  pointer: null, recording: null,
  // Called with each message from the server, after the page took it (editor.js).
  listeners: [],
};
window.live = live;

let socket = null;
let held = false;
let drawing = Promise.resolve();

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
}

// Text set only when it changes: a status comes with every update, and text
// set anew, even the same, is laid out and painted anew on every page.
function setText(element, text) {
  if (element.textContent !== text) element.textContent = text;
}

// A window asked for that the panel lacks is said beside whatever else is wrong.
let windowNote = '';
function showError(text) {
  const shown = [text, windowNote].filter(Boolean).join('\n');
  errorLine.hidden = !shown;
  setText(errorLine, shown);
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

// The flight strip: each figure as the pilot reads it, in the unit the
// layout gives (the dials' own); those the model alone knows only with one.
const figuresLine = document.getElementById('figures');
const signed = (value, digits = 0) => `${value > 0 ? '+' : ''}${value.toFixed(digits)}`;
const perEngine = (values, format) => values.map(format).join(' ');
const leverText = (percent) => (percent < 0.5 ? 'up' : percent > 99.5 ? 'down' : `${Math.round(percent)}%`);
const kStrip = [
  ['airspeed', 'IAS', 'indicated airspeed', (f) => Math.round(f.airspeed)],
  ['altitude', 'ALT', 'altimeter', (f) => Math.round(f.altitude)],
  ['height', 'HGT', 'height above the ground', (f) => (f.on_ground ? 'on the ground' : Math.round(f.height))],
  ['heading', 'HDG', 'heading', (f) => String(Math.round(f.heading) % 360).padStart(3, '0')],
  ['vertical_speed', 'CLIMB', 'rate of climb', (f) => signed(Math.round(f.vertical_speed / 10) * 10)],
  ['pitch', 'PITCH', 'pitch, nose up positive', (f) => signed(f.pitch, 1)],
  ['bank', 'BANK', 'bank', (f) => `${Math.abs(f.bank).toFixed(1)}°${f.bank > 0.05 ? ' L' : f.bank < -0.05 ? ' R' : ''}`],
  ['normal_acceleration', 'G', 'normal acceleration, pressing into the seat positive',
    (f) => f.normal_acceleration.toFixed(1)],
  ['flaps', 'FLAPS', 'flaps', (f) => leverText(f.flaps)],
  ['undercarriage.port', 'GEAR', 'undercarriage', (f) => leverText(f['undercarriage.port'])],
  ['trim', 'TRIM', 'trim tabs: elevator (+ nose down, Page Up/Down), rudder (+ right, , and .)', (f) =>
    (f.trim ? `E ${signed(Math.round(f.trim.elevator * 100))}% R ${signed(Math.round(f.trim.rudder * 100))}%` : '—')],
  ['throttle', 'THR', 'throttles, engines 1 to 4', (f) => perEngine(f.throttle, (t) => Math.round(t))],
  ['boost', 'BOOST', 'boost, engines 1 to 4', (f) => perEngine(f.boost, (b) => signed(b, 1))],
  ['rpm', 'RPM', 'engine speed, engines 1 to 4', (f, status) =>
    perEngine(status.rpm, (rpm, i) => (status.running[i] ? rpm : `${rpm}(stopped)`))],
  ['oil_temperature', 'OIL', 'oil temperature, engines 1 to 4: the warm-up waits for it',
    (f) => perEngine(f.oil_temperature, (t) => Math.round(t))],
  ['radiator_temperature', 'COOL', 'coolant temperature, engines 1 to 4: the warm-up waits for it',
    (f) => perEngine(f.radiator_temperature, (t) => Math.round(t))],
];
const stripCells = new Map();
function showFigures(status) {
  const figures = { ...status.figures, trim: status.trim };
  const units = { ...live.layout?.units, rpm: '', trim: '', flaps: '', 'undercarriage.port': '', bank: '' };
  for (const [name, label, title, format] of kStrip) {
    let cell = stripCells.get(name);
    if (!cell) {
      cell = document.createElement('span');
      cell.title = title;
      cell.dataset.figure = name;
      cell.append(Object.assign(document.createElement('b'), { textContent: label }), document.createElement('output'));
      figuresLine.append(cell);
      stripCells.set(name, cell);
    }
    cell.hidden = figures[name] === undefined && name !== 'rpm';
    if (cell.hidden) continue;
    const unit = !units[name] ? '' : units[name] === '°' || units[name] === '%' ? units[name] : ` ${units[name]}`;
    const text = `${format(figures, status)}${name === 'height' && figures.on_ground ? '' : unit}`;
    setText(cell.lastChild, text);
  }
}

// The engines' rule, as the help and the README state it: below 40 °C of
// oil an engine is too cold for more than +4 lbs/sq.in of boost, and the
// model makes it misfire.
const kColdOil = 40;
const kColdBoostLimit = 4;
function coldEngines(figures) {
  const cold = [];
  for (let i = 0; i < (figures.oil_temperature?.length ?? 0); i++) {
    const oil = figures.oil_temperature[i];
    if (oil < kColdOil && figures.boost?.[i] > kColdBoostLimit) cold.push(`${i + 1} (oil ${Math.round(oil)} °C)`);
  }
  return cold;
}

// The stall's warning: the model's buffet (0 none, 1 the stall) shakes the
// panel by up to 3 px and rumbles, louder as it grows; the line under the
// panel names it, as it names engines run hard cold.
const warningLine = document.getElementById('warning');
let rumble = null;
function buffetSound(level) {
  if (!rumble && level > 0 && window.AudioContext) {
    try {
      const context = new AudioContext();
      const noise = context.createBuffer(1, context.sampleRate, context.sampleRate);
      const samples = noise.getChannelData(0);
      for (let i = 0; i < samples.length; i++) samples[i] = Math.random() * 2 - 1;
      const source = Object.assign(context.createBufferSource(), { buffer: noise, loop: true });
      const low = Object.assign(context.createBiquadFilter(), { type: 'lowpass' });
      low.frequency.value = 60;
      const gain = context.createGain();
      gain.gain.value = 0;
      source.connect(low).connect(gain).connect(context.destination);
      source.start();
      rumble = { context, gain };
    } catch { return; } // no sound on this page: the picture still shakes
  }
  if (!rumble) return;
  // A browser keeps sound made without a key or click suspended until one.
  if (level > 0 && rumble.context.state === 'suspended') rumble.context.resume().catch(() => {});
  rumble.gain.gain.setTargetAtTime(0.6 * level, rumble.context.currentTime, 0.05);
}
function showWarnings(status) {
  const buffet = status.crashed || status.paused ? 0 : (status.buffet ?? 0);
  const shake = () => `translate(${((Math.random() * 2 - 1) * 3 * buffet).toFixed(1)}px, ` +
    `${((Math.random() * 2 - 1) * 3 * buffet).toFixed(1)}px)`;
  stage.style.transform = buffet > 0 ? shake() : '';
  buffetSound(buffet);
  const warnings = [];
  if (buffet > 0) warnings.push(buffet >= 1 ? 'STALL: buffeting, ease the stick forward' : 'buffet: near the stall');
  const cold = coldEngines(status.figures ?? {});
  if (cold.length) warnings.push(`engine ${cold.join(', ')} too cold for more than +${kColdBoostLimit} boost, misfiring: ` +
    `warm the oil to ${kColdOil} °C first`);
  warningLine.hidden = warnings.length === 0;
  setText(warningLine, warnings.join(' · '));
}

// What flies the panel, as the pilot would say it.
function stateText(status) {
  if (status.paused) return 'paused';
  if (status.crashed) return 'crashed';
  switch (status.flight) {
    case 'flying': return status.hands ? 'hand-flying' : 'flying the script';
    case 'ended': return status.hands ? 'hand-flying, the script ended' : 'the script ended';
    case 'failed': return 'the flight model failed';
    default: return 'running';
  }
}

// Flying controls and keys only where a flight model takes them.
let modelled = null;
function showFlying(flies) {
  if (flies === modelled) return;
  modelled = flies;
  controlsCanvas.hidden = !flies;
  drawControls(live.controls);
  flyButton.hidden = !flies;
  for (const part of document.querySelectorAll('.flying')) part.hidden = !flies;
}

function showStatus(status) {
  live.status = status;
  live.statuses += 1;
  showError(status.error ?? status.crashed);
  markFaults(status.faults);
  if (status.debugger) {
    statusLine.textContent = `${status.debugger}: the panel and its clock wait for the debugger`;
    return;
  }
  // A panel that stopped sends its error alone: the line says so rather
  // than what ran before (a flight long gone).
  if (status.rpm === undefined) {
    setText(statusLine, 'the panel stopped: Reset makes it anew');
    return;
  }
  // The clock to the second: the line changes once a second, not with every update.
  const seconds = Math.floor(status.time);
  const clock = `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;
  const last = status.last_event ? ` · last key event ${status.last_event}` : '';
  // A simulator beside the panel: the link as it is (live, its rate, or silent).
  const simulator = status.feed ? ` · simulator ${status.feed.text}` : '';
  setText(statusLine,
    `${stateText(status)}${status.night ? ', night' : ''} · ${clock} · bombs ${status.bombs} ${last}${simulator}`);
  // The server's own figures, for whoever asks.
  const figures = `${status.events} key events from the page · ${Math.round(status.rate * 100)}% of real time · ` +
    `${status.pictures} pictures/s · flight model: ${status.flight}`;
  if (statusLine.title !== figures) statusLine.title = figures;
  showFlying(status.flight !== 'none' || Boolean(status.feed?.controls));
  showFigures(status);
  showWarnings(status);
  setText(flyButton, status.flight === 'flying' ? 'Restart the flight' : 'Fly again');
}

// A frame's parts: each either PNG (format 0) or the pixels themselves as
// straight RGBA (format 1), which need no decoding.
const kPng = 0;
let decoding = 0;

// The frames after a lost one would change a picture the page no longer
// shows: a new connection starts from a whole one.
function lost(why) {
  showError(`${why}; reconnecting`);
  socket?.close();
}

function drawFrame(buffer) {
  const view = new DataView(buffer);
  const count = view.getUint32(0, true);
  const parts = [];
  let at = 4;
  for (let i = 0; i < count; ++i) {
    const [x, y, width, height, format, length] = [0, 4, 8, 12, 16, 20].map((o) => view.getUint32(at + o, true));
    at += 24;
    parts.push(format === kPng
      ? { x, y, png: new Blob([new Uint8Array(buffer, at, length)], { type: 'image/png' }) }
      : { x, y, pixels: new ImageData(new Uint8ClampedArray(buffer, at, length), width, height) });
    at += length;
  }
  const draw = (bitmaps) => {
    parts.forEach((part, i) => {
      if (part.pixels) context.putImageData(part.pixels, part.x, part.y);
      else {
        context.drawImage(bitmaps[i], part.x, part.y);
        bitmaps[i].close();
      }
    });
    live.frames += 1;
    send({ t: 'drawn' });
  };
  // Pixels that need no decoding are drawn at once, unless an earlier frame
  // is still decoding: frames land in the order they came.
  if (decoding === 0 && parts.every((part) => part.pixels)) return draw([]);
  decoding += 1;
  drawing = drawing
    .then(async () => draw(await Promise.all(parts.map((part) => part.png && createImageBitmap(part.png)))))
    .catch((error) => lost(`a frame did not decode: ${error}`))
    .finally(() => { decoding -= 1; });
}

// The picture is drawn for this page's device pixels: the page says how
// many it has to a CSS pixel, again whenever that changes (another screen,
// a zoom), and the server draws at the finest ratio of the pages open.
let ratioWatch = null;
function sendRatio() {
  const ratio = window.devicePixelRatio || 1;
  send({ t: 'ratio', ratio });
  ratioWatch?.removeEventListener('change', sendRatio);
  ratioWatch = matchMedia(`(resolution: ${ratio}dppx)`);
  ratioWatch.addEventListener('change', sendRatio);
  if (modelled) drawControls(live.controls);
}

function connect() {
  socket = new WebSocket(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/ws`);
  socket.binaryType = 'arraybuffer';
  socket.onopen = () => {
    live.connected = true;
    showError('');
    sendRatio();
  };
  socket.onmessage = (event) => {
    if (typeof event.data !== 'string') {
      try {
        drawFrame(event.data);
      } catch (error) {
        lost(`a frame could not be drawn: ${error}`);
      }
      return;
    }
    const message = JSON.parse(event.data);
    if (message.type === 'layout') {
      live.layout = message;
      marked = null;
      canvas.width = message.width;
      canvas.height = message.height;
      showWindows();
      fit();
    } else if (message.type === 'status') {
      showStatus(message);
    } else if (message.type === 'pointer') {
      showPointer(message);
    }
    for (const listener of live.listeners) listener(message);
  };
  socket.onclose = () => {
    const was = live.connected;
    live.connected = false;
    held = false;
    asking = false;
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

// What lies under the pointer comes from the host's own hit test: the page
// asks, one question at a time, and shows the answer (cursor, tooltip, and
// the gauge, element and bitmap pixel in the line under the panel).
let asking = false;
let nextQuestion = null;
function ask(point) {
  nextQuestion = point;
  if (asking || !nextQuestion) return;
  asking = true;
  send({ t: 'pointer', x: nextQuestion.x, y: nextQuestion.y });
  nextQuestion = null;
}

function cursorFor(box) {
  if (!box || !live.layout) return 'default';
  const shape = live.layout.cursors[box.cursor] || 'default';
  if (shape === 'pointer' && box.flags & live.layout.drag_flag) return held ? 'grabbing' : 'grab';
  return shape;
}

// One service a traced call made, as short as it reads: the variable and
// what the module received, the event and its value, else the service.
function serviceText(service) {
  if (service.failure) return `failure ${service.failure}${service.failed ? ' FAILED' : ''}`;
  const name = service.variable || (service.token !== undefined ? `token ${service.token}` : null);
  if (name) return `${service.service} ${name}=${service.reads || service.value}`;
  if (service.event || service.event_id !== undefined) {
    return `${service.service} ${service.event || service.event_id} ${service.value}`;
  }
  return service.service;
}

// The gauge's latest calls into its module's code, newest last.
function callsText(calls) {
  return (calls || []).map((call) => {
    const instructions = call.instructions !== undefined ? ` ${call.instructions} instr` : '';
    const services = call.services.map(serviceText).join(', ');
    return `${call.callback}${instructions}${services ? ': ' + services : ''}`;
  }).join('\n');
}

function showPointer(answer) {
  asking = false;
  live.pointer = answer;
  const box = answer.box || null;
  canvas.style.cursor = cursorFor(box);
  canvas.title = answer.help ? `${answer.gauge}: ${answer.help}` : '';
  callsList.textContent = answer.gauge ? callsText(answer.calls) : '';
  callsList.hidden = !callsList.textContent;
  if (!answer.gauge) {
    setText(pointerLine, '');
    pointerLine.title = '';
  } else {
    // The pilot's words (the server's: control_words.h); the records' own
    // detail as the line's tooltip, and as the line itself while the layout
    // is edited.
    const element = answer.element
      ? `element ${answer.element.index} (${answer.element.kind}, bitmap ${answer.element.bitmap})` : 'no element';
    const records = `${answer.gauge}  ${element}  pixel ${answer.pixel[0]}, ${answer.pixel[1]}` +
      (box ? `  box ${box.record}` : '') + (answer.help ? `  "${answer.help}"` : '');
    const { name, state } = answer.control ?? { name: answer.gauge, state: '' };
    setText(pointerLine, document.body.classList.contains('editing') ? records : state ? `${name}: ${state}` : name);
    pointerLine.title = records;
  }
  ask(nextQuestion);
}

// The gauge under a panel point and the point in its background bitmap's
// pixels, as scenarios name them.
function gaugePoint(point) {
  if (!live.layout) return null;
  const gauges = live.layout.gauges;
  for (let g = gauges.length - 1; g >= 0; --g) {
    const gauge = gauges[g];
    if (point.x < gauge.left || point.x >= gauge.right || point.y < gauge.top || point.y >= gauge.bottom) continue;
    return {
      gauge: gauge.name,
      x: Math.floor((point.x - gauge.left) / gauge.scale_x),
      y: Math.floor((point.y - gauge.top) / gauge.scale_y),
    };
  }
  return null;
}

// Recording: the user's clicks, holds and drags as scenario lines, with the
// updates between them, to copy into a scenario (docs/scenarios.md).
// The panel's update rate, as the server says it in every status.
const updatesPerSecond = () => (live.status && live.status.updates_per_second) || 0;
const now = () => (live.status && typeof live.status.time === 'number' ? live.status.time : 0);
function noteLine(line, started, ended) {
  const recording = live.recording;
  const gap = Math.round((started - recording.time) * updatesPerSecond());
  if (gap > 0) recording.lines.push(`update ${gap}`);
  recording.lines.push(line);
  recording.time = ended;
  recorded.value = recording.lines.join('\n');
}
let pressed = null;
function recordPress(point) {
  if (!live.recording) return;
  const at = gaugePoint(point);
  pressed = at ? { at, time: now(), moved: null } : null;
}
function recordMove(point) {
  if (!pressed) return;
  const at = gaugePoint(point);
  if (at && at.gauge === pressed.at.gauge && Math.hypot(at.x - pressed.at.x, at.y - pressed.at.y) > 3) pressed.moved = at;
}
function recordRelease() {
  if (!pressed || !live.recording) return;
  const { at, time, moved } = pressed;
  pressed = null;
  const updates = Math.round((now() - time) * updatesPerSecond());
  if (moved) noteLine(`drag ${at.gauge} ${at.x} ${at.y} to ${moved.x} ${moved.y}`, time, time);
  else if (updates >= updatesPerSecond() / 2 && updates > 0) noteLine(`hold ${at.gauge} ${at.x} ${at.y} for ${updates}`, time, now());
  else noteLine(`click ${at.gauge} ${at.x} ${at.y}`, time, time);
}
recordButton.onclick = () => {
  if (live.recording) {
    live.recording = null;
    recordButton.textContent = 'Record';
    recorded.hidden = !recorded.value; // kept to copy, unless nothing was recorded
    return;
  }
  live.recording = { lines: [], time: now() };
  recorded.hidden = false;
  recorded.value = '';
  recordButton.textContent = 'Stop recording';
};

canvas.addEventListener('pointerdown', (event) => {
  if (event.button !== 0) return;
  canvas.setPointerCapture(event.pointerId);
  held = true;
  const point = panelPoint(event);
  send({ t: 'press', ...point });
  recordPress(point);
  ask(point);
});
canvas.addEventListener('pointermove', (event) => {
  const point = panelPoint(event);
  if (held) {
    send({ t: 'move', ...point });
    recordMove(point);
  }
  ask(point);
});
const letGo = () => {
  if (!held) return;
  held = false;
  send({ t: 'release' });
  recordRelease();
};
canvas.addEventListener('pointerup', letGo);
canvas.addEventListener('pointercancel', letGo);
canvas.addEventListener('lostpointercapture', letGo);

// The part of the panel this page shows: the whole, or one of its windows
// (/?window=00, or the chooser), so that each screen of a cockpit shows its
// own window at its own scale, every page in step with the one simulation.
const windowChoice = document.getElementById('window-choice');
let chosenWindow = new URLSearchParams(location.search).get('window');
function shownPart() {
  const windows = live.layout?.windows ?? [];
  const chosen = chosenWindow === null ? null : windows.find((w) => w.id === chosenWindow);
  live.view = chosen ? { window: chosen.id, ...chosen } : { window: null, left: 0, top: 0, right: canvas.width, bottom: canvas.height };
  return live.view;
}
function showWindows() {
  const windows = live.layout.windows ?? [];
  const known = chosenWindow === null || windows.some((w) => w.id === chosenWindow);
  windowNote = known ? '' : `This panel has no window ${chosenWindow} (it has ${windows.map((w) => w.id).join(', ')}): ` +
    'the whole panel is shown.';
  windowChoice.replaceChildren(new Option('Whole panel', ''),
    ...windows.map((w) => new Option(`Window ${w.id}: ${w.title}`, w.id)));
  windowChoice.value = known && chosenWindow !== null ? chosenWindow : '';
  windowChoice.hidden = windows.length < 2 && chosenWindow === null;
}
windowChoice.onchange = () => {
  chosenWindow = windowChoice.value || null;
  const address = new URL(location.href);
  if (chosenWindow === null) address.searchParams.delete('window');
  else address.searchParams.set('window', chosenWindow);
  history.replaceState(null, '', address);
  windowNote = '';
  fit();
};

// The part shown as large as the window leaves it, its proportions kept.
const stage = document.getElementById('stage');
const mainArea = document.querySelector('main');
const pointerHeight = () => pointerLine.offsetHeight;
function fit() {
  const style = getComputedStyle(mainArea);
  const room = {
    width: mainArea.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight),
    height: mainArea.clientHeight - parseFloat(style.paddingTop) - parseFloat(style.paddingBottom) - pointerHeight(),
  };
  const part = shownPart();
  const width = part.right - part.left;
  const height = part.bottom - part.top;
  const scale = Math.max(0, Math.min(room.width / width, room.height / height));
  stage.style.width = `${width * scale}px`;
  stage.style.height = `${height * scale}px`;
  for (const layer of [canvas, marks]) {
    Object.assign(layer.style, { left: `${-part.left * scale}px`, top: `${-part.top * scale}px`,
      width: `${canvas.width * scale}px`, height: `${canvas.height * scale}px` });
  }
}
// The bars above it change height as their lines wrap or the strip shows.
const resized = new ResizeObserver(fit);
for (const part of ['header', '#strip', 'main']) resized.observe(document.querySelector(part));

// The flight figures, shown or hidden as the pilot last left them.
const strip = document.getElementById('strip');
function showStrip(shown) {
  strip.hidden = !shown;
  try {
    localStorage.setItem('strip', shown ? 'shown' : 'hidden');
  } catch { /* storage refused: shown for this page only */ }
}
showStrip((() => { try { return localStorage.getItem('strip') !== 'hidden'; } catch { return true; } })());
document.getElementById('strip-button').onclick = () => showStrip(strip.hidden);

const help = document.getElementById('help');
const toggleHelp = () => (help.open ? help.close() : help.showModal());
document.getElementById('help-button').onclick = toggleHelp;

document.addEventListener('keydown', (event) => {
  if (event.ctrlKey || event.altKey || event.metaKey) return;
  if (event.key === '?') {
    toggleHelp();
    event.preventDefault();
    return;
  }
  if (help.open) return;
  const key = event.key.toLowerCase();
  if (flightKeyDown(key, event.repeat)) {
    event.preventDefault();
    return;
  }
  if (event.repeat) return;
  const bound = live.layout && live.layout.keys.find((k) => k.key === key);
  if (bound) send({ t: 'key', event: bound.event });
  else if (key === 'n') send({ t: 'night' });
  else if (key === 'p') send({ t: 'pause' });
  else if (key === 'r' && event.shiftKey) send({ t: 'reset' });
  else if (key === 'f' && modelled) send({ t: 'fly' });
  else if (key === 's') showStrip(strip.hidden);
  else if (key === 'escape') letGo();
  else return;
  event.preventDefault();
});
document.addEventListener('keyup', (event) => {
  const key = event.key.toLowerCase();
  if (!kHeldKeys[key]) return;
  heldKeys.delete(key);
  event.preventDefault(); // a space let go would click the focused button
});
window.addEventListener('blur', () => heldKeys.clear());
document.getElementById('pause').onclick = () => send({ t: 'pause' });
document.getElementById('reset').onclick = () => send({ t: 'reset' });
document.getElementById('night').onclick = () => send({ t: 'night' });
flyButton.onclick = () => send({ t: 'fly' });

// Hand-flying: the keys and a gamepad move the pilot's controls, which go
// to the server as they change (at most kControlRate times a second) and on
// to the flight model. A held key moves its control gradually, as a hand
// does. The stick stays where the keys leave it, as a hand holds a pull,
// until C centres it; the rudder and the brakes come back once let go;
// the throttle keys move the panel's own levers, at a rate the server
// applies.
const kControlRate = 30;
const kTowardsPerSecond = 1.0; // a held key: full travel in 1 s
const kHeldControls = new Set(['elevator', 'aileron']); // stay where let go
const kCentringPerSecond = 3;
const kDeadZone = 0.08;
// key: [control, direction]. ArrowUp pushes the stick forward, the nose down.
const kHeldKeys = {
  arrowup: ['elevator', 1], arrowdown: ['elevator', -1], arrowleft: ['aileron', -1], arrowright: ['aileron', 1],
  z: ['rudder', -1], x: ['rudder', 1], ' ': ['brakes', 1], home: ['throttle', 1], end: ['throttle', -1],
};
const heldKeys = new Set();
const keyed = { elevator: 0, aileron: 0, rudder: 0, brakes: 0 };
live.controls = { elevator: 0, aileron: 0, rudder: 0, brakes: 0, throttle: 0 };
const clamp = (value, low, high) => Math.min(high, Math.max(low, value));

// key: [axis, step]. Page Down trims the nose up, as the stick drawn back.
const kTrimKeys = { pagedown: ['elevator', -1], pageup: ['elevator', 1], ',': ['rudder', -1], '.': ['rudder', 1] };
// Without a flight model only the throttles, which are the panel's own levers.
function flightKeyDown(key, repeat) {
  const flying = modelled || kHeldKeys[key]?.[0] === 'throttle';
  if (!flying) return false;
  if (kHeldKeys[key]) heldKeys.add(key);
  else if (kTrimKeys[key]) send({ t: 'trim', axis: kTrimKeys[key][0], step: kTrimKeys[key][1] });
  else if (key === 'c' && !repeat) keyed.elevator = keyed.aileron = 0;
  else if (key === 'g' && !repeat) send({ t: 'gear' });
  else if ((key === '[' || key === ']') && !repeat) send({ t: 'flaps', step: key === ']' ? 1 : -1 });
  else return key === 'c' || key === 'g' || key === '[' || key === ']';
  return true;
}

function heldTarget(control) {
  let sum = 0;
  for (const key of heldKeys) if (kHeldKeys[key][0] === control) sum += kHeldKeys[key][1];
  return clamp(sum, -1, 1);
}

// The first gamepad's: left stick pitch and roll (forward is negative in
// the standard mapping, and pushes the nose down), the right stick's
// horizontal axis the rudder, either trigger the brakes.
function gamepadControls() {
  const pad = (navigator.getGamepads ? [...navigator.getGamepads()] : []).find((p) => p && p.connected);
  if (!pad) return null;
  const axis = (i) => (Math.abs(pad.axes[i] ?? 0) < kDeadZone ? 0 : pad.axes[i]);
  const trigger = (i) => pad.buttons[i]?.value ?? 0;
  return { elevator: -axis(1), aileron: axis(0), rudder: axis(2), brakes: Math.max(trigger(6), trigger(7)) };
}

// The gamepad's trim, on its direction pad as on a trim wheel: up a notch
// nose down, down nose up, left and right the rudder's; a press a notch,
// and held, a notch every 0.05 s, as a key repeats.
const kPadTrims = [[12, 'elevator', 1], [13, 'elevator', -1], [14, 'rudder', -1], [15, 'rudder', 1]];
const padTrimAt = new Map();
function gamepadTrim(at) {
  const pad = (navigator.getGamepads ? [...navigator.getGamepads()] : []).find((p) => p && p.connected);
  for (const [button, axis, step] of kPadTrims) {
    if (!pad?.buttons[button]?.pressed) {
      padTrimAt.delete(button);
      continue;
    }
    if (padTrimAt.has(button) && at - padTrimAt.get(button) < 50) continue;
    padTrimAt.set(button, at);
    send({ t: 'trim', axis, step });
  }
}

let lastControlsAt = performance.now();
function moveControls() {
  const at = performance.now();
  const seconds = Math.min(0.2, (at - lastControlsAt) / 1000);
  lastControlsAt = at;
  if (socket && socket.readyState === WebSocket.OPEN) gamepadTrim(at);
  const pad = gamepadControls();
  const next = { throttle: heldTarget('throttle') };
  for (const control of Object.keys(keyed)) {
    const target = control === 'brakes' ? Math.max(0, heldTarget(control)) : heldTarget(control);
    const rate = target !== 0 ? kTowardsPerSecond : kCentringPerSecond;
    const now = keyed[control];
    if (target !== 0) keyed[control] = clamp(now + target * rate * seconds, -1, 1);
    else if (!kHeldControls.has(control)) keyed[control] = now + clamp(-now, -rate * seconds, rate * seconds);
    const low = control === 'brakes' ? 0 : -1;
    next[control] = Math.round(1000 * clamp(keyed[control] + (pad ? pad[control] : 0), low, 1)) / 1000;
  }
  const sent = live.controls;
  if (Object.keys(next).every((control) => next[control] === sent[control])) return;
  if (socket && socket.readyState === WebSocket.OPEN) {
    send({ t: 'controls', ...next });
    live.controls = next;
    drawControls(next);
  }
}

// The stick's position in a square (forward up), the rudder (from the
// centre) and the brakes in bars beside it, drawn by the page beside the
// panel at the device's pixels.
const controlsCanvas = document.getElementById('controls');
function drawControls({ elevator, aileron, rudder, brakes }) {
  const ratio = window.devicePixelRatio || 1;
  const { width, height } = controlsCanvas.getBoundingClientRect();
  if (!width) return; // hidden: drawn when shown
  const backing = [Math.round(width * ratio), Math.round(height * ratio)];
  if (controlsCanvas.width !== backing[0] || controlsCanvas.height !== backing[1]) {
    [controlsCanvas.width, controlsCanvas.height] = backing;
  }
  const c = controlsCanvas.getContext('2d');
  c.setTransform(ratio, 0, 0, ratio, 0, 0);
  c.clearRect(0, 0, width, height);
  const side = height;
  const half = side / 2;
  c.strokeStyle = '#777';
  c.lineWidth = 1;
  c.strokeRect(0.5, 0.5, side - 1, side - 1);
  c.beginPath();
  c.moveTo(half, 0);
  c.lineTo(half, side);
  c.moveTo(0, half);
  c.lineTo(side, half);
  c.stroke();
  const dot = 5;
  c.fillStyle = '#f0c040';
  c.beginPath();
  c.arc(half + aileron * (half - dot - 1), half - elevator * (half - dot - 1), dot, 0, 2 * Math.PI);
  c.fill();
  const left = side + 8;
  const bar = width - left;
  c.font = '10px sans-serif';
  c.fillStyle = '#999';
  c.fillText('rudder', left, 10);
  c.fillText('brakes', left, 36);
  c.strokeRect(left + 0.5, 13.5, bar - 1, 11);
  c.strokeRect(left + 0.5, 39.5, bar - 1, 11);
  c.fillStyle = '#f0c040';
  c.fillRect(left + bar / 2, 14, rudder * (bar / 2 - 1), 10);
  c.fillStyle = '#e05050';
  c.fillRect(left + 1, 40, brakes * (bar - 2), 10);
}
drawControls(live.controls);
setInterval(moveControls, 1000 / kControlRate);

connect();
