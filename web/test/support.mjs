// What the web tests share: where the built site and the native tool are,
// the test images (made by make_fixtures.py with the native tool), and a
// static file server on 127.0.0.1.
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

export const root = resolve(fileURLToPath(import.meta.url), '../../..');
export const site = process.env.BTREEIMG_WEB_SITE ?? join(root, 'build/web');
export const tool = process.env.BTREEIMG_TOOL ?? join(root, 'build/test/tools/btreeimg');
export const samples = join(root, 'samples');

// Runs the native tool in `cwd`: {status, stdout, stderr}.
export function runTool(args, cwd) {
  const run = spawnSync(tool, args, { cwd, encoding: 'utf8' });
  if (run.error) throw run.error;
  return run;
}

// The problems `btreeimg check` prints for `name` in `folder`, without the
// "name: " (stdout) or "btreeimg: name: " (stderr, unusable files) prefix.
export function checkLines(folder, name) {
  const run = runTool(['check', name], folder);
  return (run.stdout + run.stderr).split('\n').filter(Boolean)
    .map((line) => line.replace(/^(btreeimg: )?[^:]*: /, ''));
}

// A new folder holding the test images; removed by the returned function.
export function makeFixtures() {
  const folder = mkdtempSync(join(tmpdir(), 'btreeimg-web-'));
  const run = spawnSync('/usr/bin/python3', [join(root, 'web/test/make_fixtures.py'), tool, folder],
                        { encoding: 'utf8' });
  if (run.status !== 0) throw new Error(`make_fixtures.py failed: ${run.stderr}`);
  return { folder, remove: () => rmSync(folder, { recursive: true, force: true }) };
}

export const read = (folder, name) => new Uint8Array(readFileSync(join(folder, name)));

const TYPES = {
  '.html': 'text/html', '.mjs': 'text/javascript', '.js': 'text/javascript',
  '.css': 'text/css', '.wasm': 'application/wasm', '.png': 'image/png', '.txt': 'text/plain',
};

// Serves the folder `mounts[prefix]` under each URL prefix ('/' last) on
// 127.0.0.1. Resolves to {url, close}.
export function serve(mounts) {
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    const prefix = Object.keys(mounts).find((p) => path.startsWith(p));
    const file = prefix && normalize(join(mounts[prefix], path.slice(prefix.length) || 'index.html'));
    try {
      if (!file || !file.startsWith(mounts[prefix]) || !statSync(file).isFile()) throw new Error();
      response.writeHead(200, { 'Content-Type': TYPES[extname(file)] ?? 'application/octet-stream' });
      response.end(readFileSync(file));
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((done) => server.listen(0, '127.0.0.1', () => done({
    url: `http://127.0.0.1:${server.address().port}/`,
    close: () => new Promise((closed) => server.close(closed)),
  })));
}
