// TTillBrandSettings: the store's brands, downloaded from the vendor's brand service into table
// Brands, and the link of each till to one brand (table TillsBrand).
#pragma once

#include "JsonDocument.h"
#include "clsInterfacedObject.h"
#include "intfServiceFactory.h"
#include "intfTillBrandSettings.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zumvo {

// The brand service's address when the settings file names none.
inline constexpr const char* DefaultBrandServiceURL = "https://brands.pallux-pos.com";
// The brand service's credentials for basic authentication.
inline constexpr const char* BrandServiceUser = "pallux_client";
inline constexpr const char* BrandServicePassword = "k7w2$member";

// The brand service's base address: the settings file's "BrandServiceURL" when it holds one,
// else DefaultBrandServiceURL.
std::string BrandServiceURL();

class TTillBrandSettings : public pallux::TInterfacedObject<ITillBrandSettings> {
public:
    // DatabaseChanges, DownloadBrands, GetBrandList and GetTillsList; a failing step does not
    // stop the next one.
    void Refresh() override;
    void GetTillsList() override;
    void DatabaseChanges() override;
    void LinkBrandToTill(std::int32_t brandID, std::int32_t tillID) override;
    // Raises an error (does not catch it) when no tills list was loaded on this object.
    void GetBrandForTill(std::int32_t tillID, std::string& brandCode) override;
    void BrandListJSON(std::string& text) override;
    void TillsListJSON(std::string& text) override;

    // Steps of Refresh.
    void DownloadBrands();
    void GetBrandList();

private:
    std::string FBrandListText;
    TJSONDocument FBrandList = TJSONDocument::NewArray();
    std::string FTillsListText;
    std::optional<TJSONDocument> FTillsList; // empty until a tills list was loaded
};

class TTillBrandSettingsFactory : public pallux::TServiceFactory<TTillBrandSettings, ITillBrandSettings> {};

} // namespace zumvo
