// lumaweave's page: pictures in, SCREEN 2 results out, converted by the core in a worker.
//
// The options are built from the core's settings table (names, kinds, values, descriptions,
// initial values); this file only says how they are grouped and labelled. Every change converts
// the chosen picture again; a conversion that a newer change made stale is never shown, and a
// running search is ended by stopping its worker.
/* global fflate, LUMAWEAVE_WORKER_SOURCE */
'use strict';

// ---------------------------------------------------------------------------------------------
// Presentation of the settings table. Fields the table gains later land in "More" on their own.
const GROUPS = [
  { title: 'Fitting palette', fields: ['palette', 'hue', 'index_0', 'color_no0'] },
  { title: 'Tone and colour', fields: ['gamma', 'color_d', 'index_r', 'index_g', 'index_b', 'brightness', 'col_reduction', 'dark_color'] },
  { title: 'Dithering', fields: ['vertical_error_ratio', 'dither_order', 'sp', 'edge_calc', 'edge_emph'] },
  { title: 'Block fitting', fields: ['lumi_sort', 'optimization', 'mitigation', 'mix', 'block_noise'] },
  { title: 'Position', fields: ['horizontal_position_correction'] },
];
const LABELS = {
  vertical_error_ratio: 'Vertical error ratio',
  color_no0: 'Colour 0',
  edge_calc: 'Edge weighting',
  edge_emph: 'Sharpen',
  lumi_sort: 'Dark on top',
  horizontal_position_correction: 'Shift left',
  color_d: 'Saturation',
  index_r: 'More red',
  index_g: 'More green',
  index_b: 'More blue',
  index_0: 'Darker palette shift',
  sp: 'Edge diffusion',
  col_reduction: 'Colour snapping',
  dark_color: 'Snap towards black',
};
const label = (name) => LABELS[name] || name.charAt(0).toUpperCase() + name.slice(1).replace(/_/g, ' ');
const cliName = (name) => '--' + name.replace(/_/g, '-');

// Statuses the core refuses a picture with for its size (or a BMP it cannot read), where framing
// in the browser can help.
const FRAMEABLE = new Set(['width_not_multiple_of_8', 'width_exceeds_256', 'height_exceeds_192', 'image_too_small', 'format_not_convertible']);

// Only this much of a file is read: a BMP the core converts is far smaller, and its size checks
// come before the check that the pixels are all there, so a longer file gets the same message.
const MAX_FILE_BYTES = 64 * 1024 * 1024;
// Pictures the browser is asked to decode (4 bytes a pixel while it does).
const MAX_PIXELS = 100 * 1000 * 1000;

// The files the page offers for a result, one button each; the zip holds them too. Further
// formats add a line here.
const OUTPUTS = [
  { key: 's02', label: 'Download .S02', name: (base) => base + '.S02', bytes: (r) => (r.files && $('dedupe').checked ? r.files.s02 : r.vram), type: 'application/octet-stream', zipped: () => true },
  { key: 'test', label: 'Download TEST_ picture', name: (base) => 'TEST_' + base + '.bmp', bytes: (r) => r.exportBmp, type: 'image/bmp', zipped: () => $('zip-test').checked },
];

// The files for MSX programs, as the command line's --format writes them (raw, c, asm, rom,
// screen.png, pal), with --dedupe and --asm-syntax as chosen under them: made by the core from
// the chosen picture's result when one is asked for, NAME.screen.png by the browser's own PNG
// encoder from the screen the core draws.
const FILES = [
  { ext: '.chr', title: 'Pattern generator table, without a header', bytes: (f) => f.chr },
  { ext: '.clr', title: 'Colour table, without a header', bytes: (f) => f.clr },
  { ext: '.nam', title: 'Name table, without a header', bytes: (f) => f.nam },
  { ext: '.h', title: 'The tables as C arrays', bytes: (f) => f.h, type: 'text/plain' },
  { ext: '.asm', title: 'The tables as assembler data', bytes: (f) => f.asm, type: 'text/plain' },
  { ext: '.rom', title: 'A 16 KiB cartridge that shows the picture on any MSX', bytes: (f) => f.rom },
  { ext: '.screen.png', title: 'The screen as an MSX shows it, 256 × 192', bytes: (f) => screenPng(f.screen), type: 'image/png' },
  { ext: '.pal', title: 'The palette the picture was made for, as the MSX2 takes it', bytes: (f) => f.pal },
];
const fileKey = (o) => 'file-' + o.ext.slice(1).replace('.', '-');

