// The common part of the simulators: a real HTTP server on a loopback socket, served from its own
// thread so that a program or a test can run it alongside other work.
#pragma once

#include "SimHttp.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace sim {

class TSimServer {
public:
    TSimServer();
    virtual ~TSimServer();
    TSimServer(const TSimServer&) = delete;
    TSimServer& operator=(const TSimServer&) = delete;

    // Binds host:port (port 0 picks a free one) and serves on a background thread. Answers the
    // bound port. Throws std::runtime_error when the address cannot be bound or the server was
    // already started.
    int Start(const std::string& host = "127.0.0.1", int port = 0);
    // Serves HTTPS instead of HTTP with this certificate chain and private key (PEM files).
    // Call before Start; throws std::runtime_error when the files do not make a TLS server.
    void UseTls(const std::string& certFile, const std::string& keyFile);
    bool Tls() const { return FTls; }
    // Stops serving: wakes delayed answers, closes the listening socket, ends the connections
    // clients keep alive and joins the thread.
    // Safe to call more than once. The destructor calls it, but a subclass whose handlers use
    // its own members must call it in its own destructor, before those members go.
    void Stop();

    // Closes a kept-alive connection after this many seconds without a request (5 by default);
    // call before Start. Over TLS the server sends TLS's closing alert first.
    void SetIdleTimeout(int seconds);

    int Port() const { return FPort; }
    // Shuts the reading side of every connection this process accepted on the port: a connection
    // a client keeps alive ends at once instead of at httplib's keep-alive time-out (5 s), while
    // an answer being written still goes out. For any httplib server, after its stop().
    static void EndKeptConnections(int port);
    bool Stopping() const;
    // One line per request on stderr ("POST /path -> 200"); off by default.
    void SetRequestLog(bool on) { FRequestLog = on; }

    // What the requests received so far carried, beyond their content: what a client spent on
    // the way (an Expect header makes it wait a round trip for "100 Continue"; a TLS connection
    // opened without resuming a session costs the full handshake).
    struct TRequestCounts {
        std::int64_t Requests = 0;
        std::int64_t WithExpect = 0;   // carried an Expect header
        std::int64_t OverTls = 0;      // came over TLS
        std::int64_t OnResumedTls = 0; // came over a TLS connection that resumed a session
    };
    TRequestCounts RequestCounts() const;

protected:
    // Registers the routes; called once by Start before the socket is bound.
    virtual void Routes(httplib::Server& http) = 0;

    // Waits ms milliseconds, or less when the server stops. Answers false when it stopped.
    bool Pause(int ms);
    // Closes the connection that carries req without sending a byte of an answer: the client
    // reads the end of the stream instead of a status line.
    static void DropConnection(const httplib::Request& req);

    // Writes a JSON answer with the given status.
    static void ReplyJson(httplib::Response& res, int status, const std::string& json);
    // Writes {"error": message} with the given status.
    static void ReplyError(httplib::Response& res, int status, const std::string& message);

private:
    std::unique_ptr<httplib::Server> FServer; // an httplib::SSLServer with UseTls
    bool FTls = false;
    std::thread FThread;
    int FPort = 0;
    bool FStarted = false;
    std::atomic<bool> FRequestLog = false;
    std::atomic<std::int64_t> FRequests = 0, FWithExpect = 0, FOverTls = 0, FOnResumedTls = 0;
    std::atomic<bool> FListenEnded = false;
    mutable std::mutex FStopMutex;
    std::condition_variable FStopSignal;
    bool FStopping = false;
};

// Runs a simulator program's server until SIGINT or SIGTERM (Windows: Ctrl+C, Ctrl+Break or the
// console closed). Prints "listening on PORT" on stdout (flushed) once the socket is bound.
// Answers the process exit code.
int RunUntilSignalled(TSimServer& server, const std::string& host, int port);

// A minimal flag reader for the simulator programs: "--name value" or "--name=value".
class TArgs {
public:
    TArgs(int argc, char** argv);
    explicit TArgs(std::vector<std::string> args) : FArgs(std::move(args)) {}
    // Walks the flags; fn(name, value) is called for each one. A flag in valueless (for example
    // "--help", "--quiet") takes no value. Throws std::invalid_argument for a flag without value
    // or a bare word.
    template <class Fn> void ForEach(const std::vector<std::string>& valueless, Fn&& fn) const;

private:
    std::vector<std::string> FArgs;
};

// Reads a whole file; throws std::runtime_error naming it when it cannot be read.
std::string ReadTextFile(const std::string& path);
// Parses a decimal port number 0..65535; throws std::invalid_argument otherwise.
int ParsePort(const std::string& text);

template <class Fn> void TArgs::ForEach(const std::vector<std::string>& valueless, Fn&& fn) const {
    for (std::size_t i = 0; i < FArgs.size(); ++i) {
        const std::string& arg = FArgs[i];
        if (arg.rfind("--", 0) != 0 || arg.size() == 2)
            throw std::invalid_argument("unexpected argument '" + arg + "'");
        std::string name = arg.substr(2);
        std::string value;
        if (auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        } else if (std::find(valueless.begin(), valueless.end(), name) == valueless.end()) {
            if (i + 1 >= FArgs.size())
                throw std::invalid_argument("flag --" + name + " needs a value");
            value = FArgs[++i];
        }
        fn(name, value);
    }
}

} // namespace sim
