// One code at the provider: every kind of answer, the row it leaves and what is sent after it. A
// real SQLite database and the module's store and provider logic; the provider is a scripted
// client that answers in turn what each test lines up.
#include "StatusFixture.h"
#include "LogCapture.h"
#include "PersistenceTestHost.h"
#include "SimpleXMLtoJSON.h"
#include "SqliteFile.h"
#include "clsCodeRedemption.h"
#include "clsOutcomeUnknown.h"
#include "implDataChangesZumvo.h"
#include "implZumvoLogic.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <deque>
#include <functional>
#include <stdexcept>

using namespace zumvo;

namespace {

// What the scripted provider was asked.
struct TCall {
    std::string Kind; // "PAYMENT", "FINALISE" or "REVERSE"
    std::string TrxID;
    std::int32_t TvTrxID = 0;
    std::int32_t Store = -1;
    std::int32_t Cents = 0;
};

class TScriptedProvider : public pallux::TInterfacedObject<IZumvoAPI> {
public:
    std::deque<std::string> Answers; // in the order of the requests; "" is no answer, "!" raises
    std::vector<TCall> Calls;
    std::function<void()> WhileWaiting; // runs while a transaction request is out
    std::int32_t Status = 200;          // the HTTP status an answer comes with

    void SetServer(const std::string&, const std::string&) override {}
    void SetCredentials(const std::string&, const std::string&) override {}
    void SetStore(std::int32_t storeID, const std::string&) override { FStore = storeID; }
    void Transaction(const std::string&, const std::string&, const std::string& trxID, const std::string&,
                     const std::string&, std::int32_t, std::int32_t totalAmount, const std::string& trxType,
                     const std::string&, std::string& response) override {
        Calls.push_back({trxType, trxID, 0, FStore, totalAmount});
        if (WhileWaiting)
            WhileWaiting();
        response = Next();
    }
    void Advice(const std::string&, const std::string&, const std::string& trxID, const std::string& action,
                std::int32_t tvTrxID, const std::string&, std::string& response) override {
        Calls.push_back({action, trxID, tvTrxID, FStore, 0});
        response = Next();
    }

    std::int32_t GetLastStatus() override { return FLastStatus; }
    std::string GetResource() override { return "/pos/services/PosService"; }

private:
    std::int32_t FStore = 401;
    std::int32_t FLastStatus = 0;
    std::string Next() {
        if (Answers.empty())
            return {};
        std::string answer = Answers.front();
        Answers.pop_front();
        FLastStatus = answer.empty() || answer == "!" ? 0 : Status;
        if (answer == "!")
            throw std::runtime_error("connection reset");
        return answer;
    }
};

std::string Envelope(const std::string& element, const std::string& code, const std::string& inner) {
    return R"(<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body><ns2:)" +
           element + R"( xmlns:ns2="urn:zumvo"><response><responseCode>)" + code +
           "</responseCode><responseDesc>desc" + "</responseDesc>" + inner + "</response></ns2:" + element +
           "></soap:Body></soap:Envelope>";
}
std::string Accepted(long total, long settle, int tvTrxId = 1000) {
    return Envelope("transactionResponse", "-1",
                    "<tvTrxId>" + std::to_string(tvTrxId) + "</tvTrxId><totalAmountProcessed>" +
                        std::to_string(total) + "</totalAmountProcessed><amountToSettle>" +
                        std::to_string(settle) + "</amountToSettle>");
}
std::string Refused(const std::string& code = "3") {
    return Envelope("transactionResponse", code, "");
}
std::string Advised(const std::string& code = "-1") {
    return Envelope("adviseResponse", code, "");
}

class CodeRedemptionTest : public ::testing::Test {
protected:
    static constexpr std::int32_t StoreID = 12;
    test::TPersistenceTestHost host;
    test::TLogCapture log{host.Folder};
    pallux::IntfPtr<IZumvoTransaction> store;
    pallux::IntfPtr<TScriptedProvider> provider = pallux::MakeIntf<TScriptedProvider, TScriptedProvider>();
    std::int32_t basket = -1;

