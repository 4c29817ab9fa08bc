// Times the page's conversions in headless Chromium: each 256 x 192 sample converted again and
// again with the initial settings (the Reset button), and prints the median per picture of
//   - the worker's time for the conversion call (conversion, quality figures, copies out), and
//     of that the quality figures' share;
//   - the page's time from the change to the preview drawn.
// Not a test: nothing is asserted. Compare with `build/lumaweave-bench samples --only initial`.
//
//   node web/tests/bench.mjs [REPEAT]
import { dirname, join } from 'node:path';

import { addFiles, idle, launch, missing, openPage, page, samples, serve } from './support.mjs';

const why = missing({ browser: true });
if (why) {
  console.log('SKIP web bench: ' + why);
  process.exit(0);
}
const repeat = Number(process.argv[2]) || 10;
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const browser = await launch();
const server = await serve(dirname(page));
try {
  const p = await openPage(browser, server.url + '/lumaweave.html');
  const names = ['astronaut.bmp', 'cards.bmp', 'coffee.bmp'];
  await addFiles(p, names.map((n) => join(samples, n)));
  console.log(`headless Chromium, ${repeat} conversions per picture with the initial settings`);
  console.log('picture          worker ms (median, min)  of which figures   change to preview ms (median)');
  const all = [];
  for (const [i, name] of names.entries()) {
    await p.click(`.file:nth-child(${i + 1}) .file-pick`);
    await idle(p);
    const worker = [];
    const total = [];
    const measure = [];
    for (let r = 0; r < repeat; r++) {
      await p.click('#reset');
      await idle(p);
      const { ms, totalMs, measureMs } = await p.$eval('#status', (s) => ({ ms: Number(s.dataset.ms), totalMs: Number(s.dataset.totalMs), measureMs: Number(s.dataset.measureMs) }));
      worker.push(ms);
      measure.push(measureMs);
      total.push(totalMs);
      all.push(ms);
    }
    console.log(`${name.padEnd(16)} ${median(worker).toFixed(1).padStart(9)} ${Math.min(...worker).toFixed(1).padStart(8)} ${median(measure).toFixed(1).padStart(14)} ${median(total).toFixed(1).padStart(18)}`);
  }
  console.log(`all pictures: median ${median(all).toFixed(1)} ms in the worker`);
} finally {
  await browser.close();
  await server.close();
}
