// The layout editor in a real browser: gaugebench serve --edit on a copy of
// the shipped panel, gauges dragged, resized, nudged, selected, snapped,
// added and removed, a window changed, undone and redone, and saved.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { copyFileSync, mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { root, gaugebench, modules, kPatience, startServer, stopServer } from './serve.mjs';

const work = mkdtempSync(path.join(tmpdir(), 'layout-editor-'));
const panelFile = path.join(work, 'panel.cfg');
copyFileSync(path.join(root, 'panel/panel.cfg'), panelFile);
const original = readFileSync(panelFile);

let server;
let browser;
let page;

before(async () => {
  server = await startServer(['--edit', '--scale', '1'], undefined, [panelFile]);
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--headless=new', '--disable-dev-shm-usage', '--disable-gpu'],
  });
  page = await browser.newPage({ viewport: { width: 1400, height: 800 } });
  await page.goto(`http://127.0.0.1:${server.port}/`);
  await page.waitForFunction(() => window.live.editor?.on && window.live.frames > 0, null, { timeout: kPatience });
});

after(async () => {
  await browser?.close();
  if (server) await stopServer(server);
});

const frame = (name) => page.locator(`[data-gauge="${name}"]`);
const gaugeOf = (name) => page.evaluate((n) => window.live.editor.model.gauges.find((g) => g.name === n), name);
const unitsPerPixel = () => page.evaluate(() => {
  const canvas = document.getElementById('panel');
  return canvas.width / canvas.getBoundingClientRect().width / window.live.editor.scale;
});

async function drag(from, dx, dy, { steps = 8, modifier } = {}) {
  if (modifier) await page.keyboard.down(modifier);
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  await page.mouse.move(from.x + dx, from.y + dy, { steps });
  await page.mouse.up();
  if (modifier) await page.keyboard.up(modifier);
}
async function centre(name) {
  const box = await frame(name).boundingBox();
  return { x: box.x + box.width / 2, y: box.y + box.height / 2, box };
}

// Saves with Ctrl+S and waits for the server's answer.
async function saveWithKeys() {
  const before = await page.evaluate(() => window.live.editor.saves);
  await page.keyboard.press('Control+s');
  await page.waitForFunction((old) => window.live.editor.saves > old, before);
  return page.evaluate(() => window.live.editor.lastSave);
}

// Back to the file as loaded: every step undone.
async function undoAll() {
  await page.evaluate(() => document.activeElement?.blur());
  for (let i = 0; i < 50 && await page.evaluate(() => window.live.editor.history.length); ++i) {
    await page.keyboard.press('Control+z');
  }
}

function changedLines(before, after) {
  const a = before.toString('latin1').split('\n');
  const b = after.toString('latin1').split('\n');
  assert.equal(b.length, a.length, 'the number of lines changed');
  return a.flatMap((line, i) => (line === b[i] ? [] : [[line, b[i]]]));
}

function render(file) {
  const out = `${file}.png`;
  execFileSync(gaugebench, ['render', file, '-o', out, '--no-progress', ...modules]);
  return readFileSync(out);
}

test('Airspeed dragged 60 px right and saved changes its x alone; undone and saved gives the file back', async () => {
  const units = await unitsPerPixel();
  const { x, y } = await centre('Korvane!Airspeed');
  await drag({ x, y }, 60, 0);
  const answer = await saveWithKeys();
  assert.equal(answer.ok, true, answer.why);
  const saved = readFileSync(panelFile);
  const [[was, now]] = changedLines(original, saved);
  assert.equal(was, 'gauge00=Korvane!Airspeed, 40, 36, 220');
  const moved = /^gauge00=Korvane!Airspeed, ([\d.]+), 36, 220$/.exec(now);
  assert.ok(moved, now);
  assert.ok(Math.abs(Number(moved[1]) - (40 + 60 * units)) <= 0.25, `${now}: 60 px are ${60 * units} units`);
  assert.equal(readFileSync(`${panelFile}.bak`, 'latin1'), original.toString('latin1'));

  // The editor's file and the same position written by hand draw alike.
  const byHand = path.join(work, 'by_hand.cfg');
  writeFileSync(byHand, original.toString('latin1')
    .replace('gauge00=Korvane!Airspeed, 40, 36, 220', `gauge00=Korvane!Airspeed,${moved[1]}0,36 ,220`), 'latin1');
  assert.ok(render(panelFile).equals(render(byHand)), 'the saved panel and the hand-edited one draw differently');

  await page.keyboard.press('Control+z');
  assert.equal((await saveWithKeys()).ok, true);
  assert.equal(readFileSync(panelFile, 'latin1'), original.toString('latin1'));
});

