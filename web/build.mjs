// Builds web/dist/lumaweave.html: the page, its style, its script, the zip library and the
// worker (the Emscripten module with the WebAssembly inlined, then worker.js) in one file that
// works from file:// as well as from any static host.
//
//   node web/build.mjs [CORE_JS] [OUT_HTML]
//
// CORE_JS is the Emscripten output (build-web/src/web/lumaweave_core.js by default).
import { readFileSync, writeFileSync, mkdirSync, renameSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const root = resolve(here, '..');
const coreJs = resolve(process.argv[2] || resolve(root, 'build-web/src/web/lumaweave_core.js'));
const out = resolve(process.argv[3] || resolve(here, 'dist/lumaweave.html'));
const require = createRequire(import.meta.url);

const read = (path) => readFileSync(path, 'utf8');
// Code put inside <script> must not end the element early.
function inlineScript(code, what) {
  if (/<\/script|<!--/i.test(code)) throw new Error(`${what} holds "</script" or "<!--" and cannot be inlined as it is`);
  return code;
}

let core;
try {
  core = read(coreJs);
} catch {
  console.error(`web/build.mjs: ${coreJs} is missing; build the core first (scripts/web.sh)`);
  process.exit(1);
}
const worker = core + '\n' + read(resolve(here, 'src/worker.js'));
// The worker's code as a string literal; "<" escaped, so nothing in it can close the element.
const workerLiteral = JSON.stringify(worker).replace(/</g, '\\u003c');
// The UMD build defines the global `fflate`; the package exports no path to it, so find it beside
// the package's main file.
const fflate = read(resolve(dirname(require.resolve('fflate')), '../umd/index.js'));

const parts = {
  '/*@STYLE@*/': read(resolve(here, 'src/style.css')),
  '/*@FFLATE@*/': inlineScript(fflate, 'fflate'),
  '/*@WORKER@*/""': workerLiteral,
  '/*@APP@*/': inlineScript(read(resolve(here, 'src/app.js')), 'app.js'),
};
let html = read(resolve(here, 'src/index.html'));
for (const [mark, text] of Object.entries(parts)) {
  if (html.split(mark).length !== 2) throw new Error(`index.html must hold ${mark} once`);
  html = html.split(mark).join(text);
}

mkdirSync(dirname(out), { recursive: true });
// Written beside and renamed, so that a failed build never leaves half a page.
writeFileSync(out + '.tmp', html);
renameSync(out + '.tmp', out);
console.log(`wrote ${out} (${Math.round(html.length / 1024)} KiB)`);
