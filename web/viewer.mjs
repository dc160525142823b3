// The viewer page. The image lives in a worker (worker.mjs), which decodes
// the shown plane in slices of lines and hands over their stored values; the
// page keeps the plane's values and paints only the window's pixels from
// them through the colour map, nearest neighbour, so the colours on the
// canvas are the colour map's own at every zoom.
//
// The view: `scale` device pixels per image pixel (integers 1 to 32 when
// zoomed in, 1/64 to 1/2 or the fitting scale when zoomed out), the image's
// top left corner at device pixel (ox, oy) of the canvas. The canvas carries
// the view in data attributes (scale, origin-x, origin-y, plane, which,
// ready) for scripts that drive the page.

const $ = (id) => document.getElementById(id);
const ui = {
  openFile: $('open-file'), plane: $('plane'), zoom: $('zoom'),
  zoomIn: $('zoom-in'), zoomOut: $('zoom-out'), fit: $('fit'), oneToOne: $('one-to-one'),
  rulesButton: $('rules-button'), rulesFile: $('rules-file'), saveCovered: $('save-covered'),
  before: document.querySelector('input[name=which][value=before]'),
  after: document.querySelector('input[name=which][value=after]'),
  exportPng: $('export'), stage: $('stage'), view: $('view'), hint: $('hint'),
  verdict: $('verdict'), facts: $('facts'), status: $('status'),
};

const LEVELS = [1 / 64, 1 / 32, 1 / 16, 1 / 8, 1 / 4, 1 / 2, 1, 2, 3, 4, 6, 8, 12, 16, 24, 32];
const MAX_SCALE = 32;
const BACKGROUND = 0xff3a3a3a;  // RGBA bytes 3a 3a 3a ff as one little-endian word
const ENCODINGS = ['raw', 'packed', 'whole-plane packed'];
const LISTED_ENTRIES = 16;      // colour-map entries listed one by one, as `btreeimg info` does

const worker = new Worker(new URL('worker.mjs', import.meta.url), { type: 'module' });
let file = null;   // {serial, name, info, counts, covered: {info, bytes, rules}, pendingRules}
let shown = null;  // {id, which, k, width, height, pixels, linesReady, done, lut}
let nextId = 0;
let opens = 0;     // serial numbers of the files opened: answers about older ones are dropped
const view = { scale: 1, ox: 0, oy: 0, fitted: true };

// ---- Messages ---------------------------------------------------------------

function say(text, error = false) {
  ui.status.textContent = text;
  ui.status.classList.toggle('error', error);
}

const fail = (text) => say(text, true);

worker.onerror = (event) => {
  event.preventDefault?.();
  fail(`The viewer's module could not be loaded${event.message ? `: ${event.message}` : ''}.`);
};

worker.onmessage = ({ data: m }) => {
  if (m.serial !== undefined && m.serial != file?.serial) return;
  switch (m.type) {
    case 'opened': return opened(m.info);
    case 'refused': return refused(m.message, m.problems);
    case 'unreadable': ui.hint.hidden = false; return fail(m.message);
    case 'rows': return receiveRows(m);
    case 'planeDone': return planeDone(m.id);
    case 'counts': file.counts = m.counts; return showFacts();
    case 'covered': return covered(m);
    case 'coverFailed': return fail(`${file.covered?.rules ?? 'rules'}: ${m.message}`);
    case 'exported': return exported(m);
    case 'exportFailed': case 'failed': return fail(m.message);
  }
};

// ---- Opening ----------------------------------------------------------------

// Opens `source`, a File or a URL (which the worker fetches).
function open(name, source, rules = null) {
  file = { serial: ++opens, name, info: null, counts: null, covered: null, pendingRules: rules };
  shown = null;
  ui.verdict.hidden = true;
  ui.facts.textContent = '';
  ui.hint.hidden = true;
  enableControls(false);
  say(`Opening ${name}…`);
  worker.postMessage({ type: 'open', serial: file.serial, source, pixelLimit });
  redraw();
}

function opened(info) {
  file.info = info;
  ui.plane.replaceChildren(...info.planes.map((p, i) => new Option(
    `${i + 1} of ${info.planeCount}: ${p.width} × ${p.height}, ${ENCODINGS[p.encoding] ?? 'undefined'}`, i + 1)));
  enableControls(true);
  showFacts();
  say(`${file.name}: version ${info.version}, ${plural(info.planeCount, 'plane')}, ` +
      `${info.planes[0].width} × ${info.planes[0].height}`);
  showPlane('before', 1, true);
  if (file.pendingRules) applyRules(file.pendingRules.name, file.pendingRules.text);
}

