// The browser module's figures, written to bench/web/RESULTS.md (run by
// `scripts/web --bench`, which builds what this needs first):
//   - decoding a 4096 x 4096 packed plane in node, beside the native library
//     decoding the same file in its own process (native_decode), for the
//     benchmark kinds design, photo and noise;
//   - the viewer in headless Chromium: the page's load and the first paint
//     of the sample, and for a 4096 x 4096 image also the longest task the
//     page's main thread ran while opening it;
//   - the size of btreeimg.wasm, as served and compressed.
//
// Environment: BTREEIMG_WEB_SITE (build/web), NATIVE_DECODE (the native
// program), ROUNDS (9).
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { cpus, loadavg, tmpdir } from 'node:os';
import { join } from 'node:path';
import { gzipSync, brotliCompressSync, constants } from 'node:zlib';

import { root, serve, site } from '../../web/test/support.mjs';

// puppeteer-core is installed in web/ (scripts/web --bench does it).
const puppeteer = createRequire(join(root, 'web/package.json'))('puppeteer-core');

const nativeDecode = process.env.NATIVE_DECODE ?? join(root, 'build/web-native/bench/native_decode');
const rounds = Number(process.env.ROUNDS ?? 9);
const KINDS = ['design', 'photo', 'noise'];
const data = mkdtempSync(join(tmpdir(), 'btreeimg-web-bench-'));

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const ms = (x) => (x < 10 ? x.toFixed(2) : x.toFixed(1)) + ' ms';
const kib = (n) => (n / 1024).toFixed(1) + ' KiB';

// ---- Decoding in node -------------------------------------------------------

async function decodeFigures() {
  execFileSync(nativeDecode, ['make', data]);
  const { default: createBtreeimg } = await import(join(site, 'btreeimg.mjs'));
  const { default: createCore } = await import(join(site, 'btreeimg-core.mjs'));
  const bi = await createBtreeimg();
  const core = await createCore({ wasmBinary: readFileSync(join(site, 'btreeimg.wasm')) });
  const rows = [];
  for (const kind of KINDS) {
    const file = join(data, `${kind}.dis`);
    const bytes = readFileSync(file);
    // Native and module runs alternate in rounds of three (the best of each
    // round counts), so that both meet the same load on a shared machine.
    core.FS.writeFile(core.UTF8ToString(core._bi_image_path()), bytes);
    const handle = core._bi_open(Infinity);
    const plane = core._malloc(4096 * 4096);
    const native = [], inModule = [], api = [];
    const img = bi.open(bytes);
    const best = (work) => {
      let least = Infinity;
      for (let r = 0; r < 3; ++r) {
        const start = performance.now();
        work();
        least = Math.min(least, performance.now() - start);
      }
      return least;
    };
    for (let round = 0; round < rounds; ++round) {
      native.push(Math.min(...execFileSync(nativeDecode, ['time', file, '3'], { encoding: 'utf8' })
        .trim().split('\n').map(Number)));
      inModule.push(best(() => core._bi_rows(handle, 1, 0, 4096, plane)));
      api.push(best(() => img.indices(1)));
    }
    img.close();
    core._bi_close(handle);
    core._free(plane);
    rows.push({ kind, size: bytes.length, native: median(native), inModule: median(inModule), api: median(api),
                apiBest: Math.min(...api) });
  }
  const touch = execFileSync(nativeDecode, ['touch', String(rounds)], { encoding: 'utf8' })
    .trim().split('\n').map(Number);
  return { rows, touch: median(touch) };
}

// ---- The page in headless Chromium -------------------------------------------

async function pageFigures() {
  const server = await serve({ '/bench/': data, '/': site });
  const profile = mkdtempSync(join(tmpdir(), 'btreeimg-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium', headless: true, userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--disable-dev-shm-usage'],
  });
  const measure = async (src, runs) => {
    const figures = [];
    for (let r = 0; r < runs; ++r) {
      const context = await browser.createBrowserContext();  // nothing cached
      const page = await context.newPage();
      await page.setViewport({ width: 1280, height: 800 });
      await page.evaluateOnNewDocument(() => {
        window.longest = 0;
        new PerformanceObserver((list) => {
          for (const e of list.getEntries()) window.longest = Math.max(window.longest, e.duration);
        }).observe({ type: 'longtask', buffered: true });
      });
      await page.goto(`${server.url}index.html?src=${src}`);
      await page.waitForFunction(() => performance.getEntriesByName('btreeimg:first-plane').length, { timeout: 120000 });
      figures.push(await page.evaluate(() => {
        const navigation = performance.getEntriesByType('navigation')[0];
        return { load: navigation.loadEventEnd, paint: performance.getEntriesByName('btreeimg:first-plane')[0].startTime,
                 longest: window.longest };
      }));
      await context.close();
    }
    const pick = (key) => median(figures.map((f) => f[key]));
    return { load: pick('load'), paint: pick('paint'), longest: Math.max(...figures.map((f) => f.longest)) };
  };
  const results = {
    sample: await measure('samples/design.dis', 7),
    large: await measure('bench/photo.dis', 3),
    version: await browser.version(),
  };
  await browser.close();
  await server.close();
  rmSync(profile, { recursive: true, force: true });
  return results;
}

