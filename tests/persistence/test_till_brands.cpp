#include "BrandSim.h"
#include "LogCapture.h"
#include "PersistenceTestHost.h"
#include "TRestClient.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace zumvo;

namespace {

// A brand service that answers every store with one fixed text.
class TFixedBrandService : public sim::TSimServer {
public:
    explicit TFixedBrandService(std::string body) : FBody(std::move(body)) {}

protected:
    void Routes(httplib::Server& http) override {
        http.Get(R"(/api/brand/store/(\d+))",
                 [this](const httplib::Request&, httplib::Response& res) { ReplyJson(res, 200, FBody); });
    }

private:
    std::string FBody;
};

class TillBrandsTest : public ::testing::Test {
protected:
    test::TPersistenceTestHost host;
    test::TLogCapture log{host.Folder};
    sim::TBrandSim brandSim{sim::BrandTableFromJson(R"({
        "12": [{"BrandID": 1, "Code": "BR1", "Description": "Brand One"},
               {"BrandID": 2, "Code": "BR2", "Description": "Brand Two", "Extra": true}],
        "17": [{"BrandID": 3, "Code": "FUEL", "Description": "Forecourt"}]})")};
    pallux::IntfPtr<TTillBrandSettings> brands = pallux::MakeIntf<TTillBrandSettings, TTillBrandSettings>();

    void SetUp() override {
        refhost::RegisterHostFactory<pallux::IRestClient>(*host.Container, [] {
            refhost::TRestSettings s;
            s.ConnectTimeoutMs = 2000;
            s.RequestTimeoutMs = 5000;
            return pallux::MakeIntf<refhost::TRestClient>(s);
        });
        UseService(brandSim.Start());
    }

    void UseService(int port, const std::string& more = "") {
        host.WriteSettings("[Settings]\nZumvoStoreID=77\nBrandServiceURL=http://127.0.0.1:" +
                           std::to_string(port) + "\n" + more);
    }

    TJSONDocument StoredBrands() { return host.Rows("SELECT * FROM [Brands] ORDER BY [BrandID]"); }

    // How many log lines end with the text.
    long Count(const std::string& text) {
        const auto lines = log.Lines();
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.size() >= text.size() && l.compare(l.size() - text.size(), text.size(), text) == 0;
        });
    }
    bool Logged(const std::string& text) { return test::LogContains(log, text); }
};

} // namespace

TEST_F(TillBrandsTest, RefreshDownloadsTheStoresBrandsAndLoadsBothLists) {
    brands->Refresh();

    const auto stored = StoredBrands();
    ASSERT_EQ(stored._Count(), 2);
    EXPECT_EQ(stored[0]["Code"].AsString(), "BR1");
    EXPECT_EQ(stored[1]["Description"].AsString(), "Brand Two");
    EXPECT_FALSE(stored[0]["Timestamp_Inserted"].IsNull());

    std::string text;
    brands->BrandListJSON(text);
    EXPECT_EQ(TJSONDocument::Parse(text)._Count(), 2);
    brands->TillsListJSON(text);
    const auto tills = TJSONDocument::Parse(text);
    ASSERT_EQ(tills._Count(), 3);
    EXPECT_EQ(tills[0]["TillName"].AsString(), "TILL-1");
    EXPECT_TRUE(tills[0].Exists("TILLSID"));
    EXPECT_TRUE(tills[0].Exists("TILLID"));
    EXPECT_TRUE(tills[0].Exists("Code")) << "every column of Brands";
    EXPECT_TRUE(tills[0]["Code"].IsNull()) << "a till without a brand";

    EXPECT_TRUE(log.Has("[TTillBrandSettings.DownloadBrands] Got StoreID : 12"));
    EXPECT_TRUE(log.Has("[TTillBrandSettings.DownloadBrands] Response : "
                        R"([{"BrandID":1,"Code":"BR1","Description":"Brand One"},)"
                        R"({"BrandID":2,"Code":"BR2","Description":"Brand Two"}])"));
    EXPECT_TRUE(log.Has("[TTillBrandSettings.DownloadBrands] Inserting or Updating Brand : 1"));
    EXPECT_TRUE(log.Has("[TTillBrandSettings.DownloadBrands] Inserting or Updating Brand : 2"));
    EXPECT_TRUE(log.Has("[TTillBrandSettings.GetBrandList] Getting Brand List"));
    EXPECT_TRUE(log.Has("[TTillBrandSettings.GetBrandList] Brand List Count : 2"));
    EXPECT_TRUE(log.Has("[TTillBrandSettings.GetTillsList] Getting Tills List"));
    EXPECT_TRUE(log.Has("[TTillBrandSettings.GetTillsList] Tills List Count : 3"));
    EXPECT_FALSE(Logged("Error : "));
}

