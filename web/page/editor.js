// The layout editor (serve --edit): a frame over each gauge to move and
// resize, selections, snapping guides, the side panel's numbers and window
// settings, undo and redo, and the save. The page keeps the layout and its
// history; each change goes to the server whole ({"t":"edit"}), which makes
// the panel so laid out while its modules run on, and writes it into the
// panel file on a save (protocol in web/server.h).
//
// Every frame is an element with data-gauge="Module!Gauge" (as the panel file
// names it), data-window="NN" (its [WindowNN]) and data-key="gaugeNN": the
// names the tests and users' own scripts find gauges by.
'use strict';

const editor = {
  allowed: false, on: false,
  model: null, // {windows: [...], gauges: [...]} as web/panel_editing.h has it
  revision: null, // of the file the model started from
  unsaved: false,
  history: [], future: [],
  selection: new Set(), // gauge ids
  shown: new Map(), // section -> its rectangle in picture pixels
  scale: 1,
  natural: new Map(), // lower-case name -> {width, height}, design units
  lastSave: null, // the server's latest answer to a save
  saves: 0, // answers to saves
  sent: 0, // layouts sent
};
live.editor = editor;

const overlay = document.getElementById('editor');
const editButton = document.getElementById('edit-button');
const editPanel = document.getElementById('edit-panel');
const saveStatus = document.getElementById('save-status');
const field = (id) => document.getElementById(id);

const idOf = (gauge) => `${gauge.window}/${gauge.key}`;
const windowNumber = (section) => section.replace(/^window/i, '');
const tenth = (value) => Math.round(value * 10) / 10;
const clone = (value) => JSON.parse(JSON.stringify(value));

// A gauge's drawn size: as its line gives it, else its bitmap's shape.
function sizeOf(gauge) {
  const natural = editor.natural.get(gauge.name.toLowerCase()) || { width: 100, height: 100 };
  const width = gauge.width ?? natural.width;
  return { width, height: gauge.height ?? (width * natural.height) / natural.width };
}
const boxOf = (gauge) => ({ x: gauge.x, y: gauge.y, ...sizeOf(gauge) });
function windowSize(section) {
  const window = editor.model.windows.find((w) => w.section === section);
  if (window?.size_mm) return { width: window.size_mm[0], height: window.size_mm[1] };
  const shown = editor.shown.get(section);
  return shown ? { width: shown.width / editor.scale, height: shown.height / editor.scale } : { width: 0, height: 0 };
}
const gaugesOf = (section) => editor.model.gauges.filter((g) => g.window === section);
const selected = () => editor.model.gauges.filter((g) => editor.selection.has(idOf(g)));

// Design units per CSS pixel of the panel as shown.
function unitsPerPixel() {
  const shown = canvas.getBoundingClientRect();
  return canvas.width / shown.width / editor.scale;
}

// --- Changes, history and the server ---------------------------------------

let sendTimer = null;
function sendNow() {
  clearTimeout(sendTimer);
  sendTimer = null;
  send({ t: 'edit', layout: editor.model });
  editor.sent += 1;
}
// Nudges come as fast as a key repeats: the server makes the panel once they pause.
function sendSoon() {
  clearTimeout(sendTimer);
  sendTimer = setTimeout(sendNow, 120);
}

// `change` applied to the model as one step of the history.
function change(apply, { soon = false } = {}) {
  const before = clone(editor.model);
  apply(editor.model);
  if (JSON.stringify(before) === JSON.stringify(editor.model)) return;
  editor.history.push(before);
  editor.future = [];
  editor.unsaved = true;
  afterChange(soon);
}
function afterChange(soon) {
  const ids = new Set(editor.model.gauges.map(idOf));
  for (const id of [...editor.selection]) if (!ids.has(id)) editor.selection.delete(id);
  render();
  if (soon) sendSoon();
  else sendNow();
}
function undo() {
  if (!editor.history.length) return;
  editor.future.push(clone(editor.model));
  editor.model = editor.history.pop();
  editor.unsaved = true;
  afterChange(false);
}
function redo() {
  if (!editor.future.length) return;
  editor.history.push(clone(editor.model));
  editor.model = editor.future.pop();
  editor.unsaved = true;
  afterChange(false);
}

function showSave(text, failed) {
  saveStatus.textContent = text;
  saveStatus.classList.toggle('failed', !!failed);
}
function save(overwrite = false) {
  if (!editor.model) return;
  if (sendTimer) sendNow();
  showSave('saving…');
  send({ t: 'save', overwrite });
}

