#include "SimServer.h"
#include "clsRapidJson.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>
#include <winternl.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#endif

namespace sim {

namespace {

// A write to a connection the peer (or a dropped-connection fault) has closed must fail with
// EPIPE, not end the process.
// (Windows has no such signal: the write fails.)
void IgnoreSigpipe() {
#ifndef _WIN32
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
#endif
}

#ifdef _WIN32
constexpr int ShutRead = SD_RECEIVE;
constexpr int ShutBoth = SD_BOTH;
#else
constexpr int ShutRead = SHUT_RD;
constexpr int ShutBoth = SHUT_RDWR;
#endif

struct TEndpoint {
    std::string Address;
    int Port = -1;
};

bool EndpointOf(const sockaddr_storage& addr, TEndpoint& out) {
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(addr);
        inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        out = {text, ntohs(in.sin_port)};
        return true;
    }
    if (addr.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(addr);
        inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
        out = {text, ntohs(in6.sin6_port)};
        return true;
    }
    return false;
}

} // namespace

TSimServer::TSimServer() : FServer(std::make_unique<httplib::Server>()) {}

void TSimServer::UseTls(const std::string& certFile, const std::string& keyFile) {
    if (FStarted)
        throw std::runtime_error("TLS must be chosen before the server starts");
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
    throw std::runtime_error("this build of the simulators serves no TLS (cannot use " + certFile + " and " +
                             keyFile + ")");
#else
    auto tls = std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str());
    if (!tls->is_valid())
        throw std::runtime_error("cannot serve TLS with certificate " + certFile + " and key " + keyFile);
    FServer = std::move(tls);
    FTls = true;
#endif
}

void TSimServer::SetIdleTimeout(int seconds) {
    if (FStarted)
        throw std::runtime_error("the idle time-out must be set before the server starts");
    FServer->set_keep_alive_timeout(seconds);
}

TSimServer::~TSimServer() {
    Stop();
}

int TSimServer::Start(const std::string& host, int port) {
    if (FStarted)
        throw std::runtime_error("server already started");
    FStarted = true;
    IgnoreSigpipe();
    Routes(*FServer);
    FServer->set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
            std::string message = "unknown error";
            try {
                if (ep)
                    std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                message = e.what();
            } catch (...) {
            }
            ReplyError(res, 500, message);
        });
    FServer->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        ++FRequests;
        if (req.has_header("Expect"))
            ++FWithExpect;
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
        if (req.ssl) {
            ++FOverTls;
            if (SSL_session_reused(const_cast<SSL*>(req.ssl)) == 1)
                ++FOnResumedTls;
        }
#endif
        return httplib::Server::HandlerResponse::Unhandled;
    });
    FServer->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        if (FRequestLog)
            std::cerr << req.method << ' ' << req.path << " -> " << res.status << std::endl;
    });
    // An answer goes out in more than one write; with Nagle's algorithm the second waits for the
    // client's delayed acknowledgement (about 40 ms) on a kept-alive connection.
    FServer->set_tcp_nodelay(true);
    // httplib closes a kept-alive connection after its fifth request by default, which makes every
    // fifth request of a client pay a new connection (three round trips to a distant server over
    // HTTPS). Providers' servers keep a connection for far more (nginx: 1000 requests); the idle
    // time-out (5 s) still closes the connections of a quiet till.
    FServer->set_keep_alive_max_count(1000);
    // httplib's default also sets SO_REUSEPORT, which lets a second server share a port that is
    // in use; a simulator that asks for a busy port must fail instead.
    // (On Windows SO_REUSEADDR is what shares a busy port; SO_EXCLUSIVEADDRUSE refuses that.)
    FServer->set_socket_options([](socket_t sock) {
        int yes = 1;
#ifdef _WIN32
        setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
#else
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    });
    int bound = -1;
    if (port == 0)
        bound = FServer->bind_to_any_port(host);
    else if (FServer->bind_to_port(host, port))
        bound = port;
    if (bound <= 0)
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));
    FPort = bound;
    // The socket already listens: connections made from here on wait in its backlog until the
    // thread below accepts them.
    FThread = std::thread([this] {
        FServer->listen_after_bind();
        FListenEnded = true;
    });
    // httplib's stop() only acts on a running server: wait until the accept loop runs.
    while (!FServer->is_running() && !FListenEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return FPort;
}

void TSimServer::Stop() {
    {
        std::lock_guard lock(FStopMutex);
        FStopping = true;
    }
    FStopSignal.notify_all();
    if (FThread.joinable()) {
        FServer->stop();
        // httplib ends the accept loop, then waits for every connection's thread: a connection a
        // client keeps alive (the host's clients share theirs) would hold it up for 5 s.
        EndKeptConnections(FPort);
        FThread.join();
    }
}

