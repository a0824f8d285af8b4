// The Zumvo tender and the receipt block on a real database (SQLite through the reference host's
// script service). The driver cash-up talks to the voucher service simulator program over HTTP,
// and its ledger is compared with the store afterwards.
#include "StatusFixture.h"
#include "ChildProcess.h"
#include "PersistenceTestHost.h"
#include "SimpleXMLtoJSON.h"
#include "TRestClient.h"
#include "clsCurrency.h"
#include "implCurrentBasket.h"
#include "implDataChangesZumvo.h"
#include "implPaymentMethodZumvo.h"
#include "implPrinterAddonZumvo.h"
#include "implZumvoAPI.h"
#include "implZumvoLogic.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>

using namespace zumvo;

namespace {

struct TCashupCall {
    std::int32_t First, Second;
    std::string Code;
    std::int32_t Third, Fourth;
    double Amount;
    std::int32_t Fifth, Sixth;
};

template <class Factory> pallux::IntfPtr<pallux::IServiceFactory> NewFactory() {
    return pallux::MakeIntf<Factory, pallux::IServiceFactory>();
}

// Store 12, current till 3; the module's tables on SQLite; the voucher service simulator runs as
// a program on a free port and the module's settings point at it.
class CashierTest : public ::testing::Test {
protected:
    test::TPersistenceTestHost host;
    test::TLogCapture log{host.Folder};
    std::unique_ptr<test::TChildProcess> sim;
    std::string simURL;
    pallux::IntfPtr<IZumvoTransaction> store;

    void SetUp() override {
        auto& c = *host.Container;
        refhost::TRestSettings rest;
        rest.ConnectTimeoutMs = 2000;
        rest.RequestTimeoutMs = 5000;
        refhost::RegisterHostFactory<pallux::IRestClient>(
            c, [rest] { return pallux::MakeIntf<refhost::TRestClient>(rest); });
        c.RegisterFactory(IZumvoAPI::IID, NewFactory<TZumvoAPIFactory>().get());
        c.RegisterFactory(IZumvoLogic::IID, NewFactory<TZumvoLogicFactory>().get());
        c.RegisterFactory(ICurrentBasket::IID, NewFactory<TCurrentBasketFactory>().get());
        std::vector<std::string> scripts;
        pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
        for (const auto& s : scripts)
            host.Run(s);
        ASSERT_TRUE(CreateService(store));
    }
    void TearDown() override { host.Container->ReleaseInstance(ICurrentBasket::IID); }

    void StartSimulator() {
        std::ofstream(host.Folder / "catalogue.json")
            << R"({"codes": [{"code": "PAY-100", "kind": "payment", "value": 10000}]})";
        sim = std::make_unique<test::TChildProcess>(
            test::BuiltProgram("zumvo_voucher_sim"),
            std::vector<std::string>{"--port", "0", "--quiet", "--catalogue",
                                     (host.Folder / "catalogue.json").string(), "--api-id", "pos",
                                     "--api-password", "Pw-9f3k"});
        const std::string line = sim->ReadLine();
        ASSERT_THAT(line, ::testing::HasSubstr("listening on "));
        simURL = "http://127.0.0.1:" + line.substr(line.rfind(' ') + 1);
        host.WriteSettings("[Settings]\nZumvoStoreID=77\nSOAPServer=" + simURL +
                           "\nSOAPUrl=/pos/services/PosService\nSOAPID=pos\nSOAPPWD=Pw-9f3k\n");
    }

    // The module's settings with the simulator and the extra lines.
    void WriteSettings(const std::string& extra) {
        host.WriteSettings("[Settings]\nZumvoStoreID=77\nSOAPServer=" + simURL +
                           "\nSOAPUrl=/pos/services/PosService\nSOAPID=pos\nSOAPPWD=Pw-9f3k\n" + extra);
    }

    // The simulator's JSON answer to a GET.
    TJSONDocument SimGet(const std::string& resource) {
        refhost::TRestClient client(refhost::TRestSettings{});
        client.SetBaseURL(simURL);
        std::string body;
        EXPECT_TRUE(client.Get(resource, {}, body)) << resource;
        return TJSONDocument::Parse(body);
    }

