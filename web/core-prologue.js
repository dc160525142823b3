// Placed in front of emscripten's loader (btreeimg-core.mjs). In node the
// loader reads its files with require('fs') and finds its folder through
// __dirname, which node's ES modules do not have; these give it both, the
// way later emscripten releases do themselves. In a browser nothing here runs.
const btreeimgInNode = typeof process == 'object' && typeof process.versions == 'object' &&
                       typeof process.versions.node == 'string';
let require, __dirname, __filename;
if (btreeimgInNode) {
  const { createRequire } = await import('node:module');
  const { fileURLToPath } = await import('node:url');
  require = createRequire(import.meta.url);
  __filename = fileURLToPath(import.meta.url);
  __dirname = require('node:path').dirname(__filename);
}
