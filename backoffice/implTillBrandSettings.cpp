#include "implTillBrandSettings.h"

#include "ZumvoLog.h"
#include "clsDBAccess.h"
#include "clsModuleContainer.h"
#include "intfHostIdentity.h"
#include "intfINISettings.h"
#include "intfRestClient.h"

#include <limits>
#include <stdexcept>

namespace zumvo {

namespace {

const char* const CreateBrandsTable = R"(IF OBJECT_ID('Brands', 'U') IS NULL
CREATE TABLE [Brands] (
    [BrandID] INT NOT NULL PRIMARY KEY,
    [Code] VARCHAR(10) NOT NULL,
    [Description] VARCHAR(200) NOT NULL,
    [Timestamp_Inserted] DATETIME NOT NULL DEFAULT (GETDATE())
))";

const char* const CreateTillsBrandTable = R"(IF OBJECT_ID('TillsBrand', 'U') IS NULL
CREATE TABLE [TillsBrand] (
    [TillID] INT NOT NULL PRIMARY KEY,
    [BrandID] INT NOT NULL,
    [Timestamp_Inserted] DATETIME NOT NULL DEFAULT (GETDATE())
))";

const char* const UpsertBrand =
    "IF NOT EXISTS ( SELECT 1 FROM Brands WHERE BrandID = %d )\n"
    "INSERT INTO [Brands] ( BrandID, Code, Description ) VALUES ( %d , %s , %s )\n"
    "ELSE\n"
    "UPDATE [Brands] SET Code = %s, Description = %s WHERE BrandID = %d";

const char* const UpsertTillLink = "IF NOT EXISTS ( SELECT 1 FROM [TillsBrand] WHERE [TillID] = %d)\n"
                                   "INSERT INTO [TillsBrand] ( TillID, BrandID ) VALUES ( %d, %d )\n"
                                   "ELSE\n"
                                   "UPDATE [TillsBrand] SET [BrandID] = %d WHERE [TillID] = %d";

const char* const SelectTillsList =
    "SELECT [TILLS].[TILLSID], [TILLS].[Computer Name] AS [TillName], [TILLS].[TILLID], [Brands].* "
    "FROM [TILLS] LEFT JOIN [TillsBrand] ON [TillsBrand].[TillID] = [TILLS].[TILLSID] "
    "LEFT JOIN [Brands] ON [Brands].[BrandID] = [TillsBrand].[BrandID]";

// One brand of the service's answer, checked before anything is written.
struct TBrandEntry {
    std::int64_t BrandID = 0;
    std::string Code;
    std::string Description;
};

std::optional<TBrandEntry> ReadBrand(const TJSONValue& item) {
    if (!item.IsObject())
        return std::nullopt;
    const TJSONValue id = item["BrandID"];
    const TJSONValue code = item["Code"];
    const TJSONValue description = item["Description"];
    if (!id.IsInteger() || !code.IsString() || !description.IsString())
        return std::nullopt;
    const std::int64_t value = id.AsInt64();
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return TBrandEntry{value, code.AsString(), description.AsString()};
}

} // namespace

std::string BrandServiceURL() {
    pallux::IntfPtr<pallux::IINISettings> settings;
    if (CreateService(settings) && settings) {
        settings->Open(ModuleSettingsFile(), "Settings");
        const std::string url = settings->ReadString("BrandServiceURL", "Default");
        if (!url.empty())
            return url;
    }
    return DefaultBrandServiceURL;
}

void TTillBrandSettings::Refresh() {
    DatabaseChanges();
    DownloadBrands();
    GetBrandList();
    GetTillsList();
}

void TTillBrandSettings::DatabaseChanges() {
    Guarded("TTillBrandSettings.DatabaseChanges", [&] {
        auto db = NewDBScript();
        db->Execute(CreateBrandsTable);
        db->Execute(CreateTillsBrandTable);
    });
}

