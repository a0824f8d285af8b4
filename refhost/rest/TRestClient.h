// The reference host's HTTP client over libcurl.
#pragma once

#include "clsInterfacedObject.h"
#include "intfRestClient.h"

#include <cstddef>
#include <string>

namespace refhost {

struct TRestSettings {
    std::int32_t ConnectTimeoutMs = 5000;
    std::int32_t RequestTimeoutMs = 30000;
    // A longer answer is a transport error. Real answers are a few KB; 1 MB keeps a runaway
    // answer out of the log (which rotates at 2 MB) and out of memory.
    std::size_t MaxAnswerBytes = 1024u * 1024;
};

// GET and POST against a base address. A transport failure (no connection, time-out, an answer
// over the size limit) raises std::runtime_error naming the address; an HTTP error status is an
// answer like any other (Get answers false for it).
class TRestClient : public pallux::TInterfacedObject<pallux::IRestClient> {
public:
    explicit TRestClient(TRestSettings settings = {}) : FSettings(settings) {}

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

private:
    TRestSettings FSettings;
    std::string FBaseURL, FUser, FPassword;
    bool FAuth = false;
    std::int32_t FLastStatus = 0;

    std::string Perform(const std::string& method, const std::string& resource, const std::string* body,
                        const pallux::TStringList& headers);
};

} // namespace refhost
