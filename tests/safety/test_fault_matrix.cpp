// The fault matrix: each fault the voucher simulator can inject, on the Transaction, on the
// FINALISE and on the REVERSE of a sale rung up by the real till (Invoicing --headless
// --scenario), plus a database that refuses the module's updates during a sale and a till killed
// right after a code was accepted and right after it was added. After each case the faults are
// cleared, the next sale on the till runs the advice retry, and the ledger audit compares the
// simulator's ledger with the module's rows, and the three-way reconciliation adds the host's
// invoices and the held-funds list: nothing may stay held, nothing be settled or released twice,
// the invoices must agree with what the provider settled, and both till runs must end normally.
#include "ChildProcess.h"
#include "HostFiles.h"
#include "JsonDocument.h"
#include "LedgerAudit.h"
#include "SqliteFile.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using zumvo::TJSONDocument;
using zumvo::test::TChildOptions;
using zumvo::test::TChildProcess;
using zumvo::test::TExitStatus;

namespace {

constexpr std::int32_t StoreID = 12;

enum class TOn {
    Transaction,
    Finalise,
    FinaliseCash,
    Reverse,
    DatabaseRefuses,
    KillAccepted,
    KillAdded,
    KillFinalising,
    KillFinaliseWaiting,
    OverrideSettled,
    RecalculateCancelFailedRefused
};

const char* OnText(TOn on) {
    switch (on) {
    case TOn::Transaction:
        return "Transaction";
    case TOn::Finalise:
        return "FINALISE";
    case TOn::FinaliseCash:
        return "FINALISE+cash";
    case TOn::Reverse:
        return "REVERSE";
    case TOn::DatabaseRefuses:
        return "database";
    case TOn::OverrideSettled:
        return "override";
    case TOn::RecalculateCancelFailedRefused:
        return "recalculate";
    case TOn::KillAccepted:
    case TOn::KillAdded:
    case TOn::KillFinalising:
    case TOn::KillFinaliseWaiting:
        return "till";
    }
    return "?";
}

struct TCase {
    TCase(std::string fault, TOn on, std::string rule = {}, bool memory = true, int settleMs = 0)
        : Fault(std::move(fault)), On(on), Rule(std::move(rule)), Memory(memory), SettleMs(settleMs) {}

    std::string Fault; // simulator fault, or what happens to the till
    TOn On;            // the sale's scenario, and where the default rule strikes
    std::string Rule;  // the rule posted instead of the default one (FaultRule)
    bool Memory;       // the provider's reversal memory
    int SettleMs;      // waited after the next sale (a late request may still be carried out), then
                       // one more sale runs the retry
};

// A program started with its output (standard output and error) appended to a file.
std::unique_ptr<TChildProcess> Start(const std::vector<std::string>& args, const fs::path& output) {
    TChildOptions options;
    options.OutputFile = output.string();
    return std::make_unique<TChildProcess>(args[0], std::vector<std::string>(args.begin() + 1, args.end()),
                                           options);
}

// The same, run to its end (killed after a minute).
TExitStatus RunToEnd(const std::vector<std::string>& args, const fs::path& output) {
    return Start(args, output)->Wait();
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The sale: one line of 20.00 paid with PAY-50 (value 50.00); `tail` follows the code's entry.
std::string SaleScenario(const std::string& afterRedeem, const std::string& tail) {
    return R"({"name": "zumvo sale", "timeoutMs": 8000, "steps": [
  {"step": "add", "code": "BREAD", "description": "Bread", "price": 20.00, "quantity": 1},
  {"step": "voucher"},
  {"step": "type", "control": "txtVoucherCode", "text": "PAY-50"},
  {"step": "click", "control": "btnCheck"})" +
           afterRedeem + tail + "]}";
}

const std::string AddAndDone = R"(,
  {"step": "click", "control": "btnOK"},
  {"step": "click", "control": "btnDone"})";

// The kill condition of a till killed as soon as the provider has settled the code.
const std::string SettledMark = "(the ledger shows it settled)";