TEST_F(TillBrandsTest, ChangedBrandIsUpdatedInPlaceAndDroppedBrandsStay) {
    brands->Refresh();
    const std::string inserted = StoredBrands()[0]["Timestamp_Inserted"].AsString();
    brandSim.SetBrands(12, {{1, "BR1N", "Brand One Renamed"}, {4, "NEW", "Brand Four"}});
    brands->Refresh();

    const auto stored = StoredBrands();
    ASSERT_EQ(stored._Count(), 3);
    EXPECT_EQ(stored[0]["BrandID"].AsInteger(), 1);
    EXPECT_EQ(stored[0]["Code"].AsString(), "BR1N");
    EXPECT_EQ(stored[0]["Description"].AsString(), "Brand One Renamed");
    EXPECT_EQ(stored[0]["Timestamp_Inserted"].AsString(), inserted);
    EXPECT_EQ(stored[1]["Code"].AsString(), "BR2") << "no longer served, still stored";
    EXPECT_EQ(stored[2]["Code"].AsString(), "NEW");
    EXPECT_TRUE(log.Has("[TTillBrandSettings.GetBrandList] Brand List Count : 3"));
}

TEST_F(TillBrandsTest, EmptyOrFailedDownloadsLeaveTheStoredBrands) {
    brands->Refresh();
    ASSERT_EQ(Count("Inserting or Updating Brand : 1"), 1);

    brandSim.SetMode(12, sim::TBrandMode::Empty);
    brands->Refresh();
    EXPECT_TRUE(log.Has("[TTillBrandSettings.DownloadBrands] Response : []"));

    brandSim.SetMode(12, sim::TBrandMode::Http500);
    brands->Refresh();

    brandSim.SetMode(12, sim::TBrandMode::NonArray);
    brands->Refresh();
    EXPECT_TRUE(
        log.Has("[TTillBrandSettings.DownloadBrands] Error : The brand service did not answer a list of "
                "brands"));

    brandSim.SetMode(12, sim::TBrandMode::Drop);
    brands->Refresh();

    EXPECT_EQ(Count("Inserting or Updating Brand : 1"), 1) << "no upsert after the first download";
    EXPECT_EQ(Count("[TTillBrandSettings.DownloadBrands] Response : []"), 1);
    EXPECT_EQ(Count("[TTillBrandSettings.GetBrandList] Brand List Count : 2"), 5) << "every refresh went on";
    EXPECT_EQ(Count("[TTillBrandSettings.GetTillsList] Tills List Count : 3"), 5);
    EXPECT_EQ(
        Count(
            "[TTillBrandSettings.DownloadBrands] Error : The brand service did not answer a list of brands"),
        1);
    EXPECT_TRUE(Logged("[TTillBrandSettings.DownloadBrands] Error : ")) << "the dropped connection";
    EXPECT_EQ(StoredBrands()._Count(), 2);

    // An address where nothing listens.
    brandSim.Stop();
    brands->Refresh();
    EXPECT_EQ(StoredBrands()._Count(), 2);
    EXPECT_EQ(Count("[TTillBrandSettings.GetTillsList] Tills List Count : 3"), 6);
}

