#!/usr/bin/env bash
# The demo, all headless on this machine:
#  1. the brand service simulator starts on a free loopback port;
#  2. BackOffice loads the module from a demo folder and upgrades the demo database with the
#     module's scripts (run twice: the second pass changes nothing);
#  3. BackOffice refreshes the till brand lists from the simulator and prints them;
#  4. Invoicing lists what the module registered in its service container;
#  5. the module's log (next to the module) shows what it did.
set -euo pipefail
BIN=${1:?usage: demo.sh BIN_DIR}
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
DEMO=$(dirname "$BIN")/demo
rm -rf "$DEMO"
mkdir -p "$DEMO"
cp "$BIN/libZumvoPayment.so" "$DEMO/"
cp "$HERE/demo/host.ini" "$DEMO/host.ini"

SIM_OUT="$DEMO/brand_sim.out"
"$BIN/zumvo_brand_sim" --port 0 --brands "$ROOT/sim/data/brands.json" > "$SIM_OUT" 2>&1 &
SIM_PID=$!
trap 'kill $SIM_PID 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  grep -q "listening on" "$SIM_OUT" 2>/dev/null && break
  sleep 0.05
done
PORT=$(sed -n 's/.*listening on \([0-9]*\).*/\1/p' "$SIM_OUT" | head -n 1)
[ -n "$PORT" ] || { echo "the brand simulator did not start:"; cat "$SIM_OUT"; exit 1; }

sed "s|@BRAND_URL@|http://127.0.0.1:$PORT|" "$HERE/demo/libZumvoPayment.ini" > "$DEMO/libZumvoPayment.ini"
HOST=(--headless --config "$DEMO/host.ini" --module "$DEMO/libZumvoPayment.so")

echo "== BackOffice --upgrade-db (the module's schema scripts, twice)"
"$BIN/BackOffice" "${HOST[@]}" --upgrade-db
"$BIN/BackOffice" "${HOST[@]}" --upgrade-db | head -n 1

echo
echo "== BackOffice --refresh-brands (brand service simulator on port $PORT)"
"$BIN/BackOffice" "${HOST[@]}" --refresh-brands

echo
echo "== Invoicing --list-services (GUID, name, kind)"
"$BIN/Invoicing" "${HOST[@]}" --list-services

echo
echo "== The module's log next to the module: $(ls "$DEMO"/*.log)"
tr -d '\r' < "$DEMO"/*.log | grep -v "^====" | cut -c 25- | head -n 40

echo
"$HERE/demo/held_funds.sh" "$BIN" "$DEMO"