    // Sends a code for the transaction as the payment screen does and records the acceptance
    // in the store (status 1). Answers the provider's number.
    std::int32_t Redeem(std::int32_t basketID, std::int32_t transactionID, std::int32_t cents,
                        std::int32_t till = 3) {
        pallux::IntfPtr<IZumvoLogic> logic;
        EXPECT_TRUE(CreateService(logic));
        pallux::IntfPtr<IZumvoAPI> api;
        logic->ZumvoAPIForTill(till, api);
        std::string response;
        api->Transaction("12-" + std::to_string(basketID), "-", "12-" + std::to_string(transactionID),
                         "PAY-100", "ZUMVO", cents, cents, "PAYMENT", "[]", response);
        TJSONDocument answer = ReadSoapAnswer(response, "transactionResponse");
        EXPECT_EQ(answer["responseCode"].AsString(), "-1") << response;
        const std::int32_t tv = answer["tvTrxId"].AsInteger();
        answer.Add("Zumvo", "PAY-100");
        store->SavePayment(transactionID, tv, cents / 100.0, answer.ToJSON());
        return tv;
    }
    void Advise(const std::string& action, std::int32_t basketID, std::int32_t transactionID,
                std::int32_t tv) {
        pallux::IntfPtr<IZumvoLogic> logic;
        ASSERT_TRUE(CreateService(logic));
        pallux::IntfPtr<IZumvoAPI> api;
        logic->ZumvoAPIForTill(3, api);
        std::string response;
        api->Advice("12-" + std::to_string(basketID), "-", "12-" + std::to_string(transactionID), action, tv,
                    "PAYMENT", response);
        ASSERT_EQ(ReadSoapAnswer(response, "adviseResponse")["responseCode"].AsString(), "-1") << response;
    }

    void RaiseCashupEvents(const std::vector<std::string>& events) {
        pallux::IntfPtr<pallux::IEventManager> manager;
        ASSERT_TRUE(host.Container->GetInstance(manager));
        for (const auto& e : events)
            manager->RaiseEvent("Pallux.Cashup.DriverCashup." + e, "", 0);
    }

    pallux::IntfPtr<pallux::IPaymentMethod> NewTender() {
        pallux::IntfPtr<pallux::IPaymentMethod> tender = pallux::MakeIntf<TPaymentMethodZumvo>();
        return tender;
    }

    std::string Status(std::int32_t transactionID) {
        return host.Value("SELECT [Status] FROM [ZumvoPaymentTransactions] WHERE [ID] = " +
                          std::to_string(transactionID));
    }
};

} // namespace

TEST(CurrencyAmount, ConvertsExactlyWithoutPassingThroughBinaryArithmetic) {
    const std::pair<pallux::TCurrency, double> cases[] = {{125000, 12.5},
                                                          {1, 0.0001},
                                                          {-3, -0.0003},
                                                          {1234567890123456789, 123456789012345.6789},
                                                          {INT64_MIN, -922337203685477.5808},
                                                          {0, 0.0}};
    for (const auto& [raw, expected] : cases)
        EXPECT_EQ(TCurrencyAmount::FromRaw(raw).ToDouble(), expected) << raw;
    EXPECT_EQ(TCurrencyAmount::FromRaw(INT64_MIN).ToText(), "-922337203685477.5808");
    EXPECT_EQ(TCurrencyAmount::FromRaw(-5).ToText(), "-0.0005");
}

TEST_F(CashierTest, TenderAmountsChangeEventsAndNames) {
    auto tender = NewTender();
    std::vector<pallux::IPaymentMethod*> senders;
    tender->SetOnChange([&](pallux::IPaymentMethod* sender) { senders.push_back(sender); });
    tender->SetAmount(0); // the current value: no notice
    tender->SetAmount(125000);
    tender->SetAmount(125000);
    tender->SetSecondAmount(50000);
    EXPECT_EQ(senders, (std::vector<pallux::IPaymentMethod*>{tender.get(), tender.get()}));
    EXPECT_EQ(tender->GetAmount(), 125000);
    EXPECT_EQ(tender->GetSecondAmount(), 50000);
    tender->GetConfigList()->SetValue("Key", "1");
    tender->Reset();
    EXPECT_EQ(senders.size(), 2u) << "Reset gives no notice";
    EXPECT_EQ(tender->GetAmount(), 0);
    EXPECT_EQ(tender->GetSecondAmount(), 0);
    EXPECT_EQ(tender->GetConfigList()->Count(), 0);
    EXPECT_EQ(tender->GetNameA() + tender->GetNameB() + tender->GetNameC(), "ZumvoZumvoZumvo");

    EXPECT_FALSE(tender->Pay());
    const auto lines = host.Context->Transcript.Lines();
    EXPECT_EQ(
        std::count(
            lines.begin(), lines.end(),
            "MESSAGE: information: Please use the Voucher button during a transaction to apply a Zumvo"),
        1);
    EXPECT_EQ(tender->GetAmount(), 0);
}

