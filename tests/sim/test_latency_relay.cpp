// The latency relay of the bench rig: what it carries arrives whole, in both directions, and it
// counts the connections and the answers a client waited for as a distant link would have them.
#include "LatencyRelay.h"
#include "SimServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A loopback HTTP server answering POST /echo with the body it got, its keep-alive connections
// ended on demand.
class TEchoServer {
public:
    TEchoServer() {
        FServer.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.body, "application/octet-stream");
        });
        FServer.set_tcp_nodelay(true);
        Port = FServer.bind_to_any_port("127.0.0.1");
        FThread = std::thread([this] { FServer.listen_after_bind(); });
        while (!FServer.is_running())
            std::this_thread::sleep_for(1ms);
    }
    ~TEchoServer() {
        FServer.stop();
        sim::TSimServer::EndKeptConnections(Port);
        FThread.join();
    }
    int Port = 0;

private:
    httplib::Server FServer;
    std::thread FThread;
};

// Waits (up to a minute: a shared machine can be slow) until pred holds.
template <class Pred> bool WaitFor(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

} // namespace

TEST(LatencyRelayTest, CarriesBothWaysWholeAndCountsOneAnswerPerRequest) {
    TEchoServer server;
    sim::TLatencyRelay relay("127.0.0.1", server.Port, 5ms);
    const int port = relay.Start();
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    // Small, and larger than one read of the relay's (16 KB), with every byte value.
    std::string large(300000, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 7 % 256);
    const std::string bodies[] = {"a", large, "third"};
    for (const auto& body : bodies) {
        auto res = client.Post("/echo", body, "application/octet-stream");
        ASSERT_TRUE(res) << httplib::to_string(res.error());
        EXPECT_EQ(res->status, 200);
        EXPECT_TRUE(res->body == body) << "answer of " << res->body.size() << " bytes for " << body.size();
    }
    const auto c = relay.Counts();
    EXPECT_EQ(c.Connections, 1);
    EXPECT_EQ(c.Answers, 3) << "a request (headers and body) waits once, however many writes";
    EXPECT_EQ(c.RoundTrips(), 4);
    EXPECT_GT(c.ClientBytes, static_cast<std::int64_t>(large.size()));
    EXPECT_GT(c.ServerBytes, static_cast<std::int64_t>(large.size()));
}

TEST(LatencyRelayTest, AConnectionTheServerClosedEndsAtTheClientAndTheNextOneIsCounted) {
    TEchoServer server;
    sim::TLatencyRelay relay("127.0.0.1", server.Port, 5ms);
    httplib::Client client("127.0.0.1", relay.Start());
    client.set_keep_alive(true);
    ASSERT_TRUE(client.Post("/echo", "one", "text/plain"));

    sim::TSimServer::EndKeptConnections(server.Port);
    ASSERT_TRUE(WaitFor([&] { return relay.Counts().ServerEnds == 1; }))
        << "the server's close never came through";
    auto res = client.Post("/echo", "two", "text/plain");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->body, "two");
    EXPECT_EQ(relay.Counts().Connections, 2);
}

TEST(LatencyRelayTest, NobodyAtTheFarEndEndsTheClientsConnection) {
    int deadPort = 0;
    {
        TEchoServer gone; // a port that was free a moment ago and is closed now
        deadPort = gone.Port;
    }
    sim::TLatencyRelay relay("127.0.0.1", deadPort, 1ms);
    httplib::Client client("127.0.0.1", relay.Start());
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    EXPECT_FALSE(client.Post("/echo", "x", "text/plain"));
    EXPECT_EQ(relay.Counts().Connections, 0);
}

TEST(LatencyRelayTest, StopEndsConnectionsStillOpenAndRefusesABadTarget) {
    TEchoServer server;
    auto relay = std::make_unique<sim::TLatencyRelay>("127.0.0.1", server.Port, 1ms);
    httplib::Client client("127.0.0.1", relay->Start());
    client.set_keep_alive(true);
    ASSERT_TRUE(client.Post("/echo", "kept", "text/plain"));
    relay->Stop(); // returns although the client keeps its connection
    relay->Stop();
    relay.reset();
    EXPECT_THROW(sim::TLatencyRelay("localhost", 80, 1ms), std::runtime_error);
}
