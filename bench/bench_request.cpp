// One Transaction request of the module (TZumvoAPI through the host's REST client, with its log
// lines and log flush) against the voucher simulator on loopback, beside its floor measured in the
// same run: the same request bytes on a kept-alive libcurl handle plus one log line and flush.
// Over HTTP and HTTPS (a throw-away CA made with the openssl command), on a kept connection and
// on a new connection per request.
#include "TDIContainer.h"
#include "THostServices.h"
#include "TRestClient.h"
#include "VoucherSim.h"
#include "ZumvoLog.h"
#include "clsModuleContainer.h"
#include "implZumvoAPI.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <curl/curl.h>

namespace fs = std::filesystem;

namespace {

// The simulators (HTTP and HTTPS), the certificates and the module's log, for the whole run.
struct TRig {
    fs::path Folder = fs::temp_directory_path() / ("zumvo_bench_request_" + std::to_string(getpid()));
    std::unique_ptr<sim::TVoucherSim> Http, Https;
    bool HaveTls = false;

    TRig() {
        fs::create_directories(Folder);
        const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        std::ofstream(Folder / "ext.cnf") << "subjectAltName=IP:127.0.0.1\n";
        const std::string script =
            "cd '" + Folder.string() + "' && openssl req -x509" + key +
            " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Bench CA' && openssl req" + key +
            " -keyout server.key -out server.csr -subj '/CN=127.0.0.1' && openssl x509 -req"
            " -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2"
            " -extfile ext.cnf";
        HaveTls = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
        const auto catalogue = sim::TVoucherCatalogue::FromFile(ZUMVO_SOURCE_DIR "/sim/data/catalogue.json");
        Http = std::make_unique<sim::TVoucherSim>(catalogue);
        Http->Start();
        if (HaveTls) {
            Https = std::make_unique<sim::TVoucherSim>(catalogue);
            Https->UseTls((Folder / "server.pem").string(), (Folder / "server.key").string());
            Https->Start();
        }
        zumvo::TLogSettings log;
        log.DestinationPath = Folder;
        log.ComputerName = "BENCH";
        zumvo::ConfigureLog(log);
    }
    ~TRig() {
        zumvo::ShutdownLog();
        Http.reset();
        Https.reset();
        fs::remove_all(Folder);
    }
    std::string Base(bool tls) const {
        return std::string(tls ? "https" : "http") +
               "://127.0.0.1:" + std::to_string((tls ? Https : Http)->Port());
    }
    std::string CAFile() const { return (Folder / "ca.pem").string(); }
};

TRig& Rig() {
    static TRig rig;
    return rig;
}

void Transaction(zumvo::TZumvoAPI& api, int i) {
    std::string response;
    api.Transaction("12-5", "9", "12-" + std::to_string(i), "PAY-100", "ZUMVO", 100, 100, "PAYMENT", "",
                    response);
    if (response.find("<responseCode>-1</responseCode>") == std::string::npos)
        throw std::runtime_error("not accepted: " + response);
}

// The module's request: a new REST client per request from the container, as the module makes it.
void Module(benchmark::State& state, bool tls, bool kept) {
    TRig& rig = Rig();
    if (tls && !rig.HaveTls) {
        state.SkipWithError("no openssl command: HTTPS not measured");
        return;
    }
    auto container = pallux::MakeIntf<refhost::TDIContainer, refhost::TDIContainer>();
    const std::string caFile = rig.CAFile();
    refhost::RegisterHostFactory<pallux::IRestClient>(*container, [caFile, kept] {
        refhost::TRestSettings s;
        s.CAFile = caFile;
        if (!kept) // a cache of its own: a new connection (and handshake) per request
            s.Connections = std::make_shared<refhost::TRestConnections>();
        return pallux::MakeIntf<refhost::TRestClient>(s);
    });
    zumvo::ModuleContainer() = pallux::IntfPtr<pallux::IDIContainer>(container.get());
    auto api = pallux::MakeIntf<zumvo::TZumvoAPI, zumvo::TZumvoAPI>();
    api->SetServer(rig.Base(tls), sim::DefaultSoapPath);
    api->SetCredentials("zumvo", "zumvo-secret");
    api->SetStore(12, "Till-1");
    int i = 0;
    for (auto _ : state)
        Transaction(*api, ++i);
    zumvo::ModuleContainer().reset();
    (tls ? rig.Https : rig.Http)->Service().Reset();
}

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

// The floor: the same envelope, built once, posted on one kept-alive libcurl handle, and one log
// line with its flush.
void Floor(benchmark::State& state, bool tls, bool kept) {
    TRig& rig = Rig();
    if (tls && !rig.HaveTls) {
        state.SkipWithError("no openssl command: HTTPS not measured");
        return;
    }
    const zumvo::TSoapCaller caller{"zumvo", "zumvo-secret", 12, "Till-1"};
    const std::string envelope = zumvo::TransactionEnvelope(
        caller, {"12-5", "9", "12-1", "PAY-100", "ZUMVO", 100, 100, "PAYMENT", ""});
    const std::string url = rig.Base(tls) + sim::DefaultSoapPath;
    const std::string caFile = rig.CAFile();
    CURL* h = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: text/xml; charset=utf-8");
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, envelope.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(envelope.size()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(h, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, kept ? 0L : 1L);
    for (auto _ : state) {
        if (curl_easy_perform(h) != CURLE_OK)
            throw std::runtime_error("the floor's request failed");
        zumvo::LogInfo("[Floor] Response : %", "x");
        zumvo::FlushLog();
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(h);
    (tls ? rig.Https : rig.Http)->Service().Reset();
}

const bool registered = [] {
    for (bool tls : {false, true})
        for (bool kept : {true, false}) {
            const std::string size = std::string(tls ? "https" : "http") + (kept ? "_kept" : "_new");
            benchmark::RegisterBenchmark(("request/floor/" + size).c_str(),
                                         [tls, kept](benchmark::State& s) {
                                             Floor(s, tls, kept);
                                             s.SetLabel("baseline");
                                         })
                ->UseRealTime()
                ->MinTime(1.0);
            benchmark::RegisterBenchmark(("request/module/" + size).c_str(),
                                         [tls, kept](benchmark::State& s) { Module(s, tls, kept); })
                ->UseRealTime()
                ->MinTime(1.0);
        }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
