// The brand service simulator: GET /api/brand/store/N with basic authentication answers the
// JSON array of store N's brands, and test modes make it answer badly.
#pragma once

#include "SimServer.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct TBrand {
    std::int64_t BrandID = 0;
    std::string Code;
    std::string Description;
};

// Store number -> its brands, read from {"12": [{"BrandID":1,"Code":"BR1","Description":"..."}]}.
using TBrandTable = std::map<std::int64_t, std::vector<TBrand>>;
// Throws std::invalid_argument naming the store and entry at fault.
TBrandTable BrandTableFromJson(const std::string& text);
TBrandTable BrandTableFromFile(const std::string& path);
// Reads one store's list: a JSON array of brand objects.
std::vector<TBrand> BrandListFromJson(const std::string& text);
std::string BrandListToJson(const std::vector<TBrand>& brands);

enum class TBrandMode {
    Normal,   // the store's brands
    Empty,    // []
    NonArray, // a JSON object instead of the array
    Http500,  // HTTP 500 with an HTML page
    Drop,     // the connection is closed without an answer
};
// "normal", "empty", "nonarray", "500", "drop"; throws std::invalid_argument for another name.
TBrandMode ParseBrandMode(const std::string& name);
const char* BrandModeName(TBrandMode mode);

inline constexpr const char* DefaultBrandUser = "pallux_client";
inline constexpr const char* DefaultBrandPassword = "k7w2$member";

struct TBrandSimOptions {
    std::string Host = "127.0.0.1";
    int Port = 0;
    std::string BrandsPath; // empty: no brands
    std::string User = DefaultBrandUser;
    std::string Password = DefaultBrandPassword;
    TBrandMode Mode = TBrandMode::Normal;
    bool Quiet = false;
    bool Help = false;
};

TBrandSimOptions ParseBrandSimArgs(const TArgs& args);
std::string BrandSimUsage();

class TBrandSim : public TSimServer {
public:
    TBrandSim(TBrandTable brands, std::string user = DefaultBrandUser,
              std::string password = DefaultBrandPassword);
    ~TBrandSim() override;

    // Without a store: the mode of every store (per-store modes are forgotten).
    void SetMode(std::optional<std::int64_t> store, TBrandMode mode);
    TBrandMode ModeOf(std::int64_t store) const;
    void SetBrands(std::int64_t store, std::vector<TBrand> brands);

protected:
    void Routes(httplib::Server& http) override;

private:
    void HandleBrands(const httplib::Request& req, httplib::Response& res);
    std::string ModesJson() const;

    const std::string FUser;
    const std::string FPassword;
    mutable std::mutex FMutex;
    TBrandTable FBrands;
    TBrandMode FMode = TBrandMode::Normal;
    std::map<std::int64_t, TBrandMode> FStoreModes;
};

} // namespace sim
