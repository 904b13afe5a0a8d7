// The live panel flown by JSBSim. The take-off script (engines stopped on
// the runway): the panel's own switches start an engine in the model, and
// its throttle opens it. The free starts, flown from the keys alone: a
// take-off from the runway, and the stick and ailerons in the cruise as the
// instruments show them. Skipped, saying so, where JSBSim is not installed.
import { describe, test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { jsbsim, kPatience, root, startServer, stopServer } from './serve.mjs';
import { centroid, clockwiseFromLeft, pageTools, tilt, whiteOnlyIn } from './page_tools.mjs';

const skip = existsSync(jsbsim) ? false : `JSBSim is not installed at ${jsbsim} (scripts/install-deps.sh installs it)`;

// The flight as the page's strip has it (status.figures), in the model's
// sense of bank (positive right wing down), with what a hand on the stick
// also feels: the rates of pitch, roll and yaw (degrees a second) and the
// drift from the line the heading first held (metres, positive to the
// right), both from one status to the next.
const kMetresPerSecondPerKnot = 0.514444;
const wrapped = (degrees) => ((degrees + 540) % 360) - 180;
function figuresOf(status) {
  const f = status.figures;
  return { time: status.time, airspeed: f.airspeed, height: f.height, on_ground: f.on_ground,
    pitch: f.pitch, bank: -f.bank, heading: f.heading, vertical_speed: f.vertical_speed, flaps: f.flaps,
    elevator: status.controls?.elevator ?? 0 };
}
function flightTracker() {
  let last = null, line = null, sideways = 0;
  return (status) => {
    const now = figuresOf(status);
    line ??= now.heading;
    const dt = last ? now.time - last.time : 0;
    const rate = (name, d = (a, b) => a - b) => (dt > 0 ? d(now[name], last[name]) / dt : last?.[`${name}_rate`] ?? 0);
    now.pitch_rate = rate('pitch');
    now.roll_rate = rate('bank');
    now.yaw_rate = rate('heading', (a, b) => wrapped(a - b));
    sideways += now.airspeed * kMetresPerSecondPerKnot * Math.sin((wrapped(now.heading - line) * Math.PI) / 180) * dt;
    now.sideways = sideways;
    if (dt > 0 || !last) last = now;
    return now;
  };
}

// A server flying `script`, and a page on it once opened: its clock starts
// with the first page and runs on without one.
async function flight(script) {
  const server = await startServer(['--fdm', script, '--jsbsim', jsbsim], undefined, []);
  return { server, model: flightTracker() };
}

// Waits for the flight to be `state` ('flying', 'failed'); if it never is,
// the failure says what the page showed instead and what the server printed.
async function flightIs({ page, server }, state) {
  try {
    await page.waitForFunction((s) => window.live.status?.flight === s, state, { timeout: kPatience });
  } catch (error) {
    const shown = await page.evaluate(() => ({ status: document.getElementById('status')?.textContent,
      error: document.getElementById('error')?.textContent, flight: window.live.status?.flight })).catch(() => ({}));
    throw new Error(`the flight never was ${state}: the page showed ${JSON.stringify(shown)}; ` +
      `the server said:\n${server.output().slice(-2000)}`, { cause: error });
  }
}

async function openPage(flown) {
  flown.page = await browser.newPage({ viewport: { width: 1400, height: 800 } });
  flown.tools = pageTools(flown.page);
  await flown.page.goto(`http://127.0.0.1:${flown.server.port}/`);
  await flightIs(flown, 'flying');
}

async function land(flown) {
  await flown.page?.close();
  await stopServer(flown.server);
}

let browser;
let cruise;

before(async () => {
  if (skip) return;
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--headless=new', '--disable-dev-shm-usage', '--disable-gpu'],
  });
  // The cruise's clock started now, its script pilot has let go by the time
  // its tests come, after the others; no page meanwhile, to draw for.
  cruise = await flight('fdm/scripts/free_cruise.xml');
  await openPage(cruise);
  await cruise.page.close();
  cruise.page = null;
});

after(async () => {
  if (cruise) await land(cruise);
  await browser?.close();
});

// The list index of the `rank`-th child box of a gauge, left to right and
// top to bottom: switches and levers are laid out by engine.
const nthBox = (page, gaugeName, rank) =>
  page.evaluate(
    ([name, n]) => {
      const boxes = window.live.layout.gauges.find((g) => g.name === name).boxes.filter((b) => b.child);
      const order = boxes.map((b, i) => i).sort((a, b) => boxes[a].left - boxes[b].left || boxes[a].top - boxes[b].top);
      return order[n];
    },
    [gaugeName, rank],
  );

