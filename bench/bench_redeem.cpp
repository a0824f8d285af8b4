// The cashier's side of a code, each beside its floor in interleaved rounds (BenchPair.h):
//  - redeem: one code end to end: the engine (TVoucherZumvo) opens the real payment screen, which
//    QTest drives headless (code typed, Redeem, Add, Done);
//  - check: one code on a screen already open, from the Redeem click to the answer painted;
//  - screen_open: the payment screen built, shown, painted once and closed (figures, no floor);
//  - sale_vs_provider_wan: a whole sale with the provider 25 ms away (Voucher pressed, screen
//    open, code typed, Redeem, Add, Done, payment events, Complete with its FINALISE) against the
//    same sale's provider requests alone on a kept connection to the same far-away provider;
//  - sale_after_backlog_vs_sale: the same whole sale at a 50 ms round trip with a backlog of old
//    rows that may hold money (BACKLOG rows, 10,000 unless ZUMVO_BENCH_BACKLOG says otherwise)
//    against the same sale on a database without any: the backlog's rows are due (each sale's
//    retry sends its share of them) or, in sale_after_spent_backlog_vs_sale, listed with their
//    automatic retries spent (the sale only looks at them); sale_after_backlog_vs_small_backlog
//    sets the same sale with BACKLOG due rows against one with 100;
//  - backoffice_retry_vs_round_trips: the back office's retry of every row of a backlog of BACKLOG
//    due rows, with its progress callback, against BACKLOG round trips of the floor (one advice's
//    bytes on a kept connection, sampled during the run); it sends them one after another, so at
//    the default it runs for BACKLOG x 50 ms (over eight minutes).
// The floor of redeem and check is what the module cannot do without, recorded from one of its
// own runs: its request bytes on one libcurl handle, the SQLite statements it ran executed on the
// same database file through a connection of their own, and one log line with its flush. Against
// the voucher simulator on loopback over HTTP and HTTPS, on kept connections and on a new
// connection per request, and the module's tables in a SQLite file.
#include "BenchPair.h"
#include "BenchSimRig.h"
#include "FZumvoPayment.h"
#include "PerfCounter.h"
#include "PersistenceTestHost.h"
#include "TRestClient.h"
#include "TSqliteDatabase.h"
#include "clsAdviceRetry.h"
#include "implCurrentBasket.h"
#include "implDataChangesZumvo.h"
#include "implVoucherZumvo.h"
#include "implZumvoAPI.h"
#include "implZumvoLogic.h"
#include "intfZumvoInfo.h"
#include "intfZumvoTransaction.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

namespace {

using zumvo::TJSONDocument;
using zumvo::TJSONValue;
using zumvo::test::TPersistenceTestHost;

template <class Factory> pallux::IntfPtr<pallux::IServiceFactory> NewFactory() {
    return pallux::MakeIntf<Factory, pallux::IServiceFactory>();
}

// What one redemption sent and ran, collected while Recording is set.
struct TRecording {
    bool Recording = false;
    std::vector<std::string> Requests;
    std::vector<std::string> Statements;
};

TRecording& Recorded() {
    static TRecording r;
    return r;
}

// The host's REST client, noting the bodies it posts while a redemption is recorded.
class TRecordingRestClient : public refhost::TRestClient {
public:
    using TRestClient::TRestClient;
    std::string PALLUX_CALL Post(const std::string& resource, const std::string& body,
                                 const pallux::TStringList& headers, std::int32_t options) override {
        if (Recorded().Recording)
            Recorded().Requests.push_back(body);
        return TRestClient::Post(resource, body, headers, options);
    }
};

// The module's services on a SQLite host database whose statements can be recorded.
class TRedeemHost {
public:
    TRedeemHost() {
        const std::string file = (Host.Folder / "redeem.db").string();
        Database = std::make_shared<refhost::TSqliteDatabase>(file);
        DatabaseFile = file;
        refhost::CreateHostTables(*Database, true);
        Database->WatchStatements([](const std::string& sql) {
            if (Recorded().Recording)
                Recorded().Statements.push_back(sql);
        });
        auto& c = *Host.Container;
        c.RegisterFactory(pallux::IDBScript::IID,
                          pallux::MakeIntf<refhost::TDBScriptFactory>(Database).get());
        std::vector<std::string> scripts;
        pallux::MakeIntf<zumvo::TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
        for (const auto& s : scripts)
            Database->RunBatch(s);
        c.RegisterFactory(zumvo::ICurrentBasket::IID, NewFactory<zumvo::TCurrentBasketFactory>().get());
        c.RegisterFactory(zumvo::IZumvoLogic::IID, NewFactory<zumvo::TZumvoLogicFactory>().get());
        c.RegisterFactory(zumvo::IZumvoAPI::IID, NewFactory<zumvo::TZumvoAPIFactory>().get());
    }
    ~TRedeemHost() { Host.Container->ReleaseInstance(zumvo::ICurrentBasket::IID); }

