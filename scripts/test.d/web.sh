#!/usr/bin/env bash
# The browser viewer: builds the library with emscripten into build/web and
# runs its tests, in node (the module against the native tool) and in
# headless Chromium (the page). See scripts/web.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/web --test