live.listeners.push((message) => {
  if (message.type === 'layout') takeLayout(message);
  else if (message.type === 'saved') saved(message);
});

function saved(answer) {
  editor.lastSave = answer;
  editor.saves += 1;
  if (answer.ok) {
    editor.revision = answer.revision;
    editor.unsaved = false;
    showSave(`saved ${answer.file} (the one before: ${answer.file}.bak)`);
  } else if (answer.changed_on_disk) {
    // eslint-disable-next-line no-alert
    if (window.confirm(`${answer.why}.\nOverwrite it with this layout?`)) save(true);
    else showSave(`not saved: ${answer.why}`, true);
  } else {
    showSave(`not saved: ${answer.why}`, true);
  }
}

function takeLayout(layout) {
  const edit = layout.edit;
  editor.allowed = !!edit;
  editButton.hidden = !edit;
  if (!edit) {
    setEditing(false);
    return;
  }
  editor.scale = edit.scale;
  editor.shown = new Map(edit.shown.map((w) => [w.section, w]));
  editor.natural = new Map(edit.exports.map((g) => [g.name.toLowerCase(), g]));
  // The file itself changed (a save elsewhere, an edit by hand with --watch):
  // taken as the new start unless this page has changes of its own.
  const first = editor.model === null;
  if (first || (edit.revision !== editor.revision && !editor.unsaved)) {
    editor.model = edit.layout;
    editor.revision = edit.revision;
    editor.history = [];
    editor.future = [];
    editor.selection.clear();
  }
  fillExports(edit.exports);
  if (first) setEditing(true);
  render();
}

function setEditing(on) {
  editor.on = on && editor.allowed;
  overlay.hidden = !editor.on;
  editPanel.hidden = !editor.on;
  document.body.classList.toggle('editing', editor.on);
  editButton.textContent = editor.on ? 'Stop editing' : 'Edit layout';
  fit();
}
editButton.onclick = () => setEditing(!editor.on);

// --- Drawing the frames and the side panel -----------------------------------

function placeIn(element, section, box) {
  const shown = editor.shown.get(section);
  const { width, height } = live.layout;
  const s = editor.scale;
  element.style.left = `${(100 * (shown.left + box.x * s)) / width}%`;
  element.style.top = `${(100 * (shown.top + box.y * s)) / height}%`;
  element.style.width = `${(100 * box.width * s) / width}%`;
  element.style.height = `${(100 * box.height * s) / height}%`;
}

function render() {
  if (!editor.model || !live.layout) return;
  const frames = new Map([...overlay.querySelectorAll('.frame')].map((f) => [f.dataset.id, f]));
  for (const gauge of editor.model.gauges) {
    if (!editor.shown.has(gauge.window)) continue; // a hidden window's gauges are not drawn
    const id = idOf(gauge);
    let frame = frames.get(id);
    frames.delete(id);
    if (!frame) {
      frame = document.createElement('div');
      frame.className = 'frame';
      frame.dataset.id = id;
      for (const corner of ['nw', 'ne', 'sw', 'se']) {
        const handle = document.createElement('div');
        handle.className = 'handle';
        handle.dataset.corner = corner;
        frame.append(handle);
      }
      overlay.append(frame);
    }
    frame.dataset.gauge = gauge.name;
    frame.dataset.window = windowNumber(gauge.window);
    frame.dataset.key = gauge.key;
    frame.title = `${gauge.name} (${gauge.window} ${gauge.key})`;
    frame.classList.toggle('selected', editor.selection.has(id));
    placeIn(frame, gauge.window, boxOf(gauge));
  }
  for (const gone of frames.values()) gone.remove();
  showFields();
}

function fillExports(exports) {
  const select = field('add-gauge');
  const names = exports.map((g) => g.name);
  if ([...select.options].map((o) => o.value).join('\n') === names.join('\n')) return;
  select.replaceChildren(...names.map((name) => new Option(name, name)));
}

function currentWindow() {
  const pick = field('window-pick');
  const first = selected()[0];
  if (first && document.activeElement !== pick) return first.window;
  return editor.model.windows.some((w) => w.section === pick.value) ? pick.value : editor.model.windows[0]?.section;
}

const hex = (rgb) => `#${rgb.map((c) => c.toString(16).padStart(2, '0')).join('')}`;
function setValue(input, value) {
  if (document.activeElement === input) return; // the user is typing
  if (input.type === 'checkbox') input.checked = value;
  else input.value = value;
}

