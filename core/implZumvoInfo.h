// TZumvoInfo: which store this is, which till the program runs on, and which store number
// the voucher provider knows the till by. One object per loaded module (a singleton).
#pragma once

#include "clsInterfacedObject.h"
#include "intfServiceFactory.h"
#include "intfZumvoInfo.h"

namespace zumvo {

class TZumvoInfo : public pallux::TInterfacedObject<IZumvoInfo> {
public:
    TZumvoInfo();

    std::int32_t GetProviderStoreID() override { return FProviderStoreID; }
    std::int32_t GetTillID() override { return FTillID; }
    std::int32_t GetStoreID() override { return FStoreID; }
    void GetSettings(pallux::IntfPtr<pallux::IINISettings>& settings) override { settings = FSettings; }
    std::int32_t CalcZumvoStoreID(std::int32_t tillID) override;

private:
    pallux::IntfPtr<pallux::IINISettings> FSettings;
    std::int32_t FTillID = 0;
    std::int32_t FStoreID = 0;
    std::int32_t FProviderStoreID = 0;
};

class TZumvoInfoFactory : public pallux::TServiceFactory<TZumvoInfo, IZumvoInfo> {};

// The provider store ID of a till under the settings' "ZumvoStoreID" and "BrandLinks" rules;
// shared by the identity and the provider logic. Errors propagate to the caller, which logs
// them and keeps the result as it stood (passed in and updated through result).
void CalcProviderStoreID(pallux::IINISettings& settings, std::int32_t tillID, std::int32_t& result);

} // namespace zumvo