// The verdict in the words of `btreeimg check`: one line per problem (a
// sound file over the pixel limit has none: the refusal itself, then).
function refused(message, problems) {
  const name = file.name;
  ui.verdict.replaceChildren();
  const heading = document.createElement('strong');
  heading.textContent = `${name} cannot be shown.`;
  const lines = problems.length ? problems : [message];
  ui.verdict.append(heading, '\n' + lines.map((p) => `${name}: ${p}`).join('\n'));
  ui.verdict.hidden = false;
  ui.hint.hidden = false;
  fail(`${name}: ${message}`);
  redraw();
}

// ?src=URL (and &rules=URL): the image is fetched by the worker, the rules here.
async function openUrl(src, rulesSrc) {
  const url = new URL(src, location.href);
  const name = decodeURIComponent(url.pathname.split('/').pop() || src);
  let rules = null;
  if (rulesSrc) {
    try {
      const response = await fetch(new URL(rulesSrc, location.href));
      if (!response.ok) throw new Error(`${response.status} ${response.statusText}`);
      rules = { name: decodeURIComponent(rulesSrc.split('/').pop()), text: await response.text() };
    } catch (e) {
      fail(`${rulesSrc}: cannot be loaded (${e.message})`);
    }
  }
  open(name, url.href, rules);
}

async function openFile(f) {
  if (/\.txt$/i.test(f.name) && file?.info) {
    applyRules(f.name, await f.text());
    return;
  }
  open(f.name, f);
}

// ---- The shown plane --------------------------------------------------------

function colourTable(map) {
  const lut = new Uint32Array(256);
  for (let i = 0; i < 256; ++i) {
    lut[i] = (0xff000000 | map[3 * i + 2] << 16 | map[3 * i + 1] << 8 | map[3 * i]) >>> 0;
  }
  return lut;
}

function showPlane(which, k, refit = false) {
  const info = which == 'after' ? file.covered.info : file.info;
  const { width, height } = info.planes[k - 1];
  let pixels;
  try {
    pixels = new Uint8Array(width * height);
  } catch {
    fail(`Plane ${k} (${width} × ${height}) does not fit in this browser's memory.`);
    return;
  }
  const id = ++nextId;
  shown = { id, which, k, width, height, pixels, linesReady: 0, done: false,
            lut: colourTable(info.colourMap) };
  worker.postMessage({ type: 'plane', id, which, k });
  ui.plane.value = String(k);
  ui.before.checked = which == 'before';
  ui.after.checked = which == 'after';
  if (refit || view.fitted) fit(); else keepInView();
  redraw();
}

function receiveRows({ id, firstLine, rows }) {
  if (shown?.id != id) return;
  shown.pixels.set(rows, firstLine * shown.width);
  shown.linesReady = firstLine + rows.length / shown.width;
  if (shown.height > 2048) say(`Decoding plane ${shown.k}: ${Math.floor(100 * shown.linesReady / shown.height)}%`);
  redraw();
}

function planeDone(id) {
  if (shown?.id != id) return;
  shown.done = true;
  if (shown.height > 2048) say(`Plane ${shown.k} decoded.`);
  redraw();
}

// ---- Painting ---------------------------------------------------------------

const context = ui.view.getContext('2d', { alpha: false });
let frame = 0;
let canvasImage = null;

function redraw() {
  if (!frame) frame = requestAnimationFrame(paint);
}

function canvasSize() {
  const ratio = devicePixelRatio || 1;
  return { W: Math.max(1, Math.round(ui.view.clientWidth * ratio)),
           H: Math.max(1, Math.round(ui.view.clientHeight * ratio)) };
}

