// The page in Debian's Chromium, as a user drives it: pictures through its own file input, options
// changed, Auto pressed, files downloaded, and each download checked against lumaweave-cli with
// the same settings, and the preview canvas against the "TEST_" picture.
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { after, before, describe, it } from 'node:test';
import { pathToFileURL } from 'node:url';

import { unzipSync } from 'fflate';

import {
  addFiles, canvasRgb, cliFiles, download, idle, launch, missing, openPage, page as pagePath, readBmp, region, runCli,
  samples, screenshots, serve, setChoice, setFlag, setRange, writeBmp, writePng, writeTemp,
} from './support.mjs';

const why = missing({ browser: true });
const astronaut = join(samples, 'astronaut.bmp');
const coffee = join(samples, 'coffee.bmp');
const cards = join(samples, 'cards.bmp');

async function s02(p) {
  const file = await download(p, '#download-s02');
  return file;
}

// The preview canvas shows exactly the TEST_ picture (2w x 2h), black elsewhere.
async function assertPreviewIsTest(p, exportBmp) {
  const test = readBmp(exportBmp);
  const shown = await canvasRgb(p, 'preview');
  assert.deepEqual(Buffer.from(region(shown, 512, test.width, test.height)), Buffer.from(test.rgb));
}

describe('the page in Chromium', { skip: why || false }, () => {
  let browser;
  let server;
  before(async () => {
    browser = await launch();
    server = await serve(dirname(pagePath));
  });
  after(async () => {
    if (browser) await browser.close();
    if (server) await server.close();
  });
  const url = () => server.url + '/lumaweave.html';

  it('converts a BMP as the command line does, again after each change of the options', async () => {
    const p = await openPage(browser, url());
    await addFiles(p, [astronaut]);
    const initial = runCli(astronaut, ['--export']);
    let file = await s02(p);
    assert.equal(file.name, 'astronaut.S02');
    assert.deepEqual(file.bytes, initial.vram);
    await assertPreviewIsTest(p, initial.exportBmp);

    // Several changes at once: only the last state may be shown.
    await setRange(p, 'gamma', 5);
    await setRange(p, 'gamma', 3);
    await setFlag(p, 'mix', false);
    await setChoice(p, 'palette', 2);
    await setChoice(p, 'dither_order', 0);
    await setRange(p, 'vertical_error_ratio', 6);
    await idle(p);
    const args = ['--vertical-error-ratio', '6', '--palette', 'msx2', '--dither-order', 'vertical', '--gamma', '3', '--mix', 'off'];
    assert.equal(await p.textContent('#command-line'), 'lumaweave-cli ' + args.join(' ') + ' astronaut.bmp');
    const changed = runCli(astronaut, [...args, '--export']);
    file = await s02(p);
    assert.deepEqual(file.bytes, changed.vram);
    const test = await download(p, '#download-test');
    assert.equal(test.name, 'TEST_astronaut.bmp');
    assert.deepEqual(test.bytes, changed.exportBmp);
    await assertPreviewIsTest(p, changed.exportBmp);
    assert.match(await p.textContent('#figures'), /CIEDE2000 \(blurred\) mean \d+\.\d\d/);

    // Reset brings back the initial result.
    await p.click('#reset');
    await idle(p);
    assert.deepEqual((await s02(p)).bytes, initial.vram);
    assert.deepEqual(p.errors, []);
    await p.context().close();
  });

  it('reads a PNG with the file\'s own pixels (no colour management), transparency over the background', async () => {
    const source = readBmp(readFileSync(coffee));
    const p = await openPage(browser, url());
    // A gAMA chunk of 1.0 would brighten every pixel if the browser managed colours.
    await addFiles(p, [{ name: 'coffee.png', mimeType: 'image/png', buffer: writePng({ ...source, gamma: 1.0 }) }]);
    assert.match(await p.textContent('#file-list'), /coffee\.png/);
    await setFlag(p, 'edge_emph', true);
    await idle(p);
    assert.deepEqual((await s02(p)).bytes, runCli(coffee, ['--edge-emph', 'on']).vram);
    const test = await download(p, '#download-test');
    assert.equal(test.name, 'TEST_coffee.bmp');

    // Transparent pixels (a checkerboard of 8 x 8 squares) take the background colour.
    const alpha = new Uint8Array(source.width * source.height);
    const flat = { ...source, rgb: Uint8Array.from(source.rgb) };
    for (let y = 0; y < source.height; y++) {
      for (let x = 0; x < source.width; x++) {
        const i = y * source.width + x;
        alpha[i] = ((x >> 3) + (y >> 3)) % 2 ? 255 : 0;
        if (!alpha[i]) flat.rgb.set([255, 200, 0], i * 3);
      }
    }
    await p.$eval('#background', (el) => {
      el.value = '#ffc800';
      el.dispatchEvent(new Event('input', { bubbles: true }));
    });
    await addFiles(p, [{ name: 'holes.png', mimeType: 'image/png', buffer: writePng({ ...source, alpha }) }]);
    const flattened = writeTemp('holes.bmp', writeBmp(flat));
    assert.deepEqual((await s02(p)).bytes, runCli(flattened, ['--edge-emph', 'on']).vram);
    assert.equal((await s02(p)).name, 'holes.S02');
    assert.deepEqual(p.errors, []);
    await p.context().close();
  });

  it('takes a NAME.s05 given with NAME.bmp as its palette, as the command line takes it from beside the picture', async () => {
    // A SCREEN 5 image long enough to hold the palette table at 0x7680: red, blue and green of
    // colours 0 to 15 in a pattern of its own.
    const s05 = Buffer.alloc(7 + 0x7680 + 32);
    for (let c = 0; c < 16; c++) {
      s05[7 + 0x7680 + 2 * c] = (((c * 3) % 8) << 4) | ((c * 5 + 1) % 8);
      s05[7 + 0x7680 + 2 * c + 1] = (c * 7 + 2) % 8;
    }
    const palette = writeTemp('cards.s05', s05);
    const p = await openPage(browser, url());
    await addFiles(p, [cards, palette]);
    assert.match(await p.textContent('#file-list'), /own palette/);
    const expected = runCli(cards, [], [palette]).vram;
    assert.notDeepEqual(expected, runCli(cards).vram);
    assert.deepEqual((await s02(p)).bytes, expected);
    assert.deepEqual(p.errors, []);
    await p.context().close();
  });

  it('frames a picture the screen cannot take: none refuses with the core\'s message, fit pads, fill crops', async () => {
    // 512 x 192: the left half red, the right half blue.
    const width = 512;
    const height = 192;
    const rgb = new Uint8Array(width * height * 3);
    for (let i = 0; i < width * height; i++) rgb.set(i % width < 256 ? [255, 0, 0] : [0, 0, 255], i * 3);
    const p = await openPage(browser, url());
    await p.check('input[name="framing"][value="none"]');
    await addFiles(p, [{ name: 'wide.png', mimeType: 'image/png', buffer: writePng({ width, height, rgb }) }]);
    assert.match(await p.textContent('#status'), /^wide\.png: width exceeds 256 : 横幅が２５６を超えています — choose Fit or Fill/);
    assert.equal(await p.isDisabled('#download-s02'), true);

    // Fit: 256 x 96 in the middle of 256 x 192, the rest the background (black).
    await p.check('input[name="framing"][value="fit"]');
    await idle(p);
    assert.match(await p.textContent('#status'), /512 × 192, fitted into 256 × 192/);
    let before = await canvasRgb(p, 'before');
    const at = (x, y) => Array.from(before.subarray((2 * y * 512 + 2 * x) * 3, (2 * y * 512 + 2 * x) * 3 + 3));
    const table = [[10, 10, [0, 0, 0]], [10, 47, [0, 0, 0]], [10, 60, [255, 0, 0]], [120, 140, [255, 0, 0]], [140, 60, [0, 0, 255]], [250, 140, [0, 0, 255]], [250, 150, [0, 0, 0]], [250, 190, [0, 0, 0]]];
    for (const [x, y, colour] of table) assert.deepEqual(at(x, y), colour, `fit: pixel ${x}, ${y}`);

    // Fill: the middle 256 x 192, half red, half blue, no padding.
    await p.check('input[name="framing"][value="fill"]');
    await idle(p);
    before = await canvasRgb(p, 'before');
    for (const [x, y, colour] of [[0, 0, [255, 0, 0]], [120, 191, [255, 0, 0]], [136, 0, [0, 0, 255]], [255, 191, [0, 0, 255]]]) {
      assert.deepEqual(at(x, y), colour, `fill: pixel ${x}, ${y}`);
    }
    // A browser whose createImageBitmap does not resize: the canvas scales, to the same frame.
    const q = await browser.newPage({ viewport: { width: 1366, height: 768 } });
    await q.addInitScript(() => {
      const original = window.createImageBitmap;
      window.createImageBitmap = (source, ...rest) => {
        const options = rest.length && typeof rest[rest.length - 1] === 'object' ? rest.pop() : {};
        const { resizeWidth, resizeHeight, resizeQuality, ...kept } = options;
        return original(source, ...rest, kept);
      };
    });
    await q.goto(url());
    await q.waitForSelector('#opt-gamma');
    await addFiles(q, [{ name: 'wide.png', mimeType: 'image/png', buffer: writePng({ width, height, rgb }) }]);
    const canvasFit = await canvasRgb(q, 'before');
    for (const [x, y, colour] of table) {
      const o = (2 * y * 512 + 2 * x) * 3;
      assert.deepEqual(Array.from(canvasFit.subarray(o, o + 3)), colour, `fit by the canvas: pixel ${x}, ${y}`);
    }
    await q.close();

    // A BMP the core refuses for its size is framed too, once it is asked for.
    const big = readBmp(readFileSync(cards));
    const doubled = { width: big.width * 2, height: big.height, rgb: new Uint8Array(big.width * 2 * big.height * 3) };
    for (let y = 0; y < big.height; y++) {
      for (let x = 0; x < 2 * big.width; x++) doubled.rgb.set(big.rgb.subarray((y * big.width + (x >> 1)) * 3, (y * big.width + (x >> 1)) * 3 + 3), (y * 2 * big.width + x) * 3);
    }
    await addFiles(p, [{ name: 'stretched.bmp', mimeType: 'image/bmp', buffer: writeBmp(doubled) }]);
    assert.match(await p.textContent('#status'), /filled to 256 × 192/);
    assert.equal((await s02(p)).name, 'stretched.S02');
    // What no one can read is said so, by name.
    await addFiles(p, [{ name: 'notes.png', mimeType: 'image/png', buffer: Buffer.from('not a picture at all') }]);
    assert.equal(await p.textContent('#status'), 'notes.png: the browser cannot read this picture');
    assert.equal(await p.isDisabled('#download-s02'), true);
    assert.deepEqual(p.errors, []);
    await p.context().close();
  });

  it('Auto finds what --auto finds, and a change during a search ends it', async () => {
    const p = await openPage(browser, url());
    await addFiles(p, [cards]);
    // A search that a change makes stale is stopped; the change's own result is shown.
    await p.click('#auto');
    await p.waitForSelector('#auto.running');
    await setRange(p, 'hue', 2);
    await idle(p);
    assert.equal(await p.isHidden('#auto-result'), true);
    assert.deepEqual((await s02(p)).bytes, runCli(cards, ['--hue', '2']).vram);

    await p.click('#auto');
    await idle(p);
    assert.match(await p.textContent('#auto-result'), /Auto for cards\.bmp: CIEDE2000 \(blurred\) mean \d+\.\d\d → \d+\.\d\d/);
    const expected = runCli(cards, ['--hue', '2', '--auto', '--export']);
    assert.deepEqual((await s02(p)).bytes, expected.vram);
    await assertPreviewIsTest(p, expected.exportBmp);
    // The options now show the chosen settings: converting with them gives the same again.
    const command = (await p.textContent('#command-line')).split(' ').slice(1, -1);
    assert.deepEqual(runCli(cards, command).vram, expected.vram);
    assert.deepEqual(p.errors, []);
    await p.context().close();
  });

  it('downloads every picture at once as a zip, and names what it leaves out', async () => {
    const p = await openPage(browser, url());
    const broken = writeTemp('broken.bmp', readFileSync(astronaut).subarray(0, 3000));
    await addFiles(p, [astronaut, coffee, broken]);
    await setRange(p, 'color_d', 4);
    await idle(p);
    const zip = await download(p, '#download-zip');
    await idle(p);
    assert.equal(zip.name, 'lumaweave.zip');
    const files = unzipSync(new Uint8Array(zip.bytes));
    assert.deepEqual(Object.keys(files).sort(), ['TEST_astronaut.bmp', 'TEST_coffee.bmp', 'astronaut.S02', 'coffee.S02']);
    for (const source of [astronaut, coffee]) {
      const expected = runCli(source, ['--color-d', '4', '--export']);
      const base = source.split('/').pop().slice(0, -4);
      assert.deepEqual(Buffer.from(files[base + '.S02']), expected.vram);
      assert.deepEqual(Buffer.from(files['TEST_' + base + '.bmp']), expected.exportBmp);
    }
    assert.match(await p.textContent('#status'), /leaves out broken\.bmp: this format cannot be converted : 変換できないフォーマットです/);
    // The broken one in the list, with the command line's message.
    await p.click('.file:nth-child(3) .file-pick');
    await idle(p);
    assert.match(await p.textContent('#status'), /^broken\.bmp: this format cannot be converted/);
    await p.click('.file:nth-child(3) .file-remove');
    assert.equal(await p.locator('.file').count(), 2);
    assert.deepEqual(p.errors, []);
    await p.context().close();
  });

  it('offers the files for MSX programs as lumaweave-cli --format writes them', async () => {
    const p = await openPage(browser, url());
    await addFiles(p, [cards]);
    await setChoice(p, 'palette', 2);
    await idle(p);
    const ends = ['.chr', '.clr', '.nam', '.h', '.asm', '.rom', '.pal', '.screen.png'];
    let expected = cliFiles(cards, ['--format', 'raw,c,asm,rom,pal,screen.png', '--palette', 'msx2'], ends);
    const button = (ext) => '#file-' + ext.slice(1).replace('.', '-');
    for (const ext of ends.slice(0, -1)) {
      const file = await download(p, button(ext));
      assert.equal(file.name, 'cards' + ext);
      assert.deepEqual(file.bytes, expected[ext], ext);
    }
    // The screen picture is the browser's own PNG of the same pixels.
    const png = await download(p, button('.screen.png'));
    assert.equal(png.name, 'cards.screen.png');
    const pixels = (bytes) => p.evaluate(async (base64) => {
      const bitmap = await createImageBitmap(await (await fetch('data:image/png;base64,' + base64)).blob());
      const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
      const ctx = canvas.getContext('2d');
      ctx.drawImage(bitmap, 0, 0);
      return [bitmap.width, bitmap.height, Array.from(ctx.getImageData(0, 0, bitmap.width, bitmap.height).data)];
    }, Buffer.from(bytes).toString('base64'));
    assert.deepEqual(await pixels(png.bytes), await pixels(expected['.screen.png']));

    // Identical tiles once and sdasz80's forms: the .S02 too, the command line says the same.
    await p.check('#dedupe');
    await p.selectOption('#asm-syntax', 'sdasz80');
    assert.match(await p.textContent('#command-line'), /^lumaweave-cli --dedupe --asm-syntax sdasz80 --palette msx2 cards\.bmp$/);
    expected = cliFiles(cards, ['--format', 's02,raw,asm', '--palette', 'msx2', '--dedupe', '--asm-syntax', 'sdasz80'], ['.S02', '.chr', '.asm']);
    for (const ext of ['.chr', '.asm']) assert.deepEqual((await download(p, button(ext))).bytes, expected[ext], ext);
    assert.match(await p.textContent('#status'), /^cards\.bmp: \d+ tiles of 768 stored, \d+, \d+ and \d+ per third$/);
    assert.deepEqual((await s02(p)).bytes, expected['.S02']);

    // In the zip, every picture's files.
    await p.check('#zip-files');
    const zip = await download(p, '#download-zip');
    await idle(p);
    const files = unzipSync(new Uint8Array(zip.bytes));
    assert.deepEqual(Object.keys(files).sort(), ['TEST_cards.bmp', ...['.S02', ...ends].map((e) => 'cards' + e)].sort());
    assert.deepEqual(Buffer.from(files['cards.asm']), expected['.asm']);
    assert.deepEqual(Buffer.from(files['cards.S02']), expected['.S02']);
    assert.deepEqual(p.errors, []);
    await p.context().close();
  });

  it('takes its screenshots at 1366 x 768 and on a phone', async () => {
    mkdirSync(screenshots, { recursive: true });
    for (const [name, viewport] of [['web-1366x768.png', { width: 1366, height: 768 }], ['web-phone.png', { width: 390, height: 844 }]]) {
      const p = await openPage(browser, url(), viewport);
      await addFiles(p, [astronaut, coffee, cards]);
      await p.click('.file:nth-child(1) .file-pick');
      await idle(p);
      // Nothing sticks out sideways.
      assert.ok(await p.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth), `${name}: no sideways scrolling`);
      await p.mouse.move(0, 0);
      await p.screenshot({ path: join(screenshots, name) });
      await p.context().close();
    }
  });
});

describe('the page opened from file://', { skip: why || false }, () => {
  it('works with the browser\'s default security settings', async () => {
    const browser = await launch();
    try {
      const p = await openPage(browser, pathToFileURL(pagePath).href);
      await addFiles(p, [coffee]);
      const file = await s02(p);
      assert.deepEqual(file.bytes, runCli(coffee).vram);
      assert.deepEqual(p.errors, []);
      await p.context().close();
    } finally {
      await browser.close();
    }
  });
});
