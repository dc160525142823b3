// btreeimg.mjs in node, against the native tool: the same stored values and
// colours for every version and encoding, the same verdict on damaged files,
// the same coverage.
import assert from 'node:assert/strict';
import { existsSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { checkLines, makeFixtures, read, runTool, samples, site } from './support.mjs';

const { default: createBtreeimg } = await import(join(site, 'btreeimg.mjs'));
let bi, fixtures;

before(async () => {
  bi = await createBtreeimg();
  fixtures = makeFixtures();
});
after(() => fixtures?.remove());

const same = (a, b) => Buffer.from(a.buffer, a.byteOffset, a.byteLength).equals(b);

// The colour map `btreeimg info --json` lists (entries not listed are black).
function nativeMap(info) {
  const map = new Uint8Array(768);
  for (const { index, rgb } of info.colourMap.entries) {
    for (let c = 0; c < 3; ++c) map[3 * index + c] = parseInt(rgb.slice(1 + 2 * c, 3 + 2 * c), 16);
  }
  return map;
}

test('every version and encoding reads as the native library reads it', () => {
  for (const version of [2, 3, 4]) {
    for (const pack of [0, 1, 2]) {
      const name = `v${version}-pack${pack}.dis`;
      const info = JSON.parse(readFileSync(join(fixtures.folder, `${name}.json`), 'utf8'));
      const img = bi.open(read(fixtures.folder, name));
      assert.equal(img.version, version, name);
      assert.equal(img.planeCount, info.planeCount, name);
      assert.deepEqual(img.colourMap, nativeMap(info), name);
      for (let k = 1; k <= img.planeCount; ++k) {
        const { width, height, encoding, blockPosition, regionStart, regionSize, regionRoom } = info.planes[k - 1];
        assert.deepEqual(img.plane(k), { width, height, encoding, blockPosition, regionStart, regionSize, regionRoom });
        assert.ok(same(img.indices(k), read(fixtures.folder, `${name}.${k}.idx`)), `${name} plane ${k} values`);
        const rgba = img.rgba(k);
        assert.ok(rgba instanceof Uint8ClampedArray);
        assert.ok(same(rgba, read(fixtures.folder, `${name}.${k}.rgba`)), `${name} plane ${k} colours`);
      }
      // A slice of lines is the same as those lines of the whole plane.
      const { width, height } = img.plane(1);
      const last = height - 1;
      assert.deepEqual(img.indices(1, last, 1), img.indices(1).subarray(last * width));
      assert.deepEqual(Array.from(img.histogram(1, 0, height)).reduce((a, b) => a + b), width * height);
      img.close();
    }
  }
});

test('damaged and unusable files are refused with the first problem check finds', () => {
  for (const name of ['cut.dis', 'table.dis', 'short.dis']) {
    const problems = checkLines(fixtures.folder, name);
    assert.ok(problems.length > 0, name);
    const bytes = read(fixtures.folder, name);
    assert.deepEqual(bi.check(bytes), problems, name);
    if (name == 'table.dis') continue;  // damaged in plane 1 only: below
    assert.throws(() => bi.open(bytes), (e) => e instanceof Error && e.message.startsWith(problems[0]), name);
  }
  // A file damaged in one plane opens: that plane is refused in the words
  // of its problems, the sound planes are read.
  const table = bi.open(read(fixtures.folder, 'table.dis'));
  const problem = checkLines(fixtures.folder, 'table.dis')[0];
  assert.throws(() => table.indices(1), (e) => e instanceof Error && e.message.startsWith(problem));
  assert.throws(() => table.cover('COLCOPER 1\nCOLTEST 2\nCOLSOST 3\n'),
                (e) => e instanceof Error && e.message.startsWith(problem));
  assert.ok(same(table.indices(2), read(fixtures.folder, 'design.dis.2.idx')));
  table.close();
  assert.deepEqual(bi.check(read(samples, 'design.dis')), []);
  writeFileSync(join(fixtures.folder, 'empty.dis'), '');
  assert.deepEqual(bi.check(new Uint8Array(0)), checkLines(fixtures.folder, 'empty.dis'));
});

test('cover gives the bytes of btreeimg cover --plane-1-only, and nothing when no pixel changes', () => {
  const img = bi.open(read(samples, 'design.dis'));
  const folder = fixtures.folder;
  runTool(['cover', '--plane-1-only', join(samples, 'design.dis'), join(samples, 'rules.txt'), 'covered.dis'], folder);
  const covered = img.cover(readFileSync(join(samples, 'rules.txt'), 'utf8'));
  assert.equal(covered.changed, true);
  assert.ok(same(covered.bytes, read(folder, 'covered.dis')));
  // The result opens, and the rules take bytes as well as text.
  assert.equal(bi.open(covered.bytes).planeCount, 1);
  assert.deepEqual(img.cover(read(samples, 'rules.txt')).bytes, covered.bytes);

  const nothing = 'COLCOPER 200\nCOLTEST 200\nCOLSOST 1\n';
  assert.deepEqual(img.cover(nothing), { changed: false, bytes: null });
  writeFileSync(join(folder, 'nothing.txt'), nothing);
  runTool(['cover', join(samples, 'design.dis'), 'nothing.txt', 'unchanged.dis'], folder);
  assert.equal(existsSync(join(folder, 'unchanged.dis')), false);

  // Unusable rules are refused in the rule loader's words.
  assert.throws(() => img.cover('COLCOPER 3\n'),
                { message: 'the rules cannot be used: 1 COLCOPER value but 0 COLTEST values' });
  assert.throws(() => img.cover('COLCOPER x\nCOLTEST 1\nCOLSOST 2\n'),
                { message: 'the rules cannot be used: rule 1: the COLCOPER value "x" is not a number' });
  img.close();
});

test('a plane over the pixel limit, planes and lines outside the image, and a closed image, throw', () => {
  const bytes = read(samples, 'design.dis');
  assert.equal(bi.defaultPixelLimit, 2 ** 28);
  assert.throws(() => bi.open(bytes, { pixelLimit: 256 * 192 - 1 }), /256 x 192 pixels, more than the limit of 49151/);
  bi.open(bytes, { pixelLimit: 256 * 192 }).close();
  const img = bi.open(bytes, { pixelLimit: Infinity });
  assert.throws(() => img.plane(0), RangeError);
  assert.throws(() => img.indices(4), RangeError);
  assert.throws(() => img.rgba(1, 190, 3), RangeError);
  assert.throws(() => bi.open('design.dis'), TypeError);
  img.close();
  img.close();
  assert.throws(() => img.indices(1), /closed/);
  assert.throws(() => img.version, /closed/);
});
