// The transaction report and the receipt's look-up on SQLite databases of 1k, 10k and 100k
// baskets (three transactions each; one invoice and one Zumvo payment per basket but every 20th,
// which has no invoice; amounts vary, one invoice in 97 above 1000, one in 50 overridden), through
// the reference host's database service as the module runs them.
//   report/query/N    the two report queries over the whole month (the baseline)
//   report/page/N     building the page from their rows; its counter page/query is the page's
//                     CPU time over the queries' CPU time, both measured in that benchmark
//   receipt/noindex/N the receipt's two queries on a copy without the look-up indexes (baseline)
//   receipt/lookup/N  the same with the indexes the upgrade creates
//   heldfunds/noindex/N, heldfunds/lookup/N  the held-funds look-up that follows every sale,
//                     without and with those indexes
// Before running, the planner's account of each look-up is printed.
#include "HostSchema.h"
#include "TDBScript.h"
#include "TDIContainer.h"
#include "THostServices.h"
#include "TSqliteDatabase.h"
#include "clsHeldFundsRule.h"
#include "clsModuleContainer.h"
#include "clsZumvoReport.h"
#include "implDataChangesZumvo.h"
#include "implPrinterAddonZumvo.h"
#include "implTillBrandSettings.h"
#include "implZumvoTransaction.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <ctime>

#include <filesystem>
#include <iostream>
#include <map>
#include <stdexcept>
#include <unistd.h>

namespace {

using namespace zumvo;
namespace fs = std::filesystem;

const fs::path Folder = fs::temp_directory_path() / ("bench_report_" + std::to_string(getpid()));
constexpr TReportDate From = std::chrono::year(2026) / 3 / 1;
constexpr TReportDate To = std::chrono::year(2026) / 3 / 31;

// The module's container for the tables' scripts and the receipt add-on's database look-ups.
pallux::IntfPtr<refhost::TDIContainer>& BenchContainer() {
    static pallux::IntfPtr<refhost::TDIContainer> container = [] {
        auto c = pallux::MakeIntf<refhost::TDIContainer, refhost::TDIContainer>();
        refhost::RegisterCoreServices(*c, refhost::THostContext::Load({}, "BackOffice", true));
        c->RegisterFactory(ITillBrandSettings::IID,
                           pallux::MakeIntf<TTillBrandSettingsFactory, pallux::IServiceFactory>().get());
        ModuleContainer() = pallux::IntfPtr<pallux::IDIContainer>(c.get());
        return c;
    }();
    return container;
}

void UseDatabase(const std::shared_ptr<refhost::TDatabase>& db) {
    auto& c = *BenchContainer();
    c.UnregisterFactory(pallux::IDBScript::IID);
    c.RegisterFactory(pallux::IDBScript::IID, pallux::MakeIntf<refhost::TDBScriptFactory>(db).get());
}

void Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error(message + " in " + sql);
    }
}

