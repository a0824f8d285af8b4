// The voucher engine end to end: a real SQLite database, the real payment screen driven by QTest,
// the voucher simulator over HTTP. Each test ends with the ledger check (fixture TearDown).
#include "StatusFixture.h"
#include "VoucherEngineFixture.h"
#include "clsMoney.h"
#include "clsVoucherReturn.h"

#include <gmock/gmock.h>

#include <QApplication>

using namespace zumvo;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using zumvo::test::VoucherEngineTest;

namespace {

const std::string BeforePayment = "Pallux.Invoicing.Transaction.BeforePayment";
const std::string PaymentFailed = "Pallux.Invoicing.Transaction.AfterPaymentFailed";
const std::string PaymentSuccess = "Pallux.Invoicing.Transaction.AfterPaymentSuccess";

std::string Json(const TJSONValue& v) {
    return v.ToJSON();
}

int Count(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const auto& l : lines)
        n += l.find(text) != std::string::npos;
    return n;
}

} // namespace

TEST_F(VoucherEngineTest, NewEngineForgetsTheBasketAndFollowsThePaymentEvents) {
    pallux::IntfPtr<ICurrentBasket> basket;
    ASSERT_TRUE(GetSingletonService(basket));
    basket->SetBasketID(42);
    auto engine = NewEngine();
    EXPECT_EQ(basket->GetBasketID(), -1);
    EXPECT_EQ(engine->BasketID(), -1);
    EXPECT_EQ(engine->Transactions().ToJSON(), "[]");
    EXPECT_FALSE(engine->LoadedBasket() || engine->LastData());

    std::string text = "x";
    EXPECT_EQ(engine->GetVoucherInfo(7, text), 0);
    EXPECT_EQ(text, "");
    engine->GetName(text);
    EXPECT_EQ(text, "Zumvo");
    engine->GetDisplayName(text);
    EXPECT_EQ(text, "Zumvo Voucher");

    struct TStep {
        std::string Event;
        bool Paying, Paid;
    };
    const TStep steps[] = {{BeforePayment, true, false},
                           {PaymentSuccess, false, true},
                           {PaymentSuccess, false, true},
                           {PaymentFailed, false, false},
                           {BeforePayment, true, false}};
    for (const auto& s : steps) {
        Raise(s.Event);
        EXPECT_EQ(engine->InPayment(), s.Paying) << s.Event;
        EXPECT_EQ(engine->PaymentSucceeded(), s.Paid) << s.Event;
    }
    engine->Reset();
    EXPECT_FALSE(engine->InPayment()) << "Reset during payment ends it";
    EXPECT_TRUE(log.Has("[TVoucherZumvo.Reset] ...."));
    EXPECT_TRUE(log.Has("[TVoucherZumvo.Clear] Loaded Basket  : null"));
}