    // A host database of its own (the host's tables, the module's), in the host's folder.
    std::shared_ptr<refhost::TSqliteDatabase> NewDatabase(const std::string& name) {
        auto database = std::make_shared<refhost::TSqliteDatabase>((Host.Folder / name).string());
        refhost::CreateHostTables(*database, true);
        std::vector<std::string> scripts;
        pallux::MakeIntf<zumvo::TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
        for (const auto& s : scripts)
            database->RunBatch(s);
        return database;
    }
    // The module's statements go to this database from now on (nullptr: the first one).
    void UseDatabase(const std::shared_ptr<refhost::TSqliteDatabase>& database) {
        Host.Container->RegisterFactory(
            pallux::IDBScript::IID,
            pallux::MakeIntf<refhost::TDBScriptFactory>(database ? database : Database).get());
    }

    // The module's settings and REST clients for one simulator: every client shares the host's
    // connections (kept) or has a cache of its own (a new connection per request).
    void UseServer(const std::string& base, const std::string& caFile, bool kept) {
        Host.WriteSettings("[Settings]\nZumvoStoreID=17\nSOAPServer=" + base +
                           "\nSOAPUrl=/pos/services/PosService\nSOAPID=zumvo\nSOAPPWD=zumvo-secret\n");
        // A till's settings are written before its sales, not during them: dated back beyond the
        // settings service's two seconds of distrust after a write (when it compares the whole text
        // on every read), so the redemptions measured do not read an unchanged file again and again.
        std::filesystem::last_write_time(zumvo::ModuleSettingsFile(),
                                         std::filesystem::file_time_type::clock::now() -
                                             std::chrono::seconds(5));
        refhost::RegisterHostFactory<pallux::IRestClient>(*Host.Container, [caFile, kept] {
            refhost::TRestSettings s;
            s.CAFile = caFile;
            if (!kept)
                s.Connections = std::make_shared<refhost::TRestConnections>();
            return pallux::MakeIntf<TRecordingRestClient>(s);
        });
    }

    // One code redeemed on a new invoice through the payment screen; throws unless it paid.
    void Redeem(const std::string& code) { Apply(code, NewEngine()); }

    // A whole sale as the cashier waits for it: Voucher pressed, the screen driven (code typed,
    // Redeem, Add, Done), the host's payment events, Complete (the engine's FINALISE).
    void Sale(const std::string& code) {
        auto engine = NewEngine();
        const std::int32_t invoice = Apply(code, engine);
        engine->Event_BeforePayment("Pallux.Invoicing.Transaction.BeforePayment", "", 0);
        engine->Event_PaymentSuccess("Pallux.Invoicing.Transaction.AfterPaymentSuccess", "", 0);
        std::string answer;
        if (!engine->TransactionFinalise(Invoice(invoice).ToJSON(), answer))
            throw std::runtime_error("the sale did not complete");
    }

    // The invoice data and settings the engine hands the payment screen, for a basket of its own.
    TJSONDocument ScreenInvoice(pallux::IntfPtr<pallux::IINISettings>& settings) {
        pallux::IntfPtr<zumvo::IZumvoInfo> info;
        pallux::IntfPtr<zumvo::IZumvoTransaction> store;
        if (!zumvo::GetSingletonService(info) || !zumvo::CreateService(store))
            throw std::runtime_error("no ZumvoInfo or ZumvoTransaction");
        info->GetSettings(settings);
        TJSONDocument data = Invoice(++FInvoiceNum, 1000000.0);
        data.Add("CurrentTillID", info->GetTillID());
        data.Add("BasketID", store->AddBasket(info->GetTillID()));
        data.Add("PalluxStoreID", info->GetStoreID());
        data.Add("TvStoreStoreID", info->CalcZumvoStoreID(-1));
        data.Add("CurrentAmount", static_cast<std::int64_t>(100000000));
        return data;
    }