// The scenario of a case, and for a killed till the transcript line of the click it is killed after.
std::pair<std::string, std::string> ScenarioFor(TOn on) {
    switch (on) {
    case TOn::Transaction: // the first request fails; the cashier tries again and it goes through
        return {SaleScenario(R"(,
  {"step": "click", "control": "btnOK"},
  {"step": "type", "control": "txtVoucherCode", "text": "PAY-50"},
  {"step": "click", "control": "btnCheck"})" +
                                 AddAndDone,
                             R"(,
  {"step": "complete"})"),
                {}};
    case TOn::Finalise:
        return {SaleScenario(AddAndDone, R"(,
  {"step": "complete"})"),
                {}};
    case TOn::FinaliseCash: // what the code leaves outstanding is paid in cash
        return {SaleScenario(AddAndDone, R"(,
  {"step": "pay", "tender": "Cash"},
  {"step": "complete"})"),
                {}};
    case TOn::Reverse:
        return {SaleScenario(AddAndDone, R"(,
  {"step": "cancel"})"),
                {}};
    case TOn::DatabaseRefuses: // the code cannot be recorded: given back at once, the sale cancelled
        return {SaleScenario(R"(,
  {"step": "click", "control": "btnOK"},
  {"step": "click", "control": "btnCancel"})",
                             R"(,
  {"step": "cancel"})"),
                {}};
    case TOn::KillAccepted: // a sale step waits behind the open screen until the till is killed
        return {SaleScenario("", R"(,
  {"step": "add", "code": "MILK", "description": "Milk", "price": 1.00})"),
                "CLICK: btnCheck"};
    case TOn::RecalculateCancelFailedRefused: // a line added after the code: it is reversed and asked again
        return {SaleScenario(AddAndDone, R"(,
  {"step": "add", "code": "MILK", "description": "Milk", "price": 1.05},
  {"step": "pay", "tender": "Cash"},
  {"step": "complete"})"),
                {}};
    case TOn::OverrideSettled: // completed (the code settled), recalled and overridden
        return {SaleScenario(AddAndDone, R"(,
  {"step": "complete"},
  {"step": "recall"},
  {"step": "override"})"),
                {}};
    case TOn::KillFinaliseWaiting: // two codes; killed while the first FINALISE waits for its answer
        return {R"({"name": "zumvo sale of two codes", "timeoutMs": 8000, "steps": [
  {"step": "add", "code": "WINE", "description": "Wine", "price": 60.05, "quantity": 1},
  {"step": "voucher"},
  {"step": "type", "control": "txtVoucherCode", "text": "PAY-50"},
  {"step": "click", "control": "btnCheck"},
  {"step": "click", "control": "btnOK"},
  {"step": "type", "control": "txtVoucherCode", "text": "PAY-50"},
  {"step": "click", "control": "btnCheck"})" +
                    AddAndDone + R"(,
  {"step": "complete"}]})",
                "ACTIVITY: Finalising Zumvo Basket"};
    case TOn::KillFinalising: // killed once the provider settled, before the till reads the answer
        return {SaleScenario(AddAndDone, R"(,
  {"step": "complete"})"),
                SettledMark};
    case TOn::KillAdded:
        return {SaleScenario(R"(,
  {"step": "click", "control": "btnOK"})",
                             R"(,
  {"step": "add", "code": "MILK", "description": "Milk", "price": 1.00})"),
                "CLICK: btnOK"};
    }
    return {};
}

// The next sale on the till, paid in cash: its completion runs the advice retry.
const char* NextSale = R"({"name": "next sale", "timeoutMs": 8000, "steps": [
  {"step": "add", "code": "TEA", "description": "Tea", "price": 3.00},
  {"step": "pay", "tender": "Cash"},
  {"step": "complete"}]})";

std::string FaultRule(const TCase& c) {
    if (!c.Rule.empty())
        return c.Rule;
    std::string rule = R"({"fault": ")" + c.Fault + R"(")";
    if (c.Fault == "delay")
        rule += R"(, "ms": 1500)";
    if (c.Fault == "oversized")
        rule += R"(, "bytes": 400000)";
    if (c.On == TOn::Transaction)
        rule += R"(, "request": "transaction", "count": 1)";
    else
        rule += R"(, "request": "advise")";
    return rule + "}";
}