TEST_F(TillBrandsTest, MalformedBrandsAreSkippedAndTheRestStored) {
    TFixedBrandService service(R"([1, "two", null, [],
        {"BrandID": 5, "Code": "OK", "Description": "Fine", "Colour": "red"},
        {"BrandID": 6, "Code": "NODESC"},
        {"BrandID": "seven", "Code": "S", "Description": "d"},
        {"BrandID": 8, "Code": null, "Description": "d"},
        {"BrandID": 9.5, "Code": "F", "Description": "d"},
        {"BrandID": 10, "Code": "TOOLONGCODE", "Description": "d"},
        {"BrandID": 11, "Code": "Q'T", "Description": "It's quoted"}])");
    UseService(service.Start());
    brands->Refresh();

    const auto stored = StoredBrands();
    ASSERT_EQ(stored._Count(), 2);
    EXPECT_EQ(stored[0]["BrandID"].AsInteger(), 5);
    EXPECT_EQ(stored[1]["Code"].AsString(), "Q'T");
    EXPECT_EQ(stored[1]["Description"].AsString(), "It's quoted");
    EXPECT_TRUE(log.Has("[TTillBrandSettings.DownloadBrands] Skipping invalid Brand : 1"));
    EXPECT_TRUE(log.Has(
        R"([TTillBrandSettings.DownloadBrands] Skipping invalid Brand : {"BrandID":6,"Code":"NODESC"})"));
    EXPECT_TRUE(log.Has("[TTillBrandSettings.DownloadBrands] Could not store Brand : 10"));
    for (const char* id : {"5", "10", "11"})
        EXPECT_EQ(Count(std::string("Inserting or Updating Brand : ") + id), 1) << id;
    EXPECT_FALSE(Logged("Inserting or Updating Brand : 6"));
    EXPECT_FALSE(Logged("Error : ")) << "one bad entry does not fail the download";
}

TEST_F(TillBrandsTest, TillsAreLinkedByRowIdentifierAndLookedUpByTillNumber) {
    brands->Refresh();
    // A till whose row identifier (TILLSID 4) differs from its number (TILLID 9).
    host.Run("INSERT INTO [TILLS] ( [Computer Name], [TILLID] ) VALUES ( 'TILL-9', 9 )");
    ASSERT_EQ(host.Value("SELECT [TILLSID] FROM [TILLS] WHERE [TILLID] = 9"), "4");

    std::string code = "stale";
    EXPECT_THROW(pallux::MakeIntf<TTillBrandSettings>()->GetBrandForTill(9, code), std::runtime_error)
        << "no tills list loaded on that object";
    EXPECT_EQ(code, "");

    brands->LinkBrandToTill(1, 4);
    brands->GetTillsList();
    brands->GetBrandForTill(9, code);
    EXPECT_EQ(code, "BR1");
    EXPECT_TRUE(log.Has("[TTillBrandSettings.GetBrandForTill] Found Brand : BR1"));

    brands->LinkBrandToTill(2, 4);
    brands->GetTillsList();
    brands->GetBrandForTill(9, code);
    EXPECT_EQ(code, "BR2") << "a new link replaces the old";
    EXPECT_EQ(host.Value("SELECT COUNT(*) FROM [TillsBrand]"), "1");

    code = "stale";
    brands->GetBrandForTill(2, code);
    EXPECT_EQ(code, "") << "a till without a brand";
    EXPECT_TRUE(log.Has("[TTillBrandSettings.GetBrandForTill] Found Brand : "));

    const auto before = log.Lines().size();
    code = "stale";
    brands->GetBrandForTill(4, code);
    EXPECT_EQ(code, "") << "4 is a row identifier, not a till number";
    EXPECT_EQ(log.Lines().size(), before) << "a till number not in the list logs nothing";

    // Two rows of one till number: the first row's brand, one line logged.
    host.Run("INSERT INTO [TILLS] ( [Computer Name], [TILLID] ) VALUES ( 'TILL-11A', 11 );"
             "INSERT INTO [TILLS] ( [Computer Name], [TILLID] ) VALUES ( 'TILL-11B', 11 )");
    brands->LinkBrandToTill(2, 5);
    brands->LinkBrandToTill(1, 6);
    brands->GetTillsList();
    const auto found = [&] {
        int n = 0;
        for (const auto& l : log.Lines())
            n += l.find("[TTillBrandSettings.GetBrandForTill] Found Brand : ") != std::string::npos;
        return n;
    };
    const int foundBefore = found();
    brands->GetBrandForTill(11, code);
    EXPECT_EQ(code, "BR2");
    EXPECT_EQ(found(), foundBefore + 1);
}

