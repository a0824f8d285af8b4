#include "implZumvoInfo.h"

#include "JsonDocument.h"
#include "ZumvoLog.h"
#include "clsModuleContainer.h"
#include "intfHostIdentity.h"
#include "intfTillBrandSettings.h"

namespace zumvo {

TZumvoInfo::TZumvoInfo() {
    Guarded("TZumvoInfo.Create", [&] {
        Require(CreateService(FSettings), "Could not make INISettings");
        FSettings->Open(ModuleSettingsFile(), "Settings");
        ModuleSettingsFault(); // an unreadable file is logged with its reason, before what is missing

        pallux::IntfPtr<pallux::IStoreIdentity> store;
        CreateService(store);
        FStoreID = Use(store, "StoreIdentity").GetHostStoreID();
        LogInfo("[TZumvoInfo.Create] Got StoreID : %", FStoreID);

        pallux::IntfPtr<pallux::ITillIdentity> till;
        CreateService(till);
        FTillID = Use(till, "TillIdentity").GetHostTillID();
        LogInfo("[TZumvoInfo.Create] Got TillID : %", FTillID);

        FProviderStoreID = CalcZumvoStoreID(-1);
        LogInfo("[TZumvoInfo.Create] Got TvStoreID : %", FProviderStoreID);
    });
}

void CalcProviderStoreID(pallux::IINISettings& settings, std::int32_t tillID, std::int32_t& result) {
    result = settings.ReadInteger("ZumvoStoreID", "Default");
    const std::string links = settings.ReadString("BrandLinks", "Default");
    if (links.empty())
        return;
    const TJSONDocument linkDoc = TJSONDocument::Parse(links);

    pallux::IntfPtr<ITillBrandSettings> brands;
    CreateService(brands);
    Use(brands, "TillBrandSettings").GetTillsList();
    std::string brandCode;
    brands->GetBrandForTill(tillID, brandCode);
    if (!brandCode.empty() && linkDoc.Exists(brandCode))
        result = linkDoc[brandCode].AsInteger();
}

std::int32_t TZumvoInfo::CalcZumvoStoreID(std::int32_t tillID) {
    std::int32_t result = -1;
    Guarded("TZumvoInfo.CalcZumvoStoreID", [&] {
        CalcProviderStoreID(Use(FSettings, "INISettings"), tillID == -1 ? FTillID : tillID, result);
    });
    return result;
}

} // namespace zumvo
