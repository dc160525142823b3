#!/usr/bin/env bash
# A short run of every fuzz target, so that CI proves they build and run.
# Long runs: scripts/fuzz [SECONDS].
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/fuzz "${FUZZ_SMOKE_SECONDS:-10}"
