// Requests to the voucher service simulator on one kept-alive connection, beside the same
// requests each on a new connection (the baseline). Without TCP_NODELAY on the server, an answer
// written in two parts waits for the client's delayed acknowledgement (about 40 ms) on a reused
// connection; a new connection does not show it.
#include "VoucherSim.h"
#include "implZumvoAPI.h"

#include <httplib.h>

#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>

namespace {

// One running simulator for the whole program.
struct TSimFixture {
    sim::TVoucherSim Server{sim::TVoucherCatalogue::FromJson(R"({"codes": [
        {"code": "PAY", "kind": "payment", "value": 10000}]})"),
                            [] {
                                sim::TVoucherSimConfig c;
                                c.ApiId = "pos";
                                c.ApiPassword = "pw";
                                c.Stores = {"17"};
                                return c;
                            }()};
    int Port = Server.Start();
    // A reverse advice of a transaction the service does not know: a full SOAP round trip that
    // leaves the ledger as it is.
    std::string Body = zumvo::AdviceEnvelope({"pos", "pw", 17, "Till-1"},
                                             {"12-5", "9", "12-40", "REVERSE", 424242, "PAYMENT"});
};

TSimFixture& Sim() {
    static TSimFixture fixture;
    return fixture;
}

// The client sends without delay, as libcurl (the host's REST client) does by default: what is
// measured is the server.
httplib::Client NewClient() {
    httplib::Client client("127.0.0.1", Sim().Port);
    client.set_tcp_nodelay(true);
    return client;
}

void Post(httplib::Client& client) {
    const auto answer = client.Post(sim::DefaultSoapPath, Sim().Body, "text/xml; charset=utf-8");
    if (!answer || answer->status != 200)
        throw std::runtime_error("the simulator did not answer");
    benchmark::DoNotOptimize(answer->body.size());
}

void NewConnections(benchmark::State& state) {
    for (auto _ : state) {
        httplib::Client client = NewClient();
        Post(client);
    }
    state.SetLabel("baseline");
}

void KeptAlive(benchmark::State& state) {
    httplib::Client client = NewClient();
    client.set_keep_alive(true);
    for (auto _ : state)
        Post(client);
}

} // namespace

BENCHMARK(NewConnections)->Name("sim_requests/new_connection/advice")->UseRealTime();
BENCHMARK(KeptAlive)->Name("sim_requests/kept_alive/advice")->UseRealTime();

BENCHMARK_MAIN();
