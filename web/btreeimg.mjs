// btreeimg in JavaScript: the library compiled to WebAssembly, for node and
// for browsers (pages and workers).
//
//   import createBtreeimg from './btreeimg.mjs';
//   const bi = await createBtreeimg();
//   const img = bi.open(bytes);    // Uint8Array of a whole image file
//   img.rgba(1);                   // plane 1 through the colour map
//   img.close();
//
// btreeimg.wasm must lie beside this file (and btreeimg-core.mjs, the
// loader emscripten made).
import createBtreeimgCore from './btreeimg-core.mjs';

const inNode = typeof process == 'object' && typeof process.versions == 'object' &&
               typeof process.versions.node == 'string';

// Facts of a plane, in the order the module numbers them.
const PLANE_FACTS = ['width', 'height', 'encoding', 'blockPosition', 'regionStart',
                     'regionSize', 'regionRoom'];

// Loads the WebAssembly module. A browser fetches btreeimg.wasm from this
// file's folder; node reads it from there (its fetch cannot read files).
async function loadCore() {
  const wasmUrl = new URL('btreeimg.wasm', import.meta.url);
  if (inNode) {
    const { readFile } = await import('node:fs/promises');
    return createBtreeimgCore({ wasmBinary: await readFile(wasmUrl) });
  }
  return createBtreeimgCore({ locateFile: () => wasmUrl.href });
}

function asBytes(data, what) {
  if (data instanceof Uint8Array) return data;
  if (data instanceof ArrayBuffer) return new Uint8Array(data);
  if (ArrayBuffer.isView(data)) return new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
  throw new TypeError(`${what} must be a Uint8Array, an ArrayBuffer or a typed array`);
}

// Copies `bytes` into the module's memory for the length of `work(pointer)`.
function withCopy(core, bytes, work) {
  const pointer = core._malloc(Math.max(bytes.length, 1));
  if (!pointer) throw new Error('not enough memory');
  try {
    core.HEAPU8.set(bytes, pointer);
    return work(pointer);
  } finally {
    core._free(pointer);
  }
}

// Runs `fill(pointer)` on `size` bytes of the module's memory and returns a
// copy of them in a new array of `Type` (Uint8Array or Uint8ClampedArray).
function readOut(core, size, Type, fill) {
  const pointer = core._malloc(Math.max(size, 1));
  if (!pointer) throw new Error('not enough memory');
  try {
    if (!fill(pointer)) throw new Error(core.UTF8ToString(core._bi_error()));
    // One copy of the same type: Uint8ClampedArray from a Uint8Array would
    // convert element by element.
    const result = new Type(size);
    result.set(new Type(core.HEAPU8.buffer, pointer, size));
    return result;
  } finally {
    core._free(pointer);
  }
}

// Images not closed are released when they are collected.
const forgotten = typeof FinalizationRegistry == 'function'
  ? new FinalizationRegistry(({ core, handle }) => core._bi_close(handle))
  : null;

// One open image. Its methods throw an Error after close().
class BtreeimgImage {
  #core;
  #handle;

  constructor(core, handle) {
    this.#core = core;
    this.#handle = handle;
    forgotten?.register(this, { core, handle }, this);
  }

  #open() {
    if (!this.#handle) throw new Error('the image is closed');
    return this.#handle;
  }