function paint() {
  frame = 0;
  const { W, H } = canvasSize();
  const canvas = ui.view;
  if (canvas.width != W || canvas.height != H) {
    canvas.width = W;
    canvas.height = H;
    canvasImage = null;
  }
  if (shown) {
    if (!canvasImage) canvasImage = context.createImageData(W, H);
    const out = new Uint32Array(canvasImage.data.buffer);
    out.fill(BACKGROUND);
    paintPlane(out, W, H);
    context.putImageData(canvasImage, 0, 0);
  } else {
    context.fillStyle = '#3a3a3a';
    context.fillRect(0, 0, W, H);
  }
  if (shown?.done && !performance.getEntriesByName('btreeimg:first-plane').length) {
    performance.mark('btreeimg:first-plane');  // the first plane painted whole (for bench/web)
  }
  Object.assign(canvas.dataset, {
    scale: view.scale, originX: view.ox, originY: view.oy,
    plane: shown?.k ?? '', which: shown?.which ?? '', ready: shown?.done ? '1' : '0',
  });
}

// Each canvas pixel shows the image pixel under its top left corner.
function paintPlane(out, W, H) {
  const { width, pixels, linesReady, lut } = shown;
  const { scale, ox, oy } = view;
  const column = new Int32Array(W);
  let x0 = W, x1 = 0;
  for (let px = 0; px < W; ++px) {
    const ix = Math.floor((px - ox) / scale);
    column[px] = ix;
    if (ix >= 0 && ix < width) {
      x0 = Math.min(x0, px);
      x1 = px + 1;
    }
  }
  let previous = -1, previousRow = 0;
  for (let py = 0; py < H; ++py) {
    const iy = Math.floor((py - oy) / scale);
    if (iy < 0 || iy >= linesReady) continue;
    const row = py * W;
    if (iy == previous) {
      out.copyWithin(row + x0, previousRow + x0, previousRow + x1);
    } else {
      const base = iy * width;
      for (let px = x0; px < x1; ++px) out[row + px] = lut[pixels[base + column[px]]];
    }
    previous = iy;
    previousRow = row;
  }
}

// ---- Zoom and pan -----------------------------------------------------------

function showZoom() {
  const s = view.scale;
  ui.zoom.value = s >= 1 ? `${s}×` : `${+(s * 100).toFixed(1)}%`;
  ui.zoomIn.disabled = !shown || s >= MAX_SCALE;
  ui.zoomOut.disabled = !shown || s <= LEVELS[0];
}

// Keeps at least a corner of the image in the window.
function keepInView() {
  if (!shown) return;
  const { W, H } = canvasSize();
  const w = shown.width * view.scale, h = shown.height * view.scale;
  const mx = Math.min(64, w), my = Math.min(64, h);
  view.ox = Math.round(Math.min(W - mx, Math.max(mx - w, view.ox)));
  view.oy = Math.round(Math.min(H - my, Math.max(my - h, view.oy)));
}

function fit() {
  if (!shown) return;
  const { W, H } = canvasSize();
  let s = Math.min(W / shown.width, H / shown.height);
  s = s >= 1 ? Math.min(MAX_SCALE, Math.floor(s)) : s;
  view.scale = s;
  view.ox = Math.round((W - shown.width * s) / 2);
  view.oy = Math.round((H - shown.height * s) / 2);
  view.fitted = true;
  showZoom();
  redraw();
}

// Zooms to scale `s`, keeping the image point under device pixel (px, py).
function zoomTo(s, px, py) {
  if (!shown) return;
  s = Math.min(MAX_SCALE, Math.max(LEVELS[0], s));
  const ix = (px - view.ox) / view.scale, iy = (py - view.oy) / view.scale;
  view.ox = Math.round(px - ix * s);
  view.oy = Math.round(py - iy * s);
  view.scale = s;
  view.fitted = false;
  keepInView();
  showZoom();
  redraw();
}

function zoomStep(direction, px, py) {
  const s = view.scale;
  const next = direction > 0 ? LEVELS.find((z) => z > s * (1 + 1e-9))
                             : [...LEVELS].reverse().find((z) => z < s * (1 - 1e-9));
  if (next !== undefined) zoomTo(next, px, py);
}

function centre() {
  const { W, H } = canvasSize();
  return [W / 2, H / 2];
}

function panBy(dx, dy) {
  view.ox += Math.round(dx);
  view.oy += Math.round(dy);
  view.fitted = false;
  keepInView();
  redraw();
}

