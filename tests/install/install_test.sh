#!/usr/bin/env bash
# install_test.sh BUILD_DIR VERSION CMAKE SOURCE_DIR: installs the build into a scratch root and runs the
# installed programs from there only. Every check prints what failed; the scratch root is
# removed at the end.
set -euo pipefail
BUILD=${1:?build folder}
VERSION=${2:?version}
CMAKE=${3:-cmake}
SOURCE=${4:-$(cd "$(dirname "$0")/../.." && pwd)}
ROOT=$(mktemp -d "${TMPDIR:-/tmp}/zumvo_install_XXXXXX")
SIM_PID=""
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null || true
  rm -rf "$ROOT"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

PREFIX="$ROOT/usr"
"$CMAKE" --install "$BUILD" --prefix "$PREFIX" > "$ROOT/install.log" || { cat "$ROOT/install.log"; fail "cmake --install"; }

# Where things are: found, not assumed, so a changed LIBDIR does not break the test.
MODULE=$(find "$PREFIX" -name libZumvoPayment.so -type f)
[ -n "$MODULE" ] || fail "no libZumvoPayment.so installed"
MODDIR=$(dirname "$MODULE")
for f in "$PREFIX/bin/Invoicing" "$PREFIX/bin/BackOffice" "$PREFIX/bin/zumvo_voucher_sim" \
         "$PREFIX/bin/zumvo_brand_sim" "$PREFIX/share/doc/zumvo-payment/examples/libZumvoPayment.ini.example" \
         "$PREFIX/share/zumvo/sim/catalogue.json" "$PREFIX/share/zumvo/sim/brands.json" \
         "$PREFIX/share/zumvo/refhost/host.ini.example" "$PREFIX/include/zumvo/intfDI.h" \
         "$PREFIX/share/doc/zumvo-payment/changelog.gz" "$PREFIX/include/zumvo/intfModuleEntry.h"; do
  [ -e "$f" ] || fail "not installed: ${f#$PREFIX/}"
done
RES="$PREFIX/share/zumvo/refhost/Res"
[ -f "$RES/CashupLists.css" ] || [ ! -d "$BUILD/bin/Res" ] || fail "the host's Res folder is not installed in share/zumvo/refhost"
[ ! -e "$PREFIX/bin/Res" ] || fail "bin/ holds a Res folder: only programs belong there"
# Every package's documentation folder: copyright, Debian changelog, a README for users.
for package in zumvo-payment zumvo-refhost zumvo-simulators zumvo-host-sdk-dev; do
  for f in copyright changelog.Debian.gz README.md; do
    [ -f "$PREFIX/share/doc/$package/$f" ] || fail "not installed: share/doc/$package/$f"
  done
done
# Manual pages of the five programs, when the build made them (help2man; not in sanitizer builds).
if [ -d "$BUILD/man" ]; then
  for p in Invoicing BackOffice zumvo_voucher_sim zumvo_brand_sim Trelvan_QR_Detect; do
    page="$PREFIX/share/man/man1/$p.1.gz"
    [ -f "$page" ] || fail "no manual page share/man/man1/$p.1.gz"
    # the page of this version, with the program's options (roff writes a minus as \-)
    zcat "$page" | grep -q "^\.TH .*\"$p $VERSION\"" || fail "the manual page of $p is not of version $VERSION"
    zcat "$page" | grep -qF -- '\-\-' || fail "the manual page of $p names no options"
  done
fi
# The settings: <prefix>/etc/zumvo/libZumvoPayment.ini (mode 0640, the provider's password is in
# it), reached by the name the module looks for, a link in the module's folder.
SETTINGS="$PREFIX/etc/zumvo/libZumvoPayment.ini"
[ -f "$SETTINGS" ] || fail "no settings file etc/zumvo/libZumvoPayment.ini"
[ "$(stat -c %a "$SETTINGS")" = 640 ] || fail "etc/zumvo/libZumvoPayment.ini has mode $(stat -c %a "$SETTINGS"), not 640"
# The QR reader's settings likewise: etc/zumvo/Trelvan_QR_Detect.ini (0644), linked from its folder,
# naming the folder it reads pictures from.
QR_SETTINGS="$PREFIX/etc/zumvo/Trelvan_QR_Detect.ini"
[ "$(stat -c %a "$QR_SETTINGS" 2> /dev/null)" = 644 ] || fail "no etc/zumvo/Trelvan_QR_Detect.ini of mode 644"
[ "$(readlink -f "$MODDIR/Trelvan_QR_Detect.ini")" = "$(readlink -f "$QR_SETTINGS")" ] ||
  fail "the QR reader's folder has no link to etc/zumvo/Trelvan_QR_Detect.ini"
