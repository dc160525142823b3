#!/usr/bin/env bash
# Builds the documentation (scripts/docs): the handbook, the C++ reference
# and the Python reference, with every link checked. Any warning fails: an
# undocumented public class or function, a broken reference or link. The
# Python reference documents the package that the normal build made.
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ -d build/test/python/btreeimg ]; then
  exec scripts/docs build/test/python
fi
exec scripts/docs
