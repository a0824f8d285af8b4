#!/usr/bin/env bash
# try-msi.sh PREFIX: the Windows installer as an administrator uses it, under Wine, on a complete
# dependency cache and the cross build in build-win/ (tools/windows/cross-test.sh runs it last):
#   1. stages the files and builds ZumvoPayment-<version>-x86.msi (and one of the next patch
#      version, for the upgrade) in build-win/;
#   2. msiexec /i ... /qn INSTALLDIR=<a folder with blanks and letters outside ASCII>;
#   3. the demo's voucher sale through Invoicing.exe with the installed DLL (its settings edited to
#      point at the Linux simulators), the code settled in the simulator's ledger;
#   4. the newer MSI installed over it: the edited settings are kept;
#   5. msiexec /x: nothing the MSI installed is left but the settings files and the module's log.
# Prints each step's result and the MSI's size; exits non-zero when a step fails.
set -euo pipefail
PREFIX=${1:?usage: try-msi.sh CACHE_PREFIX}
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
BUILD=$ROOT/build-win
VERSION=$(sed -n 's/^project(ZumvoPayment VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt" | head -n 1)
[ -n "$VERSION" ] || VERSION=$(grep -oE 'VERSION [0-9]+\.[0-9]+\.[0-9]+' "$ROOT/CMakeLists.txt" | head -n 1 | cut -d' ' -f2)
NEWER=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<< "$VERSION")
MSI=$BUILD/ZumvoPayment-$VERSION-x86.msi
MSI_NEWER=$BUILD/ZumvoPayment-$NEWER-x86.msi
export WINEPREFIX=$PREFIX/wineprefix WINEARCH=win32 WINEDEBUG=-all
export WINEPATH="Z:${PREFIX//\//\\}\\bin"
export WINEQT_QPA_PLATFORM=offscreen
winpath() { printf 'Z:%s' "${1//\//\\}"; }
fail() { echo "  FAILED: $*"; exit 1; }

# The folder: blanks and letters outside ASCII, on drive C: of the Wine prefix.
DIR_WIN='C:\Kasse Süd\Pallux Modul ä'
DIR="$WINEPREFIX/drive_c/Kasse Süd/Pallux Modul ä"

echo "== MSI: stage and build ($VERSION, and $NEWER for the upgrade)"
"$ROOT/tools/windows/msi/stage-msi.sh" "$BUILD" "$PREFIX" "$BUILD/msi-stage"
python3 "$ROOT/tools/windows/msi/make-msi.py" "$BUILD/msi-stage" "$VERSION" "$MSI"
python3 "$ROOT/tools/windows/msi/make-msi.py" "$BUILD/msi-stage" "$NEWER" "$MSI_NEWER"
echo "  $(basename "$MSI"): $(stat -c %s "$MSI") bytes ($(du -h "$MSI" | cut -f1))"

echo "== MSI: silent install into \"$DIR_WIN\""
wineboot --init > /dev/null 2>&1 || true
rm -rf "$WINEPREFIX/drive_c/Kasse Süd"
wine msiexec /i "$(winpath "$MSI")" /qn "INSTALLDIR=$DIR_WIN" || fail "msiexec /i (exit $?)"
for f in ZumvoPayment.dll Trelvan_QR_Detect.exe ZumvoPayment.ini Trelvan_QR_Detect.ini plugins/platforms/qwindows.dll; do
  [ -f "$DIR/$f" ] || fail "not installed: $f"
done
[ -d "$DIR/Scans" ] || fail "not installed: the folder Scans"
INSTALLED=$(cd "$DIR" && find . -type f | sort)
echo "  $(wc -l <<< "$INSTALLED") files installed"

