#include "SimServer.h"
#include "TRestClient.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>
#include <unistd.h>

using namespace refhost;

namespace {

// A loopback HTTP server on a free port, for the duration of a test.
class TLoopbackServer {
public:
    httplib::Server Server;
    int Port = 0;
    void Start() {
        Port = Server.bind_to_any_port("127.0.0.1");
        FThread = std::thread([this] { Server.listen_after_bind(); });
        while (!Server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(Port); }
    ~TLoopbackServer() {
        Server.stop();
        sim::TSimServer::EndKeptConnections(Port); // no wait for the client's kept connection
        if (FThread.joinable())
            FThread.join();
    }

private:
    std::thread FThread;
};

} // namespace

TEST(RestClientTest, GetAndPostWithBasicAuthAgainstARealServer) {
    TLoopbackServer srv;
    srv.Server.Get("/api/brand/store/12", [](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Authorization") != "Basic dTpwJHc=" /* u:p$w */) {
            res.status = 401;
            res.set_content("denied", "text/plain");
            return;
        }
        res.set_content("[1,2]", "application/json");
    });
    srv.Server.Post("/soap", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("echo:" + req.body + ":" + req.get_header_value("Content-Type"), "text/xml");
    });
    srv.Server.Post("/fail", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("<html>Internal error</html>", "text/html");
    });
    srv.Start();

    auto rest = pallux::MakeIntf<TRestClient>();
    rest->SetBaseURL(srv.Base() + "/");
    std::string answer;
    EXPECT_FALSE(rest->Get("/api/brand/store/12", {}, answer)) << "no credentials yet";
    EXPECT_EQ(rest->GetLastStatus(), 401);
    EXPECT_EQ(answer, "denied");
    rest->SetBasicAuth("u", "p$w");
    EXPECT_TRUE(rest->Get("/api/brand/store/12", {}, answer));
    EXPECT_EQ(answer, "[1,2]");

    EXPECT_EQ(rest->Post("soap", "<a/>", {}, 0), "echo:<a/>:text/xml; charset=utf-8");
    EXPECT_EQ(rest->Post("/fail", "x", {}, 0), "<html>Internal error</html>") << "an error page is an answer";
    EXPECT_EQ(rest->GetLastStatus(), 500);
}

TEST(RestClientTest, TransportFailuresAreErrorsNamingTheAddress) {
    TLoopbackServer srv;
    srv.Server.Post("/slow", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        res.set_content("late", "text/plain");
    });
    srv.Server.Post("/big", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(2048, 'x'), "text/plain");
    });
    srv.Start();

    TRestSettings settings;
    settings.ConnectTimeoutMs = 1000;
    settings.RequestTimeoutMs = 300;
    settings.MaxAnswerBytes = 1024;
    auto rest = pallux::MakeIntf<TRestClient>(settings);
    rest->SetBaseURL(srv.Base());
    try {
        rest->Post("/slow", "x", {}, 0);
        ADD_FAILURE() << "a time-out must raise";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(srv.Base() + "/slow"), std::string::npos) << e.what();
    }
    EXPECT_THROW(rest->Post("/big", "x", {}, 0), std::runtime_error) << "answers over the limit are refused";

    auto closed = pallux::MakeIntf<TRestClient>();
    closed->SetBaseURL("http://127.0.0.1:1");
    std::string answer;
    EXPECT_THROW(closed->Get("/x", {}, answer), std::runtime_error);
    EXPECT_EQ(closed->GetLastStatus(), 0);
}

// Only http and https are spoken: a base URL of another scheme (a local file, a mail or file
// server) is an error, and nothing of the file it names comes back.
TEST(RestClientTest, OnlyHttpAndHttpsAreSpoken) {
    const auto file =
        std::filesystem::temp_directory_path() / ("zumvo_rest_file_" + std::to_string(getpid()));
    std::ofstream(file) << "secret-contents";
    for (const std::string& base : {"file://" + file.parent_path().string(), std::string("ftp://127.0.0.1:1"),
                                   std::string("gopher://127.0.0.1:1"), std::string("dict://127.0.0.1:1")}) {
        SCOPED_TRACE(base);
        auto rest = pallux::MakeIntf<TRestClient>();
        rest->SetBaseURL(base);
        std::string answer;
        EXPECT_THROW(rest->Get(file.filename().string(), {}, answer), std::runtime_error);
        EXPECT_EQ(answer.find("secret-contents"), std::string::npos);
    }
    std::filesystem::remove(file);
}

TEST(RestClientTest, JoinsBaseAndResourceWithOneSlash) {
    EXPECT_EQ(TRestClient::JoinURL("http://h:1/", "/a"), "http://h:1/a");
    EXPECT_EQ(TRestClient::JoinURL("http://h:1", "a"), "http://h:1/a");
    EXPECT_EQ(TRestClient::JoinURL("http://h:1/svc", "/a"), "http://h:1/svc/a");
    EXPECT_EQ(TRestClient::JoinURL("http://h:1", ""), "http://h:1");
}
