#!/usr/bin/env bash
# The Windows build and its checks, on a machine whose dependency cache is complete
# (tools/windows/build-deps.sh; `./run windows` runs both):
#
#   1. cross-configures and builds the tree for 32-bit Windows in build-win/ (ZumvoPayment.dll,
#      Invoicing.exe, BackOffice.exe, Trelvan_QR_Detect.exe and the test suites);
#   2. checks that the DLL is 32-bit and exports InitModule and FinalModule by their plain names;
#   3. runs the test suites under Wine (CTest, Wine as the cross-compiling emulator);
#   4. the demo's voucher sale under Wine: the voucher and brand service simulators run as Linux
#      programs (build/, built here when missing) on loopback, BackOffice.exe upgrades the demo
#      database, Invoicing.exe --headless --scenario sells with a Zumvo code, and the provider's
#      ledger must show the code settled; the module's log next to the DLL must carry the
#      computer name in its file name and end every line in CR LF;
#   5. the Windows installer ZumvoPayment-<version>-x86.msi (wixl), tried under Wine as an
#      administrator uses it: silent install into a folder with blanks and letters outside ASCII,
#      the voucher sale with the installed DLL, an upgrade keeping edited settings, removal
#      (tools/windows/msi/try-msi.sh); left out with ZUMVO_TRY_INSTALLER=0.
#
#   tools/windows/cross-test.sh PREFIX [CTEST ARGS...]
#
# Prints each step with the time it took; exits non-zero when any step fails.
set -euo pipefail
PREFIX=${1:?usage: cross-test.sh CACHE_PREFIX [CTEST ARGS...]}
shift
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$ROOT/build-win
JOBS=${ZUMVO_JOBS:-2}
[ -f "$PREFIX/.complete" ] || { echo "cross-test: $PREFIX is not a complete dependency cache"; exit 1; }

human_time() {
  local s=$1
  if [ "$s" -lt 60 ]; then printf '%d s' "$s"; else printf '%d min %d s' $((s / 60)) $((s % 60)); fi
}
# step NAME COMMAND...: runs one step, with its name before and its time after.
step() {
  local name=$1 start=$SECONDS rc=0
  shift
  echo "== $name"
  "$@" || rc=$?
  if [ "$rc" -eq 0 ]; then
    echo "== $name: done in $(human_time $((SECONDS - start)))"
  else
    echo "== $name: FAILED (exit $rc) after $(human_time $((SECONDS - start)))"
  fi
  return "$rc"
}

# Wine: the cache's own prefix (32-bit), its DLLs on the search path, Qt off screen.
export WINEPREFIX=$PREFIX/wineprefix WINEARCH=win32 WINEDEBUG=-all
export WINEPATH="Z:${PREFIX//\//\\}\\bin"
export WINEQT_QPA_PLATFORM=offscreen
# A Windows path for a Linux one (Wine's drive Z: is the Linux root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

cross_build() {
  nice cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/tools/windows/mingw32.cmake" \
    -DZUMVO_MINGW_PREFIX="$PREFIX" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$BUILD.configure.log" 2>&1 \
    || { tail -n 40 "$BUILD.configure.log"; return 1; }
  nice cmake --build "$BUILD" -j"$JOBS" >"$BUILD.build.log" 2>&1 || { grep -E 'error|FAILED' "$BUILD.build.log" | head -n 40; return 1; }
  echo "  $(grep -c '^\[' "$BUILD.build.log") build steps (log: $BUILD.build.log)"
}

check_dll() {
  local dll=$BUILD/bin/ZumvoPayment.dll dump
  dump=$(i686-w64-mingw32-objdump -p "$dll")
  grep -q '^Magic.*10b' <<<"$dump" || { echo "ZumvoPayment.dll is not a 32-bit (PE32) library"; return 1; }
  local exports
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -oE '[A-Za-z_@0-9]+$' || true)
  echo "  PE32 (i386); exports: $(tr '\n' ' ' <<<"$exports")"
  grep -qx InitModule <<<"$exports" && grep -qx FinalModule <<<"$exports" \
    || { echo "InitModule and FinalModule are not exported by their plain names"; return 1; }
}

run_tests() {
  wineboot --init >/dev/null 2>&1 || true
  # A case that fails runs once more: Wine now and then does not end a test process that has
  # finished (a case that passed in 39 ms sat until its time-out once in 348, and passed in every
  # run alone). A real failure fails both times.
  ctest --test-dir "$BUILD" --output-on-failure -j"$JOBS" --repeat until-pass:2 "$@"
}

# The native simulators (Linux programs on loopback), from the Linux build folder.
native_simulators() {
  if [ ! -x "$ROOT/build/bin/zumvo_voucher_sim" ] || [ ! -x "$ROOT/build/bin/zumvo_brand_sim" ]; then
    cmake -S "$ROOT" -B "$ROOT/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || return 1
    nice cmake --build "$ROOT/build" -j"$JOBS" --target zumvo_voucher_sim zumvo_brand_sim
  fi
}