  // The file's version field: 2, 3 or 4.
  get version() { return this.#core._bi_version(this.#open()); }

  // The number of planes, 1 to 5.
  get planeCount() { return this.#core._bi_plane_count(this.#open()); }

  #plane(k) {
    const handle = this.#open();
    if (!Number.isInteger(k) || k < 1 || k > this.planeCount) {
      throw new RangeError(`no plane ${k}: the image has ${this.planeCount} (planes count from 1)`);
    }
    return handle;
  }

  // Plane k (from 1): {width, height, encoding} (0 raw, 1 packed, 2 whole-plane
  // packed), and where it lies in the file: blockPosition, regionStart,
  // regionSize and regionRoom, in bytes (as `btreeimg info` reports them).
  plane(k) {
    const handle = this.#plane(k);
    const facts = {};
    PLANE_FACTS.forEach((name, which) => { facts[name] = this.#core._bi_plane_fact(handle, k, which); });
    return facts;
  }

  // The lines [firstLine, firstLine + lineCount) of plane k; the whole plane by default.
  #lines(k, firstLine, lineCount) {
    const handle = this.#plane(k);
    const { width, height } = this.plane(k);
    if (lineCount === undefined) lineCount = height - firstLine;
    if (!Number.isInteger(firstLine) || !Number.isInteger(lineCount) || firstLine < 0 ||
        lineCount < 0 || firstLine + lineCount > height) {
      throw new RangeError(`lines ${firstLine} .. ${firstLine + lineCount - 1} lie outside plane ${k} (${height} lines)`);
    }
    return { handle, width, firstLine, lineCount };
  }

  // The stored values of plane k, line after line: Uint8Array(width * height),
  // or of lineCount lines from firstLine.
  indices(k, firstLine = 0, lineCount = undefined) {
    const l = this.#lines(k, firstLine, lineCount);
    return readOut(this.#core, l.width * l.lineCount, Uint8Array,
      (p) => this.#core._bi_rows(l.handle, k, l.firstLine, l.lineCount, p));
  }

  // Plane k through the colour map: Uint8ClampedArray(width * height * 4) of
  // red, green, blue and alpha 255 (ready for ImageData), or of lineCount lines.
  rgba(k, firstLine = 0, lineCount = undefined) {
    const l = this.#lines(k, firstLine, lineCount);
    return readOut(this.#core, l.width * l.lineCount * 4, Uint8ClampedArray,
      (p) => this.#core._bi_rgba_rows(l.handle, k, l.firstLine, l.lineCount, p));
  }

  // How many pixels of plane k (or of lineCount lines from firstLine) hold
  // each value: Float64Array(256).
  histogram(k, firstLine = 0, lineCount = undefined) {
    const l = this.#lines(k, firstLine, lineCount);
    const core = this.#core;
    const bytes = readOut(core, 256 * 8, Uint8Array, (p) => {
      core.HEAPU8.fill(0, p, p + 256 * 8);
      return core._bi_count_rows(l.handle, k, l.firstLine, l.lineCount, p);
    });
    return new Float64Array(bytes.buffer);
  }

  // The colour map: Uint8Array(768), red, green and blue of entries 0 to 255.
  get colourMap() {
    const handle = this.#open();
    return readOut(this.#core, 768, Uint8Array, (p) => (this.#core._bi_colour_map(handle, p), 1));
  }

  // Colour coverage of plane 1 by a rule file (its text, or its bytes):
  // {changed, bytes}. When a pixel changed, bytes holds the covered image as
  // a new one-plane file; when none did, changed is false and bytes null.
  // Throws an Error when the rules cannot be used.
  cover(rules) {
    const handle = this.#open();
    const core = this.#core;
    const text = typeof rules == 'string' ? new TextEncoder().encode(rules) : asBytes(rules, 'rules');
    const result = withCopy(core, text, (p) => core._bi_cover(handle, p, text.length));
    try {
      if (result < 0) throw new Error(core.UTF8ToString(core._bi_error()));
      if (result == 0) return { changed: false, bytes: null };
      const data = core._bi_cover_data();
      return { changed: true, bytes: core.HEAPU8.slice(data, data + core._bi_cover_size()) };
    } finally {
      core._bi_cover_release();
    }
  }

  // Releases the image. A second call does nothing.
  close() {
    if (!this.#handle) return;
    forgotten?.unregister(this);
    this.#core._bi_close(this.#handle);
    this.#handle = 0;
  }
}

class Btreeimg {
  #core;

  constructor(core) { this.#core = core; }

  // The library's limit for viewers of files from anywhere, in pixels a
  // plane: 2^28 (a plane of 16384 x 16384).
  get defaultPixelLimit() { return this.#core._bi_default_pixel_limit(); }

  // Opens the bytes of a whole image file (copied; the caller's array is not
  // kept). A file that check() finds damaged or unusable is refused: throws
  // an Error whose message is its verdict in one sentence (its first problem,
  // and how many more there are). So is a file whose planes state more
  // pixels than options.pixelLimit (defaultPixelLimit; Infinity: no limit).
  open(bytes, { pixelLimit = this.defaultPixelLimit } = {}) {
    const core = this.#core;
    const data = asBytes(bytes, 'the image');
    if (typeof pixelLimit != 'number' || !(pixelLimit >= 0)) {
      throw new TypeError('pixelLimit must be a number of pixels (or Infinity)');
    }
    // The library opens files by name: the bytes go to the module's
    // in-memory file system, and bi_open removes them once the image holds them.
    core.FS.writeFile(core.UTF8ToString(core._bi_image_path()), data);
    const handle = core._bi_open(pixelLimit);
    if (!handle) throw new Error(core.UTF8ToString(core._bi_error()));
    return new BtreeimgImage(core, handle);
  }

  // The structural problems ImageCheck finds in the bytes of an image file,
  // one string each, in the words of `btreeimg check`; [] when it is sound.
  check(bytes) {
    const core = this.#core;
    const data = asBytes(bytes, 'the image');
    const count = withCopy(core, data, (p) => core._bi_check(p, data.length));
    if (count < 0) throw new Error(core.UTF8ToString(core._bi_error()));
    return Array.from({ length: count }, (_, i) => core.UTF8ToString(core._bi_problem(i)));
  }
}

// Loads the module and resolves to an object with open() and check().
export default async function createBtreeimg() {
  return new Btreeimg(await loadCore());
}