let drag = null;
ui.view.addEventListener('pointerdown', (e) => {
  if (!shown || e.button != 0) return;
  drag = { x: e.clientX, y: e.clientY, ox: view.ox, oy: view.oy };
  ui.view.setPointerCapture(e.pointerId);
  ui.view.classList.add('dragging');
});
ui.view.addEventListener('pointermove', (e) => {
  if (!drag) return;
  const ratio = devicePixelRatio || 1;
  view.ox = drag.ox + Math.round((e.clientX - drag.x) * ratio);
  view.oy = drag.oy + Math.round((e.clientY - drag.y) * ratio);
  view.fitted = false;
  keepInView();
  redraw();
});
const endDrag = () => { drag = null; ui.view.classList.remove('dragging'); };
ui.view.addEventListener('pointerup', endDrag);
ui.view.addEventListener('pointercancel', endDrag);

let wheel = 0;
ui.view.addEventListener('wheel', (e) => {
  if (!shown) return;
  e.preventDefault();
  wheel += e.deltaMode == 0 ? e.deltaY : e.deltaY * 40;
  if (Math.abs(wheel) < 50) return;
  const ratio = devicePixelRatio || 1;
  const box = ui.view.getBoundingClientRect();
  zoomStep(wheel < 0 ? 1 : -1, (e.clientX - box.left) * ratio, (e.clientY - box.top) * ratio);
  wheel = 0;
}, { passive: false });

addEventListener('keydown', (e) => {
  if (!shown || e.ctrlKey || e.metaKey || e.altKey || /^(INPUT|SELECT|TEXTAREA)$/.test(e.target.tagName)) return;
  const { W, H } = canvasSize();
  const act = {
    '+': () => zoomStep(1, ...centre()), '=': () => zoomStep(1, ...centre()),
    '-': () => zoomStep(-1, ...centre()), '0': fit, '1': () => zoomTo(1, ...centre()),
    ArrowLeft: () => panBy(W / 10, 0), ArrowRight: () => panBy(-W / 10, 0),
    ArrowUp: () => panBy(0, H / 10), ArrowDown: () => panBy(0, -H / 10),
  }[e.key];
  if (act) {
    e.preventDefault();
    act();
  }
});

new ResizeObserver(() => {
  if (view.fitted) fit(); else { keepInView(); redraw(); }
}).observe(ui.view);

// ---- Rules, export ----------------------------------------------------------

function applyRules(name, text) {
  file.covered = { info: null, bytes: null, rules: name };
  ui.after.disabled = ui.saveCovered.disabled = true;
  say(`Applying ${name} to plane 1…`);
  worker.postMessage({ type: 'cover', rules: text });
}

function covered({ changed, bytes, info }) {
  if (!file?.covered) return;  // another file was opened meanwhile
  const rules = file.covered.rules;
  if (!changed) {
    file.covered = null;
    if (shown?.which == 'after') showPlane('before', 1);
    say(`${rules} changed nothing.`);
    return;
  }
  file.covered = { info, bytes, rules };
  ui.after.disabled = ui.saveCovered.disabled = false;
  say(`${rules} applied to plane 1: showing the result (“Before” shows the file as it is).`);
  showPlane('after', 1);
}

function stem() {
  return file.name.replace(/\.[^.]*$/, '') || 'image';
}

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

let exportName = '';
function exported({ blob, width, height, rgba }) {
  if (blob) {
    download(blob, exportName);
    say(`Saved ${exportName}.`);
    return;
  }
  // The worker had no OffscreenCanvas: encode here.
  const canvas = document.createElement('canvas');
  canvas.width = width;
  canvas.height = height;
  canvas.getContext('2d').putImageData(new ImageData(rgba, width, height), 0, 0);
  canvas.toBlob((b) => (b ? exported({ blob: b }) : fail('The plane cannot be exported.')), 'image/png');
}

// ---- Facts ------------------------------------------------------------------

const plural = (n, word) => `${n} ${word}${n == 1 ? '' : 's'}`;
const hex = (map, i) => '#' + [0, 1, 2].map((c) => map[3 * i + c].toString(16).padStart(2, '0')).join('');

