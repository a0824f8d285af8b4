// Interop with a SOAP stack we did not write: a voucher provider built on node-soap from a WSDL of
// the documented envelopes (tests/soap_peer), with a ledger of its own.
// - The module's envelopes, as that stack parses them, member by member.
// - The module reading that stack's answers in its own layout and in the layouts other stacks
//   write (pretty-printed, other prefixes, qualified members, a default namespace, xsi:type,
//   padded and signed numbers); every case ends with the three-way reconciliation against the
//   peer's ledger.
// - node-soap's client against the voucher simulator in strict mode.
// Skipped, saying why, when node or the npm packages are missing (./run test installs them).
#include "ChildProcess.h"
#include "LedgerAudit.h"
#include "PersistenceTestHost.h"
#include "TRestClient.h"
#include "clsCodeRedemption.h"
#include "clsOutcomeUnknown.h"
#include "implDataChangesZumvo.h"
#include "implZumvoAPI.h"
#include "implZumvoLogic.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <filesystem>

using namespace zumvo;
namespace fs = std::filesystem;

namespace {

constexpr std::int32_t StoreID = 12;        // the host's store: references are "12-<n>"
constexpr std::int32_t ProviderStore = 401; // the provider's store of the till
constexpr const char* SoapPath = "/pos/services/PosService";
const fs::path PeerFolder = fs::path(ZUMVO_SOURCE_DIR) / "tests/soap_peer";

// Why the suite cannot run here; empty when it can.
std::string MissingTools() {
    if (std::system("node --version >/dev/null 2>&1") != 0)
        return "node is not installed";
    if (!fs::exists(PeerFolder / "node_modules/soap/package.json"))
        return "the npm packages are missing: run npm ci in tests/soap_peer (./run test does)";
    return {};
}

std::string NodeProgram() {
    for (const char* dir : {"/usr/bin/node", "/usr/local/bin/node"})
        if (fs::exists(dir))
            return dir;
    return "node";
}

// The peer: node peer.js, on a free port.
class TPeer {
public:
    TPeer()
        : FProcess(NodeProgram(), {(PeerFolder / "peer.js").string(), "--port", "0", "--api-id", "pos",
                                   "--api-password", "se&cret<1>"}) {
        const std::string line = FProcess.ReadLine(30000);
        if (line.rfind("listening on ", 0) != 0)
            throw std::runtime_error("the peer did not start: " + line + FProcess.ReadAll(2000));
        Port = std::stoi(line.substr(13));
    }
    ~TPeer() { FProcess.Stop(); }

    TJSONDocument Get(const char* path) const {
        httplib::Client client("127.0.0.1", Port);
        const auto answer = client.Get(path);
        if (!answer || answer->status != 200)
            throw std::runtime_error(std::string("the peer did not answer GET ") + path);
        return TJSONDocument::Parse(answer->body);
    }
    void SetLayout(const std::string& layout) const {
        httplib::Client client("127.0.0.1", Port);
        const auto answer = client.Post("/layout", R"({"layout": ")" + layout + R"("})", "application/json");
        if (!answer || answer->status != 200)
            throw std::runtime_error("the peer refused the layout " + layout);
    }

    int Port = 0;

private:
    zumvo::test::TChildProcess FProcess;
};

class SoapInteropTest : public ::testing::Test {
protected:
    test::TPersistenceTestHost host;
    test::TLogCapture log{host.Folder};
    std::unique_ptr<TPeer> peer;
    pallux::IntfPtr<IZumvoTransaction> store;
    pallux::IntfPtr<IZumvoAPI> client;
    int invoices = 0;

