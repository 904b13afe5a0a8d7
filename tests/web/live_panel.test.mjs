// The live panel in a real browser: gaugebench serve on a free port, Debian's
// chromium driven by playwright-core.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { root, gaugebench, modules, kPatience, startServer, stopServer } from './serve.mjs';
import { pageTools } from './page_tools.mjs';

const panelConfig = path.join(root, 'panel/panel.cfg');

let server;
let browser;
let page;

let waitFrames, updatesLater, status, boxOnPage, pixels;

before(async () => {
  server = await startServer();
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--headless=new', '--disable-dev-shm-usage', '--disable-gpu'],
  });
  // A HiDPI screen zoomed out: the pointer must still land on panel pixels.
  page = await browser.newPage({ viewport: { width: 1000, height: 700 }, deviceScaleFactor: 2 });
  ({ waitFrames, updatesLater, status, boxOnPage, pixels } = pageTools(page));
  await page.goto(`http://127.0.0.1:${server.port}/`);
  await waitFrames(1);
});

after(async () => {
  await browser?.close();
  if (server) await stopServer(server);
});

test('the page shows the panel as gaugebench scenario draws it after the same scenario, at its device pixels', async () => {
  // The page's scenario, ended by a snapshot at the page's pixel ratio: the
  // live page starts from the state the scenario command leaves, and is
  // drawn for its device pixels.
  const out = mkdtempSync(path.join(tmpdir(), 'live-panel-'));
  const script = path.join(out, 'page.txt');
  const ratio = await page.evaluate(() => devicePixelRatio);
  const lines = readFileSync(path.join(root, 'tests/web/engines_stopped.txt'), 'utf8')
    .replace('panel ../../panel/panel.cfg', `panel ${panelConfig}\nscale ${ratio}`);
  writeFileSync(script, `${lines}snapshot panel.png\n`);
  execFileSync(gaugebench, ['scenario', script, '--out', out, '--no-progress', ...modules]);
  const picture = path.join(out, 'panel.png');
  const reference = `data:image/png;base64,${readFileSync(picture).toString('base64')}`;
  // The picture made again for the page's pixels once it said how many it has.
  await page.waitForFunction((w) => document.getElementById('panel').width === w,
    readFileSync(picture).readUInt32BE(16), { timeout: kPatience });
  await updatesLater(2);
  const { width, height, same } = await page.evaluate(async (url) => {
    const canvas = document.getElementById('panel');
    const image = new Image();
    image.src = url;
    await image.decode();
    const drawn = new OffscreenCanvas(image.width, image.height).getContext('2d');
    drawn.drawImage(image, 0, 0);
    const want = drawn.getImageData(0, 0, image.width, image.height).data;
    const have = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let equal = 0;
    for (let i = 0; i < want.length; i += 4) {
      if (want[i] === have[i] && want[i + 1] === have[i + 1] && want[i + 2] === have[i + 2]) ++equal;
    }
    return { width: image.width === canvas.width, height: image.height === canvas.height, same: equal / (want.length / 4) };
  }, reference);
  assert.ok(width && height, 'the canvas has the picture size');
  // Only what moves with time (clock, stopwatch, the cruise's slow drift) may differ.
  assert.ok(same > 0.97, `${(same * 100).toFixed(1)}% of the pixels as gaugebench render draws them`);
});

// The altimeter's pressure-setting window in panel pixels: the gauge's
// drawing coordinates (drums from x 102 to 177, y 214 to 241) scaled as its
// knob box (36 wide) is.
function drumWindow(gauge) {
  const knob = gauge.boxes.find((b) => !b.child && b.help === 0xa034);
  const scale = (knob.right - knob.left) / 36;
  const at = (v, origin, round) => round(origin + v * scale);
  return { left: at(102, gauge.left, Math.floor), top: at(214, gauge.top, Math.floor),
    right: at(177, gauge.left, Math.ceil), bottom: at(241, gauge.top, Math.ceil) };
}

