// The SOAP client through the host's libcurl REST client against the voucher service simulator:
// real requests, the simulator's ledger, and every injected fault.
#include "LogCapture.h"
#include "ModuleTestHost.h"
#include "SimpleXMLtoJSON.h"
#include "TRestClient.h"
#include "VoucherSim.h"
#include "implZumvoAPI.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

using namespace zumvo;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const char* const Catalogue = R"({"codes": [
  {"code": "PAY", "kind": "payment", "value": 10000},
  {"code": "SPLIT", "kind": "split", "value": 2000, "paymentPercent": 60},
  {"code": "Q<&\"'>1", "kind": "payment", "value": 900}
]})";

const std::string ApiId = "pos";
const std::string ApiPassword = "Pw-9f3k";
constexpr int RequestTimeoutMs = 800;

sim::TVoucherSimConfig SimConfig() {
    sim::TVoucherSimConfig c;
    c.ApiId = ApiId;
    c.ApiPassword = ApiPassword;
    c.Stores = {"17"};
    return c;
}

class ZumvoAPISimTest : public ::testing::Test {
protected:
    test::TModuleTestHost host;
    test::TLogCapture log{host.Folder};
    sim::TVoucherSim server{sim::TVoucherCatalogue::FromJson(Catalogue), SimConfig()};
    pallux::IntfPtr<IZumvoAPI> api;

    // What the module learned from the answers: provider transaction number -> state as the
    // ledger names it.
    std::map<std::int64_t, std::string> believed;

    void SetUp() override {
        const int port = server.Start();
        refhost::TRestSettings rest;
        rest.ConnectTimeoutMs = 1000;
        rest.RequestTimeoutMs = RequestTimeoutMs;
        // The answer size limit keeps its default: the simulator's default oversized answer
        // must be refused by it.
        refhost::RegisterHostFactory<pallux::IRestClient>(
            *host.Container, [rest] { return pallux::MakeIntf<refhost::TRestClient>(rest); });
        host.Container->RegisterFactory(IZumvoAPI::IID,
                                        pallux::MakeIntf<TZumvoAPIFactory, pallux::IServiceFactory>().get());
        ASSERT_TRUE(CreateService(api));
        api->SetServer("http://127.0.0.1:" + std::to_string(port), sim::DefaultSoapPath);
        api->SetCredentials(ApiId, ApiPassword);
        api->SetStore(17, "Till-3");
    }

    std::string Redeem(const std::string& code, std::int32_t cents, const std::string& trxID) {
        std::string response = "stale";
        api->Transaction("12-5", "9", trxID, code, "ZUMVO", cents, cents, "PAYMENT",
                         R"([{"Code": "SKU-1", "Price": 12.5, "Quantity": 2}])", response);
        return response;
    }
    std::string Advise(const std::string& action, std::int64_t tvTrxID, const std::string& trxID) {
        std::string response = "stale";
        api->Advice("12-5", "9", trxID, action, static_cast<std::int32_t>(tvTrxID), "PAYMENT", response);
        return response;
    }

    // Reads an answer as the callers do; records an accepted transaction as held.
    TJSONDocument Accepted(const std::string& response, const char* element) {
        TJSONDocument answer = ReadSoapAnswer(response, element);
        EXPECT_EQ(ParseResponseCode(answer["responseCode"].AsString()), -1) << response;
        return answer;
    }
    std::int64_t RedeemAccepted(const std::string& code, std::int32_t cents, const std::string& trxID) {
        const TJSONDocument answer = Accepted(Redeem(code, cents, trxID), "transactionResponse");
        const std::int64_t tv = answer["tvTrxId"].AsInteger(-1);
        believed[tv] = "held";
        return tv;
    }
    void AdviseAccepted(const std::string& action, std::int64_t tv, const std::string& trxID) {
        Accepted(Advise(action, tv, trxID), "adviseResponse");
        believed[tv] = action == "FINALISE" ? "settled" : "released";
    }

    std::map<std::int64_t, std::string> LedgerStates() {
        std::map<std::int64_t, std::string> states;
        for (const auto& e : server.Service().Ledger())
            states[e.TvTrxId] = sim::LedgerStateName(e.State);
        return states;
    }

    std::string LogText() const {
        std::string text;
        for (const auto& l : log.Lines())
            text += l + "\n";
        return text;
    }

    void AddFault(sim::TFaultKind kind, sim::TRequestKind request, bool process) {
        sim::TFaultRule rule;
        rule.Kind = kind;
        rule.DelayMs = 4 * RequestTimeoutMs;
        rule.Request = request;
        rule.Remaining = 1;
        rule.Process = process;
        server.Service().AddFault(rule);
    }
};

} // namespace

