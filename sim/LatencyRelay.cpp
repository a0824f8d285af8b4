#include "LatencyRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <stdexcept>

namespace sim {

namespace {

using TClock = std::chrono::steady_clock;

void NoDelay(int fd) {
    int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

sockaddr_in Ipv4(const std::string& host, int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1)
        throw std::runtime_error("relay: not an IPv4 address: " + host);
    return addr;
}

} // namespace

// One direction of a relayed connection: a reader that stamps each chunk with the time it may go
// on, and a writer that sends it then.
struct TDirection {
    int From = -1, To = -1;
    bool TowardsServer = false;

    struct TChunk {
        TClock::time_point Due;
        std::string Data; // empty: the sender closed its side
    };
    std::mutex Mutex;
    std::condition_variable Wake;
    std::deque<TChunk> Queue;
    bool Ended = false; // the writer stops (Stop, or the receiver went away)
    std::thread Reader, Writer;
};

struct TLatencyRelay::TConnection {
    TLatencyRelay& Relay;
    int Client, Server;
    TClock::time_point Accepted;
    TDirection Up, Down;             // client -> server, server -> client
    std::atomic<int> LastSender = 0; // 0 none yet, 1 the client sent, 2 server data was delivered
    std::atomic<int> Running = 4;    // threads still working

    TConnection(TLatencyRelay& relay, int client, int server)
        : Relay(relay), Client(client), Server(server), Accepted(TClock::now()) {
        Up.From = Down.To = client;
        Up.To = Down.From = server;
        Up.TowardsServer = true;
        for (TDirection* d : {&Up, &Down}) {
            d->Reader = std::thread([this, d] { Read(*d); });
            d->Writer = std::thread([this, d] { Write(*d); });
        }
    }
    ~TConnection() {
        Cut();
        for (TDirection* d : {&Up, &Down}) {
            d->Reader.join();
            d->Writer.join();
        }
        close(Client);
        close(Server);
    }

    // Ends both directions at once: the readers see the end of their stream, the writers stop.
    void Cut() {
        shutdown(Client, SHUT_RDWR);
        shutdown(Server, SHUT_RDWR);
        for (TDirection* d : {&Up, &Down}) {
            std::lock_guard lock(d->Mutex);
            d->Ended = true;
            d->Wake.notify_all();
        }
    }

    // The server's side ends without a further byte: the reader towards the client sees the end
    // of the stream (passed on after the delay), and nothing more reaches the server.
    void CloseFromServer() {
        {
            std::lock_guard lock(Up.Mutex);
            Up.Ended = true;
            Up.Wake.notify_all();
        }
        shutdown(Server, SHUT_RDWR);
    }