// Each control as a user works it, and what must follow: the key events
// the page caused, the picture it changes (the control's own box unless
// `watch` names another), the cursor. In order: engine 0 starts stopped
// with its magnetos off (engines_stopped.txt), so it can be armed, and its
// held starter cranks without catching.
// The line under the panel names the control as a pilot does, and its state.
const controls = [
  { what: 'the starter arming click', gauge: 'Korvane!Starter_Switch', box: 0, act: 'click', cursor: 'default',
    events: (n) => n === 0, changes: true, line: /^Starter arming switch, engine 1: OFF$/ },
  { what: 'a held starter button', gauge: 'Korvane!Starter_Switch', box: 1, act: 'hold', cursor: 'pointer',
    events: (n) => n >= 5, changes: false, line: /^Starter button, engine 1: engine stopped$/ },
  { what: 'a throttle dragged down', gauge: 'Korvane!Throttle', box: 0, act: 'drag', cursor: 'grab',
    events: (n) => n >= 2, changes: true, line: /^Throttle lever, engine 1: \d+%$/ },
  { what: 'a magneto switch click', gauge: 'Korvane!Magneto_Switch', box: 0, act: 'click', cursor: 'pointer',
    events: (n) => n === 1, changes: true, line: /^Magneto 1, engine 1: OFF$/ },
  { what: 'the altimeter knob turned up rolls the drums', gauge: 'Korvane!Altimeter', box: 1, act: 'click',
    cursor: 'default', events: (n) => n === 0, changes: true, watch: drumWindow,
    line: /^Altimeter pressure setting \(millibars\): \d+ mb, \d+ ft$/ },
];

for (const control of controls) {
  test(control.what, async () => {
    const { gauge, box: knob, x, y, height } = await boxOnPage(control.gauge, control.box);
    const box = control.watch ? control.watch(gauge) : knob;
    await page.mouse.move(x, y);
    // The cursor follows the host's answer for the point.
    await page.waitForFunction((want) => document.getElementById('panel').style.cursor === want, control.cursor,
      { timeout: kPatience });
    await page.waitForFunction((want) => new RegExp(want).test(document.getElementById('pointer').textContent),
      control.line.source, { timeout: kPatience });
    await updatesLater(2);
    const picture = await pixels(box);
    const eventsBefore = (await status()).events;
    if (control.act === 'click') {
      await page.mouse.down();
      await page.mouse.up();
    } else if (control.act === 'hold') {
      await page.mouse.down();
      await updatesLater(9);
      await page.mouse.up();
      assert.equal((await status()).running[0], false, 'cranked without magnetos, the engine does not run');
    } else {
      await page.mouse.down();
      for (let step = 1; step <= 5; ++step) await page.mouse.move(x, y + (step * height) / 12);
      await page.mouse.up();
    }
    await updatesLater(3);
    const events = (await status()).events - eventsBefore;
    assert.ok(control.events(events), `${events} key events`);
    assert.equal((await pixels(box)) !== picture, control.changes, 'the control shows the change');
    // A released button repeats no more.
    if (control.act === 'hold') {
      const after = (await status()).events;
      await updatesLater(6);
      assert.equal((await status()).events, after);
    }
  });
}

test('a reload mid-session comes back live, the session kept', async () => {
  const drums = drumWindow(await page.evaluate(() => window.live.layout.gauges.find((g) => g.name === 'Korvane!Altimeter')));
  await updatesLater(2);
  const [before, time] = [await pixels(drums), (await status()).time];
  await page.reload();
  await waitFrames(1);
  await updatesLater(4);
  assert.ok((await status()).time > time, 'the clock runs on');
  assert.equal(await pixels(drums), before, 'the setting turned before the reload is still shown');
});

