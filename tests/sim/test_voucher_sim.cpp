// The voucher service simulator over real loopback HTTP: envelopes, catalogue rules, the ledger,
// fault injection and the program itself.
#include "ChildProcess.h"

#include "VoucherSim.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <pugixml.hpp>
#include <rapidjson/document.h>

#include <chrono>
#include <map>
#include <thread>

using namespace sim;

namespace {

const char* const Catalogue = R"({"codes": [
  {"code": "PAY", "kind": "payment", "value": 10000},
  {"code": "ONCE", "kind": "payment", "value": 5000, "singleUse": true},
  {"code": "GIFT", "kind": "payment", "value": 3000, "balance": true},
  {"code": "DISC", "kind": "discount", "value": 500},
  {"code": "SPLIT", "kind": "split", "value": 2000, "paymentPercent": 60},
  {"code": "LOYAL", "kind": "loyalty", "loyalty": {"name": "Coffee Club", "earned": 3}},
  {"code": "VSP", "kind": "payment", "value": 800,
   "vsp": {"responseCode": "0", "responseDesc": "Partner OK", "name": "Acme"}},
  {"code": "BAD", "kind": "refused", "responseCode": "12", "responseDesc": "Voucher blocked"},
  {"code": "OLD", "kind": "expired"},
  {"code": "FLAKY", "kind": "payment", "value": 1000,
   "faults": [{"fault": "soapFault", "request": "advise", "count": 1}]}
]})";

struct TTrx {
    std::string Code;
    std::int64_t Amount = 1000;
    std::string Store = "17";
    std::string TrxId = "17-1";
    std::string Id = "pos";
    std::string Password = "secret";
};

// The envelopes as the module writes them: soapenv and pos prefixes, one element per CR LF line.
std::string TransactionEnvelope(const TTrx& t) {
    const std::string a = std::to_string(t.Amount);
    return "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:pos=\"http://pos.services.trelvan.com/\">\r\n<soapenv:Header/>\r\n<soapenv:Body>\r\n"
           "<pos:transaction>\r\n<request>\r\n<apiCredentials>\r\n<apiClientVersion>0.0.0.14</"
           "apiClientVersion>\r\n"
           "<apiServerVersion>1.14</apiServerVersion>\r\n<id>" +
           t.Id + "</id>\r\n<password>" + t.Password + "</password>\r\n</apiCredentials>\r\n<basketAmount>" +
           a +
           "</basketAmount>\r\n"
           "<product>\r\n<id>SKU1</id>\r\n<pricePerUnit>1250</pricePerUnit>\r\n<units>2</units>\r\n</"
           "product>\r\n"
           "<storeTrxDetails>\r\n<basketId>" +
           t.Store +
           "-5</basketId>\r\n<cashierId>9</cashierId>\r\n"
           "<posId>Till-1</posId>\r\n<storeId>" +
           t.Store + "</storeId>\r\n<trxId>" + t.TrxId +
           "</trxId>\r\n"
           "</storeTrxDetails>\r\n<token>\r\n<id>" +
           t.Code +
           "</id>\r\n<type>ZUMVO</type>\r\n</token>\r\n"
           "<totalAmount>" +
           a +
           "</totalAmount>\r\n<type>PAYMENT</type>\r\n</request>\r\n</pos:transaction>\r\n"
           "</soapenv:Body>\r\n</soapenv:Envelope>\r\n";
}

std::string AdviceEnvelope(const std::string& action, const std::string& tvTrxId,
                           const std::string& store = "17", const std::string& trxId = "17-1",
                           const std::string& password = "secret") {
    return "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:pos=\"http://pos.services.trelvan.com/\">\r\n<soapenv:Header/>\r\n<soapenv:Body>\r\n"
           "<pos:advise>\r\n<request>\r\n<apiCredentials>\r\n<apiClientVersion>0.0.0.14</"
           "apiClientVersion>\r\n"
           "<apiServerVersion>1.14</apiServerVersion>\r\n<id>pos</id>\r\n<password>" +
           password + "</password>\r\n</apiCredentials>\r\n<action>" + action +
           "</action>\r\n<originalTrx>\r\n"
           "<storeTrxDetails>\r\n<basketId>" +
           store +
           "-5</basketId>\r\n<cashierId>9</cashierId>\r\n"
           "<posId>Till-1</posId>\r\n<storeId>" +
           store + "</storeId>\r\n<trxId>" + trxId +
           "</trxId>\r\n"
           "</storeTrxDetails>\r\n<type>PAYMENT</type>\r\n<tvTrxId>" +
           tvTrxId +
           "</tvTrxId>\r\n"
           "</originalTrx>\r\n</request>\r\n</pos:advise>\r\n</soapenv:Body>\r\n</soapenv:Envelope>\r\n";
}

