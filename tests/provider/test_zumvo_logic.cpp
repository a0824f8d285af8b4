// The provider logic on a real database (SQLite through the reference host's script service):
// store IDs from brand links, clients configured for a till, and the statuses written for
// finalise and reverse answers, also against the voucher service simulator.
#include "HostSchema.h"
#include "LogCapture.h"
#include "ModuleTestHost.h"
#include "SimpleXMLtoJSON.h"
#include "StatusFixture.h"
#include "TDBScript.h"
#include "TRestClient.h"
#include "VoucherSim.h"
#include "implDataChangesZumvo.h"
#include "implTillBrandSettings.h"
#include "implZumvoAPI.h"
#include "implZumvoInfo.h"
#include "implZumvoLogic.h"
#include "implZumvoTransaction.h"
#include "intfRestClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>

using namespace zumvo;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// A REST client that keeps what was posted and answers a fixed text.
struct TPosted {
    std::string BaseURL, Resource, Body;
};
class TRecordingRest : public pallux::TInterfacedObject<pallux::IRestClient> {
public:
    explicit TRecordingRest(std::shared_ptr<TPosted> p) : P(std::move(p)) {}
    void PALLUX_CALL SetBaseURL(const std::string& url) override { P->BaseURL = url; }
    void PALLUX_CALL SetBasicAuth(const std::string&, const std::string&) override {}
    bool PALLUX_CALL Get(const std::string&, const pallux::TStringList&, std::string&) override {
        return false;
    }
    std::string PALLUX_CALL Post(const std::string& resource, const std::string& body,
                                 const pallux::TStringList&, std::int32_t) override {
        P->Resource = resource;
        P->Body = body;
        return "";
    }
    void PALLUX_CALL SetTimeouts(std::int32_t, std::int32_t) override {}
    std::int32_t PALLUX_CALL GetLastStatus() override { return 200; }

private:
    std::shared_ptr<TPosted> P;
};

template <class Factory> pallux::IntfPtr<pallux::IServiceFactory> NewFactory() {
    return pallux::MakeIntf<Factory, pallux::IServiceFactory>();
}

std::string AdviseAnswer(const std::string& code, const std::string& desc) {
    return "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
           "<soap:Body><ns2:adviseResponse xmlns:ns2=\"http://pos.services.trelvan.com/\"><response>"
           "<responseCode>" +
           code + "</responseCode><responseDesc>" + desc +
           "</responseDesc></response></ns2:adviseResponse></soap:Body></soap:Envelope>";
}

// The current till is 3; the database has tills 1, 2, 3 (demo rows) and 7.
class ZumvoLogicTest : public ::testing::Test {
protected:
    test::TModuleTestHost host;
    test::TLogCapture log{host.Folder};
    std::shared_ptr<refhost::TDatabase> database;
    pallux::IntfPtr<IZumvoTransaction> store;

    void SetUp() override {
        database = refhost::OpenDatabase((host.Folder / "host.db").string());
        refhost::CreateHostTables(*database, true);
        database->RunBatch("INSERT INTO [TILLS] ( [Computer Name], [TILLID] ) VALUES ( 'TILL-7', 7 )");
        auto& c = *host.Container;
        c.RegisterFactory(pallux::IDBScript::IID,
                          pallux::MakeIntf<refhost::TDBScriptFactory>(database).get());
        c.RegisterFactory(ITillBrandSettings::IID, NewFactory<TTillBrandSettingsFactory>().get());
        c.RegisterFactory(IZumvoInfo::IID, NewFactory<TZumvoInfoFactory>().get());
        c.RegisterFactory(IZumvoTransaction::IID, NewFactory<TZumvoTransactionFactory>().get());
        c.RegisterFactory(IZumvoAPI::IID, NewFactory<TZumvoAPIFactory>().get());
        c.RegisterFactory(IZumvoLogic::IID, NewFactory<TZumvoLogicFactory>().get());

        std::vector<std::string> scripts;
        pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
        for (const auto& s : scripts)
            database->RunBatch(s);
        pallux::MakeIntf<TTillBrandSettings>()->DatabaseChanges();
        database->RunBatch(
            "INSERT INTO [Brands] ( BrandID, Code, Description ) VALUES ( 1, 'BR1', 'Brand One' );"
            "INSERT INTO [Brands] ( BrandID, Code, Description ) VALUES ( 2, 'FUEL', 'Forecourt' );"
            "INSERT INTO [Brands] ( BrandID, Code, Description ) VALUES ( 3, 'NOLINK', 'Other' )");
        // Links name tills by TILLSID: till 3 is row 3, till 7 row 4, till 1 row 1.
        auto brands = pallux::MakeIntf<TTillBrandSettings>();
        brands->LinkBrandToTill(1, 3);
        brands->LinkBrandToTill(2, 4);
        brands->LinkBrandToTill(3, 1);
        ASSERT_TRUE(CreateService(store));
    }
    void TearDown() override {
        host.Container->ReleaseInstance(IZumvoInfo::IID);
        std::filesystem::remove(ModuleSettingsFile());
    }

