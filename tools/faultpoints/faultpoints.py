#!/usr/bin/env python3
"""The fault-point enumeration: every statement and every provider request of scripted sales
failed one at a time, each followed by the next day and the three-way reconciliation.

For each scripted sale a clean run first counts the sale's statements (the database script
service's trace, ZUMVO_FAULT_TRACE) and its provider requests (a pass-through rule of the voucher
simulator that records each request). Then, for every statement index N of the sale, the sale runs
again on a fresh database and ledger with statement N refused as a lock past the busy time-out
refuses it (ZUMVO_FAULT_REFUSE_AT=N), and once more with the till killed at N
(ZUMVO_FAULT_KILL_AT=N); for every provider request K, with request K dropped, carried out late
after its connection dropped, and answered with HTTP 500. After each point comes the next day:
every driver's invoice still open is cashed up, the back office's held-funds retry runs with
AbandonedAfterMinutes=0, and `zumvo_reconcile` compares the provider's ledger, the module's rows
and held-funds list and the host's invoices.

Prints the points tried per sale and per fault kind and every discrepancy (sale, fault kind,
index, the statement or request, what the reconciliation said), each marked when it belongs to
a money fault known and not mended yet (known_open.json). Exit code 0 when every point
reconciles or its discrepancy is a known open fault, 1 when another point does not reconcile, 2
when the set-up or a clean run fails.

    faultpoints.py --bin build/bin [--sale NAME ...] [--kind KIND ...] [--jobs 2] [--quick]
"""

import argparse
import collections
import json
import os
import queue
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "soak"))
from soak import Simulator, STORE, PROVIDER_STORE  # noqa: E402  the soak's simulator driver

CATALOGUE = os.path.join(HERE, "..", "soak", "catalogue.json")
KNOWN_OPEN = os.path.join(HERE, "known_open.json")


def describe_request(struck):
    """A request as the simulator's list of struck faults names it: "transaction PAY-7",
    "advise REVERSE ONCE-50"."""
    action = struck.get("action", "") + " " if struck["request"] != "transaction" else ""
    return "%s %s%s" % (struck["request"], action, struck.get("code", ""))


def code_steps(*codes, leave_last=False):
    steps = [{"step": "voucher"}]
    for code in codes:
        steps += [{"step": "type", "control": "txtVoucherCode", "text": code},
                  {"step": "click", "control": "btnCheck"},
                  {"step": "click", "control": "btnOK"}]
    if leave_last:
        steps.pop()  # the last code's answer stays on the screen: Done gives it back
    return steps


def line(code, desc, price, quantity=1):
    return {"step": "add", "code": code, "description": desc, "price": price, "quantity": quantity}