    TPersistenceTestHost Host;
    std::shared_ptr<refhost::TSqliteDatabase> Database;
    std::string DatabaseFile;

private:
    std::int32_t FInvoiceNum = 7000;

    static pallux::IntfPtr<zumvo::TVoucherZumvo> NewEngine() {
        return pallux::MakeIntf<zumvo::TVoucherZumvo, zumvo::TVoucherZumvo>();
    }

    static TJSONDocument Invoice(std::int32_t number, double amount = 1.0) {
        TJSONDocument invoice;
        invoice.Add("InvoiceNum", number);
        invoice.Add("AfterDisc", amount);
        invoice.Add("Cashier", "9");
        TJSONValue item = invoice.AddArray("LineItems").AppendObject();
        item.Add("Code", "SKU1");
        item.Add("Price", amount);
        item.Add("Quantity", 1);
        return invoice;
    }

    // Voucher pressed on a new invoice, the screen driven as soon as the engine's modal loop runs;
    // answers the invoice number. Throws unless the code paid the invoice.
    std::int32_t Apply(const std::string& code, const pallux::IntfPtr<zumvo::TVoucherZumvo>& engine) {
        const std::int32_t number = ++FInvoiceNum;
        bool driven = false;
        QTimer watch;
        watch.setInterval(0);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* screen = dynamic_cast<zumvo::TfrmZumvoPayment*>(w); screen && screen->isVisible()) {
                    watch.stop();
                    Drive(*screen, code);
                    driven = true;
                    return;
                }
        });
        watch.start();
        std::string answer;
        const bool done = engine->DoVoucher(Invoice(number).ToJSON(), answer, true);
        if (!driven || !done || TJSONDocument::Parse(answer)["VoucherAmount"].AsFloat() != 1.0)
            throw std::runtime_error("the code was not redeemed: " + answer);
        return number;
    }

    static void Drive(zumvo::TfrmZumvoPayment& screen, const std::string& code) {
        auto* edit = screen.findChild<QLineEdit*>("txtVoucherCode");
        if (!edit)
            throw std::logic_error("no txtVoucherCode on the payment screen");
        QTest::keyClicks(edit, QString::fromStdString(code));
        for (const char* name : {"btnCheck", "btnOK", "btnDone"}) {
            auto* button = screen.findChild<QAbstractButton*>(name);
            if (!button || !button->isEnabled() || !button->isVisible()) {
                screen.done(QDialog::Rejected);
                return;
            }
            QTest::mouseClick(button, Qt::LeftButton);
        }
    }
};

bench::TSimRig* gRig = nullptr;
TRedeemHost* gHost = nullptr;

// A connection of its own to the host's database file for the floor's statements.
class TRawDatabase {
public:
    explicit TRawDatabase(const std::string& file) {
        if (sqlite3_open_v2(file.c_str(), &FDb, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open " + file);
        sqlite3_busy_timeout(FDb, 10000);
    }
    ~TRawDatabase() { sqlite3_close(FDb); }
    TRawDatabase(const TRawDatabase&) = delete;
    TRawDatabase& operator=(const TRawDatabase&) = delete;

    // Prepares, steps through and finalises one statement.
    void Run(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(FDb, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("floor statement refused: ") + sqlite3_errmsg(FDb) + ": " +
                                     sql);
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE)
            throw std::runtime_error(std::string("floor statement failed: ") + sqlite3_errmsg(FDb) + ": " +
                                     sql);
    }

private:
    sqlite3* FDb = nullptr;
};

// Runs fn while the requests and statements it causes are recorded; answers them.
template <class Fn> TRecording Record(Fn&& fn) {
    TRecording& r = Recorded();
    r = {};
    r.Recording = true;
    fn();
    r.Recording = false;
    if (r.Requests.empty())
        throw std::runtime_error("the recorded work sent nothing");
    return r;
}

// A floor: the recorded requests posted on one libcurl handle (kept) or a new handle each, the
// recorded statements on the same database file, one log line and its flush.
class TFloor {
public:
    TFloor(TRecording recording, const std::string& url, bool kept)
        : FRecording(std::move(recording)), FUrl(url), FKept(kept), FPoster(url, gRig->CAFile(), true),
          FDb(gHost->DatabaseFile) {}