demo_sale() {
  local bin=$BUILD/bin demo=$BUILD/demo
  # The module's folder as installed on Windows: blanks and a letter outside ASCII in its name.
  local modfolder="$demo/Zumvo Modul ä"
  rm -rf "$demo"
  mkdir -p "$modfolder"
  cp "$bin/ZumvoPayment.dll" "$bin/Trelvan_QR_Detect.exe" "$modfolder/"
  cp "$ROOT/refhost/demo/host.ini" "$demo/host.ini"
  local pids=() port
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' RETURN
  start_sim() {
    local name=$1 out="$demo/$1.out"
    shift
    "$@" --port 0 >"$out" 2>"$demo/$name.log" &
    pids+=($!)
    for _ in $(seq 1 100); do
      grep -q "listening on" "$out" 2>/dev/null && break
      sleep 0.05
    done
    port=$(sed -n 's/.*listening on \([0-9]*\).*/\1/p' "$out" | head -n 1)
    [ -n "$port" ] || { echo "the $name simulator did not start"; cat "$out" "$demo/$name.log"; return 1; }
  }
  start_sim brand_sim "$ROOT/build/bin/zumvo_brand_sim" --brands "$ROOT/sim/data/brands.json" || return 1
  local brand_port=$port
  start_sim voucher_sim "$ROOT/build/bin/zumvo_voucher_sim" --catalogue "$ROOT/sim/data/catalogue.json" \
    --api-id pallux-demo --api-password demo-secret || return 1
  local voucher_port=$port
  echo "  simulators (Linux): voucher service on port $voucher_port, brand service on port $brand_port"
  sed -e "s|@BRAND_URL@|http://127.0.0.1:$brand_port|" -e "s|@SOAP_SERVER@|http://127.0.0.1:$voucher_port|" \
    "$ROOT/refhost/demo/libZumvoPayment.ini" >"$modfolder/ZumvoPayment.ini"
  local host=(--headless --config "$(winpath "$demo/host.ini")" --module "$(winpath "$modfolder/ZumvoPayment.dll")")
  echo "  $(wine "$bin/Invoicing.exe" --version | tr -d '\r') under $(wine --version)"
  wine "$bin/BackOffice.exe" "${host[@]}" --upgrade-db | tr -d '\r' | sed 's/^/  /'
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "  BackOffice.exe --upgrade-db failed"; return 1; }
  echo "  Invoicing.exe --headless --scenario 1-paid-sale.json"
  wine "$bin/Invoicing.exe" "${host[@]}" --scenario "$(winpath "$ROOT/refhost/demo/scenarios/1-paid-sale.json")" \
    2>"$demo/invoicing.err" | tr -d '\r' | grep -v -e '^EVENT: ' -e '^CLICK: ' | sed 's/^/    /'
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "  the sale failed:"; sed 's/^/    /' "$demo/invoicing.err"; return 1; }
  echo "  The provider's ledger beside the module's transactions:"
  python3 "$ROOT/refhost/demo/ledger.py" "$voucher_port" "$demo/host.db" \
    "$(sed -n 's/^StoreID=//p' "$demo/host.ini")" | sed 's/^/    /'
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "  the ledger and the module's rows disagree"; return 1; }
  # The ledger check above fails on any difference; a settled code must be there as well.
  python3 - "$voucher_port" <<'EOPY'
import json, sys, urllib.request
with urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[1]}/ledger", timeout=10) as answer:
    settled = [e for e in json.load(answer) if e["state"] == "settled"]
print("  codes settled at the provider:", ", ".join(e["code"] for e in settled) or "none")
sys.exit(0 if settled else 1)
EOPY
  check_log "$modfolder"
}

# The module's log next to the DLL: the computer name in the file name, CR LF line ends.
check_log() {
  local folder=$1 computer log
  computer=$(wine cmd /c 'echo %COMPUTERNAME%' | tr -d '\r\n')
  log=$(find "$folder" -maxdepth 1 -name 'ZumvoPayment_*.log' | head -n 1)
  [ -n "$log" ] || { echo "no module log in $folder"; ls -la "$folder"; return 1; }
  echo "  module log: $(basename "$log") (computer name: $computer)"
  [ "$(basename "$log")" = "ZumvoPayment_$computer.log" ] || { echo "the log's name does not carry the computer name"; return 1; }
  local lines bare
  lines=$(grep -c '' "$log")
  bare=$(grep -c -v $'\r$' "$log" || true)
  echo "  $lines lines, $bare without CR LF"
  [ "$lines" -gt 0 ] && [ "$bare" -eq 0 ]
}

failed=0
step "Cross build for 32-bit Windows ($BUILD)" cross_build || exit 1
step "ZumvoPayment.dll: 32-bit, plain export names" check_dll || failed=1
step "Test suites under Wine" run_tests "$@" || failed=1
step "Native simulators (Linux build)" native_simulators || failed=1
step "Demo voucher sale under Wine against the Linux simulators" demo_sale || failed=1
if [ "${ZUMVO_TRY_INSTALLER:-1}" = 0 ]; then
  echo "== Windows installer not tried (ZUMVO_TRY_INSTALLER=0: ./run windows --check-cache, as CI runs it;"
  echo "   under Wine its removal leaves the installed files, an open fault; ./run windows tries it)"
elif command -v wixl > /dev/null && command -v msibuild > /dev/null; then
  step "Windows installer (MSI) under Wine" "$ROOT/tools/windows/msi/try-msi.sh" "$PREFIX" || failed=1
else
  echo "== Windows installer SKIPPED: wixl and msibuild are not installed (apt-get install msitools)"
fi
exit $failed