# The scripted sales: (name, what it is, set-up steps run cleanly before, the sale's steps).
# A set-up whose sale completes an invoice gives the sale its number as "{invoice}".
SALES = [
    ("codes", "paid whole by codes",
     None,
     [line("BREAD", "Bread", 3.05), line("WINE", "Wine", 19.99)] + code_steps("PAY-7", "PAY-100") +
     [{"step": "click", "control": "btnDone"}, {"step": "complete"}]),
    ("split", "split with cash",
     None,
     [line("COFFEE", "Coffee beans", 12.15, 2)] + code_steps("SPLIT-15") +
     [{"step": "click", "control": "btnDone"}, {"step": "pay", "tender": "Cash", "amount": 1.01},
      {"step": "pay", "tender": "Cash"}, {"step": "complete"}]),
    ("line-change", "a line changed after a code",
     None,
     [line("CHEESE", "Cheese", 7.45)] + code_steps("PAY-100") +
     [{"step": "click", "control": "btnDone"}, line("MILK", "Milk", 1.01),
      {"step": "pay", "tender": "Cash"}, {"step": "complete"}]),
    ("cancel", "cancelled after a code",
     None,
     [line("PIZZA", "Pizza", 14.51)] + code_steps("PAY-7") +
     [{"step": "click", "control": "btnDone"}, {"step": "cancel"}]),
    ("left-on-screen", "a code left on the screen for Done to give back",
     None,
     [line("BOOK", "Cook book", 40.05)] + code_steps("PAY-7", "ONCE-50", leave_last=True) +
     [{"step": "click", "control": "btnDone"}, {"step": "pay", "tender": "Cash"}, {"step": "complete"}]),
    ("discount", "a discount code only",
     None,
     [line("CHEESE", "Cheese", 7.45)] + code_steps("DISC-5") +
     [{"step": "click", "control": "btnDone"}, {"step": "pay", "tender": "Cash"}, {"step": "complete"}]),
    ("delivery", "a driver's invoice with its cash-up",
     None,
     [line("PIZZA", "Pizza", 14.51), line("PEN", "Pen", 2.11)] + code_steps("VSP-10") +
     [{"step": "click", "control": "btnDone"}, {"step": "complete", "driver": True},
      {"step": "cashup", "invoice": "{self}"}]),
    ("override", "a driver's invoice recalled and overridden",
     [line("PIZZA", "Pizza", 18.05)] + code_steps("SPLIT-20") +
     [{"step": "click", "control": "btnDone"}, {"step": "complete", "driver": True}],
     [{"step": "recall", "invoice": "{invoice}"}, {"step": "override"}]),
]
SALE_NAMES = [s[0] for s in SALES]
STATEMENT_KINDS = ["refused", "killed"]
REQUEST_KINDS = ["dropped", "late", "http500"]
KINDS = STATEMENT_KINDS + REQUEST_KINDS
REQUEST_RULES = {"dropped": {"fault": "drop"}, "late": {"fault": "late", "ms": 400},
                 "http500": {"fault": "http500"}}

# The quick subset (for the test suite): on every sale, the statements that write its money (the
# first of each kind, found by its text) and the first and last provider request.
QUICK_STATEMENTS = [r"^INSERT INTO \[ZumvoPaymentTransactions\]",
                    r"^UPDATE \[ZumvoPaymentTransactions\] SET .*\[Status\] = 1\b",
                    r"^UPDATE \[ZumvoPaymentTransactions\] SET .*\[Status\] = 2\b",
                    r"^UPDATE \[ZumvoPaymentTransactions\] SET .*\[Status\] = -1\b",
                    r"^UPDATE \[ZumvoPaymentTransactions\] SET .*\[Status\] = -2\b",
                    r"^UPDATE \[ZumvoPaymentTransactions\] SET .*\[Status\] = -3\b",
                    r"^UPDATE \[ZumvoPaymentBasket\] SET \[InvoiceNum\]"]