    void WriteSettings(const std::string& keys) {
        std::ofstream(ModuleSettingsFile()) << "[Settings]\n" << keys;
    }
    const std::string StandardSettings =
        "ZumvoStoreID=77\nBrandLinks={\"BR1\": 17, \"FUEL\": 23, \"X\": 5}\n"
        "SOAPServer=http://voucher.test:8080\nSOAPUrl=/pos/services/PosService\n"
        "SOAPID=pos\nSOAPPWD=Pw-9f3k\n";

    // A new provider logic; with reload, on an identity that reads the settings file again.
    pallux::IntfPtr<IZumvoLogic> Logic(bool reload = false) {
        if (reload)
            host.Container->ReleaseInstance(IZumvoInfo::IID);
        pallux::IntfPtr<IZumvoLogic> logic;
        EXPECT_TRUE(CreateService(logic));
        return logic;
    }

    // A transaction row accepted by the provider (status 1), as the engine saves it.
    std::int32_t RedeemedRow(std::int32_t tvTrxID = 1000) {
        const std::int32_t id = store->AddTransaction();
        store->SavePayment(id, tvTrxID, 12.5, "accepted");
        EXPECT_EQ(Status(id), 1);
        return id;
    }
    int Status(std::int32_t id) {
        const auto r = database->RunBatch("SELECT [Status] FROM [ZumvoPaymentTransactions] WHERE [ID] = " +
                                          std::to_string(id));
        return static_cast<int>(r.ResultSets.back().Rows.at(0).at(0).Int);
    }

    std::string LogText() const {
        std::string text;
        for (const auto& l : log.Lines())
            text += l + "\n";
        return text;
    }
};

} // namespace

TEST_F(ZumvoLogicTest, StoreIDsFollowTheTillsBrandLink) {
    WriteSettings(StandardSettings);
    auto logic = Logic();
    EXPECT_EQ(logic->ZumvoStoreID(), 17) << "till 3 has brand BR1";
    EXPECT_EQ(logic->ZumvoStoreIDForTill(7), 23) << "till 7 has brand FUEL";
    EXPECT_EQ(logic->ZumvoStoreIDForTill(3), 17);
    EXPECT_EQ(logic->ZumvoStoreIDForTill(2), 77) << "no brand";
    EXPECT_EQ(logic->ZumvoStoreIDForTill(1), 77) << "brand code not among the links";
    EXPECT_EQ(logic->ZumvoStoreIDForTill(-1), 77) << "-1 is not the current till here";
    EXPECT_EQ(logic->ZumvoStoreIDForTill(99), 77) << "unknown till";

    WriteSettings("ZumvoStoreID=78\n");
    logic = Logic(true);
    EXPECT_EQ(logic->ZumvoStoreID(), 78);
    EXPECT_EQ(logic->ZumvoStoreIDForTill(7), 78);

    WriteSettings("BrandLinks={\"BR1\": 17}\n");
    logic = Logic(true);
    EXPECT_EQ(logic->ZumvoStoreID(), -1);
    EXPECT_TRUE(log.Has("[TZumvoLogic.ZumvoStoreID] Error : Setting ZumvoStoreID is missing in " +
                        ModuleSettingsFile()));
    WriteSettings("ZumvoStoreID=77\nBrandLinks={not json\n");
    logic = Logic(true);
    EXPECT_EQ(logic->ZumvoStoreIDForTill(7), 77);
    EXPECT_THAT(LogText(), HasSubstr("[TZumvoLogic.ZumvoStoreIDForTill] Error : "));
}