    void SetUp() override {
        if (const std::string missing = MissingTools(); !missing.empty())
            GTEST_SKIP() << "SKIPPED: " << missing;
        host.WriteSettings("[Settings]\nZumvoStoreID=401\n");
        std::vector<std::string> scripts;
        pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
        for (const auto& s : scripts)
            host.Run(s);
        refhost::RegisterHostFactory<pallux::IRestClient>(*host.Container, [] {
            refhost::TRestSettings s;
            s.ConnectTimeoutMs = 5000;
            s.RequestTimeoutMs = 10000;
            return pallux::MakeIntf<refhost::TRestClient>(s);
        });
        peer = std::make_unique<TPeer>();
        store = pallux::MakeIntf<TZumvoTransaction>();
        client = pallux::MakeIntf<TZumvoAPI>();
        client->SetServer("http://127.0.0.1:" + std::to_string(peer->Port), SoapPath);
        client->SetCredentials("pos", "se&cret<1>");
        client->SetStore(ProviderStore, "Till-3");
    }

    TCodeRedemption Redemption(std::int32_t basket, const std::string& cashier = "9") {
        TRedemptionContext context;
        context.ClassMethod = "TInterop.Redeem";
        context.StoreID = StoreID;
        context.ProviderStoreID = ProviderStore;
        context.PosID = "Till-3";
        context.BasketID = basket;
        context.Cashier = cashier;
        context.LineItems = R"([{"Code": "SKU&1<2>", "Price": 6.05, "Quantity": 2},
                                {"Code": "", "Price": 1, "Quantity": 1},
                                {"Code": "WATER", "Price": 0.995, "Quantity": 2.5}])";
        return TCodeRedemption(std::move(context), client, store, pallux::MakeIntf<TZumvoLogic>());
    }

    // A sale paid with one code: redeemed, saved as the engine saves it, settled, and stored as an
    // invoice of the host with the Zumvo payment, as the till does.
    TRedemption PaidSale(const std::string& code, TCents amount) {
        const std::int32_t basket = store->AddBasket(-1);
        auto redemption = Redemption(basket);
        TRedemption r = redemption.Redeem(code, amount);
        if (!r.Accepted())
            return r;
        store->SavePayment(r.TransactionID, r.Record["tvTrxID"].AsInteger(), UnitsOf(r.Amount),
                           r.Record["Data"].ToJSON());
        store->SaveBasketPayment(basket, UnitsOf(r.Amount));
        const std::int32_t invoice = 100 + ++invoices;
        const auto outcomes =
            redemption.FinaliseAll({{r.TransactionID, r.Record["tvTrxID"].AsInteger(), -1}}, [&] {
                host.Run(
                    "INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID], [STATUS], [AFTERDISC] ) VALUES ( " +
                    std::to_string(invoice) + ", 3, 0, " + FixedText(amount) + " )");
                host.Run("INSERT INTO [InvoicesPayment] ( [InvoiceNum], [PaymentType], [Amount] ) VALUES ( " +
                         std::to_string(invoice) + ", 'Zumvo', " + FixedText(r.Payment) + " )");
                return store->TieBasketToInvoice(basket, invoice);
            });
        EXPECT_EQ(outcomes, std::vector<TAdviceOutcome>{TAdviceOutcome::Confirmed});
        return r;
    }

    // A code redeemed and given back, as the payment screen's Cancel does.
    TRedemption GivenBack(const std::string& code, TCents amount) {
        const std::int32_t basket = store->AddBasket(-1);
        auto redemption = Redemption(basket);
        TRedemption r = redemption.Redeem(code, amount);
        if (r.Accepted()) {
            EXPECT_EQ(redemption.GiveBack(r.TransactionID, r.Record["tvTrxID"].AsInteger()),
                      TAdviceOutcome::Confirmed);
        }
        return r;
    }

    int Status(std::int32_t row) {
        return host
            .Rows("SELECT [Status] FROM [ZumvoPaymentTransactions] WHERE [ID] = " +
                  std::to_string(row))[0]["Status"]
            .AsInteger();
    }
    std::string Reconciliation() {
        return test::ReconcileText(test::ReadAuditData(host.DatabaseFile()), peer->Get("/ledger"), StoreID);
    }
};

