// The voucher simulator on loopback over HTTP and HTTPS (a throw-away CA and server certificate
// made with the openssl command), the HTTPS one also far away behind a latency relay, and the
// module's log in a folder of its own, for the whole run of a benchmark program.
#pragma once

#include "LatencyRelay.h"
#include "VoucherSim.h"
#include "ZumvoLog.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace bench {

struct TSimRig {
    std::filesystem::path Folder;
    std::unique_ptr<sim::TVoucherSim> Http, Https;
    bool HaveTls = false;

    explicit TSimRig(const std::string& name)
        : Folder(std::filesystem::temp_directory_path() /
                 ("zumvo_bench_" + name + "_" + std::to_string(getpid()))) {
        std::filesystem::create_directories(Folder);
        const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        std::ofstream(Folder / "ext.cnf") << "subjectAltName=IP:127.0.0.1\n";
        const std::string script =
            "cd '" + Folder.string() + "' && openssl req -x509" + key +
            " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Bench CA' && openssl req" + key +
            " -keyout server.key -out server.csr -subj '/CN=127.0.0.1' && openssl x509 -req"
            " -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2"
            " -extfile ext.cnf";
        HaveTls = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
        const auto catalogue = sim::TVoucherCatalogue::FromFile(ZUMVO_SOURCE_DIR "/sim/data/catalogue.json");
        Http = std::make_unique<sim::TVoucherSim>(catalogue);
        Http->Start();
        if (HaveTls) {
            Https = std::make_unique<sim::TVoucherSim>(catalogue);
            Https->UseTls((Folder / "server.pem").string(), (Folder / "server.key").string());
            Https->Start();
        }
        zumvo::TLogSettings log;
        log.DestinationPath = Folder;
        log.ComputerName = "BENCH";
        zumvo::ConfigureLog(log);
    }
    ~TSimRig() {
        FFar.reset();
        zumvo::ShutdownLog();
        Http.reset();
        Https.reset();
        std::filesystem::remove_all(Folder);
    }
    TSimRig(const TSimRig&) = delete;
    TSimRig& operator=(const TSimRig&) = delete;

    std::string Base(bool tls) const {
        return std::string(tls ? "https" : "http") +
               "://127.0.0.1:" + std::to_string((tls ? Https : Http)->Port());
    }
    std::string CAFile() const { return (Folder / "ca.pem").string(); }
    sim::TVoucherSim& Sim(bool tls) { return *(tls ? Https : Http); }

    // A provider far away: 25 ms each way (a 50 ms round trip), as a till across a country.
    static constexpr std::chrono::milliseconds WanOneWay{25};
    static constexpr double WanRoundTripNs = 2 * 1e6 * WanOneWay.count();
    // The HTTPS simulator behind the latency relay (started at the first call); null without TLS.
    sim::TLatencyRelay* Far() {
        if (!FFar && HaveTls) {
            FFar = std::make_unique<sim::TLatencyRelay>("127.0.0.1", Https->Port(), WanOneWay);
            FFar->Start();
        }
        return FFar.get();
    }
    std::string FarBase() { return "https://127.0.0.1:" + std::to_string(Far()->Port()); }

private:
    std::unique_ptr<sim::TLatencyRelay> FFar;
};

// The floor's poster: request bytes sent by one libcurl handle, its connection kept alive between
// requests or a new one for each; the answer is read and dropped.
class TFloorPoster {
public:
    TFloorPoster(const std::string& url, const std::string& caFile, bool kept)
        : FHandle(curl_easy_init()),
          FHeaders(curl_slist_append(curl_slist_append(nullptr, "Content-Type: text/xml; charset=utf-8"),
                                     "Expect:")) {
        curl_easy_setopt(FHandle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(FHandle, CURLOPT_HTTPHEADER, FHeaders);
        curl_easy_setopt(FHandle, CURLOPT_WRITEFUNCTION, &Discard);
        curl_easy_setopt(FHandle, CURLOPT_CAINFO, caFile.c_str());
        curl_easy_setopt(FHandle, CURLOPT_FORBID_REUSE, kept ? 0L : 1L);
    }
    ~TFloorPoster() {
        curl_slist_free_all(FHeaders);
        curl_easy_cleanup(FHandle);
    }
    TFloorPoster(const TFloorPoster&) = delete;
    TFloorPoster& operator=(const TFloorPoster&) = delete;

    void Post(const std::string& body) {
        curl_easy_setopt(FHandle, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(FHandle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        if (curl_easy_perform(FHandle) != CURLE_OK)
            throw std::runtime_error("the floor's request failed");
    }

private:
    CURL* FHandle;
    curl_slist* FHeaders;

    static std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }
};

} // namespace bench
