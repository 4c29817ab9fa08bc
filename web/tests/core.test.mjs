// The WebAssembly core in node, against the native command line: the same bytes for every sample
// under settings profiles that take different paths through the conversion, the same search
// result, the same refusals; pixels handed over directly give what the BMP gives.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join } from 'node:path';
import { describe, it, before } from 'node:test';

import { cli, cliFiles, cliMessage, coreJs, missing, readBmp, runCli, samples, writeTemp } from './support.mjs';

const why = missing({ core: true });
const require = createRequire(import.meta.url);

// Settings as the page sends them (field names) and as the command line takes them.
const PROFILES = [
  { name: 'initial', settings: {}, args: [] },
  { name: 'msx2, hue search', settings: { palette: 2, hue: 3, index_0: 0 }, args: ['--palette', '2', '--hue', '3', '--index-0', 'off'] },
  { name: 'vertical, no mix', settings: { vertical_error_ratio: 6, dither_order: 0, mix: 0 }, args: ['--vertical-error-ratio', '6', '--dither-order', 'vertical', '--mix', 'off'] },
  { name: 'tone', settings: { gamma: -4, color_d: 9, index_r: 1, edge_emph: 1, col_reduction: 0 }, args: ['--gamma', '-4', '--color-d', '9', '--index-r', 'on', '--edge-emph', 'on', '--col-reduction', 'off'] },
  { name: 'plain', settings: { lumi_sort: 0, mix: 0, block_noise: 0, color_no0: 1, mitigation: 1, horizontal_position_correction: 3 }, args: ['--lumi-sort', 'off', '--mix', 'off', '--block-noise', 'off', '--color-no0', 'on', '--mitigation', 'off', '--horizontal-position-correction', '3'] },
];
const SAMPLES = ['astronaut.bmp', 'cards.bmp', 'coffee.bmp'];

