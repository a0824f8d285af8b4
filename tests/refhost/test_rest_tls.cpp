// The host's REST client over kept connections and HTTPS, against loopback servers: certificates
// come from a throw-away CA made with the openssl command for this run.
#include "LatencyRelay.h"
#include "TRestClient.h"
#include "VoucherSim.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>
#include <unistd.h>

using namespace refhost;
namespace fs = std::filesystem;

namespace {

// A loopback server (HTTP, or HTTPS with a certificate) counting the requests it answers.
class TCountingServer {
public:
    explicit TCountingServer(const fs::path& cert = {}, const fs::path& key = {}, int port = 0) {
        if (cert.empty())
            FServer = std::make_unique<httplib::Server>();
        else
            FServer = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
        FServer->Post("/echo", [this](const httplib::Request& req, httplib::Response& res) {
            ++Requests;
            res.set_content("echo:" + req.body, "text/plain");
        });
        Port = port == 0 ? FServer->bind_to_any_port("127.0.0.1") : port;
        if (port != 0 && !FServer->bind_to_port("127.0.0.1", port))
            Port = -1;
        FThread = std::thread([this] { FServer->listen_after_bind(); });
        while (Port > 0 && !FServer->is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ~TCountingServer() { Stop(); }
    void Stop() {
        FServer->stop();
        sim::TSimServer::EndKeptConnections(Port); // the kept connection goes with the server
        if (FThread.joinable())
            FThread.join();
    }
    std::string Base(const char* scheme = "http") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(Port);
    }

    std::atomic<int> Requests = 0;
    int Port = 0;

private:
    std::unique_ptr<httplib::Server> FServer;
    std::thread FThread;
};

class RestTlsTest : public ::testing::Test {
protected:
    static inline fs::path Folder;

    // ca.pem signs server.pem (for 127.0.0.1 and localhost) and elsewhere.pem (another name);
    // other.pem is a CA that signed nothing.
    static void SetUpTestSuite() {
        Folder = fs::temp_directory_path() / ("zumvo_rest_tls_" + std::to_string(getpid()));
        fs::create_directories(Folder);
        const std::string f = Folder.string();
        const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        std::ofstream(Folder / "ext.cnf") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                             "basicConstraints=CA:FALSE\n";
        std::ofstream(Folder / "elsewhere.cnf") << "subjectAltName=DNS:elsewhere.example\n";
        const std::string script =
            "cd '" + f + "' && " + "openssl req -x509" + key +
            " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Zumvo Test CA' && " + "openssl req -x509" + key +
            " -keyout other.key -out other.pem -days 2 -subj '/CN=Other CA' && " + "openssl req" + key +
            " -keyout server.key -out server.csr -subj '/CN=127.0.0.1' && " +
            "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem"
            " -days 2 -extfile ext.cnf && " +
            "openssl req" + key +
            " -keyout elsewhere.key -out elsewhere.csr -subj '/CN=elsewhere.example' && " +
            "openssl x509 -req -in elsewhere.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out elsewhere.pem"
            " -days 2 -extfile elsewhere.cnf";
        ASSERT_EQ(std::system(("(" + script + ") >/dev/null 2>&1").c_str()), 0) << "openssl: " << script;
    }
    static void TearDownTestSuite() { fs::remove_all(Folder); }

    static pallux::IntfPtr<TRestClient> Client(const std::string& caFile,
                                               std::shared_ptr<TRestConnections> connections) {
        TRestSettings s;
        s.CAFile = caFile;
        s.Connections = std::move(connections);
        s.ConnectTimeoutMs = 3000;
        s.RequestTimeoutMs = 5000;
        return pallux::MakeIntf<TRestClient, TRestClient>(s);
    }
};

} // namespace

TEST_F(RestTlsTest, NewClientObjectsReuseTheConnectionOverHttpAndHttps) {
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        TCountingServer server =
            tls ? TCountingServer(Folder / "server.pem", Folder / "server.key") : TCountingServer();
        ASSERT_GT(server.Port, 0);
        auto connections = std::make_shared<TRestConnections>();
        for (int i = 0; i < 3; ++i) {
            auto rest = Client((Folder / "ca.pem").string(), connections);
            rest->SetBaseURL(server.Base(tls ? "https" : "http"));
            EXPECT_EQ(rest->Post("/echo", "n" + std::to_string(i), {}, 0), "echo:n" + std::to_string(i));
            EXPECT_EQ(rest->LastNewConnections(), i == 0 ? 1 : 0) << "request " << i;
        }
        EXPECT_EQ(server.Requests, 3);
    }
}