grep -q '^Folder=' "$QR_SETTINGS" || fail "the QR reader's settings name no picture folder"
[ -L "$MODDIR/libZumvoPayment.ini" ] || fail "the module's folder has no link to the settings file"
[ "$(readlink -f "$MODDIR/libZumvoPayment.ini")" = "$(readlink -f "$SETTINGS")" ] ||
  fail "the module's libZumvoPayment.ini points to $(readlink "$MODDIR/libZumvoPayment.ini")"
cmp -s "$SETTINGS" "$PREFIX/share/doc/zumvo-payment/examples/libZumvoPayment.ini.example" ||
  fail "the installed settings are not the example"
# Every key the module reads is in the example.
for key in $(grep -ohE '(ReadString|ReadInteger|SettingNumber)\((settings, )?"[A-Za-z]+"' \
               "$SOURCE"/module/*.cpp "$SOURCE"/backoffice/*.cpp "$SOURCE"/cashier/*.cpp | grep -oE '"[A-Za-z]+"' | tr -d '"' | sort -u); do
  grep -qE "^;?$key=" "$SETTINGS" || fail "the example settings do not hold the key $key"
done
# Installing again keeps the settings in use.
echo "; edited" >> "$SETTINGS"
"$CMAKE" --install "$BUILD" --prefix "$PREFIX" > "$ROOT/install2.log" || { cat "$ROOT/install2.log"; fail "second cmake --install"; }
tail -n 1 "$SETTINGS" | grep -q "; edited" || fail "installing again replaced the settings in use"
[ -x "$MODDIR/Trelvan_QR_Detect" ] || [ ! -x "$BUILD/bin/Trelvan_QR_Detect" ] ||
  fail "the QR reader is built but not installed next to the module"

# Nothing points back into the build tree.
for f in "$PREFIX"/bin/* "$MODDIR"/*; do
  if [ -f "$f" ] && readelf -d "$f" 2>/dev/null | grep -E "R(UN)?PATH" | grep -q "$BUILD"; then
    fail "${f#$PREFIX/} has a run path into the build tree"
  fi
done

# --version on every program.
for p in "$PREFIX/bin/Invoicing" "$PREFIX/bin/BackOffice" "$PREFIX/bin/zumvo_voucher_sim" \
         "$PREFIX/bin/zumvo_brand_sim" "$MODDIR/Trelvan_QR_Detect"; do
  [ -x "$p" ] || continue
  out=$("$p" --version) || fail "$(basename "$p") --version"
  [ "$out" = "$(basename "$p") $VERSION" ] || fail "$(basename "$p") --version said '$out'"
done

# The host, called by its bare name from the PATH, finds the installed module relative to itself.
WORK="$ROOT/till"
mkdir -p "$WORK"
cp "$PREFIX/share/zumvo/refhost/host.ini.example" "$WORK/host.ini"
EXAMPLE="$PREFIX/share/doc/zumvo-payment/examples/libZumvoPayment.ini.example"
cp "$EXAMPLE" "$MODDIR/libZumvoPayment.ini"
cd "$WORK"
PATH="$PREFIX/bin:$PATH" Invoicing --headless --config host.ini --list-services > services.txt 2>&1 ||
  { cat services.txt; fail "Invoicing --list-services"; }
grep -q "Zumvo" services.txt || { cat services.txt; fail "the module registered nothing named Zumvo"; }
LOG=$(ls "$MODDIR"/*.log 2>/dev/null | head -n 1)
[ -n "$LOG" ] || fail "no module log next to the installed module"
grep -q "Zumvo Payment version $VERSION" "$LOG" || fail "the module log does not name version $VERSION"
# a second start reopens the log: its header names the version
PATH="$PREFIX/bin:$PATH" Invoicing --headless --config host.ini --list-services > /dev/null 2>&1 ||
  fail "second Invoicing --list-services"
grep -q "==== Log opened .*version $VERSION) ====" "$LOG" || fail "the log header does not name version $VERSION"

# A till scenario from the installed files only.
SCENARIO="$PREFIX/share/zumvo/refhost/scenarios/cash-sale.json"
[ -f "$SCENARIO" ] || fail "the example scenario is not installed"
PATH="$PREFIX/bin:$PATH" Invoicing --headless --config host.ini --scenario "$SCENARIO" > scenario.txt 2>&1 ||
  { cat scenario.txt; fail "the installed scenario failed"; }
grep -q "SCENARIO: passed" scenario.txt || { cat scenario.txt; fail "the scenario did not pass"; }

# The voucher simulator starts from its installed catalogue.
"$PREFIX/bin/zumvo_voucher_sim" --port 0 --catalogue "$PREFIX/share/zumvo/sim/catalogue.json" > sim.txt 2>&1 &
SIM_PID=$!
for _ in $(seq 1 100); do
  grep -q "listening on" sim.txt 2>/dev/null && break
  sleep 0.05
done
grep -q "listening on" sim.txt || { cat sim.txt; fail "the installed voucher simulator did not start"; }
SIM_PORT=$(sed -n 's/.*listening on \([0-9]*\).*/\1/p' sim.txt | head -n 1)

# A voucher sale with the installed module, its example settings pointed at that simulator, and
# the module's tables made by the installed back office; the provider's ledger shows the code
# settled for the sale's amount.
sed -e "s|^SOAPServer=.*|SOAPServer=http://127.0.0.1:$SIM_PORT|" -e "s|^SOAPUrl=.*|SOAPUrl=/pos/services/PosService|" \
  -e "s|^SOAPID=.*|SOAPID=zumvo|" -e "s|^SOAPPWD=.*|SOAPPWD=zumvo-secret|" \
  "$EXAMPLE" > "$MODDIR/libZumvoPayment.ini"
PATH="$PREFIX/bin:$PATH" BackOffice --headless --config host.ini --upgrade-db > upgrade.txt 2>&1 ||
  { cat upgrade.txt; fail "BackOffice --upgrade-db"; }
SCENARIO="$PREFIX/share/zumvo/refhost/scenarios/voucher-sale.json"
[ -f "$SCENARIO" ] || fail "the voucher sale scenario is not installed"
PATH="$PREFIX/bin:$PATH" Invoicing --headless --config host.ini --scenario "$SCENARIO" > voucher.txt 2>&1 ||
  { cat voucher.txt; fail "the installed voucher sale failed"; }
grep -q "SCENARIO: passed" voucher.txt || { cat voucher.txt; fail "the voucher sale did not pass"; }
! grep -q "propagateSizeHints" voucher.txt || fail "the headless till printed Qt's propagateSizeHints note"
# The report page names the installed style sheets as its base.
PATH="$PREFIX/bin:$PATH" BackOffice --headless --config host.ini --report today > report.txt 2>&1 ||
  { cat report.txt; fail "BackOffice --report today"; }
PAGE=$(sed -n 's/^Report page: //p' report.txt)
[ -f "$PAGE" ] || { cat report.txt; fail "no report page"; }
grep -q "<base href=\"file://$RES/\"" "$PAGE" || { grep -o '<base[^>]*>' "$PAGE"; fail "the report page's base is not $RES"; }
python3 - "$SIM_PORT" <<'PY' || fail "the provider's ledger does not show the sale's code settled"
import json, sys, urllib.request
ledger = json.load(urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[1]}/ledger", timeout=10))
entries = [(e["code"], e["amount"], e["state"]) for e in ledger]
print("ledger:", entries)
sys.exit(0 if entries == [("PAY-100", 615, "settled")] else 1)
PY

# A host vendor's project builds against the installed SDK with find_package(ZumvoHostSDK): the
# example the SDK ships, copied out as its README says, loading the installed module through the
# SDK's container (InitModule, the module's payment method by name, FinalModule).
EXAMPLE="$PREFIX/share/doc/zumvo-host-sdk-dev/examples/host"
[ -f "$EXAMPLE/CMakeLists.txt" ] && [ -f "$EXAMPLE/zumvo_host_example.cpp" ] || fail "the SDK's example is not installed in $EXAMPLE"
[ -f "$PREFIX/include/zumvo/clsSimpleContainer.h" ] || fail "the SDK's container clsSimpleContainer.h is not installed"
cp -r "$EXAMPLE" "$ROOT/vendor"
# A module built with the address sanitizer needs its run-time loaded first in a program built
# without it. Leaks are not looked for there: what a library unloaded with the module keeps for
# its life (Qt's libb2 loads libgomp, which allocates when loaded) looks lost once it is unmapped.
ASAN_RUNTIME=$(ldd "$MODULE" | awk '/libasan/ { print $3 }')
"$CMAKE" -S "$ROOT/vendor" -B "$ROOT/vendor/build" -DCMAKE_PREFIX_PATH="$PREFIX" > "$ROOT/vendor.log" 2>&1 &&
  "$CMAKE" --build "$ROOT/vendor/build" >> "$ROOT/vendor.log" 2>&1 &&
  LD_PRELOAD="$ASAN_RUNTIME" ASAN_OPTIONS=detect_leaks=0 "$ROOT/vendor/build/zumvo_host_example" "$MODULE" > "$ROOT/example.txt" 2>> "$ROOT/vendor.log" ||
  { cat "$ROOT/vendor.log" "$ROOT/example.txt"; fail "the SDK's example host, built with find_package(ZumvoHostSDK)"; }
grep -qx "payment methods: Zumvo" "$ROOT/example.txt" || { cat "$ROOT/example.txt"; fail "the example host found no payment method Zumvo"; }
grep -qx "loaded, registered, withdrawn, unloaded" "$ROOT/example.txt" || { cat "$ROOT/example.txt"; fail "the example host did not finish"; }

echo "installed tree: programs, module, cash and voucher sales, simulator and SDK all work from $PREFIX"