TEST_F(CashierTest, PaymentCodeAndCashupEntryGetBFirstAndOnlyForAmountsTheyAccept) {
    struct TCase {
        pallux::TCurrency Amount;
        bool Reported, Entry;
    } cases[] = {{125000, true, true}, {0, false, false}, {-5000, true, false}};
    for (const auto& c : cases) {
        auto tender = NewTender();
        tender->SetAmount(c.Amount);
        std::vector<std::tuple<std::int32_t, std::int32_t, std::string>> codes;
        tender->ReportPaymentCode(11, 22, [&](std::int32_t x, std::int32_t y, const std::string& code) {
            codes.emplace_back(x, y, code);
        });
        std::vector<TCashupCall> entries;
        tender->AddCashupEntry(7, 4711,
                               [&](std::int32_t a, std::int32_t b, const std::string& code, std::int32_t c3,
                                   std::int32_t c4, double amount, std::int32_t c5, std::int32_t c6) {
                                   entries.push_back({a, b, code, c3, c4, amount, c5, c6});
                               });
        ASSERT_EQ(codes.size(), c.Reported ? 1u : 0u) << c.Amount;
        if (c.Reported) {
            EXPECT_EQ(codes[0], std::make_tuple(22, 11, std::string("PAYMENT:ZUMVO")));
        }
        ASSERT_EQ(entries.size(), c.Entry ? 1u : 0u) << c.Amount;
        if (c.Entry) {
            const auto& e = entries[0];
            EXPECT_EQ(
                std::make_tuple(e.First, e.Second, e.Code, e.Third, e.Fourth, e.Amount, e.Fifth, e.Sixth),
                std::make_tuple(4711, 7, std::string("PAYMENT:ZUMVO"), 0, 0, 12.5, 0, 0));
        }
    }
}

TEST_F(CashierTest, DriverCashupFinalisesOnlyRedeemedCodesAndASecondCashupSendsNothing) {
    StartSimulator();
    const std::int32_t basket = store->AddBasket(3);
    std::map<std::string, std::int32_t> trx;
    for (const char* name : {"started", "redeemed", "finalised", "cancelled"})
        trx[name] = store->AddTransactionToBasket(basket);
    const std::int32_t tvRedeemed = Redeem(basket, trx["redeemed"], 1000);
    const std::int32_t tvFinalised = Redeem(basket, trx["finalised"], 500);
    Advise("FINALISE", basket, trx["finalised"], tvFinalised);
    test::PutStatus(trx["finalised"], TTransactionStatus::Finalised);
    const std::int32_t tvCancelled = Redeem(basket, trx["cancelled"], 250);
    Advise("REVERSE", basket, trx["cancelled"], tvCancelled);
    test::PutStatus(trx["cancelled"], TTransactionStatus::Cancelled);
    const int advicesBefore = SimGet("/ledger/advices")._Count();

    pallux::IntfPtr<ICurrentBasket> hub;
    ASSERT_TRUE(GetSingletonService(hub));
    hub->SetBasketID(basket);
    auto tender = NewTender();
    tender->SetAmount(175000);
    std::vector<TCashupCall> entries;
    const auto cashup = [&] {
        tender->AddCashupEntry(1, 900,
                               [&](std::int32_t a, std::int32_t b, const std::string& code, std::int32_t,
                                   std::int32_t, double amount, std::int32_t, std::int32_t) {
                                   entries.push_back({a, b, code, 0, 0, amount, 0, 0});
                               });
    };

    // Flags off: nothing is read or sent, the entry is made all the same.
    cashup();
    EXPECT_EQ(SimGet("/ledger/advices")._Count(), advicesBefore);
    EXPECT_EQ(Status(trx["redeemed"]), "1");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Amount, 17.5);
    EXPECT_EQ(entries[0].First, 900);

    RaiseCashupEvents({"Start", "Payment", "InsertCashup"});
    cashup();
    const TJSONDocument advices = SimGet("/ledger/advices");
    ASSERT_EQ(advices._Count(), advicesBefore + 1) << advices.ToJSON();
    const TJSONValue finalise = advices[advicesBefore];
    EXPECT_EQ(finalise["action"].AsString(), "FINALISE");
    EXPECT_EQ(finalise["tvTrxId"].AsInteger(), tvRedeemed);
    EXPECT_EQ(finalise["trxId"].AsString(), "12-" + std::to_string(trx["redeemed"]));
    EXPECT_EQ(Status(trx["started"]), "0");
    EXPECT_EQ(Status(trx["redeemed"]), "2");
    EXPECT_EQ(Status(trx["finalised"]), "2");
    EXPECT_EQ(Status(trx["cancelled"]), "-1");
    EXPECT_TRUE(log.Has("[TPaymentMethodZumvo.AddCashupEntry] Needs finalise : 12-" +
                        std::to_string(trx["redeemed"])));
    EXPECT_EQ(
        host.Value("SELECT COUNT(*) FROM [zumvoPaymentLog] WHERE [Message] = 'Setting Finalise For Basket: " +
                   std::to_string(basket) + "'"),
        "1");

    // The ledger agrees with the store: what the module holds finalised is settled, what it
    // cancelled is released.
    std::map<std::int64_t, std::string> ledger;
    const TJSONDocument entriesAtSim = SimGet("/ledger");
    for (int i = 0; i < entriesAtSim._Count(); ++i)
        ledger[entriesAtSim[i]["tvTrxId"].AsInteger()] = entriesAtSim[i]["state"].AsString();
    EXPECT_EQ(ledger, (std::map<std::int64_t, std::string>{
                          {tvRedeemed, "settled"}, {tvFinalised, "settled"}, {tvCancelled, "released"}}));

    cashup();
    EXPECT_EQ(SimGet("/ledger/advices")._Count(), advicesBefore + 1) << "the second cash-up sends nothing";
    EXPECT_EQ(entries.size(), 3u);
}

