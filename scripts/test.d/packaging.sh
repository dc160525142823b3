#!/usr/bin/env bash
# The library as other projects use it: installed into a temporary prefix and
# found with its CMake package, with pkg-config and plain g++, pulled in by a
# parent project with add_subdirectory, and built as a static library that
# passes the same tests (the library's and the tool's; the Python extension
# is linked statically and tested by python-wheel.sh, and the GdkPixbuf
# module is tested against the shared library). Runs after the normal build
# of scripts/test.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
jobs=${JOBS:-$(nproc)}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
sample=(samples/design.dis samples/rules.txt)

echo "--- install into a temporary prefix"
cmake --install build/test --prefix "$scratch/prefix" >/dev/null
test -L "$scratch/prefix/lib/libbtreeimg.so.0"
test -f "$scratch/prefix/include/btreeimg/image/BtreeImg.h"
test ! -e "$scratch/prefix/include/btreeimg/framework/ByteOrder.h"

echo "--- the tool and its manual page from the prefix"
"$scratch/prefix/bin/btreeimg" --version
manpage="$scratch/prefix/share/man/man1/btreeimg.1"
grep -q '^\.TH BTREEIMG "1"' "$manpage"
grep -q 'btreeimg diff A B \[\\-\\-json\]' "$manpage"

if [ -d build/test/python ]; then
  echo "--- the Python package from the prefix"
  site="$scratch/prefix/lib/python3/dist-packages"
  test -f "$site/btreeimg/__init__.py"
  (cd "$scratch" && PYTHONPATH="$site" /usr/bin/python3 -c \
    'import sys, btreeimg; print(btreeimg.open(sys.argv[1]))' "$root/samples/design.dis")
fi

echo "--- example through find_package"
cmake -S examples -B "$scratch/example" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/example" >/dev/null
LD_LIBRARY_PATH="$scratch/prefix/lib" "$scratch/example/example" "${sample[@]}"

echo "--- example through pkg-config and g++"
flags=$(PKG_CONFIG_PATH="$scratch/prefix/lib/pkgconfig" pkg-config --cflags --libs btreeimg)
# shellcheck disable=SC2086
g++ -std=c++17 -Wall -Wextra -Werror examples/example.cpp $flags \
  -Wl,-rpath,"$(PKG_CONFIG_PATH="$scratch/prefix/lib/pkgconfig" pkg-config --variable=libdir btreeimg)" \
  -o "$scratch/example-pc"
"$scratch/example-pc" "${sample[@]}"

echo "--- a parent project with add_subdirectory"
mkdir -p "$scratch/parent"
cat > "$scratch/parent/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(parent LANGUAGES CXX)
add_subdirectory("$root" btreeimg)
add_executable(example "$root/examples/example.cpp")
target_link_libraries(example PRIVATE btreeimg::btreeimg)
CMAKE
cmake -S "$scratch/parent" -B "$scratch/parent/build" -G Ninja >/dev/null
cmake --build "$scratch/parent/build" -j "$jobs" >/dev/null
test ! -e "$scratch/parent/build/btreeimg/tests"
"$scratch/parent/build/example" "${sample[@]}"

echo "--- static library, same tests"
cmake -S . -B build/static -G Ninja -DBUILD_SHARED_LIBS=OFF \
  -DBTREEIMG_WERROR=ON -DBTREEIMG_BUILD_PYTHON=OFF -DBTREEIMG_BUILD_PIXBUF=OFF >/dev/null
cmake --build build/static -j "$jobs"
ctest --test-dir build/static --output-on-failure -j "$jobs"
