// The picture of the live page for the README, taken by hand:
//   node tests/web/page_picture.mjs docs/serve_page.jpg
// The page 1880 pixels wide (the panel's own width) once the panel is drawn.
import { chromium } from 'playwright-core';
import { startServer, stopServer, kPatience } from './serve.mjs';

const out = process.argv[2];
if (!out || !/\.(png|jpe?g)$/.test(out)) throw new Error('give the picture to write, a .png or .jpg file');
const server = await startServer();
const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--headless=new', '--disable-dev-shm-usage', '--disable-gpu'],
});
try {
  const page = await browser.newPage({ viewport: { width: 1880, height: 800 } });
  await page.goto(`http://127.0.0.1:${server.port}/`);
  await page.waitForFunction(() => window.live.frames >= 1 && window.live.statuses >= 3, null, { timeout: kPatience });
  await page.evaluate(() => window.live.settled());
  const jpeg = /\.jpe?g$/.test(out);
  await page.screenshot({ path: out, fullPage: true, type: jpeg ? 'jpeg' : 'png', ...(jpeg ? { quality: 80 } : {}) });
} finally {
  await browser.close();
  await stopServer(server);
}