// A FINALISE answered with something that is no advice answer confirms nothing: the code stays
// "failed to finalise" (where the retry finds it), never finalised while the provider holds it.
TEST_F(CashierTest, UnreadableFinaliseAnswerAtCashupLeavesTheCodeFailedToFinalise) {
    StartSimulator();
    const std::int32_t basket = store->AddBasket(3);
    const std::int32_t row = store->AddTransactionToBasket(basket);
    Redeem(basket, row, 1000);
    refhost::TRestClient control(refhost::TRestSettings{});
    control.SetBaseURL(simURL);
    control.Post("/faults", R"({"fault": "malformed", "request": "advise"})", {}, 0);
    pallux::IntfPtr<ICurrentBasket> hub;
    ASSERT_TRUE(GetSingletonService(hub));
    hub->SetBasketID(basket);
    RaiseCashupEvents({"Start", "Payment", "InsertCashup"});
    NewTender()->AddCashupEntry(1, 900, {});
    EXPECT_EQ(Status(row), "-2");
    EXPECT_EQ(SimGet("/ledger")[0]["state"].AsString(), "held");
}

TEST_F(CashierTest, ReceiptBlockOfBasketSeventeenByteForByte) {
    host.Run(
        "INSERT INTO [ZumvoPaymentBasket] ( [Timestamp_Created], [InvoiceNum], [TotalAmount], [TillID] ) "
        "VALUES ( GETDATE(), 501, 1, 3 )");
    // Basket 17 with its two transactions, after rows of other baskets.
    host.Run("UPDATE [ZumvoPaymentBasket] SET [ID] = 17, [TotalAmount] = 25.5");
    const char* rows[] = {"( GETDATE(), 17, 2, 9001, 10 )", "( GETDATE(), 18, 1, 9999, 3 )",
                          "( GETDATE(), 17, -1, 9005, 4 )", "( GETDATE(), 17, 1, 9002, 15.5 )",
                          "( GETDATE(), 17, 0, NULL, 7 )"};
    for (const char* values : rows)
        host.Run(
            std::string("INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [BasketID], [Status], "
                        "[tvTrxID], [Amount] ) VALUES ") +
            values);
    host.Container->RegisterNamedFactory(pallux::IPrinterAddon::IID, "Zumvo",
                                         NewFactory<TPrinterAddonZumvoFactory>().get());

    struct TCase {
        std::string Invoice;
        bool Found;
        std::string Text;
    } cases[] = {
        {R"({"InvID": 501})", true,
         "\r\n**** Zumvo Payment Details ****\r\nBasket ID : 17\r\nTotal     : 25.50\r\nTransactions : \r\n"
         "*  FINAL: tvTrxID: 9001 - 10.00\r\n*  REDEEM: tvTrxID: 9002 - 15.50\r\n"},
        {R"({"InvID": 502})", false, ""},
        {"not json", false, ""},
    };
    for (const auto& c : cases) {
        pallux::IntfPtr<pallux::IPrinterAddon> addon;
        ASSERT_TRUE(host.Container->CreateNamedInstance("Zumvo", addon));
        addon->Initialise(c.Invoice);
        std::string text = "stale";
        for (auto get : {&pallux::IPrinterAddon::GetAddonText1, &pallux::IPrinterAddon::GetAddonText2,
                         &pallux::IPrinterAddon::GetAddonText3}) {
            EXPECT_FALSE((addon.get()->*get)(text));
            EXPECT_EQ(text, "");
        }
        EXPECT_EQ(addon->GetAddonText4(text), c.Found) << c.Invoice;
        EXPECT_EQ(text, c.Text) << c.Invoice;
    }
    EXPECT_TRUE(log.Has("[TPrinterAddonZumvo.Initialise] Found transactions : 4"));
    EXPECT_TRUE(test::LogContains(log, "[TPrinterAddonZumvo.Initialise] Error : "));
}