    void SetUp() override {
        host.WriteSettings("[Settings]\nZumvoStoreID=401\n");
        std::vector<std::string> scripts;
        pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
        for (const auto& s : scripts)
            host.Run(s);
        store = pallux::MakeIntf<TZumvoTransaction>();
        basket = store->AddBasket(-1);
    }

    TCodeRedemption Redemption(std::int32_t providerStore = 401) {
        TRedemptionContext context;
        context.ClassMethod = "TTest.Redeem";
        context.StoreID = StoreID;
        context.ProviderStoreID = providerStore;
        context.PosID = "Till-3";
        context.BasketID = basket;
        context.Cashier = "9";
        return TCodeRedemption(std::move(context), provider, store, pallux::MakeIntf<TZumvoLogic>());
    }

    TJSONDocument Row(std::int32_t id) {
        return TJSONDocument::CopyOf(
            host.Rows("SELECT * FROM [ZumvoPaymentTransactions] WHERE [ID] = " + std::to_string(id))[0]);
    }
    int Status(std::int32_t id) { return Row(id)["Status"].AsInteger(); }
    std::string Response(std::int32_t id) {
        const TJSONDocument row = Row(id); // the value below lives in it
        const TJSONValue r = row["Response"];
        return r.IsNull() ? std::string() : r.AsString();
    }
    // The row's note of its request (RequestNote); empty when it has none.
    std::string Note(std::int32_t id) {
        const TJSONDocument row = Row(id);
        const TJSONValue n = row["RequestNote"];
        return n.IsNull() ? std::string() : n.AsString();
    }
    std::vector<std::string> Kinds() {
        std::vector<std::string> out;
        for (const auto& c : provider->Calls)
            out.push_back(c.Kind);
        return out;
    }
    int Rows() { return std::stoi(host.Value("SELECT COUNT(*) FROM [ZumvoPaymentTransactions]")); }

    // Runs SQLite's own SQL on the database file, from a connection of its own.
    void Sqlite(const std::string& sql) { test::RunSqlite(host.DatabaseFile(), sql); }
    // Makes the database refuse updates that set Status to `status`, as a database another
    // process holds locked refuses writes; 0: takes every write again.
    void RefuseStatusWrites(int status) {
        Sqlite("DROP TRIGGER IF EXISTS refuse_status");
        if (status != 0)
            Sqlite(
                "CREATE TRIGGER refuse_status BEFORE UPDATE OF Status ON ZumvoPaymentTransactions WHEN NEW.Status = " +
                std::to_string(status) + " BEGIN SELECT RAISE(ABORT, 'database is locked'); END");
    }
};

} // namespace