const gaugeRect = (page, name) => page.evaluate((n) => window.live.layout.gauges.find((g) => g.name === n), name);

async function click({ page, tools }, gaugeName, rank) {
  const { x, y } = await tools.boxOnPage(gaugeName, await nthBox(page, gaugeName, rank));
  await page.mouse.click(x, y);
  await tools.updatesLater(2);
}

// Both magnetos on, the starter armed and its button held until the model
// has the engine (0-3) running.
async function startEngine(on, engine) {
  await click(on, 'Korvane!Magneto_Switch', 2 * engine);
  await click(on, 'Korvane!Magneto_Switch', 2 * engine + 1);
  await click(on, 'Korvane!Starter_Switch', 2 * engine);
  const { x, y } = await on.tools.boxOnPage('Korvane!Starter_Switch', await nthBox(on.page, 'Korvane!Starter_Switch', 2 * engine + 1));
  await on.page.mouse.move(x, y);
  await on.page.mouse.down();
  await on.page.waitForFunction((n) => window.live.status.running[n], engine, { timeout: kPatience });
  await on.page.mouse.up();
}

describe('the take-off script, engines stopped on the runway', { skip }, () => {
  let takeoff;
  before(async () => {
    takeoff = await flight('fdm/scripts/takeoff.xml');
    await openPage(takeoff);
  });
  after(() => takeoff && land(takeoff));

  test('both magnetos on and the starter held start engine 3 in the model; its rpm needle rises', async () => {
    const { page, tools } = takeoff;
    const tachometer = await gaugeRect(page, 'Korvane!Tachometer3');
    const stopped = await tools.pixels(tachometer);
    assert.equal((await tools.status()).rpm[2], 0);
    // The script flies until the pilot takes a control; the stick is shown for it.
    assert.match(await page.textContent('#status'), /^flying the script/);
    assert.equal(await page.isVisible('#controls'), true);
    await startEngine(takeoff, 2);
    // Caught at its firing speed, it runs up past any cranking speed to its idle.
    await page.waitForFunction(() => window.live.status.rpm[2] > 300, null, { timeout: kPatience });
    const now = await tools.status();
    assert.deepEqual([now.running[0], now.running[1], now.running[3]], [false, false, false], 'no other engine runs');
    assert.notEqual(await tools.pixels(tachometer), stopped, 'the tachometer shows it');
  });

  test('the throttle dragged open moves its lever and the boost needle', async () => {
    const { page, tools } = takeoff;
    const boost = await gaugeRect(page, 'Korvane!Boost3');
    const { x, y, height, box } = await tools.boxOnPage('Korvane!Throttle', await nthBox(page, 'Korvane!Throttle', 2));
    await tools.updatesLater(4);
    const [needle, lever, closed] = [await tools.pixels(boost), await tools.pixels(box), (await tools.status()).figures.boost[2]];
    await page.mouse.move(x, y);
    await page.mouse.down();
    for (let step = 1; step <= 6; ++step) await page.mouse.move(x, y - (step * height) / 10);
    await page.mouse.up();
    await tools.updatesLater(36);
    assert.notEqual(await tools.pixels(box), lever, 'the lever moved');
    const opened = (await tools.status()).figures.boost[2];
    assert.ok(opened > closed + 1.5, `the model's boost rose from ${closed} to ${opened} lb/in²`);
    assert.notEqual(await tools.pixels(boost), needle, 'the boost needle followed');
  });

  test('a model killed is shown failed, and "Fly again" flies with the error gone until the new one fails', async () => {
    const { page, server } = takeoff;
    const error = () => page.evaluate(() => ({ hidden: document.getElementById('error').hidden, text: document.getElementById('error').textContent }));
    const said = [];
    for (const signal of ['-KILL', '-SEGV']) {
      execFileSync('kill', [signal, ...execFileSync('pgrep', ['-P', String(server.child.pid)], { encoding: 'utf8' }).trim().split('\n')]);
      await flightIs(takeoff, 'failed');
      const failed = await error();
      assert.ok(!failed.hidden && failed.text.includes(`killed by signal ${signal === '-KILL' ? 9 : 11}`), `the page says why: ${failed.text}`);
      assert.match(await page.textContent('#status'), /^the flight model failed/);
      said.push(failed.text);
      await page.click('#fly');
      await flightIs(takeoff, 'flying');
      await takeoff.tools.updatesLater(2);
      assert.deepEqual(await error(), { hidden: true, text: '' });
      assert.match(await page.textContent('#status'), /^flying the script/);
    }
    assert.notEqual(said[1], said[0], 'the second failure is told in its own words');
  });
});