TEST_F(RestTlsTest, AServerThatDoesNotVerifyIsRefusedBeforeAnythingIsSent) {
    struct TCase {
        const char* Name;
        std::string CAFile;
        const char* Certificate;
    };
    const TCase cases[] = {
        {"signed by a CA not trusted", (Folder / "other.pem").string(), "server"},
        {"the system's CAs only", "", "server"},
        {"a name the certificate does not hold", (Folder / "ca.pem").string(), "elsewhere"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TCountingServer server(Folder / (std::string(c.Certificate) + ".pem"),
                               Folder / (std::string(c.Certificate) + ".key"));
        ASSERT_GT(server.Port, 0);
        auto rest = Client(c.CAFile, std::make_shared<TRestConnections>());
        rest->SetBaseURL(server.Base("https"));
        try {
            rest->Post("/echo", "secret", {}, 0);
            ADD_FAILURE() << "the request went through";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("the server 127.0.0.1 could not be verified"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_EQ(server.Requests, 0) << "nothing reaches a server that did not verify";
    }
}

TEST_F(RestTlsTest, AKeptConnectionTheServerClosedIsReplacedByANewOne) {
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        const char* scheme = tls ? "https" : "http";
        auto connections = std::make_shared<TRestConnections>();
        auto server = tls ? std::make_unique<TCountingServer>(Folder / "server.pem", Folder / "server.key")
                          : std::make_unique<TCountingServer>();
        const int port = server->Port;
        auto rest = Client((Folder / "ca.pem").string(), connections);
        rest->SetBaseURL(server->Base(scheme));
        EXPECT_EQ(rest->Post("/echo", "first", {}, 0), "echo:first");

        // The server goes away with the kept connection and comes back on the same port.
        server.reset();
        server = tls ? std::make_unique<TCountingServer>(Folder / "server.pem", Folder / "server.key", port)
                     : std::make_unique<TCountingServer>(fs::path(), fs::path(), port);
        ASSERT_EQ(server->Port, port);
        auto again = Client((Folder / "ca.pem").string(), connections);
        again->SetBaseURL(server->Base(scheme));
        EXPECT_EQ(again->Post("/echo", "second", {}, 0), "echo:second");
        EXPECT_EQ(again->LastNewConnections(), 1);
        EXPECT_EQ(server->Requests, 1) << "the request reached the new server once";
    }
}

TEST_F(RestTlsTest, TheVoucherSimulatorServesHttps) {
    sim::TVoucherSim voucherSim{sim::TVoucherCatalogue()};
    voucherSim.UseTls((Folder / "server.pem").string(), (Folder / "server.key").string());
    const int port = voucherSim.Start();
    auto rest = Client((Folder / "ca.pem").string(), std::make_shared<TRestConnections>());
    rest->SetBaseURL("https://127.0.0.1:" + std::to_string(port));
    const std::string answer = rest->Post(voucherSim.Path(), "not a request", {}, 0);
    EXPECT_EQ(rest->GetLastStatus(), 500);
    EXPECT_NE(answer.find("Fault"), std::string::npos) << answer;

    sim::TVoucherSim broken{sim::TVoucherCatalogue()};
    EXPECT_THROW(broken.UseTls((Folder / "missing.pem").string(), (Folder / "server.key").string()),
                 std::runtime_error);
}

TEST_F(RestTlsTest, ARequestTheServerDroppedAfterReadingItIsNotSentAgain) {
    sim::TVoucherSim voucherSim{
        sim::TVoucherCatalogue::FromFile(ZUMVO_SOURCE_DIR "/sim/data/catalogue.json")};
    const int port = voucherSim.Start();
    std::ifstream in(ZUMVO_SOURCE_DIR "/tests/fuzz/corpus/voucher_sim/transaction.xml", std::ios::binary);
    const std::string request((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto connections = std::make_shared<TRestConnections>();
    auto first = Client("", connections);
    first->SetBaseURL("http://127.0.0.1:" + std::to_string(port));
    EXPECT_NE(first->Post(voucherSim.Path(), request, {}, 0).find("<responseCode>-1</responseCode>"),
              std::string::npos);

    // Carried out, then the kept connection closes without an answer.
    sim::TFaultRule drop;
    drop.Kind = sim::TFaultKind::Drop;
    drop.Process = true;
    drop.Remaining = 1;
    voucherSim.Service().AddFault(drop);
    auto second = Client("", connections);
    second->SetBaseURL("http://127.0.0.1:" + std::to_string(port));
    try {
        second->Post(voucherSim.Path(), request, {}, 0);
        ADD_FAILURE() << "a dropped answer must raise";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("it is not sent again"), std::string::npos) << e.what();
    }
    EXPECT_EQ(voucherSim.Service().Ledger().size(), 2u) << "the dropped request was carried out once";
}

// Through a relay that holds every chunk 20 ms each way, the round trips a request waits for are
// counted on the wire: TCP, a TLS 1.3 handshake (one round trip) and the request on a new
// connection; the request alone on a kept one; no round trip for "100 Continue", whatever the
// body's size; and a new connection after the server closed the idle one (without TLS's closing
// alert, as nginx does on its idle time-out) resumes the TLS session.
TEST_F(RestTlsTest, AFarAwayServerCostsOneRoundTripPerRequestAndThreeForANewConnection) {
    sim::TVoucherSim voucherSim{sim::TVoucherCatalogue()};
    voucherSim.UseTls((Folder / "server.pem").string(), (Folder / "server.key").string());
    sim::TLatencyRelay relay("127.0.0.1", voucherSim.Start(), std::chrono::milliseconds(20));
    const std::string base = "https://127.0.0.1:" + std::to_string(relay.Start());
    auto connections = std::make_shared<TRestConnections>();
    struct TStep {
        const char* Name;
        std::string Body;
        bool ServerClosesFirst;
        std::int64_t RoundTrips;
        long NewConnections;
    };
    const TStep steps[] = {
        {"the first request: TCP, TLS 1.3, the request", "first", false, 3, 1},
        {"a new client object on the kept connection", "second", false, 1, 0},
        {"a body over libcurl's threshold for Expect: 100-continue (1 MB)", std::string(1100000, 'x'), false,
         1, 0},
        {"after the server closed the idle connection: TCP, resumed TLS, the request", "fourth", true, 3, 1},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Name);
        if (step.ServerClosesFirst) {
            relay.CloseAllFromServer();
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (relay.Counts().ServerEnds == 0 && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ASSERT_EQ(relay.Counts().ServerEnds, 1) << "the server's close never reached the client";
        }
        const auto before = relay.Counts();
        auto rest = Client((Folder / "ca.pem").string(), connections);
        rest->SetBaseURL(base);
        const std::string answer = rest->Post(voucherSim.Path(), step.Body, {}, 0);
        EXPECT_NE(answer.find("Fault"), std::string::npos) << answer; // not a SOAP request: a fault
        // The relay counts a wait each time server data follows client data; on a loaded machine
        // two flights may reach it in one turn and count as one, never an extra one as more.
        EXPECT_LE(relay.Counts().RoundTrips() - before.RoundTrips(), step.RoundTrips);
        EXPECT_EQ(rest->LastNewConnections(), step.NewConnections);
    }
    const auto seen = voucherSim.RequestCounts();
    EXPECT_EQ(seen.Requests, 4);
    EXPECT_EQ(seen.WithExpect, 0) << "no request waits for 100 Continue";
    EXPECT_EQ(seen.OverTls, 4);
    EXPECT_EQ(seen.OnResumedTls, 1) << "the second connection resumed the first one's TLS session";
}

// A server whose idle time-out closes with TLS's closing alert leaves that alert waiting on the
// kept connection, which libcurl then takes for alive: the request goes out on it, the alert comes
// back at once, and libcurl sends the request on a new connection (nothing of the body had left).
// No round trip is lost, the session is resumed and the code is not refused.
TEST_F(RestTlsTest, AConnectionClosedWithTlsClosingAlertCostsNoExtraRoundTrip) {
    sim::TVoucherSim voucherSim{sim::TVoucherCatalogue()};
    voucherSim.UseTls((Folder / "server.pem").string(), (Folder / "server.key").string());
    voucherSim.SetIdleTimeout(1);
    sim::TLatencyRelay relay("127.0.0.1", voucherSim.Start(), std::chrono::milliseconds(20));
    const std::string base = "https://127.0.0.1:" + std::to_string(relay.Start());
    auto connections = std::make_shared<TRestConnections>();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "the first request" : "after the server's idle time-out");
        if (i == 1) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (relay.Counts().ServerEnds == 0 && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ASSERT_EQ(relay.Counts().ServerEnds, 1) << "the server's close never reached the client";
        }
        const auto before = relay.Counts();
        auto rest = Client((Folder / "ca.pem").string(), connections);
        rest->SetBaseURL(base);
        EXPECT_NO_THROW(rest->Post(voucherSim.Path(), std::string(5000, 'x'), {}, 0));
        // The relay counts a wait each time server data follows client data. The server's session
        // ticket and the answer may reach it in one turn or in two, so the TLS flight and the
        // request's answer can be counted as one; an extra round trip would still count above 3.
        EXPECT_LE(relay.Counts().RoundTrips() - before.RoundTrips(), 3);
        EXPECT_EQ(rest->LastNewConnections(), 1);
    }
    EXPECT_EQ(voucherSim.RequestCounts().Requests, 2) << "the request on the closed connection never arrived";
    EXPECT_EQ(voucherSim.RequestCounts().OnResumedTls, 1);
}