// First application through the screen: the answer by voucher kind, the amount asked in
// cents (truncated), and what is stored.
TEST_F(VoucherEngineTest, FirstApplicationAnswersByVoucherKind) {
    struct TCase {
        std::string Code;
        double AfterDisc;
        std::int64_t RequestedCents;
        std::string Answer;
    };
    const TCase cases[] = {
        {"SPLIT-50", 80.0, 8000,
         R"({"VoucherCodes":["SPLIT-50"],"VoucherAmount":50.0,"VoucherType":"PaymentDiscount","PaymentType":"Zumvo",)"
         R"("PaymentAmount":30.0,"DiscountAmount":20.0,"DiscountIsPercent":false,"DiscountOverride":false,)"
         R"("DiscountCode":"ZUMVO-DISC","Result":true})"},
        {"LOYAL-1", 12.0, 1200,
         R"({"VoucherCodes":["LOYAL-1"],"VoucherType":"Loyalty","VoucherAmount":0.0,"PaymentAmount":0.0,)"
         R"("DiscountAmount":0.0,"Result":true})"},
        {"PAY-100", 123.45, 12345,
         R"({"VoucherCodes":["PAY-100"],"VoucherAmount":100.0,"VoucherType":"Payment","PaymentType":"Zumvo",)"
         R"("PaymentAmount":100.0,"Result":true})"},
        {"DISC-5", 0.999, 99,
         R"({"VoucherCodes":["DISC-5"],"VoucherAmount":0.99,"VoucherType":"Discount","DiscountAmount":0.99,)"
         R"("DiscountIsPercent":false,"DiscountOverride":false,"DiscountCode":"ZUMVO-DISC","Result":true})"},
    };
    int n = 0;
    for (const TCase& c : cases) {
        auto engine = NewEngine();
        const TJSONDocument answer = ApplyCodes(*engine, {c.Code}, c.AfterDisc);
        EXPECT_EQ(answer.ToJSON(), c.Answer) << c.Code;
        EXPECT_EQ(engine->LastResult(), c.Answer) << c.Code;
        ASSERT_TRUE(engine->LastData()) << c.Code;
        EXPECT_FALSE(engine->LastData()->Exists("CurrentAmount")) << "kept as the host passed it";
        const auto ledger = Ledger();
        ASSERT_EQ(ledger._Count(), ++n) << c.Code;
        EXPECT_EQ(ledger[n - 1]["requested"].AsInt64(), c.RequestedCents) << c.Code;
        EXPECT_EQ(ledger[n - 1]["trxId"].AsString(), "12-" + std::to_string(n)) << c.Code;
        EXPECT_EQ(StatusOf(n), 1) << c.Code;
        EXPECT_DOUBLE_EQ(host.Rows("SELECT [TotalAmount] FROM [ZumvoPaymentBasket] WHERE [ID] = " +
                                   std::to_string(n))[0]["TotalAmount"]
                             .AsFloat(),
                         answer["VoucherAmount"].AsFloat())
            << c.Code;
    }
    const auto storeLog = StoreLog();
    EXPECT_EQ(storeLog.front(), "New Basket: 1");
    EXPECT_THAT(storeLog, ::testing::Contains("Amount Processed: 50.00"));
    EXPECT_THAT(storeLog, ::testing::Contains("Saved Transaction: 1 -> " + Json(Ledger()[0]["tvTrxId"])));
    EXPECT_THAT(storeLog, ::testing::Contains("Saved Basket: 1 -> 50.00"));
    const TJSONDocument response =
        TJSONDocument::Parse(host.Value("SELECT [Response] FROM [ZumvoPaymentTransactions] WHERE [ID] = 1"));
    EXPECT_EQ(response["Zumvo"].AsString(), "SPLIT-50");
    EXPECT_EQ(response["PaymentAmount"].AsString(), "30");
}

// The amount asked for is the invoice's total read as the decimal it is: 19.99 and 1.15 are not
// exact in binary, and a truncated product would ask a cent less.
TEST_F(VoucherEngineTest, TheFirstCodeIsAskedForTheInvoiceTotalToTheCent) {
    const std::pair<double, std::int64_t> cases[] = {{19.99, 1999}, {1.15, 115}, {20.05, 2005}, {0.29, 29}};
    for (const auto& [total, cents] : cases) {
        auto engine = NewEngine();
        const TJSONDocument answer = ApplyCodes(*engine, {"PAY-100"}, total);
        const auto ledger = Ledger();
        EXPECT_EQ(ledger[ledger._Count() - 1]["requested"].AsInt64(), cents) << total;
        EXPECT_EQ(ledger[ledger._Count() - 1]["amount"].AsInt64(), cents) << total;
        EXPECT_EQ(CentsOf(answer["VoucherAmount"].AsFloat()), cents) << total;
        engine->CancelVoucher(Invoice(total));
    }
}

TEST_F(VoucherEngineTest, RepeatedPressShowsWhatIsAppliedWithoutTheScreen) {
    auto engine = NewEngine();
    const TJSONDocument first = ApplyCodes(*engine, {"SPLIT-50", "PAY-100"}, 80.0);
    EXPECT_EQ(first["VoucherAmount"].AsFloat(), 80.0) << "the screen's processed total";
    const int screens = ScreensShown;

    std::string answer;
    EXPECT_TRUE(engine->DoVoucher(Invoice(80.0), answer, true));
    EXPECT_EQ(ScreensShown, screens) << "no screen for a repeated press";
    TJSONDocument expected = first.Clone();
    expected.Set("Changed", false);
    EXPECT_EQ(answer, expected.ToJSON());
    EXPECT_EQ(engine->LastResult(), first.ToJSON()) << "the kept answer has no Changed";
    EXPECT_THAT(Messages(), ElementsAre("MESSAGE: information: 2 Zumvo voucher(s) for " + CurrencyText(80.0) +
                                        " already been applied to this order!"));
    EXPECT_EQ(Ledger()._Count(), 2) << "nothing sent";
}

