// The rules of the advice retry without a provider: the attempt budget with its growing
// interval, the age at which a sale counts as abandoned, and what each stored row calls for.
#include "clsAdviceRetry.h"
#include "clsHeldFundsReport.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zumvo;

namespace {

TTimePoint At(const char* text) {
    return ParseTimestamp(text).value();
}

} // namespace

TEST(AdviceRetryRules, IntervalDoublesUpToADayAndBudgetEndsAutomaticAttempts) {
    TRetrySettings s;
    s.MaxAttempts = 4;
    s.FirstInterval = 60s;
    EXPECT_EQ(RetryInterval(s, 1), 60s);
    EXPECT_EQ(RetryInterval(s, 2), 120s);
    EXPECT_EQ(RetryInterval(s, 4), 480s);
    EXPECT_EQ(RetryInterval(s, 40), TRetrySettings::LongestInterval);

    const TTimePoint last = At("2026-03-02 10:00:00");
    struct TCase {
        int Made;
        std::optional<TTimePoint> Last;
        TTimePoint Now;
        bool Due;
    };
    const TCase cases[] = {
        {0, std::nullopt, last, true}, // never tried: at once
        {1, last, last + 59s, false},  {1, last, last + 60s, true},    {3, last, last + 239s, false},
        {3, last, last + 240s, true},  {4, last, last + 1000h, false}, // budget spent
        {2, std::nullopt, last, true},                                 // attempts without a time: due
    };
    for (const TCase& c : cases)
        EXPECT_EQ(RetryDue(s, c.Made, c.Last, c.Now), c.Due) << c.Made;
    s.MaxAttempts = 0; // retry switched off
    EXPECT_FALSE(RetryDue(s, 0, std::nullopt, last));
}

TEST(AdviceRetryRules, AbandonedAfterTheAgeTheTradingDayOrACashup) {
    const TTimePoint opened = At("2026-03-02 22:30:00");
    struct TCase {
        const char* Now;
        std::optional<std::chrono::minutes> Age;
        std::optional<const char*> Cashup;
        bool Abandoned;
    };
    const TCase cases[] = {
        {"2026-03-02 23:59:59", std::nullopt, std::nullopt, false}, // same trading day
        {"2026-03-03 00:00:01", std::nullopt, std::nullopt, true},  // the day is over
        {"2027-01-01 00:00:00", std::nullopt, std::nullopt, true},
        {"2026-03-02 23:00:00", 30min, std::nullopt, true}, // exactly the age
        {"2026-03-02 22:50:00", 30min, std::nullopt, false},
        {"2026-03-02 22:31:00", 0min, std::nullopt, true},
        {"2026-03-02 22:40:00", std::nullopt, "2026-03-02 22:35:00", true},  // a cash-up after it
        {"2026-03-02 22:40:00", std::nullopt, "2026-03-02 22:00:00", false}, // one before it
    };
    for (const TCase& c : cases) {
        const std::optional<TTimePoint> cashup = c.Cashup ? std::optional(At(*c.Cashup)) : std::nullopt;
        EXPECT_EQ(IsAbandoned(opened, At(c.Now), c.Age, cashup), c.Abandoned) << c.Now;
    }
    EXPECT_TRUE(ParseTimestamp("2026-03-02T22:30:00.123").has_value());
    EXPECT_FALSE(ParseTimestamp("22:30 yesterday").has_value());
}