class Run:
    """One point's folder: a till, the back office, a fresh copy of the prepared database."""

    def __init__(self, enum, folder, sim):
        self.enum = enum
        self.folder = folder
        self.sim = sim
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for f in os.listdir(enum.template):
            src = os.path.join(enum.template, f)
            if os.path.isfile(src):
                shutil.copy(src, folder)
        for role in ("till", "backoffice"):
            d = os.path.join(folder, role)
            os.makedirs(d)
            enum.link_module(d)
            self.write_settings(role, {})
            with open(os.path.join(d, "host.ini"), "w") as f:
                f.write("[Host]\nStoreID=%d\nTillID=1\n[Headless]\nTranscript=transcript.txt\n"
                        "[Rest]\nConnectTimeoutMs=1000\nRequestTimeoutMs=1000\nMaxAnswerKB=256\n"
                        "[Database]\nFile=../host.db\nDemoData=1\n[Access]\nUser=%s\n"
                        % (STORE, "Manager" if role == "backoffice" else "Till1"))
        self.count = 0

    def write_settings(self, role, extra):
        settings = {"SOAPServer": "http://127.0.0.1:%d" % self.sim.port, "SOAPUrl": "/pos/services/PosService",
                    "SOAPID": "zumvo", "SOAPPWD": "zumvo-secret", "ZumvoStoreID": str(PROVIDER_STORE),
                    "AdviceRetryAttempts": "5", "AdviceRetryIntervalSeconds": "0"}
        settings.update(extra)
        with open(os.path.join(self.folder, role, "libZumvoPayment.ini"), "w") as f:
            f.write("[Settings]\n" + "".join("%s=%s\n" % kv for kv in settings.items()))

    def host(self, program, role, extra, name, env=None, timeout=120):
        d = os.path.join(self.folder, role)
        self.count += 1
        out = os.path.join(self.folder, "%02d-%s.txt" % (self.count, name))
        full_env = dict(os.environ)
        for k in list(full_env):
            if k.startswith("ZUMVO_FAULT_"):
                del full_env[k]
        full_env["QT_QPA_PLATFORM"] = "offscreen"
        full_env.update(env or {})
        args = [os.path.join(self.enum.bin, program), "--headless", "--config", os.path.join(d, "host.ini"),
                "--module", os.path.join(d, "libZumvoPayment.so")] + extra
        with open(out, "w") as f:
            try:
                status = subprocess.run(args, stdout=f, stderr=subprocess.STDOUT, timeout=timeout,
                                        env=full_env).returncode
            except subprocess.TimeoutExpired:
                status = "timed out"
        with open(out, errors="replace") as f:
            text = f.read()
        return status, text

    def scenario(self, name, steps, env=None):
        path = os.path.join(self.folder, name + ".json")
        with open(path, "w") as f:
            json.dump({"name": name, "cashier": "Till1", "timeoutMs": 5000, "steps": steps}, f)
        return self.host("Invoicing", "till", ["--scenario", path], name, env)

    def open_deliveries(self):
        """The driver's invoices not cashed up: every invoice of a sale that completes driver's
        invoices, neither overridden nor cashed up (read from the database: a killed till's output
        may end before it says what it completed)."""
        con = sqlite3.connect(os.path.join(self.folder, "host.db"), timeout=30)
        try:
            return [r[0] for r in con.execute(
                "SELECT InvoiceNum FROM INVOICES WHERE STATUS = 0 AND InvoiceNum NOT IN "
                "(SELECT InvoiceNum FROM DriverCashup) ORDER BY InvoiceNum")]
        finally:
            con.close()

    def next_day_and_reconcile(self, driver):
        """The next day (open deliveries cashed up, the held-funds retry), then the check.
        driver: whether the sale's invoices are driver's invoices."""
        self.sim.call("POST", "/faults/clear")
        for role in ("till", "backoffice"):
            self.write_settings(role, {"AbandonedAfterMinutes": "0"})
        for invoice in self.open_deliveries() if driver else []:
            self.scenario("nextday-cashup-%d" % invoice, [{"step": "cashup", "invoice": invoice}])
        status, listing = self.host("BackOffice", "backoffice", ["--held-funds", "retry"], "retry")
        listing_file = os.path.join(self.folder, "held_funds.txt")
        with open(listing_file, "w") as f:
            f.write(listing)
        ledger = self.sim.call("GET", "/ledger")
        ledger_file = os.path.join(self.folder, "ledger.json")
        with open(ledger_file, "w") as f:
            json.dump(ledger, f, indent=1)
        args = [os.path.join(self.enum.bin, "zumvo_reconcile"), "--db", os.path.join(self.folder, "host.db"),
                "--store", str(STORE), "--ledger", ledger_file]
        if status == 0 and "Transaction\tBasket\t" in listing:
            args += ["--held-funds", listing_file]
        result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        lines = [l for l in result.stdout.splitlines() if l and not l.startswith("reconciled ")]
        if status != 0:
            lines.append("BackOffice --held-funds retry ended with status %s" % status)
        if result.returncode not in (0, 1):
            lines.append("zumvo_reconcile could not run: " + result.stdout.strip())
        return lines