std::string_view Local(const char* name) {
    std::string_view n(name);
    auto colon = n.find(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

pugi::xml_node ChildByLocal(pugi::xml_node parent, std::string_view name) {
    for (pugi::xml_node c : parent.children())
        if (c.type() == pugi::node_element && Local(c.name()) == name)
            return c;
    return {};
}

// The answer's response element as flat members ("responseCode", "vsp.name", ...), read the way
// the module reads it: Envelope/Body/<operation>Response/response by local names.
using TMembers = std::map<std::string, std::string>;
TMembers ReadAnswer(const std::string& text, const char* operation) {
    pugi::xml_document doc;
    if (!doc.load_buffer(text.data(), text.size()))
        throw std::runtime_error("answer is not XML: " + text.substr(0, 200));
    pugi::xml_node response =
        ChildByLocal(ChildByLocal(ChildByLocal(doc.document_element(), "Body"), operation), "response");
    if (!response)
        throw std::runtime_error("answer lacks the response element");
    TMembers members;
    for (pugi::xml_node c : response.children()) {
        if (c.first_child().type() == pugi::node_element) {
            for (pugi::xml_node g : c.children())
                members[std::string(c.name()) + "." + g.name()] = g.text().get();
        } else {
            members[c.name()] = c.text().get();
        }
    }
    return members;
}

class VoucherSimTest : public ::testing::Test {
protected:
    void SetUp() override { Start(Catalogue, {"pos", "secret", {"17", "23"}}); }

    void Start(const std::string& catalogue, TVoucherSimConfig config) {
        FSim = std::make_unique<TVoucherSim>(TVoucherCatalogue::FromJson(catalogue), std::move(config));
        FPort = FSim->Start();
        FClient = std::make_unique<httplib::Client>("127.0.0.1", FPort);
        FClient->set_read_timeout(10, 0);
    }

    httplib::Result Post(const std::string& body, const std::string& path = DefaultSoapPath) {
        return FClient->Post(path.c_str(), body, "text/xml; charset=utf-8");
    }
    TMembers Transaction(const TTrx& t) {
        auto res = Post(TransactionEnvelope(t));
        if (!res)
            throw std::runtime_error("no answer: " + httplib::to_string(res.error()));
        EXPECT_EQ(res->status, 200);
        return ReadAnswer(res->body, "transactionResponse");
    }
    TMembers Advice(const std::string& action, std::int64_t tvTrxId, const std::string& trxId = "17-1") {
        auto res = Post(AdviceEnvelope(action, std::to_string(tvTrxId), "17", trxId));
        if (!res)
            throw std::runtime_error("no answer: " + httplib::to_string(res.error()));
        EXPECT_EQ(res->status, 200);
        return ReadAnswer(res->body, "adviseResponse");
    }
    std::int64_t Accept(const std::string& code, std::int64_t amount = 1000) {
        TMembers m = Transaction({code, amount});
        EXPECT_EQ(m["responseCode"], "-1") << m["responseDesc"];
        return std::stoll(m["tvTrxId"]);
    }
    rapidjson::Document GetJson(const char* path) {
        auto res = FClient->Get(path);
        EXPECT_TRUE(res && res->status == 200);
        rapidjson::Document doc;
        doc.Parse(res ? res->body.c_str() : "null");
        return doc;
    }
    TLedgerState StateOf(std::int64_t tvTrxId) {
        for (const TLedgerEntry& e : FSim->Service().Ledger())
            if (e.TvTrxId == tvTrxId)
                return e.State;
        throw std::runtime_error("not in the ledger");
    }

    std::unique_ptr<TVoucherSim> FSim;
    int FPort = 0;
    std::unique_ptr<httplib::Client> FClient;
};

TEST_F(VoucherSimTest, AcceptedTransactionIsAPrefixedSoapAnswerWithEveryMember) {
    auto res = Post(TransactionEnvelope({"PAY", 2500}));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->get_header_value("Content-Type").find("text/xml"), std::string::npos);
    EXPECT_NE(
        res->body.find("<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>"
                       "<ns2:transactionResponse xmlns:ns2=\"http://pos.services.trelvan.com/\"><response>"
                       "<responseCode>-1</responseCode>"),
        std::string::npos)
        << res->body;
    TMembers m = ReadAnswer(res->body, "transactionResponse");
    EXPECT_EQ(m["tvTrxId"], "1000");
    EXPECT_EQ(m["totalAmountProcessed"], "2500");
    EXPECT_EQ(m["amountToSettle"], "2500");
    EXPECT_FALSE(m["responseDesc"].empty());
    EXPECT_EQ(m.count("vsp.name"), 0u);
    EXPECT_EQ(m.count("loyalty.name"), 0u);
    EXPECT_EQ(Transaction({"PAY", 100, "23", "23-4"})["tvTrxId"], "1001");

    const auto ledger = FSim->Service().Ledger();
    ASSERT_EQ(ledger.size(), 2u);
    EXPECT_EQ(ledger[0].Code, "PAY");
    EXPECT_EQ(ledger[0].BasketId, "17-5");
    EXPECT_EQ(ledger[0].PosId, "Till-1");
    EXPECT_EQ(ledger[1].StoreId, "23");
    EXPECT_EQ(ledger[1].TrxId, "23-4");
    EXPECT_EQ(ledger[1].State, TLedgerState::Held);
}

TEST_F(VoucherSimTest, CatalogueKindsSetCoveredAndSettledAmounts) {
    TMembers capped = Transaction({"PAY", 15000});
    EXPECT_EQ(capped["totalAmountProcessed"], "10000"); // the code's value
    EXPECT_EQ(capped["amountToSettle"], "10000");
    TMembers small = Transaction({"PAY", 700});
    EXPECT_EQ(small["totalAmountProcessed"], "700"); // never more than asked for

    TMembers discount = Transaction({"DISC", 2000});
    EXPECT_EQ(discount["totalAmountProcessed"], "500");
    EXPECT_EQ(discount["amountToSettle"], "0");

    TMembers split = Transaction({"SPLIT", 5000});
    EXPECT_EQ(split["totalAmountProcessed"], "2000");
    EXPECT_EQ(split["amountToSettle"], "1200");
    TMembers splitCapped = Transaction({"SPLIT", 1005});
    EXPECT_EQ(splitCapped["totalAmountProcessed"], "1005");
    EXPECT_EQ(splitCapped["amountToSettle"], "603");

    TMembers loyalty = Transaction({"LOYAL", 4000});
    EXPECT_EQ(loyalty["responseCode"], "-1");
    EXPECT_EQ(loyalty["totalAmountProcessed"], "0");
    EXPECT_EQ(loyalty["amountToSettle"], "0");
    EXPECT_EQ(loyalty["loyalty.name"], "Coffee Club");
    EXPECT_EQ(loyalty["loyalty.earned"], "3");

    TMembers vsp = Transaction({"VSP", 4000});
    EXPECT_EQ(vsp["vsp.responseCode"], "0");
    EXPECT_EQ(vsp["vsp.responseDesc"], "Partner OK");
    EXPECT_EQ(vsp["vsp.name"], "Acme");
    EXPECT_EQ(FSim->Service().Ledger().size(), 7u);
    EXPECT_EQ(Transaction({"SPLIT", 1001})["amountToSettle"], "600") << "60% of 1001 rounded down";
}

TEST_F(VoucherSimTest, RefusedCodesAndAmountsLeaveNoLedgerEntry) {
    TMembers blocked = Transaction({"BAD"});
    EXPECT_EQ(blocked["responseCode"], "12");
    EXPECT_EQ(blocked["responseDesc"], "Voucher blocked");
    EXPECT_EQ(blocked.count("tvTrxId"), 0u);
    EXPECT_EQ(Transaction({"OLD"})["responseCode"], code::Expired);
    EXPECT_EQ(Transaction({"NOSUCH"})["responseCode"], code::UnknownCode);
    EXPECT_EQ(Transaction({"PAY", 0})["responseCode"], code::InvalidAmount);
    EXPECT_EQ(Transaction({"PAY", -300})["responseCode"], code::InvalidAmount);
    EXPECT_TRUE(FSim->Service().Ledger().empty());
}

TEST_F(VoucherSimTest, SingleUseCodeIsFreedOnlyByAReversal) {
    const auto first = Accept("ONCE", 6000);
    TMembers again = Transaction({"ONCE", 100});
    EXPECT_EQ(again["responseCode"], code::Exhausted);
    EXPECT_EQ(Advice("REVERSE", first)["responseCode"], "-1");
    const auto second = Accept("ONCE", 100);
    EXPECT_EQ(Advice("FINALISE", second)["responseCode"], "-1");
    EXPECT_EQ(Transaction({"ONCE", 100})["responseCode"], code::Exhausted);
}

TEST_F(VoucherSimTest, BalanceIsDrawnDownAndGivenBackByAReversal) {
    const auto first = Accept("GIFT", 1000);
    TMembers second = Transaction({"GIFT", 5000});
    EXPECT_EQ(second["totalAmountProcessed"], "2000"); // what is left, less than asked for
    EXPECT_EQ(Transaction({"GIFT", 100})["responseCode"], code::Exhausted);
    EXPECT_EQ(FSim->Service().Available("GIFT"), 0);

    EXPECT_EQ(Advice("REVERSE", first)["responseCode"], "-1");
    EXPECT_EQ(FSim->Service().Available("GIFT"), 1000);
    EXPECT_EQ(Advice("REVERSE", first)["responseCode"], "-1"); // repeated: nothing more comes back
    EXPECT_EQ(FSim->Service().Available("GIFT"), 1000);
    EXPECT_EQ(Transaction({"GIFT", 1500})["totalAmountProcessed"], "1000");
}

TEST_F(VoucherSimTest, CredentialsAndStoresAreChecked) {
    TTrx wrongPassword{"PAY"};
    wrongPassword.Password = "guess";
    TMembers m = Transaction(wrongPassword);
    EXPECT_EQ(m["responseCode"], code::BadCredentials);
    EXPECT_FALSE(m["responseDesc"].empty());
    TTrx wrongId{"PAY"};
    wrongId.Id = "other";
    EXPECT_EQ(Transaction(wrongId)["responseCode"], code::BadCredentials);
    EXPECT_EQ(Transaction({"PAY", 100, "99", "99-1"})["responseCode"], code::UnknownStore);
    EXPECT_TRUE(FSim->Service().Ledger().empty());

    const auto id = Accept("PAY");
    auto res = Post(AdviceEnvelope("FINALISE", std::to_string(id), "17", "17-1", "guess"));
    ASSERT_TRUE(res);
    EXPECT_EQ(ReadAnswer(res->body, "adviseResponse")["responseCode"], code::BadCredentials);
    EXPECT_EQ(StateOf(id), TLedgerState::Held);

    // Without a store list every store is known.
    Start(Catalogue, {"pos", "secret", {}});
    EXPECT_EQ(Transaction({"PAY", 100, "99", "99-1"})["responseCode"], "-1");
}

TEST_F(VoucherSimTest, AdviceMovesHeldFundsOnceAndRepeatsAreIdempotent) {
    const auto settled = Accept("PAY");
    EXPECT_EQ(Advice("FINALISE", settled)["responseCode"], "-1");
    EXPECT_EQ(StateOf(settled), TLedgerState::Settled);
    EXPECT_EQ(Advice("FINALISE", settled)["responseCode"], "-1");
    EXPECT_EQ(Advice("REVERSE", settled)["responseCode"], code::AdviceRefused);
    EXPECT_EQ(StateOf(settled), TLedgerState::Settled);

    const auto released = Accept("PAY");
    EXPECT_EQ(Advice("REVERSE", released)["responseCode"], "-1");
    EXPECT_EQ(StateOf(released), TLedgerState::Released);
    EXPECT_EQ(Advice("REVERSE", released)["responseCode"], "-1");
    EXPECT_EQ(Advice("FINALISE", released)["responseCode"], code::AdviceRefused);
    EXPECT_EQ(StateOf(released), TLedgerState::Released);

    const auto held = Accept("PAY");
    EXPECT_EQ(Advice("FINALISE", 4242)["responseCode"], code::AdviceRefused);           // unknown
    EXPECT_EQ(Advice("FINALISE", held, "17-999")["responseCode"], code::AdviceRefused); // other trxId
    EXPECT_EQ(Advice("SETTLE", held)["responseCode"], code::InvalidRequest);
    EXPECT_EQ(StateOf(held), TLedgerState::Held);

    rapidjson::Document ledger = GetJson("/ledger");
    ASSERT_TRUE(ledger.IsArray());
    ASSERT_EQ(ledger.Size(), 3u);
    EXPECT_EQ(ledger[0]["tvTrxId"].GetInt64(), settled);
    EXPECT_STREQ(ledger[0]["state"].GetString(), "settled");
    EXPECT_EQ(ledger[0]["advices"].GetInt(), 3);
    EXPECT_STREQ(ledger[0]["adviceLog"][2]["action"].GetString(), "REVERSE");
    EXPECT_STREQ(ledger[0]["adviceLog"][2]["responseCode"].GetString(), code::AdviceRefused);
    EXPECT_STREQ(ledger[1]["state"].GetString(), "released");
    EXPECT_STREQ(ledger[2]["state"].GetString(), "held");
    EXPECT_EQ(ledger[2]["advices"].GetInt(), 2); // the unknown number is not this entry's
    EXPECT_EQ(ledger[2]["amount"].GetInt64(), 1000);
    EXPECT_STREQ(ledger[2]["code"].GetString(), "PAY");
    EXPECT_STREQ(ledger[2]["trxId"].GetString(), "17-1");

    rapidjson::Document advices = GetJson("/ledger/advices");
    ASSERT_TRUE(advices.IsArray());
    EXPECT_EQ(advices.Size(), 9u); // every advice, the unknown one included
    EXPECT_STREQ(advices[6]["tvTrxId"].GetString(), "4242");
}

// A reversal whose answer was lost names the transaction by its reference (tvTrxId 0): it
// releases the latest transaction with that store and trxId once; with none there is nothing to
// give back, which is an accepted answer too. Only advices that moved funds are marked "moved".
TEST_F(VoucherSimTest, ReversalByReferenceReleasesOnceAndAcceptsWhenNothingIsHeld) {
    Transaction({"PAY", 500, "17", "17-8"});
    EXPECT_EQ(Advice("REVERSE", 0, "17-9")["responseCode"], "-1"); // never accepted: nothing held
    EXPECT_EQ(Advice("FINALISE", 0, "17-8")["responseCode"], code::AdviceRefused); // reference: REVERSE only
    EXPECT_EQ(Advice("REVERSE", 0, "17-8")["responseCode"], "-1");
    EXPECT_EQ(Advice("REVERSE", 0, "17-8")["responseCode"], "-1"); // repeated
    rapidjson::Document ledger = GetJson("/ledger");
    ASSERT_EQ(ledger.Size(), 1u);
    EXPECT_STREQ(ledger[0]["state"].GetString(), "released");
    ASSERT_EQ(ledger[0]["adviceLog"].Size(), 2u);
    EXPECT_TRUE(ledger[0]["adviceLog"][0]["moved"].GetBool());
    EXPECT_FALSE(ledger[0]["adviceLog"][1]["moved"].GetBool());
    EXPECT_EQ(GetJson("/ledger/advices").Size(), 4u);
}

TEST_F(VoucherSimTest, ResetClearsTheLedgerAndRestoresValuesButNotNumbers) {
    Accept("GIFT", 3000);
    const auto once = Accept("ONCE");
    Advice("FINALISE", once);
    auto res = FClient->Post("/ledger/reset", "", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(GetJson("/ledger").Size(), 0u);
    EXPECT_EQ(GetJson("/ledger/advices").Size(), 0u);
    EXPECT_EQ(FSim->Service().Available("GIFT"), 3000);
    EXPECT_GT(Accept("ONCE"), once); // usable again, under a new number
    rapidjson::Document codes = GetJson("/codes");
    ASSERT_TRUE(codes.IsArray());
    EXPECT_STREQ(codes[2]["code"].GetString(), "GIFT");
    EXPECT_EQ(codes[2]["available"].GetInt64(), 3000);
    EXPECT_TRUE(codes[1]["inUse"].GetBool());
}

TEST_F(VoucherSimTest, RequestsThatAreNotValidEnvelopesGetAClientFault) {
    const std::string bodies[] = {
        "not xml at all",
        TransactionEnvelope({"A<B"}), // markup inside a value, sent unescaped
        "<Envelope><Body><redeem><request/></redeem></Body></Envelope>", // unknown operation
        "<s:Envelope xmlns:s=\"x\"><s:Body><p:transaction xmlns:p=\"y\"><request><apiCredentials><id>pos</id>"
        "<password>secret</password></apiCredentials></request></p:transaction></s:Body></s:Envelope>",
    };
    for (const std::string& body : bodies) {
        auto res = Post(body);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 500) << body;
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(res->body.c_str())) << res->body;
        pugi::xml_node fault = ChildByLocal(ChildByLocal(doc.document_element(), "Body"), "Fault");
        ASSERT_TRUE(fault) << res->body;
        EXPECT_STREQ(fault.child("faultcode").text().get(), "soap:Client");
        EXPECT_STRNE(fault.child("faultstring").text().get(), "");
    }
    EXPECT_TRUE(FSim->Service().Ledger().empty());
}

