// What the web tests share: where things are, the command line to compare with, small picture
// files made on the spot, a loopback-only static server, and the browser (Debian's Chromium,
// driven by playwright-core; no browser is downloaded).
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, writeFileSync, copyFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { basename, dirname, extname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { deflateSync } from 'node:zlib';

const here = dirname(fileURLToPath(import.meta.url));
export const root = resolve(here, '../..');
export const cli = process.env.LUMAWEAVE_CLI || join(root, 'build/lumaweave-cli');
export const page = process.env.LUMAWEAVE_PAGE || join(root, 'web/dist/lumaweave.html');
export const coreJs = process.env.LUMAWEAVE_CORE_JS || join(root, 'build-web/src/web/lumaweave_core.js');
export const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
export const screenshots = process.env.LUMAWEAVE_SCREENSHOTS || join(root, 'build-web/screenshots');
export const samples = join(root, 'samples');

// Why a test cannot run here, or null.
export function missing({ browser = false, core = false } = {}) {
  if (!existsSync(cli)) return `${cli} is missing (build the command line first)`;
  if (core && !existsSync(coreJs)) return `${coreJs} is missing (scripts/web.sh)`;
  if (browser && !existsSync(page)) return `${page} is missing (scripts/web.sh)`;
  if (browser && !existsSync(chromiumPath)) return `${chromiumPath} is missing (apt-get install chromium)`;
  return null;
}

// ----- Pictures -------------------------------------------------------------------------------

// A 24-bit bottom-up BMP as {width, height, rgb} (red, green, blue, top row first).
export function readBmp(bytes) {
  const b = Buffer.from(bytes);
  const offset = b.readUInt32LE(10);
  const width = b.readInt32LE(18);
  const height = b.readInt32LE(22);
  if (b.readUInt16LE(28) !== 24 || height <= 0) throw new Error('not a bottom-up 24-bit BMP');
  const stride = (width * 3 + 3) & ~3;
  const rgb = new Uint8Array(width * height * 3);
  for (let y = 0; y < height; y++) {
    const row = offset + (height - 1 - y) * stride;
    for (let x = 0; x < width; x++) {
      const o = (y * width + x) * 3;
      rgb[o] = b[row + x * 3 + 2];
      rgb[o + 1] = b[row + x * 3 + 1];
      rgb[o + 2] = b[row + x * 3];
    }
  }
  return { width, height, rgb };
}

export function writeBmp({ width, height, rgb }) {
  const stride = (width * 3 + 3) & ~3;
  const b = Buffer.alloc(54 + stride * height);
  b.write('BM', 0, 'latin1');
  b.writeUInt32LE(b.length, 2);
  b.writeUInt32LE(54, 10);
  b.writeUInt32LE(40, 14);
  b.writeInt32LE(width, 18);
  b.writeInt32LE(height, 22);
  b.writeUInt16LE(1, 26);
  b.writeUInt16LE(24, 28);
  b.writeUInt32LE(stride * height, 34);
  for (let y = 0; y < height; y++) {
    const row = 54 + (height - 1 - y) * stride;
    for (let x = 0; x < width; x++) {
      const o = (y * width + x) * 3;
      b[row + x * 3] = rgb[o + 2];
      b[row + x * 3 + 1] = rgb[o + 1];
      b[row + x * 3 + 2] = rgb[o];
    }
  }
  return b;
}

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(bytes) {
  let c = 0xffffffff;
  for (const x of bytes) c = crcTable[(c ^ x) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}
function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'latin1');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, crc]);
}