function showFields() {
  const chosen = selected();
  const one = chosen.length === 1 ? chosen[0] : null;
  field('gauge-fields').disabled = chosen.length === 0;
  field('gauge-name').textContent = one ? `${one.name} (${one.key})`
    : chosen.length ? `${chosen.length} gauges` : 'no gauge selected';
  const box = one ? boxOf(one) : null;
  for (const [id, key] of [['gauge-x', 'x'], ['gauge-y', 'y'], ['gauge-w', 'width'], ['gauge-h', 'height']]) {
    field(id).disabled = !one;
    setValue(field(id), box ? tenth(box[key]) : '');
  }
  const pick = field('window-pick');
  const sections = editor.model.windows.map((w) => w.section);
  if ([...pick.options].map((o) => o.value).join('\n') !== sections.join('\n')) {
    pick.replaceChildren(...sections.map((s) => new Option(s, s)));
  }
  const section = currentWindow();
  setValue(pick, section);
  const window = editor.model.windows.find((w) => w.section === section);
  if (!window) return;
  const size = windowSize(section);
  setValue(field('window-width'), window.size_mm ? window.size_mm[0] : tenth(size.width));
  setValue(field('window-height'), window.size_mm ? window.size_mm[1] : tenth(size.height));
  setValue(field('window-position'), window.position === null ? '' : String(window.position));
  setValue(field('window-visible'), window.visible);
  setValue(field('window-background'), hex(window.background));
  setValue(field('window-file'), window.file);
}

// --- The side panel's fields --------------------------------------------------

function onGaugeField(id, key) {
  field(id).addEventListener('change', () => {
    const value = Number(field(id).value);
    const one = selected();
    if (one.length !== 1 || field(id).value === '' || !Number.isFinite(value)) return showFields();
    change((model) => {
      const gauge = model.gauges.find((g) => idOf(g) === idOf(one[0]));
      if (key === 'width' || key === 'height') {
        if (!(value > 0)) return;
        const size = sizeOf(gauge);
        gauge.width = key === 'width' ? value : size.width;
        // The height stays the bitmap's shape unless given, or given before.
        if (key === 'height' || gauge.height !== null) gauge.height = key === 'height' ? value : size.height;
      } else {
        gauge[key] = value;
      }
    });
  });
}
onGaugeField('gauge-x', 'x');
onGaugeField('gauge-y', 'y');
onGaugeField('gauge-w', 'width');
onGaugeField('gauge-h', 'height');

function onWindowField(id, apply) {
  field(id).addEventListener('change', () => {
    const section = field('window-pick').value;
    change((model) => {
      const window = model.windows.find((w) => w.section === section);
      if (window) apply(window, field(id));
    });
  });
}
const sizeField = (index) => (window, input) => {
  const value = Number(input.value);
  if (!(value > 0)) return;
  const size = window.size_mm ? [...window.size_mm] : [windowSize(window.section).width, windowSize(window.section).height];
  size[index] = value;
  window.size_mm = size;
};
onWindowField('window-width', sizeField(0));
onWindowField('window-height', sizeField(1));
onWindowField('window-position', (w, input) => { w.position = input.value === '' ? null : Number(input.value); });
onWindowField('window-visible', (w, input) => { w.visible = input.checked; });
onWindowField('window-background', (w, input) => {
  w.background = [1, 3, 5].map((i) => parseInt(input.value.slice(i, i + 2), 16));
});
onWindowField('window-file', (w, input) => { w.file = input.value.trim(); });
field('window-pick').addEventListener('change', () => {
  editor.selection.clear();
  render();
});

// A new gauge: numbered after the window's highest, as its lines are written,
// in the middle of the window.
function addGauge(name) {
  const section = currentWindow();
  if (!section || !name) return;
  const lines = gaugesOf(section);
  const numbers = lines.map((g) => Number(g.key.slice(5)));
  const digits = Math.max(2, ...lines.map((g) => g.key.length - 5));
  const prefix = lines[0] ? lines[0].key.slice(0, 5) : 'gauge';
  const key = `${prefix}${String(numbers.length ? Math.max(...numbers) + 1 : 0).padStart(digits, '0')}`;
  const gauge = { window: section, key, name, x: 0, y: 0, width: null, height: null };
  const size = sizeOf(gauge);
  const room = windowSize(section);
  gauge.x = Math.max(0, Math.round((room.width - size.width) / 2));
  gauge.y = Math.max(0, Math.round((room.height - size.height) / 2));
  change((model) => model.gauges.push(gauge));
  editor.selection = new Set([idOf(gauge)]);
  render();
}
field('add').onclick = () => addGauge(field('add-gauge').value);