const $ = (id) => document.getElementById(id);

// ---------------------------------------------------------------------------------------------
// The worker: one job at a time, answered in order.
class CoreWorker {
  constructor(onReady) {
    this.onReady = onReady;
    this.pending = new Map();
    this.nextId = 1;
    this.start();
  }
  start() {
    const url = URL.createObjectURL(new Blob([LUMAWEAVE_WORKER_SOURCE], { type: 'text/javascript' }));
    this.worker = new Worker(url);
    URL.revokeObjectURL(url);
    this.ready = new Promise((resolve, reject) => {
      this.worker.onmessage = (event) => {
        const data = event.data;
        if (data.ready) {
          resolve(data);
          this.onReady(data);
          return;
        }
        const job = this.pending.get(data.id);
        if (!job) return;
        this.pending.delete(data.id);
        if (data.error) {
          // The core failed (it should not): report it and go on with a fresh one.
          job.reject(new Error('the converter failed: ' + data.error));
          this.restart();
        } else {
          job.resolve(data);
        }
      };
      this.worker.onerror = (event) => {
        event.preventDefault();
        const error = new Error('the converter stopped: ' + (event.message || 'unknown error'));
        reject(error);
        for (const job of this.pending.values()) job.reject(error);
        this.pending.clear();
      };
    });
  }
  call(message) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, kind: message.kind });
      this.worker.postMessage({ ...message, id });
    });
  }
  busyWith(kind) {
    for (const job of this.pending.values()) if (job.kind === kind) return true;
    return false;
  }
  // Ends whatever runs (a long search) and starts afresh; the jobs in hand fail as cancelled.
  restart() {
    this.worker.terminate();
    for (const job of this.pending.values()) job.reject(new Cancelled());
    this.pending.clear();
    this.start();
  }
}
class Cancelled extends Error {
  constructor() { super('cancelled'); }
}

// ---------------------------------------------------------------------------------------------
// State.
const state = {
  fields: [],
  settings: {},
  files: [],          // {key, file, name, bmp, result, note, ...what is read of the file}
  palettes: new Map(), // ".s05" files by name
  chosen: null,
  generation: 0,      // bumped by every change that calls for a new preview
  shown: -1,          // the generation the preview shows
  autoRunning: false,
};
let nextKey = 1;
let core = null;

function framing() {
  return document.querySelector('input[name="framing"]:checked').value;
}
function background() {
  const hex = $('background').value;
  return [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16));
}
function frameKey() {
  return [framing(), $('background').value, state.settings.horizontal_position_correction].join('|');
}

// ---------------------------------------------------------------------------------------------
// Options built from the table.
function buildOptions(fields) {
  state.fields = fields;
  const byName = new Map(fields.map((f) => [f.name, f]));
  const placed = new Set();
  const groups = GROUPS.map((g) => ({ title: g.title, fields: g.fields.filter((n) => byName.has(n)) }));
  for (const g of groups) g.fields.forEach((n) => placed.add(n));
  const rest = fields.map((f) => f.name).filter((n) => !placed.has(n));
  if (rest.length) groups.push({ title: 'More', fields: rest });

  const host = $('setting-groups');
  host.textContent = '';
  for (const group of groups) {
    const set = document.createElement('fieldset');
    set.className = 'group';
    const legend = document.createElement('legend');
    legend.textContent = group.title;
    set.append(legend);
    for (const name of group.fields) set.append(optionControl(byName.get(name)));
    host.append(set);
  }
  resetSettings();
}

function optionControl(field) {
  const row = document.createElement('div');
  row.className = 'option ' + field.kind;
  row.dataset.field = field.name;
  row.title = field.description + '  (' + cliName(field.name) + ')';
  const id = 'opt-' + field.name;
  const name = document.createElement('label');
  name.className = 'label';
  name.htmlFor = id;
  name.textContent = label(field.name);
  const small = document.createElement('small');
  small.textContent = field.description;

  if (field.kind === 'flag') {
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.id = id;
    box.addEventListener('change', () => setSetting(field.name, field.values[box.checked ? 1 : 0].value));
    row.classList.add('inline');
    row.append(box, name, small);
  } else if (field.kind === 'choice') {
    const group = document.createElement('div');
    group.className = 'segmented';
    group.setAttribute('role', 'radiogroup');
    group.id = id;
    for (const v of field.values) {
      const l = document.createElement('label');
      const r = document.createElement('input');
      r.type = 'radio';
      r.name = id;
      r.value = String(v.value);
      r.addEventListener('change', () => setSetting(field.name, v.value));
      const s = document.createElement('span');
      s.textContent = v.name;
      l.append(r, s);
      group.append(l);
    }
    name.removeAttribute('for');
    name.id = id + '-label';
    group.setAttribute('aria-labelledby', name.id);
    row.append(name, group, small);
  } else {
    const range = document.createElement('input');
    range.type = 'range';
    range.id = id;
    range.min = field.min;
    range.max = field.max;
    range.step = 1;
    const out = document.createElement('output');
    out.htmlFor = id;
    range.addEventListener('input', () => {
      out.value = range.value;
      setSetting(field.name, Number(range.value));
    });
    const line = document.createElement('div');
    line.className = 'range-line';
    line.append(range, out);
    row.append(name, line, small);
  }
  return row;
}

