// The picture of the live page for the README, taken by hand:
//   node tests/web/page_picture.mjs docs/serve_page.jpg
// The page at 1920×950, JSBSim flying the free cruise, once the panel is
// drawn, the flight strip filled and the engines, which catch in the first
// seconds, run.
import { chromium } from 'playwright-core';
import { jsbsim, startServer, stopServer, kPatience } from './serve.mjs';

const out = process.argv[2];
if (!out || !/\.(png|jpe?g)$/.test(out)) throw new Error('give the picture to write, a .png or .jpg file');
const server = await startServer(['--fdm', 'fdm/scripts/free_cruise.xml', '--jsbsim', jsbsim], undefined, []);
const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--headless=new', '--disable-dev-shm-usage', '--disable-gpu'],
});
try {
  const page = await browser.newPage({ viewport: { width: 1920, height: 950 } });
  await page.goto(`http://127.0.0.1:${server.port}/`);
  await page.waitForFunction(() => window.live.frames >= 1 && window.live.statuses >= 3, null, { timeout: kPatience });
  await page.waitForFunction(() => window.live.status.running?.every(Boolean) && window.live.status.time >= 8, null,
    { timeout: kPatience });
  // The oil starts at the air's temperature (this JSBSim cannot start an
  // engine warm) and the cruise's boost is near the cold limit: a moment
  // without the warning, if one comes soon.
  await page.waitForFunction(() => document.getElementById('warning').hidden, null, { timeout: 30_000 }).catch(() => {});
  await page.evaluate(() => window.live.settled());
  const jpeg = /\.jpe?g$/.test(out);
  await page.screenshot({ path: out, type: jpeg ? 'jpeg' : 'png', ...(jpeg ? { quality: 80 } : {}) });
} finally {
  await browser.close();
  await stopServer(server);
}
