#!/usr/bin/env python3
"""The chaos soak: random sales on several tills sharing one database, while random faults strike.

Starts the voucher simulator, prepares two or three tills (each its own module folder and
settings, one shared SQLite database) and the back office, and runs rounds: in each round every
till rings up one random sale (`Invoicing --headless --scenario`, processes in parallel) while
random faults strike the provider (delay, drop, late, HTTP 500, SOAP fault, malformed, truncated,
missing response, oversized, inflated and refused answers, on the Transaction and on the advices,
with or without the provider's reversal memory), the database (write-locked by another process),
a till (SIGKILL at a random moment) and the settings files (edited). Between rounds the back
office's held-funds retry runs. At the end comes the "next day": every driver's invoice still
open is cashed up, abandoned sales are given back (AbandonedAfterMinutes=0) and the retry runs
once more. Then the three-way reconciliation (`zumvo_reconcile`, the C++ check the test suites
use) must find no discrepancy.

Every random choice comes from the seed, which is printed; timing between processes is not
(the same seed replays the same plan). On a failure the soak prints the reconciliation lines
and, for each sale they involve, its steps, the faults struck in its round and what else struck.

    soak.py --bin build/bin --sales 100 --seed 7 [--seed 8 ...] [--tills 3] [--work DIR]
"""

import argparse
import collections
import json
import os
import random
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

STORE = 12            # the host store: transaction references are "12-<row>"
PROVIDER_STORE = 17   # ZumvoStoreID
HERE = os.path.dirname(os.path.abspath(__file__))

# What a request may suffer; weights favour the faults that leave money in doubt.
PROVIDER_FAULTS = [
    ("delay", 3), ("drop", 3), ("late", 4), ("http500", 2), ("soapFault", 1), ("malformed", 2),
    ("truncated", 1), ("missingResponse", 1), ("oversized", 1), ("inflated", 3), ("refused", 3),
]

LINES = [("BREAD", "Bread", 3.05), ("MILK", "Milk", 1.01), ("COFFEE", "Coffee beans", 12.15),
         ("CHEESE", "Cheese", 7.45), ("WINE", "Wine", 19.99), ("PIZZA", "Pizza", 14.51),
         ("BOOK", "Cook book", 40.05), ("PEN", "Pen", 2.11)]
CODES = [("PAY-100", 3), ("PAY-7", 2), ("ONCE-50", 2), ("GIFT-500", 2), ("DISC-5", 2), ("SPLIT-20", 3),
         ("SPLIT-15", 2), ("LOYAL-1", 1), ("VSP-10", 2), ("BLOCKED", 1), ("OLD-1", 1)]


def weighted(rng, items):
    total = sum(w for _, w in items)
    pick = rng.uniform(0, total)
    for item, w in items:
        pick -= w
        if pick <= 0:
            return item
    return items[-1][0]


class Simulator:
    """The voucher simulator as a child process, driven over its HTTP control API."""

    def __init__(self, binary, catalogue, folder):
        self.log = open(os.path.join(folder, "simulator.log"), "w")
        self.proc = subprocess.Popen([binary, "--port", "0", "--catalogue", catalogue, "--quiet"],
                                     stdout=subprocess.PIPE, stderr=self.log, text=True)
        line = self.proc.stdout.readline()
        if not line.startswith("listening on "):
            raise RuntimeError("the voucher simulator did not start: " + line)
        self.port = int(line.split()[-1])

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path), data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(req, timeout=30) as answer:
            return json.loads(answer.read().decode())

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