// Each gesture from the file as loaded, what it does to the page's layout.
const gestures = [
  {
    what: 'a corner dragged resizes, keeping the shape; with Shift the height is its own',
    async run() {
      await frame('Korvane!Clock').click();
      const { box } = await centre('Korvane!Clock');
      await drag({ x: box.x + box.width - 2, y: box.y + box.height - 2 }, 30, 0);
      const kept = await gaugeOf('Korvane!Clock');
      const { box: now } = await centre('Korvane!Clock');
      await drag({ x: now.x + now.width - 2, y: now.y + now.height - 2 }, 0, 40, { modifier: 'Shift' });
      return { kept, free: await gaugeOf('Korvane!Clock') };
    },
    check({ kept, free }, units) {
      assert.ok(Math.abs(kept.width - (170 + 30 * units)) <= 1, `width ${kept.width}`);
      assert.equal(kept.height, null, 'the height left to the bitmap');
      assert.ok(free.height > kept.width + 30 * units, `height ${free.height}`);
    },
  },
  {
    what: 'arrow keys nudge the selection a unit, ten with Shift',
    async run() {
      await frame('Korvane!VSI').click();
      await page.keyboard.press('ArrowRight');
      await page.keyboard.press('Shift+ArrowDown');
      return gaugeOf('Korvane!VSI');
    },
    check: (vsi) => assert.deepEqual([vsi.x, vsi.y], [521, 46]),
  },
  {
    what: 'Shift-click adds to the selection, and the selection moves together',
    async run() {
      await frame('Korvane!Altimeter').click();
      await frame('Korvane!Turn').click({ modifiers: ['Shift'] });
      const { x, y } = await centre('Korvane!Altimeter');
      await drag({ x, y }, 0, 20, { modifier: 'Alt' });
      return [await gaugeOf('Korvane!Altimeter'), await gaugeOf('Korvane!Turn')];
    },
    check([altimeter, turn]) {
      assert.ok(altimeter.y > 276, `altimeter at ${altimeter.y}`);
      assert.equal(turn.y - 276, altimeter.y - 276);
      assert.equal(turn.x, 520);
    },
  },
  {
    what: 'a band drawn across the engine-1 dials selects those it touches',
    async run() {
      const a = (await centre('Korvane!Oil_Temperature1')).box;
      const b = (await centre('Korvane!Radiator_Temperature1')).box;
      // From below the dials, up into them.
      await drag({ x: a.x + 2, y: b.y + b.height + 6 }, b.x + b.width - a.x - 4, -12);
      return page.evaluate(() => [...document.querySelectorAll('.frame.selected')].map((f) => f.dataset.gauge).sort());
    },
    check: (names) => assert.deepEqual(names,
      ['Korvane!Oil_Pressure1', 'Korvane!Oil_Temperature1', 'Korvane!Radiator_Temperature1']),
  },
  {
    what: 'a gauge dragged near another\'s edge snaps onto it and shows the guide',
    async run() {
      // The compass (x 770) brought within a few pixels of the direction finder's left edge (765).
      const units = await unitsPerPixel();
      const { x, y } = await centre('Korvane!Compass');
      await page.mouse.move(x, y);
      await page.mouse.down();
      await page.mouse.move(x - 3 / units - 2, y, { steps: 4 });
      const guides = await page.locator('.guide[data-axis="x"]').count();
      await page.mouse.up();
      return { guides, compass: await gaugeOf('Korvane!Compass') };
    },
    check: ({ guides, compass }) => {
      assert.ok(guides >= 1, 'no guide shown');
      assert.equal(compass.x, 765);
    },
  },
  {
    what: 'a gauge added from the modules\' list gets the next number and a frame; Delete removes it',
    async run() {
      await page.selectOption('#add-gauge', 'Korvane!Clock');
      await page.click('#add');
      const added = await page.evaluate(() => window.live.editor.model.gauges.at(-1));
      await page.locator(`[data-key="${added.key}"]`).waitFor();
      await page.keyboard.press('Delete');
      const left = await page.locator(`[data-key="${added.key}"]`).count();
      return { added, left };
    },
    check: ({ added, left }) => {
      assert.equal(added.name, 'Korvane!Clock');
      assert.match(added.key, /^gauge\d\d$/);
      assert.equal(left, 0);
    },
  },
  {
    what: 'the window\'s size, position, visibility and background change in the side panel',
    async run() {
      await page.fill('#window-width', '1900');
      await page.press('#window-width', 'Enter');
      await page.selectOption('#window-position', '4');
      await page.fill('#window-background', '#102030');
      await page.click('#window-visible');
      return page.evaluate(() => window.live.editor.model.windows[0]);
    },
    check: (w) => assert.deepEqual([w.size_mm, w.position, w.background, w.visible], [[1900, 900], 4, [16, 32, 48], false]),
  },
];