TEST_F(ZumvoLogicTest, ClientsAreConfiguredForTheirTill) {
    WriteSettings(StandardSettings);
    auto posted = std::make_shared<TPosted>();
    refhost::RegisterHostFactory<pallux::IRestClient>(
        *host.Container, [posted] { return pallux::MakeIntf<TRecordingRest>(posted); });
    auto logic = Logic();
    std::string response;

    pallux::IntfPtr<IZumvoAPI> forTill7;
    logic->ZumvoAPIForTill(7, forTill7);
    ASSERT_TRUE(forTill7);
    forTill7->Advice("12-5", "9", "12-40", "FINALISE", 1001, "PAYMENT", response);
    EXPECT_EQ(posted->BaseURL, "http://voucher.test:8080");
    EXPECT_EQ(posted->Resource, "/pos/services/PosService");
    EXPECT_THAT(posted->Body, HasSubstr("<posId>Till-7</posId>"));
    EXPECT_THAT(posted->Body, HasSubstr("<storeId>23</storeId>"));
    EXPECT_THAT(posted->Body, HasSubstr("<id>pos</id>"));
    EXPECT_THAT(posted->Body, HasSubstr("<password>Pw-9f3k</password>"));

    pallux::IntfPtr<IZumvoAPI> current;
    logic->ZumvoAPI(current);
    ASSERT_TRUE(current);
    EXPECT_NE(current.get(), forTill7.get()) << "a new client each time";
    current->Advice("12-5", "9", "12-41", "REVERSE", 1002, "PAYMENT", response);
    EXPECT_THAT(posted->Body, HasSubstr("<posId>Till-3</posId>"));
    EXPECT_THAT(posted->Body, HasSubstr("<storeId>17</storeId>"));

    // Without a SOAP client in the container the error is logged and nothing is handed out.
    host.Container->UnregisterFactory(IZumvoAPI::IID);
    pallux::IntfPtr<IZumvoAPI> none;
    logic->ZumvoAPIForTill(7, none);
    EXPECT_FALSE(none);
    EXPECT_TRUE(log.Has("[TZumvoLogic.ZumvoAPIForTill] Error : ZumvoAPI is not available"));
}

TEST_F(ZumvoLogicTest, AcceptedAdvicesAndTheirStatuses) {
    WriteSettings(StandardSettings);
    auto logic = Logic();
    const std::int32_t finalised = RedeemedRow();
    const std::int32_t reversed = RedeemedRow();
    EXPECT_TRUE(logic->HandleFinaliseResponse(finalised, AdviseAnswer("-1", "Settled")));
    EXPECT_EQ(Status(finalised), 1) << "an accepted finalise writes nothing here";
    EXPECT_TRUE(logic->HandleReverseResponse(reversed, AdviseAnswer("-1", "Released")));
    EXPECT_EQ(Status(reversed), -1);
    EXPECT_THAT(LogText(), Not(HasSubstr("[TZumvoLogic.Handle")));
}

TEST_F(ZumvoLogicTest, RefusedAndMissingAnswersMarkTheTransactionFailed) {
    WriteSettings(StandardSettings);
    auto logic = Logic();
    struct TCase {
        std::string Answer, Code, Desc;
    };
    const TCase refused[] = {
        {AdviseAnswer("0", "Refused"), "0", "Refused"},
        {AdviseAnswer("OK", "Odd code"), "OK", "Odd code"},
        {AdviseAnswer("-1.0", "Fraction"), "-1.0", "Fraction"},
        // An answer lacking a member is still a refusal.
        {"<Envelope><Body><adviseResponse><response><responseCode>3</responseCode>"
         "</response></adviseResponse></Body></Envelope>",
         "3", ""},
        {"<Envelope><Body><adviseResponse><response><responseDesc>No code</responseDesc>"
         "</response></adviseResponse></Body></Envelope>",
         "", "No code"},
        {"<Envelope><Body><adviseResponse><response/></adviseResponse></Body></Envelope>", "", ""}};
    for (const TCase& c : refused) {
        const std::int32_t f = RedeemedRow();
        const std::int32_t r = RedeemedRow();
        EXPECT_FALSE(logic->HandleFinaliseResponse(f, c.Answer)) << c.Code;
        EXPECT_FALSE(logic->HandleReverseResponse(r, c.Answer)) << c.Code;
        EXPECT_EQ(Status(f), -2) << c.Code;
        EXPECT_EQ(Status(r), -3) << c.Code;
        EXPECT_TRUE(log.Has("[TZumvoLogic.HandleFinaliseResponse] " + std::to_string(f) +
                            ": Invalid Finalise Response : " + c.Code + " " + c.Desc));
        EXPECT_TRUE(log.Has("[TZumvoLogic.HandleReverseResponse] " + std::to_string(r) +
                            ": Invalid Finalise Response : " + c.Code + " " + c.Desc));
    }
    // A code written with blanks or a line end around it reads as XML Schema reads an integer:
    // -1 is a confirmation.
    for (const char* code : {" -1", "\n  -1\r\n", "-1 "}) {
        const std::int32_t f = RedeemedRow();
        const std::int32_t r = RedeemedRow();
        EXPECT_TRUE(logic->HandleFinaliseResponse(f, AdviseAnswer(code, "Blank"))) << code;
        EXPECT_TRUE(logic->HandleReverseResponse(r, AdviseAnswer(code, "Blank"))) << code;
        EXPECT_EQ(Status(f), 1) << "a confirmed finalise leaves the status to its caller";
        EXPECT_EQ(Status(r), -1);
    }

    const std::int32_t f = RedeemedRow();
    const std::int32_t r = RedeemedRow();
    EXPECT_FALSE(logic->HandleFinaliseResponse(f, ""));
    EXPECT_FALSE(logic->HandleReverseResponse(r, ""));
    EXPECT_EQ(Status(f), -2);
    EXPECT_EQ(Status(r), -3);
    EXPECT_TRUE(log.Has("[TZumvoLogic.HandleFinaliseResponse] " + std::to_string(f) +
                        ": Did not receive response from server"));
    EXPECT_TRUE(log.Has("[TZumvoLogic.HandleReverseResponse]  " + std::to_string(r) +
                        ": Did not receive response from server"));
}