// The next status after the `seen`-th, and the controls the page has sent.
const nextStatus = (page, seen) =>
  page.evaluate(
    ([n, patience]) =>
      new Promise((resolve, reject) => {
        const timer = setTimeout(() => reject(new Error('no status in time')), patience);
        const check = () => {
          if (window.live.statuses <= n) return setTimeout(check, 5);
          clearTimeout(timer);
          resolve({ statuses: window.live.statuses, status: window.live.status, controls: window.live.controls });
        };
        check();
      }),
    [seen, kPatience],
  );

// A pilot at the keys: each update, every control the law names is worked
// towards what the law asks of it from the model's figures, as a hand on the
// keys would. The page moves a held key's control out at 1/s. The stick
// stays where it is let go, so its key is held for as long as the move to
// the law's value takes; the rudder comes back at 3/s, so held for d of the
// time T to the next update it goes 1 d out and 3 (T - d) back, and d is
// chosen to end there at the law's value. A key held on until the next
// update instead overshoots by whatever that update is late. Until
// `done(figures, status)`; resolves to the figures then.
const kControlKeys = { elevator: ['ArrowDown', 'ArrowUp'], aileron: ['ArrowLeft', 'ArrowRight'], rudder: ['z', 'x'] };
const [kOut, kBack] = [1, 3];
const kStaying = new Set(['elevator', 'aileron']);
async function fly({ page, model }, law, done) {
  const releases = new Map(); // held key: the timer that lets it go
  const letGo = (key) => {
    if (!releases.has(key)) return;
    clearTimeout(releases.get(key));
    releases.delete(key);
    return page.keyboard.up(key);
  };
  let [period, at] = [0.1, performance.now()];
  try {
    for (let seen = 0; ;) {
      const { statuses, status, controls } = await nextStatus(page, seen);
      seen = statuses;
      [period, at] = [0.8 * period + (0.2 * (performance.now() - at)) / 1000, performance.now()];
      const figures = model(status);
      if (done(figures, status)) return figures;
      const want = law(figures);
      if (want.trim) await page.keyboard.press(want.trim > 0 ? 'PageUp' : 'PageDown');
      for (const [control, [less, more]] of Object.entries(kControlKeys)) {
        const target = Math.max(-1, Math.min(1, want[control] ?? 0));
        const staying = kStaying.has(control);
        const towards = staying ? target - controls[control] : target;
        const [key, other] = towards < 0 ? [less, more] : [more, less];
        await letGo(other);
        const outwards = Math.sign(target) * controls[control];
        const seconds = staying ? Math.min(period, Math.abs(towards) / kOut)
          : Math.min(period, (Math.abs(target) - outwards + kBack * period) / (kOut + kBack));
        if ((!staying && Math.abs(target) < 0.02) || (staying && Math.abs(towards) < 0.01) || seconds < 0.015) {
          await letGo(key);
          continue;
        }
        const down = releases.has(key);
        clearTimeout(releases.get(key));
        releases.set(key, setTimeout(() => letGo(key)?.catch(() => {}), seconds * 1000));
        if (!down) await page.keyboard.down(key);
      }
    }
  } finally {
    for (const key of [...releases.keys()]) await letGo(key);
  }
}

// Stick and ailerons for a pitch attitude with the wings level (positive
// elevator pushes the nose down, positive aileron rolls right).
const attitude = (pitch) => (m) => ({
  elevator: 0.1 * (m.pitch - pitch) + 0.05 * m.pitch_rate,
  aileron: -0.05 * m.bank - 0.02 * m.roll_rate,
});
const headingError = (heading, from) => ((heading - from + 540) % 360) - 180;

