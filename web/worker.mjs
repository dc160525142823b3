// The viewer's worker: holds the open image (and its covered version) in the
// WebAssembly module and does every piece of work that takes time, so that
// the page never waits for it. Long work goes in slices of about
// SLICE_PIXELS pixels with a pause between them, in which a newer request
// can take over.
//
// Messages from the page, and what each answers (the answers about a file
// carry the serial number the page gave it when it asked to open it):
//   {type: 'open', serial, source, pixelLimit}
//                                  -> 'opened' {info} | 'refused' {message, problems}
//                                     | 'unreadable' {message}
//                                     (source: a File or Blob, or a URL to fetch)
//                                     then, once the first plane is shown, 'counts'
//   {type: 'plane', id, which, k}  -> 'rows' {id, firstLine, rows}... 'planeDone' {id}
//   {type: 'cover', rules}         -> 'covered' {changed, bytes, info} | 'coverFailed' {message}
//   {type: 'export', which, k}     -> 'exported' {blob} | 'exportFailed' {message}
// Any failure of a request is answered with 'failed' {message}.
import createBtreeimg from './btreeimg.mjs';

const SLICE_PIXELS = 1 << 20;

const loading = createBtreeimg();
const images = { before: null, after: null };
let serial = 0;         // the page's number of the open file: work of an older one stops
let currentPlane = 0;   // the id of the plane request being answered
let counting = null;    // the pixel count of the open file, once started

const pause = () => new Promise((resolve) => setTimeout(resolve, 0));

function linesPerSlice(width) {
  return Math.max(1, Math.floor(SLICE_PIXELS / Math.max(width, 1)));
}

function describe(img) {
  const planes = [];
  for (let k = 1; k <= img.planeCount; ++k) planes.push(img.plane(k));
  return { version: img.version, planeCount: img.planeCount, planes, colourMap: img.colourMap };
}

function closeAll() {
  images.before?.close();
  images.after?.close();
  images.before = images.after = null;
  counting = null;
}

// The bytes of `source`, read here rather than in the page: receiving a
// large file takes the thread that reads it a while.
async function readSource(source) {
  if (typeof source != 'string') return source.arrayBuffer();
  let response;
  try {
    response = await fetch(source);
  } catch (e) {
    throw new Error(`${source}: cannot be loaded (${e.message})`);
  }
  if (!response.ok) throw new Error(`${source}: cannot be loaded (${response.status} ${response.statusText})`);
  return response.arrayBuffer();
}

async function open(bi, reading, pixelLimit) {
  const mine = serial;
  closeAll();
  let data;
  try {
    data = new Uint8Array(await reading);
  } catch (e) {
    if (mine == serial) postMessage({ type: 'unreadable', serial, message: e.message });
    return;
  }
  if (mine != serial) return;  // another file was asked for meanwhile
  try {
    images.before = bi.open(data, { pixelLimit: pixelLimit ?? bi.defaultPixelLimit });
  } catch (e) {
    postMessage({ type: 'refused', serial, message: e.message, problems: bi.check(data) });
    return;
  }
  postMessage({ type: 'opened', serial, info: describe(images.before) });
}

// Counts the pixels of every plane (for the facts `btreeimg info` shows).
async function countPixels() {
  const mine = serial;
  const img = images.before;
  const counts = [];
  for (let k = 1; k <= img.planeCount; ++k) {
    const { width, height } = img.plane(k);
    const total = new Float64Array(256);
    const step = linesPerSlice(width);
    for (let y = 0; y < height; y += step) {
      const part = img.histogram(k, y, Math.min(step, height - y));
      for (let i = 0; i < 256; ++i) total[i] += part[i];
      await pause();
      if (mine != serial) return;
    }
    counts.push(total);
  }
  postMessage({ type: 'counts', serial: mine, counts });
}

async function sendPlane(id, which, k) {
  currentPlane = id;
  const mine = serial;
  const img = images[which];
  if (!img) return;  // its file was closed since the page asked
  const { width, height } = img.plane(k);
  const step = linesPerSlice(width);
  for (let y = 0; y < height; y += step) {
    const rows = img.indices(k, y, Math.min(step, height - y));
    postMessage({ type: 'rows', id, firstLine: y, rows }, [rows.buffer]);
    await pause();
    if (currentPlane != id || mine != serial) return;
  }
  postMessage({ type: 'planeDone', id });
  if (!counting && images.before) counting = countPixels();
}

async function cover(bi, rules) {
  if (!images.before) throw new Error('no image is open');
  let result;
  try {
    result = images.before.cover(rules);
  } catch (e) {
    postMessage({ type: 'coverFailed', serial, message: e.message });
    return;
  }
  images.after?.close();
  images.after = null;
  if (!result.changed) {
    postMessage({ type: 'covered', serial, changed: false });
    return;
  }
  images.after = bi.open(result.bytes, { pixelLimit: Infinity });  // the size of the image open
  const info = describe(images.after);
  postMessage({ type: 'covered', serial, changed: true, bytes: result.bytes, info }, [result.bytes.buffer]);
}

async function exportPng(which, k) {
  const img = images[which];
  if (!img) throw new Error(`no ${which} image`);
  const { width, height } = img.plane(k);
  if (typeof OffscreenCanvas != 'function') {
    // The page encodes it.
    const rgba = img.rgba(k);
    postMessage({ type: 'exported', width, height, rgba }, [rgba.buffer]);
    return;
  }
  try {
    const canvas = new OffscreenCanvas(width, height);
    canvas.getContext('2d').putImageData(new ImageData(img.rgba(k), width, height), 0, 0);
    postMessage({ type: 'exported', blob: await canvas.convertToBlob({ type: 'image/png' }) });
  } catch (e) {
    postMessage({ type: 'exportFailed', message: `the plane cannot be exported: ${e.message}` });
  }
}

onmessage = async ({ data: request }) => {
  // A file is read while the module may still be loading.
  const reading = request.type == 'open' ? readSource(request.source) : null;
  reading?.catch(() => {});  // its failure is answered by open()
  try {
    const bi = await loading;
    switch (request.type) {
      case 'open':
        serial = request.serial;
        return await open(bi, reading, request.pixelLimit);
      case 'plane': return await sendPlane(request.id, request.which, request.k);
      case 'cover': return await cover(bi, request.rules);
      case 'export': return await exportPng(request.which, request.k);
    }
  } catch (e) {
    postMessage({ type: 'failed', message: e?.message ?? String(e) });
  }
};