TEST_F(ZumvoLogicTest, UnreadableAnswersAreLoggedAndWriteNoStatus) {
    WriteSettings(StandardSettings);
    auto logic = Logic();
    const std::string unreadable[] = {
        "<html><body>500 Internal Server Error</body></html>", "not xml at all",
        "<soap:Envelope><soap:Body><adviseResponse><response><responseCode>-1</responseCode>",
        "<soap:Envelope><soap:Body><soap:Fault><faultcode>soap:Server</faultcode></soap:Fault></soap:Body>"
        "</soap:Envelope>"};
    for (const std::string& answer : unreadable) {
        const std::int32_t f = RedeemedRow();
        const std::int32_t r = RedeemedRow();
        EXPECT_FALSE(logic->HandleFinaliseResponse(f, answer)) << answer;
        EXPECT_FALSE(logic->HandleReverseResponse(r, answer)) << answer;
        EXPECT_EQ(Status(f), 1) << answer;
        EXPECT_EQ(Status(r), 1) << answer;
    }
    EXPECT_THAT(LogText(), HasSubstr("[TZumvoLogic.HandleFinaliseResponse] Error : "));
    EXPECT_THAT(LogText(), HasSubstr("[TZumvoLogic.HandleReverseResponse] Error : "));
    EXPECT_THAT(LogText(), Not(HasSubstr("Invalid Finalise Response")));

    // Without a transaction store the judgement still comes back; the failure is logged.
    host.Container->UnregisterFactory(IZumvoTransaction::IID);
    auto storeless = Logic();
    EXPECT_TRUE(storeless->HandleReverseResponse(5, AdviseAnswer("-1", "Released")));
    EXPECT_TRUE(log.Has("[TZumvoLogic.HandleReverseResponse] Error : ZumvoTransaction is not available"));
}

