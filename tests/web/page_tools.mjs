// What the browser tests ask of the live page: frames, updates and status,
// a mouse box's place on the page, and the canvas's pixels.
import { kPatience } from './serve.mjs';

export function pageTools(page) {
  const waitFrames = (count) =>
    page.waitForFunction((n) => window.live.frames >= n, count, { timeout: kPatience });

  // At least `count` more updates reported (a frame comes only when the
  // picture changed), and every frame received drawn.
  async function updatesLater(count) {
    const now = await page.evaluate(() => window.live.statuses);
    await page.waitForFunction((n) => window.live.statuses >= n, now + count, { timeout: kPatience });
    await page.evaluate(() => window.live.settled());
  }

  const status = () => page.evaluate(() => window.live.status);

  // A box of the layout in page (CSS) coordinates: its centre, through the
  // canvas's displayed rectangle.
  async function boxOnPage(gaugeName, childIndex) {
    return page.evaluate(
      ([name, index]) => {
        const gauge = window.live.layout.gauges.find((g) => g.name === name);
        const box = gauge.boxes.filter((b) => b.child)[index];
        const canvas = document.getElementById('panel');
        const shown = canvas.getBoundingClientRect();
        const sx = shown.width / canvas.width;
        const sy = shown.height / canvas.height;
        return {
          gauge,
          box,
          x: shown.left + ((box.left + box.right) / 2) * sx,
          y: shown.top + ((box.top + box.bottom) / 2) * sy,
          height: (box.bottom - box.top) * sy,
        };
      },
      [gaugeName, childIndex],
    );
  }

  // The canvas's pixels in a panel rectangle, as one string to compare.
  const pixels = (box) =>
    page.evaluate(async (b) => {
      await window.live.settled();
      const data = document.getElementById('panel').getContext('2d')
        .getImageData(b.left, b.top, b.right - b.left, b.bottom - b.top).data;
      let hash = 0;
      for (let i = 0; i < data.length; ++i) hash = (hash * 31 + data[i]) | 0;
      return hash;
    }, box);

  return { waitFrames, updatesLater, status, boxOnPage, pixels };
}