// Recalculation by the host (not from the screen): nothing sent while the invoice is the same;
// after a change every live code is reversed once and sent again once for the total before
// the earlier Zumvo discounts.
TEST_F(VoucherEngineTest, RecalculationReappliesOnlyWhenTheInvoiceChanged) {
    auto engine = NewEngine();
    const TJSONDocument first = ApplyCodes(*engine, {"SPLIT-50", "SPLIT-50"}, 100.0);
    ASSERT_EQ(first["DiscountAmount"].AsFloat(), 40.0);

    std::string answer;
    EXPECT_TRUE(engine->DoVoucher(Invoice(100.0), answer, false));
    EXPECT_EQ(answer, first.ToJSON()) << "unchanged invoice: the last answer";
    EXPECT_EQ(Advices()._Count(), 0);
    EXPECT_EQ(Ledger()._Count(), 2);

    // The host took the 40.00 discount off and a line was added.
    EXPECT_TRUE(engine->DoVoucher(Invoice(60.0, 2), answer, false));
    const auto ledger = Ledger();
    ASSERT_EQ(ledger._Count(), 3) << "the code is sent once";
    EXPECT_EQ(ledger[0]["state"].AsString(), "released");
    EXPECT_EQ(ledger[1]["state"].AsString(), "released");
    EXPECT_EQ(ledger[2]["state"].AsString(), "held");
    EXPECT_EQ(ledger[2]["requested"].AsInt64(), 10000) << "60.00 + the earlier 40.00 discount";
    EXPECT_THAT(Statuses(), ElementsAre(-1, -1, 1));
    const TJSONDocument reapplied = TJSONDocument::Parse(answer);
    EXPECT_EQ(reapplied["VoucherType"].AsString(), "PaymentDiscount");
    EXPECT_EQ(reapplied["VoucherAmount"].AsFloat(), 50.0);
    EXPECT_EQ(Json(reapplied["VoucherCodes"]), R"(["SPLIT-50"])");
    EXPECT_EQ(engine->LastResult(), answer);
    EXPECT_TRUE(log.Has("[TVoucherZumvo.DoVoucher] Zumvos (1): SPLIT-50"));
    EXPECT_THAT(StoreLog(), ::testing::Contains("Saved Basket: 1 -> 50.00"));

    // The same recalculation again: nothing more is sent.
    const int advices = Advices()._Count();
    std::string again;
    EXPECT_TRUE(engine->DoVoucher(Invoice(60.0, 2), again, false));
    EXPECT_EQ(again, answer);
    EXPECT_EQ(Advices()._Count(), advices);
    EXPECT_EQ(Ledger()._Count(), 3);
}