describe('the WebAssembly core', { skip: why || false }, () => {
  let core;
  let session;
  before(async () => {
    core = await require(coreJs)();
    session = new core.Session();
  });

  it('describes every setting of the command line, with its values and initial value', () => {
    const help = execFileSync(cli, ['--help']).toString();
    const fields = core.settingFields();
    assert.equal(fields.length, 23);
    for (const f of fields) {
      assert.ok(help.includes('--' + f.name.replace(/_/g, '-')), `--help lists ${f.name}`);
      assert.ok(f.description.length > 10, f.name);
      assert.ok(f.min <= f.initial && f.initial <= f.max, f.name);
      if (f.kind === 'scale') {
        assert.equal(f.values.length, 0, f.name);
      } else {
        assert.equal(f.values[0].value, f.min, f.name);
        assert.equal(f.values.at(-1).value, f.max, f.name);
        assert.ok(f.values.some((v) => v.value === f.initial), f.name);
      }
      if (f.kind === 'flag') assert.deepEqual(f.values.map((v) => v.name), ['off', 'on'], f.name);
    }
  });

  for (const sample of SAMPLES) {
    for (const profile of PROFILES) {
      it(`${sample}, ${profile.name}: the command line's bytes, from the BMP and from its pixels`, () => {
        const path = join(samples, sample);
        const expected = runCli(path, [...profile.args, '--export']);
        const bytes = new Uint8Array(readFileSync(path));
        const fromBmp = session.convertBmp(bytes, profile.settings, null, null);
        assert.equal(fromBmp.ok, true, fromBmp.message);
        assert.deepEqual(Buffer.from(fromBmp.vram), expected.vram);
        assert.deepEqual(Buffer.from(fromBmp.exportBmp), expected.exportBmp);
        const { width, height, rgb } = readBmp(bytes);
        const fromPixels = session.convertPixels(width, height, rgb, profile.settings, null, null);
        assert.deepEqual(Buffer.from(fromPixels.vram), expected.vram);
      });
    }
  }

  // The files for MSX programs: NAME.screen.png aside (the page's canvas makes it), the bytes of
  // lumaweave-cli --format, with and without --dedupe, in either assembler's form.
  for (const [what, request, args] of [
    ['as they are', { dedupe: false, asmSyntax: 'pasmo' }, []],
    ['tiles stored once, sdasz80, MSX2 palette', { dedupe: true, asmSyntax: 'sdasz80' }, ['--dedupe', '--asm-syntax', 'sdasz80', '--palette', 'msx2']],
  ]) {
    it(`the files for MSX programs, ${what}: the command line's bytes`, () => {
      const path = join(samples, 'cards.bmp');
      const settings = args.includes('msx2') ? { palette: 2 } : {};
      const r = session.convertBmp(new Uint8Array(readFileSync(path)), settings, null, { name: 'cards.bmp', ...request });
      assert.equal(r.ok, true, r.message);
      const expected = cliFiles(path, ['--format', 's02,raw,c,asm,rom,pal', ...args], ['.S02', '.chr', '.clr', '.nam', '.h', '.asm', '.rom', '.pal']);
      const keys = { '.S02': 's02', '.chr': 'chr', '.clr': 'clr', '.nam': 'nam', '.h': 'h', '.asm': 'asm', '.rom': 'rom', '.pal': 'pal' };
      for (const [ext, key] of Object.entries(keys)) assert.deepEqual(Buffer.from(r.files[key]), expected[ext], ext);
      const [a, b, c] = r.files.tiles;
      assert.equal(a + b + c < 768, request.dedupe);
      assert.equal(r.files.screen.length, 256 * 192 * 3);
      assert.equal(r.files.msx2Palette, args.includes('msx2'));
      assert.equal(session.convertBmp(new Uint8Array(readFileSync(path)), {}, null, null).files, undefined);
    });
  }

  it('Auto chooses what --auto chooses, from the BMP and from its pixels', () => {
    const path = join(samples, 'cards.bmp');
    const expected = runCli(path, ['--auto']);
    const bytes = new Uint8Array(readFileSync(path));
    const fromBmp = session.autoBmp(bytes, {}, null, core.defaultBudget);
    assert.deepEqual(Buffer.from(fromBmp.vram), expected.vram);
    assert.ok(fromBmp.search.chosenMean <= fromBmp.search.startMean);
    const { width, height, rgb } = readBmp(bytes);
    const fromPixels = session.autoPixels(width, height, rgb, {}, null, core.defaultBudget);
    assert.deepEqual(fromPixels.settings, fromBmp.settings);
    assert.deepEqual(Buffer.from(fromPixels.vram), expected.vram);
  });

  it('refuses what the command line refuses, with its message', () => {
    const astronaut = readFileSync(join(samples, 'astronaut.bmp'));
    const wide = Buffer.from(astronaut);
    wide.writeInt32LE(264, 18);
    const odd = Buffer.from(astronaut);
    odd.writeInt32LE(250, 18);
    const cases = [
      ['truncated.bmp', astronaut.subarray(0, 4000)],
      ['header-only.bmp', astronaut.subarray(0, 40)],
      ['wide.bmp', wide],
      ['odd.bmp', odd],
    ];
    for (const [name, bytes] of cases) {
      const expected = cliMessage(writeTemp(name, bytes));
      assert.ok(expected, `the command line refuses ${name}`);
      const r = session.convertBmp(new Uint8Array(bytes), {}, null, null);
      assert.equal(r.ok, false, name);
      assert.equal(r.message, expected, name);
    }
    const outOfRange = session.convertBmp(new Uint8Array(astronaut), { hue: 7 }, null, null);
    assert.equal(outOfRange.status, 'invalid_settings');
    const wrongSize = session.convertPixels(64, 64, new Uint8Array(10), {}, null, null);
    assert.equal(wrongSize.status, 'format_not_convertible');
  });

  it('judges sizes as the core converts them', () => {
    const table = [
      [256, 192, 0, 'ok'], [264, 192, 1, 'ok'], [264, 192, 0, 'width_exceeds_256'], [250, 100, 0, 'width_not_multiple_of_8'],
      [256, 193, 0, 'height_exceeds_192'], [8, 100, 0, 'image_too_small'], [640, 480, 0, 'width_exceeds_256'],
    ];
    for (const [w, h, c, status] of table) assert.equal(core.checkPictureSize(w, h, c), status, `${w} x ${h}, correction ${c}`);
    assert.equal(core.companionName('pic.bmp'), 'pic.s05');
  });
});