class Soak:
    def __init__(self, args, seed):
        self.args = args
        self.seed = seed
        self.rng = random.Random(seed)
        self.bin = os.path.abspath(args.bin)
        self.folder = os.path.join(os.path.abspath(args.work), "seed-%d" % seed)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.db = os.path.join(self.folder, "host.db")
        self.sales = []          # every sale run: dict
        self.rounds = []         # per round: faults set, struck, chaos events, start/end
        self.chaos = collections.Counter()
        self.completed = {}      # till -> invoice numbers completed and not overridden
        self.deliveries = {}     # till -> driver's invoices not yet cashed up
        self.struck_seen = 0
        self.runs = 0

    # ---- set-up ----

    def prepare(self):
        self.sim = Simulator(os.path.join(self.bin, "zumvo_voucher_sim"),
                             os.path.join(HERE, "catalogue.json"), self.folder)
        self.tills = list(range(1, self.args.tills + 1))
        for till in self.tills + ["backoffice"]:
            d = self.dir(till)
            os.makedirs(d)
            shutil.copy(os.path.join(self.bin, "libZumvoPayment.so"), d)
            self.write_settings(till, {})
            with open(os.path.join(d, "host.ini"), "w") as f:
                f.write("[Host]\nStoreID=%d\nTillID=%d\n[Headless]\nTranscript=transcript.txt\n"
                        "[Rest]\nConnectTimeoutMs=1000\nRequestTimeoutMs=1000\nMaxAnswerKB=256\n"
                        "[Database]\nFile=../host.db\nDemoData=1\n[Access]\nUser=%s\n"
                        % (STORE, 1 if till == "backoffice" else till,
                           "Manager" if till == "backoffice" else "Till%d" % till))
            self.completed[till] = []
            self.deliveries[till] = []
        status, output = self.host("BackOffice", "backoffice", ["--upgrade-db"], "upgrade")
        if status != 0:
            raise RuntimeError("BackOffice --upgrade-db failed:\n" + output)

    def dir(self, till):
        return os.path.join(self.folder, "till%s" % till if till != "backoffice" else "backoffice")

    def write_settings(self, till, extra):
        settings = {"SOAPServer": "http://127.0.0.1:%d" % self.sim.port, "SOAPUrl": "/pos/services/PosService",
                    "SOAPID": "zumvo", "SOAPPWD": "zumvo-secret", "ZumvoStoreID": str(PROVIDER_STORE),
                    "AdviceRetryAttempts": "5", "AdviceRetryIntervalSeconds": "0"}
        settings.update(extra)
        with open(os.path.join(self.dir(till), "libZumvoPayment.ini"), "w") as f:
            f.write("[Settings]\n" + "".join("%s=%s\n" % kv for kv in settings.items() if kv[1] is not None))

    def host_args(self, program, till):
        d = self.dir(till)
        return [os.path.join(self.bin, program), "--headless", "--config", os.path.join(d, "host.ini"),
                "--module", os.path.join(d, "libZumvoPayment.so")]

    def host(self, program, till, extra, name, timeout=120):
        """Runs a host program to its end: exit status and output."""
        self.runs += 1
        out = os.path.join(self.dir(till), "%03d-%s.txt" % (self.runs, name))
        with open(out, "w") as f:
            try:
                status = subprocess.run(self.host_args(program, till) + extra, stdout=f, stderr=subprocess.STDOUT,
                                        timeout=timeout, env=self.env()).returncode
            except subprocess.TimeoutExpired:
                status = "timed out"
        with open(out, errors="replace") as f:
            return status, f.read()

    def start_backoffice(self, name):
        """Starts the back office's held-funds retry without waiting for it."""
        self.runs += 1
        out = os.path.join(self.dir("backoffice"), "%03d-%s.txt" % (self.runs, name))
        handle = open(out, "w")
        proc = subprocess.Popen(self.host_args("BackOffice", "backoffice") + ["--held-funds", "retry"],
                                stdout=handle, stderr=subprocess.STDOUT, env=self.env())
        return {"proc": proc, "handle": handle, "output": out}

    def finish_backoffice(self, office, timeout=120):
        try:
            status = office["proc"].wait(timeout)
        except subprocess.TimeoutExpired:
            office["proc"].kill()
            status = "timed out"
        office["handle"].close()
        with open(office["output"], errors="replace") as f:
            return status, f.read()

    @staticmethod
    def env():
        env = dict(os.environ)
        env["QT_QPA_PLATFORM"] = "offscreen"
        return env

    # ---- the random sale ----

    def codes_steps(self, count):
        steps = [{"step": "voucher"}]
        for _ in range(count):
            steps += [{"step": "type", "control": "txtVoucherCode", "text": weighted(self.rng, CODES)},
                      {"step": "click", "control": "btnCheck"},
                      {"step": "click", "control": "btnOK"}]
        # The last code's answer left on the screen, not added: Done or Cancel gives it back.
        if self.args.leave_codes and self.rng.random() < 0.3:
            steps.pop()
        return steps

    def lines(self, count):
        steps = []
        for code, desc, price in self.rng.sample(LINES, count):
            steps.append({"step": "add", "code": code, "description": desc, "price": price,
                          "quantity": self.rng.choice([1, 1, 1, 2, 3])})
        return steps

    def sale(self, till):
        kinds = [("voucher", 40), ("split", 8), ("delivery", 12), ("cancel", 10), ("screen-cancel", 5),
                 ("cash", 4)]
        overridable = self.completed[till]
        if overridable:
            kinds.append(("override", 9))
        if self.deliveries[till]:
            kinds.append(("cashup", 12))
        kind = weighted(self.rng, kinds)
        steps = []
        if kind in ("voucher", "split", "delivery", "cancel", "screen-cancel"):
            picked = self.lines(self.rng.randint(1, 3))
            steps += picked
            steps += self.codes_steps(self.rng.randint(1, 3))
            if kind == "screen-cancel":
                steps += [{"step": "click", "control": "btnCancel"}, {"step": "cancel"}]
            else:
                steps.append({"step": "click", "control": "btnDone"})
                if self.rng.random() < 0.25:  # a line change: the codes are recalculated
                    change = self.rng.choice(["add", "quantity", "remove"])
                    if change == "add" or len(picked) < 2:
                        extra = [l for l in LINES if l[0] not in {p["code"] for p in picked}][0]
                        steps.append({"step": "add", "code": extra[0], "description": extra[1], "price": extra[2]})
                    elif change == "quantity":
                        steps.append({"step": "quantity", "code": picked[0]["code"], "quantity": 4})
                    else:
                        steps.append({"step": "remove", "code": picked[-1]["code"]})
                if kind == "cancel":
                    steps.append({"step": "cancel"})
                elif kind == "delivery":
                    steps.append({"step": "complete", "driver": True})
                else:
                    if kind == "split":
                        steps.append({"step": "pay", "tender": "Cash", "amount": self.rng.choice([1.01, 2.05, 0.05])})
                    steps += [{"step": "pay", "tender": "Cash"}, {"step": "complete"}]
        elif kind == "cash":
            steps += self.lines(1) + [{"step": "pay", "tender": "Cash"}, {"step": "complete"}]
        elif kind == "override":
            invoice = self.rng.choice(overridable)
            steps += [{"step": "recall", "invoice": invoice}, {"step": "override"}]
        elif kind == "cashup":
            invoice = self.rng.choice(self.deliveries[till])
            steps += [{"step": "cashup", "invoice": invoice}]
        return kind, steps

    def start_sale(self, till, rnd, kind, steps, name=None):
        self.runs += 1
        name = name or "%03d-round%s-%s" % (self.runs, str(rnd).replace(" ", "-"), kind)
        d = self.dir(till)
        scenario = os.path.join(d, name + ".json")
        with open(scenario, "w") as f:
            json.dump({"name": name, "cashier": "Till%s" % till, "timeoutMs": 8000, "steps": steps}, f)
        out = os.path.join(d, name + ".txt")
        handle = open(out, "w")
        proc = subprocess.Popen(self.host_args("Invoicing", till) + ["--scenario", scenario], stdout=handle,
                                stderr=subprocess.STDOUT, env=self.env())
        sale = {"till": till, "round": rnd, "kind": kind, "steps": steps, "output": out, "proc": proc,
                "handle": handle, "killed": False, "started": time.time()}
        self.sales.append(sale)
        return sale

    def finish_sale(self, sale, timeout=90):
        try:
            sale["proc"].wait(timeout)
        except subprocess.TimeoutExpired:
            sale["proc"].kill()
            sale["proc"].wait()
            sale["timedOut"] = True
        sale["handle"].close()
        sale["status"] = sale["proc"].returncode
        sale["ended"] = time.time()
        del sale["proc"], sale["handle"]
        with open(sale["output"], errors="replace") as f:
            text = f.read()
        till = sale["till"]
        for m in re.finditer(r"COMPLETE: invoice (\d+) total [-0-9.]+(, driver's invoice)?", text):
            num = int(m.group(1))
            self.completed[till].append(num)
            if m.group(2):
                self.deliveries[till].append(num)
        for m in re.finditer(r"OVERRIDE: invoice (\d+) overridden", text):
            num = int(m.group(1))
            self.completed[till] = [n for n in self.completed[till] if n != num]
            self.deliveries[till] = [n for n in self.deliveries[till] if n != num]
        for m in re.finditer(r"CASHUP ENTRY: invoice (\d+)", text):
            num = int(m.group(1))
            self.deliveries[till] = [n for n in self.deliveries[till] if n != num]
        sale["passed"] = "SCENARIO: passed" in text

    # ---- the chaos ----

    def provider_fault(self):
        kind = weighted(self.rng, PROVIDER_FAULTS)
        rule = {"fault": kind, "count": self.rng.randint(1, 2)}
        if kind == "inflated":
            rule["inflate"] = self.rng.choice(["both", "total", "settle"])
            rule["cents"] = self.rng.choice([1, 5, 100, 501])
        else:
            rule["request"] = self.rng.choice(["transaction", "advise", "advise"])
        if kind == "delay":
            rule["ms"] = self.rng.choice([300, 1500, 2500])
        elif kind == "late":
            rule["ms"] = self.rng.choice([200, 800, 1500, 3000])
        elif kind == "oversized":
            rule["bytes"] = 400000
        # Carried out, but the answer is lost (or, for an advice, says refused). A Transaction
        # answered "refused" while it was carried out is a provider no till can guard against.
        lost = kind in ("drop", "http500", "soapFault", "malformed", "truncated", "missingResponse")
        if (lost or (kind == "refused" and rule.get("request") == "advise")) and self.rng.random() < 0.35:
            rule["process"] = True
        if self.rng.random() < 0.3:
            rule["code"] = weighted(self.rng, CODES)
        return rule

    def lock_database(self, seconds, events):
        def hold():
            try:
                con = sqlite3.connect(self.db, timeout=30, isolation_level=None)
                con.execute("BEGIN EXCLUSIVE")
                time.sleep(seconds)
                con.execute("COMMIT")
                con.close()
            except sqlite3.Error as e:
                events.append("the database lock failed: %s" % e)
        t = threading.Thread(target=hold)
        t.start()
        return t

    def edit_settings(self, till):
        choices = ["interval", "attempts", "abandoned", "comment"]
        if self.args.edit_store:
            choices.append("store")
        choice = self.rng.choice(choices)
        extra = {"interval": {"AdviceRetryIntervalSeconds": str(self.rng.choice([0, 1, 300]))},
                 "attempts": {"AdviceRetryAttempts": str(self.rng.choice([0, 1, 10]))},
                 "abandoned": {"AbandonedAfterMinutes": str(self.rng.choice([0, 1, 600]))},
                 "comment": {},
                 "store": {"ZumvoStoreID": str(self.rng.choice([PROVIDER_STORE, PROVIDER_STORE + 1]))}}[choice]
        self.write_settings(till, extra)
        if choice == "comment":
            with open(os.path.join(self.dir(till), "libZumvoPayment.ini"), "a") as f:
                f.write("; edited at round %d\n" % len(self.rounds))
        return "%s settings edited: %s" % ("till %s" % till, extra or "a comment")

    # ---- rounds ----

    def round(self, rnd, tills):
        info = {"round": rnd, "rules": [], "events": [], "start": time.time()}
        self.rounds.append(info)
        self.sim.call("POST", "/faults/clear")
        memory_off = self.rng.random() < 0.2 and not self.args.avoid_known_faults
        self.sim.call("POST", "/settings", {"reversalMemory": not memory_off})
        if memory_off:
            info["events"].append("the provider's reversal memory is off")
            self.chaos["reversal memory off"] += 1
        if self.rng.random() < 0.75:
            rules = [self.provider_fault() for _ in range(self.rng.randint(1, 2))]
            self.sim.call("POST", "/faults", rules)
            info["rules"] = rules
        if self.rng.random() < 0.15:
            till = self.rng.choice(self.tills)
            info["events"].append(self.edit_settings(till))
            self.chaos["settings edited"] += 1
        plan = [(till,) + self.sale(till) for till in tills]
        lock_at = self.rng.uniform(0, 0.5) if self.rng.random() < 0.15 else None
        lock_for = self.rng.choice([1, 2, 4, 12])
        if self.args.avoid_known_faults:  # 12 s outlasts the tills' busy time-out: writes are refused
            lock_for = min(lock_for, 4)
        kill_till = self.rng.choice(tills) if self.rng.random() < 0.2 else None
        kill_at = self.rng.uniform(0.05, 0.8)  # a sale takes about a second
        running = [self.start_sale(till, rnd, kind, steps) for till, kind, steps in plan]
        begun = time.time()
        lock = None
        # The back office's retry while the tills sell, judging sales abandoned after 0 or 1
        # minute: a sale still open on its till must be left to it.
        office_at = self.rng.uniform(0.1, 1.5) if self.args.concurrent_backoffice else None
        office = None
        pending = True
        while pending:
            now = time.time() - begun
            if office_at is not None and office is None and now >= office_at:
                abandoned = self.rng.choice(["0", "1"])
                self.write_settings("backoffice", {"AbandonedAfterMinutes": abandoned})
                office = self.start_backoffice("retry-during-round%s" % rnd)
                info["events"].append("held-funds retry at %.1f s while the tills sell (abandoned after %s min)"
                                      % (now, abandoned))
                self.chaos["back office during sales"] += 1
            if lock_at is not None and lock is None and now >= lock_at:
                lock = self.lock_database(lock_for, info["events"])
                info["events"].append("the database write-locked for %d s at %.1f s" % (lock_for, now))
                self.chaos["database locked"] += 1
            if kill_till is not None and now >= kill_at:
                for sale in running:
                    if sale["till"] != kill_till or sale["proc"].poll() is not None:
                        continue
                    if self.args.avoid_known_faults and completing(sale):
                        info["events"].append("till %s not killed: its sale is completing" % kill_till)
                    else:
                        sale["proc"].send_signal(signal.SIGKILL)
                        sale["killed"] = True
                        info["events"].append("till %s killed (SIGKILL) at %.1f s" % (kill_till, now))
                        self.chaos["till killed"] += 1
                kill_till = None
            pending = any(s["proc"].poll() is None for s in running)
            time.sleep(0.05)
        for sale in running:
            self.finish_sale(sale)
        if office:
            status, output = self.finish_backoffice(office)
            info["events"].append("held-funds retry during the round: " + summary_of_retry(status, output))
            self.write_settings("backoffice", {})
        if lock:
            lock.join()
        self.collect_struck(info)
        # Between rounds the back office retries, half the time while the round's faults that
        # have not struck yet are still set.
        if self.rng.random() < 0.5:
            self.sim.call("POST", "/faults/clear")
        status, output = self.host("BackOffice", "backoffice", ["--held-funds", "retry"], "retry")
        info["events"].append("held-funds retry: " + summary_of_retry(status, output))
        self.collect_struck(info)
        self.sim.call("POST", "/faults/clear")
        info["end"] = time.time()

    def collect_struck(self, info):
        struck = self.sim.call("GET", "/faults/struck")
        info.setdefault("struck", []).extend(struck[self.struck_seen:])
        self.struck_seen = len(struck)

    def next_day(self):
        info = {"round": "next day", "rules": [], "events": [], "start": time.time()}
        self.rounds.append(info)
        self.sim.call("POST", "/faults/clear")
        self.sim.call("POST", "/settings", {"reversalMemory": True})
        for till in self.tills + ["backoffice"]:
            self.write_settings(till, {"AbandonedAfterMinutes": "0"})
        # Every delivery still open is paid at its driver cash-up.
        for till in self.tills:
            for invoice in list(self.deliveries[till]):
                sale = self.start_sale(till, "next day", "cashup", [{"step": "cashup", "invoice": invoice}])
                self.finish_sale(sale)
        for attempt in range(2):
            status, output = self.host("BackOffice", "backoffice", ["--held-funds", "retry"], "final-retry")
            info["events"].append("final held-funds retry: " + summary_of_retry(status, output))
        self.collect_struck(info)
        info["end"] = time.time()

    # ---- the check ----

    def reconcile(self):
        status, listing = self.host("BackOffice", "backoffice", ["--held-funds"], "final-list")
        listing_file = os.path.join(self.folder, "held_funds_final.txt")
        with open(listing_file, "w") as f:
            f.write(listing)
        ledger = self.sim.call("GET", "/ledger")
        with open(os.path.join(self.folder, "ledger.json"), "w") as f:
            json.dump(ledger, f, indent=1)
        args = [os.path.join(self.bin, "zumvo_reconcile"), "--db", self.db, "--store", str(STORE), "--ledger",
                os.path.join(self.folder, "ledger.json")]
        if status == 0 and "Transaction\tBasket\t" in listing:
            args += ["--held-funds", listing_file]
        result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        lines = [l for l in result.stdout.splitlines() if l and not l.startswith("reconciled ")]
        summary = [l for l in result.stdout.splitlines() if l.startswith("reconciled ")]
        if status != 0:
            lines.append("BackOffice --held-funds ended with status %s" % status)
        if result.returncode not in (0, 1):
            lines.append("zumvo_reconcile could not run: " + result.stdout.strip())
        return lines, (summary[0] if summary else ""), ledger

    # ---- the report ----

    def involved_sales(self, lines):
        """The sales a discrepancy names: by row, basket or invoice, through the shared database."""
        con = sqlite3.connect(self.db, timeout=30)
        baskets = set()
        for line in lines:
            for m in re.finditer(r"\b%d-(\d+)\b" % STORE, line):
                r = con.execute("SELECT BasketID FROM ZumvoPaymentTransactions WHERE ID = ?", (int(m.group(1)),)).fetchone()
                if r and r[0] is not None:
                    baskets.add(r[0])
            for m in re.finditer(r"\brow (\d+)\b", line):
                r = con.execute("SELECT BasketID FROM ZumvoPaymentTransactions WHERE ID = ?", (int(m.group(1)),)).fetchone()
                if r and r[0] is not None:
                    baskets.add(r[0])
            for m in re.finditer(r"\bbasket (\d+)\b", line):
                baskets.add(int(m.group(1)))
            for m in re.finditer(r"\binvoice (\d+)\b", line):
                for r in con.execute("SELECT ID FROM ZumvoPaymentBasket WHERE InvoiceNum = ?", (int(m.group(1)),)):
                    baskets.add(r[0])
        found = []
        for basket in sorted(baskets):
            r = con.execute("SELECT TillID, Timestamp_Created, InvoiceNum FROM ZumvoPaymentBasket WHERE ID = ?",
                            (basket,)).fetchone()
            if not r:
                continue
            till, created, invoice = r
            # The sale that opened the basket: the latest one on its till begun by then (the module's
            # time stamps are local time in whole seconds).
            when = time.mktime(time.strptime(created[:19], "%Y-%m-%d %H:%M:%S"))
            opened = [s for s in self.sales if s["till"] == till and s["started"] - 1 <= when]
            sales = [max(opened, key=lambda s: s["started"])] if opened else []
            # And every later sale that named its invoice (recall, override, cash-up).
            if invoice is not None:
                mark = re.compile(r"invoice %d\b" % invoice)
                for sale in self.sales:
                    if sale not in sales and sale["kind"] in ("override", "cashup"):
                        with open(sale["output"], errors="replace") as f:
                            if mark.search(f.read()):
                                sales.append(sale)
            found += [(basket, sale) for sale in sales]
        con.close()
        return found

    def struck(self):
        struck = collections.Counter()
        for info in self.rounds:
            for s in info.get("struck", []):
                struck["%s on %s" % (s["fault"], "Transaction" if s["request"] == "transaction"
                                     else s.get("action", "advice"))] += 1
        return struck

    def report(self, lines, summary, elapsed):
        struck = self.struck()
        outcomes = collections.Counter(
            ("killed" if s["killed"] else "passed" if s["passed"] else "stopped by a fault") for s in self.sales)
        kinds = collections.Counter(s["kind"] for s in self.sales)
        day = [s for s in self.sales if s["round"] != "next day"]
        print("seed %d: %d sales (+%d next-day cash-ups) on %d tills in %d rounds, %.1f s" % (
            self.seed, len(day), len(self.sales) - len(day), len(self.tills), len(self.rounds) - 1, elapsed))
        print("  sales: " + ", ".join("%s %d" % kv for kv in sorted(kinds.items())))
        print("  outcomes: " + ", ".join("%s %d" % kv for kv in sorted(outcomes.items())))
        print("  provider faults struck: %d (%s)" % (sum(struck.values()), ", ".join(
            "%s %d" % kv for kv in sorted(struck.items())) or "none"))
        print("  other faults: " + (", ".join("%s %d" % kv for kv in sorted(self.chaos.items())) or "none"))
        print("  " + summary)
        if not lines:
            print("  reconciliation: no discrepancy")
            return
        print("  RECONCILIATION FAILED, %d discrepancies:" % len(lines))
        for line in lines:
            print("    " + line)
        for basket, sale in self.involved_sales(lines):
            info = next((r for r in self.rounds if r["round"] == sale["round"]), {})
            print("  --- basket %d: till %s, round %s, a '%s' sale (%s)%s" % (
                basket, sale["till"], sale["round"], sale["kind"],
                "killed" if sale["killed"] else "passed" if sale["passed"] else "status %s" % sale["status"],
                ", output " + sale["output"]))
            for i, step in enumerate(sale["steps"], 1):
                print("      %2d. %s" % (i, json.dumps(step)))
            print("      rules set: %s" % json.dumps(info.get("rules", [])))
            for s in info.get("struck", []):
                print("      struck: %s" % json.dumps(s))
            for e in info.get("events", []):
                print("      event: %s" % e)

    def run(self):
        started = time.time()
        try:
            self.prepare()
            rnd = 0
            while len([s for s in self.sales if s["round"] != "next day"]) < self.args.sales:
                rnd += 1
                left = self.args.sales - len(self.sales)
                tills = self.rng.sample(self.tills, min(len(self.tills), left))
                self.round(rnd, tills)
                print("  round %d: %d sales so far" % (rnd, len(self.sales)), flush=True)
            self.next_day()
            lines, summary, _ = self.reconcile()
        finally:
            self.sim.stop()
        self.report(lines, summary, time.time() - started)
        print("  work folder: " + self.folder)
        return not lines


