#!/usr/bin/env python3
"""Prints the voucher simulator's ledger beside the module's transaction rows.

usage: ledger.py PORT DATABASE STOREID

A row and a ledger entry belong together when the entry's trxId is the row's transaction
reference ("<store>-<row ID>"). Each row status allows these ledger states: 1 redeemed: held;
2 finalised: settled; -1 cancelled: released or no entry; 0 started: no entry or released;
-2 / -3 (finalise / cancel failed): held or settled. Exit code 1 when they disagree.
"""
import json
import sqlite3
import sys
import urllib.request

STATUS = {0: "Started", 1: "Redeemed", 2: "Finalised", -1: "Cancelled", -2: "FinaliseFailed",
          -3: "CancelFailed"}
ALLOWED = {0: {None, "released"}, 1: {"held"}, 2: {"settled"}, -1: {None, "released"},
           -2: {"held", "settled"}, -3: {"held", "settled"}}


def main():
    port, database, store = sys.argv[1], sys.argv[2], sys.argv[3]
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/ledger", timeout=10) as answer:
        ledger = {e["trxId"]: e for e in json.load(answer)}
    db = sqlite3.connect(database)
    rows = db.execute("SELECT [ID], [BasketID], [Status], [tvTrxID], [Amount], [InvoiceNum], [Response] "
                      "FROM [ZumvoPaymentTransactions] ORDER BY [ID]").fetchall()
    print(f"{'trxId':<7} {'code':<10} {'tvTrxId':>7} {'cents':>6}  {'ledger':<9} {'module row':<17} "
          f"{'basket':>6} {'invoice':>7}  check")
    bad = 0
    seen = set()
    for row_id, basket, status, tv, amount, invoice, response in rows:
        ref = f"{store}-{row_id}"
        entry = ledger.get(ref)
        seen.add(ref)
        state = entry["state"] if entry else None
        code = entry["code"] if entry else (json.loads(response).get("Zumvo", "") if response else "")
        ok = state in ALLOWED.get(status, set()) and (entry is None or str(entry["tvTrxId"]) == str(tv))
        bad += not ok
        module = f"{status} {STATUS.get(status, '?')}"
        cents = str(entry["amount"]) if entry else "-"
        print(f"{ref:<7} {code:<10} {str(tv or '-'):>7} {cents:>6}  "
              f"{state or '-':<9} {module:<17} {basket:>6} "
              f"{str(invoice or '-'):>7}  {'agree' if ok else 'DISAGREE'}")
    for ref, entry in ledger.items():
        if ref not in seen and entry["state"] in ("held", "settled"):
            bad += 1
            print(f"{ref:<7} {entry['code']:<10} {entry['tvTrxId']:>7} {entry['amount']:>6}  "
                  f"{entry['state']:<9} {'(no row)':<17} {'':>6} {'':>7}  DISAGREE")
    if bad:
        print(f"{bad} disagreement(s) between the module and the provider")
        return 1
    print("The module and the provider agree: nothing held that the module thinks settled or given back.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
