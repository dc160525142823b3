#!/usr/bin/env bash
# The desktop pieces as installed: into a temporary prefix, the MIME
# database and a loader cache refreshed there as docs/desktop.md says, then the
# file type asked of xdg-mime, the loader module loaded from the prefix by
# GdkPixbuf's query program, and the thumbnailer entry's command run as a
# file manager runs it.
# Usage: installed.sh BUILD-DIR SAMPLES-DIR
# Environment: BTREEIMG_PIXBUF_QUERY (GdkPixbuf's query program),
# BTREEIMG_SANITIZER_PRELOAD (the sanitizer runtime, in a sanitizer build).
set -euo pipefail
build=$1
samples=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

echo "--- the installed files"
test -f "$prefix/share/mime/packages/btreeimg.xml" || fail "no MIME type definition"
entry=$prefix/share/thumbnailers/btreeimg.thumbnailer
grep -qxF "TryExec=$prefix/bin/btreeimg" "$entry" || fail "TryExec in $(cat "$entry")"
grep -qxF "MimeType=image/x-btreeimg;" "$entry" || fail "MimeType in $(cat "$entry")"
# One loader module, in a GdkPixbuf module folder.
modules=$(find "$prefix" -name libpixbufloader-btreeimg.so)
[ "$(echo "$modules" | wc -l)" = 1 ] && [[ $modules == "$prefix"/lib*/gdk-pixbuf-2.0/*/loaders/* ]] ||
  fail "loader module: '$modules'"

echo "--- the file type, by name and by content"
export XDG_DATA_DIRS="$prefix/share:/usr/local/share:/usr/share"
update-mime-database "$prefix/share/mime"
unset XDG_CURRENT_DESKTOP
cp "$samples/design.dis" "$scratch/design.dis"
cp "$samples/design.dis" "$scratch/design-copy"
printf 'not an image\n' > "$scratch/notes"
for file in design.dis design-copy; do
  type=$(xdg-mime query filetype "$scratch/$file")
  [ "$type" = image/x-btreeimg ] || fail "xdg-mime says $file is '$type'"
done
[ "$(xdg-mime query filetype "$scratch/notes")" != image/x-btreeimg ] || fail "a text file is typed as an image"

echo "--- the loader module from the prefix, and the thumbnailer entry's command"
# An uninstrumented program loads the module with the sanitizer's runtime
# (none outside a sanitizer build).
LD_PRELOAD=${BTREEIMG_SANITIZER_PRELOAD:-} ASAN_OPTIONS=detect_leaks=0 \
  "$BTREEIMG_PIXBUF_QUERY" "$modules" > "$prefix/loaders.cache"
grep -q '"image/x-btreeimg"' "$prefix/loaders.cache" || fail "the query program cannot load $modules"
command=$(sed -n 's/^Exec=//p' "$entry")
command=${command//%s/64}
command=${command//%i/$scratch/design.dis}
command=${command//%o/$scratch/entry.png}
$command
pngsize() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $3 * 256 + $4 " x " $7 * 256 + $8 }'; }
[ "$(pngsize "$scratch/entry.png")" = "64 x 48" ] || fail "the entry's thumbnail: $(pngsize "$scratch/entry.png")"
echo "installed pieces work together"