void TTillBrandSettings::DownloadBrands() {
    Guarded("TTillBrandSettings.DownloadBrands", [&] {
        pallux::IntfPtr<pallux::IStoreIdentity> identity;
        CreateService(identity);
        const std::int32_t store = Use(identity, "StoreIdentity").GetHostStoreID();
        LogInfo("[TTillBrandSettings.DownloadBrands] Got StoreID : %", store);

        pallux::IntfPtr<pallux::IRestClient> rest;
        Require(CreateService(rest) && rest, "Could not create RestClient");
        rest->SetBasicAuth(BrandServiceUser, BrandServicePassword);
        rest->SetBaseURL(BrandServiceURL());
        std::string response;
        const std::string resource = "/api/brand/store/" + std::to_string(store);
        if (!rest->Get(resource, {}, response)) {
            // Named, so that whoever reads the log knows why the list stayed as it was.
            const std::int32_t status = rest->GetLastStatus();
            throw std::runtime_error(status == 0 ? "No answer from the brand service for " + resource
                                                 : "The brand service answered HTTP " +
                                                       std::to_string(status) + " for " + resource);
        }
        LogInfo("[TTillBrandSettings.DownloadBrands] Response : %", response);

        const TJSONDocument brands = TJSONDocument::Parse(response);
        if (!brands.IsArray())
            throw std::runtime_error("The brand service did not answer a list of brands");
        if (brands._Count() <= 0)
            return;
        auto db = NewDBScript();
        for (int i = 0; i < brands._Count(); ++i) {
            const auto brand = ReadBrand(brands[i]);
            if (!brand) {
                // An entry without a whole BrandID, a text Code and a text Description cannot be
                // stored; the others still are.
                LogInfo("[TTillBrandSettings.DownloadBrands] Skipping invalid Brand : %", brands[i].ToJSON());
                continue;
            }
            LogInfo("[TTillBrandSettings.DownloadBrands] Inserting or Updating Brand : %", brand->BrandID);
            const std::string code = pallux::QuotedStr(brand->Code);
            const std::string description = pallux::QuotedStr(brand->Description);
            if (!db->ExecuteFmt(UpsertBrand, {brand->BrandID, brand->BrandID, code, description, code,
                                              description, brand->BrandID}))
                LogInfo("[TTillBrandSettings.DownloadBrands] Could not store Brand : %", brand->BrandID);
        }
    });
}

void TTillBrandSettings::GetBrandList() {
    Guarded("TTillBrandSettings.GetBrandList", [&] {
        LogInfo("[TTillBrandSettings.GetBrandList] Getting Brand List");
        auto db = NewDBScript();
        std::string text;
        db->Query("SELECT * FROM [Brands]", text);
        TJSONDocument list = TJSONDocument::Parse(text);
        if (!list.IsArray())
            throw std::runtime_error("The brand list is not a list of rows");
        FBrandListText = std::move(text);
        FBrandList = std::move(list);
        LogInfo("[TTillBrandSettings.GetBrandList] Brand List Count : %", FBrandList._Count());
    });
}

void TTillBrandSettings::GetTillsList() {
    Guarded("TTillBrandSettings.GetTillsList", [&] {
        LogInfo("[TTillBrandSettings.GetTillsList] Getting Tills List");
        auto db = NewDBScript();
        std::string text;
        db->Query(SelectTillsList, text);
        TJSONDocument list = TJSONDocument::Parse(text);
        if (!list.IsArray())
            throw std::runtime_error("The tills list is not a list of rows");
        FTillsListText = std::move(text);
        FTillsList = std::move(list);
        LogInfo("[TTillBrandSettings.GetTillsList] Tills List Count : %", FTillsList->_Count());
    });
}

void TTillBrandSettings::GetBrandForTill(std::int32_t tillID, std::string& brandCode) {
    brandCode.clear();
    if (!FTillsList)
        throw std::runtime_error("The tills list is not loaded");
    const TJSONDocument& tills = *FTillsList;
    for (int i = 0; i < tills._Count(); ++i) {
        const TJSONValue till = tills[i];
        if (till["TILLID"].AsInt64(std::numeric_limits<std::int64_t>::min()) != tillID)
            continue;
        const TJSONValue code = till["Code"];
        if (!code.IsNull())
            brandCode = code.AsString();
        LogInfo("[TTillBrandSettings.GetBrandForTill] Found Brand : %", brandCode);
        return;
    }
}

void TTillBrandSettings::LinkBrandToTill(std::int32_t brandID, std::int32_t tillID) {
    Guarded("TTillBrandSettings.LinkBrandToTill", [&] {
        auto db = NewDBScript();
        const std::int64_t brand = brandID, till = tillID;
        ExecuteOrRaise(*db, UpsertTillLink, {till, till, brand, brand, till});
    });
}

void TTillBrandSettings::BrandListJSON(std::string& text) {
    text = FBrandListText;
}

void TTillBrandSettings::TillsListJSON(std::string& text) {
    text = FTillsListText;
}

} // namespace zumvo
