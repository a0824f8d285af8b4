#include "TRestClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string_view>

namespace refhost {

namespace {

struct TCurlGlobal {
    TCurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~TCurlGlobal() { curl_global_cleanup(); }
};

void InitCurl() {
    static TCurlGlobal global;
}

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

// The body of a POST, handed to libcurl piece by piece. libcurl resends a request on a new
// connection by itself when a kept connection gave no answer, even after the request went out;
// it must rewind the body for that, and this body refuses once any of it was handed out, so a
// request that may have reached the server is never sent twice (the transfer fails instead).
struct TUpload {
    std::string_view Body;
    std::size_t Offset = 0;
    bool HandedOut = false;
};

std::size_t ReadBody(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* upload = static_cast<TUpload*>(user);
    const std::size_t n = std::min(size * count, upload->Body.size() - upload->Offset);
    upload->Body.copy(buffer, n, upload->Offset);
    upload->Offset += n;
    upload->HandedOut = upload->HandedOut || n > 0;
    return n;
}

int SeekBody(void* user, curl_off_t offset, int origin) {
    auto* upload = static_cast<TUpload*>(user);
    if (origin != SEEK_SET || offset != 0 || upload->HandedOut)
        return CURL_SEEKFUNC_CANTSEEK;
    upload->Offset = 0;
    return CURL_SEEKFUNC_OK;
}

// The host part of a URL, for messages ("https://host:8443/x" -> "host").
std::string HostOf(const std::string& url) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> u(curl_url(), &curl_url_cleanup);
    char* host = nullptr;
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
        curl_url_get(u.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK)
        return url;
    std::string out(host);
    curl_free(host);
    return out;
}

bool IsCertificateFailure(CURLcode rc) {
    return rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_SSL_CACERT_BADFILE ||
           rc == CURLE_SSL_ISSUER_ERROR;
}

// Failures that a kept connection closed by the server gives before any of the request went out.
bool MayBeStaleConnection(CURLcode rc) {
    return rc == CURLE_SEND_ERROR || rc == CURLE_RECV_ERROR || rc == CURLE_GOT_NOTHING ||
           rc == CURLE_SSL_CONNECT_ERROR;
}

} // namespace

// ---- TRestConnections ----

TRestConnections::TRestConnections() {
    InitCurl();
    CURLSH* share = curl_share_init();
    if (!share)
        throw std::runtime_error("Cannot create the HTTP connection cache");
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &TRestConnections::Lock);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &TRestConnections::Unlock);
    curl_share_setopt(share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    FShare = share;
}

TRestConnections::~TRestConnections() {
    curl_share_cleanup(static_cast<CURLSH*>(FShare));
}

std::shared_ptr<TRestConnections> TRestConnections::Shared() {
    static const auto shared = std::make_shared<TRestConnections>();
    return shared;
}

void TRestConnections::Lock(void*, int data, int, void* self) {
    static_cast<TRestConnections*>(self)->FLocks.at(static_cast<std::size_t>(data)).lock();
}

void TRestConnections::Unlock(void*, int data, void* self) {
    static_cast<TRestConnections*>(self)->FLocks.at(static_cast<std::size_t>(data)).unlock();
}

// ---- TRestClient ----

TRestClient::TRestClient(TRestSettings settings) : FSettings(std::move(settings)) {
    if (!FSettings.Connections)
        FSettings.Connections = TRestConnections::Shared();
}

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
    InitCurl();
    FLastStatus = 0;
    FLastNewConnections = 0;
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
        // The body goes with the request at once; no round trip to ask whether it may.
        list.reset(curl_slist_append(list.release(), "Expect:"));
    }
    TUpload upload{body ? std::string_view(*body) : std::string_view()};
    TAnswer answer{{}, FSettings.MaxAnswerBytes};
    char error[CURL_ERROR_SIZE] = {};
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_SHARE, static_cast<CURLSH*>(FSettings.Connections->Handle()));
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    // Only the web's protocols: a settings file's URL must not read a local file (file://) or
    // reach another kind of server through the same client.
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FSettings.ConnectTimeoutMs));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(FSettings.RequestTimeoutMs));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.get());
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!FSettings.CAFile.empty())
        curl_easy_setopt(h, CURLOPT_CAINFO, FSettings.CAFile.c_str());
    if (FAuth) {
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(h, CURLOPT_USERNAME, FUser.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, FPassword.c_str());
    }
    if (body) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &ReadBody);
        curl_easy_setopt(h, CURLOPT_READDATA, &upload);
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &SeekBody);
        curl_easy_setopt(h, CURLOPT_SEEKDATA, &upload);
    }

    CURLcode rc = curl_easy_perform(h);
    long connects = 0;
    curl_easy_getinfo(h, CURLINFO_NUM_CONNECTS, &connects);
    if (rc != CURLE_OK && connects == 0 && MayBeStaleConnection(rc) && !answer.TooLong) {
        // A kept connection that failed: send again on a new one only if none of the request
        // left this side (no request line, no body byte).
        long requestBytes = 0;
        curl_easy_getinfo(h, CURLINFO_REQUEST_SIZE, &requestBytes);
        if (requestBytes == 0 && !upload.HandedOut) {
            answer.Body.clear();
            error[0] = '\0';
            curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
            rc = curl_easy_perform(h);
            curl_easy_getinfo(h, CURLINFO_NUM_CONNECTS, &connects);
        }
    }
    FLastNewConnections = connects;
    if (rc != CURLE_OK) {
        if (answer.TooLong)
            throw std::runtime_error(method + " " + url + ": the answer is longer than " +
                                     std::to_string(FSettings.MaxAnswerBytes) + " bytes");
        const std::string reason = error[0] ? error : curl_easy_strerror(rc);
        if (rc == CURLE_SEND_FAIL_REWIND)
            throw std::runtime_error(
                method + " " + url +
                ": the connection closed after the request was sent; it is not sent again");
        if (IsCertificateFailure(rc))
            throw std::runtime_error(method + " " + url + ": the server " + HostOf(url) +
                                     " could not be verified, nothing was sent: " + reason);
        throw std::runtime_error(method + " " + url + ": " + reason);
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
