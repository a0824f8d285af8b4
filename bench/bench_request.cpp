// One Transaction request of the module (TZumvoAPI through the host's REST client, with its log
// lines and log flush) against the voucher simulator on loopback, beside its floor measured in the
// same run: the same request bytes on a kept-alive libcurl handle plus one log line and flush.
// Over HTTP and HTTPS (a throw-away CA made with the openssl command), on a kept connection and
// on a new connection per request.
#include "BenchSimRig.h"
#include "TDIContainer.h"
#include "THostServices.h"
#include "TRestClient.h"
#include "clsModuleContainer.h"
#include "implZumvoAPI.h"

#include <memory>
#include <string>

#include <benchmark/benchmark.h>

namespace {

using TRig = bench::TSimRig;

TRig& Rig() {
    static TRig rig("request");
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
    rig.Sim(tls).Service().Reset();
}

// The floor: the same envelope, built once, posted on one libcurl handle, and one log line with
// its flush.
void Floor(benchmark::State& state, bool tls, bool kept) {
    TRig& rig = Rig();
    if (tls && !rig.HaveTls) {
        state.SkipWithError("no openssl command: HTTPS not measured");
        return;
    }
    const zumvo::TSoapCaller caller{"zumvo", "zumvo-secret", 12, "Till-1"};
    const std::string envelope = zumvo::TransactionEnvelope(
        caller, {"12-5", "9", "12-1", "PAY-100", "ZUMVO", 100, 100, "PAYMENT", ""});
    bench::TFloorPoster poster(rig.Base(tls) + sim::DefaultSoapPath, rig.CAFile(), kept);
    for (auto _ : state) {
        poster.Post(envelope);
        zumvo::LogInfo("[Floor] Response : %", "x");
        zumvo::FlushLog();
    }
    rig.Sim(tls).Service().Reset();
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
