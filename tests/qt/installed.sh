#!/usr/bin/env bash
# The Qt image plugins as installed: into a temporary prefix, one plugin in
# each Qt's imageformats folder there, finding the installed library (when
# built against the shared one), and read by Qt from that folder (the test
# program pointed at it).
# Usage: installed.sh BUILD-DIR TESTS-DIR VERSION...
set -euo pipefail
build=$1
tests=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for version in "$@"; do
  echo "--- Qt $version"
  plugins=$(find "$prefix" -name libbtreeimg.so -path "*/qt$version/*")
  [ "$(echo "$plugins" | wc -l)" = 1 ] && [[ $plugins == "$prefix"/lib*/qt$version/plugins/imageformats/* ]] ||
    fail "Qt $version plugin: '$plugins'"
  # A plugin linked to the shared library finds the installed one.
  libraries=$(ldd "$plugins")
  if [[ $libraries == *libbtreeimg* ]]; then
    grep -q "=> $prefix/lib[^ ]*/libbtreeimg.so" <<<"$libraries" || fail "$libraries"
  fi
  BTREEIMG_QT_PLUGINS=$(dirname "$(dirname "$plugins")") QT_QPA_PLATFORM=offscreen \
    "$tests/qt${version}_plugin_tests" --gtest_filter='QtPlugin.Reads*' --gtest_brief=1
done
echo "installed plugins work"