// Every answer to a transaction request: what the cashier learns, the row it leaves, and whether
// the code is given back at once. Amounts sit on cent boundaries.
TEST_F(CodeRedemptionTest, EachAnswerLeavesTheRowItShould) {
    struct TCase {
        const char* Name;
        TCents Asked;
        std::vector<std::string> Answers; // the transaction's, then any advice's
        TRedemptionOutcome Outcome;
        int RowStatus;
        std::vector<std::string> Sent;
        bool Listed; // the row keeps a note that lists it with the held funds
    };
    const TCase cases[] = {
        {"accepted whole", 1999, {Accepted(1999, 1999)}, TRedemptionOutcome::Accepted, 0, {"PAYMENT"}, false},
        {"accepted split", 1601, {Accepted(1601, 1001)}, TRedemptionOutcome::Accepted, 0, {"PAYMENT"}, false},
        {"accepted for less",
         1601,
         {Accepted(1105, 1105)},
         TRedemptionOutcome::Accepted,
         0,
         {"PAYMENT"},
         false},
        {"loyalty only", 1101, {Accepted(0, 0)}, TRedemptionOutcome::Accepted, 0, {"PAYMENT"}, false},
        {"more than asked, given back",
         1250,
         {Accepted(2500, 2500), Advised()},
         TRedemptionOutcome::GivenBack,
         -1,
         {"PAYMENT", "REVERSE"},
         false},
        {"a cent more than asked",
         1250,
         {Accepted(1251, 1251), Advised()},
         TRedemptionOutcome::GivenBack,
         -1,
         {"PAYMENT", "REVERSE"},
         false},
        {"settles more than it covers",
         1250,
         {Accepted(1000, 1001), Advised()},
         TRedemptionOutcome::GivenBack,
         -1,
         {"PAYMENT", "REVERSE"},
         false},
        {"negative amount",
         1250,
         {Accepted(-5, -5), Advised()},
         TRedemptionOutcome::GivenBack,
         -1,
         {"PAYMENT", "REVERSE"},
         false},
        {"more than asked, reversal refused",
         1250,
         {Accepted(2500, 2500), Advised("1")},
         TRedemptionOutcome::GivenBack,
         -3,
         {"PAYMENT", "REVERSE"},
         false},
        {"refused", 1250, {Refused()}, TRedemptionOutcome::Refused, 0, {"PAYMENT"}, false},
        {"no answer", 1250, {""}, TRedemptionOutcome::NoAnswer, 0, {"PAYMENT"}, true},
        {"connection error", 1250, {"!"}, TRedemptionOutcome::NoAnswer, 0, {"PAYMENT"}, true},
        {"unreadable", 1250, {"<html>502</html>"}, TRedemptionOutcome::Unreadable, 0, {"PAYMENT"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        provider->Calls.clear();
        provider->Answers.assign(c.Answers.begin(), c.Answers.end());
        const TRedemption r = Redemption().Redeem("PAY-100", c.Asked);
        EXPECT_EQ(r.Outcome, c.Outcome);
        ASSERT_GT(r.TransactionID, 0);
        EXPECT_EQ(Status(r.TransactionID), c.RowStatus);
        EXPECT_EQ(Kinds(), c.Sent);
        EXPECT_EQ(provider->Calls[0].Cents, c.Asked);
        EXPECT_EQ(provider->Calls[0].TrxID, "12-" + std::to_string(r.TransactionID));
        EXPECT_EQ(IsOutcomeUnknown(Note(r.TransactionID)), c.Listed);
        EXPECT_EQ(r.RowReusable(), c.Outcome == TRedemptionOutcome::Refused);
        if (c.Outcome == TRedemptionOutcome::Refused) {
            EXPECT_EQ(Response(r.TransactionID), "") << "a refused request holds nothing";
        }
        if (c.Outcome == TRedemptionOutcome::GivenBack) {
            EXPECT_NE(Response(r.TransactionID).find("NotKept"), std::string::npos) << "the row says why";
            EXPECT_FALSE(r.Problem.empty()) << "the cashier is told";
        }
        if (c.Outcome == TRedemptionOutcome::Accepted) {
            EXPECT_EQ(r.Amount + 0, r.Payment + r.Discount);
            EXPECT_EQ(Row(r.TransactionID)["tvTrxID"].AsInteger(), 1000);
            EXPECT_EQ(Row(r.TransactionID)["ProviderStoreID"].AsInteger(), 401);
            EXPECT_EQ(r.Record["ProviderStoreID"].AsInteger(), 401);
            EXPECT_DOUBLE_EQ(r.Record["Amount"].AsFloat(), UnitsOf(r.Amount));
        }
    }
}

TEST_F(CodeRedemptionTest, AcceptedCodesCarryTheirPartsInCents) {
    provider->Answers = {Accepted(1601, 1001)};
    const TRedemption r = Redemption().Redeem("SPLIT-1", 1601);
    ASSERT_TRUE(r.Accepted());
    EXPECT_EQ(r.Payment, 1001);
    EXPECT_EQ(r.Discount, 600);
    EXPECT_DOUBLE_EQ(r.Record["PaymentAmount"].AsFloat(), 10.01);
    EXPECT_DOUBLE_EQ(r.Record["DiscountAmount"].AsFloat(), 6.0);
    EXPECT_EQ(r.Record["Data"]["PaymentAmount"].AsString(), "10.01");
    EXPECT_EQ(r.Record["Data"]["DiscountAmount"].AsString(), "6");
    EXPECT_EQ(r.Record["Data"]["Zumvo"].AsString(), "SPLIT-1");
    EXPECT_EQ(TJSONDocument::Parse(Response(r.TransactionID))["Zumvo"].AsString(), "SPLIT-1");
}

// Nothing is sent for what the request cannot carry, and no row is made for it.
TEST_F(CodeRedemptionTest, NothingIsSentThatCannotBeCarried) {
    EXPECT_EQ(Redemption().Redeem("PAY\x01", 100).Outcome, TRedemptionOutcome::NotSent);
    EXPECT_EQ(Redemption().Redeem("PAY-100", 2147483648LL).Outcome, TRedemptionOutcome::NotSent);
    EXPECT_TRUE(provider->Calls.empty());
    EXPECT_EQ(Rows(), 0);
    EXPECT_FALSE(Redemption().Redeem("PAY-100", 2147483648LL).Problem.empty());
}

// A till stopped while its request is out leaves a row that names the request, and another till
// does not take a request that is still out for an unanswered one.
TEST_F(CodeRedemptionTest, TheRowNamesTheRequestWhileItIsOut) {
    std::string seen, answerWhileOut = "unread";
    std::int32_t row = -1;
    provider->WhileWaiting = [&] {
        row = std::stoi(host.Value("SELECT MAX([ID]) FROM [ZumvoPaymentTransactions]"));
        seen = Note(row);
        answerWhileOut = Response(row);
    };
    provider->Answers = {Accepted(1205, 1205)};
    const TRedemption r = Redemption().Redeem("PAY-100", 1205);
    EXPECT_EQ(r.TransactionID, row);
    EXPECT_TRUE(IsOutcomeUnknown(seen));
    EXPECT_TRUE(IsAwaitingAnswer(seen));
    EXPECT_EQ(answerWhileOut, "") << "Response holds only the provider's answers";
    const TJSONDocument note = TJSONDocument::Parse(seen);
    EXPECT_EQ(note["Zumvo"].AsString(), "PAY-100");
    EXPECT_EQ(note["TotalAmount"].AsInteger(), 1205);
    EXPECT_EQ(note["TrxID"].AsString(), "12-" + std::to_string(row));
    EXPECT_FALSE(IsOutcomeUnknown(Note(row))) << "the answer replaced the note";
}

// A refused code's row carries the next try; the note is written again for it.
TEST_F(CodeRedemptionTest, ARefusedRowCarriesTheNextTry) {
    provider->Answers = {Refused(), Accepted(1101, 1101)};
    auto redemption = Redemption();
    const TRedemption first = redemption.Redeem("PAY-1", 1101);
    const TRedemption second = redemption.Redeem("PAY-100", 1101, first.TransactionID);
    EXPECT_EQ(second.TransactionID, first.TransactionID);
    EXPECT_TRUE(second.Accepted());
    EXPECT_EQ(Rows(), 1);
}

// An accepted code whose row cannot be written is given back at once.
TEST_F(CodeRedemptionTest, ACodeThatCannotBeRecordedIsGivenBack) {
    const std::int32_t row = store->AddTransactionToBasket(basket);
    test::PutStatus(row, TTransactionStatus::Cancelled); // given back meanwhile: no longer waiting
    provider->Answers = {Accepted(1250, 1250), Advised()};
    const TRedemption r = Redemption().Redeem("PAY-100", 1250, row);
    EXPECT_EQ(r.Outcome, TRedemptionOutcome::GivenBack);
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"PAYMENT", "REVERSE"}));
    EXPECT_EQ(provider->Calls[1].TvTrxID, 1000);
}