function deleteSelected() {
  if (!editor.selection.size) return;
  change((model) => { model.gauges = model.gauges.filter((g) => !editor.selection.has(idOf(g))); });
}
field('delete').onclick = deleteSelected;
field('save').onclick = () => save();
field('undo').onclick = undo;
field('redo').onclick = redo;

// --- Pointer: select, move, resize, band ---------------------------------------

const kSnapPixels = 5;
let gesture = null;

function guides(lines) {
  for (const old of overlay.querySelectorAll('.guide')) old.remove();
  const { width, height } = live.layout;
  for (const { axis, at } of lines) {
    const guide = document.createElement('div');
    guide.className = 'guide';
    guide.dataset.axis = axis;
    if (axis === 'x') guide.style.left = `${(100 * at) / width}%`;
    else guide.style.top = `${(100 * at) / height}%`;
    overlay.append(guide);
  }
}

// The shift that brings the moved box's edges onto another gauge's or the
// window's edges, or its centre onto their centres, on each axis, when one
// is within kSnapPixels.
function snap(section, moved, box) {
  const room = windowSize(section);
  const others = gaugesOf(section).filter((g) => !moved.has(idOf(g))).map(boxOf);
  const reach = kSnapPixels * unitsPerPixel();
  const shown = editor.shown.get(section);
  const result = { dx: 0, dy: 0, lines: [] };
  for (const [axis, start, size, roomSize, origin] of [
    ['x', 'x', 'width', room.width, shown.left], ['y', 'y', 'height', room.height, shown.top]]) {
    const edges = [0, roomSize];
    const centres = [roomSize / 2];
    for (const other of others) {
      edges.push(other[start], other[start] + other[size]);
      centres.push(other[start] + other[size] / 2);
    }
    let best = null;
    for (const [edge, targets] of [[box[start], edges], [box[start] + box[size], edges], [box[start] + box[size] / 2, centres]]) {
      for (const target of targets) {
        const shift = target - edge;
        if (Math.abs(shift) <= reach && (best === null || Math.abs(shift) < Math.abs(best.shift))) best = { shift, target };
      }
    }
    if (!best) continue;
    result[axis === 'x' ? 'dx' : 'dy'] = best.shift;
    result.lines.push({ axis, at: origin + best.target * editor.scale });
  }
  return result;
}

function boundsOf(boxes) {
  const x = Math.min(...boxes.map((b) => b.x));
  const y = Math.min(...boxes.map((b) => b.y));
  return {
    x, y,
    width: Math.max(...boxes.map((b) => b.x + b.width)) - x,
    height: Math.max(...boxes.map((b) => b.y + b.height)) - y,
  };
}

overlay.addEventListener('pointerdown', (event) => {
  if (event.button !== 0 || !editor.model) return;
  overlay.setPointerCapture(event.pointerId);
  const frame = event.target.closest('.frame');
  const start = { x: event.clientX, y: event.clientY, before: clone(editor.model) };
  if (!frame) {
    if (!event.shiftKey) editor.selection.clear();
    gesture = { kind: 'band', ...start, kept: new Set(editor.selection) };
    render();
    return;
  }
  const id = frame.dataset.id;
  if (event.shiftKey && !event.target.dataset.corner) {
    if (editor.selection.has(id)) editor.selection.delete(id);
    else editor.selection.add(id);
    render();
    return;
  } else if (!editor.selection.has(id)) {
    editor.selection = new Set([id]);
  }
  const origins = new Map(selected().map((g) => [idOf(g), boxOf(g)]));
  const corner = event.target.dataset.corner;
  gesture = corner
    ? { kind: 'resize', ...start, id, corner, origin: boxOf(editor.model.gauges.find((g) => idOf(g) === id)) }
    : { kind: 'move', ...start, origins, section: editor.model.gauges.find((g) => idOf(g) === id).window };
  render();
});

overlay.addEventListener('pointermove', (event) => {
  if (!gesture) return;
  const units = unitsPerPixel();
  let dx = (event.clientX - gesture.x) * units;
  let dy = (event.clientY - gesture.y) * units;
  if (gesture.kind === 'band') return drawBand(event);
  if (gesture.kind === 'move') {
    const moved = new Set(gesture.origins.keys());
    const boxes = [...gesture.origins.values()].map((b) => ({ ...b, x: b.x + dx, y: b.y + dy }));
    const snapped = event.altKey ? { dx: 0, dy: 0, lines: [] } : snap(gesture.section, moved, boundsOf(boxes));
    dx += snapped.dx;
    dy += snapped.dy;
    guides(snapped.lines);
    for (const gauge of editor.model.gauges) {
      const origin = gesture.origins.get(idOf(gauge));
      if (!origin) continue;
      gauge.x = tenth(origin.x + dx);
      gauge.y = tenth(origin.y + dy);
    }
  } else {
    resize(gesture, dx, dy, event.shiftKey);
  }
  gesture.moved = true;
  render();
});