// An 8-bit PNG of red, green, blue (and alpha, when given) bytes. `gamma` adds a gAMA chunk
// (e.g. 1.0): a colour-managed decoder would then change every pixel.
export function writePng({ width, height, rgb, alpha = null, gamma = null }) {
  const channels = alpha ? 4 : 3;
  const raw = Buffer.alloc(height * (1 + width * channels));
  for (let y = 0; y < height; y++) {
    const row = y * (1 + width * channels);
    for (let x = 0; x < width; x++) {
      const i = y * width + x;
      const o = row + 1 + x * channels;
      raw[o] = rgb[i * 3];
      raw[o + 1] = rgb[i * 3 + 1];
      raw[o + 2] = rgb[i * 3 + 2];
      if (alpha) raw[o + 3] = alpha[i];
    }
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8;
  ihdr[9] = alpha ? 6 : 2;
  const parts = [Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', ihdr)];
  if (gamma) {
    const g = Buffer.alloc(4);
    g.writeUInt32BE(Math.round(gamma * 100000), 0);
    parts.push(chunk('gAMA', g));
  }
  parts.push(chunk('IDAT', deflateSync(raw)), chunk('IEND', Buffer.alloc(0)));
  return Buffer.concat(parts);
}

// ----- The command line -----------------------------------------------------------------------

export function tempDir() {
  return mkdtempSync(join(tmpdir(), 'lumaweave-web-'));
}

// Runs lumaweave-cli with the given options on a copy of `source` (a path) in a folder of its own,
// with the files `beside` it (such as its ".s05" palette); `read(dir, name, base)` takes what it
// needs from the folder before it is removed.
function inCliFolder(source, options, beside, read) {
  const dir = tempDir();
  try {
    const name = basename(source);
    copyFileSync(source, join(dir, name));
    for (const other of beside) copyFileSync(other, join(dir, basename(other)));
    execFileSync(cli, ['--quiet', ...options, name], { cwd: dir, stdio: 'pipe' });
    return read(dir, name, name.slice(0, -4));
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// The ".S02" bytes and, with `--export` among the options, the TEST_ picture's.
export function runCli(source, options = [], beside = []) {
  return inCliFolder(source, options, beside, (dir, name, base) => {
    const out = { vram: readFileSync(join(dir, base + '.S02')) };
    if (existsSync(join(dir, 'TEST_' + name))) out.exportBmp = readFileSync(join(dir, 'TEST_' + name));
    return out;
  });
}

// The outputs of lumaweave-cli with these options, by the endings given (".h", ".screen.png").
export function cliFiles(source, options, endings, beside = []) {
  return inCliFolder(source, options, beside, (dir, name, base) =>
    Object.fromEntries(endings.map((e) => [e, readFileSync(join(dir, base + e))])));
}

// The message the command line prints for a file it refuses (after "NAME: ").
export function cliMessage(source) {
  const dir = tempDir();
  try {
    const name = basename(source);
    copyFileSync(source, join(dir, name));
    try {
      execFileSync(cli, ['--quiet', name], { cwd: dir, stdio: 'pipe' });
    } catch (error) {
      const text = error.stderr.toString() + error.stdout.toString();
      const line = text.split('\n').find((l) => l.startsWith(name + ': '));
      return line ? line.slice(name.length + 2) : text;
    }
    return null;
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// ----- Serving and the browser ----------------------------------------------------------------

// A static server of one folder on 127.0.0.1 only, on a free port.
export async function serve(folder) {
  const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.png': 'image/png' };
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    const file = resolve(folder, '.' + path);
    if (!file.startsWith(resolve(folder)) || !existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'content-type': types[extname(file)] || 'application/octet-stream' });
    response.end(readFileSync(file));
  });
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  return { url: `http://127.0.0.1:${server.address().port}`, close: () => new Promise((ok) => server.close(ok)) };
}

export async function launch() {
  const { chromium } = await import('playwright-core');
  // A fresh profile every time (playwright's own); no network but loopback is ever used.
  return chromium.launch({
    executablePath: chromiumPath,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
}

// ----- The page -------------------------------------------------------------------------------

export async function openPage(browser, url, viewport = { width: 1366, height: 768 }) {
  const context = await browser.newContext({ viewport, acceptDownloads: true });
  const p = await context.newPage();
  const errors = [];
  p.on('pageerror', (e) => errors.push(e.message));
  await p.goto(url);
  // The options appear once the worker's core has started.
  await p.waitForSelector('#opt-gamma', { timeout: 30000 });
  p.errors = errors;
  return p;
}

// Waits until nothing is being converted, searched or zipped.
export async function idle(p) {
  await p.waitForFunction(() => !document.body.dataset.busy && /\b(ok|error)\b/.test(document.querySelector('#status').className), null, { timeout: 120000 });
}

// Files through the page's own file input: paths, or {name, mimeType, buffer}.
export async function addFiles(p, files) {
  await p.setInputFiles('#file-input', files);
  await idle(p);
}

export async function setRange(p, name, value) {
  await p.$eval(`#opt-${name}`, (el, v) => {
    el.value = String(v);
    el.dispatchEvent(new Event('input', { bubbles: true }));
  }, value);
}
export async function setFlag(p, name, on) {
  await p.setChecked(`#opt-${name}`, on);
}
export async function setChoice(p, name, value) {
  await p.check(`#opt-${name} input[value="${value}"]`);
}

export async function download(p, selector) {
  const [file] = await Promise.all([p.waitForEvent('download'), p.click(selector)]);
  return { name: file.suggestedFilename(), bytes: readFileSync(await file.path()) };
}

// The pixels of a canvas as red, green, blue bytes.
export async function canvasRgb(p, id) {
  const base64 = await p.$eval(`#${id}`, (canvas) => {
    const d = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let s = '';
    for (let i = 0; i < d.length; i += 4) s += String.fromCharCode(d[i], d[i + 1], d[i + 2]);
    return btoa(s);
  });
  return new Uint8Array(Buffer.from(base64, 'base64'));
}

// The w x h top-left region of a picture `stride` pixels wide.
export function region(rgb, stride, w, h) {
  const out = new Uint8Array(w * h * 3);
  for (let y = 0; y < h; y++) out.set(rgb.subarray(y * stride * 3, (y * stride + w) * 3), y * w * 3);
  return out;
}

export function writeTemp(name, bytes) {
  const path = join(tempDir(), name);
  writeFileSync(path, bytes);
  return path;
}