// Strict mode serves only what the documented protocol allows; the lenient mode's shortcuts
// (another namespace, SOAP 1.2, qualified or missing members) get a fault, and nothing is done.
class VoucherSimStrictTest : public VoucherSimTest {
protected:
    void SetUp() override {
        TVoucherSimConfig config{"pos", "secret", {"17", "23"}};
        config.Strict = true;
        Start(Catalogue, config);
    }
    // faultcode of the answer to body (empty when the answer is no fault).
    std::string FaultCode(const std::string& body) {
        auto res = Post(body);
        if (!res)
            return "no answer";
        pugi::xml_document doc;
        doc.load_string(res->body.c_str());
        pugi::xml_node fault = ChildByLocal(ChildByLocal(doc.document_element(), "Body"), "Fault");
        if (!fault)
            return {};
        EXPECT_EQ(res->status, 500);
        return std::string(fault.child("faultcode").text().get()) + " " +
               fault.child("faultstring").text().get();
    }
    static std::string Replaced(std::string text, const std::string& from, const std::string& to) {
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    }
};

TEST_F(VoucherSimStrictTest, TheDocumentedEnvelopesAreServed) {
    const auto tv = Accept("PAY", 1205);
    EXPECT_EQ(Advice("FINALISE", tv)["responseCode"], "-1");
    EXPECT_EQ(StateOf(tv), TLedgerState::Settled);
    // Prefixes are the sender's choice: the same namespaces under other prefixes, or the
    // service's namespace as the operation's default namespace, are the same request.
    const std::string other = Replaced(
        Replaced(TransactionEnvelope({"PAY", 1001, "17", "17-2"}), "xmlns:soapenv", "xmlns:SOAP-ENV"),
        "xmlns:pos=\"http://pos.services.trelvan.com/\"", "xmlns:tns=\"http://pos.services.trelvan.com/\"");
    std::string renamed = other;
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"soapenv:", "SOAP-ENV:"}, {"pos:", "tns:"}})
        for (auto at = renamed.find(from); at != std::string::npos; at = renamed.find(from, at))
            renamed.replace(at, from.size(), to);
    EXPECT_EQ(FaultCode(renamed), "");
    EXPECT_EQ(FSim->Service().Ledger().size(), 2u) << "the renamed request was carried out";
}

