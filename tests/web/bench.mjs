// The live panel's benchmark, run by hand (not a test):
//   node tests/web/bench.mjs [--pages 4] [--seconds 60] [--clicks 20]
// Several headless chromium pages at the panel's own size watch one
// gaugebench serve; prints the pictures each page received per second (a
// status with each, a frame too when the picture changed), the
// server's CPU share (from /proc/<pid>/stat over the run; 100% is one core)
// and the click-to-screen latency: from the press on the altimeter's knob,
// timed in the page, to the first frame drawn whose pressure-setting window
// differs.
import { readFileSync } from 'node:fs';
import { parseArgs } from 'node:util';
import { chromium } from 'playwright-core';
import { startServer, stopServer, kPatience } from './serve.mjs';

const { values } = parseArgs({
  options: {
    pages: { type: 'string', default: '4' },
    seconds: { type: 'string', default: '60' },
    clicks: { type: 'string', default: '20' },
  },
});
const pageCount = Number(values.pages);
const seconds = Number(values.seconds);
const clicks = Number(values.clicks);
for (const [name, value] of [['--pages', pageCount], ['--seconds', seconds], ['--clicks', clicks]]) {
  if (!Number.isInteger(value) || value < 1) throw new Error(`${name} takes a whole number from 1 up`);
}

const kTicks = 100; // USER_HZ, the unit of /proc/<pid>/stat's times
function cpuSeconds(pid) {
  // Fields after the command's closing parenthesis: utime and stime are the 14th and 15th of the line.
  const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / kTicks;
}

const percentile = (sorted, p) => sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// In the page: the pressure-setting window's pixels as one number, and a
// watcher that times a press to the first frame drawn that changed them
// (the same window as the browser tests' drumWindow).
function installLatencyProbe() {
  const gauge = window.live.layout.gauges.find((g) => g.name === 'Korvane!Altimeter');
  const knob = gauge.boxes.find((b) => !b.child && b.help === 0xa034);
  const scale = (knob.right - knob.left) / 36;
  const win = { x: Math.floor(gauge.left + 102 * scale), y: Math.floor(gauge.top + 214 * scale) };
  win.w = Math.ceil(gauge.left + 177 * scale) - win.x;
  win.h = Math.ceil(gauge.top + 241 * scale) - win.y;
  const context = document.getElementById('panel').getContext('2d');
  const hash = () => {
    const data = context.getImageData(win.x, win.y, win.w, win.h).data;
    let h = 0;
    for (let i = 0; i < data.length; ++i) h = (h * 31 + data[i]) | 0;
    return h;
  };
  const child = gauge.boxes.filter((b) => b.child)[1];
  const canvas = document.getElementById('panel');
  const shown = canvas.getBoundingClientRect();
  window.probe = {
    latencies: [],
    point: {
      x: shown.left + ((child.left + child.right) / 2) * (shown.width / canvas.width),
      y: shown.top + ((child.top + child.bottom) / 2) * (shown.height / canvas.height),
    },
  };
  canvas.addEventListener('pointerdown', async () => {
    const start = performance.now();
    await window.live.settled();
    const before = hash();
    let frames = window.live.frames;
    while (performance.now() - start < 10_000) {
      await new Promise((resolve) => setTimeout(resolve, 2));
      if (window.live.frames === frames) continue;
      frames = window.live.frames;
      await window.live.settled();
      if (hash() !== before) {
        window.probe.latencies.push(performance.now() - start);
        return;
      }
    }
  }, true);
}

const server = await startServer(['--client-timeout', '10']);
const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--headless=new', '--disable-dev-shm-usage', '--disable-gpu',
    '--disable-background-timer-throttling', '--disable-renderer-backgrounding'],
});
try {
  const pages = [];
  for (let i = 0; i < pageCount; ++i) {
    const page = await browser.newPage({ viewport: { width: 1920, height: 1000 } });
    await page.goto(`http://127.0.0.1:${server.port}/`);
    pages.push(page);
  }
  for (const page of pages) await page.waitForFunction(() => window.live.frames >= 1, null, { timeout: kPatience });
  const clicker = pages[0];
  await clicker.evaluate(installLatencyProbe);
  const point = await clicker.evaluate(() => window.probe.point);

  const counts = () => Promise.all(pages.map((p) => p.evaluate(() => [window.live.statuses, window.live.frames])));
  const atStart = await counts();
  const cpuAtStart = cpuSeconds(server.child.pid);
  const started = performance.now();
  // The clicks spread over the run; a wait of random length keeps them off
  // the server's frame rhythm.
  const gap = (seconds * 1000) / clicks;
  for (let i = 0; i < clicks; ++i) {
    await sleep(gap * (0.5 + Math.random() * 0.5));
    await clicker.mouse.click(point.x, point.y);
    await sleep(gap * 0.5 * Math.random());
  }
  while (performance.now() - started < seconds * 1000) await sleep(100);
  const elapsed = (performance.now() - started) / 1000;
  const cpu = (cpuSeconds(server.child.pid) - cpuAtStart) / elapsed;
  const atEnd = await counts();
  await sleep(2000); // the last click's frame
  const latencies = (await clicker.evaluate(() => window.probe.latencies)).sort((a, b) => a - b);

  console.log(`${pageCount} pages, ${elapsed.toFixed(1)} s, ${clicks} clicks on the altimeter knob`);
  const rate = (k) => atEnd.map((c, i) => ((c[k] - atStart[i][k]) / elapsed).toFixed(1)).join(', ');
  console.log(`pictures per second each page received: ${rate(0)}; of them frames of changes drawn: ${rate(1)}`);
  console.log(`server CPU: ${(cpu * 100).toFixed(0)}% of one core`);
  if (latencies.length === 0) console.log('click to screen: no click showed on the screen');
  else {
    console.log(`click to screen (${latencies.length} of ${clicks} seen): p50 ${percentile(latencies, 50).toFixed(0)} ms,` +
      ` p95 ${percentile(latencies, 95).toFixed(0)} ms`);
  }
  const last = await clicker.evaluate(() => window.live.status);
  console.log(`the server's last status: ${last.pictures} pictures/s, ${Math.round(last.rate * 100)}% of real time`);
} finally {
  await browser.close();
  await stopServer(server);
  // The server's own figures, as it printed them on ending.
  const figures = server.output().split('\n').filter((l) => /: \d+, [\d.]+ ms/.test(l));
  const lastSet = figures.lastIndexOf(figures.findLast((l) => l.includes('whole pictures')));
  console.log(figures.slice(lastSet).join('\n'));
}