    void Run() {
        for (const auto& body : FRecording.Requests) {
            if (FKept) {
                FPoster.Post(body);
            } else {
                bench::TFloorPoster poster(FUrl, gRig->CAFile(), false);
                poster.Post(body);
            }
        }
        for (const auto& sql : FRecording.Statements)
            FDb.Run(sql);
        zumvo::LogInfo("[Floor] Response : %", "x");
        zumvo::FlushLog();
    }
    const TRecording& Recording() const { return FRecording; }

private:
    TRecording FRecording;
    std::string FUrl;
    bool FKept;
    bench::TFloorPoster FPoster;
    TRawDatabase FDb;
};

bool NeedTls(benchmark::State& state, bool tls) {
    if (tls && !gRig->HaveTls) {
        state.SkipWithError("no openssl command: HTTPS not measured");
        return false;
    }
    return true;
}

// One code end to end (engine, screen, Add, Done) against its floor.
void RedeemPair(benchmark::State& state, bool tls, bool kept) {
    if (!NeedTls(state, tls))
        return;
    gHost->UseServer(gRig->Base(tls), gRig->CAFile(), kept);
    TFloor floor(Record([] { gHost->Redeem("PAY-100"); }), gRig->Base(tls) + sim::DefaultSoapPath, kept);
    bench::TPairOptions options;
    bench::RunPair(state, bench::Timed(bench::TClockKind::Wall, [] { gHost->Redeem("PAY-100"); }),
                   bench::Timed(bench::TClockKind::Wall, [&] { floor.Run(); }), options);
    state.counters["requests"] = static_cast<double>(floor.Recording().Requests.size());
    state.counters["statements"] = static_cast<double>(floor.Recording().Statements.size());
    gRig->Sim(tls).Service().Reset();
}

// The payment screen open on an invoice of its own; Check() times one code from the Redeem click
// to the answer painted. Unpainted, the screen's updates are off: the same click, the same work
// behind it and the same texts set, nothing drawn.
class TOpenScreen {
public:
    explicit TOpenScreen(bool painted = true) : FData(gHost->ScreenInvoice(FSettings)) {
        FScreen.Prepare(FData, FSettings);
        FScreen.show();
        QApplication::processEvents();
        FScreen.setUpdatesEnabled(painted);
        FEdit = FScreen.findChild<QLineEdit*>("txtVoucherCode");
        FCheck = FScreen.findChild<QAbstractButton*>("btnCheck");
        FAdd = FScreen.findChild<QAbstractButton*>("btnOK");
        FResponse = FScreen.findChild<QLabel*>("lblResponse");
        if (!FEdit || !FCheck || !FAdd || !FResponse)
            throw std::logic_error("the payment screen lacks its controls");
    }
    ~TOpenScreen() { FScreen.hide(); }
    TOpenScreen(const TOpenScreen&) = delete;
    TOpenScreen& operator=(const TOpenScreen&) = delete;