TEST_F(VoucherSimStrictTest, WhatTheProtocolDoesNotAllowGetsAFault) {
    const std::string trx = TransactionEnvelope({"PAY", 1205});
    const struct {
        const char* Name;
        std::string Body;
        const char* Fault;
    } cases[] = {
        {"wrong operation namespace",
         Replaced(trx, "xmlns:pos=\"http://pos.services.trelvan.com/\"",
                  "xmlns:pos=\"http://pos.services.trelvan.com\""),
         "soap:Client Operation transaction is in namespace"},
        {"SOAP 1.2 envelope",
         Replaced(trx, "http://schemas.xmlsoap.org/soap/envelope/",
                  "http://www.w3.org/2003/05/soap-envelope"),
         "soap:VersionMismatch SOAP 1.2 envelope"},
        {"no envelope namespace",
         Replaced(trx, "xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\"", ""),
         "soap:VersionMismatch"},
        {"qualified members",
         Replaced(
             Replaced(trx, "<pos:transaction>", "<transaction xmlns=\"http://pos.services.trelvan.com/\">"),
             "</pos:transaction>", "</transaction>"),
         "soap:Client Element transaction/request is qualified"},
        {"missing apiClientVersion", Replaced(trx, "<apiClientVersion>0.0.0.14</apiClientVersion>", ""),
         "soap:Client Missing element apiCredentials/apiClientVersion"},
        {"missing posId", Replaced(trx, "<posId>Till-1</posId>", ""),
         "soap:Client Missing element storeTrxDetails/posId"},
        {"missing basketAmount", Replaced(trx, "<basketAmount>1205</basketAmount>", ""),
         "soap:Client Missing element basketAmount"},
        {"missing token type", Replaced(trx, "<type>ZUMVO</type>", ""),
         "soap:Client Missing element token/type"},
        {"decimal amount",
         Replaced(trx, "<totalAmount>1205</totalAmount>", "<totalAmount>12.05</totalAmount>"),
         "soap:Client Element totalAmount is not an integer"},
        {"product without units", Replaced(trx, "<units>2</units>", ""), "soap:Client Missing element units"},
        {"advice without tvTrxId",
         Replaced(AdviceEnvelope("FINALISE", "1000"), "<tvTrxId>1000</tvTrxId>", ""),
         "soap:Client Missing element originalTrx/tvTrxId"},
        {"advice with a text number", AdviceEnvelope("FINALISE", "n/a"),
         "soap:Client Element originalTrx/tvTrxId is not an integer"},
        {"advice without cashierId",
         Replaced(AdviceEnvelope("REVERSE", "1000"), "<cashierId>9</cashierId>", ""),
         "soap:Client Missing element originalTrx/storeTrxDetails/cashierId"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(FaultCode(c.Body).rfind(c.Fault, 0), 0u) << FaultCode(c.Body);
    }
    EXPECT_TRUE(FSim->Service().Ledger().empty());
    EXPECT_TRUE(FSim->Service().Advices().empty());

    // Strict mode can be turned off and on over HTTP.
    auto res = FClient->Post("/settings", R"({"strict": false})", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(FaultCode(cases[0].Body), "");
    FClient->Post("/settings", R"({"strict": true})", "application/json");
    EXPECT_NE(FaultCode(cases[0].Body), "");
}

// A provider without reversal by reference knows a REVERSE only by its tvTrxId: 0 is an unknown
// transaction, and what the request holds stays held.
TEST_F(VoucherSimTest, WithoutReversalByReferenceAReverseOfNumberZeroIsUnknown) {
    auto res = FClient->Post("/settings", R"({"reversalByReference": false})", "application/json");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("\"reversalByReference\":false"), std::string::npos) << res->body;
    const auto tv = Accept("PAY", 1205);
    const TMembers answer = Advice("REVERSE", 0);
    EXPECT_EQ(answer.at("responseCode"), code::AdviceRefused);
    EXPECT_EQ(answer.at("responseDesc"), "Unknown transaction 0");
    EXPECT_EQ(StateOf(tv), TLedgerState::Held);
    EXPECT_EQ(Advice("REVERSE", tv)["responseCode"], "-1");
    EXPECT_EQ(StateOf(tv), TLedgerState::Released);
}

class VoucherSimFaultTest : public VoucherSimTest {
protected:
    void AddFault(const std::string& json) {
        auto res = FClient->Post("/faults", json, "application/json");
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200) << res->body;
    }
};

