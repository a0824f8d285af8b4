#!/usr/bin/env bash
# stage-msi.sh BUILD_WIN PREFIX STAGE: lays out in STAGE what the Windows installer puts into the
# host's folder, from the cross build (BUILD_WIN/bin) and the dependency cache (PREFIX):
#   ZumvoPayment.dll and Trelvan_QR_Detect.exe;
#   every DLL of the cache they load, and the DLLs those load (Qt, the MinGW runtime, zlib,
#   libcurl, ...), found by reading their import tables;
#   Qt's plugins the module needs (platforms, styles, image formats) with their own DLLs;
#   the settings files ZumvoPayment.ini (the shipped example) and Trelvan_QR_Detect.ini (the
#   reader takes the newest picture from the folder Scans beside it, made empty);
#   licences/: the copyright of every source the cache was built from, the MinGW runtime's, and
#   the module's own.
set -euo pipefail
BUILD=${1:?usage: stage-msi.sh BUILD_WIN PREFIX STAGE}
PREFIX=${2:?usage: stage-msi.sh BUILD_WIN PREFIX STAGE}
STAGE=${3:?usage: stage-msi.sh BUILD_WIN PREFIX STAGE}
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
OBJDUMP=${OBJDUMP:-i686-w64-mingw32-objdump}
fail() { echo "stage-msi: $*" >&2; exit 1; }

rm -rf "$STAGE"
mkdir -p "$STAGE/licences" "$STAGE/Scans"
for f in ZumvoPayment.dll Trelvan_QR_Detect.exe; do
  [ -f "$BUILD/bin/$f" ] || fail "no $BUILD/bin/$f (cross build first)"
  cp "$BUILD/bin/$f" "$STAGE/"
done
# Qt's plugins for a widget module: the platform, the styles, the picture formats.
for kind in platforms styles imageformats; do
  if [ -d "$PREFIX/plugins/$kind" ]; then
    mkdir -p "$STAGE/plugins/$kind"
    find "$PREFIX/plugins/$kind" -maxdepth 1 -name '*.dll' ! -name '*d.dll' -exec cp {} "$STAGE/plugins/$kind/" \;
  fi
done
[ -f "$STAGE/plugins/platforms/qwindows.dll" ] || fail "no Qt platform plugin qwindows.dll in $PREFIX/plugins"

# The DLLs the staged files import, found in the cache, until none is new. (Windows' own DLLs are
# not in the cache and stay out.)
imports() { "$OBJDUMP" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r'; }
declare -A seen=()
queue=()
while IFS= read -r -d '' f; do queue+=("$f"); done < <(find "$STAGE" -name '*.dll' -print0 -o -name '*.exe' -print0)
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  for dll in $(imports "$file"); do
    key=${dll,,}
    [ -z "${seen[$key]:-}" ] || continue
    seen[$key]=1
    found=$(find "$PREFIX/bin" -maxdepth 1 -iname "$dll" | head -n 1)
    [ -n "$found" ] || continue
    cp "$found" "$STAGE/"
    queue+=("$STAGE/$(basename "$found")")
  done
done

cp "$ROOT/module/ZumvoPayment.example.ini" "$STAGE/ZumvoPayment.ini"
cat > "$STAGE/Trelvan_QR_Detect.ini" <<'INI'
; Settings of the QR reader Trelvan_QR_Detect, which the payment screen's Scan button runs.
;
; The reader decodes one picture (PNG, JPEG, BMP, GIF, PGM, PPM or PBM): the file Image, or,
; when Image is not set, the newest picture in the folder Folder, where the till's scanner or
; camera software puts what it takes. A relative name is taken from this folder (the module's).
; The installer keeps this file on an upgrade or a repair and leaves it when it is removed.
[Settings]
Folder=Scans
;Image=C:\Scans\scan.png
INI

# Licences of what is bundled: each source's Debian copyright file, the MinGW runtime's, ours.
for copyright in "$HOME"/.cache/zumvo/src/*/*/debian/copyright; do
  [ -f "$copyright" ] || continue
  name=$(basename "$(dirname "$(dirname "$copyright")")")
  cp "$copyright" "$STAGE/licences/$name.txt"
done
for doc in gcc-mingw-w64-base mingw-w64-common libz-mingw-w64; do
  [ -f "/usr/share/doc/$doc/copyright" ] && cp "/usr/share/doc/$doc/copyright" "$STAGE/licences/$doc.txt"
done
cp "$ROOT/debian/copyright" "$STAGE/licences/zumvo-payment.txt"
echo "staged $(find "$STAGE" -type f | wc -l) files ($(du -sh "$STAGE" | cut -f1)) in $STAGE"