TEST_F(CashierTest, ReceiptOfABasketWithOnlyReversedCodesHasTheHeaderAlone) {
    host.Run("INSERT INTO [ZumvoPaymentBasket] ( [Timestamp_Created], [InvoiceNum], [TotalAmount] ) "
             "VALUES ( GETDATE(), 600, 0 )");
    host.Run("INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [BasketID], [Status], [tvTrxID], "
             "[Amount] ) VALUES ( GETDATE(), 1, -1, 77, 5 )");
    auto addon = pallux::MakeIntf<TPrinterAddonZumvo>();
    addon->Initialise(R"({"InvID": 600})");
    std::string text;
    ASSERT_TRUE(addon->GetAddonText4(text));
    EXPECT_EQ(
        text,
        "\r\n**** Zumvo Payment Details ****\r\nBasket ID : 1\r\nTotal     : 0.00\r\nTransactions : \r\n");
}

// A driver cash-up on this till (3, provider store 77) of a sale rung up on till 2, whose brand
// trades under provider store 88: the FINALISE goes out as the code was taken, under the
// basket's till and its store, and the provider settles it.
TEST_F(CashierTest, CashupOfAnotherTillsBasketFinalisesUnderThatTillsStore) {
    StartSimulator();
    WriteSettings("BrandLinks={\"BR9\": 88}\n");
    host.Run("INSERT INTO [Brands] ( [BrandID], [Code], [Description] ) VALUES ( 9, 'BR9', 'Nine' );"
             "INSERT INTO [TillsBrand] ( [TillID], [BrandID] ) VALUES ( 2, 9 )");
    const std::int32_t basket = store->AddBasket(2);
    const std::int32_t row = store->AddTransactionToBasket(basket);
    const std::int32_t tv = Redeem(basket, row, 1001, 2);
    ASSERT_EQ(SimGet("/ledger")[0]["storeId"].AsString(), "88");

    pallux::IntfPtr<ICurrentBasket> hub;
    ASSERT_TRUE(GetSingletonService(hub));
    hub->SetBasketID(basket);
    RaiseCashupEvents({"Start", "Payment", "InsertCashup"});
    auto tender = NewTender();
    tender->SetAmount(100100);
    std::vector<double> amounts;
    tender->AddCashupEntry(3, 901,
                           [&](std::int32_t, std::int32_t, const std::string&, std::int32_t, std::int32_t,
                               double amount, std::int32_t, std::int32_t) { amounts.push_back(amount); });

    const TJSONDocument advices = SimGet("/ledger/advices");
    ASSERT_EQ(advices._Count(), 1) << advices.ToJSON();
    EXPECT_EQ(advices[0]["action"].AsString(), "FINALISE");
    EXPECT_EQ(advices[0]["tvTrxId"].AsString(), std::to_string(tv));
    EXPECT_EQ(advices[0]["storeId"].AsString(), "88");
    EXPECT_EQ(advices[0]["posId"].AsString(), "Till-2");
    EXPECT_EQ(advices[0]["trxId"].AsString(), "12-" + std::to_string(row));
    EXPECT_EQ(advices[0]["responseCode"].AsString(), "-1");
    EXPECT_EQ(SimGet("/ledger")[0]["state"].AsString(), "settled");
    EXPECT_EQ(Status(row), "2");
    EXPECT_EQ(amounts, std::vector<double>{10.01});
}