// ---- Report -----------------------------------------------------------------

const { rows: decode, touch } = await decodeFigures();
const page = await pageFigures();
const wasm = readFileSync(join(site, 'btreeimg.wasm'));
const loader = readFileSync(join(site, 'btreeimg-core.mjs'));
const sizes = (bytes) => ({
  raw: bytes.length, gzip: gzipSync(bytes, { level: 9 }).length,
  brotli: brotliCompressSync(bytes, { params: { [constants.BROTLI_PARAM_QUALITY]: 11 } }).length,
});
const w = sizes(wasm), l = sizes(loader);
rmSync(data, { recursive: true, force: true });

const emcc = 'emscripten ' + execFileSync('emcc', ['--version'], { encoding: 'utf8' }).match(/\d+\.\d+\.\d+/)[0];
const lines = [
  '# Browser module: measured figures',
  '',
  `Made by \`scripts/web --bench\` on ${new Date().toISOString().slice(0, 16).replace('T', ' ')} UTC: ` +
  `${cpus().length} x ${cpus()[0].model.trim()}, load average ${loadavg().map((x) => x.toFixed(2)).join(' ')} ` +
  `at the end; node ${process.version}, ${emcc}, ${page.version}.`,
  `Decoding: medians of ${rounds} rounds, each the best of 3 runs, native and module in turn;`,
  'the page: medians of 7 loads of the sample, 3 of the large image.',
  '',
  '## Decoding a 4096 x 4096 packed plane (pack 1) in node',
  '',
  'Every line of plane 1 into one plane buffer. Native: the library built natively in',
  'Release, `native_decode` (bench/web/NativeDecode.cpp), its own process. Module: the same',
  'decode inside the WebAssembly module; `indices(1)`: the API call, which also copies the',
  'plane into a new Uint8Array (median, and best round). Goal: the module at most 2 x the',
  'native library.',
  '',
  '| plane | file | native | module | ratio | `indices(1)` | best | goal met |',
  '|---|---|---|---|---|---|---|---|',
  ...decode.map((d) => `| ${d.kind} | ${kib(d.size)} | ${ms(d.native)} | ${ms(d.inModule)} | ` +
    `${(d.inModule / d.native).toFixed(2)}x | ${ms(d.api)} | ${ms(d.apiBest)} | ` +
    `${d.inModule <= 2 * d.native ? 'yes' : '**no**'} |`),
  '',
  `Anchor: mapping 16 MiB of new memory and writing it once takes ${ms(touch)} on this machine`,
  '(`native_decode touch`). A new 16 MiB array costs that much before anything is copied into it,',
  'whenever the JavaScript engine takes fresh memory from the system for it rather than reusing',
  'memory it had: that, not the decoding, makes the slower `indices(1)` runs.',
  '',
  '## The viewer in headless Chromium',
  '',
  'From navigation start (fresh browser context, nothing cached; page and files served from',
  '127.0.0.1; viewport 1280 x 800): the page\'s load event, and the first plane painted whole',
  '(the module loaded in the worker, the file fetched, checked, opened and decoded, the canvas',
  'painted). Longest task: the longest the page\'s main thread ran at once while loading',
  '(long tasks are those over 50 ms; 0 means none).',
  '',
  '| image | load | first paint | longest task |',
  '|---|---|---|---|',
  `| samples/design.dis (256 x 192, 3 planes) | ${ms(page.sample.load)} | ${ms(page.sample.paint)} | ${ms(page.sample.longest)} |`,
  `| photo.dis (4096 x 4096, packed, ${kib(decode[1].size)}) | ${ms(page.large.load)} | ${ms(page.large.paint)} | ${ms(page.large.longest)} |`,
  '',
  '## Sizes',
  '',
  '| file | as built | gzip -9 | brotli 11 |',
  '|---|---|---|---|',
  `| btreeimg.wasm | ${kib(w.raw)} | ${kib(w.gzip)} | ${kib(w.brotli)} |`,
  `| btreeimg-core.mjs (emscripten's loader) | ${kib(l.raw)} | ${kib(l.gzip)} | ${kib(l.brotli)} |`,
  '',
  `Goal: btreeimg.wasm under 300 KiB compressed: ${w.gzip < 300 * 1024 ? 'met' : '**not met**'}.`,
  '',
];
writeFileSync(join(root, 'bench/web/RESULTS.md'), lines.join('\n'));
console.log(lines.join('\n'));