// Shows state.settings in the controls.
function showSettings() {
  for (const f of state.fields) {
    const v = state.settings[f.name];
    const row = document.querySelector(`.option[data-field="${f.name}"]`);
    if (!row) continue;
    row.classList.toggle('changed', v !== f.initial);
    if (f.kind === 'flag') {
      $('opt-' + f.name).checked = v === f.values[1].value;
    } else if (f.kind === 'choice') {
      for (const r of row.querySelectorAll('input')) r.checked = Number(r.value) === v;
    } else {
      $('opt-' + f.name).value = v;
      row.querySelector('output').value = v;
    }
  }
  updateCommandLine();
}

function setSetting(name, value) {
  state.settings[name] = value;
  const f = state.fields.find((x) => x.name === name);
  const row = document.querySelector(`.option[data-field="${name}"]`);
  if (row && f) row.classList.toggle('changed', value !== f.initial);
  updateCommandLine();
  settingsChanged();
}

function resetSettings() {
  state.settings = Object.fromEntries(state.fields.map((f) => [f.name, f.initial]));
  showSettings();
}

// The command line that gives the same result: every option away from its initial value.
function commandLine(settings, fileName) {
  const parts = ['lumaweave-cli'];
  for (const f of state.fields) {
    const v = settings[f.name];
    if (v === f.initial) continue;
    const named = f.values.find((x) => x.value === v);
    parts.push(cliName(f.name), named ? named.name : String(v));
  }
  const quoted = /^[\w./-]+$/.test(fileName) ? fileName : "'" + fileName.replace(/'/g, "'\\''") + "'";
  parts.push(quoted);
  return parts.join(' ');
}
function updateCommandLine() {
  const entry = state.chosen;
  const name = entry ? entry.name : 'PICTURE.bmp';
  let text = commandLine(state.settings, name);
  const extra = fileOptionsText();
  if (extra) text = text.replace(/^lumaweave-cli/, 'lumaweave-cli' + extra);
  if (entry && !entry.bmp) text += '   # framed by the browser: the command line needs a BMP of this picture';
  $('command-line').textContent = text;
}

// ---------------------------------------------------------------------------------------------
// Pictures: BMP files go to the core as they are; other formats (and BMPs the core refuses, when
// framing is on) are decoded by the browser, without colour management, and framed.
function unreadable() {
  return new Error('the browser cannot read this picture');
}
// The picture's size, read by the browser without decoding all its pixels.
function pictureSize(file) {
  return new Promise((resolve, reject) => {
    const url = URL.createObjectURL(file);
    const img = new Image();
    img.onload = () => {
      URL.revokeObjectURL(url);
      resolve([img.naturalWidth, img.naturalHeight]);
    };
    img.onerror = () => {
      URL.revokeObjectURL(url);
      reject(unreadable());
    };
    img.src = url;
  });
}
async function decode(file) {
  try {
    return await createImageBitmap(file, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
  } catch (error) {
    throw unreadable();
  }
}

// Red, green, blue bytes of a canvas of width x height filled with the background, with the
// bitmap drawn on it at (x, y), or as `draw` draws it.
function pixelsOf(bitmap, width, height, x = 0, y = 0, draw = null) {
  const canvas = document.createElement('canvas');
  canvas.width = width;
  canvas.height = height;
  const ctx = canvas.getContext('2d', { willReadFrequently: true });
  const [r, g, b] = background();
  ctx.fillStyle = `rgb(${r},${g},${b})`;
  ctx.fillRect(0, 0, width, height);
  if (draw) {
    ctx.imageSmoothingEnabled = true;
    ctx.imageSmoothingQuality = 'high';
    draw(ctx);
  } else {
    ctx.imageSmoothingEnabled = false;
    ctx.drawImage(bitmap, x, y);
  }
  const rgba = ctx.getImageData(0, 0, width, height).data;
  const rgb = new Uint8Array(width * height * 3);
  for (let i = 0, j = 0; i < rgba.length; i += 4, j += 3) {
    rgb[j] = rgba[i];
    rgb[j + 1] = rgba[i + 1];
    rgb[j + 2] = rgba[i + 2];
  }
  return rgb;
}

async function framedInput(entry) {
  const key = frameKey();
  if (entry.framed && entry.framed.key === key) return entry.framed.input;
  const [w, h] = entry.size || (entry.size = await pictureSize(entry.file));
  const size = (await worker.call({ kind: 'size', width: w, height: h, correction: state.settings.horizontal_position_correction })).result.status;
  let framed;
  if (size !== 'ok' && framing() === 'none') {
    // The core's own message for the size; the pixels are not needed for that.
    framed = { input: { type: 'pixels', width: w, height: h, rgb: new Uint8Array(0) }, note: '' };
  } else {
    if (w * h > MAX_PIXELS) throw new Error(`${w} × ${h} pixels is more than the page reads (100 million)`);
    // Decoded again when the framing changes rather than kept: a photo's pixels are large.
    const bitmap = await decode(entry.file);
    try {
      framed = await frame(bitmap, size === 'ok');
    } finally {
      bitmap.close();
    }
  }
  entry.framed = { key, ...framed };
  return framed.input;
}

// The picture as it is when the screen takes it (`fits`), else framed into 256 x 192.
async function frame(bitmap, fits) {
  const w = bitmap.width;
  const h = bitmap.height;
  if (fits) return { input: { type: 'pixels', width: w, height: h, rgb: pixelsOf(bitmap, w, h) }, note: '' };
  const how = framing();
  // The rectangle of the picture taken (sx, sy, sw, sh) and where it goes (dx, dy, dw, dh).
  let sx = 0;
  let sy = 0;
  let sw = w;
  let sh = h;
  let dw = 256;
  let dh = 192;
  if (how === 'fit') {
    const s = Math.min(256 / w, 192 / h);
    dw = Math.max(1, Math.min(256, Math.round(w * s)));
    dh = Math.max(1, Math.min(192, Math.round(h * s)));
  } else {
    const s = Math.max(256 / w, 192 / h);
    sw = Math.min(w, 256 / s);
    sh = Math.min(h, 192 / s);
    sx = (w - sw) / 2;
    sy = (h - sh) / 2;
  }
  const dx = Math.floor((256 - dw) / 2);
  const dy = Math.floor((192 - dh) / 2);
  const note = `${w} × ${h}, ${how === 'fit' ? 'fitted into' : 'filled to'} 256 × 192 by the browser`;
  let scaled = null;
  try {
    scaled = await createImageBitmap(bitmap, sx, sy, sw, sh,
      { resizeWidth: dw, resizeHeight: dh, resizeQuality: 'high', colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
  } catch (error) {
    scaled = null;
  }
  try {
    let rgb;
    if (scaled && scaled.width === dw && scaled.height === dh) {
      rgb = pixelsOf(scaled, 256, 192, dx, dy);
    } else {
      // A browser without resizing in createImageBitmap: the canvas scales instead.
      rgb = pixelsOf(bitmap, 256, 192, 0, 0, (ctx) => ctx.drawImage(bitmap, sx, sy, sw, sh, dx, dy, dw, dh));
    }
    return { input: { type: 'pixels', width: 256, height: 192, rgb }, note };
  } finally {
    if (scaled) scaled.close();
  }
}

// The picture's ".s05" palette among the files given, named as the core names it.
async function companionOf(entry) {
  if (entry.companionName === undefined) {
    entry.companionName = (await worker.call({ kind: 'companion', name: entry.name })).result.name;
  }
  const pal = state.palettes.get(entry.companionName);
  // The palette lies 0x7687 bytes in; nothing after the first 64 KiB is read.
  return pal ? new Uint8Array(await pal.slice(0, 65536).arrayBuffer()) : null;
}

// Converts one picture with `settings` (or searches from them); resolves to the worker's reply.
// `files`: null, or what the worker is to make besides the result (see FILES).
async function convertEntry(entry, settings, kind = 'convert', isStale = () => false, files = null) {
  const companion = await companionOf(entry);
  const budget = Number($('budget').value) || core.defaultBudget;
  entry.note = '';
  let refused = null;
  if (entry.bmp) {
    const bytes = entry.bytes || (entry.bytes = new Uint8Array(await entry.file.slice(0, MAX_FILE_BYTES).arrayBuffer()));
    if (isStale()) return null;
    refused = await worker.call({ kind, input: { type: 'bmp', bytes }, settings, companion, budget, files });
    if (refused.result.ok || framing() === 'none' || !FRAMEABLE.has(refused.result.status)) return refused;
    // Refused for its size or format: the browser reads it and frames it like any picture.
    if (isStale()) return null;
  }
  let input;
  try {
    input = await framedInput(entry);
  } catch (error) {
    // A BMP the browser cannot read either keeps the core's message.
    return refused || { result: { ok: false, status: 'unreadable', message: error.message } };
  }
  if (isStale()) return null;
  entry.note = entry.framed.note;
  return worker.call({ kind, input, settings, companion, budget, files });
}

// ---------------------------------------------------------------------------------------------
// The live preview.
let previewRunning = false;
// The page is busy (body[data-busy]) while a preview, a search or a zip is under way; tests and
// scripts wait for it to clear.
let busyCount = 0;
function busy(delta) {
  busyCount += delta;
  if (busyCount > 0) document.body.dataset.busy = '1';
  else delete document.body.dataset.busy;
}

function settingsChanged() {
  state.generation++;
  if (state.autoRunning) cancelAuto();
  for (const e of state.files) e.result = null;
  schedulePreview();
}

async function schedulePreview() {
  if (previewRunning || !core) return;
  previewRunning = true;
  busy(1);
  try {
    while (state.chosen && state.shown !== state.generation) {
      const generation = state.generation;
      const entry = state.chosen;
      const settings = { ...state.settings };
      setStatus('Converting…', 'busy');
      const started = performance.now();
      let reply;
      try {
        reply = await convertEntry(entry, settings, 'convert', () => generation !== state.generation || entry !== state.chosen);
      } catch (error) {
        if (error instanceof Cancelled) continue;
        reply = { result: { ok: false, status: 'error', message: error.message } };
      }
      if (!reply || generation !== state.generation || entry !== state.chosen) continue;
      entry.result = reply.result;
      state.shown = generation;
      show(entry, reply, performance.now() - started);
    }
  } finally {
    previewRunning = false;
    busy(-1);
  }
  if (!state.chosen) showEmpty();
}

function setStatus(text, kind = '') {
  const s = $('status');
  s.textContent = text;
  s.className = 'status ' + kind;
}

function fmt(v, digits) {
  return v === null || v === undefined ? 'infinite' : v.toFixed(digits);
}

function show(entry, reply, totalMs) {
  const r = reply.result;
  const before = $('before').getContext('2d');
  const after = $('preview').getContext('2d');
  updateList();
  updateCommandLine();
  $('picture-title').textContent = entry.name;
  if (!r.ok) {
    before.clearRect(0, 0, 512, 384);
    after.clearRect(0, 0, 512, 384);
    let text = `${entry.name}: ${r.message}`;
    if (FRAMEABLE.has(r.status) && framing() === 'none') text += ' — choose Fit or Fill under Picture to frame it for the screen.';
    setStatus(text, 'error');
    $('figures').textContent = '';
    setDownloads(false);
    return;
  }
  after.putImageData(rgbImage(r.preview, 512, 384), 0, 0);
  before.putImageData(doubled(r.source, r.width, r.height), 0, 0);
  $('preview').dataset.converted = String(state.shown);
  const parts = [`${r.width} × ${r.height}`];
  if (entry.note) parts.push(entry.note);
  parts.push(r.search ? `options searched in ${(reply.ms / 1000).toFixed(1)} s` : `converted in ${Math.round(reply.ms)} ms`);
  setStatus(parts.join(' · '), 'ok');
  $('status').dataset.ms = reply.ms.toFixed(1);
  $('status').dataset.totalMs = totalMs.toFixed(1);
  $('status').dataset.measureMs = r.figures.ms.toFixed(1);
  const f = r.figures;
  $('figures').textContent = `How close: CIEDE2000 (blurred) mean ${fmt(f.deltaEMean, 2)}, 95th percentile ${fmt(f.deltaEP95, 2)}, SSIM ${fmt(f.ssim, 3)}, PSNR ${fmt(f.psnr, 2)} dB`;
  setDownloads(true);
}

function showEmpty() {
  $('before').getContext('2d').clearRect(0, 0, 512, 384);
  $('preview').getContext('2d').clearRect(0, 0, 512, 384);
  $('picture-title').textContent = 'No picture yet';
  $('figures').textContent = '';
  setStatus(core ? 'Drop pictures, or choose them, to begin.' : 'Loading the converter…');
  setDownloads(false);
  updateCommandLine();
}

function setDownloads(ok) {
  for (const o of OUTPUTS) $('download-' + o.key).disabled = !ok;
  for (const o of FILES) $(fileKey(o)).disabled = !ok;
  $('download-zip').disabled = !state.files.length;
  $('auto').disabled = !state.chosen || !core;
}

function rgbImage(rgb, width, height) {
  const image = new ImageData(width, height);
  const d = image.data;
  for (let i = 0, j = 0; j < rgb.length; i += 4, j += 3) {
    d[i] = rgb[j];
    d[i + 1] = rgb[j + 1];
    d[i + 2] = rgb[j + 2];
    d[i + 3] = 255;
  }
  return image;
}

// The source at twice its size on the 512 x 384 canvas, black around it as in the preview.
function doubled(rgb, width, height) {
  const image = new ImageData(512, 384);
  const d = image.data;
  for (let i = 3; i < d.length; i += 4) d[i] = 255;
  for (let y = 0; y < 2 * height; y++) {
    for (let x = 0; x < 2 * width; x++) {
      const s = ((y >> 1) * width + (x >> 1)) * 3;
      const o = (y * 512 + x) * 4;
      d[o] = rgb[s];
      d[o + 1] = rgb[s + 1];
      d[o + 2] = rgb[s + 2];
    }
  }
  return image;
}

// ---------------------------------------------------------------------------------------------
// The file list.
function addFiles(files) {
  let first = null;
  for (const file of files) {
    if (/\.s05$/i.test(file.name)) {
      state.palettes.set(file.name, file);
      for (const e of state.files) e.result = null;
      continue;
    }
    const entry = { key: nextKey++, file, name: file.name, bmp: /\.bmp$/i.test(file.name), result: null };
    state.files.push(entry);
    first = first || entry;
  }
  if (first) choose(first);
  else {
    state.generation++;
    schedulePreview();
  }
  updateList();
}

function choose(entry) {
  state.chosen = entry;
  state.generation++;
  $('auto-result').hidden = true;
  updateList();
  updateCommandLine();
  schedulePreview();
}

function removeEntry(entry) {
  state.files = state.files.filter((e) => e !== entry);
  if (state.chosen === entry) {
    state.chosen = state.files[0] || null;
    state.generation++;
    schedulePreview();
  }
  updateList();
  setDownloads(!!(state.chosen && state.chosen.result && state.chosen.result.ok));
}

function updateList() {
  const list = $('file-list');
  list.textContent = '';
  for (const entry of state.files) {
    const li = document.createElement('li');
    li.className = 'file' + (entry === state.chosen ? ' chosen' : '');
    const pick = document.createElement('button');
    pick.type = 'button';
    pick.className = 'file-pick';
    pick.setAttribute('aria-pressed', String(entry === state.chosen));
    const name = document.createElement('span');
    name.className = 'file-name';
    name.textContent = entry.name;
    const info = document.createElement('span');
    info.className = 'file-info';
    const r = entry.result;
    const companion = entry.companionName !== undefined && state.palettes.has(entry.companionName);
    if (r && !r.ok) {
      li.classList.add('failed');
      info.textContent = r.message;
    } else if (r) {
      info.textContent = `${r.width} × ${r.height}` + (companion ? ' · own palette' : '');
    } else {
      info.textContent = (entry.bmp ? 'BMP' : 'decoded by the browser') + (companion ? ' · own palette' : '');
    }
    pick.append(name, info);
    pick.addEventListener('click', () => choose(entry));
    const remove = document.createElement('button');
    remove.type = 'button';
    remove.className = 'file-remove';
    remove.title = 'Remove ' + entry.name + ' from the list';
    remove.setAttribute('aria-label', 'Remove ' + entry.name);
    remove.textContent = '×';
    remove.addEventListener('click', () => removeEntry(entry));
    li.append(pick, remove);
    list.append(li);
  }
  $('files-hint').hidden = state.files.length > 0;
  $('download-zip').disabled = !state.files.length;
}

// ---------------------------------------------------------------------------------------------
// Auto.
async function runAuto() {
  const entry = state.chosen;
  if (!entry || state.autoRunning) return;
  state.autoRunning = true;
  busy(1);
  const button = $('auto');
  button.textContent = 'Stop';
  button.classList.add('running');
  setStatus('Searching the options for ' + entry.name + '…', 'busy');
  const started = performance.now();
  let reply = null;
  try {
    reply = await convertEntry(entry, { ...state.settings }, 'auto', () => !state.autoRunning);
  } catch (error) {
    if (!(error instanceof Cancelled)) setStatus(error.message, 'error');
  }
  const finished = state.autoRunning;
  if (finished) busy(-1);
  state.autoRunning = false;
  button.textContent = 'Auto';
  button.classList.remove('running');
  if (!finished || !reply) return;
  const r = reply.result;
  if (!r.ok) {
    state.shown = -1;
    show(entry, reply, performance.now() - started);
    return;
  }
  // The chosen options become the page's; the result shown is the search's own conversion.
  state.settings = { ...r.settings };
  showSettings();
  state.generation++;
  state.shown = state.generation;
  entry.result = r;
  for (const e of state.files) if (e !== entry) e.result = null;
  show(entry, reply, performance.now() - started);
  const s = r.search;
  const change = s.startMean > 0 ? ((s.chosenMean - s.startMean) / s.startMean) * 100 : 0;
  const text = `Auto for ${entry.name}: CIEDE2000 (blurred) mean ${s.startMean.toFixed(2)} → ${s.chosenMean.toFixed(2)} ` +
    `(${change.toFixed(1)} %), ${s.conversions} conversions and ${s.trials} trials in ${(reply.ms / 1000).toFixed(1)} s. ` +
    'The options below are now these; they apply to every picture.';
  const p = $('auto-result');
  p.textContent = text;
  p.hidden = false;
}

function cancelAuto() {
  if (!state.autoRunning) return;
  state.autoRunning = false;
  busy(-1);
  worker.restart();
  $('auto').textContent = 'Auto';
  $('auto').classList.remove('running');
}

// ---------------------------------------------------------------------------------------------
// Downloads.
function baseName(name) {
  return name.replace(/\.[^.]*$/, '') || name;
}
function save(bytes, name, type = 'application/octet-stream') {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const a = document.createElement('a');
  a.href = url;
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

async function currentResult() {
  while (state.shown !== state.generation || previewRunning) {
    await new Promise((resolve) => setTimeout(resolve, 30));
  }
  return state.chosen && state.chosen.result;
}

function fileOptions(name) {
  return { name, dedupe: $('dedupe').checked, asmSyntax: $('asm-syntax').value };
}
// The command line's options for the same files.
function fileOptionsText() {
  return ($('dedupe').checked ? ' --dedupe' : '') + ($('asm-syntax').value === 'sdasz80' ? ' --asm-syntax sdasz80' : '');
}
function tilesText(name, files) {
  const [a, b, c] = files.tiles;
  return `${name}: ${a + b + c} tiles of 768 stored, ${a}, ${b} and ${c} per third`;
}

// A PNG file of the screen (red, green, blue bytes, 256 x 192), by the browser's encoder.
function screenPng(rgb) {
  const canvas = document.createElement('canvas');
  canvas.width = 256;
  canvas.height = 192;
  canvas.getContext('2d').putImageData(rgbImage(rgb, 256, 192), 0, 0);
  return new Promise((resolve, reject) => {
    canvas.toBlob((blob) => (blob ? blob.arrayBuffer().then((b) => resolve(new Uint8Array(b)), reject) : reject(new Error('no PNG'))), 'image/png');
  });
}

// The chosen picture's files for MSX programs, converted again with the options in force.
async function chosenFiles() {
  const r = await currentResult();
  if (!r || !r.ok) return null;
  const entry = state.chosen;
  busy(1);
  try {
    const reply = await convertEntry(entry, { ...state.settings }, 'convert', () => false, fileOptions(entry.name));
    return reply && reply.result.ok ? { entry, files: reply.result.files } : null;
  } finally {
    busy(-1);
  }
}

async function downloadFile(o) {
  try {
    const got = await chosenFiles();
    if (!got) return;
    const base = baseName(got.entry.name);
    save(await o.bytes(got.files), base + o.ext, o.type);
    if ($('dedupe').checked) setStatus(tilesText(got.entry.name, got.files), 'ok');
  } catch (error) {
    setStatus(error instanceof Cancelled ? 'The download was stopped.' : error.message, 'error');
  }
}

async function downloadZip() {
  const button = $('download-zip');
  button.disabled = true;
  busy(1);
  const settings = { ...state.settings };
  const entries = {};
  const used = new Set();
  const unique = (name) => {
    let n = name;
    for (let i = 2; used.has(n.toLowerCase()); i++) n = name.replace(/(\.[^.]*)$/, ` (${i})$1`);
    used.add(n.toLowerCase());
    return n;
  };
  const failed = [];
  try {
    for (const [i, entry] of state.files.entries()) {
      setStatus(`Converting ${i + 1} of ${state.files.length} for the zip: ${entry.name}`, 'busy');
      const withFiles = $('zip-files').checked || $('dedupe').checked;
      const reply = await convertEntry(entry, settings, 'convert', () => false, withFiles ? fileOptions(entry.name) : null);
      const r = reply.result;
      if (!r.ok) {
        failed.push(`${entry.name}: ${r.message}`);
        continue;
      }
      const base = baseName(entry.name);
      for (const o of OUTPUTS) if (o.zipped()) entries[unique(o.name(base))] = o.bytes(r);
      if (!$('zip-files').checked) continue;
      for (const o of FILES) entries[unique(base + o.ext)] = await o.bytes(r.files);
    }
    if (Object.keys(entries).length) save(fflate.zipSync(entries, { level: 6 }), 'lumaweave.zip', 'application/zip');
    setStatus(failed.length ? 'The zip leaves out ' + failed.join('; ') : `The zip holds ${state.files.length} pictures.`, failed.length ? 'error' : 'ok');
  } catch (error) {
    setStatus(error instanceof Cancelled ? 'The zip was stopped.' : error.message, 'error');
  } finally {
    button.disabled = !state.files.length;
    busy(-1);
  }
}

// ---------------------------------------------------------------------------------------------
// Start.
const worker = new CoreWorker((ready) => {
  const first = !core;
  core = { defaultBudget: ready.defaultBudget };
  if (first) {
    buildOptions(ready.fields);
    $('budget').value = ready.defaultBudget;
    $('budget').max = ready.maxBudget;
    showEmpty();
  }
  state.shown = -1;
  schedulePreview();
});

$('file-input').addEventListener('change', (event) => {
  addFiles([...event.target.files]);
  event.target.value = '';
});
const drop = $('drop');
for (const type of ['dragenter', 'dragover']) {
  document.addEventListener(type, (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
}
for (const type of ['dragleave', 'drop']) {
  document.addEventListener(type, (event) => {
    event.preventDefault();
    if (type === 'drop' || event.target === document.documentElement) drop.classList.remove('over');
  });
}
document.addEventListener('drop', (event) => {
  if (event.dataTransfer && event.dataTransfer.files.length) addFiles([...event.dataTransfer.files]);
});

for (const r of document.querySelectorAll('input[name="view"]')) {
  r.addEventListener('change', () => {
    $('canvases').className = 'canvases view-' + r.value;
  });
}
$('canvases').addEventListener('click', () => {
  const now = document.querySelector('input[name="view"]:checked').value;
  if (now === 'both') return;
  const next = now === 'after' ? 'before' : 'after';
  document.querySelector(`input[name="view"][value="${next}"]`).click();
});
for (const r of document.querySelectorAll('input[name="framing"]')) r.addEventListener('change', settingsChanged);
$('background').addEventListener('input', settingsChanged);
$('auto').addEventListener('click', () => (state.autoRunning ? cancelAuto() : runAuto()));
$('reset').addEventListener('click', () => {
  resetSettings();
  settingsChanged();
});
for (const o of OUTPUTS) {
  const button = document.createElement('button');
  button.type = 'button';
  button.id = 'download-' + o.key;
  button.textContent = o.label;
  button.disabled = true;
  button.addEventListener('click', async () => {
    if (o.key === 's02' && $('dedupe').checked) {
      // Identical tiles stored once: the core makes that .S02 with the other files.
      const got = await chosenFiles();
      if (got) save(got.files.s02, baseName(got.entry.name) + '.S02');
      return;
    }
    const r = await currentResult();
    if (r && r.ok) save(o.bytes(r), o.name(baseName(state.chosen.name)), o.type);
  });
  $('downloads').append(button);
}
for (const o of FILES) {
  const button = document.createElement('button');
  button.type = 'button';
  button.id = fileKey(o);
  button.textContent = o.ext;
  button.title = o.title;
  button.disabled = true;
  button.addEventListener('click', () => downloadFile(o));
  $('file-downloads').append(button);
}
$('dedupe').addEventListener('change', updateCommandLine);
$('asm-syntax').addEventListener('change', updateCommandLine);
$('download-zip').addEventListener('click', downloadZip);
