#include "TRestClient.h"

#include <curl/curl.h>
#include <memory>
#include <stdexcept>

namespace refhost {

namespace {

struct TCurlGlobal {
    TCurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~TCurlGlobal() { curl_global_cleanup(); }
};

struct TAnswer {
    std::string Body;
    std::size_t Limit;
    bool TooLong = false;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* answer = static_cast<TAnswer*>(user);
    const std::size_t n = size * count;
    if (answer->Body.size() + n > answer->Limit) {
        answer->TooLong = true;
        return 0; // makes libcurl stop with a write error
    }
    answer->Body.append(data, n);
    return n;
}

} // namespace

std::string TRestClient::JoinURL(const std::string& base, const std::string& resource) {
    if (resource.empty())
        return base;
    if (base.empty())
        return resource;
    const bool baseSlash = base.back() == '/';
    const bool resourceSlash = resource.front() == '/';
    if (baseSlash && resourceSlash)
        return base + resource.substr(1);
    if (!baseSlash && !resourceSlash)
        return base + "/" + resource;
    return base + resource;
}

void TRestClient::SetTimeouts(std::int32_t connectMs, std::int32_t requestMs) {
    if (connectMs > 0)
        FSettings.ConnectTimeoutMs = connectMs;
    if (requestMs > 0)
        FSettings.RequestTimeoutMs = requestMs;
}

std::string TRestClient::Perform(const std::string& method, const std::string& resource,
                                 const std::string* body, const pallux::TStringList& headers) {
    static TCurlGlobal global;
    FLastStatus = 0;
    const std::string url = JoinURL(FBaseURL, resource);
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        throw std::runtime_error("Cannot start an HTTP request");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> list(nullptr, &curl_slist_free_all);
    for (const auto& h : headers)
        list.reset(curl_slist_append(list.release(), h.c_str()));
    if (body) {
        bool hasType = false;
        for (const auto& h : headers)
            hasType = hasType || h.rfind("Content-Type:", 0) == 0;
        if (!hasType)
            list.reset(curl_slist_append(list.release(), "Content-Type: text/xml; charset=utf-8"));
    }
    TAnswer answer{{}, FSettings.MaxAnswerBytes};
    char error[CURL_ERROR_SIZE] = {};
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FSettings.ConnectTimeoutMs));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(FSettings.RequestTimeoutMs));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.get());
    if (FAuth) {
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(h, CURLOPT_USERNAME, FUser.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, FPassword.c_str());
    }
    if (body) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    }
    const CURLcode rc = curl_easy_perform(h);
    if (rc != CURLE_OK) {
        if (answer.TooLong)
            throw std::runtime_error(method + " " + url + ": the answer is longer than " +
                                     std::to_string(FSettings.MaxAnswerBytes) + " bytes");
        throw std::runtime_error(method + " " + url + ": " + (error[0] ? error : curl_easy_strerror(rc)));
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    FLastStatus = static_cast<std::int32_t>(status);
    return std::move(answer.Body);
}

bool TRestClient::Get(const std::string& resource, const pallux::TStringList& headers,
                      std::string& response) {
    response = Perform("GET", resource, nullptr, headers);
    return FLastStatus >= 200 && FLastStatus < 300;
}

std::string TRestClient::Post(const std::string& resource, const std::string& body,
                              const pallux::TStringList& headers, std::int32_t) {
    return Perform("POST", resource, &body, headers);
}

} // namespace refhost
