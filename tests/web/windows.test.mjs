// A window per screen: a page shows the whole panel or one of its windows
// (/?window=NN, or the chooser), fitted to its own screen, and every page
// shows the one simulation.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { kPatience, startServer, stopServer } from './serve.mjs';

let server;
let browser;

// Two windows, a gauge each; stacked, as windows without a position are.
const kPanel = `[Window Titles]
Window00=Speed
Window01=Height

[Window00]
size_mm=300,300
gauge00=Korvane!Airspeed, 40, 40, 220

[Window01]
size_mm=300,300
gauge00=Korvane!Altimeter, 40, 40, 220
`;

before(async () => {
  const folder = mkdtempSync(path.join(tmpdir(), 'windows-'));
  const panel = path.join(folder, 'two_windows.cfg');
  writeFileSync(panel, kPanel);
  server = await startServer([], undefined, [panel]);
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--headless=new', '--disable-dev-shm-usage', '--disable-gpu'],
  });
});

after(async () => {
  await browser?.close();
  if (server) await stopServer(server);
});

async function open(address, viewport) {
  const page = await browser.newPage({ viewport });
  await page.goto(`http://127.0.0.1:${server.port}${address}`);
  await page.waitForFunction(() => window.live.frames >= 1 && window.live.status, null, { timeout: kPatience });
  return page;
}

// The panel pixels the page shows (the stage's rectangle through the
// canvas's), the gauges in them, and the stage's size on the page.
const shown = (page) => page.evaluate(() => {
  const canvas = document.getElementById('panel');
  const box = canvas.getBoundingClientRect();
  const stage = document.getElementById('stage').getBoundingClientRect();
  const scale = box.width / canvas.width;
  const part = {
    left: Math.round((stage.left - box.left) / scale), top: Math.round((stage.top - box.top) / scale),
    right: Math.round((stage.right - box.left) / scale), bottom: Math.round((stage.bottom - box.top) / scale),
  };
  const gauges = window.live.layout.gauges
    .filter((g) => g.left < part.right && g.right > part.left && g.top < part.bottom && g.bottom > part.top)
    .map((g) => g.name);
  return { part, gauges, stage: { width: stage.width, height: stage.height }, windows: window.live.layout.windows };
});

test('?window=00 shows that window alone, fitted to its screen; the chooser shows the whole panel', async () => {
  const page = await open('/?window=00', { width: 700, height: 900 });
  const { part, gauges, stage, windows } = await shown(page);
  assert.deepEqual(windows.map((w) => [w.id, w.title]), [['00', 'Speed'], ['01', 'Height']]);
  const { left, top, right, bottom } = windows[0];
  assert.deepEqual(part, { left, top, right, bottom });
  assert.deepEqual(gauges, ['Korvane!Airspeed']);
  assert.ok(Math.abs(stage.width - 700) < 20, `the window fills the screen's width: ${stage.width}`);

  await page.selectOption('#window-choice', '');
  const whole = await shown(page);
  assert.deepEqual(whole.gauges, ['Korvane!Airspeed', 'Korvane!Altimeter']);
  assert.equal(new URL(page.url()).search, '');
  await page.close();
});

test('two pages, one window each, show the one simulation in step', async () => {
  const [speed, height] = await Promise.all([
    open('/?window=00', { width: 400, height: 400 }), open('/?window=01', { width: 900, height: 900 })]);
  assert.deepEqual((await shown(height)).gauges, ['Korvane!Altimeter']);
  // Paused from one page, both hold the same moment of the same run.
  await speed.keyboard.press('p');
  const held = (page) => page.waitForFunction(() => window.live.status.paused, null, { timeout: kPatience })
    .then(() => page.evaluate(async () => {
      const first = window.live.status.time;
      await new Promise((resolve) => setTimeout(resolve, 300));
      return [first, window.live.status.time];
    }));
  const [[a1, a2], [b1, b2]] = await Promise.all([held(speed), held(height)]);
  assert.equal(a1, a2, 'the pause holds the clock');
  assert.equal(a2, b2, 'both pages show the same moment');
  await speed.keyboard.press('p');
  await Promise.all([speed.close(), height.close()]);
});