// Several codes re-applied together take no more than the invoice: each is sent for what the
// codes before it (in the order they were applied) left to pay; a code with nothing left is not
// sent.
TEST_F(VoucherEngineTest, ReappliedCodesShareTheTotalInsteadOfEachTakingIt) {
    struct TCase {
        std::vector<std::string> Codes;
        double FirstTotal, NewAfterDisc;       // the new AfterDisc: the host took the discount off
        std::vector<std::int64_t> NewRequests; // cents asked for each code sent again
        double VoucherAmount;
    };
    const TCase cases[] = {
        // 30.00: DISC-5 takes 5.00 off, PAY-100 pays 25.00; a 10.00 line more makes 40.00.
        {{"DISC-5", "PAY-100"}, 30.0, 35.0, {4000, 3500}, 40.0},
        // 70.00: SPLIT-50 covers 50.00 (20.00 of it discount), PAY-100 20.00; 80.00 after a
        // 10.00 line: SPLIT-50 first again (its discount kept), PAY-100 the 30.00 left.
        {{"SPLIT-50", "PAY-100"}, 70.0, 60.0, {8000, 3000}, 80.0},
        // 30.00 as in the first case, then lines taken off down to 5.00 before the discount:
        // DISC-5 covers it all and PAY-100, with nothing left to pay, is not sent again.
        {{"DISC-5", "PAY-100"}, 30.0, 0.0, {500}, 5.0},
        // 120.00: PAY-100 pays 100.00, DISC-5 takes 5.00 off; lines taken off down to 100.00
        // before the discount: PAY-100, sent first again, covers it exactly and DISC-5 is not sent.
        {{"PAY-100", "DISC-5"}, 120.0, 95.0, {10000}, 100.0},
        // Cent boundaries: 16.01 less DISC-5's 5.00 recalculated to 11.01 is 16.01 before the
        // discount again, not 16.00 (11.01 + 5.0 is 16.009999... in binary).
        {{"DISC-5", "PAY-100"}, 16.01, 11.01, {1601, 1101}, 16.01},
        {{"DISC-5", "PAY-100"}, 20.05, 15.15, {2015, 1515}, 20.15},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Codes.front());
        const int caseStart = Ledger()._Count(); // a new basket, a new engine for each case
        auto engine = NewEngine();
        ApplyCodes(*engine, c.Codes, c.FirstTotal);
        const int sentBefore = Ledger()._Count();
        std::string answer;
        EXPECT_TRUE(engine->DoVoucher(Invoice(c.NewAfterDisc, 2), answer, false));
        const auto ledger = Ledger();
        ASSERT_EQ(ledger._Count(), sentBefore + static_cast<int>(c.NewRequests.size()));
        std::int64_t taken = 0;
        for (int i = caseStart; i < ledger._Count(); ++i) {
            if (i < sentBefore) {
                EXPECT_EQ(ledger[i]["state"].AsString(), "released");
                continue;
            }
            EXPECT_EQ(ledger[i]["requested"].AsInt64(),
                      c.NewRequests[static_cast<std::size_t>(i - sentBefore)]);
            taken += ledger[i]["amount"].AsInt64();
        }
        EXPECT_EQ(taken, CentsOf(c.VoucherAmount)) << "the invoice's total, no more";
        // One new row per code sent, each redeemed; a code with nothing left to pay gets none.
        const auto rows = Rows();
        int redeemed = 0;
        for (int i = 0; i < rows._Count(); ++i)
            if (rows[i]["BasketID"].AsInteger() == engine->BasketID())
                redeemed += rows[i]["Status"].AsInteger() == 1;
        EXPECT_EQ(redeemed, static_cast<int>(c.NewRequests.size()));
        EXPECT_EQ(TJSONDocument::Parse(answer)["VoucherAmount"].AsFloat(), c.VoucherAmount);
    }
}

// Rows the provider refused or never answered (status 0) carry no code: a basket whose codes
// could not be sent again answers Result false and tells the cashier.
TEST_F(VoucherEngineTest, ReapplicationThatPlacesNoCodeAnswersFalse) {
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 30.0);
    AddFault(R"({"fault": "http500", "request": "transaction", "code": "PAY-100"})");
    std::string answer;
    EXPECT_FALSE(engine->DoVoucher(Invoice(30.0, 2), answer, false));
    EXPECT_EQ(answer, R"({"VoucherCodes":[],"VoucherAmount":0.0,"Result":false})");
    EXPECT_THAT(Statuses(), ElementsAre(-1, 0));
    EXPECT_THAT(Messages(),
                ElementsAre("MESSAGE: information: Vouchers could not be re-applied and the voucher "
                            "total is now " +
                            CurrencyText(0)));

    // The basket has no live code left: the Voucher button opens the screen again.
    OnNextScreen({{test::TScreenStep::Click, "btnCancel", ""}});
    EXPECT_FALSE(engine->DoVoucher(Invoice(30.0, 2), answer, true));
    EXPECT_EQ(answer, R"({"Result":false})");
    EXPECT_EQ(ScreensShown, 2);
}