def completing(sale):
    """Whether the sale's latest step settles money (complete, driver cash-up, override)."""
    with open(sale["output"], errors="replace") as f:
        steps = [l for l in f.read().splitlines() if l.startswith("STEP: ")]
    return bool(steps) and any(w in steps[-1] for w in ("complete", "cash-up", "cashup", "override"))


def summary_of_retry(status, output):
    m = re.search(r"(\d+) advice\(s\) sent: (\d+) confirmed, (\d+) not confirmed", output)
    listed = len([l for l in output.splitlines()[1:] if re.match(r"^\d+\t", l)])
    return "status %s, %s, %d listed after" % (status, m.group(0) if m else "no advice sent", listed)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", default="build/bin", help="the build's bin folder")
    parser.add_argument("--sales", type=int, default=100, help="sales per seed (default 100)")
    parser.add_argument("--seed", type=int, action="append", help="a seed (repeatable); default: a random one")
    parser.add_argument("--tills", type=int, default=3, choices=[2, 3], help="tills sharing the database")
    parser.add_argument("--work", default=None, help="folder for the run (default: a new temporary folder)")
    parser.add_argument("--edit-store", action="store_true",
                        help="let a settings edit change the provider store (ZumvoStoreID) of a till")
    parser.add_argument("--leave-codes", action="store_true",
                        help="leave the last code of some sales on the screen without adding it (Done or "
                             "Cancel gives it back)")
    parser.add_argument("--concurrent-backoffice", action="store_true",
                        help="run the back office's held-funds retry while the tills sell, judging sales "
                             "abandoned after 0 or 1 minute")
    parser.add_argument("--avoid-known-faults", action="store_true",
                        help="leave out what strikes the engine's known faults: a till killed while its sale "
                             "completes, a database lock that outlasts the busy time-out, a provider without "
                             "reversal memory")
    args = parser.parse_args()
    if args.sales < 1:
        parser.error("--sales must be at least 1")
    for program in ("zumvo_voucher_sim", "Invoicing", "BackOffice", "zumvo_reconcile", "libZumvoPayment.so"):
        if not os.path.exists(os.path.join(args.bin, program)):
            parser.error("%s is missing from %s (build first)" % (program, args.bin))
    args.work = args.work or tempfile.mkdtemp(prefix="zumvo_soak_")
    seeds = args.seed or [random.SystemRandom().randrange(1, 1 << 31)]
    print("soak: seeds %s, %d sales each, %d tills, work folder %s%s" % (
        " ".join(map(str, seeds)), args.sales, args.tills, args.work,
        "\n      avoiding the engine's known faults (no till killed while it completes a sale, no database "
        "lock beyond the busy time-out, reversal memory always on)" if args.avoid_known_faults else ""),
        flush=True)
    started = time.time()
    failed = []
    sales = 0
    struck = collections.Counter()
    for seed in seeds:
        print("seed %d" % seed, flush=True)
        soak = Soak(args, seed)
        if not soak.run():
            failed.append(seed)
        sales += len(soak.sales)
        struck += soak.struck()
        struck += soak.chaos
    print("soak: seeds %s: %d sales, %.1f s; faults struck: %s; %s" % (
        " ".join(map(str, seeds)), sales, time.time() - started,
        ", ".join("%s %d" % kv for kv in sorted(struck.items())) or "none",
        "FAILED seeds " + " ".join(map(str, failed)) if failed else "no discrepancy"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