void Sql(const fs::path& db, const std::string& sql) {
    zumvo::test::RunSqlite(db.string(), sql);
}

// The module's transaction rows as the audit reads them.
TJSONDocument Rows(const fs::path& db) {
    sqlite3* h = nullptr;
    TJSONDocument rows = TJSONDocument::NewArray();
    if (sqlite3_open(db.string().c_str(), &h) != SQLITE_OK)
        return rows;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(h, "SELECT ID, Status, tvTrxID FROM ZumvoPaymentTransactions ORDER BY ID", -1, &st,
                           nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::string row =
                R"({"ID":)" + std::to_string(sqlite3_column_int(st, 0)) + R"(,"Status":)" +
                std::to_string(sqlite3_column_int(st, 1)) + R"(,"tvTrxID":)" +
                (sqlite3_column_type(st, 2) == SQLITE_NULL ? std::string("null")
                                                           : std::to_string(sqlite3_column_int(st, 2))) +
                "}";
            rows.Append(TJSONDocument::Parse(row));
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    return rows;
}

// The three-way reconciliation's lines, or why it could not run.
std::string ThreeWay(const fs::path& db, const TJSONDocument& ledger) {
    try {
        return zumvo::test::ReconcileText(zumvo::test::ReadAuditData(db.string()), ledger, StoreID);
    } catch (const std::exception& e) {
        return std::string("the reconciliation could not run: ") + e.what() + "\n";
    }
}

std::string Statuses(const TJSONDocument& rows) {
    std::string out;
    for (int i = 0; i < rows._Count(); ++i)
        out += (out.empty() ? "" : ",") + rows[i]["Status"].AsString();
    return out.empty() ? "-" : out;
}

std::string LedgerStates(const TJSONDocument& ledger) {
    std::string out;
    for (int i = 0; i < ledger._Count(); ++i)
        out += (out.empty() ? "" : ",") + ledger[i]["state"].AsString("");
    return out.empty() ? "-" : out;
}

bool EndedNormally(const TExitStatus& status) {
    return status.Ok();
}

class FaultMatrixTest : public ::testing::Test {
protected:
    fs::path Folder;
    std::unique_ptr<TChildProcess> Simulator;
    int Port = 0;

    void SetUp() override {
        Folder = fs::temp_directory_path() / ("zumvo_fault_matrix_" + std::to_string(getpid()));
        zumvo::test::RemoveFolder(Folder);
        fs::create_directories(Folder);
        std::ofstream(Folder / "catalogue.json")
            << R"({"codes": [{"code": "PAY-50", "kind": "payment", "value": 5000}]})";
        Simulator = std::make_unique<TChildProcess>(
            zumvo::test::BuiltProgram("zumvo_voucher_sim"),
            std::vector<std::string>{"--port", "0", "--catalogue", (Folder / "catalogue.json").string(),
                                     "--quiet"});
        Port = zumvo::test::AnnouncedPort(Simulator->ReadLine());
        ASSERT_GT(Port, 0);
    }
    void TearDown() override {
        Simulator.reset();
        if (!HasFailure())
            zumvo::test::RemoveFolder(Folder);
    }

    void Post(const std::string& path, const std::string& body = "{}") {
        httplib::Client client("127.0.0.1", Port);
        const auto answer = client.Post(path, body, "application/json");
        ASSERT_TRUE(answer && answer->status == 200) << path << " " << body;
    }

    // A till of its own for the case: module copy, settings, host configuration, database.
    fs::path PrepareTill(const std::string& name) {
        const fs::path dir = Folder / name;
        fs::create_directories(dir);
        fs::copy_file(fs::path(ZUMVO_BIN_DIR) / zumvo::test::ModuleFileName,
                      dir / zumvo::test::ModuleFileName);
        std::ofstream(dir / zumvo::test::ModuleSettingsFileName)
            << "[Settings]\nSOAPServer=http://127.0.0.1:" << Port
            << "\nSOAPUrl=/pos/services/PosService\nSOAPID=zumvo\nSOAPPWD=zumvo-secret\nZumvoStoreID=17\n"
               "AdviceRetryAttempts=5\nAdviceRetryIntervalSeconds=0\nAbandonedAfterMinutes=0\n"
               "LateRequestSeconds=3\n";
        // The statements each case sends are kept for the T-SQL grammar check (tests/sql_dialect)
        // when it asks for them.
        std::string trace;
        if (const char* traces = std::getenv("ZUMVO_SQL_TRACE_DIR"); traces && *traces)
            trace = "Trace=" +
                    (fs::path(traces) /
                     (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                      name + ".sql"))
                        .string() +
                    "\n";
        // Short time-outs keep the delayed answers (1.5 s) late and the suite quick.
        std::ofstream(dir / "host.ini") << "[Host]\nStoreID=" << StoreID
                                        << "\nTillID=1\n[Headless]\nTranscript=transcript.txt\n[Rest]\n"
                                           "ConnectTimeoutMs=1000\nRequestTimeoutMs=700\nMaxAnswerKB=256\n"
                                           "[Database]\nFile=host.db\nDemoData=1\n"
                                        << trace << "[Access]\nUser=Test\n";
        return dir;
    }

    std::vector<std::string> Host(const std::string& program, const fs::path& dir) {
        return {
            zumvo::test::BuiltProgram(program), "--headless", "--config",
            (dir / "host.ini").string(),        "--module",   (dir / zumvo::test::ModuleFileName).string()};
    }

    // BackOffice --held-funds [action]: its exit status and what it printed.
    std::pair<TExitStatus, std::string> HeldFunds(const fs::path& dir, const std::string& action = {}) {
        auto args = Host("BackOffice", dir);
        args.push_back("--held-funds");
        if (!action.empty())
            args.push_back(action);
        const fs::path output = dir / ("held_funds_" + std::to_string(++FListings) + ".txt");
        const TExitStatus status = RunToEnd(args, output);
        return {status, ReadFile(output)};
    }
    int FListings = 0;

    TExitStatus RunTill(const fs::path& dir, const std::string& scenario, const std::string& file,
                        const std::string& killAfter = {}) {
        std::ofstream(dir / file) << scenario;
        auto args = Host("Invoicing", dir);
        args.insert(args.end(), {"--scenario", (dir / file).string()});
        const auto run = Start(args, dir / "output.txt");
        if (killAfter.empty())
            return run->Wait();
        // Killed once the step has run and the provider holds the code; a till that is not
        // killed then (it ended on its own) fails the case.
        bool held = false;
        const bool settled = killAfter == SettledMark;
        for (int waited = 0; waited < 20000 && !held; waited += settled ? 5 : 20) {
            std::this_thread::sleep_for(std::chrono::milliseconds(settled ? 5 : 20));
            if (settled) {
                const TJSONDocument ledger = zumvo::test::ReadLedger(Port);
                held = ledger._Count() > 0 && ledger[0]["state"].AsString("") == "settled";
            } else {
                held = ReadFile(dir / "transcript.txt").find(killAfter) != std::string::npos &&
                       zumvo::test::ReadLedger(Port)._Count() > 0;
            }
        }
        if (!settled)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const TExitStatus status = run->Kill();
        if (held && status.Killed) {
            TExitStatus planned; // the kill the case asks for counts as a normal end
            planned.Exited = true;
            planned.Code = 0;
            return planned;
        }
        TExitStatus unplanned = status;
        if (unplanned.Ok()) // it ended on its own before the kill
            unplanned.Code = 1;
        return unplanned;
    }

    // Runs each case on a till of its own, then the next sale (which runs the advice retry), and
    // audits; prints the matrix under the title.
    void RunMatrix(const std::vector<TCase>& cases, const std::string& title, const std::string& prefix) {
        std::ostringstream table;
        table << std::left << std::setw(24) << "fault" << std::setw(13) << "on" << std::setw(16)
              << "rows after" << std::setw(16) << "rows retried" << std::setw(22) << "ledger"
              << "audit\n"
              << std::string(100, '-') << "\n";
        int passed = 0;
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const TCase& c = cases[i];
            const std::string name = prefix + std::to_string(i + 1) + "_" + OnText(c.On);
            SCOPED_TRACE(c.Fault + " on " + OnText(c.On) + (c.Memory ? "" : ", no reversal memory"));
            Post("/faults/clear");
            Post("/ledger/reset");
            Post("/settings", c.Memory ? R"({"reversalMemory": true})" : R"({"reversalMemory": false})");
            const fs::path dir = PrepareTill(name);
            auto upgradeArgs = Host("BackOffice", dir);
            upgradeArgs.push_back("--upgrade-db");
            ASSERT_TRUE(EndedNormally(RunToEnd(upgradeArgs, dir / "output.txt")))
                << ReadFile(dir / "output.txt");
            const fs::path db = dir / "host.db";
            if (c.On == TOn::DatabaseRefuses)
                Sql(db, "CREATE TRIGGER RefuseUpdates BEFORE UPDATE ON ZumvoPaymentTransactions "
                        "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END;");
            if (c.On == TOn::RecalculateCancelFailedRefused) // only the write of "failed to cancel"
                Sql(db, "CREATE TRIGGER RefuseUpdates BEFORE UPDATE OF Status ON ZumvoPaymentTransactions "
                        "WHEN NEW.Status = -3 BEGIN SELECT RAISE(ABORT, 'database is locked'); END;");
            if (c.On != TOn::DatabaseRefuses &&
                ((c.On != TOn::KillAccepted && c.On != TOn::KillAdded && c.On != TOn::OverrideSettled) ||
                 !c.Rule.empty()))
                Post("/faults", FaultRule(c));

            const auto [scenario, killAfter] = ScenarioFor(c.On);
            const TExitStatus sale = RunTill(dir, scenario, "sale.json", killAfter);
            Post("/faults/clear");
            if (c.On == TOn::DatabaseRefuses || c.On == TOn::RecalculateCancelFailedRefused)
                Sql(db, "DROP TRIGGER RefuseUpdates;");
            const TJSONDocument killed = Rows(db);
            const std::string before = Statuses(killed);
            std::string recorded;
            if (!killAfter.empty()) {
                // The till died after the acceptance: its row must already hold the provider's number.
                const TJSONDocument held = zumvo::test::ReadLedger(Port);
                bool found = false;
                for (int r = 0; r < killed._Count() && held._Count() > 0; ++r)
                    found = found || killed[r]["tvTrxID"].AsInteger(-1) == held[0]["tvTrxId"].AsInteger(-2);
                if (!found)
                    recorded = "the killed till left no row with the provider's number\n";
            }
            const TExitStatus next = RunTill(dir, NextSale, "next.json");
            TExitStatus later;
            later.Exited = true;
            later.Code = 0;
            if (c.SettleMs > 0) {
                // The late request has been carried out by now; the sale after it retries again.
                std::this_thread::sleep_for(std::chrono::milliseconds(c.SettleMs));
                later = RunTill(dir, NextSale, "later.json");
            }

            const TJSONDocument rows = Rows(db);
            const TJSONDocument ledger = zumvo::test::ReadLedger(Port);
            // The three-way reconciliation (with the ledger audit's per-row rules), the host's
            // invoices and the held-funds list.
            std::string audit = ThreeWay(db, ledger) + recorded;
            for (int e = 0; e < ledger._Count(); ++e)
                if (ledger[e]["state"].AsString("") == "held")
                    audit += "tvTrxId " + ledger[e]["tvTrxId"].AsString("") + " is still held\n";
            if (!EndedNormally(sale))
                audit += "the sale's till run ended with status " + sale.Text() + "\n";
            if (!EndedNormally(next))
                audit += "the next sale's till run ended with status " + next.Text() + "\n";
            if (!EndedNormally(later))
                audit += "the later sale's till run ended with status " + later.Text() + "\n";
            const bool ok = audit.empty();
            passed += ok;
            table << std::left << std::setw(24) << (c.Fault + (c.Memory ? "" : " (no memory)"))
                  << std::setw(13) << OnText(c.On) << std::setw(16) << before << std::setw(16)
                  << Statuses(rows) << std::setw(22) << LedgerStates(ledger) << (ok ? "pass" : "FAIL")
                  << "\n";
            EXPECT_TRUE(ok) << audit << "\n--- transcript:\n"
                            << ReadFile(dir / "transcript.txt") << "\n--- output:\n"
                            << ReadFile(dir / "output.txt");
        }
        table << std::string(100, '-') << "\n" << passed << " of " << cases.size() << " cases pass\n";
        std::cout << "\n"
                  << title << " (rows: module statuses in row order; ledger: provider states)\n"
                  << table.str();
    }
};