TEST_F(VoucherSimFaultTest, DelayedAnswerOutlastsTheClientTimeOutButTheRequestIsCarriedOut) {
    AddFault(R"({"fault": "delay", "ms": 1500, "count": 1})");
    FClient->set_read_timeout(0, 300'000);
    const auto started = std::chrono::steady_clock::now();
    auto res = Post(TransactionEnvelope({"PAY"}));
    EXPECT_FALSE(res);
    EXPECT_EQ(res.error(), httplib::Error::Read);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1400));
    EXPECT_EQ(FSim->Service().Ledger().size(), 1u); // held at the provider, answer lost

    // A patient client gets the late answer.
    AddFault(R"({"fault": "delay", "ms": 400, "count": 1})");
    FClient->set_read_timeout(5, 0);
    auto late = Post(TransactionEnvelope({"PAY"}));
    ASSERT_TRUE(late);
    EXPECT_EQ(ReadAnswer(late->body, "transactionResponse")["responseCode"], "-1");
}

TEST_F(VoucherSimFaultTest, DroppedConnectionSendsNothing) {
    AddFault(R"({"fault": "drop", "count": 1})");
    auto res = Post(TransactionEnvelope({"PAY"}));
    EXPECT_FALSE(res);
    EXPECT_TRUE(FSim->Service().Ledger().empty()); // not carried out by default
    // The count is spent: the next request is answered.
    EXPECT_EQ(Transaction({"PAY"})["responseCode"], "-1");

    AddFault(R"({"fault": "drop", "count": 1, "process": true})");
    EXPECT_FALSE(Post(TransactionEnvelope({"PAY"})));
    EXPECT_EQ(FSim->Service().Ledger().size(), 2u);
}

TEST_F(VoucherSimFaultTest, ErrorPagesAndSoapFaultsLackTheAnswerPath) {
    AddFault(R"({"fault": "http500", "count": 1})");
    auto page = Post(TransactionEnvelope({"PAY"}));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 500);
    EXPECT_NE(page->get_header_value("Content-Type").find("text/html"), std::string::npos);
    EXPECT_NE(page->body.find("<html>"), std::string::npos);

    AddFault(R"({"fault": "soapFault", "count": 1})");
    auto fault = Post(TransactionEnvelope({"PAY"}));
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->status, 500);
    EXPECT_NE(fault->body.find("<soap:Fault><faultcode>soap:Server</faultcode>"), std::string::npos)
        << fault->body;
    EXPECT_THROW(ReadAnswer(fault->body, "transactionResponse"), std::runtime_error);
    EXPECT_TRUE(FSim->Service().Ledger().empty());
}

TEST_F(VoucherSimFaultTest, BrokenAndIncompleteXmlAnswersInRuleOrder) {
    AddFault(R"([{"fault": "malformed", "count": 1}, {"fault": "truncated", "count": 1},
                 {"fault": "missingResponse", "count": 1}])");
    pugi::xml_document doc;

    auto malformed = Post(TransactionEnvelope({"PAY"}));
    ASSERT_TRUE(malformed);
    EXPECT_EQ(malformed->status, 200);
    EXPECT_FALSE(doc.load_buffer(malformed->body.data(), malformed->body.size())) << malformed->body;
    EXPECT_NE(malformed->body.find("<responseCode>"), std::string::npos);

    auto truncated = Post(TransactionEnvelope({"PAY"}));
    ASSERT_TRUE(truncated);
    EXPECT_EQ(truncated->status, 200);
    EXPECT_FALSE(doc.load_buffer(truncated->body.data(), truncated->body.size())) << truncated->body;
    EXPECT_EQ(truncated->body.rfind("<?xml", 0), 0u);

    auto missing = Post(TransactionEnvelope({"PAY"}));
    ASSERT_TRUE(missing);
    ASSERT_TRUE(doc.load_buffer(missing->body.data(), missing->body.size()));
    pugi::xml_node operation =
        ChildByLocal(ChildByLocal(doc.document_element(), "Body"), "transactionResponse");
    EXPECT_TRUE(operation);
    EXPECT_FALSE(ChildByLocal(operation, "response"));

    EXPECT_TRUE(FSim->Service().Ledger().empty());
    EXPECT_EQ(Transaction({"PAY"})["responseCode"], "-1"); // every rule spent
}

TEST_F(VoucherSimFaultTest, OversizedAnswerIsStillACompleteAnswer) {
    AddFault(R"({"fault": "oversized", "count": 1})");
    auto res = Post(TransactionEnvelope({"PAY", 1234}));
    ASSERT_TRUE(res);
    EXPECT_GE(res->body.size(), 5u * 1024 * 1024);
    TMembers m = ReadAnswer(res->body, "transactionResponse");
    EXPECT_EQ(m["responseCode"], "-1");
    EXPECT_EQ(m["totalAmountProcessed"], "1234");
    EXPECT_EQ(FSim->Service().Ledger().size(), 1u);

    AddFault(R"({"fault": "oversized", "bytes": 100000, "count": 1})");
    auto smaller = Post(TransactionEnvelope({"PAY"}));
    ASSERT_TRUE(smaller);
    EXPECT_GE(smaller->body.size(), 100000u);
    EXPECT_LT(smaller->body.size(), 200000u);
}

