// One voucher code redeemed end to end, as the cashier does it: the engine (TVoucherZumvo) opens
// the real payment screen, which QTest drives headless (code typed, Redeem, Add, Done), against
// the voucher simulator on loopback and the module's tables in a SQLite file. Beside it, in the
// same process and run, its floor: the request bytes of one redemption posted on one libcurl
// handle, the SQLite statements the redemption ran executed on the same database file, and one
// log line with its flush. Over HTTP and HTTPS, on kept connections and on a new connection per
// request.
#include "BenchSimRig.h"
#include "FZumvoPayment.h"
#include "PersistenceTestHost.h"
#include "TRestClient.h"
#include "TSqliteDatabase.h"
#include "implCurrentBasket.h"
#include "implDataChangesZumvo.h"
#include "implVoucherZumvo.h"
#include "implZumvoAPI.h"
#include "implZumvoLogic.h"

#include <QAbstractButton>
#include <QApplication>
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
    void Redeem(const std::string& code) {
        TJSONDocument invoice;
        invoice.Add("InvoiceNum", ++FInvoiceNum);
        invoice.Add("AfterDisc", 1.0);
        invoice.Add("Cashier", "9");
        TJSONValue item = invoice.AddArray("LineItems").AppendObject();
        item.Add("Code", "SKU1");
        item.Add("Price", 1.0);
        item.Add("Quantity", 1);

        // The screen is driven as soon as the engine's modal loop runs.
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
        auto engine = pallux::MakeIntf<zumvo::TVoucherZumvo, zumvo::TVoucherZumvo>();
        std::string answer;
        const bool done = engine->DoVoucher(invoice.ToJSON(), answer, true);
        if (!driven || !done || TJSONDocument::Parse(answer)["VoucherAmount"].AsFloat() != 1.0)
            throw std::runtime_error("the code was not redeemed: " + answer);
    }

    TPersistenceTestHost Host;
    std::shared_ptr<refhost::TSqliteDatabase> Database;
    std::string DatabaseFile;

private:
    std::int32_t FInvoiceNum = 7000;

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

void Redeem(benchmark::State& state, bool tls, bool kept) {
    if (tls && !gRig->HaveTls) {
        state.SkipWithError("no openssl command: HTTPS not measured");
        return;
    }
    gHost->UseServer(gRig->Base(tls), gRig->CAFile(), kept);
    for (auto _ : state)
        gHost->Redeem("PAY-100");
    gRig->Sim(tls).Service().Reset();
}

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

// The floor: the recorded redemption's requests on one libcurl handle, its statements on the same
// database file, one log line and its flush.
void Floor(benchmark::State& state, bool tls, bool kept) {
    if (tls && !gRig->HaveTls) {
        state.SkipWithError("no openssl command: HTTPS not measured");
        return;
    }
    gHost->UseServer(gRig->Base(tls), gRig->CAFile(), kept);
    TRecording& r = Recorded();
    r = {};
    r.Recording = true;
    gHost->Redeem("PAY-100");
    r.Recording = false;
    if (r.Requests.empty() || r.Statements.empty()) {
        state.SkipWithError("the redemption sent or ran nothing");
        return;
    }
    bench::TFloorPoster poster(gRig->Base(tls) + sim::DefaultSoapPath, gRig->CAFile(), kept);
    TRawDatabase db(gHost->DatabaseFile);
    for (auto _ : state) {
        for (const auto& body : r.Requests)
            poster.Post(body);
        for (const auto& sql : r.Statements)
            db.Run(sql);
        zumvo::LogInfo("[Floor] Response : %", "x");
        zumvo::FlushLog();
    }
    state.counters["requests"] = static_cast<double>(r.Requests.size());
    state.counters["statements"] = static_cast<double>(r.Statements.size());
    gRig->Sim(tls).Service().Reset();
}

void Register() {
    for (bool tls : {false, true})
        for (bool kept : {true, false}) {
            const std::string size = std::string(tls ? "https" : "http") + (kept ? "_kept" : "_new");
            benchmark::RegisterBenchmark(("redeem/floor/" + size).c_str(),
                                         [tls, kept](benchmark::State& s) {
                                             Floor(s, tls, kept);
                                             s.SetLabel("baseline");
                                         })
                ->UseRealTime()
                ->MinTime(1.0);
            benchmark::RegisterBenchmark(("redeem/module/" + size).c_str(),
                                         [tls, kept](benchmark::State& s) { Redeem(s, tls, kept); })
                ->UseRealTime()
                ->MinTime(1.0);
        }
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
