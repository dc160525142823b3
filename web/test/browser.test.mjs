// The viewer page in headless Chromium (Debian's), driven through
// puppeteer-core: the canvas holds the pixels `btreeimg topng` writes, at 1:1
// and zoomed in, on every plane the switcher shows, before and after rules;
// a damaged file shows the verdict of `btreeimg check`.
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import puppeteer from 'puppeteer-core';

import { makeFixtures, runTool, serve, site } from './support.mjs';

const CHROMIUM = process.env.CHROMIUM ?? '/usr/bin/chromium';
let fixtures, server, browser, profile;

before(async () => {
  fixtures = makeFixtures();
  server = await serve({ '/fixtures/': fixtures.folder, '/': site });
  profile = mkdtempSync(join(tmpdir(), 'btreeimg-chromium-'));
  browser = await puppeteer.launch({
    executablePath: CHROMIUM, headless: true, userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--disable-dev-shm-usage'],
  });
});
after(async () => {
  await browser?.close();
  await server?.close();
  fixtures?.remove();
  if (profile) rmSync(profile, { recursive: true, force: true });
});

async function openPage(query) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1100, height: 700 });
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await page.goto(`${server.url}index.html?${query}`);
  page.errors = errors;
  return page;
}

const shown = (page, which, plane, scale) =>
  page.waitForSelector(`#view[data-ready="1"][data-which="${which}"][data-plane="${plane}"]` +
                       (scale ? `[data-scale="${scale}"]` : ''));

// Compares every canvas pixel that shows a pixel of the plane with the
// plane's pixel in the test image `name` (RGBA, width x height) at the
// canvas's view.
function compareCanvas(page, name, width, height) {
  return page.evaluate(async (url, width, height) => {
    const want = new Uint8Array(await (await fetch(url)).arrayBuffer());
    const canvas = document.getElementById('view');
    const scale = Number(canvas.dataset.scale);
    const ox = Number(canvas.dataset.originX), oy = Number(canvas.dataset.originY);
    const got = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let compared = 0, differing = 0;
    for (let py = 0; py < canvas.height; ++py) {
      const iy = Math.floor((py - oy) / scale);
      if (iy < 0 || iy >= height) continue;
      for (let px = 0; px < canvas.width; ++px) {
        const ix = Math.floor((px - ox) / scale);
        if (ix < 0 || ix >= width) continue;
        const g = 4 * (py * canvas.width + px), w = 4 * (iy * width + ix);
        ++compared;
        if (got[g] != want[w] || got[g + 1] != want[w + 1] || got[g + 2] != want[w + 2] || got[g + 3] != 255) ++differing;
      }
    }
    return { compared, differing };
  }, `${server.url}fixtures/${name}`, width, height);
}

test('the sample: each plane with the colours topng writes, at 1:1, zoomed in and moved', async () => {
  const page = await openPage('src=samples/design.dis');
  await shown(page, 'before', 1);
  await page.click('#one-to-one');
  await shown(page, 'before', 1, 1);
  assert.deepEqual(await compareCanvas(page, 'design.dis.1.rgba', 256, 192), { compared: 256 * 192, differing: 0 });

  assert.equal(await page.$$eval('#plane option', (options) => options.length), 3);
  await page.select('#plane', '2');
  await shown(page, 'before', 2, 1);
  assert.deepEqual(await compareCanvas(page, 'design.dis.2.rgba', 256, 192), { compared: 256 * 192, differing: 0 });

  await page.click('#zoom-in');
  await shown(page, 'before', 2, 2);
  assert.equal(await page.$eval('#zoom', (e) => e.value), '2×');
  assert.deepEqual(await compareCanvas(page, 'design.dis.2.rgba', 256, 192), { compared: 4 * 256 * 192, differing: 0 });

  // Dragging moves the image by as many pixels as the pointer.
  const origin = () => page.$eval('#view', (c) => [Number(c.dataset.originX), Number(c.dataset.originY)]);
  const [x0, y0] = await origin();
  await page.mouse.move(300, 300);
  await page.mouse.down();
  await page.mouse.move(260, 330, { steps: 4 });
  await page.mouse.up();
  await page.waitForFunction((x) => Number(document.getElementById('view').dataset.originX) == x, {}, x0 - 40);
  assert.deepEqual(await origin(), [x0 - 40, y0 + 30]);
  const moved = await compareCanvas(page, 'design.dis.2.rgba', 256, 192);
  assert.equal(moved.differing, 0);

  await page.select('#plane', '3');
  await shown(page, 'before', 3, 2);
  assert.equal((await compareCanvas(page, 'design.dis.3.rgba', 256, 192)).differing, 0);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('a plane decoded in several slices shows whole', async () => {
  const page = await openPage('src=fixtures/large.dis');
  await shown(page, 'before', 1);
  const fitted = await compareCanvas(page, 'large.dis.1.rgba', 1024, 1100);
  assert.ok(fitted.compared > 100000);
  assert.equal(fitted.differing, 0);
  await page.close();
});

test('rules: the covered plane 1 after, the file as it is before', async () => {
  const page = await openPage('src=samples/design.dis&rules=samples/rules.txt');
  await shown(page, 'after', 1);
  const covered = await compareCanvas(page, 'design-covered.dis.1.rgba', 256, 192);
  assert.ok(covered.compared >= 256 * 192);
  assert.equal(covered.differing, 0);
  await page.click('input[name=which][value=before]');
  await shown(page, 'before', 1);
  assert.equal((await compareCanvas(page, 'design.dis.1.rgba', 256, 192)).differing, 0);
  await page.close();
});

test('a damaged file shows the verdict in the words of btreeimg check', async () => {
  const page = await openPage('src=fixtures/cut.dis');
  await page.waitForSelector('#verdict:not([hidden])');
  const verdict = await page.$eval('#verdict', (e) => e.textContent);
  const check = runTool(['check', 'cut.dis'], fixtures.folder).stdout.trim().split('\n');
  assert.ok(check.length > 1);
  assert.deepEqual(verdict.split('\n').slice(1), check);
  assert.equal(await page.$eval('#view', (c) => c.dataset.ready), '0');
  await page.close();
});