TEST_F(VoucherSimFaultTest, RulesMatchByRequestKindCodeAndCount) {
    AddFault(R"({"fault": "http500", "request": "advise", "code": "PAY", "count": 2})");
    const auto pay = Accept("PAY"); // transactions pass
    const auto disc = Accept("DISC");
    EXPECT_EQ(Advice("FINALISE", disc)["responseCode"], "-1"); // another code passes
    EXPECT_EQ(Post(AdviceEnvelope("FINALISE", std::to_string(pay)))->status, 500);
    EXPECT_EQ(Post(AdviceEnvelope("FINALISE", std::to_string(pay)))->status, 500);
    EXPECT_EQ(StateOf(pay), TLedgerState::Held);
    EXPECT_EQ(Advice("FINALISE", pay)["responseCode"], "-1"); // count spent
    EXPECT_EQ(StateOf(pay), TLedgerState::Settled);

    // Without a count a rule stays until cleared.
    AddFault(R"({"fault": "soapFault"})");
    EXPECT_EQ(Post(TransactionEnvelope({"PAY"}))->status, 500);
    EXPECT_EQ(Post(TransactionEnvelope({"DISC"}))->status, 500);
    auto cleared = FClient->Post("/faults/clear", "", "application/json");
    ASSERT_TRUE(cleared);
    EXPECT_EQ(cleared->status, 200);
    EXPECT_EQ(Transaction({"PAY"})["responseCode"], "-1");
}

