#!/usr/bin/env bash
# The demo: the till program loads the module from a demo folder, lists what the module
# registered in its service container, then finalises and unloads it; the module's log (next to
# the module) shows what it did.
set -euo pipefail
BIN=${1:?usage: demo.sh BIN_DIR}
HERE=$(cd "$(dirname "$0")" && pwd)
DEMO=$(dirname "$BIN")/demo
mkdir -p "$DEMO"
cp "$BIN/libZumvoPayment.so" "$DEMO/"
cp "$HERE/demo/host.ini" "$DEMO/host.ini"
[ -f "$DEMO/libZumvoPayment.ini" ] || printf '[Settings]\nZumvoStoreID=401\n' > "$DEMO/libZumvoPayment.ini"

echo "== Invoicing --headless --list-services (GUID, name, kind)"
"$BIN/Invoicing" --headless --config "$DEMO/host.ini" --module "$DEMO/libZumvoPayment.so" --list-services

echo
echo "== The module's log next to the module: $(ls "$DEMO"/*.log)"
tail -n 8 "$DEMO"/*.log | tr -d '\r'
