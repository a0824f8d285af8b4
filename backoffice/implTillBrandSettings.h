// TTillBrandSettings: not available in this build yet; every operation logs that and returns its
// results as they stood.
#pragma once

#include "clsInterfacedObject.h"
#include "intfServiceFactory.h"
#include "intfTillBrandSettings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zumvo {

class TTillBrandSettings : public pallux::TInterfacedObject<ITillBrandSettings> {
public:
    using DefaultIntf = ITillBrandSettings;
    void Refresh() override;
    void GetTillsList() override;
    void DatabaseChanges() override;
    void LinkBrandToTill(std::int32_t, std::int32_t) override;
    void GetBrandForTill(std::int32_t, std::string&) override;
    void BrandListJSON(std::string&) override;
    void TillsListJSON(std::string&) override;
};

class TTillBrandSettingsFactory : public pallux::TServiceFactory<TTillBrandSettings, ITillBrandSettings> {};

} // namespace zumvo