TEST_F(FaultMatrixTest, NoMoneyStaysHeldAfterAnyFault) {
    std::vector<TCase> cases;
    for (const TOn on : {TOn::Transaction, TOn::Finalise, TOn::Reverse})
        for (const char* fault : {"delay", "drop", "http500", "soapFault", "malformed", "truncated",
                                  "missingResponse", "oversized"})
            cases.push_back({fault, on});
    cases.push_back({"refuses writes", TOn::DatabaseRefuses});
    cases.push_back({"killed after accepted", TOn::KillAccepted});
    cases.push_back({"killed after added", TOn::KillAdded});
    RunMatrix(cases, "Fault matrix", "");
}

// The late request (carried out after its connection dropped, with and without the provider's
// reversal memory), answers for more than was asked, and well-formed refusals that may hide a
// request that was carried out.
TEST_F(FaultMatrixTest, NoMoneyStaysHeldAfterLateInflatedOrRefusedAnswers) {
    const std::vector<TCase> cases = {
        // Carried out 4 s later: after the next sale's reversal by reference.
        {"late", TOn::Transaction, R"({"fault": "late", "ms": 4000, "request": "transaction", "count": 1})",
         true, 4500},
        {"late", TOn::Finalise, R"({"fault": "late", "ms": 1500, "request": "advise"})", true, 2000},
        {"late", TOn::Reverse, R"({"fault": "late", "ms": 1500, "request": "advise"})", true, 2000},
        {"refused", TOn::Transaction, R"({"fault": "refused", "request": "transaction", "count": 1})"},
        {"refused", TOn::Finalise, R"({"fault": "refused", "request": "advise", "count": 1})"},
        {"refused, carried out", TOn::Finalise,
         R"({"fault": "refused", "request": "advise", "process": true, "count": 1})"},
        {"refused", TOn::Reverse, R"({"fault": "refused", "request": "advise", "count": 1})"},
        {"refused, carried out", TOn::Reverse,
         R"({"fault": "refused", "request": "advise", "process": true, "count": 1})"},
        {"drop, carried out", TOn::Transaction,
         R"({"fault": "drop", "request": "transaction", "process": true, "count": 1})", false},
    };
    RunMatrix(cases, "Fault matrix: late, refused", "late_");
}