TEST_F(VoucherSimFaultTest, InvalidRulesAreRejectedWholesale) {
    const char* bodies[] = {
        "{",
        R"({"fault": "explode"})",
        R"({"fault": "delay"})",
        R"({"fault": "drop", "count": 0})",
        R"({"fault": "drop", "request": "refund"})",
        R"({"fault": "drop", "colour": "red"})",
        R"([{"fault": "drop"}, {"fault": "nope"}])",
    };
    for (const char* body : bodies) {
        auto res = FClient->Post("/faults", body, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << body;
        EXPECT_NE(res->body.find("error"), std::string::npos);
    }
    EXPECT_EQ(GetJson("/faults")["faults"].Size(), 0u);
    EXPECT_EQ(Transaction({"PAY"})["responseCode"], "-1");
}

TEST_F(VoucherSimFaultTest, CatalogueFaultsFollowTheirCodeAndComeBackOnReset) {
    const auto flaky = Accept("FLAKY");
    auto faulted = Post(AdviceEnvelope("FINALISE", std::to_string(flaky)));
    ASSERT_TRUE(faulted);
    EXPECT_EQ(faulted->status, 500);
    EXPECT_NE(faulted->body.find("Fault"), std::string::npos);
    EXPECT_EQ(Advice("FINALISE", flaky)["responseCode"], "-1"); // its one fault is spent
    ASSERT_TRUE(FClient->Post("/ledger/reset", "", "application/json"));
    const auto again = Accept("FLAKY");
    EXPECT_EQ(Post(AdviceEnvelope("FINALISE", std::to_string(again)))->status, 500);
}

TEST_F(VoucherSimFaultTest, StoppingTheServerCutsAPendingDelay) {
    AddFault(R"({"fault": "delay", "ms": 60000})");
    std::thread client([this] { EXPECT_FALSE(Post(TransactionEnvelope({"PAY"}))); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto started = std::chrono::steady_clock::now();
    FSim->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    client.join();
}

// A payment switch remembers a reversal by reference for which it held nothing: the original
// request that turns up afterwards (it was slow on the way) is refused and holds nothing. The
// memory is per store and reference, is cleared by a reset, and can be turned off.
TEST_F(VoucherSimFaultTest, AReversedReferenceRefusesItsLateOriginalUnlessTheMemoryIsOff) {
    EXPECT_EQ(Advice("REVERSE", 0, "17-9")["responseCode"], "-1"); // nothing held: remembered
    TMembers late = Transaction({"PAY", 1001, "17", "17-9"});
    EXPECT_EQ(late["responseCode"], code::ReversedBefore);
    EXPECT_EQ(late["totalAmountProcessed"], "0");
    EXPECT_EQ(late.count("tvTrxId"), 0u);
    EXPECT_TRUE(FSim->Service().Ledger().empty());
    EXPECT_EQ(Transaction({"PAY", 1001, "23", "17-9"})["responseCode"], "-1") << "another store's reference";
    EXPECT_EQ(Transaction({"PAY", 1005, "17", "17-10"})["responseCode"], "-1") << "another reference";
    // A reversal that found its transaction releases it and remembers nothing more.
    EXPECT_EQ(Advice("REVERSE", 0, "17-10")["responseCode"], "-1");
    rapidjson::Document settings = GetJson("/settings");
    EXPECT_TRUE(settings["reversalMemory"].GetBool());
    EXPECT_EQ(settings["remembered"].GetInt64(), 1);
    EXPECT_EQ(settings["refusedByMemory"].GetInt64(), 1);

    auto off = FClient->Post("/settings", R"({"reversalMemory": false})", "application/json");
    ASSERT_TRUE(off);
    EXPECT_EQ(off->status, 200) << off->body;
    EXPECT_EQ(Transaction({"PAY", 1001, "17", "17-9"})["responseCode"], "-1") << "forgotten";
    EXPECT_EQ(Advice("REVERSE", 0, "17-11")["responseCode"], "-1");
    EXPECT_EQ(Transaction({"PAY", 1001, "17", "17-11"})["responseCode"], "-1") << "not remembered";
    EXPECT_EQ(GetJson("/settings")["remembered"].GetInt64(), 0);

    for (const char* bad : {"[]", R"({"reversalMemory": "no"})", R"({"memory": false})", "{"}) {
        auto res = FClient->Post("/settings", bad, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << bad;
    }
    ASSERT_TRUE(FClient->Post("/settings", R"({"reversalMemory": true})", "application/json"));
    EXPECT_EQ(Advice("REVERSE", 0, "17-12")["responseCode"], "-1");
    ASSERT_TRUE(FClient->Post("/ledger/reset", "", "application/json"));
    EXPECT_EQ(Transaction({"PAY", 1001, "17", "17-12"})["responseCode"], "-1") << "a reset forgets";
    EXPECT_FALSE(
        ParseVoucherSimArgs(TArgs(std::vector<std::string>{"--no-reversal-memory"})).Config.ReversalMemory);
    EXPECT_TRUE(ParseVoucherSimArgs(TArgs(std::vector<std::string>{})).Config.ReversalMemory);
    const auto strict =
        ParseVoucherSimArgs(TArgs(std::vector<std::string>{"--strict", "--no-reversal-by-reference"})).Config;
    EXPECT_TRUE(strict.Strict);
    EXPECT_FALSE(strict.ReversalByReference);
    const auto lenient = ParseVoucherSimArgs(TArgs(std::vector<std::string>{})).Config;
    EXPECT_FALSE(lenient.Strict);
    EXPECT_TRUE(lenient.ReversalByReference);
}

// "late": the connection drops without an answer and the request is carried out afterwards. The
// till's reversal by reference comes first: with the memory the late request is refused, without
// it the provider holds money for a reference the till gave up.
TEST_F(VoucherSimFaultTest, ALateRequestIsCarriedOutAfterItsConnectionDropped) {
    const auto waitForLedger = [&](std::size_t size) {
        for (int i = 0; i < 300 && FSim->Service().Ledger().size() < size; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return FSim->Service().Ledger().size();
    };
    const auto settled = [&] {
        for (int i = 0; i < 300 && GetJson("/settings")["refusedByMemory"].GetInt64() < 1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    AddFault(R"({"fault": "late", "ms": 200, "request": "transaction", "count": 1})");
    EXPECT_FALSE(Post(TransactionEnvelope({"PAY", 1001, "17", "17-1"}))) << "no answer";
    EXPECT_TRUE(FSim->Service().Ledger().empty()) << "not yet carried out";
    ASSERT_EQ(waitForLedger(1), 1u);
    EXPECT_EQ(FSim->Service().Ledger()[0].Amount, 1001);
    EXPECT_EQ(FSim->Service().Ledger()[0].State, TLedgerState::Held);

    AddFault(R"({"fault": "late", "ms": 400, "request": "transaction", "count": 1})");
    EXPECT_FALSE(Post(TransactionEnvelope({"PAY", 1005, "17", "17-2"})));
    EXPECT_EQ(Advice("REVERSE", 0, "17-2")["responseCode"], "-1"); // before the late request
    settled();
    EXPECT_EQ(FSim->Service().Ledger().size(), 1u) << "the late request was refused";

    ASSERT_TRUE(FClient->Post("/settings", R"({"reversalMemory": false})", "application/json"));
    AddFault(R"({"fault": "late", "ms": 300, "request": "transaction", "count": 1})");
    EXPECT_FALSE(Post(TransactionEnvelope({"PAY", 1005, "17", "17-3"})));
    EXPECT_EQ(Advice("REVERSE", 0, "17-3")["responseCode"], "-1");
    ASSERT_EQ(waitForLedger(2), 2u);
    EXPECT_EQ(FSim->Service().Ledger()[1].TrxId, "17-3");
    EXPECT_EQ(FSim->Service().Ledger()[1].State, TLedgerState::Held) << "a provider without memory holds it";

    // A late advice moves the funds after its connection dropped.
    AddFault(R"({"fault": "late", "ms": 100, "request": "advise", "count": 1})");
    EXPECT_FALSE(Post(AdviceEnvelope("FINALISE", "1000", "17", "17-1")));
    for (int i = 0; i < 300 && StateOf(1000) == TLedgerState::Held; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(StateOf(1000), TLedgerState::Settled);

    // "process": false makes it a plain drop; stopping the server cuts a pending one short.
    AddFault(R"({"fault": "late", "ms": 50, "process": false, "count": 1})");
    EXPECT_FALSE(Post(TransactionEnvelope({"PAY", 700, "17", "17-4"})));
    AddFault(R"({"fault": "late", "ms": 60000, "count": 1})");
    EXPECT_FALSE(Post(TransactionEnvelope({"PAY", 700, "17", "17-5"})));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto started = std::chrono::steady_clock::now();
    FSim->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(FSim->Service().Ledger().size(), 2u);
}

// "inflated": an accepted answer (and the ledger) claims more than the request asked for; the
// "settle" variant claims more to settle than was processed (a negative discount).
TEST_F(VoucherSimFaultTest, AnInflatedAnswerClaimsMoreThanWasAskedAndTheLedgerRecordsIt) {
    const struct {
        const char* Rule;
        std::string Code;
        std::int64_t Asked;
        std::int64_t Total;
        std::int64_t Settle;
    } cases[] = {
        {R"({"fault": "inflated", "count": 1})", "PAY", 1001, 1101, 1101},
        {R"({"fault": "inflated", "cents": 5, "count": 1})", "SPLIT", 2000, 2005, 1205},
        {R"({"fault": "inflated", "inflate": "total", "cents": 1, "count": 1})", "SPLIT", 1005, 1006, 603},
        {R"({"fault": "inflated", "inflate": "settle", "cents": 1, "count": 1})", "PAY", 1001, 1001, 1002},
        {R"({"fault": "inflated", "inflate": "settle", "cents": 5, "count": 1})", "DISC", 1005, 500, 505},
        {R"({"fault": "inflated", "inflate": "total", "cents": 15, "count": 1})", "LOYAL", 995, 1010, 0},
    };
    std::size_t i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Rule);
        AddFault(c.Rule);
        TMembers m = Transaction({c.Code, c.Asked, "17", "17-" + std::to_string(++i)});
        EXPECT_EQ(m["responseCode"], "-1");
        EXPECT_EQ(m["totalAmountProcessed"], std::to_string(c.Total));
        EXPECT_EQ(m["amountToSettle"], std::to_string(c.Settle));
        const TLedgerEntry entry = FSim->Service().Ledger().back();
        EXPECT_EQ(entry.Requested, c.Asked);
        EXPECT_EQ(entry.Amount, c.Total);
        EXPECT_EQ(entry.AmountToSettle, c.Settle);
    }
    // Advices pass an inflated rule by; a refused transaction stays refused.
    AddFault(R"({"fault": "inflated", "count": 1})");
    EXPECT_EQ(Advice("FINALISE", 1000)["responseCode"], "-1");
    EXPECT_EQ(Transaction({"BAD", 1001})["responseCode"], "12");
    EXPECT_EQ(GetJson("/faults")["faults"].Size(), 0u) << "spent on the refused transaction";

    for (const char* bad :
         {R"({"fault": "inflated", "request": "advise"})", R"({"fault": "inflated", "process": false})",
          R"({"fault": "inflated", "cents": 0})", R"({"fault": "inflated", "inflate": "twice"})",
          R"({"fault": "drop", "cents": 5})"}) {
        auto res = FClient->Post("/faults", bad, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << bad;
    }
}

// "refused": a well-formed refusal instead of the sound answer; with "process" the request was
// carried out all the same (the answer lies).
TEST_F(VoucherSimFaultTest, ARefusedAnswerIsWellFormedAndMayHideACarriedOutRequest) {
    const auto pay = Accept("PAY", 1001);
    AddFault(R"({"fault": "refused", "request": "advise", "count": 1})");
    TMembers refused = Advice("FINALISE", pay);
    EXPECT_EQ(refused["responseCode"], code::AdviceRefused);
    EXPECT_EQ(StateOf(pay), TLedgerState::Held);

    AddFault(R"({"fault": "refused", "request": "advise", "process": true, "responseCode": "99",
                 "responseDesc": "System busy", "count": 1})");
    TMembers lie = Advice("FINALISE", pay);
    EXPECT_EQ(lie["responseCode"], "99");
    EXPECT_EQ(lie["responseDesc"], "System busy");
    EXPECT_EQ(lie["tvTrxId"], std::to_string(pay));
    EXPECT_EQ(StateOf(pay), TLedgerState::Settled);

    AddFault(R"({"fault": "refused", "request": "transaction", "count": 1})");
    TMembers code3 = Transaction({"PAY", 1005, "17", "17-2"});
    EXPECT_EQ(code3["responseCode"], code::Refused);
    EXPECT_EQ(code3["totalAmountProcessed"], "0");
    EXPECT_EQ(FSim->Service().Ledger().size(), 1u);
    auto res = FClient->Post("/faults", R"({"fault": "refused", "responseCode": "-1"})", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
}

// Every fault that struck is listed (kind, request, code, reference) until the ledger is reset.
TEST_F(VoucherSimFaultTest, StruckFaultsAreListedUntilAReset) {
    const auto pay = Accept("PAY", 1001);
    AddFault(R"([{"fault": "http500", "request": "advise", "count": 1},
                 {"fault": "inflated", "inflate": "settle", "count": 1}])");
    EXPECT_EQ(Post(AdviceEnvelope("REVERSE", std::to_string(pay)))->status, 500);
    Transaction({"PAY", 1005, "17", "17-7"});
    rapidjson::Document struck = GetJson("/faults/struck");
    ASSERT_EQ(struck.Size(), 2u);
    EXPECT_STREQ(struck[0]["fault"].GetString(), "http500");
    EXPECT_STREQ(struck[0]["request"].GetString(), "advise");
    EXPECT_STREQ(struck[0]["code"].GetString(), "PAY");
    EXPECT_STREQ(struck[0]["action"].GetString(), "REVERSE");
    EXPECT_STREQ(struck[0]["tvTrxId"].GetString(), std::to_string(pay).c_str());
    EXPECT_STREQ(struck[1]["fault"].GetString(), "inflated");
    EXPECT_STREQ(struck[1]["trxId"].GetString(), "17-7");
    EXPECT_FALSE(struck[1].HasMember("action"));
    ASSERT_TRUE(FClient->Post("/ledger/reset", "", "application/json"));
    EXPECT_EQ(GetJson("/faults/struck").Size(), 0u);
}

TEST(VoucherCatalogueTest, InvalidEntriesAreNamed) {
    const std::pair<const char*, const char*> cases[] = {
        {"[1", "not valid JSON"},
        {R"({"items": []})", "'codes'"},
        {R"([{"kind": "payment", "value": 1}])", "'code'"},
        {R"([{"code": "A", "kind": "cash", "value": 1}])", "code A: 'kind'"},
        {R"([{"code": "A", "kind": "payment"}])", "code A: 'value'"},
        {R"([{"code": "A", "kind": "split", "value": 5}])", "'paymentPercent'"},
        {R"([{"code": "A", "kind": "split", "value": 5, "paymentPercent": 120}])", "'paymentPercent'"},
        {R"([{"code": "A", "kind": "payment", "value": 5, "singleUse": true, "balance": true}])", "exclude"},
        {R"([{"code": "A", "kind": "payment", "value": 5}, {"code": "A", "kind": "expired"}])", "twice"},
        {R"([{"code": "A", "kind": "payment", "value": 5, "faults": [{"fault": "slow"}]}])",
         "code A: unknown fault"},
        {R"([{"code": "A", "kind": "payment", "value": 5, "valeu": 6}])", "'valeu'"},
    };
    for (const auto& [text, expected] : cases) {
        try {
            TVoucherCatalogue::FromJson(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        }
    }
}

// A port that is in use is refused, not shared (on Windows too, where SO_REUSEADDR would share it).
TEST(VoucherSimPortTest, ASecondServerOnABusyPortIsRefused) {
    TVoucherSim occupant(TVoucherCatalogue{});
    const int port = occupant.Start();
    TVoucherSim second(TVoucherCatalogue{});
    EXPECT_THROW(second.Start("127.0.0.1", port), std::runtime_error);
}

// The program itself.
using zumvo::test::AnnouncedPort;
using zumvo::test::BuiltProgram;
using zumvo::test::TChildProcess;
using zumvo::test::TExitStatus;

TEST(VoucherSimProgramTest, AnnouncesItsPortServesAndStopsOnSigterm) {
    TChildProcess program(BuiltProgram("zumvo_voucher_sim"),
                          {"--port", "0", "--catalogue", ZUMVO_SOURCE_DIR "/sim/data/catalogue.json",
                           "--api-id", "pos", "--api-password=secret", "--stores", "17, 23", "--quiet"});
    const int port = AnnouncedPort(program.ReadLine());
    ASSERT_GT(port, 0);
    httplib::Client client("127.0.0.1", port);
    auto res = client.Post(DefaultSoapPath, TransactionEnvelope({"SPLIT-20", 5000}), "text/xml");
    ASSERT_TRUE(res);
    TMembers m = ReadAnswer(res->body, "transactionResponse");
    EXPECT_EQ(m["responseCode"], "-1");
    EXPECT_EQ(m["amountToSettle"], "1200");
    EXPECT_EQ(
        ReadAnswer(
            client.Post(DefaultSoapPath, TransactionEnvelope({"SPLIT-20", 5000, "5"}), "text/xml")->body,
            "transactionResponse")["responseCode"],
        code::UnknownStore);
    const TExitStatus status = program.Stop();
    EXPECT_TRUE(status.StoppedCleanly()) << status.Text();
}

TEST(VoucherSimProgramTest, BadCatalogueOrBusyPortEndsWithAnError) {
    TChildProcess missing(BuiltProgram("zumvo_voucher_sim"), {"--catalogue", "/nonexistent/catalogue.json"});
    EXPECT_EQ(missing.ReadLine(), "");
    TExitStatus status = missing.Wait();
    EXPECT_TRUE(status.Exited && status.Code == 2) << status.Text();

    TChildProcess badFlag(BuiltProgram("zumvo_voucher_sim"), {"--colour", "red"});
    status = badFlag.Wait();
    EXPECT_TRUE(status.Exited && status.Code == 2) << status.Text();

    TVoucherSim occupant(TVoucherCatalogue{});
    const int port = occupant.Start();
    TChildProcess busy(BuiltProgram("zumvo_voucher_sim"), {"--port", std::to_string(port)});
    status = busy.Wait();
    EXPECT_TRUE(status.Exited && status.Code == 1) << status.Text();
}

} // namespace