TEST(AdviceRetryRules, EachStoredRowCallsForItsAdvice) {
    const std::string unknown = R"({\"Outcome\":\"Unknown\",\"TrxID\":\"12-4\",\"Zumvo\":\"PAY\"})";
    const std::string paid = R"({\"responseCode\":\"-1\",\"Zumvo\":\"PAY\"})";
    struct TCase {
        int Status;
        std::string Response;
        std::string BasketInvoice; // "null": never invoiced
        int Basket;
        THeldKind Kind;
    };
    const TCase cases[] = {
        {-2, paid, "77", 5, THeldKind::FinaliseFailed},
        {-3, paid, "77", 5, THeldKind::CancelFailed},
        {0, unknown, "77", 5, THeldKind::OutcomeUnknown},
        {0, unknown, "null", 9, THeldKind::OutcomeUnknown},
        {1, paid, "null", 5, THeldKind::Abandoned},
        {0, "", "null", 5, THeldKind::Abandoned},
        {1, paid, "null", 9, THeldKind::InProgress}, // the sale being rung up
        {1, paid, "77", 5, THeldKind::None},
        {2, paid, "77", 5, THeldKind::None},
        {-1, paid, "null", 5, THeldKind::None},
    };
    TRetrySettings s;
    s.MaxAttempts = 2;
    s.AbandonedAfter = 60min;
    TRetryRequest request;
    request.CurrentBasket = 9;
    request.Till = 3;
    request.Now = At("2026-03-02 12:00:00");
    for (const TCase& c : cases) {
        const std::string response = c.Response.empty() ? "null" : "\"" + c.Response + "\"";
        const auto row = TJSONDocument::Parse(
            R"({"ID":4,"Status":)" + std::to_string(c.Status) + R"(,"Response":)" + response +
            R"(,"BasketID":)" + std::to_string(c.Basket) + R"(,"BasketInvoice":)" + c.BasketInvoice +
            R"(,"BasketTillID":3,"tvTrxID":1004,"Amount":12.5,"AdviceAttempts":2,)"
            R"("Timestamp_Created":"2026-03-02 10:00:00","BasketCreated":"2026-03-02 10:00:00"})");
        const THeldRow held = ReadHeldRow(row.Root(), s, request);
        EXPECT_EQ(held.Kind, c.Kind) << c.Status << " " << c.Response << " " << c.BasketInvoice;
        EXPECT_TRUE(held.BudgetSpent);
        EXPECT_EQ(held.AgeMinutes, 120);
        EXPECT_EQ(held.TillID, 3);
        if (!c.Response.empty()) {
            EXPECT_EQ(held.Code, "PAY");
        }
        // After a sale or a cash-up on another till, this till's open sales are in progress, whatever
        // their age; a person in the back office may judge them.
        for (const TRetryTrigger trigger : {TRetryTrigger::AfterSale, TRetryTrigger::Cashup}) {
            TRetryRequest elsewhere = request;
            elsewhere.Trigger = trigger;
            elsewhere.Till = elsewhere.CashupTill = 4;
            const THeldKind kind = ReadHeldRow(row.Root(), s, elsewhere).Kind;
            EXPECT_EQ(kind, c.Kind == THeldKind::Abandoned ? THeldKind::InProgress : c.Kind);
        }
        TRetryRequest backOffice = request;
        backOffice.Trigger = TRetryTrigger::OnDemand;
        EXPECT_EQ(ReadHeldRow(row.Root(), s, backOffice).Kind, c.Kind);
    }
}

// A sale is idle since its latest code was asked for: one still taking codes is not abandoned,
// however long ago it began.
TEST(AdviceRetryRules, AnOpenSaleIsIdleSinceItsLatestCode) {
    TRetrySettings s;
    s.AbandonedAfter = 60min;
    TRetryRequest backOffice;
    backOffice.Trigger = TRetryTrigger::OnDemand;
    backOffice.Now = At("2026-03-02 12:00:00");
    for (const auto& [lastCode, kind] : {std::pair{"2026-03-02 11:30:00", THeldKind::InProgress},
                                         std::pair{"2026-03-02 10:30:00", THeldKind::Abandoned}}) {
        const auto row = TJSONDocument::Parse(
            std::string(R"({"ID":4,"Status":1,"BasketID":5,"BasketInvoice":null,)") +
            R"("Timestamp_Created":"2026-03-02 10:00:00","BasketCreated":"2026-03-02 10:00:00",)" +
            R"("BasketLastCode":")" + lastCode + R"("})");
        EXPECT_EQ(ReadHeldRow(row.Root(), s, backOffice).Kind, kind) << lastCode;
    }
}

