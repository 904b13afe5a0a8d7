// The live panel flown by JSBSim (the take-off script, engines stopped on the
// runway): the panel's own switches start an engine in the model, and its
// throttle opens it. Skipped, saying so, where JSBSim is not installed.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync } from 'node:fs';
import { chromium } from 'playwright-core';
import { jsbsim, kPatience, startServer, stopServer } from './serve.mjs';
import { pageTools } from './page_tools.mjs';

const skip = existsSync(jsbsim) ? false : `JSBSim is not installed at ${jsbsim} (scripts/install-deps.sh installs it)`;

let server;
let browser;
let page;
let tools;

before(async () => {
  if (skip) return;
  server = await startServer(['--fdm', 'fdm/scripts/takeoff.xml', '--jsbsim', jsbsim], undefined, []);
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--headless=new', '--disable-dev-shm-usage', '--disable-gpu'],
  });
  page = await browser.newPage({ viewport: { width: 1400, height: 800 } });
  tools = pageTools(page);
  await page.goto(`http://127.0.0.1:${server.port}/`);
  await tools.waitFrames(1);
  await page.waitForFunction(() => window.live.status?.flight === 'flying', null, { timeout: kPatience });
});

after(async () => {
  await browser?.close();
  if (server) await stopServer(server);
});

// The list index of the `rank`-th child box of a gauge, left to right and
// top to bottom: switches and levers are laid out by engine.
const nthBox = (gaugeName, rank) =>
  page.evaluate(
    ([name, n]) => {
      const boxes = window.live.layout.gauges.find((g) => g.name === name).boxes.filter((b) => b.child);
      const order = boxes.map((b, i) => i).sort((a, b) => boxes[a].left - boxes[b].left || boxes[a].top - boxes[b].top);
      return order[n];
    },
    [gaugeName, rank],
  );

const gaugeRect = (name) => page.evaluate((n) => window.live.layout.gauges.find((g) => g.name === n), name);

async function click(gaugeName, rank) {
  const { x, y } = await tools.boxOnPage(gaugeName, await nthBox(gaugeName, rank));
  await page.mouse.click(x, y);
  await tools.updatesLater(2);
}

test('both magnetos on and the starter held start engine 3 in the model; its rpm needle rises', { skip }, async () => {
  const tachometer = await gaugeRect('Korvane!Tachometer3');
  const stopped = await tools.pixels(tachometer);
  assert.equal((await tools.status()).rpm[2], 0);
  await click('Korvane!Magneto_Switch', 4);
  await click('Korvane!Magneto_Switch', 5);
  await click('Korvane!Starter_Switch', 4); // arm
  const { x, y } = await tools.boxOnPage('Korvane!Starter_Switch', await nthBox('Korvane!Starter_Switch', 5));
  await page.mouse.move(x, y);
  await page.mouse.down();
  await page.waitForFunction(() => window.live.status.running[2], null, { timeout: kPatience });
  await page.mouse.up();
  // Caught at its firing speed, it runs up past any cranking speed to its idle.
  await page.waitForFunction(() => window.live.status.rpm[2] > 300, null, { timeout: kPatience });
  const now = await tools.status();
  assert.deepEqual([now.running[0], now.running[1], now.running[3]], [false, false, false], 'no other engine runs');
  assert.notEqual(await tools.pixels(tachometer), stopped, 'the tachometer shows it');
});

test('the throttle dragged open moves its lever and the boost needle', { skip }, async () => {
  const boost = await gaugeRect('Korvane!Boost3');
  const { x, y, height, box } = await tools.boxOnPage('Korvane!Throttle', await nthBox('Korvane!Throttle', 2));
  await tools.updatesLater(4);
  const [needle, lever, manifold] = [await tools.pixels(boost), await tools.pixels(box), (await tools.status()).manifold_inhg[2]];
  await page.mouse.move(x, y);
  await page.mouse.down();
  for (let step = 1; step <= 6; ++step) await page.mouse.move(x, y - (step * height) / 10);
  await page.mouse.up();
  await tools.updatesLater(36);
  assert.notEqual(await tools.pixels(box), lever, 'the lever moved');
  const opened = (await tools.status()).manifold_inhg[2];
  assert.ok(opened > manifold + 3, `the model's manifold pressure rose from ${manifold} to ${opened} inHg`);
  assert.notEqual(await tools.pixels(boost), needle, 'the boost needle followed');
});

// Hand-flying the free cruise from the keyboard: once the script pilot has
// let go (25 s of model time, the model's clock starting with the page),
// the stick held back for 3 s climbs, held forward after it dives.
test('ArrowDown held raises the vertical speed, ArrowUp held lowers it', { skip }, async () => {
  const cruise = await startServer(['--fdm', 'fdm/scripts/free_cruise.xml', '--jsbsim', jsbsim], undefined, []);
  const flying = await browser.newPage({ viewport: { width: 1400, height: 800 } });
  try {
    await flying.goto(`http://127.0.0.1:${cruise.port}/`);
    const timeReaches = (t) =>
      flying.waitForFunction((at) => window.live.status?.time >= at, t, { timeout: kPatience });
    const verticalSpeed = () => flying.evaluate(() => window.live.status.vertical_speed_fpm);
    await timeReaches(25.5);
    const holdFor3s = async (key) => {
      const from = await flying.evaluate(() => window.live.status.time);
      await flying.keyboard.down(key);
      await timeReaches(from + 3);
      await flying.keyboard.up(key);
      return verticalSpeed();
    };
    // Back first: the dive that full forward stick starts is not pulled out of in 3 s.
    const back = await holdFor3s('ArrowDown');
    assert.equal(await flying.evaluate(() => window.live.status.controls.elevator), -1, 'the stick reached back');
    const forward = await holdFor3s('ArrowUp');
    assert.ok(back > 300 && forward < back - 600, `vertical speed ${back} ft/min back, ${forward} forward`);
    await flying.waitForFunction(() => window.live.controls.elevator === 0, null, { timeout: kPatience });
  } finally {
    await flying.close();
    await stopServer(cruise);
  }
});