TEST_F(VoucherEngineTest, CancelVoucherReversesLiveCodesButNotWhilePaying) {
    auto engine = NewEngine();
    SeedInvoice(*engine, {"PAY-100"}, 30.0);
    const std::string data = Invoice(30.0);

    Raise(BeforePayment);
    EXPECT_FALSE(engine->CancelVoucher(data));
    EXPECT_EQ(Advices()._Count(), 0) << "nothing while the host takes payment";
    EXPECT_THAT(Statuses(), ElementsAre(1));

    Raise(PaymentFailed);
    EXPECT_FALSE(engine->CancelVoucher(data));
    EXPECT_THAT(Statuses(), ElementsAre(-1));
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "released");
    EXPECT_THAT(StoreLog(), ::testing::Contains("Cancelling Basket: 1"));
    EXPECT_THAT(StoreLog(), ::testing::Contains("Transaction 1 Cancelled"));

    // A second cancel sends nothing again.
    EXPECT_FALSE(engine->CancelVoucher(data));
    EXPECT_EQ(Advices()._Count(), 1);

    // Without a current basket nothing happens at all.
    engine->Reset();
    EXPECT_FALSE(engine->CancelVoucher(data));
    EXPECT_EQ(Advices()._Count(), 1);
    EXPECT_EQ(Count(host.Context->Transcript.Lines(), "Cancelling Zumvo Basket"), 2);
}

// A basket loaded with statuses 1, -1 and 2: the redeemed and the finalised transaction get a
// REVERSE; the provider refuses to give back a settled one, a FINALISE again confirms it settled,
// and it stays finalised with the refund owed listed (the cashier is told).
TEST_F(VoucherEngineTest, CancelVoucherOnRedeemedCancelledAndFinalisedTransactions) {
    auto engine = NewEngine();
    SeedInvoice(*engine, {"PAY-100", "PAY-100", "PAY-100"}, 300.0);
    SendAdvice(2, "REVERSE");
    test::PutStatus(2, TTransactionStatus::Cancelled);
    SendAdvice(3, "FINALISE");
    test::PutStatus(3, TTransactionStatus::Finalised);

    auto loaded = NewEngine();
    loaded->PopulateForInvoice(InvoiceNum, "{}");
    const int before = Advices()._Count();
    EXPECT_FALSE(loaded->CancelVoucher(Invoice(300.0)));
    const auto advices = Advices();
    ASSERT_EQ(advices._Count(), before + 3);
    EXPECT_EQ(advices[before]["trxId"].AsString(), "12-1");
    EXPECT_EQ(advices[before + 1]["trxId"].AsString(), "12-3");
    EXPECT_EQ(advices[before + 2]["action"].AsString(), "FINALISE");
    EXPECT_EQ(
        Count(log.Lines(), "[TVoucherZumvo.CancelVoucherTransactions] Transaction not ready to be cancelled"),
        1);
    EXPECT_THAT(Statuses(), ElementsAre(-1, -1, 2));
    EXPECT_EQ(host.Value("SELECT [RefundOwed] FROM [ZumvoPaymentTransactions] WHERE [ID] = 3"), "1");
    EXPECT_THAT(Messages(), ::testing::Contains(HasSubstr("had already been settled")));
    EXPECT_THAT(StoreLog(), ::testing::Contains("Transaction 3 FAILED to be Cancelled"));
}

// A reversal the provider never answers keeps the customer's money visible as -3, through
// CancelVoucher and through re-application; the code is then not taken a second time.
TEST_F(VoucherEngineTest, UnansweredReversalKeepsFailedToCancel) {
    struct TCase {
        const char* Name;
        bool Reapply;
    };
    for (const TCase c : {TCase{"cancel", false}, TCase{"re-application", true}}) {
        auto engine = NewEngine();
        SeedInvoice(*engine, {"PAY-100"}, 30.0, InvoiceNum + (c.Reapply ? 1 : 0));
        const std::int32_t row = Rows()._Count();
        AddFault(R"({"fault": "drop", "request": "advise", "count": 1})");
        std::string answer;
        if (c.Reapply)
            EXPECT_FALSE(engine->DoVoucher(Invoice(30.0, 2), answer, false)) << c.Name;
        else
            EXPECT_FALSE(engine->CancelVoucher(Invoice(30.0))) << c.Name;
        EXPECT_EQ(StatusOf(row), -3) << c.Name;
        EXPECT_EQ(Rows()._Count(), row) << c.Name << ": the code was not sent again";
        EXPECT_EQ(LedgerCheck(), "") << c.Name;

        // The next cancel tries the reversal again, and it goes through.
        EXPECT_FALSE(engine->CancelVoucher(Invoice(30.0))) << c.Name;
        EXPECT_EQ(StatusOf(row), -1) << c.Name;
        engine->Reset();
    }
}

