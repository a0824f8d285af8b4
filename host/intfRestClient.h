// The host's HTTP client.
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pallux {

using TStringList = std::vector<std::string>;

// A transport failure (no connection, time-out) raises std::runtime_error; an HTTP error
// status still returns its body as the answer.
class IRestClient : public IInterface {
public:
    static constexpr TGUID IID{"{D1A1C1C4-DFE5-4C6B-8EFA-3A9766677CBA}"};

    virtual void PALLUX_CALL SetBaseURL(const std::string& url) = 0;
    virtual void PALLUX_CALL SetBasicAuth(const std::string& user, const std::string& password) = 0;
    // GET resource; extra header lines "Name: value". True when the status is 2xx.
    virtual bool PALLUX_CALL Get(const std::string& resource, const TStringList& headers,
                                 std::string& response) = 0;
    // POST body to resource; returns the answer body whatever the status.
    virtual std::string PALLUX_CALL Post(const std::string& resource, const std::string& body,
                                         const TStringList& headers, std::int32_t options) = 0;
    // Connection and whole-request time-outs in milliseconds (0 keeps the default).
    virtual void PALLUX_CALL SetTimeouts(std::int32_t connectMs, std::int32_t requestMs) = 0;
    // The HTTP status of the last request, 0 when none completed.
    virtual std::int32_t PALLUX_CALL GetLastStatus() = 0;
};

} // namespace pallux
