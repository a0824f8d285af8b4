// One Transaction request of the module (TZumvoAPI through the host's REST client, with its log
// lines and log flush) against the voucher simulator on loopback, beside its floor in interleaved
// rounds: the same request bytes on a libcurl handle plus one log line and flush. Over HTTP and
// HTTPS (a throw-away CA made with the openssl command), on a kept connection and on a new
// connection per request (the module's client then has a connection cache of its own, the floor a
// new handle: both shake hands in full).
#include "BenchPair.h"
#include "BenchSimRig.h"
#include "TDIContainer.h"
#include "THostServices.h"
#include "TRestClient.h"
#include "clsModuleContainer.h"
#include "implZumvoAPI.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

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

// The module's Transaction client on a container whose REST clients share the host's connections
// (kept) or each have a cache of their own (a new connection, and a full handshake, per request).
// kept: the clients share one connection cache; otherwise each has its own.
pallux::IntfPtr<zumvo::TZumvoAPI> ModuleClient(TRig& rig, const std::string& base, bool kept) {
    auto container = pallux::MakeIntf<refhost::TDIContainer, refhost::TDIContainer>();
    const std::string caFile = rig.CAFile();
    auto shared = kept ? std::make_shared<refhost::TRestConnections>() : nullptr;
    refhost::RegisterHostFactory<pallux::IRestClient>(*container, [caFile, shared] {
        refhost::TRestSettings s;
        s.CAFile = caFile;
        s.Connections = shared ? shared : std::make_shared<refhost::TRestConnections>();
        return pallux::MakeIntf<refhost::TRestClient>(s);
    });
    zumvo::ModuleContainer() = pallux::IntfPtr<pallux::IDIContainer>(container.get());
    auto api = pallux::MakeIntf<zumvo::TZumvoAPI, zumvo::TZumvoAPI>();
    api->SetServer(base, sim::DefaultSoapPath);
    api->SetCredentials("zumvo", "zumvo-secret");
    api->SetStore(12, "Till-1");
    return api;
}

// The module's request (a new REST client per request from the container, as the module makes
// it, with its log lines and flush) against its floor: the same envelope, built once, posted on a
// kept libcurl handle (or a new handle per request), and one log line with its flush. Rounds of
// the two interleave.
void Pair(benchmark::State& state, bool tls, bool kept) {
    TRig& rig = Rig();
    if (tls && !rig.HaveTls) {
        state.SkipWithError("no openssl command: HTTPS not measured");
        return;
    }
    auto api = ModuleClient(rig, rig.Base(tls), kept);
    int i = 0;
    const zumvo::TSoapCaller caller{"zumvo", "zumvo-secret", 12, "Till-1"};
    const std::string envelope = zumvo::TransactionEnvelope(
        caller, {"12-5", "9", "12-1", "PAY-100", "ZUMVO", 100, 100, "PAYMENT", ""});
    const std::string url = rig.Base(tls) + sim::DefaultSoapPath;
    bench::TFloorPoster keptPoster(url, rig.CAFile(), true);
    auto floor = [&] {
        if (kept) {
            keptPoster.Post(envelope);
        } else {
            bench::TFloorPoster poster(url, rig.CAFile(), false);
            poster.Post(envelope);
        }
        zumvo::LogInfo("[Floor] Response : %", "x");
        zumvo::FlushLog();
    };
    bench::TPairOptions options;
    bench::RunPair(state, bench::Timed(bench::TClockKind::Wall, [&] { Transaction(*api, ++i); }),
                   bench::Timed(bench::TClockKind::Wall, floor), options);
    zumvo::ModuleContainer().reset();
    rig.Sim(tls).Service().Reset();
}

// The provider far away (BenchSimRig: HTTPS, 25 ms each way). Ours: the module's Transaction
// through the relay, its round trips counted there. Reference: the round trips a code cannot do
// without plus the simulator's own time, that is the same request on loopback:
//  - kept: one round trip + the request on a kept loopback connection;
//  - cold (the first code of the day: no connection, no TLS session) and reconnect (the first
//    code after the server closed the idle connection, without TLS's closing alert as nginx does
//    on its idle time-out): three round trips (TCP, TLS 1.3, the request) + the request on a new
//    loopback connection with a full handshake.
enum class TWan { Kept, Cold, Reconnect };

