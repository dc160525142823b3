#!/usr/bin/env bash
# The GIMP plug-in inside GIMP itself, headless. The build is installed into
# a temporary prefix, and the plug-in's folder there is linked into a
# temporary GIMP2_DIRECTORY, as one user installs it; the plug-in path there
# holds it and Script-Fu alone, so that GIMP starts in seconds. plugin.scm
# then opens, exports, edits and refuses, and the files it wrote are
# compared here with the tool.
# Usage: plugin.sh BUILD-DIR SCRIPT-FU SAMPLES-DIR
set -euo pipefail
build=$1
scriptfu=$2
samples=$3
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
tool=$prefix/bin/btreeimg
plugin=$(find "$prefix" -name file-btreeimg -type f)
[[ $plugin == "$prefix"/lib/gimp/2.0/plug-ins/file-btreeimg/file-btreeimg ]] ||
  fail "the installed plug-in: '$plugin'"

home=$scratch/gimp
for folder in plug-ins/script-fu brushes gradients palettes patterns; do
  mkdir -p "$home/$folder"
done
ln -s "$(dirname "$plugin")" "$home/plug-ins/file-btreeimg"
ln -s "$scriptfu" "$home/plug-ins/script-fu/script-fu"
echo '(plug-in-path "${gimp_dir}/plug-ins")' > "$home/gimprc"

files=$scratch/files
mkdir "$files"
cp "$samples/design.dis" "$files/design.dis"
cp "$samples/design.dis" "$files/design-copy"
cp "$samples/design.dis" "$files/kept.dis"
head -c 3000 "$samples/design.dis" > "$files/cut.dis"
# The first header block alone, stating 65535 x 65535 pixels.
head -c 1312 "$samples/design.dis" > "$files/huge.dis"
printf '\377\377\377\377' | dd of="$files/huge.dis" bs=1 seek=10 conv=notrunc status=none

GIMP2_DIRECTORY=$home timeout 100 gimp-console-2.10 -i -d -f -n \
  -b "(begin (define dir \"$files\") (load \"$here/plugin.scm\"))" \
  -b '(gimp-quit 0)' </dev/null > "$scratch/log" 2>&1 || true
grep -E '^(script-fu-Warning: )?(ok|FAIL):|Error' "$scratch/log" | sed 's/^script-fu-Warning: //'
grep -q 'FAIL:' "$scratch/log" && fail "a check in GIMP failed"
grep -q '^script-fu-Warning: done' "$scratch/log" || { cat "$scratch/log"; fail "the script did not run to its end"; }

echo "--- the files written, compared with the tool"
"$tool" diff "$samples/design.dis" "$files/same.dis" || fail "the exported image differs"
"$tool" diff "$samples/design.dis" "$files/raw.dis" || fail "the raw export differs"
"$tool" diff "$samples/design.dis" "$files/alpha.dis" || fail "the layers with alpha differ"
"$tool" info "$files/raw.dis" | grep -c 'raw (0)' | grep -qx 3 || fail "raw.dis is not raw"
set +e
changes=$("$tool" diff "$samples/design.dis" "$files/edited.dis")
status=$?
set -e
echo "$changes"
[ $status = 1 ] || fail "the edit: status $status"
expected="plane 1: 256 x 192, equal
plane 2: 256 x 192, 1 pixel differs, the first at line 20, column 10
plane 3: 256 x 192, equal
colour map: 1 entry differs
  255: #000000 in the first image, #090000 in the second"
[ "$(echo "$changes" | head -5)" = "$expected" ] || fail "the edit is not the pixel and colour changed"
"$tool" thumbnail -s 64 "$samples/design.dis" "$scratch/thumb.png"
"$tool" frompng "$scratch/thumb.png" "$scratch/thumb.dis" >/dev/null
"$tool" diff "$scratch/thumb.dis" "$files/thumb.dis" || fail "the thumbnails differ"
cmp -s "$samples/design.dis" "$files/kept.dis" || fail "a refused export changed kept.dis"
ls "$files" | grep -v -E '^(design.dis|design-copy|kept.dis|cut.dis|huge.dis|same.dis|raw.dis|alpha.dis|edited.dis|grey.dis|thumb.dis)$' &&
  fail "files left behind"
echo "the plug-in opens and exports in GIMP"