test('the help text shows as the tooltip, keys send their events', async () => {
  const gauges = await page.evaluate(() => window.live.layout.gauges);
  const withHelp = gauges.find((g) => g.boxes.some((b) => !b.child && b.help));
  const parent = withHelp.boxes.find((b) => !b.child && b.help);
  const shown = await page.evaluate(() => {
    const r = document.getElementById('panel').getBoundingClientRect();
    return { left: r.left, top: r.top, scale: r.width / document.getElementById('panel').width };
  });
  await page.mouse.move(shown.left + (parent.left + 2) * shown.scale, shown.top + (parent.top + 2) * shown.scale);
  // The help id's text where the layout carries one, else the id.
  const expected = parent.help_text || `help id ${parent.help}`;
  await page.waitForFunction((want) => document.getElementById('panel').title === want, `${withHelp.name}: ${expected}`,
    { timeout: kPatience });
  // The line under the panel names the instrument and its reading; its
  // tooltip the gauge and the bitmap pixel under the pointer.
  const line = await page.evaluate(() => {
    const pointer = document.getElementById('pointer');
    return { text: pointer.textContent, title: pointer.title };
  });
  assert.ok(line.text.startsWith(`${parent.help_text}: `) && /\d/.test(line.text), line.text);
  assert.match(line.title, new RegExp(`^${withHelp.name} .*pixel \\d+, \\d+`));

  const bombs = (await status()).bombs;
  await page.keyboard.press('b');
  // Named as the vocabulary names it, in the status and on the status line.
  const released = await page.evaluate(() => window.live.layout.keys.find((k) => k.key === 'b').name);
  await page.waitForFunction((name) => window.live.status.last_event === name, released, { timeout: kPatience });
  // The bomb counter counted it, and the status line says so.
  await page.waitForFunction((before) => window.live.status.bombs === before + 1, bombs, { timeout: kPatience });
  assert.match(await page.evaluate(() => document.getElementById('status').textContent),
    new RegExp(`bombs ${bombs + 1} .*${released}`));
});

test('at 1920×950 the whole panel and the flight figures fit the window, with no empty box and no flying controls without a model', async () => {
  const wide = await browser.newPage({ viewport: { width: 1920, height: 950 } });
  try {
    await wide.goto(`http://127.0.0.1:${server.port}/`);
    await wide.waitForFunction(() => window.live.frames >= 1 && window.live.status, null, { timeout: kPatience });
    const shown = await wide.evaluate(() => {
      const seen = (id) => {
        const r = document.getElementById(id).getBoundingClientRect();
        return r.height > 0 && r.top >= 0 && r.bottom <= innerHeight && r.right <= innerWidth;
      };
      return {
        scrolls: document.scrollingElement.scrollHeight > innerHeight,
        panel: seen('panel'), strip: seen('strip'),
        filled: document.getElementById('panel').getBoundingClientRect().height / innerHeight,
        recorded: seen('recorded'), stick: seen('controls'), airspeed: document.getElementById('figures').textContent,
      };
    });
    // The strip has what the warm-up waits for, and the g.
    const strip = /IAS\d+ kt.*G-?\d+\.\d g.*OIL(-?\d+ ){4}°C.*COOL(-?\d+ ){4}°C/;
    assert.deepEqual({ ...shown, filled: shown.filled > 0.75, airspeed: strip.test(shown.airspeed) },
      { scrolls: false, panel: true, strip: true, filled: true, recorded: false, stick: false, airspeed: true },
      shown.airspeed);
    await wide.keyboard.press('?');
    const help = await wide.evaluate(() => ({ open: document.getElementById('help').open, text: document.getElementById('help').innerText }));
    assert.equal(help.open, true, '"?" shows the help');
    assert.match(help.text, /Magnetos: .*ON.*\n.*ARM: .*\n.*START: press and hold/, 'the engine start drill');
  } finally {
    await wide.close();
  }
});

test('clicks recorded as scenario lines, and night dims the panel', async () => {
  await page.click('#record');
  const { x, y } = await boxOnPage('Korvane!Magneto_Switch', 0);
  await page.mouse.move(x, y);
  await page.mouse.down();
  await page.mouse.up();
  await page.click('#record');
  assert.match(await page.evaluate(() => document.getElementById('recorded').value),
    /(^|\n)click Korvane!Magneto_Switch \d+ \d+$/);

  const whole = await page.evaluate(() => ({ left: 0, top: 0, right: window.live.layout.width, bottom: window.live.layout.height }));
  await updatesLater(2);
  const day = await pixels(whole);
  await page.keyboard.press('n');
  await page.waitForFunction(() => window.live.status.night === true, null, { timeout: kPatience });
  await updatesLater(3);
  assert.notEqual(await pixels(whole), day, 'the night picture differs');
  await page.keyboard.press('n');
  await page.waitForFunction(() => window.live.status.night === false, null, { timeout: kPatience });
});