TEST_F(VoucherEngineTest, OverringInvoiceReversesOnlyWhenNothingIsFinalised) {
    struct TCase {
        bool FinaliseOne;
        std::string Message;
        std::vector<int> After;
    };
    const TCase cases[] = {
        {true,
         "MESSAGE: information: The Zumvo transaction has already been finalised.\r\nThe voucher(s) CANNOT "
         "be "
         "reversed.\r\nThe funds will not be returned to the customer",
         {2, -1}}, // the settled code stays, listed as a refund owed; the one still held goes back
        {false,
         "MESSAGE: information: The Zumvo transaction has not yet been finalised.\r\nThe voucher(s) will now "
         "be "
         "reversed.\r\nIf successful, funds will be returned to the customer",
         {-1, -1}},
    };
    std::int32_t invoice = InvoiceNum;
    for (const TCase& c : cases) {
        auto engine = NewEngine();
        SeedInvoice(*engine, {"PAY-100", "PAY-100"}, 150.0, ++invoice);
        const std::int32_t first = Rows()._Count() - 1;
        if (c.FinaliseOne) {
            SendAdvice(first, "FINALISE");
            test::PutStatus(first, TTransactionStatus::Finalised);
        }
        host.Context->Transcript.Clear();
        const int before = Advices()._Count();
        NewEngine()->OverringInvoice(0, invoice);
        EXPECT_THAT(Messages(), ElementsAre(c.Message));
        const auto rows = Rows();
        EXPECT_EQ(rows[first - 1]["Status"].AsInteger(), c.After[0]);
        EXPECT_EQ(rows[first]["Status"].AsInteger(), c.After[1]);
        const auto advices = Advices();
        EXPECT_EQ(advices._Count() - before, c.FinaliseOne ? 1 : 2);
        for (int i = before; i < advices._Count(); ++i)
            EXPECT_EQ(advices[i]["action"].AsString(), "REVERSE");
    }
    // An invoice without a Zumvo basket: nothing but the first two lines.
    host.Context->Transcript.Clear();
    NewEngine()->OverringInvoice(0, 999);
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(log.Has("[TVoucherZumvo.OverringInvoice] Basket : {}"));
}

// A store changed in the settings while the till runs holds for the whole next sale: its codes
// are taken and settled under the same store, which the provider requires.
TEST_F(VoucherEngineTest, ChangedStoreHoldsForTheWholeNextSale) {
    ApplyCodes(*NewEngine(), {"PAY-100"}, 10.0); // the module has read store 17 at start-up
    WriteModuleSettings("AdviceRetryAttempts=0\n", 18);
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 10.0, 1);
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    std::string answer;
    EXPECT_TRUE(engine->TransactionFinalise(Invoice(10.0), answer));
    const auto ledger = Ledger();
    ASSERT_EQ(ledger._Count(), 2);
    EXPECT_EQ(ledger[1]["storeId"].AsString(), "18");
    EXPECT_EQ(ledger[1]["state"].AsString(), "settled");
    EXPECT_EQ(Statuses().back(), 2);
}