// A row whose payment was not saved yet has no Amount: the list shows what its stored answer says
// the provider holds, not 0.00.
TEST(AdviceRetryRules, HeldAmountComesFromTheAnswerWhenTheRowHasNone) {
    const struct {
        const char* Amount;
        const char* Response;
        double Held;
    } cases[] = {
        {"12.5", R"("{\"totalAmountProcessed\":\"3000\"}")", 12.5},
        {"null", R"("{\"responseCode\":\"-1\",\"totalAmountProcessed\":\"3000\",\"Zumvo\":\"PAY\"}")", 30.0},
        {"null", R"("{\"Outcome\":\"Unknown\",\"TotalAmount\":1500,\"Zumvo\":\"PAY\"}")", 15.0},
        // An answer not kept for an unreadable amount: the amount asked.
        {"null", R"("{\"totalAmountProcessed\":\"100.0\",\"NotKept\":\"x\",\"TotalAmount\":1205}")", 12.05},
        {"null", R"("{\"totalAmountProcessed\":\" 1205 \",\"NotKept\":\"x\",\"TotalAmount\":1001}")", 12.05},
        {"null", "null", 0.0},
    };
    for (const auto& c : cases) {
        const auto row = TJSONDocument::Parse(std::string(R"({"ID":4,"Status":-3,"Amount":)") + c.Amount +
                                              R"(,"Response":)" + c.Response + "}");
        EXPECT_DOUBLE_EQ(ReadHeldRow(row.Root(), TRetrySettings{}, TRetryRequest{}).Amount, c.Held)
            << c.Response;
    }
}

// Without reversal by reference a row without a provider number is for a person, who is told what
// to ask the provider; a row with a number is reversed by it as before.
TEST(AdviceRetryRules, WithoutReversalByReferenceARowWithoutNumberIsForAPerson) {
    TRetrySettings s;
    s.ReversalByReference = false;
    TRetryRequest backOffice;
    backOffice.Trigger = TRetryTrigger::OnDemand;
    backOffice.Now = At("2026-03-02 12:00:00");
    const std::string note =
        R"("{\"Outcome\":\"Unknown\",\"TrxID\":\"12-4\",\"Zumvo\":\"PAY-7\",\"TotalAmount\":1205}")";
    const struct {
        int Status;
        const char* TvTrxID;
        THeldKind Kind;
    } cases[] = {
        {0, "null", THeldKind::AskProvider},
        {-3, "null", THeldKind::AskProvider},
        {-3, "-1", THeldKind::AskProvider}, // a number that is no number
        {-3, "1004", THeldKind::CancelFailed},
    };
    for (const auto& c : cases) {
        const auto row = TJSONDocument::Parse(R"({"ID":4,"Status":)" + std::to_string(c.Status) +
                                              R"(,"tvTrxID":)" + c.TvTrxID + R"(,"Response":)" + note +
                                              R"(,"BasketID":5,"BasketInvoice":77,)"
                                              R"("Timestamp_Created":"2026-03-02 10:00:00"})");
        const THeldRow held = ReadHeldRow(row.Root(), s, backOffice);
        EXPECT_EQ(held.Kind, c.Kind) << c.Status << " " << c.TvTrxID;
        if (c.Kind == THeldKind::AskProvider) {
            EXPECT_EQ(HeldFundsAction(held),
                      "A person: ask Zumvo whether it holds code PAY-7 under reference 12-4 "
                      "(sent 2026-03-02 10:00:00, 12.05); if it does, have it given back");
        }
        EXPECT_EQ(ReadHeldRow(row.Root(), TRetrySettings{}, backOffice).Kind,
                  c.Status == 0 ? THeldKind::OutcomeUnknown : THeldKind::CancelFailed)
            << "with reversal by reference: reversed";
    }
}

// The held-funds page shows every stored text as text.
TEST(AdviceRetryRules, HeldFundsPageEscapesWhatTheRowsHold) {
    THeldRow row;
    row.ID = 7;
    row.Code = "<script>alert('x')</script>";
    row.LastError = "Refused: 1 \"Unknown\" & gone";
    row.Kind = THeldKind::CancelFailed;
    const std::string page = BuildHeldFundsPage({row}, "file:///res/");
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"), std::string::npos) << page;
    EXPECT_NE(page.find("Refused: 1 &quot;Unknown&quot; &amp; gone"), std::string::npos) << page;
    EXPECT_NE(page.find("<td>REVERSE</td>"), std::string::npos);
    row.Attempts = 99;
    row.BudgetSpent = true;
    EXPECT_EQ(HeldFundsAction(row), "A person: retries spent");
    EXPECT_NE(BuildHeldFundsPage({}, "file:///res/").find("No transaction holds funds."), std::string::npos);
}

// Without a configured age a sale is abandoned once its trading day is over. From the back office
// that makes another till's sale whose cashier took a code at 23:55 "abandoned" at 00:05, while
// that till may still be ringing it up: a Retry All would give the code back under the sale.
TEST(AdviceRetryRules, OnDemandLeavesASaleThatTookACodeMinutesBeforeMidnight) {
    TRetryRequest backOffice;
    backOffice.Trigger = TRetryTrigger::OnDemand;
    backOffice.Now = At("2026-03-03 00:05:00");
    const auto row = TJSONDocument::Parse(
        R"({"ID":4,"Status":1,"BasketID":5,"BasketInvoice":null,"BasketTillID":2,)"
        R"("Timestamp_Created":"2026-03-02 23:55:00","BasketCreated":"2026-03-02 23:50:00",)"
        R"("BasketLastCode":"2026-03-02 23:55:00"})");
    EXPECT_EQ(ReadHeldRow(row.Root(), TRetrySettings{}, backOffice).Kind, THeldKind::InProgress);
    backOffice.Now = At("2026-03-03 01:00:00"); // idle an hour and more, on a later day
    EXPECT_EQ(ReadHeldRow(row.Root(), TRetrySettings{}, backOffice).Kind, THeldKind::Abandoned);
}