echo "== MSI: the voucher sale with the installed DLL"
demo=$BUILD/msi-demo
rm -rf "$demo" && mkdir -p "$demo"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT
start_sim() {
  local name=$1 out="$demo/$1.out"
  shift
  "$@" --port 0 > "$out" 2> "$demo/$name.log" &
  pids+=($!)
  for _ in $(seq 1 100); do grep -q "listening on" "$out" 2> /dev/null && break; sleep 0.05; done
  port=$(sed -n 's/.*listening on \([0-9]*\).*/\1/p' "$out" | head -n 1)
  [ -n "$port" ] || fail "the $name simulator did not start"
}
start_sim brand_sim "$ROOT/build/bin/zumvo_brand_sim" --brands "$ROOT/sim/data/brands.json"
brand_port=$port
start_sim voucher_sim "$ROOT/build/bin/zumvo_voucher_sim" --catalogue "$ROOT/sim/data/catalogue.json" \
  --api-id pallux-demo --api-password demo-secret
voucher_port=$port
# The administrator's edit of the installed settings: the simulators' addresses.
sed -e "s|@BRAND_URL@|http://127.0.0.1:$brand_port|" -e "s|@SOAP_SERVER@|http://127.0.0.1:$voucher_port|" \
  "$ROOT/refhost/demo/libZumvoPayment.ini" > "$DIR/ZumvoPayment.ini"
printf '; edited by the administrator\r\n' >> "$DIR/ZumvoPayment.ini"
cp "$ROOT/refhost/demo/host.ini" "$demo/host.ini"
host=(--headless --config "$(winpath "$demo/host.ini")" --module "$DIR_WIN\\ZumvoPayment.dll")
wine "$BUILD/bin/BackOffice.exe" "${host[@]}" --upgrade-db > "$demo/upgrade.txt" 2>&1 || { cat "$demo/upgrade.txt"; fail "BackOffice.exe --upgrade-db"; }
wine "$BUILD/bin/Invoicing.exe" "${host[@]}" --scenario "$(winpath "$ROOT/refhost/demo/scenarios/1-paid-sale.json")" \
  > "$demo/sale.txt" 2> "$demo/sale.err" || { tr -d '\r' < "$demo/sale.txt" | tail -n 20; cat "$demo/sale.err"; fail "the sale"; }
python3 - "$voucher_port" <<'EOPY' || fail "no code settled at the provider"
import json, sys, urllib.request
with urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[1]}/ledger", timeout=10) as answer:
    settled = [e for e in json.load(answer) if e["state"] == "settled"]
print("  codes settled at the provider:", ", ".join(f'{e["code"]} ({e["amount"]} cents)' for e in settled) or "none")
sys.exit(0 if settled else 1)
EOPY
ls "$DIR"/ZumvoPayment_*.log > /dev/null 2>&1 && echo "  the module's log: $(basename "$(ls "$DIR"/ZumvoPayment_*.log | head -n 1)")"

echo "== MSI: $NEWER installed over $VERSION keeps the edited settings"
wine msiexec /i "$(winpath "$MSI_NEWER")" /qn "INSTALLDIR=$DIR_WIN" || fail "msiexec /i of $NEWER (exit $?)"
grep -q "; edited by the administrator" "$DIR/ZumvoPayment.ini" || fail "the upgrade replaced the edited settings"
[ -f "$DIR/ZumvoPayment.dll" ] || fail "the upgrade left no ZumvoPayment.dll"
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2> /dev/null | tr -d '\r' |
  grep -E 'DisplayVersion' | grep -q "$NEWER" || echo "  (the uninstall entry's version could not be read)"
echo "  edited settings kept; $NEWER installed"

echo "== MSI: msiexec /x leaves the settings and the log only"
wine msiexec /x "$(winpath "$MSI_NEWER")" /qn || fail "msiexec /x (exit $?)"
LEFT=$( [ -d "$DIR" ] && cd "$DIR" && find . -type f | sort || true)
UNEXPECTED=$(grep -vE '^\./(ZumvoPayment\.ini|Trelvan_QR_Detect\.ini|ZumvoPayment_[^/]*\.log(\.[0-9]+)?|archive/.*)$' <<< "$LEFT" || true)
[ -z "$UNEXPECTED" ] || fail "left after removal: $UNEXPECTED"
echo "  left: $(tr '\n' ' ' <<< "$LEFT")"
echo "== MSI: $(basename "$MSI") $(stat -c %s "$MSI") bytes: installed, sale settled, upgrade kept the settings, removed"