// A provider that answers for more than was asked (the third a "negative discount": more to settle
// than was processed): the customer must not pay more than the invoice, and the invoice must
// agree with what the provider settled.
TEST_F(FaultMatrixTest, AnAnswerForMoreThanWasAskedLeavesTheInvoiceAndTheLedgerAgreeing) {
    const std::vector<TCase> cases = {
        {"inflated both +1.00", TOn::FinaliseCash,
         R"({"fault": "inflated", "inflate": "both", "cents": 100, "count": 1})"},
        {"inflated total +0.01", TOn::FinaliseCash,
         R"({"fault": "inflated", "inflate": "total", "cents": 1, "count": 1})"},
        {"inflated settle +0.05", TOn::FinaliseCash,
         R"({"fault": "inflated", "inflate": "settle", "cents": 5, "count": 1})"},
    };
    RunMatrix(cases, "Fault matrix: inflated answers", "inflated_");
}

// A provider without reversal memory: the till reverses the unanswered request by reference
// before the request itself is carried out (4 s late); the retry of the sale after that asks once
// more, and nothing may stay held.
TEST_F(FaultMatrixTest, ALateRequestAfterItsReversalLeavesNothingHeldWithoutReversalMemory) {
    const std::vector<TCase> cases = {
        {"late", TOn::Transaction, R"({"fault": "late", "ms": 4000, "request": "transaction", "count": 1})",
         false, 4500},
    };
    RunMatrix(cases, "Fault matrix: no reversal memory", "nomemory_");
}