// Web Audio made observable: what the page's rumble asks of it (started,
// its loudness), headless chromium or not.
function recordRumble() {
  const rumble = (window.rumble = { contexts: 0, started: 0, loudness: 0 });
  const node = (extra) => ({ connect: (next) => next, ...extra });
  window.AudioContext = class {
    constructor() { rumble.contexts += 1; Object.assign(this, { state: 'running', sampleRate: 100, currentTime: 0, destination: {} }); }
    createBuffer(channels, length) { return { getChannelData: () => new Float32Array(length) }; }
    createBufferSource() { return node({ start: () => { rumble.started += 1; } }); }
    createBiquadFilter() { return node({ frequency: {} }); }
    createGain() { return node({ gain: { setTargetAtTime: (value) => { rumble.loudness = value; } } }); }
    resume() { return Promise.resolve(); }
  };
}

test('the buffet shakes the panel, rumbles and warns, and all of it stops with the buffet', async () => {
  const shaken = await browser.newPage({ viewport: { width: 1000, height: 700 } });
  try {
    await shaken.addInitScript(recordRumble);
    await shaken.goto(`http://127.0.0.1:${server.port}/`);
    await shaken.waitForFunction(() => window.live.status?.rpm !== undefined, null, { timeout: kPatience });
    // Each status as the server's last with the buffet set, handed to the
    // page's socket; read back before any other message can arrive.
    const feel = (buffet) => shaken.evaluate((level) => {
      const shakes = [];
      for (let i = 0; i < 5; i++) {
        socket.onmessage({ data: JSON.stringify({ ...window.live.status, buffet: level }) });
        shakes.push(document.getElementById('stage').style.transform);
      }
      const warning = document.getElementById('warning');
      return { shakes, warning: warning.hidden ? null : warning.textContent, ...window.rumble };
    }, buffet);
    for (const { buffet, warning } of [
      { buffet: 0.5, warning: /^buffet: near the stall$/ },
      { buffet: 1, warning: /^STALL: buffeting, ease the stick forward$/ },
      { buffet: 0, warning: null },
    ]) {
      const felt = await feel(buffet);
      const offsets = felt.shakes.flatMap((shake) => [...shake.matchAll(/(-?[\d.]+)px/g)].map((m) => Number(m[1])));
      if (buffet > 0) {
        assert.ok(offsets.every((x) => Math.abs(x) <= 3 * buffet) && new Set(felt.shakes).size > 1,
          `the panel shakes within ${3 * buffet} px: ${felt.shakes}`);
        assert.ok(felt.contexts === 1 && felt.started === 1, `one rumble, started: ${JSON.stringify(felt)}`);
      } else {
        assert.deepEqual(felt.shakes, Array(5).fill(''), 'still again');
      }
      assert.equal(felt.loudness, 0.6 * buffet, 'the rumble as loud as the buffet');
      if (warning) assert.match(felt.warning ?? '', warning);
      else assert.equal(felt.warning, null);
    }
  } finally {
    await shaken.close();
  }
});

test('pause stops the clock, and the page comes back after the server restarts', async () => {
  await page.click('#pause');
  await page.waitForFunction(() => window.live.status.paused, null, { timeout: kPatience });
  const stopped = (await status()).time;
  await updatesLater(4);
  assert.equal((await status()).time, stopped);
  // The picture built from frames of changes is the whole picture a fresh page gets.
  const whole = { left: 0, top: 0, right: 0, bottom: 0 };
  [whole.right, whole.bottom] = await page.evaluate(() => [window.live.layout.width, window.live.layout.height]);
  const patched = await pixels(whole);
  await page.reload();
  await waitFrames(1);
  await page.evaluate(() => window.live.settled());
  assert.equal(await pixels(whole), patched);
  await page.click('#pause');

  await stopServer(server);
  await page.waitForFunction(() => !window.live.connected, null, { timeout: kPatience });
  assert.match(await page.textContent('#error'), /server stopped/);
  server = await startServer([], server.port);
  await page.waitForFunction(() => window.live.connected, null, { timeout: kPatience });
  await updatesLater(2);
  assert.equal(await page.isHidden('#error'), true);
});