// The whole road through the libcurl REST client and the simulator: what the database says at
// the end, against the simulator's ledger.
TEST_F(ZumvoLogicTest, StatusesAgainstTheSimulatorLedger) {
    sim::TVoucherSimConfig config;
    config.ApiId = "pos";
    config.ApiPassword = "Pw-9f3k";
    config.Stores = {"23"};
    sim::TVoucherSim server(sim::TVoucherCatalogue::FromJson(
                                R"({"codes": [{"code": "PAY", "kind": "payment", "value": 10000}]})"),
                            config);
    const int port = server.Start();
    refhost::RegisterHostFactory<pallux::IRestClient>(*host.Container, [] {
        refhost::TRestSettings s;
        s.ConnectTimeoutMs = 1000;
        s.RequestTimeoutMs = 800;
        return pallux::MakeIntf<refhost::TRestClient>(s);
    });
    WriteSettings(
        "ZumvoStoreID=77\nBrandLinks={\"FUEL\": 23}\nSOAPServer=http://127.0.0.1:" + std::to_string(port) +
        "\nSOAPUrl=" + sim::DefaultSoapPath + "\nSOAPID=pos\nSOAPPWD=Pw-9f3k\n");
    auto logic = Logic();
    pallux::IntfPtr<IZumvoAPI> api;
    logic->ZumvoAPIForTill(7, api); // till 7's brand gives the store the service knows
    ASSERT_TRUE(api);

    // Five redeemed codes, saved as the engine saves them.
    std::map<std::int32_t, std::int32_t> tvOf; // row -> provider number
    for (int i = 0; i < 5; ++i) {
        const std::int32_t row = store->AddTransaction();
        std::string response;
        api->Transaction("12-5", "9", "12-" + std::to_string(row), "PAY", "ZUMVO", 1000, 1000, "PAYMENT",
                         "[]", response);
        const TJSONDocument answer = ReadSoapAnswer(response, "transactionResponse");
        ASSERT_EQ(answer["responseCode"].AsString(), "-1") << response;
        tvOf[row] = answer["tvTrxId"].AsInteger();
        store->SavePayment(row, tvOf[row], 10.0, response);
    }
    auto it = tvOf.begin();
    const auto [settled, tvSettled] = *it++;
    const auto [released, tvReleased] = *it++;
    const auto [faulted, tvFaulted] = *it++;
    const auto [lost, tvLost] = *it++;
    const auto [twice, tvTwice] = *it++;

    auto advise = [&](const char* action, std::int32_t row, std::int32_t tv) {
        std::string response;
        api->Advice("12-5", "9", "12-" + std::to_string(row), action, tv, "PAYMENT", response);
        return response;
    };
    auto fault = [&](sim::TFaultKind kind, bool process) {
        sim::TFaultRule rule;
        rule.Kind = kind;
        rule.Request = sim::TRequestKind::Advice;
        rule.Remaining = 1;
        rule.Process = process;
        server.Service().AddFault(rule);
    };

    EXPECT_TRUE(logic->HandleFinaliseResponse(settled, advise("FINALISE", settled, tvSettled)));
    test::PutStatus(settled, TTransactionStatus::Finalised);
    EXPECT_TRUE(logic->HandleReverseResponse(released, advise("REVERSE", released, tvReleased)));
    // A SOAP fault: nothing was done, and nothing is written.
    fault(sim::TFaultKind::SoapFault, false);
    EXPECT_FALSE(logic->HandleReverseResponse(faulted, advise("REVERSE", faulted, tvFaulted)));
    // The service settles, but the answer is lost: the module marks the finalise as failed.
    fault(sim::TFaultKind::Drop, true);
    EXPECT_FALSE(logic->HandleFinaliseResponse(lost, advise("FINALISE", lost, tvLost)));
    // Reversing a settled transaction is refused by the service.
    EXPECT_TRUE(logic->HandleFinaliseResponse(twice, advise("FINALISE", twice, tvTwice)));
    test::PutStatus(twice, TTransactionStatus::Finalised);
    EXPECT_FALSE(logic->HandleReverseResponse(twice, advise("REVERSE", twice, tvTwice)));

    std::map<std::int32_t, std::string> ledger; // provider number -> state
    for (const auto& e : server.Service().Ledger())
        ledger[static_cast<std::int32_t>(e.TvTrxId)] = sim::LedgerStateName(e.State);
    const std::map<std::int32_t, std::string> expectedLedger = {{tvSettled, "settled"},
                                                                {tvReleased, "released"},
                                                                {tvFaulted, "held"},
                                                                {tvLost, "settled"},
                                                                {tvTwice, "settled"}};
    EXPECT_EQ(ledger, expectedLedger);
    EXPECT_EQ(Status(settled), 2);
    EXPECT_EQ(Status(released), -1);
    EXPECT_EQ(Status(faulted), 1) << "still held at the provider, still redeemed here";
    EXPECT_EQ(Status(lost), -2) << "settled at the provider, but the module never heard so";
    EXPECT_EQ(Status(twice), 2) << "a refused reverse leaves a settled transaction settled";
    EXPECT_TRUE(log.Has("[TZumvoLogic.HandleFinaliseResponse] " + std::to_string(lost) +
                        ": Did not receive response from server"));
    EXPECT_THAT(LogText(), Not(HasSubstr("Pw-9f3k")));
}