test('on keys alone: the engines started, off the runway above 95 kt, a climb, the flaps raised, level on the trim and a turn', { skip }, async () => {
  const runway = await flight('fdm/scripts/free_runway.xml');
  try {
    await openPage(runway);
    const { page, model } = runway;
    for (let engine = 0; engine < 4; ++engine) await startEngine(runway, engine);
    await page.keyboard.press(']'); // take-off flaps
    await page.keyboard.down('Home');
    await page.waitForFunction(() => window.live.status.figures.boost.every((boost) => boost > 10), null, { timeout: kPatience });
    // Stone cold a minute after the start: full power is objected to, by name.
    const warning = await page.textContent('#warning');
    assert.match(warning, /^engine 1 \(oil -?\d+ °C\), 2 .* too cold for more than \+4 boost/, warning);
    const runwayHeading = (await runway.tools.status()).figures.heading;
    let rotated = false, liftOff = null, widest = 0;
    // On three wheels to 97 kt, the rudder (and the tail wheel with it)
    // keeping the heading; then the stick back until the main wheels first
    // leave, and the nose held at a climbing attitude.
    const law = (m) => {
      rotated ||= m.airspeed >= 97;
      return {
        ...attitude(12)(m),
        ...(!rotated ? { elevator: 0 } : m.on_ground && !liftOff ? { elevator: -1 } : {}),
        // Aimed back at the centre line (the run is westwards: north is to
        // the right), as firmly as a pilot on the pedals: above 30 kt the tail
        // wheel castors and the rudder alone holds the swing.
        rudder: Math.max(-1, Math.min(1,
          -(4 * headingError(m.heading, runwayHeading) + 2 * m.yaw_rate + 0.5 * m.sideways) * (Math.PI / 180))),
      };
    };
    const climbed = await fly(runway, law, (m, status) => {
      if (m.on_ground) widest = Math.max(widest, Math.abs(m.sideways));
      else liftOff ??= m;
      return (liftOff && m.height > 60 && status.figures.vertical_speed > 0) || m.time > 90;
    });
    assert.ok(liftOff, `the wheels never left the ground (${climbed.airspeed.toFixed(0)} kt at ${climbed.time.toFixed(0)} s)`);
    assert.ok(liftOff.airspeed > 95, `lift-off at ${liftOff.airspeed.toFixed(1)} kt`);
    assert.ok(widest < 20, `the run kept within ${widest.toFixed(1)} m of the runway's centre line`);
    // Heavy, it climbs away slowly: 60 ft within 45 s of the wheels leaving.
    assert.ok(climbed.height > 60 && climbed.time < liftOff.time + 45,
      `${climbed.height.toFixed(0)} ft up ${(climbed.time - liftOff.time).toFixed(0)} s after lift-off`);

    // On up to 300 ft, then the flaps raised: the nose held where it was, the
    // height kept.
    const wingsLevel = (pitch) => (m) => ({ ...attitude(pitch)(m), rudder: 0 });
    await fly(runway, wingsLevel(8), (m) => m.height > 300 || m.time > climbed.time + 60);
    await page.keyboard.press('[');
    const raisedAt = (await runway.tools.status()).time;
    let lowest = Infinity;
    const raised = await fly(runway, wingsLevel(6), (m) => {
      lowest = Math.min(lowest, m.height);
      return m.time > raisedAt + 15;
    });
    assert.equal(Math.round(raised.flaps), 0, 'the flaps came up');
    assert.ok(lowest > 250, `${lowest.toFixed(0)} ft at the lowest with the flaps coming up`);
    // Levelled off: the nose lowered until the climb stops, the trim wound a
    // notch at a time until the stick is back near the centre. The nose is
    // set a degree for every 150 ft/min climbed or sunk: half that let the
    // aircraft, gathering speed at climb power, sink all the way.
    const levelPitch = (m) => 2 - m.vertical_speed / 150;
    const levelled = await fly(runway, (m) => ({
      ...wingsLevel(levelPitch(m))(m),
      trim: Math.abs(m.elevator) > 0.04 ? Math.sign(m.elevator) : 0,
    }), (m) => (m.time > raised.time + 20 && Math.abs(m.vertical_speed) < 300 && Math.abs(m.elevator) < 0.08) ||
      m.time > raised.time + 90);
    const trimmed = (await runway.tools.status()).trim.elevator;
    assert.ok(Math.abs(levelled.vertical_speed) < 300 && Math.abs(levelled.elevator) < 0.08,
      `levelled at ${levelled.vertical_speed} ft/min with the stick at ${levelled.elevator} (trim ${trimmed})`);
    assert.ok(Math.abs(trimmed) >= 0.02, `the trim wound (${trimmed})`);
    // A turn to starboard at 20 degrees of bank, the height held.
    const turned = await fly(runway, (m) => ({
      elevator: 0.1 * (m.pitch - levelPitch(m)) + 0.05 * m.pitch_rate,
      aileron: -0.05 * (m.bank - 20) - 0.02 * m.roll_rate,
      rudder: 0,
    }), (m) => Math.abs(headingError(m.heading, levelled.heading)) > 30 || m.time > levelled.time + 60);
    assert.ok(headingError(turned.heading, levelled.heading) > 30,
      `turned ${headingError(turned.heading, levelled.heading).toFixed(0)} degrees`);
    assert.ok(turned.height > 200, `${turned.height.toFixed(0)} ft after the turn`);
  } finally {
    await land(runway);
  }
});