test('gestures change the layout; each is undone with Ctrl+Z and redone with Ctrl+Y', async () => {
  const units = await unitsPerPixel();
  const loaded = await page.evaluate(() => JSON.stringify(window.live.editor.model));
  for (const gesture of gestures) {
    await page.evaluate(() => document.activeElement?.blur());
    await page.keyboard.press('Escape');
    const result = await gesture.run();
    gesture.check(result, units);
    const steps = await page.evaluate(() => window.live.editor.history.length);
    const changed = await page.evaluate(() => JSON.stringify(window.live.editor.model));
    await undoAll();
    assert.equal(await page.evaluate(() => JSON.stringify(window.live.editor.model)), loaded, gesture.what);
    for (let i = 0; i < steps; ++i) await page.keyboard.press(i % 2 ? 'Control+Shift+z' : 'Control+y');
    assert.equal(await page.evaluate(() => JSON.stringify(window.live.editor.model)), changed, gesture.what);
    await undoAll();
  }
  // Every change undone, the file saved is the file loaded.
  assert.equal((await saveWithKeys()).ok, true);
  assert.equal(readFileSync(panelFile, 'latin1'), original.toString('latin1'));
});

test('a file changed on disk since it was loaded is overwritten only when the user says so', async () => {
  const byHand = `${original.toString('latin1')}// changed by hand\n`;
  writeFileSync(panelFile, byHand, 'latin1');
  page.once('dialog', (dialog) => dialog.dismiss());
  assert.equal((await saveWithKeys()).changed_on_disk, true);
  assert.match(await page.textContent('#save-status'), /not saved: .*changed on disk/);
  assert.equal(readFileSync(panelFile, 'latin1'), byHand);

  page.once('dialog', (dialog) => dialog.accept());
  const saves = await page.evaluate(() => window.live.editor.saves);
  await page.keyboard.press('Control+s');
  // Refused, asked, then overwritten.
  await page.waitForFunction((n) => window.live.editor.saves === n + 2, saves);
  assert.equal(await page.evaluate(() => window.live.editor.lastSave.ok), true);
  assert.equal(readFileSync(panelFile, 'latin1'), original.toString('latin1'));
  assert.equal(readFileSync(`${panelFile}.bak`, 'latin1'), byHand);
});
