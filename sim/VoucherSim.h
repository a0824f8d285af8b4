// The voucher service simulator: the voucher service's SOAP endpoint and its control endpoints
// (ledger, faults) on one loopback HTTP server.
#pragma once

#include "SimServer.h"
#include "VoucherService.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

inline constexpr const char* DefaultSoapPath = "/pos/services/PosService";

struct TVoucherSimOptions {
    std::string Host = "127.0.0.1";
    int Port = 0;
    std::string CataloguePath; // empty: no codes
    std::string Path = DefaultSoapPath;
    std::string CertFile; // with KeyFile: serve HTTPS
    std::string KeyFile;
    TVoucherSimConfig Config;
    bool Quiet = false;
    bool Help = false;
};

// Reads the program's flags; throws std::invalid_argument for an unknown or malformed flag.
TVoucherSimOptions ParseVoucherSimArgs(const TArgs& args);
std::string VoucherSimUsage();

class TVoucherSim : public TSimServer {
public:
    TVoucherSim(TVoucherCatalogue catalogue, TVoucherSimConfig config = {},
                std::string path = DefaultSoapPath);
    ~TVoucherSim() override;

    TVoucherService& Service() { return FService; }
    const std::string& Path() const { return FPath; }

protected:
    void Routes(httplib::Server& http) override;

private:
    void HandleSoap(const httplib::Request& req, httplib::Response& res);
    // Carries the request out ms milliseconds from now, unless the server stops first.
    void CarryOutLate(TSoapRequest request, int ms);

    TVoucherService FService;
    std::string FPath;
    std::mutex FLateMutex;
    std::vector<std::thread> FLate; // joined by the destructor
};

} // namespace sim