    void Read(TDirection& d) {
        char buffer[16384];
        for (;;) {
            const ssize_t n = recv(d.From, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            const auto now = TClock::now();
            const auto delay = std::chrono::microseconds(Relay.FDelayUs.load());
            TClock::time_point due = now + delay;
            if (d.TowardsServer)
                due = std::max(now, Accepted + 2 * delay) + delay; // the TCP handshake's round trip
            if (n > 0) {
                if (d.TowardsServer) {
                    LastSender = 1;
                    Relay.FClientBytes += n;
                } else {
                    Relay.FServerBytes += n;
                }
            }
            {
                std::lock_guard lock(d.Mutex);
                d.Queue.push_back(
                    {due, n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string()});
                d.Wake.notify_all();
            }
            if (n <= 0)
                break;
        }
        --Running;
    }

    void Write(TDirection& d) {
        std::unique_lock lock(d.Mutex);
        for (;;) {
            d.Wake.wait(lock, [&] { return d.Ended || !d.Queue.empty(); });
            if (d.Ended)
                break;
            const TClock::time_point due = d.Queue.front().Due;
            if (d.Wake.wait_until(lock, due, [&] { return d.Ended; }))
                break;
            TDirection::TChunk chunk = std::move(d.Queue.front());
            d.Queue.pop_front();
            lock.unlock();
            bool ok = true;
            if (chunk.Data.empty()) {
                shutdown(d.To, SHUT_WR); // the end of the stream, passed on as late as its data
                if (!d.TowardsServer)
                    ++Relay.FServerEnds;
            } else {
                // Server data after the client sent something ends the client's wait. Counted before
                // it is sent, so that a client holding its answer finds it counted.
                if (!d.TowardsServer && LastSender.exchange(2) == 1)
                    ++Relay.FAnswers;
                std::size_t sent = 0;
                while (ok && sent < chunk.Data.size()) {
                    const ssize_t n =
                        send(d.To, chunk.Data.data() + sent, chunk.Data.size() - sent, MSG_NOSIGNAL);
                    if (n > 0)
                        sent += static_cast<std::size_t>(n);
                    else if (n < 0 && errno != EINTR)
                        ok = false;
                }
            }
            lock.lock();
            if (!ok) {
                // The receiver went away: nothing more of this direction can be delivered.
                shutdown(d.From, SHUT_RD);
                break;
            }
            if (chunk.Data.empty())
                break;
        }
        lock.unlock();
        --Running;
    }
};

TLatencyRelay::TLatencyRelay(std::string targetHost, int targetPort, std::chrono::microseconds oneWay)
    : FTargetHost(std::move(targetHost)), FTargetPort(targetPort), FDelayUs(oneWay.count()) {
    Ipv4(FTargetHost, FTargetPort); // refuses a host that is not an IPv4 address now
}

TLatencyRelay::~TLatencyRelay() {
    Stop();
}

int TLatencyRelay::Start() {
    if (FListen >= 0 || FStopping)
        throw std::runtime_error("relay already started");
    FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListen < 0)
        throw std::runtime_error(std::string("relay: socket: ") + std::strerror(errno));
    sockaddr_in addr = Ipv4("127.0.0.1", 0);
    socklen_t length = sizeof addr;
    if (bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(FListen, 64) != 0 ||
        getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        const std::string reason = std::strerror(errno);
        close(FListen);
        FListen = -1;
        throw std::runtime_error("relay: cannot listen on loopback: " + reason);
    }
    FPort = ntohs(addr.sin_port);
    FAcceptThread = std::thread([this] { AcceptLoop(); });
    return FPort;
}

void TLatencyRelay::AcceptLoop() {
    const sockaddr_in target = Ipv4(FTargetHost, FTargetPort);
    while (!FStopping) {
        const int client = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            break; // the listening socket was shut (Stop)
        }
        if (FStopping) {
            close(client);
            break;
        }
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (server < 0 || connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
            // Nobody at the far end: the client's connection ends as it would when refused there.
            if (server >= 0)
                close(server);
            close(client);
            continue;
        }
        NoDelay(client);
        NoDelay(server);
        ++FAccepted;
        ReapFinished();
        std::lock_guard lock(FMutex);
        FConnections.push_back(std::make_unique<TConnection>(*this, client, server));
    }
}

void TLatencyRelay::ReapFinished() {
    std::vector<std::unique_ptr<TConnection>> done;
    {
        std::lock_guard lock(FMutex);
        for (auto it = FConnections.begin(); it != FConnections.end();) {
            if ((*it)->Running == 0) {
                done.push_back(std::move(*it));
                it = FConnections.erase(it);
            } else {
                ++it;
            }
        }
    }
    // done's destructors join the finished threads, outside the lock
}

void TLatencyRelay::Stop() {
    if (FStopping.exchange(true))
        return;
    if (FListen >= 0) {
        shutdown(FListen, SHUT_RDWR); // wakes accept
        if (FAcceptThread.joinable())
            FAcceptThread.join();
        close(FListen);
        FListen = -1;
    }
    std::vector<std::unique_ptr<TConnection>> all;
    {
        std::lock_guard lock(FMutex);
        all.swap(FConnections);
    }
    all.clear(); // each cuts its connection and joins its threads
}

void TLatencyRelay::CloseAllFromServer() {
    std::lock_guard lock(FMutex);
    for (const auto& c : FConnections)
        c->CloseFromServer();
}

TLatencyRelay::TCounts TLatencyRelay::Counts() const {
    TCounts c;
    c.Connections = FAccepted;
    c.Answers = FAnswers;
    c.ClientBytes = FClientBytes;
    c.ServerBytes = FServerBytes;
    c.ServerEnds = FServerEnds;
    return c;
}

} // namespace sim