TEST_F(ZumvoAPISimTest, RedeemFinaliseAndReverseAgreeWithTheLedger) {
    const std::int64_t first = RedeemAccepted("PAY", 1500, "12-1");
    const std::int64_t second = RedeemAccepted("SPLIT", 1000, "12-2");
    const TJSONDocument split = ReadSoapAnswer(Redeem("SPLIT", 500, "12-3"), "transactionResponse");
    believed[split["tvTrxId"].AsInteger(-1)] = "held";
    EXPECT_EQ(split["totalAmountProcessed"].AsString(), "500");
    EXPECT_EQ(split["amountToSettle"].AsString(), "300");

    // A code with markup reaches the service as the same text.
    RedeemAccepted("Q<&\"'>1", 900, "12-4");
    EXPECT_EQ(server.Service().Ledger().back().Code, "Q<&\"'>1");

    AdviseAccepted("FINALISE", first, "12-1");
    AdviseAccepted("REVERSE", second, "12-2");

    EXPECT_EQ(LedgerStates(), believed);
    const auto ledger = server.Service().Ledger();
    ASSERT_EQ(ledger.size(), 4u);
    EXPECT_EQ(ledger[0].Code, "PAY");
    EXPECT_EQ(ledger[0].StoreId, "17");
    EXPECT_EQ(ledger[0].PosId, "Till-3");
    EXPECT_EQ(ledger[0].BasketId, "12-5");
    EXPECT_EQ(ledger[0].CashierId, "9");
    EXPECT_EQ(ledger[0].TrxId, "12-1");
    EXPECT_EQ(ledger[0].Requested, 1500);
    ASSERT_EQ(ledger[0].Advices.size(), 1u);
    EXPECT_EQ(ledger[0].Advices[0].Action, "FINALISE");

    // The password reached the service (it checks it), but never the log.
    EXPECT_THAT(LogText(), Not(HasSubstr(ApiPassword)));
    EXPECT_THAT(LogText(), HasSubstr("<password>********</password>"));
    api->SetCredentials(ApiId, "wrong");
    const TJSONDocument refused = ReadSoapAnswer(Redeem("PAY", 100, "12-5"), "transactionResponse");
    EXPECT_EQ(refused["responseCode"].AsString(), sim::code::BadCredentials);
}

TEST_F(ZumvoAPISimTest, InjectedFaultsNeverEscapeAndLeaveNoReadableAnswer) {
    using K = sim::TFaultKind;
    struct TCase {
        K Kind;
        bool TransportError; // the REST client raises: Response empty, error logged
        const char* Reason = "";
    };
    const TCase cases[] = {{K::Delay, true, "timed out"},
                           {K::Drop, true, "Empty reply from server"},
                           {K::Oversized, true, "the answer is longer than 1048576 bytes"},
                           {K::Http500, false},
                           {K::SoapFault, false},
                           {K::Malformed, false},
                           {K::Truncated, false},
                           {K::MissingResponse, false}};

    const std::int64_t tv = RedeemAccepted("PAY", 2000, "12-1");
    int n = 1;
    for (const TCase& c : cases) {
        SCOPED_TRACE(sim::FaultKindName(c.Kind));
        for (const auto request : {sim::TRequestKind::Transaction, sim::TRequestKind::Advice}) {
            const bool transaction = request == sim::TRequestKind::Transaction;
            const std::string method = transaction ? "[TZumvoAPI.Transaction]" : "[TZumvoAPI.Advice]";
            AddFault(c.Kind, request, false);
            const std::string trxID = "12-" + std::to_string(++n);
            const std::string response =
                transaction ? Redeem("PAY", 500, trxID) : Advise("FINALISE", tv, "12-1");
            const std::string element = transaction ? "transactionResponse" : "adviseResponse";
            if (c.TransportError) {
                EXPECT_EQ(response, "");
                EXPECT_THAT(LogText(), HasSubstr(method + " Error : POST http://127.0.0.1:"));
                EXPECT_THAT(LogText(), HasSubstr(c.Reason));
            } else {
                EXPECT_NE(response, "");
                EXPECT_THROW(ReadSoapAnswer(response, element), EXmlError);
                EXPECT_THAT(LogText(), HasSubstr(method + " Response : "));
            }
        }
    }
    // None of the faulted requests was carried out; the one good transaction is still held.
    EXPECT_EQ(LedgerStates(), believed);
    EXPECT_TRUE(server.Service().Ledger().front().Advices.empty());
    // After the faults the service answers soundly again.
    AdviseAccepted("REVERSE", tv, "12-1");
    EXPECT_EQ(LedgerStates(), believed);
}