TEST_F(TillBrandsTest, DatabaseFailuresAreLoggedUnderEachOperation) {
    brands->Refresh();
    host.Run("DROP TABLE [TillsBrand]");
    brands->LinkBrandToTill(1, 1);
    EXPECT_TRUE(Logged("[TTillBrandSettings.LinkBrandToTill] Error : "));
    brands->GetTillsList();
    EXPECT_TRUE(Logged("[TTillBrandSettings.GetTillsList] Error : "));
    std::string code;
    EXPECT_NO_THROW(brands->GetBrandForTill(1, code)) << "the earlier list is kept";

    host.Container->UnregisterFactory(pallux::IDBScript::IID);
    brands->Refresh();
    for (const char* op : {"DatabaseChanges", "GetBrandList", "GetTillsList"})
        EXPECT_TRUE(log.Has(std::string("[TTillBrandSettings.") + op + "] Error : Could not create DBScript"))
            << op;
}

TEST_F(TillBrandsTest, ProviderStoreFollowsTheBrandLinksOfTheTill) {
    brands->Refresh();
    host.Run("INSERT INTO [Brands] ( [BrandID], [Code], [Description] ) VALUES ( 20, 'FUEL', 'Forecourt' );"
             "INSERT INTO [Brands] ( [BrandID], [Code], [Description] ) VALUES ( 21, '', 'No code' )");
    brands->LinkBrandToTill(1, 1);  // till 1: BR1, linked to provider store 17
    brands->LinkBrandToTill(2, 3);  // till 3 (the current till): BR2, whose link is not a number
    brands->LinkBrandToTill(21, 2); // till 2: a brand without code
    host.Run("INSERT INTO [TILLS] ( [Computer Name], [TILLID] ) VALUES ( 'TILL-5', 5 )");
    brands->LinkBrandToTill(20, 4); // till 5: FUEL, not in the links

    host.WriteSettings("[Settings]\nZumvoStoreID=77\nBrandLinks={\"BR1\": 17, \"BR2\": \"x\", \"\": 99}\n");
    auto info = pallux::MakeIntf<TZumvoInfo>();
    EXPECT_EQ(info->CalcZumvoStoreID(1), 17);
    EXPECT_EQ(info->CalcZumvoStoreID(2), 77) << "a brand without code";
    EXPECT_EQ(info->CalcZumvoStoreID(5), 77) << "a brand code that is not linked";
    EXPECT_EQ(info->CalcZumvoStoreID(6), 77) << "a till that does not exist";
    EXPECT_EQ(info->GetProviderStoreID(), 77) << "a link that is not a number";
    EXPECT_EQ(info->CalcZumvoStoreID(-1), info->CalcZumvoStoreID(3));
    EXPECT_TRUE(Logged("[TZumvoInfo.CalcZumvoStoreID] Error : "));

    host.Run("UPDATE [TillsBrand] SET [BrandID] = 1 WHERE [TillID] = 3");
    EXPECT_EQ(info->CalcZumvoStoreID(-1), 17) << "the database is read again on every call";
    EXPECT_EQ(info->GetProviderStoreID(), 77) << "the value of construction stays";

    host.WriteSettings("[Settings]\nZumvoStoreID=77\n");
    EXPECT_EQ(pallux::MakeIntf<TZumvoInfo>()->CalcZumvoStoreID(1), 77) << "no brand links at all";
}