namespace {

// The handles (Windows) or file descriptors of this process that may be sockets.
std::vector<socket_t> OpenHandles() {
    std::vector<socket_t> out;
#ifdef _WIN32
    // The system's handle table (SystemExtendedHandleInformation), this process's entries.
    struct TEntry {
        PVOID Object;
        ULONG_PTR ProcessId;
        ULONG_PTR Handle;
        ULONG GrantedAccess;
        USHORT CreatorBackTraceIndex;
        USHORT ObjectTypeIndex;
        ULONG HandleAttributes;
        ULONG Reserved;
    };
    struct TTable {
        ULONG_PTR Count;
        ULONG_PTR Reserved;
        TEntry Entries[1];
    };
    using TQuery = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    constexpr ULONG SystemExtendedHandleInformation = 64;
    constexpr NTSTATUS InfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
    static const auto query = reinterpret_cast<TQuery>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return out;
    std::vector<char> buffer(1 << 16);
    NTSTATUS status;
    ULONG needed = 0;
    while ((status = query(SystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                           &needed)) == InfoLengthMismatch)
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed));
    if (status != 0)
        return out;
    const auto* table = reinterpret_cast<const TTable*>(buffer.data());
    const ULONG_PTR self = GetCurrentProcessId();
    for (ULONG_PTR i = 0; i < table->Count; ++i)
        if (table->Entries[i].ProcessId == self)
            out.push_back(static_cast<socket_t>(table->Entries[i].Handle));
#else
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        try {
            out.push_back(std::stoi(entry.path().filename().string()));
        } catch (...) {
        }
    }
#endif
    return out;
}

// Calls fn(socket, local end, peer end) for each connected socket of this process, until fn
// answers true.
template <class Fn> void ForEachConnection(Fn&& fn) {
    for (const socket_t fd : OpenHandles()) {
        sockaddr_storage local{}, peer{};
        socklen_t length = sizeof local;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
            continue;
        length = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
            continue; // not a connection (the listening socket, a pipe, a file)
        TEndpoint localEnd, peerEnd;
        if (EndpointOf(local, localEnd) && EndpointOf(peer, peerEnd) && fn(fd, localEnd, peerEnd))
            return;
    }
}

} // namespace

void TSimServer::EndKeptConnections(int port) {
    ForEachConnection([port](socket_t fd, const TEndpoint& local, const TEndpoint&) {
        if (local.Port == port)
            shutdown(fd, ShutRead);
        return false;
    });
}

TSimServer::TRequestCounts TSimServer::RequestCounts() const {
    TRequestCounts c;
    c.Requests = FRequests;
    c.WithExpect = FWithExpect;
    c.OverTls = FOverTls;
    c.OnResumedTls = FOnResumedTls;
    return c;
}

bool TSimServer::Stopping() const {
    std::lock_guard lock(FStopMutex);
    return FStopping;
}

bool TSimServer::Pause(int ms) {
    std::unique_lock lock(FStopMutex);
    return !FStopSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FStopping; });
}

void TSimServer::DropConnection(const httplib::Request& req) {
    // httplib does not hand the connection's socket to a handler; find it by its two endpoints,
    // which identify one live connection, and shut it down both ways. httplib's own answer then
    // fails to write and the connection is closed.
    ForEachConnection([&req](socket_t fd, const TEndpoint& local, const TEndpoint& peer) {
        if (local.Port != req.local_port || peer.Port != req.remote_port || peer.Address != req.remote_addr)
            return false;
        shutdown(fd, ShutBoth);
        return true;
    });
}

void TSimServer::ReplyJson(httplib::Response& res, int status, const std::string& json) {
    res.status = status;
    res.set_content(json, "application/json");
}

void TSimServer::ReplyError(httplib::Response& res, int status, const std::string& message) {
    zumvo::TRapidStringBuffer buffer;
    zumvo::TRapidWriter writer(buffer);
    writer.StartObject();
    writer.Key("error");
    writer.String(message.c_str(), static_cast<rapidjson::SizeType>(message.size()));
    writer.EndObject();
    ReplyJson(res, status, buffer.GetString());
}

namespace {

// Starts the server, announces its port on standard output, waits for the stop request and
// stops the server.
int Serve(TSimServer& server, const std::string& host, int port, const std::function<void()>& awaitStop) {
    int bound = 0;
    try {
        bound = server.Start(host, port);
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << std::endl;
        return 1;
    }
    std::cout << "listening on " << bound << std::endl;
    awaitStop();
    server.Stop();
    return 0;
}

#ifdef _WIN32
HANDLE StopRequested = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    SetEvent(StopRequested);
    return TRUE;
}
#endif

} // namespace

int RunUntilSignalled(TSimServer& server, const std::string& host, int port) {
#ifndef _WIN32
    // Block the stop signals before any thread starts, so that every server thread inherits the
    // mask and only the sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return Serve(server, host, port, [&] {
        int received = 0;
        sigwait(&stopSignals, &received);
    });
#else
    StopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    return Serve(server, host, port, [] { WaitForSingleObject(StopRequested, INFINITE); });
#endif
}

TArgs::TArgs(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        FArgs.emplace_back(argv[i]);
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw std::runtime_error("cannot read " + path);
    return text.str();
}

int ParsePort(const std::string& text) {
    std::size_t used = 0;
    int port = -1;
    try {
        port = std::stoi(text, &used);
    } catch (...) {
        used = 0;
    }
    if (text.empty() || used != text.size() || port < 0 || port > 65535)
        throw std::invalid_argument("invalid port '" + text + "'");
    return port;
}

} // namespace sim