// node-soap parses the module's envelopes by the WSDL: every member arrives with the value the
// module meant, markup characters and all, typed as the WSDL types it.
TEST_F(SoapInteropTest, TheModulesEnvelopesParseMemberByMember) {
    const std::int32_t basket = store->AddBasket(-1);
    auto redemption = Redemption(basket, "O'Brien & <Co>");
    const std::string code = "SPLIT-\"A&B<C>'D\"";
    const TRedemption r = redemption.Redeem(code, 1205);
    ASSERT_TRUE(r.Accepted()) << r.Problem;
    ASSERT_EQ(redemption.GiveBack(r.TransactionID, r.Record["tvTrxID"].AsInteger()),
              TAdviceOutcome::Confirmed);

    const TJSONDocument requests = peer->Get("/requests");
    ASSERT_EQ(requests._Count(), 2);
    ASSERT_EQ(requests[0]["operation"].AsString(), "transaction");
    const TJSONValue t = requests[0]["args"]["request"];
    EXPECT_EQ(t["apiCredentials"]["apiClientVersion"].AsString(), "0.0.0.14");
    EXPECT_EQ(t["apiCredentials"]["apiServerVersion"].AsString(), "1.14");
    EXPECT_EQ(t["apiCredentials"]["id"].AsString(), "pos");
    EXPECT_EQ(t["apiCredentials"]["password"].AsString(), "se&cret<1>");
    EXPECT_EQ(t["basketAmount"].AsInteger(), 1205);
    ASSERT_TRUE(t["product"].IsArray());
    ASSERT_EQ(t["product"]._Count(), 2) << "the line without a code is left out";
    EXPECT_EQ(t["product"][0]["id"].AsString(), "SKU&1<2>");
    EXPECT_EQ(t["product"][0]["pricePerUnit"].AsInteger(), 605);
    EXPECT_EQ(t["product"][0]["units"].AsInteger(), 2);
    EXPECT_EQ(t["product"][1]["id"].AsString(), "WATER");
    EXPECT_EQ(t["product"][1]["pricePerUnit"].AsInteger(), 99);
    EXPECT_EQ(t["product"][1]["units"].AsInteger(), 2) << "2.5 units: halves to even";
    const std::string basketRef = "12-" + std::to_string(basket);
    const std::string trxRef = "12-" + std::to_string(r.TransactionID);
    EXPECT_EQ(t["storeTrxDetails"]["basketId"].AsString(), basketRef);
    EXPECT_EQ(t["storeTrxDetails"]["cashierId"].AsString(), "O'Brien & <Co>");
    EXPECT_EQ(t["storeTrxDetails"]["posId"].AsString(), "Till-3");
    EXPECT_EQ(t["storeTrxDetails"]["storeId"].AsInteger(), ProviderStore);
    EXPECT_EQ(t["storeTrxDetails"]["trxId"].AsString(), trxRef);
    EXPECT_EQ(t["token"]["id"].AsString(), code);
    EXPECT_EQ(t["token"]["type"].AsString(), "ZUMVO");
    EXPECT_EQ(t["totalAmount"].AsInteger(), 1205);
    EXPECT_EQ(t["type"].AsString(), "PAYMENT");

    ASSERT_EQ(requests[1]["operation"].AsString(), "advise");
    const TJSONValue a = requests[1]["args"]["request"];
    EXPECT_EQ(a["apiCredentials"]["password"].AsString(), "se&cret<1>");
    EXPECT_EQ(a["action"].AsString(), "REVERSE");
    EXPECT_EQ(a["originalTrx"]["storeTrxDetails"]["basketId"].AsString(), basketRef);
    EXPECT_EQ(a["originalTrx"]["storeTrxDetails"]["cashierId"].AsString(), "O'Brien & <Co>");
    EXPECT_EQ(a["originalTrx"]["storeTrxDetails"]["storeId"].AsInteger(), ProviderStore);
    EXPECT_EQ(a["originalTrx"]["storeTrxDetails"]["trxId"].AsString(), trxRef);
    EXPECT_EQ(a["originalTrx"]["type"].AsString(), "PAYMENT");
    EXPECT_EQ(a["originalTrx"]["tvTrxId"].AsInteger(), r.Record["tvTrxID"].AsInteger());
    EXPECT_EQ(Reconciliation(), "");
}