// The cruise, hand-flown once the script pilot has let go (25 s of model
// time, its clock running since before()): level again first, whatever the
// last test left.
const timeReaches = ({ page }, t) => page.waitForFunction((at) => window.live.status?.time >= at, t, { timeout: kPatience });
async function levelOff() {
  if (!cruise.page) await openPage(cruise);
  await timeReaches(cruise, 25.5);
  await fly(cruise, attitude(3), (m, status) =>
    Math.abs(m.bank) < 2 && Math.abs(m.pitch - 3) < 2 && Math.abs(status.figures.vertical_speed) < 500);
}

// The key held for `seconds` of model time (none: not pressed), then the
// gauges' pictures, the status they go with and the model's figures then;
// `held` the status as the key was let go.
async function holdFor(key, seconds, gauges) {
  const { page, tools } = cruise;
  const rects = await Promise.all(gauges.map((gauge) => gaugeRect(page, gauge)));
  let held;
  if (key) {
    const from = await page.evaluate(() => window.live.status.time);
    await page.keyboard.down(key);
    await timeReaches(cruise, from + seconds);
    held = await tools.status();
    await page.keyboard.up(key);
  }
  const { status, pictures } = await tools.pictures(rects);
  return { held, status, pictures, model: figuresOf(status) };
}

test('ArrowLeft held banks left: the horizon bar tilts and the turn needle points left, as the model banks', { skip }, async () => {
  await levelOff();
  const gauges = ['Korvane!Attitude', 'Korvane!Turn'];
  const { pictures: [levelHorizon, levelTurn] } = await holdFor(null, 0, gauges);
  const { model: { bank }, pictures: [horizon, turn] } = await holdFor('ArrowLeft', 3, gauges);
  assert.ok(bank < -20, `the model banks ${bank.toFixed(1)} degrees`);
  assert.match(await cruise.page.textContent('#status'), /^hand-flying/);
  // The horizon rolls against the aircraft: its bar's right end goes down.
  const bar = tilt(whiteOnlyIn(horizon, levelHorizon));
  assert.ok(Math.abs(bar - bank) < 5, `the bar tilts ${bar.toFixed(1)} degrees for a bank of ${bank.toFixed(1)}`);
  // The turn needle hangs from the centre to the lower scale.
  const needle = centroid(whiteOnlyIn(turn, levelTurn).filter(({ y }) => y > 0));
  const swing = (Math.atan2(-needle.x, needle.y) * 180) / Math.PI;
  assert.ok(swing > 10, `the turn needle ${swing.toFixed(1)} degrees left of straight down`);
});

test('ArrowDown held raises the vertical speed, ArrowUp held lowers it: the VSI needle and the horizon bar show it', { skip }, async () => {
  await levelOff();
  const gauges = ['Korvane!VSI', 'Korvane!Attitude'];
  // Back first: the dive that full forward stick starts is not pulled out of
  // in 3 s. A heavy bomber pitches a few degrees a second: forward is held
  // until the climb it was given has turned into a descent.
  const back = await holdFor('ArrowDown', 3, gauges);
  const forward = await holdFor('ArrowUp', 6, gauges);
  assert.deepEqual([back.held.controls.elevator, forward.held.controls.elevator], [-1, 1], 'the stick reached back, then forward');
  const [[backVsi, backHorizon], [forwardVsi, forwardHorizon]] = [back.pictures, forward.pictures];
  const [up, down] = [back.status.figures.vertical_speed, forward.status.figures.vertical_speed];
  assert.ok(up > 300 && down < up - 600, `vertical speed ${up} ft/min back, ${down} forward`);
  // The needle reads clockwise from nine o'clock: climbs above it, descents below.
  const [upNeedle, downNeedle] = [whiteOnlyIn(backVsi, forwardVsi), whiteOnlyIn(forwardVsi, backVsi)].map(centroid);
  assert.ok(clockwiseFromLeft(upNeedle) > 30 && clockwiseFromLeft(downNeedle) < -30,
    `the VSI needle at ${clockwiseFromLeft(upNeedle).toFixed(0)} then ${clockwiseFromLeft(downNeedle).toFixed(0)} degrees`);
  // Nose up, the bar drops below the aircraft's mark; the nose lowered, it
  // rises back towards and above it.
  const [upBar, downBar] = [whiteOnlyIn(backHorizon, forwardHorizon), whiteOnlyIn(forwardHorizon, backHorizon)].map(centroid);
  assert.ok(upBar.y > 5 && downBar.y < upBar.y - 10,
    `the horizon bar ${upBar.y.toFixed(0)} then ${downBar.y.toFixed(0)} px below the centre`);
});