class Enumerator:
    def __init__(self, args):
        self.args = args
        self.bin = os.path.abspath(args.bin)
        self.work = os.path.abspath(args.work)
        os.makedirs(self.work, exist_ok=True)
        self.template = os.path.join(self.work, "template")
        self.lock = threading.Lock()
        self.results = []        # (sale, kind, index, what, lines)
        self.points_done = 0

    def link_module(self, folder):
        src = os.path.join(self.bin, "libZumvoPayment.so")
        dst = os.path.join(folder, "libZumvoPayment.so")
        try:
            os.link(src, dst)
        except OSError:
            shutil.copy(src, dst)

    def prepare(self, sim):
        """The database every point starts from: the host's tables and the module's, nothing else."""
        shutil.rmtree(self.template, ignore_errors=True)
        os.makedirs(self.template)
        run = Run(self, os.path.join(self.work, "prepare"), sim)
        status, output = run.host("BackOffice", "backoffice", ["--upgrade-db"], "upgrade")
        if status != 0:
            raise RuntimeError("BackOffice --upgrade-db failed:\n" + output)
        for f in os.listdir(run.folder):
            if f.startswith("host.db"):
                shutil.copy(os.path.join(run.folder, f), self.template)

    # ---- one point ----

    def run_point(self, sim, sale, kind, index, folder, trace=None):
        """Runs the sale with one fault (kind None: none); answers the Run and the sale's output."""
        name, _, setup, steps = sale
        sim.call("POST", "/faults/clear")
        sim.call("POST", "/ledger/reset")
        sim.call("POST", "/settings", {"reversalMemory": True})
        run = Run(self, folder, sim)
        invoice = None
        if setup:
            status, text = run.scenario("setup", setup)
            m = re.search(r"COMPLETE: invoice (\d+)", text)
            if "SCENARIO: passed" not in text or not m:
                raise RuntimeError("the set-up of sale %s failed (%s):\n%s" % (name, folder, text[-2000:]))
            invoice = int(m.group(1))
        env = {}
        if trace:
            env["ZUMVO_FAULT_TRACE"] = trace
        if kind == "refused":
            env["ZUMVO_FAULT_REFUSE_AT"] = str(index)
        elif kind == "killed":
            env["ZUMVO_FAULT_KILL_AT"] = str(index)
        elif kind in REQUEST_RULES:
            rules = []
            if index > 1:
                rules.append({"fault": "delay", "ms": 0, "count": index - 1})  # the earlier ones pass
            rules.append(dict(REQUEST_RULES[kind], count=1))
            sim.call("POST", "/faults", rules)
        elif kind == "requests":
            sim.call("POST", "/faults", [{"fault": "delay", "ms": 0}])  # passes every request, recorded
        text_steps = json.loads(json.dumps(steps).replace('"{invoice}"', str(invoice)))
        status, text = run.scenario("sale", self.resolve_self(text_steps), env)
        if kind == "late":
            # the late request is carried out before the next day, never during another point's
            time.sleep(REQUEST_RULES["late"]["ms"] / 1000.0 + 0.3)
        struck = sim.call("GET", "/faults/struck")
        return run, status, text, struck

    @staticmethod
    def is_driver(sale):
        return any(s.get("driver") for s in (sale[2] or []) + sale[3])

    @staticmethod
    def resolve_self(steps):
        # "{self}": the invoice the same scenario completed; the cash-up step then names none
        return [{k: v for k, v in s.items() if not (k == "invoice" and v == "{self}")} for s in steps]

    def baseline(self, sim, sale):
        """The sale without a fault: its statements and its provider requests."""
        folder = os.path.join(self.work, sale[0], "clean")
        trace = os.path.join(self.work, sale[0], "statements.jsonl")
        os.makedirs(os.path.dirname(trace), exist_ok=True)
        if os.path.exists(trace):
            os.remove(trace)
        run, status, text, struck = self.run_point(sim, sale, "requests", 0, folder, trace)
        statements = []
        with open(trace, errors="replace") as f:
            for l in f:
                statements.append(json.loads(l)["sql"])
        requests = [describe_request(s) for s in struck]
        lines = run.next_day_and_reconcile(self.is_driver(sale))
        if "SCENARIO: passed" not in text or lines:
            raise RuntimeError("the clean run of sale %s did not pass (%s):\n%s\n%s" % (
                sale[0], folder, "\n".join(lines), text[-3000:]))
        return statements, requests

    # ---- the enumeration ----

    def points(self, sale, statements, requests):
        kinds = self.args.kind or KINDS
        out = []
        if self.args.quick:
            wanted = set()
            for pattern in QUICK_STATEMENTS:
                for i, sql in enumerate(statements, 1):
                    if re.search(pattern, sql, re.I):
                        wanted.add(i)
                        break
            statement_indices = sorted(wanted)
            request_indices = sorted({1, len(requests)}) if requests else []
        else:
            statement_indices = range(1, len(statements) + 1)
            request_indices = range(1, len(requests) + 1)
        for kind in kinds:
            if kind in STATEMENT_KINDS:
                out += [(sale, kind, i, statements[i - 1]) for i in statement_indices]
            elif not self.args.quick or kind != "late":
                out += [(sale, kind, i, requests[i - 1]) for i in request_indices]
        return out

    def worker(self, jobs, number):
        sim = Simulator(os.path.join(self.bin, "zumvo_voucher_sim"), CATALOGUE, self.work_folder(number))
        try:
            while True:
                try:
                    sale, kind, index, what = jobs.get_nowait()
                except queue.Empty:
                    return
                folder = os.path.join(self.work, sale[0], "%s-%03d" % (kind, index))
                try:
                    run, status, text, struck = self.run_point(sim, sale, kind, index, folder)
                    with open(os.path.join(folder, "struck.json"), "w") as f:
                        json.dump(struck, f, indent=1)
                    lines = run.next_day_and_reconcile(self.is_driver(sale))
                    if kind in REQUEST_RULES:
                        # the point is the request the clean run made K-th: say so when the fault
                        # found another one (the sale took another path before it)
                        hit = [describe_request(s) for s in struck if s["fault"] != "delay"]
                        if hit != [what]:
                            lines.append("the fault struck %s, not the clean run's request %d (%s)" % (
                                " and ".join(hit) or "no request", index, what))
                except Exception as e:  # a point that cannot be judged is reported, not skipped
                    lines = ["the point could not be run: %s" % e]
                with self.lock:
                    self.results.append((sale[0], kind, index, what, lines, folder))
                    self.points_done += 1
                    if lines:
                        print("  DISCREPANCY %s %s %d: %s" % (sale[0], kind, index, lines[0]), flush=True)
                    elif not self.args.keep:
                        shutil.rmtree(folder, ignore_errors=True)
                    if self.points_done % 25 == 0:
                        print("  %d points done" % self.points_done, flush=True)
        finally:
            sim.stop()

    def work_folder(self, number):
        d = os.path.join(self.work, "worker-%d" % number)
        os.makedirs(d, exist_ok=True)
        return d

    def run(self):
        started = time.time()
        sales = [s for s in SALES if s[0] in (self.args.sale or SALE_NAMES)]
        sim = Simulator(os.path.join(self.bin, "zumvo_voucher_sim"), CATALOGUE, self.work_folder(0))
        try:
            self.prepare(sim)
            jobs = queue.Queue()
            counts = {}
            for sale in sales:
                statements, requests = self.baseline(sim, sale)
                counts[sale[0]] = (len(statements), len(requests))
                print("sale %-15s %3d statements, %d provider requests (%s)" % (
                    sale[0], len(statements), len(requests), sale[1]), flush=True)
                for p in self.points(sale, statements, requests):
                    jobs.put(p)
        finally:
            sim.stop()
        total = jobs.qsize()
        print("%d points on %d worker(s)" % (total, self.args.jobs), flush=True)
        threads = [threading.Thread(target=self.worker, args=(jobs, n + 1)) for n in range(self.args.jobs)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        return self.report(sales, counts, time.time() - started)

    @staticmethod
    def load_known():
        with open(KNOWN_OPEN) as f:
            return json.load(f)["faults"]

    @staticmethod
    def known_fault(known, sale, kind, what):
        """The known open fault a discrepancy at this point belongs to, or None."""
        for n, k in enumerate(known):
            if re.search(k["sales"], sale) and kind in k["kinds"] and re.search(k["match"], what):
                return n
        return None

    def report(self, sales, counts, elapsed):
        tried = collections.Counter((r[0], r[1]) for r in self.results)
        failed = collections.Counter((r[0], r[1]) for r in self.results if r[4])
        kinds = [k for k in KINDS if any(k == r[1] for r in self.results)]
        print()
        print("points tried (discrepancies) per sale and fault kind:")
        print("  %-15s %10s" % ("sale", "stmts/reqs") + "".join(" %12s" % k for k in kinds) + " %8s" % "total")
        for sale in sales:
            n = sale[0]
            print("  %-15s %10s" % (n, "%d/%d" % counts[n]) + "".join(
                " %12s" % ("%d (%d)" % (tried[(n, k)], failed[(n, k)])) for k in kinds) +
                " %8d" % sum(tried[(n, k)] for k in kinds))
        print("  %-15s %10s" % ("total", "") + "".join(
            " %12s" % ("%d (%d)" % (sum(tried[(s[0], k)] for s in sales), sum(failed[(s[0], k)] for s in sales)))
            for k in kinds) + " %8d" % len(self.results))
        bad = sorted((r for r in self.results if r[4]), key=lambda r: (SALE_NAMES.index(r[0]), KINDS.index(r[1]), r[2]))
        known = self.load_known()
        new = [r for r in bad if self.known_fault(known, r[0], r[1], r[3]) is None]
        print("%d points in %.0f s; %s" % (len(self.results), elapsed,
                                           "%d with discrepancies, %d of them not known:" % (len(bad), len(new))
                                           if bad else "no discrepancy"))
        for sale, kind, index, what, lines, folder in bad:
            n = self.known_fault(known, sale, kind, what)
            print("- %s, %s at %d%s: %s" % (sale, kind, index, "" if n is None else " (known open fault %d)" % (n + 1),
                                            " ".join(what.split())[:300]))
            for l in lines:
                print("    " + l)
            print("    folder: " + folder)
        seen = {self.known_fault(known, r[0], r[1], r[3]) for r in bad}
        if known:
            print("known open faults (tools/faultpoints/known_open.json):")
            for n, k in enumerate(known):
                print("  %d. [%s] %s" % (n + 1, "seen" if n in seen else "not seen in this run", k["fault"]))
        with open(os.path.join(self.work, "results.json"), "w") as f:
            json.dump([{"sale": r[0], "kind": r[1], "index": r[2], "what": r[3], "discrepancies": r[4]}
                       for r in self.results], f, indent=1)
        if new:
            print("FAILED: %d points with discrepancies that no known open fault explains" % len(new))
        return 1 if new else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", default="build/bin", help="the build's bin folder")
    parser.add_argument("--work", default=None, help="folder for the run (default: a new temporary folder)")
    parser.add_argument("--sale", action="append", choices=SALE_NAMES, help="only this sale (repeatable)")
    parser.add_argument("--kind", action="append", choices=KINDS, help="only this fault kind (repeatable)")
    parser.add_argument("--jobs", type=int, default=2, help="points run at the same time (default 2)")
    parser.add_argument("--quick", action="store_true",
                        help="the fixed small subset: on every sale the statements that write its money and "
                             "the first and last request")
    parser.add_argument("--keep", action="store_true", help="keep the folders of points that reconciled")
    args = parser.parse_args()
    if args.jobs < 1:
        parser.error("--jobs must be at least 1")
    for program in ("zumvo_voucher_sim", "Invoicing", "BackOffice", "zumvo_reconcile", "libZumvoPayment.so"):
        if not os.path.exists(os.path.join(args.bin, program)):
            parser.error("%s is missing from %s (build first)" % (program, args.bin))
    args.work = args.work or tempfile.mkdtemp(prefix="zumvo_faultpoints_")
    print("fault points: work folder %s" % args.work, flush=True)
    try:
        return Enumerator(args).run()
    except RuntimeError as e:
        print("FAILED: %s" % e)
        return 2


if __name__ == "__main__":
    sys.exit(main())