// A till killed after the provider settled the sale's code, before the till read the answer (the
// FINALISE's answer is slow): the invoice is stored, the money settled, and the module's rows must
// still lead to an invoice that agrees with the ledger once the next sale has run the retry.
TEST_F(FaultMatrixTest, ATillKilledWhileItsFinaliseIsAnsweredLeavesTheInvoiceAndTheLedgerAgreeing) {
    const std::vector<TCase> cases = {
        {"killed during FINALISE", TOn::KillFinalising,
         R"({"fault": "delay", "ms": 3000, "request": "advise"})"},
    };
    RunMatrix(cases, "Fault matrix: killed while finalising", "killfinalise_");
}

// An invoice whose code was settled at completion, recalled and overridden: the provider cannot
// give the money back any more, so a listed row must tell a person to refund the customer.
TEST_F(FaultMatrixTest, AnOverriddenInvoiceWhoseCodeWasSettledIsListedForARefund) {
    const std::vector<TCase> cases = {{"override after FINALISE", TOn::OverrideSettled}};
    RunMatrix(cases, "Fault matrix: override of a settled invoice", "override_");
}

// A till killed while the first of its two FINALISE advices waits for an answer the provider will
// not give (the advice was not carried out): the sale's invoice is stored and its basket numbered,
// both codes still held. The next sale's retry must find both rows and settle them.
TEST_F(FaultMatrixTest, ATillKilledBeforeItsFinaliseWasCarriedOutLeavesTheCodeListed) {
    // Every code of the sale is marked "failed to finalise" before the first advice goes out: a
    // code left Redeemed in an invoiced basket would look like a delivery awaiting its cash-up and
    // never be listed (found by soak seed 703).
    const std::vector<TCase> cases = {
        {"killed before FINALISE", TOn::KillFinaliseWaiting,
         R"({"fault": "delay", "ms": 3000, "request": "advise", "process": false, "count": 1})"},
    };
    RunMatrix(cases, "Fault matrix: killed before the FINALISE was carried out", "killwaiting_");
}