// Finalising after a successful payment settles each paid code (a FINALISE the provider never
// answers leaves -2); after a failed payment nothing is sent. Both tie the basket to the invoice.
TEST_F(VoucherEngineTest, TransactionFinaliseSettlesOnlyAfterASuccessfulPayment) {
    struct TCase {
        std::string LastEvent;
        bool DropOneFinalise;
        std::vector<int> Statuses;
        int Finalises;
    };
    const TCase cases[] = {{PaymentSuccess, false, {2, 2}, 2},
                           {PaymentSuccess, true, {-2, 2}, 1}, // the dropped advice never arrived
                           {PaymentFailed, false, {1, 1}, 0}};
    std::int32_t invoice = InvoiceNum;
    for (const TCase& c : cases) {
        auto engine = NewEngine();
        ++invoice;
        SeedInvoice(*engine, {"PAY-100", "SPLIT-50"}, 300.0, invoice + 1000); // an earlier number
        const std::int32_t first = Rows()._Count() - 1;
        if (c.DropOneFinalise)
            AddFault(R"({"fault": "drop", "request": "advise", "code": "PAY-100", "count": 1})");
        Raise(BeforePayment);
        Raise(c.LastEvent);
        const int before = Advices()._Count();
        std::string answer = "unset";
        EXPECT_TRUE(engine->TransactionFinalise(Invoice(300.0, 1, invoice), answer));
        EXPECT_EQ(answer, "{}");
        const auto advices = Advices();
        EXPECT_EQ(advices._Count() - before, c.Finalises);
        for (int i = before; i < advices._Count(); ++i)
            EXPECT_EQ(advices[i]["action"].AsString(), "FINALISE");
        const auto rows = Rows();
        EXPECT_EQ(rows[first - 1]["Status"].AsInteger(), c.Statuses[0]);
        EXPECT_EQ(rows[first]["Status"].AsInteger(), c.Statuses[1]);
        EXPECT_EQ(rows[first]["InvoiceNum"].AsInteger(), invoice);
        EXPECT_EQ(host.Value("SELECT [InvoiceNum] FROM [ZumvoPaymentBasket] WHERE [ID] = " +
                             std::to_string(engine->BasketID())),
                  std::to_string(invoice));
    }
    // No current basket: nothing done, true, no answer.
    auto idle = NewEngine();
    std::string answer = "unset";
    EXPECT_TRUE(idle->TransactionFinalise(Invoice(1.0), answer));
    EXPECT_EQ(answer, "unset");
}

// An invoice brought back with PopulateForInvoice: the Voucher button repeats its answer, and a
// recalculation re-applies the codes even though nothing changed.
TEST_F(VoucherEngineTest, PopulatedInvoiceIsReappliedOnRecalculation) {
    auto engine = NewEngine();
    SeedInvoice(*engine, {"SPLIT-50"}, 80.0);
    const std::string first = R"({"VoucherCodes":["SPLIT-50"],"VoucherAmount":50.0})";

    auto loaded = NewEngine();
    loaded->PopulateForInvoice(InvoiceNum, first);
    pallux::IntfPtr<ICurrentBasket> basket;
    ASSERT_TRUE(GetSingletonService(basket));
    EXPECT_EQ(basket->GetBasketID(), 1);
    EXPECT_EQ(loaded->LastResult(), first);
    // The Voucher button repeats what the invoice carries.
    std::string repeated;
    EXPECT_TRUE(loaded->DoVoucher(Invoice(80.0), repeated, true));
    EXPECT_EQ(repeated, R"({"VoucherCodes":["SPLIT-50"],"VoucherAmount":50.0,"Changed":false})");

    std::string answer;
    EXPECT_TRUE(loaded->DoVoucher(Invoice(80.0), answer, false));
    const auto ledger = Ledger();
    ASSERT_EQ(ledger._Count(), 2);
    EXPECT_EQ(ledger[0]["state"].AsString(), "released");
    EXPECT_EQ(ledger[1]["requested"].AsInt64(), 10000) << "80.00 + the 20.00 discount";
    EXPECT_THAT(Statuses(), ElementsAre(-1, 1));
    EXPECT_EQ(TJSONDocument::Parse(answer)["VoucherAmount"].AsFloat(), 50.0);

    // An invoice without a basket changes nothing and logs the failure.
    loaded->PopulateForInvoice(999, "{}");
    EXPECT_EQ(basket->GetBasketID(), 1);
    EXPECT_THAT(log.Lines().back(), HasSubstr("[TVoucherZumvo.PopulateForInvoice] Error : "));
}