// Fills the module's and the host's tables directly (loading is not what is measured).
void Fill(const fs::path& file, int baskets) {
    sqlite3* db = nullptr;
    sqlite3_open(file.string().c_str(), &db);
    Exec(db, "BEGIN");
    sqlite3_stmt* basket = nullptr;
    sqlite3_stmt* trx = nullptr;
    sqlite3_stmt* invoice = nullptr;
    sqlite3_stmt* payment = nullptr;
    sqlite3_prepare_v2(
        db,
        "INSERT INTO ZumvoPaymentBasket (ID, Timestamp_Created, InvoiceNum, TotalAmount, TillID) "
        "VALUES (?1, ?2, ?4, ?3, 1)",
        -1, &basket, nullptr);
    sqlite3_prepare_v2(
        db,
        "INSERT INTO ZumvoPaymentTransactions (Timestamp_Created, InvoiceNum, tvTrxID, Response, "
        "Amount, Status, BasketID) VALUES (?2, ?1, ?3, '{\"Zumvo\":\"PAY-100\"}', 10.0, 2, ?1)",
        -1, &trx, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO INVOICES (InvoiceNum, fkTillID, STATUS, AFTERDISC, SHIFTNUM, DATE) "
                       "VALUES (?1, 1, CASE WHEN ?1 % 50 = 0 THEN 1 ELSE 0 END, ?3, 3, ?2)",
                       -1, &invoice, nullptr);
    sqlite3_prepare_v2(
        db, "INSERT INTO InvoicesPayment (InvoiceNum, PaymentType, Amount) VALUES (?1, 'Zumvo', ?3)", -1,
        &payment, nullptr);
    for (int id = 1; id <= baskets; ++id) {
        char created[32];
        std::snprintf(created, sizeof created, "2026-03-%02d %02d:%02d:00", 1 + id % 28, id % 24, id % 60);
        const bool invoiced = id % 20 != 0;
        const double total = id % 97 == 0 ? 1000 + (id % 500) * 1.5 : 20 + (id % 400) * 0.25;
        const double amounts[] = {total, total - 4.5, 5.0 * (1 + id % 6)}; // basket, invoice, payment
        int k = 0;
        for (sqlite3_stmt* s : {basket, invoice, payment}) {
            sqlite3_bind_int(s, 1, id);
            if (s != payment)
                sqlite3_bind_text(s, 2, created, -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(s, 3, amounts[k++]);
            if (s == basket && invoiced)
                sqlite3_bind_int(s, 4, id);
            else if (s == basket)
                sqlite3_bind_null(s, 4);
            if (s == basket || invoiced)
                sqlite3_step(s);
            sqlite3_reset(s);
        }
        for (int k = 0; k < 3; ++k) {
            sqlite3_bind_int(trx, 1, id);
            sqlite3_bind_text(trx, 2, created, -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(trx, 3, id * 3 + k);
            sqlite3_step(trx);
            sqlite3_reset(trx);
        }
    }
    for (sqlite3_stmt* s : {basket, trx, invoice, payment})
        sqlite3_finalize(s);
    Exec(db, "COMMIT");
    // Everything into the main file, so that a copy of it is complete.
    Exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
    sqlite3_close(db);
}

struct TDatabases {
    std::shared_ptr<refhost::TDatabase> Indexed, Unindexed;
};

// The databases of one size, made on first use: the module's upgrade scripts (indexes
// included), the rows, and a copy without the look-up indexes.
const TDatabases& Databases(int baskets) {
    static std::map<int, TDatabases> made;
    if (auto it = made.find(baskets); it != made.end())
        return it->second;
    fs::create_directories(Folder);
    const auto file = Folder / ("report_" + std::to_string(baskets) + ".db");
    const auto copy = Folder / ("report_" + std::to_string(baskets) + "_noindex.db");
    {
        auto db = refhost::OpenDatabase(file.string());
        refhost::CreateHostTables(*db, true);
        UseDatabase(db);
        std::vector<std::string> scripts;
        pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
        for (const auto& s : scripts)
            db->RunBatch(s);
    }
    Fill(file, baskets);
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
    {
        sqlite3* db = nullptr;
        sqlite3_open(copy.string().c_str(), &db);
        Exec(
            db,
            "DROP INDEX IX_ZumvoPaymentTransactions_BasketID; DROP INDEX IX_ZumvoPaymentBasket_InvoiceNum; "
            "DROP INDEX IX_ZumvoPaymentBasket_Timestamp_Created; DROP INDEX IX_ZumvoPaymentTransactions_Status; "
            "DROP INDEX IX_ZumvoPaymentTransactions_Status_RefundOwed; DROP INDEX IX_ZumvoPaymentTransactions_BasketID_Created");
        sqlite3_close(db);
    }
    return made[baskets] = {refhost::OpenDatabase(file.string()), refhost::OpenDatabase(copy.string())};
}

void ReportQuery(benchmark::State& state) {
    auto script = pallux::MakeIntf<refhost::TDBScript>(Databases(int(state.range(0))).Indexed);
    for (auto _ : state) {
        TZumvoReportData data = QueryZumvoReport(*script, From, To);
        benchmark::DoNotOptimize(data);
    }
    state.SetLabel("baseline");
}

// CPU seconds of the calling thread (the machine may be busy with other work).
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void ReportPage(benchmark::State& state) {
    auto script = pallux::MakeIntf<refhost::TDBScript>(Databases(int(state.range(0))).Indexed);
    // The queries' time for the ratio: the fastest of the runs made within 0.2 s (at least two).
    TZumvoReportData data;
    double query = 0, spent = 0;
    for (int run = 0; run < 2 || spent < 0.2; ++run) {
        const double start = ThreadSeconds();
        data = QueryZumvoReport(*script, From, To);
        const double took = ThreadSeconds() - start;
        query = run == 0 ? took : std::min(query, took);
        spent += took;
    }
    std::size_t bytes = 0;
    const double start = ThreadSeconds();
    for (auto _ : state) {
        const std::string page = BuildZumvoReportPage(data, From, To, "file:///opt/pallux/Res/");
        bytes = page.size();
        benchmark::DoNotOptimize(page.data());
    }
    const double page = (ThreadSeconds() - start) / double(state.iterations());
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
    state.counters["query_ms"] = query * 1e3;
    state.counters["page/query"] = page / query;
}

void Receipt(benchmark::State& state, bool indexed) {
    const int baskets = int(state.range(0));
    const auto& dbs = Databases(baskets);
    UseDatabase(indexed ? dbs.Indexed : dbs.Unindexed);
    const std::string invoice = "{\"InvID\": " + std::to_string(baskets / 2 + 1) + "}"; // an invoiced one
    for (auto _ : state) {
        auto addon = pallux::MakeIntf<TPrinterAddonZumvo>();
        addon->Initialise(invoice);
        std::string text;
        if (!addon->GetAddonText4(text))
            state.SkipWithError("no receipt block");
        benchmark::DoNotOptimize(text);
    }
    if (!indexed)
        state.SetLabel("baseline");
}

// The look-up of rows still holding money that follows every completed sale.
void HeldFunds(benchmark::State& state, bool indexed) {
    const auto& dbs = Databases(int(state.range(0)));
    UseDatabase(indexed ? dbs.Indexed : dbs.Unindexed);
    auto store = pallux::MakeIntf<TZumvoTransaction>();
    for (auto _ : state) {
        std::string rows;
        store->GetHeldFunds(rows);
        if (rows.empty())
            state.SkipWithError("the held-funds look-up failed");
        benchmark::DoNotOptimize(rows);
    }
    if (!indexed)
        state.SetLabel("baseline");
}

void PrintPlans() {
    auto& db = dynamic_cast<refhost::TSqliteDatabase&>(*Databases(1000).Indexed);
    const std::string lookups[] = {
        "SELECT * FROM [ZumvoPaymentBasket] WHERE [InvoiceNum] = 500",
        "SELECT * FROM [ZumvoPaymentTransactions] WHERE [BasketID] = 500",
        "SELECT WPB.ID FROM ZumvoPaymentBasket WPB WHERE WPB.Timestamp_Created BETWEEN '2026-03-01' AND "
        "DATEADD( DAY, 1, '2026-03-31' ) ORDER BY WPB.ID",
        "SELECT ID FROM ZumvoPaymentTransactions WHERE BasketID IN ( 1,2,3 ) ORDER BY BasketID, ID",
        "SELECT T.ID FROM ZumvoPaymentTransactions T LEFT JOIN ZumvoPaymentBasket B ON B.ID = T.BasketID WHERE " +
            zumvo::HeldFundsCondition() + " ORDER BY T.ID"};
    std::cout << "EXPLAIN QUERY PLAN of the look-ups (1k baskets):\n";
    for (const std::string& sql : lookups)
        std::cout << "  " << sql << "\n    " << db.QueryPlan(sql);
    std::cout << std::endl;
}

} // namespace

BENCHMARK(ReportQuery)
    ->Name("report/query")
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ReportPage)
    ->Name("report/page")
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Receipt, noindex, false)
    ->Name("receipt/noindex")
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Receipt, lookup, true)
    ->Name("receipt/lookup")
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_CAPTURE(HeldFunds, noindex, false)
    ->Name("heldfunds/noindex")
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(HeldFunds, lookup, true)
    ->Name("heldfunds/lookup")
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    int rc = 0;
    try {
        PrintPlans();
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& e) {
        std::cerr << "bench_report: " << e.what() << '\n';
        rc = 1;
    }
    benchmark::Shutdown();
    ModuleContainer().reset();
    BenchContainer().reset();
    fs::remove_all(Folder);
    return rc;
}
