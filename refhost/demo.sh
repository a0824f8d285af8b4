#!/usr/bin/env bash
# The demo, headless on this machine (or with the till window: demo.sh BIN_DIR --gui):
#  1. the voucher service and brand service simulators start on free loopback ports;
#  2. BackOffice loads the module from a demo folder and upgrades the demo database with the
#     module's scripts (run twice: the second pass changes nothing), then refreshes the brands;
#  3. Invoicing runs the demo sales (refhost/demo/scenarios) through the real payment screen:
#     each sale's steps, the messages and answers, the receipt with its Zumvo block, the cash-up
#     entries;
#  4. the provider's ledger beside the module's transactions, BackOffice's report of the day's
#     baskets, where the pictures were written, and the module's log (its version first).
set -euo pipefail
BIN=${1:?usage: demo.sh BIN_DIR [--gui]}
GUI=0
[ "${2:-}" = "--gui" ] && GUI=1
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
# The demo's folder (ZUMVO_DEMO_DIR: another one, as the T-SQL grammar check uses)
DEMO=${ZUMVO_DEMO_DIR:-$(dirname "$BIN")/demo}
rm -rf "$DEMO"
mkdir -p "$DEMO"
cp "$BIN/libZumvoPayment.so" "$DEMO/"
cp "$HERE/demo/host.ini" "$DEMO/host.ini"

PIDS=()
trap 'for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT
# start_sim NAME PROGRAM ARGS...: starts a simulator on a free port and sets PORT.
start_sim() {
  local name=$1 out="$DEMO/$1.out"
  shift
  "$@" --port 0 > "$out" 2> "$DEMO/$name.log" &
  PIDS+=($!)
  for _ in $(seq 1 100); do
    grep -q "listening on" "$out" 2>/dev/null && break
    sleep 0.05
  done
  PORT=$(sed -n 's/.*listening on \([0-9]*\).*/\1/p' "$out" | head -n 1)
  [ -n "$PORT" ] || { echo "the $name simulator did not start:"; cat "$out" "$DEMO/$name.log"; exit 1; }
}
start_sim brand_sim "$BIN/zumvo_brand_sim" --brands "$ROOT/sim/data/brands.json"
BRAND_PORT=$PORT
start_sim voucher_sim "$BIN/zumvo_voucher_sim" --catalogue "$ROOT/sim/data/catalogue.json" \
  --api-id pallux-demo --api-password demo-secret
VOUCHER_PORT=$PORT

sed -e "s|@BRAND_URL@|http://127.0.0.1:$BRAND_PORT|" -e "s|@SOAP_SERVER@|http://127.0.0.1:$VOUCHER_PORT|" \
  "$HERE/demo/libZumvoPayment.ini" > "$DEMO/libZumvoPayment.ini"
HOST=(--headless --config "$DEMO/host.ini" --module "$DEMO/libZumvoPayment.so")

echo "== Version: $("$BIN/Invoicing" --version)"
echo "== Simulators: voucher service on port $VOUCHER_PORT, brand service on port $BRAND_PORT"
echo
echo "== BackOffice --upgrade-db (the module's schema scripts, twice)"
"$BIN/BackOffice" "${HOST[@]}" --upgrade-db
"$BIN/BackOffice" "${HOST[@]}" --upgrade-db | head -n 1

echo
echo "== BackOffice --refresh-brands"
"$BIN/BackOffice" "${HOST[@]}" --refresh-brands

if [ "$GUI" = 1 ]; then
  echo
  echo "== Invoicing: the till window (close it to end the demo)"
  echo "   Ring up a line (code, price, Add), press Voucher and type a demo code:"
  echo "   PAY-100, SPLIT-20, VSP-10, GIFT-200, DISC-5, LOYAL-1; BLOCKED and OLD-1 are refused."
  "$BIN/Invoicing" --config "$DEMO/host.ini" --module "$DEMO/libZumvoPayment.so"
  exit 0
fi

failed=0
for scenario in "$HERE"/demo/scenarios/*.json; do
  echo
  echo "== Sale: $(basename "$scenario")"
  # The transcript as the till writes it, without the payment events and clicks' echo.
  if ! "$BIN/Invoicing" "${HOST[@]}" --scenario "$scenario" 2> "$DEMO/invoicing.err" |
    grep -v -e '^EVENT: ' -e '^CLICK: ' | sed 's/^/  /'; then
    failed=1
  fi
  grep -v -e "propagateSizeHints" -e "XDG_RUNTIME_DIR" "$DEMO/invoicing.err" | sed 's/^/  /' || true
done

echo
echo "== The provider's ledger beside the module's transactions"
python3 "$HERE/demo/ledger.py" "$VOUCHER_PORT" "$DEMO/host.db" "$(sed -n 's/^StoreID=//p' "$DEMO/host.ini")" ||
  failed=1

echo
echo "== BackOffice --report today: the module's report of today's baskets"
REPORT=$("$BIN/BackOffice" "${HOST[@]}" --report today 2> "$DEMO/backoffice.err") || {
  failed=1
  cat "$DEMO/backoffice.err"
}
echo "$REPORT"
PAGE=${REPORT#Report page: }
[ -f "$PAGE" ] && python3 "$HERE/demo/page_text.py" "$PAGE" | sed 's/^/  /'

echo
echo "== Invoices and payments in the host database"
sqlite3 -column -header "$DEMO/host.db" \
  "SELECT I.InvoiceNum, I.STATUS, I.AFTERDISC, group_concat(P.PaymentType || ' ' || printf('%.2f', P.Amount), ', ') AS Payments
   FROM INVOICES I LEFT JOIN InvoicesPayment P ON P.InvoiceNum = I.InvoiceNum GROUP BY I.InvoiceNum"

echo
echo "== Pictures of the till and of the payment screen in it (PNG, 1024 x 768)"
ls "$DEMO"/screenshots/*.png

echo
LOG=$(ls "$DEMO"/libZumvoPayment*.log)
echo "== The module's log next to the module: $LOG ($(grep -c . "$LOG") lines); the till's transcript: $DEMO/transcript.txt"
tr -d '\r' < "$LOG" | grep -v "^====" | cut -c 25- | sed -n '1,8p' | sed 's/^/  /'

echo
"$HERE/demo/held_funds.sh" "$BIN" "$DEMO" || failed=1
exit $failed
