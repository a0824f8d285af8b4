#!/usr/bin/env bash
# The demo's held-funds part: a sale whose FINALISE advice is dropped leaves the customer's
# money held; the back office lists it, its retry settles it, and the provider's ledger agrees.
# Runs in a folder of its own with its own voucher simulator, so it needs only the programs.
set -euo pipefail
BIN=${1:?usage: held_funds.sh BIN_DIR DEMO_DIR}
DIR=${2:?usage: held_funds.sh BIN_DIR DEMO_DIR}/held_funds
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$DIR"
mkdir -p "$DIR"
cp "$BIN/libZumvoPayment.so" "$DIR/"

"$BIN/zumvo_voucher_sim" --port 0 --catalogue "$ROOT/sim/data/catalogue.json" --quiet > "$DIR/sim.out" 2>&1 &
SIM=$!
trap 'kill $SIM 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  grep -q "listening on" "$DIR/sim.out" 2>/dev/null && break
  sleep 0.05
done
PORT=$(sed -n 's/.*listening on \([0-9]*\).*/\1/p' "$DIR/sim.out" | head -n 1)
[ -n "$PORT" ] || { echo "the voucher simulator did not start"; cat "$DIR/sim.out"; exit 1; }
SIMURL=http://127.0.0.1:$PORT

cat > "$DIR/libZumvoPayment.ini" <<INI
[Settings]
SOAPServer=$SIMURL
SOAPUrl=/pos/services/PosService
SOAPID=zumvo
SOAPPWD=zumvo-secret
ZumvoStoreID=401
AdviceRetryAttempts=5
AdviceRetryIntervalSeconds=0
INI
cat > "$DIR/host.ini" <<INI
[Host]
StoreID=12
TillID=1
[Headless]
Transcript=transcript.txt
[Rest]
ConnectTimeoutMs=1000
RequestTimeoutMs=2000
[Database]
File=host.db
DemoData=1
[Access]
User=Demo
INI
cat > "$DIR/sale.json" <<'JSON'
{"name": "a sale paid with PAY-100", "steps": [
  {"step": "add", "code": "BREAD", "description": "Bread", "price": 12.50},
  {"step": "voucher"},
  {"step": "type", "control": "txtVoucherCode", "text": "PAY-100"},
  {"step": "click", "control": "btnCheck"},
  {"step": "click", "control": "btnOK"},
  {"step": "click", "control": "btnDone"},
  {"step": "complete"}]}
JSON
HOST=(--headless --config "$DIR/host.ini" --module "$DIR/libZumvoPayment.so")
ledger() {
  curl -s "$SIMURL/ledger" | sed 's/"adviceLog":\[[^]]*\]//g' | grep -o '"tvTrxId":[0-9][0-9]*\|"code":"[^"]*"\|"trxId":"[^"]*"\|"state":"[a-z]*"' |
    paste - - - - | tr -d '"' | sed 's/^/  /'
}
# Tab-separated lines as aligned columns.
table() {
  awk -F'\t' '{ t[NR] = $0; k[NR] = NF
                 if (NF > 1) for (i = 1; i <= NF; i++) { c[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } }
               END { for (j = 1; j <= NR; j++) {
                       if (k[j] < 2) { print "  " t[j]; continue }
                       line = "  "
                       for (i = 1; i <= k[j]; i++) line = line sprintf("%-" (w[i] + 2) "s", c[j, i])
                       print line } }'
}

"$BIN/BackOffice" "${HOST[@]}" --upgrade-db > /dev/null 2>&1
echo "== Held funds: a sale whose FINALISE advice is dropped"
curl -s -X POST -d '{"fault": "drop", "request": "advise"}' "$SIMURL/faults" > /dev/null
"$BIN/Invoicing" "${HOST[@]}" --scenario "$DIR/sale.json" > /dev/null 2>&1
grep "^FINALISE\|^COMPLETE" "$DIR/transcript.txt" | sed 's/^/  /'
echo "The provider's ledger: the money is still held"
ledger
echo
echo "== BackOffice --held-funds"
"$BIN/BackOffice" "${HOST[@]}" --held-funds 2>/dev/null | table
echo
echo "== The provider answers again; BackOffice --held-funds retry"
curl -s -X POST -d "" "$SIMURL/faults/clear" > /dev/null
"$BIN/BackOffice" "${HOST[@]}" --held-funds retry 2>/dev/null | table
echo "The provider's ledger: settled once"
ledger