// The module reads the answers of that stack, and the same answers as other stacks write them:
// a sale settled, a code given back with its payment and discount parts, a refusal. After each
// layout the provider's ledger, the module's rows and the host's invoices agree.
TEST_F(SoapInteropTest, EveryAnswerLayoutIsReadAndTheMoneyAgrees) {
    for (const char* layout : {"own", "pretty", "prettyCrlf", "prefixes", "defaultNamespace", "xsiType",
                               "padded", "signs", "mixed"}) {
        SCOPED_TRACE(layout);
        peer->SetLayout(layout);
        const TRedemption paid = PaidSale(std::string("PAY-") + layout, 1601);
        ASSERT_TRUE(paid.Accepted()) << paid.Problem;
        EXPECT_EQ(paid.Amount, 1601);
        EXPECT_EQ(paid.Payment, 1601);
        EXPECT_EQ(Status(paid.TransactionID), 2);

        const TRedemption split = GivenBack(std::string("SPLIT-") + layout, 1205);
        ASSERT_TRUE(split.Accepted()) << split.Problem;
        EXPECT_EQ(split.Amount, 1205);
        EXPECT_EQ(split.Payment, 723);
        EXPECT_EQ(split.Discount, 482);
        EXPECT_EQ(Status(split.TransactionID), -1);

        const TRedemption refused = Redemption(store->AddBasket(-1)).Redeem("REFUSE-1", 1001);
        EXPECT_EQ(refused.Outcome, TRedemptionOutcome::Refused);
        EXPECT_EQ(refused.Answer["responseDesc"].AsString(), "Voucher refused");

        EXPECT_EQ(Reconciliation(), "");
    }
    // Every ledger entry is one the module knows, with the number the module recorded.
    const TJSONDocument ledger = peer->Get("/ledger");
    EXPECT_EQ(ledger._Count(), 18);
}

// The other way: node-soap's client, built from the same WSDL, against the voucher simulator in
// strict mode (only what the documented protocol allows).
TEST(SoapInteropClient, TheStacksClientIsServedByTheStrictSimulator) {
    if (const std::string missing = MissingTools(); !missing.empty())
        GTEST_SKIP() << "SKIPPED: " << missing;
    zumvo::test::TChildProcess simulator(zumvo::test::BuiltProgram("zumvo_voucher_sim"),
                                         {"--port", "0", "--quiet", "--strict", "--catalogue",
                                          (fs::path(ZUMVO_SOURCE_DIR) / "sim/data/catalogue.json").string(),
                                          "--api-id", "pos", "--api-password", "se&cret<1>"});
    const std::string line = simulator.ReadLine();
    ASSERT_EQ(line.rfind("listening on ", 0), 0u) << line;
    const std::string port = line.substr(13);
    zumvo::test::TChildProcess client(NodeProgram(), {(PeerFolder / "client.js").string(), "--url",
                                                      "http://127.0.0.1:" + port + SoapPath, "--api-id",
                                                      "pos", "--api-password", "se&cret<1>", "--store", "401",
                                                      "--code", "PAY-100"});
    const std::string output = client.ReadAll(60000);
    const auto status = client.Wait(10000);
    EXPECT_TRUE(status.Exited && status.Code == 0) << output;
    EXPECT_THAT(output, ::testing::HasSubstr("client checks: all hold")) << output;
    EXPECT_THAT(output, ::testing::Not(::testing::HasSubstr("FAIL"))) << output;
}

} // namespace
