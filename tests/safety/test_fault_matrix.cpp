// The fault matrix: each fault the voucher simulator can inject, on the Transaction, on the
// FINALISE and on the REVERSE of a sale rung up by the real till (Invoicing --headless
// --scenario), plus a database that refuses the module's updates during a sale and a till killed
// right after a code was accepted and right after it was added. After each case the faults are
// cleared, the next sale on the till runs the advice retry, and the ledger audit compares the
// simulator's ledger with the module's rows: nothing may stay held, nothing be settled or
// released twice, and both till runs must end normally.
#include "ChildProgram.h"
#include "JsonDocument.h"
#include "LedgerAudit.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using zumvo::TJSONDocument;

namespace {

constexpr std::int32_t StoreID = 12;

enum class TOn { Transaction, Finalise, Reverse, DatabaseRefuses, KillAccepted, KillAdded };

const char* OnText(TOn on) {
    switch (on) {
    case TOn::Transaction:
        return "Transaction";
    case TOn::Finalise:
        return "FINALISE";
    case TOn::Reverse:
        return "REVERSE";
    case TOn::DatabaseRefuses:
        return "database";
    case TOn::KillAccepted:
    case TOn::KillAdded:
        return "till";
    }
    return "?";
}

struct TCase {
    std::string Fault; // simulator fault, or what happens to the till
    TOn On;
};

// A program run to its end (or killed by the test), with its output in a file.
class TRun {
public:
    TRun(const std::vector<std::string>& args, const fs::path& output) {
        FPid = fork();
        if (FPid == 0) {
            const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            std::vector<char*> argv;
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~TRun() {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
    }
    // The exit status as waitpid gives it; the program is killed after timeoutMs.
    int Wait(int timeoutMs = 60000) {
        bool killed = false;
        const int status = WaitOrKill(FPid, timeoutMs, killed);
        FPid = -1;
        return status;
    }
    // Kills the program and answers its exit status (a program that had already ended keeps
    // its own).
    int Kill() {
        kill(FPid, SIGKILL);
        return Wait();
    }

private:
    pid_t FPid = -1;
};

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
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(h);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

// The module's transaction rows as the audit reads them.
TJSONDocument Rows(const fs::path& db) {
    sqlite3* h = nullptr;
    TJSONDocument rows = TJSONDocument::NewArray();
    if (sqlite3_open(db.c_str(), &h) != SQLITE_OK)
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

bool EndedNormally(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class FaultMatrixTest : public ::testing::Test {
protected:
    fs::path Folder;
    std::unique_ptr<TChildProgram> Simulator;
    int Port = 0;

    void SetUp() override {
        Folder = fs::temp_directory_path() / ("zumvo_fault_matrix_" + std::to_string(getpid()));
        fs::remove_all(Folder);
        fs::create_directories(Folder);
        std::ofstream(Folder / "catalogue.json")
            << R"({"codes": [{"code": "PAY-50", "kind": "payment", "value": 5000}]})";
        Simulator = std::make_unique<TChildProgram>(
            std::string(ZUMVO_BIN_DIR) + "/zumvo_voucher_sim",
            std::vector<std::string>{"--port", "0", "--catalogue", (Folder / "catalogue.json").string(),
                                     "--quiet"});
        Port = AnnouncedPort(Simulator->ReadLine());
        ASSERT_GT(Port, 0);
    }
    void TearDown() override {
        Simulator.reset();
        if (!HasFailure())
            fs::remove_all(Folder);
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
        fs::copy_file(fs::path(ZUMVO_BIN_DIR) / "libZumvoPayment.so", dir / "libZumvoPayment.so");
        std::ofstream(dir / "libZumvoPayment.ini")
            << "[Settings]\nSOAPServer=http://127.0.0.1:" << Port
            << "\nSOAPUrl=/pos/services/PosService\nSOAPID=zumvo\nSOAPPWD=zumvo-secret\nZumvoStoreID=17\n"
               "AdviceRetryAttempts=5\nAdviceRetryIntervalSeconds=0\nAbandonedAfterMinutes=0\n";
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
        return {std::string(ZUMVO_BIN_DIR) + "/" + program,
                "--headless",
                "--config",
                (dir / "host.ini").string(),
                "--module",
                (dir / "libZumvoPayment.so").string()};
    }

    // BackOffice --held-funds [action]: its exit status and what it printed.
    std::pair<int, std::string> HeldFunds(const fs::path& dir, const std::string& action = {}) {
        auto args = Host("BackOffice", dir);
        args.push_back("--held-funds");
        if (!action.empty())
            args.push_back(action);
        const fs::path output = dir / ("held_funds_" + std::to_string(++FListings) + ".txt");
        TRun run(args, output);
        const int status = run.Wait();
        return {status, ReadFile(output)};
    }
    int FListings = 0;

    int RunTill(const fs::path& dir, const std::string& scenario, const std::string& file,
                const std::string& killAfter = {}) {
        std::ofstream(dir / file) << scenario;
        auto args = Host("Invoicing", dir);
        args.insert(args.end(), {"--scenario", (dir / file).string()});
        TRun run(args, dir / "output.txt");
        if (killAfter.empty())
            return run.Wait();
        // Killed once the step has run and the provider holds the code; a till that is not
        // killed then (it ended on its own) fails the case.
        bool held = false;
        for (int waited = 0; waited < 20000 && !held; waited += 20) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            held = ReadFile(dir / "transcript.txt").find(killAfter) != std::string::npos &&
                   zumvo::test::ReadLedger(Port)._Count() > 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const int status = run.Kill();
        return held && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? 0 : (status ? status : 1);
    }
};

TEST_F(FaultMatrixTest, NoMoneyStaysHeldAfterAnyFault) {
    std::vector<TCase> cases;
    for (const TOn on : {TOn::Transaction, TOn::Finalise, TOn::Reverse})
        for (const char* fault : {"delay", "drop", "http500", "soapFault", "malformed", "truncated",
                                  "missingResponse", "oversized"})
            cases.push_back({fault, on});
    cases.push_back({"refuses writes", TOn::DatabaseRefuses});
    cases.push_back({"SIGKILL after accepted", TOn::KillAccepted});
    cases.push_back({"SIGKILL after added", TOn::KillAdded});

    std::ostringstream table;
    table << std::left << std::setw(24) << "fault" << std::setw(13) << "on" << std::setw(16) << "rows after"
          << std::setw(16) << "rows retried" << std::setw(22) << "ledger"
          << "audit\n"
          << std::string(100, '-') << "\n";
    int passed = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const TCase& c = cases[i];
        const std::string name = std::to_string(i + 1) + "_" + OnText(c.On);
        SCOPED_TRACE(c.Fault + " on " + OnText(c.On));
        Post("/faults/clear");
        Post("/ledger/reset");
        const fs::path dir = PrepareTill(name);
        auto upgradeArgs = Host("BackOffice", dir);
        upgradeArgs.push_back("--upgrade-db");
        TRun upgrade(upgradeArgs, dir / "output.txt");
        ASSERT_TRUE(EndedNormally(upgrade.Wait())) << ReadFile(dir / "output.txt");
        const fs::path db = dir / "host.db";
        if (c.On == TOn::DatabaseRefuses)
            Sql(db, "CREATE TRIGGER RefuseUpdates BEFORE UPDATE ON ZumvoPaymentTransactions "
                    "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END;");
        else if (c.On != TOn::KillAccepted && c.On != TOn::KillAdded)
            Post("/faults", FaultRule(c));

        const auto [scenario, killAfter] = ScenarioFor(c.On);
        const int sale = RunTill(dir, scenario, "sale.json", killAfter);
        Post("/faults/clear");
        if (c.On == TOn::DatabaseRefuses)
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
        const int next = RunTill(dir, NextSale, "next.json");

        const TJSONDocument rows = Rows(db);
        const TJSONDocument ledger = zumvo::test::ReadLedger(Port);
        std::string audit = zumvo::test::LedgerMismatches(rows, ledger, StoreID) + recorded;
        for (int e = 0; e < ledger._Count(); ++e)
            if (ledger[e]["state"].AsString("") == "held")
                audit += "tvTrxId " + ledger[e]["tvTrxId"].AsString("") + " is still held\n";
        if (!EndedNormally(sale))
            audit += "the sale's till run ended with status " + std::to_string(sale) + "\n";
        if (!EndedNormally(next))
            audit += "the next sale's till run ended with status " + std::to_string(next) + "\n";
        const bool ok = audit.empty();
        passed += ok;
        table << std::left << std::setw(24) << c.Fault << std::setw(13) << OnText(c.On) << std::setw(16)
              << before << std::setw(16) << Statuses(rows) << std::setw(22) << LedgerStates(ledger)
              << (ok ? "pass" : "FAIL") << "\n";
        EXPECT_TRUE(ok) << audit << "\n--- transcript:\n"
                        << ReadFile(dir / "transcript.txt") << "\n--- output:\n"
                        << ReadFile(dir / "output.txt");
    }
    table << std::string(100, '-') << "\n" << passed << " of " << cases.size() << " cases pass\n";
    std::cout << "\nFault matrix (rows: module statuses in row order; ledger: provider states)\n"
              << table.str();
}

} // namespace

// The back office lists what the failed FINALISE holds, a person retries it from there, and the
// list is empty afterwards; a user without the access code gets no list.
TEST_F(FaultMatrixTest, HeldFundsAreListedAndRetriedFromTheBackOffice) {
    const fs::path dir = PrepareTill("held_funds");
    auto upgradeArgs = Host("BackOffice", dir);
    upgradeArgs.push_back("--upgrade-db");
    TRun upgrade(upgradeArgs, dir / "output.txt");
    ASSERT_TRUE(EndedNormally(upgrade.Wait()));
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

    Post("/faults/clear");
    const auto [retried, after] = HeldFunds(dir, "retry");
    EXPECT_TRUE(EndedNormally(retried)) << after;
    EXPECT_NE(after.find("1 advice(s) sent: 1 confirmed, 0 not confirmed"), std::string::npos) << after;
    EXPECT_EQ(after.find("PAY-50"), std::string::npos) << "nothing is listed any more: " << after;
    const TJSONDocument ledger = zumvo::test::ReadLedger(Port);
    ASSERT_EQ(ledger._Count(), 1);
    EXPECT_EQ(ledger[0]["state"].AsString(), "settled");
    EXPECT_EQ(zumvo::test::LedgerMismatches(Rows(dir / "host.db"), ledger, StoreID), "");

    std::ofstream(dir / "host.ini", std::ios::app) << "Deny=AM012\n";
    EXPECT_EQ(WEXITSTATUS(HeldFunds(dir).first), 3) << "refused without the access code";
}
