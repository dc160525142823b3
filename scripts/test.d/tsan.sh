#!/usr/bin/env bash
# The library used from several threads at once, under ThreadSanitizer
# (clang): builds the library and the concurrency test alone in build/tsan
# and runs the test; any data race report fails the step.
set -euo pipefail
cd "$(dirname "$0")/../.."
jobs=${JOBS:-$(nproc)}

tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DBTREEIMG_WERROR=ON \
  -DBTREEIMG_BUILD_TOOLS=OFF -DBTREEIMG_BUILD_PYTHON=OFF \
  -DCMAKE_CXX_FLAGS="$tsan" -DCMAKE_EXE_LINKER_FLAGS="$tsan" \
  -DCMAKE_SHARED_LINKER_FLAGS="$tsan" >/dev/null
cmake --build build/tsan -j "$jobs" --target thread_tests
TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" \
  build/tsan/tests/threads/thread_tests