// Waits until every connection through the relay has had its server's end delivered (the server
// closed them and the client can see it).
void AwaitServerEnds(const sim::TLatencyRelay& relay) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        const auto c = relay.Counts();
        if (c.ServerEnds >= c.Connections)
            return;
        if (std::chrono::steady_clock::now() > end)
            throw std::runtime_error("the server's close did not come through the relay");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void WanPair(benchmark::State& state, TWan kind) {
    TRig& rig = Rig();
    if (!rig.HaveTls) {
        state.SkipWithError("no openssl command: HTTPS not measured");
        return;
    }
    sim::TLatencyRelay& relay = *rig.Far();
    auto api = ModuleClient(rig, rig.FarBase(), kind != TWan::Cold);
    int i = 0;
    bench::TPairCounters counters;
    const bench::TSideOp ours = [&](int calls) {
        double total = 0;
        for (int c = 0; c < calls; ++c) {
            if (kind == TWan::Reconnect) { // untimed: the server closes the idle connection
                relay.CloseAllFromServer();
                AwaitServerEnds(relay);
            }
            const auto before = relay.Counts();
            const std::int64_t resumedBefore = rig.Sim(true).RequestCounts().OnResumedTls;
            const double start = bench::NowNs(bench::TClockKind::Wall);
            Transaction(*api, ++i);
            total += bench::NowNs(bench::TClockKind::Wall) - start;
            const auto after = relay.Counts();
            // The simulator counts a request before it answers it: the count is in.
            if (after.Connections > before.Connections)
                counters.Ours["resumed_tls"] +=
                    static_cast<double>(rig.Sim(true).RequestCounts().OnResumedTls - resumedBefore);
            counters.Ours["round_trips"] += static_cast<double>(after.RoundTrips() - before.RoundTrips());
            counters.Ours["connections"] += static_cast<double>(after.Connections - before.Connections);
        }
        return total;
    };
    const zumvo::TSoapCaller caller{"zumvo", "zumvo-secret", 12, "Till-1"};
    const std::string envelope = zumvo::TransactionEnvelope(
        caller, {"12-5", "9", "12-1", "PAY-100", "ZUMVO", 100, 100, "PAYMENT", ""});
    const std::string url = rig.Base(true) + sim::DefaultSoapPath;
    bench::TFloorPoster keptPoster(url, rig.CAFile(), true);
    const double roundTrips = kind == TWan::Kept ? 1 : 3;
    const bench::TSideOp reference = [&](int calls) {
        double total = 0;
        for (int c = 0; c < calls; ++c) {
            const double start = bench::NowNs(bench::TClockKind::Wall);
            if (kind == TWan::Kept) {
                keptPoster.Post(envelope);
            } else {
                bench::TFloorPoster poster(url, rig.CAFile(), false);
                poster.Post(envelope);
            }
            total += bench::NowNs(bench::TClockKind::Wall) - start + roundTrips * TRig::WanRoundTripNs;
        }
        return total;
    };
    bench::TPairOptions options;
    options.MinRounds = 15;
    options.BudgetSeconds = kind == TWan::Kept ? 2.5 : 4;
    bench::RunPair(state, ours, reference, options, &counters);
    state.counters["reference_round_trips"] = roundTrips;
    zumvo::ModuleContainer().reset();
    rig.Sim(true).Service().Reset();
}

const bool registered = [] {
    for (bool tls : {false, true})
        for (bool kept : {true, false})
            bench::RegisterPair(std::string("transaction_vs_floor_") + (tls ? "https" : "http") +
                                    (kept ? "_kept" : "_new"),
                                [tls, kept](benchmark::State& s) { Pair(s, tls, kept); });
    bench::RegisterPair("wan_kept_vs_rtt", [](benchmark::State& s) { WanPair(s, TWan::Kept); });
    bench::RegisterPair("wan_cold_vs_3rtt", [](benchmark::State& s) { WanPair(s, TWan::Cold); });
    bench::RegisterPair("wan_reconnect_vs_3rtt", [](benchmark::State& s) { WanPair(s, TWan::Reconnect); });
    return true;
}();

} // namespace

BENCHMARK_MAIN();
