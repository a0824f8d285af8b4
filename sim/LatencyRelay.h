// A far-away server on loopback: a TCP forwarder between a client and a server that holds every
// chunk it carries for a set one-way delay, in both directions, so that TCP and TLS handshakes and
// every request pay real round trips. It counts what a client waited for: connections (each a TCP
// handshake) and the answers the client waited for.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

class TLatencyRelay {
public:
    // Forwards to targetHost:targetPort (an IPv4 address), each way after oneWay.
    TLatencyRelay(std::string targetHost, int targetPort, std::chrono::microseconds oneWay);
    ~TLatencyRelay();
    TLatencyRelay(const TLatencyRelay&) = delete;
    TLatencyRelay& operator=(const TLatencyRelay&) = delete;

    // Listens on 127.0.0.1 (a free port) and relays on a thread of its own; answers the port.
    // Throws std::runtime_error when the socket cannot be made or the relay already started.
    int Start();
    // Ends every relayed connection (both ends closed at once, nothing still held is delivered)
    // and the listening socket; joins every thread. Safe to call more than once.
    void Stop();
    int Port() const { return FPort; }

    // The one-way delay for chunks read from now on.
    void SetDelay(std::chrono::microseconds oneWay) { FDelayUs = oneWay.count(); }
    std::chrono::microseconds Delay() const { return std::chrono::microseconds(FDelayUs.load()); }

    // The far end closes every connection now, as a server that times out an idle connection
    // without TLS's closing alert does (nginx): the client gets the end of the stream one delay
    // later, and the server behind the relay hears no more of these connections.
    void CloseAllFromServer();

    struct TCounts {
        std::int64_t Connections = 0; // accepted from clients (each paid a TCP handshake)
        // Deliveries of server data that followed client data (the client's wait for an answer
        // ended): one per handshake flight and per request. Data the client sends and waits for
        // no answer to (a closing alert) is not a round trip.
        std::int64_t Answers = 0;
        std::int64_t ClientBytes = 0; // carried towards the server
        std::int64_t ServerBytes = 0; // carried towards the client
        std::int64_t ServerEnds = 0;  // ends of the server's stream delivered to the client
        // The round trips a client waited for: one per TCP handshake and one per answer.
        std::int64_t RoundTrips() const { return Connections + Answers; }
    };
    TCounts Counts() const;

    // A new connection's TCP handshake is done at once by the two kernels on loopback; the relay
    // charges it by letting the client's first bytes reach the server no sooner than one round
    // trip after the connection was accepted, as they would over a distant link.

private:
    struct TConnection;
    void AcceptLoop();
    void ReapFinished(); // joins the connections whose both directions ended

    std::string FTargetHost;
    int FTargetPort;
    std::atomic<std::int64_t> FDelayUs;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStopping = false;
    std::thread FAcceptThread;
    mutable std::mutex FMutex;
    std::vector<std::unique_ptr<TConnection>> FConnections;
    std::atomic<std::int64_t> FAccepted = 0, FAnswers = 0, FClientBytes = 0, FServerBytes = 0,
                              FServerEnds = 0;
};

} // namespace sim
