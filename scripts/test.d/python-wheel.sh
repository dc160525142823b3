#!/usr/bin/env bash
# The Python package as pip installs it: one wheel built by `python3 -m build`
# (setuptools driving the project's CMake build in build/pip, the library
# linked statically into the extension), installed into a fresh virtual
# environment, then the Python tests run against that installation from a
# copy outside the source tree. Also checks that `pip install .` works from
# the source tree and that the extension points at nothing in the build tree.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
python=/usr/bin/python3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
quiet() {  # runs a command, printing its output only when it fails
  "$@" >"$scratch/log" 2>&1 || { cat "$scratch/log"; return 1; }
}

echo "--- wheel (python3 -m build --wheel --no-isolation)"
rm -rf build/pip/dist
quiet "$python" -m build --wheel --no-isolation --outdir build/pip/dist
wheel=$(ls build/pip/dist/btreeimg-*.whl)
echo "$(basename "$wheel"): $(stat -c %s "$wheel") bytes"

echo "--- installed into a fresh virtual environment"
"$python" -m venv --system-site-packages "$scratch/venv"
venv_python="$scratch/venv/bin/python"
quiet "$scratch/venv/bin/pip" install --no-build-isolation --no-index "$wheel"
package=$(cd "$scratch" && "$venv_python" -c \
  'import os, btreeimg; print(os.path.dirname(btreeimg.__file__))')
case "$package" in
  "$scratch/venv/"*) ;;
  *) echo "btreeimg imported from $package, not from the environment"; exit 1 ;;
esac
extension=$(ls "$package"/_btreeimg*.so)
if readelf -d "$extension" | grep -E 'RPATH|RUNPATH|libbtreeimg'; then
  echo "the extension depends on a library outside the wheel"; exit 1
fi
if grep -q -F "$root" "$extension"; then
  echo "the extension names the source or build tree"; exit 1
fi

echo "--- the Python tests against the installation"
mkdir "$scratch/copy" "$scratch/run"
cp -r python/tests python/examples samples CMakeLists.txt "$scratch/copy/"
mkdir "$scratch/copy/python"
mv "$scratch/copy/tests" "$scratch/copy/examples" "$scratch/copy/python/"
tool=${BTREEIMG_TOOL:-build/test/tools/btreeimg}  # the normal build's, when there
tool=$([ -x "$tool" ] && realpath "$tool" || true)
(cd "$scratch/run" &&
  env -u PYTHONPATH PYTHONDONTWRITEBYTECODE=1 \
    BTREEIMG_SAMPLES="$scratch/copy/samples" \
    BTREEIMG_TOOL="$tool" \
    "$venv_python" -m pytest -q -p no:cacheprovider "$scratch/copy/python/tests")

echo "--- pip install . from the source tree (the same CMake build)"
"$python" -m venv --system-site-packages "$scratch/venv2"
quiet "$scratch/venv2/bin/pip" install --no-build-isolation --no-index "$root"
(cd "$scratch" && "$scratch/venv2/bin/python" -c \
  'import sys, btreeimg, btreeimg.pillow; print("btreeimg", btreeimg.__version__, btreeimg.open(sys.argv[1]))' \
  "$root/samples/design.dis")