// The corner follows the pointer; the opposite corner stays. Without Shift
// the gauge keeps its shape, and a height left to the bitmap stays so.
function resize({ id, corner, origin }, dx, dy, free) {
  const gauge = editor.model.gauges.find((g) => idOf(g) === id);
  const sx = corner.includes('w') ? -1 : 1;
  const sy = corner.includes('n') ? -1 : 1;
  let width = Math.max(4, origin.width + sx * dx);
  let height = Math.max(4, origin.height + sy * dy);
  if (!free) height = (width * origin.height) / origin.width;
  width = tenth(width);
  height = tenth(height);
  gauge.width = width;
  if (free || gauge.height !== null) gauge.height = height;
  gauge.x = tenth(sx < 0 ? origin.x + origin.width - width : origin.x);
  gauge.y = tenth(sy < 0 ? origin.y + origin.height - height : origin.y);
}

let band = null;
function drawBand(event) {
  if (!band) {
    band = document.createElement('div');
    band.id = 'band';
    overlay.append(band);
  }
  const area = overlay.getBoundingClientRect();
  const left = Math.min(event.clientX, gesture.x) - area.left;
  const top = Math.min(event.clientY, gesture.y) - area.top;
  Object.assign(band.style, {
    left: `${left}px`, top: `${top}px`,
    width: `${Math.abs(event.clientX - gesture.x)}px`, height: `${Math.abs(event.clientY - gesture.y)}px`,
  });
  // Every frame the band touches, with those selected before when Shift held.
  const rect = band.getBoundingClientRect();
  editor.selection = new Set(gesture.kept);
  for (const frame of overlay.querySelectorAll('.frame')) {
    const f = frame.getBoundingClientRect();
    if (f.right > rect.left && f.left < rect.right && f.bottom > rect.top && f.top < rect.bottom) {
      editor.selection.add(frame.dataset.id);
    }
  }
  render();
}

function endGesture() {
  if (!gesture) return;
  const done = gesture;
  gesture = null;
  band?.remove();
  band = null;
  guides([]);
  if (done.kind === 'band' || !done.moved) return;
  if (JSON.stringify(done.before) === JSON.stringify(editor.model)) return;
  editor.history.push(done.before);
  editor.future = [];
  editor.unsaved = true;
  afterChange(false);
}
overlay.addEventListener('pointerup', endGesture);
overlay.addEventListener('pointercancel', endGesture);

// --- Keys ------------------------------------------------------------------------

const kNudges = { arrowleft: [-1, 0], arrowright: [1, 0], arrowup: [0, -1], arrowdown: [0, 1] };
// Taken before the panel's own keys (panel.js), and only while editing.
window.addEventListener('keydown', (event) => {
  if (!editor.on || !editor.model) return;
  const key = event.key.toLowerCase();
  // Text being typed keeps its own undo; a checkbox or list chosen last does not.
  const typing = event.target.closest?.('input[type="number"], input[type="text"], textarea');
  const inField = event.target.closest?.('input, select, textarea');
  const command = event.ctrlKey || event.metaKey;
  let handled = true;
  if (command && key === 's') save();
  else if (command && key === 'z' && !typing) (event.shiftKey ? redo : undo)();
  else if (command && key === 'y' && !typing) redo();
  else if (inField) handled = false;
  else if (kNudges[key] && editor.selection.size && !command) {
    const step = event.shiftKey ? 10 : 1;
    const [dx, dy] = kNudges[key];
    change((model) => {
      for (const gauge of model.gauges) {
        if (!editor.selection.has(idOf(gauge))) continue;
        gauge.x = tenth(gauge.x + dx * step);
        gauge.y = tenth(gauge.y + dy * step);
      }
    }, { soon: true });
  } else if ((key === 'delete' || key === 'backspace') && editor.selection.size) deleteSelected();
  else if (key === 'escape' && editor.selection.size) {
    editor.selection.clear();
    render();
  } else handled = false;
  if (!handled) return;
  event.preventDefault();
  event.stopImmediatePropagation();
}, { capture: true });

// The frames follow the panel's size on the page as it is fitted.
new ResizeObserver(render).observe(stage);