// Advices: a row is finalised only on its own confirmed answer, and a row whose outcome could not
// be written stays listed ("failed to finalise"); a reversal not confirmed leaves "failed to
// cancel". Each advice goes to the store the code was accepted under.
TEST_F(CodeRedemptionTest, AdvicesLeaveTheRowTheAnswerJustifies) {
    struct TCase {
        const char* Name;
        bool Finalise;
        std::string Answer;
        int RefusedStatusWrite; // a status the database will not take (0: none)
        TAdviceOutcome Outcome;
        int RowStatus;
        bool Sent;
    };
    const TCase cases[] = {
        {"finalise confirmed", true, Advised(), 0, TAdviceOutcome::Confirmed, 2, true},
        {"finalise refused", true, Advised("1"), 0, TAdviceOutcome::Failed, -2, true},
        {"finalise unanswered", true, "", 0, TAdviceOutcome::Failed, -2, true},
        {"finalise unreadable", true, "garbage", 0, TAdviceOutcome::Failed, -2, true},
        {"finalise confirmed, not written", true, Advised(), 2, TAdviceOutcome::Confirmed, -2, true},
        {"finalise not marked first", true, Advised(), -2, TAdviceOutcome::NotSent, 1, false},
        {"reverse confirmed", false, Advised(), 0, TAdviceOutcome::Confirmed, -1, true},
        {"reverse refused", false, Advised("1"), 0, TAdviceOutcome::Failed, -3, true},
        {"reverse unanswered", false, "", 0, TAdviceOutcome::Failed, -3, true},
        {"reverse unreadable", false, "garbage", 0, TAdviceOutcome::Failed, -3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        RefuseStatusWrites(0);
        const std::int32_t row = store->AddTransactionToBasket(basket);
        store->SavePayment(row, 1000, 12.05, "{}");
        RefuseStatusWrites(c.RefusedStatusWrite);
        provider->Calls.clear();
        provider->Answers = {c.Answer};
        auto redemption = Redemption();
        const TAdviceOutcome outcome =
            c.Finalise ? redemption.Finalise(row, 1000, 402) : redemption.GiveBack(row, 1000, 402);
        EXPECT_EQ(outcome, c.Outcome);
        EXPECT_EQ(Status(row), c.RowStatus);
        ASSERT_EQ(provider->Calls.size(), c.Sent ? 1u : 0u);
        if (c.Sent) {
            EXPECT_EQ(provider->Calls[0].Store, 402) << "the store the code was accepted under";
        }
    }
}

// An answer that is not HTTP 2xx is named with its status and resource; the request stays of
// unknown outcome (a proxy's error page says nothing of what the provider did).
TEST_F(CodeRedemptionTest, ANon2xxAnswerIsNamed) {
    provider->Status = 404;
    provider->Answers = {"<html>Not Found</html>"};
    const TRedemption r = Redemption().Redeem("PAY-100", 1205);
    EXPECT_EQ(r.Outcome, TRedemptionOutcome::Unreadable);
    EXPECT_EQ(r.HttpStatus, 404);
    EXPECT_EQ(r.Problem, "The Zumvo server answered HTTP 404 for /pos/services/PosService");
    EXPECT_TRUE(IsOutcomeUnknown(Note(r.TransactionID)));
    EXPECT_TRUE(log.Has("[TTest.Redeem] Outcome unknown for transaction " + std::to_string(r.TransactionID) +
                        " : HTTP 404"));
}

namespace {

constexpr const char* Missing = "\x01missing";

// An accepted answer with its three numbers written as given (Missing: the member is left out).
std::string AcceptedAs(const std::string& tvTrxId, const std::string& total, const std::string& settle,
                       const std::string& code = "-1") {
    std::string inner;
    const auto member = [&](const char* name, const std::string& value) {
        if (value != Missing)
            inner += std::string("<") + name + ">" + value + "</" + name + ">";
    };
    member("tvTrxId", tvTrxId);
    member("totalAmountProcessed", total);
    member("amountToSettle", settle);
    return Envelope("transactionResponse", code, inner);
}

} // namespace

// Numbers are read as XML Schema reads an integer: blanks and line ends around it and a sign are
// part of its written forms, and the code is kept with the amounts the provider holds.
TEST_F(CodeRedemptionTest, NumbersWrittenAsXmlSchemaAllowsAreKept) {
    struct TCase {
        const char* Name;
        std::string Answer;
    };
    const TCase cases[] = {
        {"blanks", AcceptedAs(" 5021 ", " 1205 ", " 1001 ")},
        {"line ends and tabs", AcceptedAs("\n\t5021\r\n", "\n1205\n", "\t1001\t")},
        {"plus signs", AcceptedAs("+5021", "+1205", "+1001")},
        {"leading zeros", AcceptedAs("005021", "01205", "001001")},
        {"padded response code", AcceptedAs("5021", "1205", "1001", " -1 ")},
        {"response code on its own line", AcceptedAs("5021", "1205", "1001", "\r\n  -1\r\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        provider->Calls.clear();
        provider->Answers = {c.Answer};
        const TRedemption r = Redemption().Redeem("PAY-100", 1205);
        ASSERT_EQ(r.Outcome, TRedemptionOutcome::Accepted);
        EXPECT_EQ(r.Amount, 1205);
        EXPECT_EQ(r.Payment, 1001);
        EXPECT_EQ(r.Discount, 204);
        EXPECT_EQ(Row(r.TransactionID)["tvTrxID"].AsInteger(), 5021);
        EXPECT_EQ(r.Record["tvTrxID"].AsInteger(), 5021);
        EXPECT_EQ(Kinds(), std::vector<std::string>{"PAYMENT"});
    }
}

// An accepted answer whose number or amounts are missing or are no integer cannot be kept: the
// code is given back at once, as an answer that does not add up is. Without a usable provider
// number it is given back by the request's reference; no advice names a number that is not
// positive.
TEST_F(CodeRedemptionTest, AnAcceptedAnswerWithoutItsNumbersIsGivenBack) {
    struct TCase {
        const char* Name;
        std::string Answer;
        std::int32_t ReversedAs; // the tvTrxId the REVERSE names
    };
    const TCase cases[] = {
        {"decimal amount", AcceptedAs("5021", "100.0", "100"), 5021},
        {"decimal settle", AcceptedAs("5021", "100", "1e2"), 5021},
        {"total missing", AcceptedAs("5021", Missing, "100"), 5021},
        {"settle missing", AcceptedAs("5021", "100", Missing), 5021},
        {"total empty", AcceptedAs("5021", "", "100"), 5021},
        {"two signs", AcceptedAs("5021", "+-100", "100"), 5021},
        {"number missing", AcceptedAs(Missing, "100", "100"), ByReference},
        {"number not an integer", AcceptedAs("50.21", "100", "100"), ByReference},
        {"number zero", AcceptedAs("0", "100", "100"), ByReference},
        {"number negative", AcceptedAs("-1", "100", "100"), ByReference},
        {"number out of range", AcceptedAs("99999999999", "100", "100"), ByReference},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        provider->Calls.clear();
        provider->Answers = {c.Answer, Advised()};
        const TRedemption r = Redemption().Redeem("PAY-100", 1205);
        EXPECT_EQ(r.Outcome, TRedemptionOutcome::GivenBack);
        EXPECT_THAT(r.Problem, ::testing::HasSubstr("Zumvo's answer does not add up"));
        ASSERT_EQ(Kinds(), (std::vector<std::string>{"PAYMENT", "REVERSE"}));
        EXPECT_EQ(provider->Calls[1].TvTrxID, c.ReversedAs);
        EXPECT_EQ(provider->Calls[1].TrxID, "12-" + std::to_string(r.TransactionID));
        EXPECT_EQ(Status(r.TransactionID), -1);
        const TJSONDocument data = TJSONDocument::Parse(Response(r.TransactionID));
        EXPECT_THAT(data["NotKept"].AsString(), ::testing::HasSubstr("does not add up"));
        EXPECT_EQ(data["TotalAmount"].AsInteger(), 1205) << "what was asked, for the held-funds list";
    }
}

// Refused, the reversal of such an answer leaves the row "failed to cancel", with no provider
// number on it that a later advice could name.
TEST_F(CodeRedemptionTest, AnUnkeptAnswerWithoutANumberStaysListedByReference) {
    provider->Answers = {AcceptedAs(Missing, "1205", "1205"), Advised("1")};
    const TRedemption r = Redemption().Redeem("PAY-100", 1205);
    EXPECT_EQ(r.Outcome, TRedemptionOutcome::GivenBack);
    EXPECT_EQ(Status(r.TransactionID), -3);
    EXPECT_LE(Row(r.TransactionID)["tvTrxID"].AsInteger(0), 0);
    EXPECT_THAT(r.Problem, ::testing::HasSubstr("listed with the held funds"));
}

// A response code that is no integer at all says nothing of what the provider did: the answer is
// unreadable and its row listed, never taken for a refusal whose row a next try would reuse.
TEST_F(CodeRedemptionTest, AResponseCodeThatIsNoIntegerIsUnreadable) {
    for (const char* code : {"OK", "", "-1.0", "- 1", "0x1",
                             "\xE2\x88\x92"
                             "1"}) {
        SCOPED_TRACE(code);
        provider->Calls.clear();
        provider->Answers = {AcceptedAs("5021", "1205", "1205", code)};
        const TRedemption r = Redemption().Redeem("PAY-100", 1205);
        EXPECT_EQ(r.Outcome, TRedemptionOutcome::Unreadable);
        EXPECT_FALSE(r.RowReusable());
        EXPECT_TRUE(IsOutcomeUnknown(Note(r.TransactionID)));
        EXPECT_THAT(r.Problem, ::testing::HasSubstr("is not a whole number"));
        EXPECT_EQ(Kinds(), std::vector<std::string>{"PAYMENT"}) << "nothing is given back on a guess";
    }
    provider->Answers = {
        R"(<Envelope><Body><transactionResponse><response><responseDesc>Approved</responseDesc>)"
        R"(<tvTrxId>5021</tvTrxId></response></transactionResponse></Body></Envelope>)"};
    EXPECT_EQ(Redemption().Redeem("PAY-100", 1205).Outcome, TRedemptionOutcome::Unreadable)
        << "an answer without a response code";
    // A refusal written with blanks is still a refusal.
    provider->Answers = {Refused(" 3\n")};
    EXPECT_EQ(Redemption().Redeem("PAY-100", 1205).Outcome, TRedemptionOutcome::Refused);
}

// SOAP 1.1 sends a fault with HTTP 500: the cashier reads its text, as for a fault sent with 200,
// blanks and line ends folded and a long text cut.
TEST_F(CodeRedemptionTest, ASoapFaultWithHttp500IsNamed) {
    const auto fault = [](const std::string& text) {
        return R"(<?xml version="1.0"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/">)"
               R"(<soap:Body><soap:Fault><faultcode>soap:Server</faultcode><faultstring>)" +
               text + "</faultstring></soap:Fault></soap:Body></soap:Envelope>";
    };
    provider->Status = 500;
    provider->Answers = {fault("Store 401\r\n is &lt;closed&gt;")};
    TRedemption r = Redemption().Redeem("PAY-100", 1205);
    EXPECT_EQ(r.Outcome, TRedemptionOutcome::Unreadable);
    EXPECT_EQ(r.Problem, "The Zumvo server answered HTTP 500 for /pos/services/PosService (SOAP Fault "
                         "soap:Server: Store 401 is <closed>)");
    EXPECT_TRUE(IsOutcomeUnknown(Note(r.TransactionID)));

    provider->Answers = {fault(std::string(500, 'x'))};
    r = Redemption().Redeem("PAY-100", 1205);
    EXPECT_THAT(r.Problem,
                ::testing::HasSubstr("soap:Server: " + std::string(MaxFaultTextBytes, 'x') + "...)"));
    EXPECT_THAT(r.Problem, ::testing::Not(::testing::HasSubstr(std::string(MaxFaultTextBytes + 1, 'x'))));

    // The same fault sent with 200 is told the same way.
    provider->Status = 200;
    provider->Answers = {fault("Store 401\r\n is &lt;closed&gt;")};
    r = Redemption().Redeem("PAY-100", 1205);
    EXPECT_THAT(r.Problem, ::testing::HasSubstr("(SOAP Fault soap:Server: Store 401 is <closed>)"));
}
