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

  // The canvas's RGBA bytes in panel rectangles, to find what moved, and the
  // status of the update they show: the last one when asked, its frames
  // drawn (which under load may take a while).
  async function pictures(boxes) {
    const taken = await page.evaluate(async (rects) => {
      const status = window.live.status;
      await window.live.settled();
      const context = document.getElementById('panel').getContext('2d');
      return {
        status,
        pictures: rects.map((b) => {
          const { data } = context.getImageData(b.left, b.top, b.right - b.left, b.bottom - b.top);
          let text = '';
          for (let i = 0; i < data.length; i += 0x8000) text += String.fromCharCode(...data.subarray(i, i + 0x8000));
          return btoa(text);
        }),
      };
    }, boxes);
    const pictures = taken.pictures.map((bytes, i) => ({
      width: boxes[i].right - boxes[i].left,
      height: boxes[i].bottom - boxes[i].top,
      data: Buffer.from(bytes, 'base64'),
    }));
    return { status: taken.status, pictures };
  }

  return { waitFrames, updatesLater, status, boxOnPage, pixels, pictures };
}

// Needles, bars and pointers are drawn near white on dark faces; orange
// marks and grey scales are not counted.
const kWhite = 170;
const white = (data, i) => data[i] > kWhite && data[i + 1] > kWhite && data[i + 2] > kWhite;

// The white pixels of picture `now` that are not white in `before`: what
// moved there, as offsets from the picture's centre (y down).
export function whiteOnlyIn(now, before) {
  const points = [];
  for (let y = 0; y < now.height; ++y) {
    for (let x = 0; x < now.width; ++x) {
      const i = 4 * (y * now.width + x);
      if (white(now.data, i) && !white(before.data, i)) points.push({ x: x - now.width / 2, y: y - now.height / 2 });
    }
  }
  return points;
}

export function centroid(points) {
  const sum = points.reduce((s, p) => ({ x: s.x + p.x, y: s.y + p.y }), { x: 0, y: 0 });
  return { x: sum.x / points.length, y: sum.y / points.length, count: points.length };
}

// The direction of a needle whose moved pixels these are, in degrees
// clockwise from pointing left (-180..180): a dial's zero at nine o'clock.
export const clockwiseFromLeft = ({ x, y }) => (Math.atan2(-y, -x) * 180) / Math.PI;

// The tilt of a bar drawn by these pixels, in degrees (-90..90), its right
// end up positive: the principal axis of the points.
export function tilt(points) {
  const c = centroid(points);
  let xx = 0, yy = 0, xy = 0;
  for (const { x, y } of points) {
    xx += (x - c.x) ** 2;
    yy += (y - c.y) ** 2;
    xy += (x - c.x) * (y - c.y);
  }
  return (-0.5 * Math.atan2(2 * xy, xx - yy) * 180) / Math.PI;
}