// A line added after a code was applied: the code is reversed and asked again. The REVERSE gets a
// malformed answer (not carried out) and the database refuses to mark the row "failed to cancel",
// while it takes the writes before and after (a lock that ends). The provider still holds the code:
// its row must not claim it was given back.
TEST_F(FaultMatrixTest, AnUnconfirmedReversalWhoseStatusCouldNotBeWrittenIsNotCalledCancelled) {
    // The recalculation marks the basket cancelled but for the rows whose reversal was not
    // confirmed, whatever their stored status says (found by soak seed 701).
    const std::vector<TCase> cases = {
        {"bad REVERSE, -3 refused", TOn::RecalculateCancelFailedRefused,
         R"({"fault": "malformed", "request": "advise", "count": 1})"},
    };
    RunMatrix(cases, "Fault matrix: recalculation with a refused status write", "recalc_");
}

// A provider without reversal memory, and a request 4 s late: the next sale's retry and a back-office
// retry both ask for it by reference before it is carried out, and find nothing. The request that
// arrives afterwards must not stay held.
TEST_F(FaultMatrixTest, TwoQuickReversalsOfALateRequestLeaveNothingHeldWithoutReversalMemory) {
    // A row asked once by reference is asked again only after LateRequestSeconds (3 s here), also
    // on demand: two quick asks would close it before the late request arrives (soak seed 801).
    Post("/settings", R"({"reversalMemory": false})");
    const fs::path dir = PrepareTill("quick_asks");
    auto upgradeArgs = Host("BackOffice", dir);
    upgradeArgs.push_back("--upgrade-db");
    ASSERT_TRUE(EndedNormally(RunToEnd(upgradeArgs, dir / "output.txt")));
    Post("/faults", R"({"fault": "late", "ms": 4000, "request": "transaction", "count": 1})");
    EXPECT_TRUE(EndedNormally(RunTill(dir, ScenarioFor(TOn::Transaction).first, "sale.json")));
    EXPECT_TRUE(EndedNormally(RunTill(dir, NextSale, "next.json")));  // the first ask
    EXPECT_TRUE(EndedNormally(HeldFunds(dir, "retry").first));        // the second ask
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));     // the request is carried out
    EXPECT_TRUE(EndedNormally(RunTill(dir, NextSale, "later.json"))); // and the retry runs again
    EXPECT_TRUE(EndedNormally(HeldFunds(dir, "retry").first));
    const TJSONDocument ledger = zumvo::test::ReadLedger(Port);
    std::string audit = ThreeWay(dir / "host.db", ledger);
    for (int e = 0; e < ledger._Count(); ++e)
        if (ledger[e]["state"].AsString("") == "held")
            audit += "tvTrxId " + ledger[e]["tvTrxId"].AsString("") + " is still held\n";
    EXPECT_EQ(audit, "") << ReadFile(dir / "transcript.txt");
    Post("/settings", R"({"reversalMemory": true})");
}

} // namespace