// What `btreeimg info` prints about the file, in its words.
function showFacts() {
  const { name, info, counts } = file;
  const map = info.colourMap;
  const lines = [`${name}: version ${info.version}, ${plural(info.planeCount, 'plane')}`];
  info.planes.forEach((p, i) => {
    lines.push(`  plane ${i + 1}: ${p.width} x ${p.height}, ${ENCODINGS[p.encoding] ?? 'undefined'} ` +
               `(${p.encoding}), block at ${p.blockPosition}, region of ${p.regionSize} bytes at ` +
               `${p.regionStart}` + (counts ? `, ${counts[i].filter((n) => n > 0).length} colours used` : ''));
  });
  const colours = new Set(), pixels = new Float64Array(256);
  let set = 0, grey = true;
  for (let i = 0; i < 256; ++i) {
    const rgb = map[3 * i] << 16 | map[3 * i + 1] << 8 | map[3 * i + 2];
    colours.add(rgb);
    set += rgb != 0;
    grey &&= rgb == (i << 16 | i << 8 | i);
    if (counts) counts.forEach((c) => { pixels[i] += c[i]; });
  }
  lines.push(`  colour map: ${set} of 256 entries set, ${colours.size} distinct colours` +
             (grey ? ' (a grey ramp)' : ''));
  ui.facts.replaceChildren(lines.join('\n') + '\n');
  let listed = 0, hidden = 0;
  for (let i = 0; i < 256; ++i) {
    if (!(map[3 * i] || map[3 * i + 1] || map[3 * i + 2] || pixels[i])) continue;
    if (listed++ >= LISTED_ENTRIES) {
      ++hidden;
      continue;
    }
    const swatch = document.createElement('span');
    swatch.className = 'swatch';
    swatch.style.background = hex(map, i);
    ui.facts.append(`    ${String(i).padStart(3)}  `, swatch,
                    hex(map, i) + (counts ? `  ${pixels[i]} pixels` : '') + '\n');
  }
  if (hidden) ui.facts.append(`    ... and ${hidden} more entries\n`);
  if (!counts) ui.facts.append('  counting pixels…\n');
}

// ---- Controls ---------------------------------------------------------------

function enableControls(on) {
  for (const control of [ui.plane, ui.fit, ui.oneToOne, ui.exportPng, ui.rulesFile, ui.before]) {
    control.disabled = !on;
  }
  ui.rulesButton.classList.toggle('disabled', !on);
  ui.after.disabled = ui.saveCovered.disabled = !(on && file?.covered?.info);
  showZoom();
}

ui.openFile.addEventListener('change', () => {
  if (ui.openFile.files[0]) openFile(ui.openFile.files[0]);
  ui.openFile.value = '';
});
ui.rulesFile.addEventListener('change', async () => {
  const f = ui.rulesFile.files[0];
  ui.rulesFile.value = '';
  if (f && file?.info) applyRules(f.name, await f.text());
});
ui.plane.addEventListener('change', () => {
  const k = Number(ui.plane.value);
  showPlane(shown?.which == 'after' && k == 1 ? 'after' : 'before', k);
});
for (const radio of [ui.before, ui.after]) {
  radio.addEventListener('change', () => {
    if (radio.checked) showPlane(radio.value, radio.value == 'after' ? 1 : shown?.k ?? 1);
  });
}
ui.zoomIn.addEventListener('click', () => zoomStep(1, ...centre()));
ui.zoomOut.addEventListener('click', () => zoomStep(-1, ...centre()));
ui.fit.addEventListener('click', fit);
ui.oneToOne.addEventListener('click', () => zoomTo(1, ...centre()));
ui.exportPng.addEventListener('click', () => {
  if (!shown) return;
  exportName = `${stem()}-plane${shown.k}${shown.which == 'after' ? '-covered' : ''}.png`;
  say(`Exporting plane ${shown.k}…`);
  worker.postMessage({ type: 'export', which: shown.which, k: shown.k });
});
ui.saveCovered.addEventListener('click', () => {
  if (file?.covered?.bytes) download(new Blob([file.covered.bytes]), `${stem()}-covered.dis`);
});

addEventListener('dragover', (e) => {
  e.preventDefault();
  ui.stage.classList.add('dropping');
});
addEventListener('dragleave', () => ui.stage.classList.remove('dropping'));
addEventListener('drop', (e) => {
  e.preventDefault();
  ui.stage.classList.remove('dropping');
  const f = e.dataTransfer?.files[0];
  if (f) openFile(f);
});

const params = new URLSearchParams(location.search);
// ?pixelLimit=N opens planes of up to N pixels (the library's limit otherwise).
const pixelLimit = Number(params.get('pixelLimit')) || undefined;
showZoom();
if (params.get('src')) openUrl(params.get('src'), params.get('rules'));
