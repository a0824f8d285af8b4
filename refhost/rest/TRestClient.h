// The reference host's HTTP client over libcurl.
#pragma once

#include "clsInterfacedObject.h"
#include "intfRestClient.h"

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

namespace refhost {

// Connections, DNS answers and TLS sessions kept for every client object that uses it: one
// libcurl share handle, with a lock per kind of shared data, so that clients on several threads
// may use it at once. A new client object per request (as the module makes them) then reuses the
// connection of the one before instead of connecting and shaking hands again.
class TRestConnections {
public:
    TRestConnections();
    ~TRestConnections();
    TRestConnections(const TRestConnections&) = delete;
    TRestConnections& operator=(const TRestConnections&) = delete;

    // The host's one cache, used by every client whose settings name none.
    static std::shared_ptr<TRestConnections> Shared();
    // The libcurl share handle (CURLSH*).
    void* Handle() const { return FShare; }

private:
    static void Lock(void* curl, int data, int access, void* self);
    static void Unlock(void* curl, int data, void* self);

    void* FShare = nullptr;
    std::array<std::mutex, 8> FLocks; // one per curl_lock_data value
};

struct TRestSettings {
    std::int32_t ConnectTimeoutMs = 5000;
    std::int32_t RequestTimeoutMs = 30000;
    // A longer answer is a transport error. Real answers are a few KB; 1 MB keeps a runaway
    // answer out of the log (which rotates at 2 MB) and out of memory.
    std::size_t MaxAnswerBytes = 1024u * 1024;
    // HTTPS: the CA certificates (PEM file) that servers must chain to; empty: the system's.
    // Server certificates are always verified, host name included.
    std::string CAFile;
    // Where connections are kept; null: TRestConnections::Shared().
    std::shared_ptr<TRestConnections> Connections;
};

// GET and POST against a base address. A transport failure (no connection, time-out, an answer
// over the size limit, a server certificate that does not verify) raises std::runtime_error naming
// the address; an HTTP error status is an answer like any other (Get answers false for it).
// A request that fails on a kept connection before any of it was sent is sent once more on a new
// connection (the server may close an idle connection at any time); nothing that was sent is
// ever sent twice by this class.
class TRestClient : public pallux::TInterfacedObject<pallux::IRestClient> {
public:
    explicit TRestClient(TRestSettings settings = {});

    void PALLUX_CALL SetBaseURL(const std::string& url) override { FBaseURL = url; }
    void PALLUX_CALL SetBasicAuth(const std::string& user, const std::string& password) override {
        FUser = user;
        FPassword = password;
        FAuth = true;
    }
    bool PALLUX_CALL Get(const std::string& resource, const pallux::TStringList& headers,
                         std::string& response) override;
    std::string PALLUX_CALL Post(const std::string& resource, const std::string& body,
                                 const pallux::TStringList& headers, std::int32_t options) override;
    void PALLUX_CALL SetTimeouts(std::int32_t connectMs, std::int32_t requestMs) override;
    std::int32_t PALLUX_CALL GetLastStatus() override { return FLastStatus; }

    // The base address joined with a resource: exactly one '/' between them.
    static std::string JoinURL(const std::string& base, const std::string& resource);
    // How many new connections the last request opened (0: it went over a kept one).
    long LastNewConnections() const { return FLastNewConnections; }

private:
    TRestSettings FSettings;
    std::string FBaseURL, FUser, FPassword;
    bool FAuth = false;
    std::int32_t FLastStatus = 0;
    long FLastNewConnections = 0;

    std::string Perform(const std::string& method, const std::string& resource, const std::string* body,
                        const pallux::TStringList& headers);
};

// The [Rest] settings of a host configuration: ConnectTimeoutMs, RequestTimeoutMs, MaxAnswerKB
// (each above 0, else std::invalid_argument naming the key) and CAFile (relative to the
// configuration's folder).
class TIniFile;
TRestSettings ReadRestSettings(const TIniFile& config);

} // namespace refhost