// The back office lists what the failed FINALISE holds, a person retries it from there, and the
// list is empty afterwards; a user without the access code gets no list.
TEST_F(FaultMatrixTest, HeldFundsAreListedAndRetriedFromTheBackOffice) {
    const fs::path dir = PrepareTill("held_funds");
    auto upgradeArgs = Host("BackOffice", dir);
    upgradeArgs.push_back("--upgrade-db");
    ASSERT_TRUE(EndedNormally(RunToEnd(upgradeArgs, dir / "output.txt")));
    Post("/faults", R"({"fault": "drop", "request": "advise"})");
    ASSERT_TRUE(EndedNormally(RunTill(dir, ScenarioFor(TOn::Finalise).first, "sale.json")))
        << ReadFile(dir / "transcript.txt");

    const auto [listed, list] = HeldFunds(dir);
    EXPECT_TRUE(EndedNormally(listed)) << list;
    EXPECT_NE(list.find("Transaction\tBasket\tInvoice\tTill\tCode\tProvider No\tAmount"), std::string::npos)
        << list;
    EXPECT_NE(list.find("\tPAY-50\t1000\t20.00\tFailed to finalise\t"), std::string::npos) << list;
    EXPECT_NE(list.find("FINALISE again"), std::string::npos) << list;
    EXPECT_NE(list.find("Held funds page: "), std::string::npos) << list;

    // Still failing: the attempt is counted and its error shown.
    const auto [failing, stillHeld] = HeldFunds(dir, "retry");
    EXPECT_TRUE(EndedNormally(failing)) << stillHeld;
    EXPECT_NE(stillHeld.find("1 advice(s) sent: 0 confirmed, 1 not confirmed"), std::string::npos)
        << stillHeld;
    EXPECT_NE(stillHeld.find("No answer from the provider"), std::string::npos) << stillHeld;
    // The count of the advices sent, on stderr while the retry runs.
    EXPECT_NE(stillHeld.find("Advices sent: 0 of 1\nAdvices sent: 1 of 1\n"), std::string::npos) << stillHeld;

    Post("/faults/clear");
    const auto [retried, after] = HeldFunds(dir, "retry");
    EXPECT_TRUE(EndedNormally(retried)) << after;
    EXPECT_NE(after.find("1 advice(s) sent: 1 confirmed, 0 not confirmed"), std::string::npos) << after;
    EXPECT_EQ(after.find("PAY-50"), std::string::npos) << "nothing is listed any more: " << after;
    const TJSONDocument ledger = zumvo::test::ReadLedger(Port);
    ASSERT_EQ(ledger._Count(), 1);
    EXPECT_EQ(ledger[0]["state"].AsString(), "settled");
    EXPECT_EQ(zumvo::test::LedgerMismatches(Rows(dir / "host.db"), ledger, StoreID), "");
    EXPECT_EQ(ThreeWay(dir / "host.db", ledger), "");

    std::ofstream(dir / "host.ini", std::ios::app) << "Deny=AM012\n";
    EXPECT_EQ(HeldFunds(dir).first.Code, 3) << "refused without the access code";
}
