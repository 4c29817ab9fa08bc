// The page's worker: the conversion core (the Emscripten module, whose code the build puts just
// before this file) runs here so that the page never freezes. It answers one message at a time,
// in the order received:
//   {id, kind: 'convert' | 'auto', input, settings, companion, budget, files} -> {id, result, ms}
// where input is {type: 'bmp', bytes} or {type: 'pixels', width, height, rgb}, and files (for a
// conversion) null or {name, dedupe, asmSyntax}: the files for MSX programs to make from the
// result (result.files). Images and files in a result are transferred, not copied.
/* global createLumaweave */
'use strict';

const ready = createLumaweave().then((core) => {
  const session = new core.Session();
  const fields = core.settingFields();
  self.postMessage({ ready: true, fields, defaultBudget: core.defaultBudget, maxBudget: core.maxBudget });
  return { core, session };
});

function run({ core, session }, job) {
  const { input, settings, companion = null } = job;
  if (job.kind === 'companion') return { name: core.companionName(job.name) };
  if (job.kind === 'size') {
    return { status: core.checkPictureSize(job.width, job.height, job.correction) };
  }
  if (job.kind === 'auto') {
    return input.type === 'bmp'
      ? session.autoBmp(input.bytes, settings, companion, job.budget)
      : session.autoPixels(input.width, input.height, input.rgb, settings, companion, job.budget);
  }
  const files = job.files || null;
  return input.type === 'bmp'
    ? session.convertBmp(input.bytes, settings, companion, files)
    : session.convertPixels(input.width, input.height, input.rgb, settings, companion, files);
}

self.onmessage = async (event) => {
  const job = event.data;
  const context = await ready;
  let reply;
  try {
    const start = performance.now();
    const result = run(context, job);
    reply = { id: job.id, result, ms: performance.now() - start };
  } catch (error) {
    reply = { id: job.id, error: String(error && error.message ? error.message : error) };
  }
  const transfer = [];
  if (reply.result) {
    for (const key of ['vram', 'preview', 'exportBmp', 'source']) {
      if (reply.result[key]) transfer.push(reply.result[key].buffer);
    }
    for (const bytes of Object.values(reply.result.files || {})) {
      if (bytes instanceof Uint8Array) transfer.push(bytes.buffer);
    }
  }
  self.postMessage(reply, transfer);
};