// Wheels up onto the runway, the port wing held down (a copy of the belly
// landing in a scratch root): the crash is told and the strip says where
// the aircraft is; the stick indicator is a size a pilot reads, and the
// help names the gamepad's trim. A second page at device scale 2 has the
// picture drawn again for its pixels, the flight going on through it.
test('a crash is told and the page says so; the picture follows a page at device scale 2, the flight going on', { skip }, async () => {
  const scratch = mkdtempSync(path.join(tmpdir(), 'crash-'));
  const hold = '<set name="korvane/pilot/roll-hold" value="1"/>';
  mkdirSync(path.join(scratch, 'scripts'));
  symlinkSync(path.join(root, 'fdm/aircraft'), path.join(scratch, 'aircraft'));
  writeFileSync(path.join(scratch, 'scripts/crash.xml'), readFileSync(path.join(root, 'fdm/scripts/belly_landing.xml'), 'utf8')
    .replace(hold, `<set name="korvane/pilot/bank-deg" value="-40"/>${hold}`));
  const crash = { server: await startServer(['--fdm', path.join(scratch, 'scripts/crash.xml'), '--aircraft-root', scratch,
    '--jsbsim', jsbsim], undefined, []), model: flightTracker() };
  let fine;
  try {
    await openPage(crash);
    const { page } = crash;
    await page.waitForFunction(() => window.live.status.crashed, null, { timeout: kPatience });
    await crash.tools.updatesLater(2);
    const shown = await page.evaluate(() => ({
      status: document.getElementById('status').textContent,
      error: document.getElementById('error').textContent,
      height: document.querySelector('[data-figure="height"]').textContent,
      indicator: document.getElementById('controls').getBoundingClientRect(),
    }));
    assert.match(shown.status, /^crashed ·/);
    assert.equal(shown.error, 'crashed: the port wing tip struck the ground');
    assert.equal(shown.height, 'HGTon the ground');
    assert.ok(shown.indicator.width >= 48 && shown.indicator.height >= 48,
      `the stick indicator ${shown.indicator.width}×${shown.indicator.height} CSS px`);
    await page.keyboard.press('?');
    assert.match(await page.evaluate(() => document.getElementById('help').innerText),
      /Gamepad\s+[^\n]*Direction pad: elevator trim/);
    await page.keyboard.press('?');

    // Long enough after the crash that a flight started again would show an earlier time.
    await page.waitForFunction(() => window.live.status.time >= 4, null, { timeout: kPatience });
    const [time, width] = await page.evaluate(() => [window.live.status.time, document.getElementById('panel').width]);
    fine = await browser.newPage({ viewport: { width: 1400, height: 800 }, deviceScaleFactor: 2 });
    await fine.goto(`http://127.0.0.1:${crash.server.port}/`);
    for (const each of [page, fine]) {
      await each.waitForFunction((w) => document.getElementById('panel').width === 2 * w, width, { timeout: kPatience });
    }
    await fine.waitForFunction(() => window.live.status?.crashed, null, { timeout: kPatience });
    const after = await fine.evaluate(() => {
      const indicator = document.getElementById('controls');
      return { time: window.live.status.time, backing: indicator.width / indicator.getBoundingClientRect().width };
    });
    assert.ok(after.time >= time, `the flight went on (${time.toFixed(2)} s, then ${after.time.toFixed(2)} s)`);
    assert.equal(after.backing, 2, 'the indicator is drawn at the device pixels too');
  } finally {
    await fine?.close();
    await land(crash);
    rmSync(scratch, { recursive: true, force: true });
  }
});