    // Untimed: a fresh screen state (no list growing from code to code), the code typed. Timed:
    // Redeem clicked, the answer painted. Untimed: the answer checked, Add.
    double Check(const std::string& code) {
        FScreen.Prepare(FData, FSettings);
        FEdit->setText(QString::fromStdString(code));
        QApplication::processEvents();
        const double start = bench::NowNs(bench::TClockKind::Wall);
        QTest::mouseClick(FCheck, Qt::LeftButton);
        QApplication::processEvents(); // the answer's paint
        const double took = bench::NowNs(bench::TClockKind::Wall) - start;
        if (FResponse->text() != "Approved" || !FAdd->isVisible())
            throw std::runtime_error("the code was not accepted: " + FResponse->text().toStdString());
        QTest::mouseClick(FAdd, Qt::LeftButton);
        return took;
    }

private:
    pallux::IntfPtr<pallux::IINISettings> FSettings;
    TJSONDocument FData;
    zumvo::TfrmZumvoPayment FScreen;
    QLineEdit* FEdit = nullptr;
    QAbstractButton* FCheck = nullptr;
    QAbstractButton* FAdd = nullptr;
    QLabel* FResponse = nullptr;
};

// One code on a screen already open against its floor (the check's own requests and statements).
void CheckPair(benchmark::State& state, bool tls, bool kept, bool painted = true) {
    if (!NeedTls(state, tls))
        return;
    gHost->UseServer(gRig->Base(tls), gRig->CAFile(), kept);
    TOpenScreen screen(painted);
    TFloor floor(Record([&] { screen.Check("PAY-100"); }), gRig->Base(tls) + sim::DefaultSoapPath, kept);
    bench::TPairOptions options;
    bench::RunPair(
        state,
        [&](int calls) {
            double total = 0;
            for (int i = 0; i < calls; ++i)
                total += screen.Check("PAY-100");
            return total;
        },
        bench::Timed(bench::TClockKind::Wall, [&] { floor.Run(); }), options);
    state.counters["requests"] = static_cast<double>(floor.Recording().Requests.size());
    state.counters["statements"] = static_cast<double>(floor.Recording().Statements.size());
    gRig->Sim(tls).Service().Reset();
}

// The payment screen on its own: built, filled, shown, painted once, closed and freed. Wall and
// CPU time and, where the machine has the counter, instructions: medians of many opens.
void ScreenOpen(benchmark::State& state) {
    gHost->UseServer(gRig->Base(false), gRig->CAFile(), true);
    pallux::IntfPtr<pallux::IINISettings> settings;
    const TJSONDocument data = gHost->ScreenInvoice(settings);
    bench::TInstructionCounter counter;
    std::vector<double> wall, cpu, instructions;
    for (auto _ : state) {
        const double w0 = bench::NowNs(bench::TClockKind::Wall), c0 = bench::NowNs(bench::TClockKind::Cpu);
        const std::uint64_t i0 = counter.Read();
        {
            zumvo::TfrmZumvoPayment screen;
            screen.Prepare(data, settings);
            screen.show();
            QApplication::processEvents(); // the first paint
            screen.hide();
        }
        instructions.push_back(static_cast<double>(counter.Read() - i0));
        cpu.push_back(bench::NowNs(bench::TClockKind::Cpu) - c0);
        wall.push_back(bench::NowNs(bench::TClockKind::Wall) - w0);
    }
    state.counters["wall_ns"] = bench::Quantile(wall, 0.5);
    state.counters["wall_ns_q1"] = bench::Quantile(wall, 0.25);
    state.counters["wall_ns_q3"] = bench::Quantile(wall, 0.75);
    state.counters["cpu_ns"] = bench::Quantile(cpu, 0.5);
    if (counter.Available())
        state.counters["instructions"] = bench::Quantile(instructions, 0.5);
    else
        state.SetLabel("no instruction counter: " + counter.Why());
}

// A whole sale at a 50 ms round trip against the same sale's provider requests alone, both on a
// kept connection to the far-away provider; round trips counted on the relay.
void SalePair(benchmark::State& state) {
    if (!NeedTls(state, true))
        return;
    sim::TLatencyRelay& relay = *gRig->Far();
    gHost->UseServer(gRig->FarBase(), gRig->CAFile(), true);
    const TRecording sale = Record([] { gHost->Sale("PAY-100"); });
    bench::TFloorPoster poster(gRig->FarBase() + sim::DefaultSoapPath, gRig->CAFile(), true);
    bench::TPairCounters counters;
    auto counted = [&relay](std::map<std::string, double>& into, auto&& fn) {
        const auto before = relay.Counts();
        fn();
        into["round_trips"] += static_cast<double>(relay.Counts().RoundTrips() - before.RoundTrips());
    };
    bench::TPairOptions options;
    options.MinRounds = 11;
    options.BudgetSeconds = 4;
    bench::RunPair(state,
                   bench::Timed(bench::TClockKind::Wall,
                                [&] { counted(counters.Ours, [] { gHost->Sale("PAY-100"); }); }),
                   bench::Timed(bench::TClockKind::Wall,
                                [&] {
                                    counted(counters.Reference, [&] {
                                        for (const auto& body : sale.Requests)
                                            poster.Post(body);
                                    });
                                }),
                   options, &counters);
    state.counters["requests"] = static_cast<double>(sale.Requests.size());
    gRig->Sim(true).Service().Reset();
}

// ---- a backlog of old rows

int BacklogRows() {
    const char* text = std::getenv("ZUMVO_BENCH_BACKLOG");
    const int rows = text ? std::atoi(text) : 10000;
    return rows > 0 ? rows : 10000;
}

// Old rows that may hold money, as a store that upgraded to the module may keep them: completed
// sales (ten codes a basket, on invoices of till 1) whose FINALISE failed, every third one a
// cancel whose REVERSE failed, two days old. Spent: each with its automatic retries used up.
void AddBacklog(const std::string& file, int rows, bool spent) {
    TRawDatabase db(file);
    db.Run("BEGIN");
    for (int i = 0; i < rows; ++i) {
        if (i % 10 == 0)
            db.Run(
                "INSERT INTO ZumvoPaymentBasket (Timestamp_Created, InvoiceNum, TotalAmount, TillID) VALUES "
                "(datetime('now', '-2 days'), " +
                std::to_string(900000 + i / 10) + ", 10.0, 1)");
        db.Run(
            "INSERT INTO ZumvoPaymentTransactions (Timestamp_Created, InvoiceNum, tvTrxID, Amount, Status, "
            "BasketID, AdviceAttempts, AdviceLastAttempt) VALUES (datetime('now', '-2 days'), " +
            std::to_string(900000 + i / 10) + ", " + std::to_string(500000 + i) + ", 1.0, " +
            (i % 3 == 2 ? "-3" : "-2") + ", (SELECT MAX(ID) FROM ZumvoPaymentBasket), " +
            (spent ? "1000, datetime('now', '-1 days')" : "0, NULL") + ")");
    }
    db.Run("COMMIT");
}

// A database with a backlog of old rows.
std::shared_ptr<refhost::TSqliteDatabase> BacklogDatabase(const std::string& name, int rows, bool spent) {
    auto database = gHost->NewDatabase(name);
    AddBacklog((gHost->Host.Folder / name).string(), rows, spent);
    return database;
}

// A side that runs its sales on its own database.
bench::TSideOp SalesOn(std::shared_ptr<refhost::TSqliteDatabase> database) {
    return [database](int calls) {
        gHost->UseDatabase(database);
        const double start = bench::NowNs(bench::TClockKind::Wall);
        for (int i = 0; i < calls; ++i)
            gHost->Sale("PAY-100");
        return bench::NowNs(bench::TClockKind::Wall) - start;
    };
}

// A whole sale at a 50 ms round trip on a database with a backlog against the same sale on one
// with `fewer` rows of the same kind (none: a database of its own, empty).
void SaleAfterBacklogPair(benchmark::State& state, bool spent, int fewer) {
    if (!NeedTls(state, true))
        return;
    gHost->UseServer(gRig->FarBase(), gRig->CAFile(), true);
    const std::string kind = spent ? "spent" : "due";
    const auto backlog = BacklogDatabase("backlog_" + kind + ".db", BacklogRows(), spent);
    const auto other = BacklogDatabase("backlog_" + kind + "_" + std::to_string(fewer) + ".db", fewer, spent);
    bench::TPairOptions options;
    options.MinRounds = 11;
    options.BudgetSeconds = 6;
    bench::RunPair(state, SalesOn(backlog), SalesOn(other), options);
    state.counters["backlog"] = BacklogRows();
    gHost->UseDatabase(nullptr);
    gRig->Sim(true).Service().Reset();
}

// The back office's retry of a whole backlog, as its held-funds screen runs it (the progress
// callback letting the screen's events through between advices), at a 50 ms round trip, against
// as many round trips of the floor: one advice's bytes posted on a kept connection. The floor's
// round trips are sampled during the run (one every 50 advices, its time left out of ours), so
// both see the same machine.
void BackOfficeRetryPair(benchmark::State& state) {
    if (!NeedTls(state, true))
        return;
    gHost->UseServer(gRig->FarBase(), gRig->CAFile(), true);
    const int rows = BacklogRows();
    gHost->UseDatabase(BacklogDatabase("backoffice_retry.db", rows, false));
    const TRecording sale = Record([] { gHost->Sale("PAY-100"); });
    std::string advice;
    for (const auto& body : sale.Requests)
        if (body.find("FINALISE") != std::string::npos)
            advice = body;
    if (advice.empty()) {
        state.SkipWithError("the sale sent no FINALISE");
        return;
    }
    bench::TFloorPoster poster(gRig->FarBase() + sim::DefaultSoapPath, gRig->CAFile(), true);
    poster.Post(advice); // its connection made before the run
    std::vector<double> trips;
    const auto floorTrip = [&] {
        const double start = bench::NowNs(bench::TClockKind::Wall);
        poster.Post(advice);
        const double took = bench::NowNs(bench::TClockKind::Wall) - start;
        trips.push_back(took);
        return took;
    };
    zumvo::TRetryResult result;
    double took = 0;
    for (auto _ : state) {
        zumvo::TRetryRequest request;
        request.Trigger = zumvo::TRetryTrigger::OnDemand;
        int told = 0;
        double floorTime = 0;
        const double start = bench::NowNs(bench::TClockKind::Wall);
        result = zumvo::TAdviceRetry().Run(request, [&](int sent, int) {
            told = sent;
            if (sent % 50 == 25)
                floorTime += floorTrip();
            QApplication::processEvents();
            return true;
        });
        took = bench::NowNs(bench::TClockKind::Wall) - start - floorTime;
        if (told != result.Attempted)
            state.SkipWithError("the progress did not reach the end");
    }
    for (int i = 0; i < 11; ++i) // a few more where the backlog is small
        floorTrip();
    const double advices = std::max(result.Attempted, 1);
    const double roundTrip = bench::Quantile(trips, 0.5);
    state.counters["ratio"] = took / (advices * roundTrip);
    state.counters["ratio_q1"] = took / (advices * bench::Quantile(trips, 0.75));
    state.counters["ratio_q3"] = took / (advices * bench::Quantile(trips, 0.25));
    state.counters["ours_ns"] = took / advices;
    state.counters["reference_ns"] = roundTrip;
    state.counters["rounds"] = 1;
    state.counters["samples"] = static_cast<double>(trips.size());
    state.counters["advices"] = result.Attempted;
    state.counters["rows"] = rows;
    gHost->UseDatabase(nullptr);
    gRig->Sim(true).Service().Reset();
}

void Register() {
    // First: a sale's look-up of held funds reads every row still open, and the pairs below
    // leave thousands of accepted codes never added.
    bench::RegisterPair("sale_vs_provider_wan", SalePair);
    // A sale's cost does not grow with the rows an upgraded store keeps from before: it sends a
    // bounded share of them (due) or only looks at a bounded part of the list (spent).
    bench::RegisterPair("sale_after_backlog_vs_sale",
                        [](benchmark::State& s) { SaleAfterBacklogPair(s, false, 0); });
    bench::RegisterPair("sale_after_spent_backlog_vs_sale",
                        [](benchmark::State& s) { SaleAfterBacklogPair(s, true, 0); });
    bench::RegisterPair("sale_after_backlog_vs_small_backlog",
                        [](benchmark::State& s) { SaleAfterBacklogPair(s, false, 100); });
    bench::RegisterPair("backoffice_retry_vs_round_trips", BackOfficeRetryPair);
    for (bool tls : {false, true})
        for (bool kept : {true, false}) {
            const std::string suffix = std::string(tls ? "https" : "http") + (kept ? "" : "_new");
            bench::RegisterPair("redeem_vs_floor_" + suffix,
                                [tls, kept](benchmark::State& s) { RedeemPair(s, tls, kept); });
            bench::RegisterPair("check_vs_floor_" + suffix,
                                [tls, kept](benchmark::State& s) { CheckPair(s, tls, kept); });
        }
    // The same code as check_vs_floor_https with nothing drawn: what the screen's painting adds
    // is the difference between the two.
    bench::RegisterPair("check_unpainted_vs_floor_https",
                        [](benchmark::State& s) { CheckPair(s, true, true, false); });
    benchmark::RegisterBenchmark("figure/screen_open", ScreenOpen)
        ->Iterations(200)
        ->Unit(benchmark::kMicrosecond);
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Register();
    {
        bench::TSimRig rig("redeem");
        TRedeemHost host;
        gRig = &rig;
        gHost = &host;
        benchmark::RunSpecifiedBenchmarks();
        gHost = nullptr;
        gRig = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
