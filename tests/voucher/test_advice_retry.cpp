// The advice retry against the voucher simulator: failed finalises and cancels sent again until
// the provider confirms them, within the attempt budget and its growing interval; codes of a
// sale that never reached an invoice and requests whose answer was lost are given back.
#include "VoucherEngineFixture.h"
#include <algorithm>

#include "FZumvoHeldFunds.h"
#include "clsAdviceRetry.h"

#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <utility>

#include "SimHttp.h"
#include <gmock/gmock.h>

using namespace std::chrono_literals;

namespace zumvo::test {

namespace {

const std::string BeforePayment = "Pallux.Invoicing.Transaction.BeforePayment";
const std::string PaymentSuccess = "Pallux.Invoicing.Transaction.AfterPaymentSuccess";

TRetrySettings Budget(int attempts, std::chrono::seconds interval,
                      std::optional<std::chrono::minutes> abandonAfter = std::nullopt) {
    TRetrySettings s;
    s.MaxAttempts = attempts;
    s.FirstInterval = interval;
    s.AbandonedAfter = abandonAfter;
    return s;
}

TRetryRequest At(TRetryTrigger trigger, TTimePoint now = TClock::now()) {
    TRetryRequest r;
    r.Trigger = trigger;
    r.Now = now;
    return r;
}

} // namespace

class AdviceRetryTest : public VoucherEngineTest {
protected:
    int Attempts(std::int32_t row) {
        return std::stoi(host.Value("SELECT [AdviceAttempts] FROM [ZumvoPaymentTransactions] WHERE [ID] = " +
                                    std::to_string(row)));
    }
    std::string LastError(std::int32_t row) {
        return host.Value("SELECT [AdviceLastError] FROM [ZumvoPaymentTransactions] WHERE [ID] = " +
                          std::to_string(row));
    }
    // A completed invoice with one accepted code whose FINALISE (or, cancelled, REVERSE) the
    // provider never hears of; answers the row.
    std::int32_t FailedAdvice(bool finalise, std::int32_t invoice) {
        auto engine = NewEngine();
        SeedInvoice(*engine, {"PAY-100"}, 30.0, invoice);
        const std::int32_t row = Rows()._Count();
        AddFault(R"({"fault": "drop", "request": "advise"})");
        std::string answer;
        if (finalise) {
            Raise(BeforePayment);
            Raise(PaymentSuccess);
            engine->TransactionFinalise(Invoice(30.0, 1, invoice), answer);
        } else {
            engine->CancelVoucher(Invoice(30.0));
        }
        engine->Reset();
        return row;
    }
};

TEST_F(AdviceRetryTest, FailedAdvicesAreSentAgainUntilConfirmed) {
    struct TCase {
        bool Finalise;
        int Before, After;
        const char* LedgerState;
    };
    std::int32_t invoice = InvoiceNum;
    for (const TCase c : {TCase{true, -2, 2, "settled"}, TCase{false, -3, -1, "released"}}) {
        const std::int32_t row = FailedAdvice(c.Finalise, ++invoice);
        ASSERT_EQ(StatusOf(row), c.Before);
        TAdviceRetry retry(Budget(3, 0s));
        // Still failing: counted, the error kept, the status unchanged.
        EXPECT_EQ(retry.Run(At(TRetryTrigger::AfterSale)).Failed, 1);
        EXPECT_EQ(StatusOf(row), c.Before);
        EXPECT_EQ(Attempts(row), 1);
        EXPECT_NE(LastError(row).find("No answer"), std::string::npos) << LastError(row);
        ClearFaults();
        const TRetryResult done = retry.Run(At(TRetryTrigger::AfterSale));
        EXPECT_EQ(done.Confirmed, 1);
        EXPECT_EQ(StatusOf(row), c.After);
        EXPECT_EQ(Attempts(row), 2);
        EXPECT_EQ(LastError(row), "");
        EXPECT_EQ(Ledger()[row - 1]["state"].AsString(), c.LedgerState);
        EXPECT_EQ(retry.Run(At(TRetryTrigger::AfterSale)).Attempted, 0) << "nothing left to do";
        EXPECT_EQ(LedgerCheck(), "");
    }
}

TEST_F(AdviceRetryTest, BudgetAndGrowingIntervalLimitAutomaticRetriesButNotAPerson) {
    const std::int32_t row = FailedAdvice(true, InvoiceNum);
    TAdviceRetry retry(Budget(3, 3600s));
    const TTimePoint now = TClock::now();
    // Every attempt is stamped with the database's clock (about now); the steps look from later.
    struct TStep {
        TRetryTrigger Trigger;
        std::chrono::minutes Later;
        int Attempted;
    };
    const TStep steps[] = {
        {TRetryTrigger::AfterSale, 0min, 1}, // the first retry is due at once
        {TRetryTrigger::AfterSale, 0min, 0}, // the next one an hour after it
        {TRetryTrigger::Cashup, 30min, 0},
        {TRetryTrigger::AfterSale, 70min, 1}, // second attempt; the next waits two hours
        {TRetryTrigger::AfterSale, 100min, 0},
        {TRetryTrigger::AfterSale, 130min, 1}, // third: the budget is spent
        {TRetryTrigger::AfterSale, 6000min, 0},
        {TRetryTrigger::OnDemand, 0min, 1}, // a person may always try
    };
    int made = 0;
    for (const TStep& s : steps) {
        EXPECT_EQ(retry.Run(At(s.Trigger, now + s.Later)).Attempted, s.Attempted)
            << "after " << s.Later.count();
        made += s.Attempted;
        EXPECT_EQ(Attempts(row), made);
    }
    const auto held = retry.HeldFunds(At(TRetryTrigger::OnDemand));
    ASSERT_EQ(held.size(), 1u);
    EXPECT_TRUE(held[0].BudgetSpent);
    EXPECT_EQ(held[0].Kind, THeldKind::FinaliseFailed);
    EXPECT_EQ(held[0].Code, "PAY-100");
    ClearFaults();
    TRetryRequest reverse = At(TRetryTrigger::OnDemand);
    reverse.Reverse = true; // a person chooses to give the money back instead
    EXPECT_EQ(retry.Run(reverse).Confirmed, 1);
    EXPECT_EQ(StatusOf(row), -1);
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "released");
}

TEST_F(AdviceRetryTest, AbandonedSalesAndLostAnswersAreGivenBack) {
    // A sale whose codes were accepted and that never reached an invoice.
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 30.0);
    const std::int32_t abandoned = Rows()._Count();
    const std::int32_t basket = engine->BasketID();
    TAdviceRetry endOfDay(Budget(3, 0s));
    const std::int32_t till = std::stoi(
        host.Value("SELECT [TillID] FROM [ZumvoPaymentBasket] WHERE [ID] = " + std::to_string(basket)));
    const auto afterSaleOn = [](std::int32_t onTill, TTimePoint now) {
        TRetryRequest r = At(TRetryTrigger::AfterSale, now);
        r.Till = onTill;
        return r;
    };
    TRetryRequest sale = afterSaleOn(till, TClock::now());
    sale.CurrentBasket = basket;
    EXPECT_EQ(endOfDay.Run(sale).Attempted, 0) << "the sale being rung up is never touched";
    EXPECT_EQ(endOfDay.Run(afterSaleOn(till, TClock::now())).Attempted, 0) << "its trading day is not over";
    EXPECT_EQ(endOfDay.HeldFunds(afterSaleOn(till, TClock::now()))[0].Kind, THeldKind::InProgress);
    EXPECT_EQ(endOfDay.Run(afterSaleOn(till + 1, TClock::now() + 24h)).Attempted, 0)
        << "another till's sales are that till's to judge: one may be running past midnight";
    EXPECT_EQ(endOfDay.Run(afterSaleOn(till, TClock::now() + 24h)).Confirmed, 1) << "the next day";
    EXPECT_EQ(StatusOf(abandoned), -1);

    // A cash-up on the sale's till ends its day; a cash-up on another till does not.
    engine->Reset();
    auto second = NewEngine();
    ApplyCodes(*second, {"SPLIT-50"}, 30.0);
    const std::int32_t sold = Rows()._Count();
    TRetryRequest other = At(TRetryTrigger::Cashup);
    other.CashupTill = 99;
    EXPECT_EQ(endOfDay.Run(other).Attempted, 0);
    other.Now = TClock::now() + 24h;
    EXPECT_EQ(endOfDay.Run(other).Attempted, 0) << "nor the next day: that sale may still be running";
    TRetryRequest cashup = At(TRetryTrigger::Cashup);
    cashup.CashupTill = std::stoi(host.Value("SELECT [TillID] FROM [ZumvoPaymentBasket] WHERE [ID] = " +
                                             std::to_string(second->BasketID())));
    EXPECT_EQ(endOfDay.Run(cashup).Confirmed, 1);
    EXPECT_EQ(StatusOf(sold), -1);

    // Re-application whose request is accepted but whose answer is lost: the row says so, a new
    // row is used next time, and the retry reverses the code by its reference.
    second->Reset();
    auto third = NewEngine();
    SeedInvoice(*third, {"PAY-100"}, 30.0, InvoiceNum + 7);
    AddFault(R"({"fault": "oversized", "request": "transaction", "bytes": 2000000})");
    std::string answer;
    EXPECT_FALSE(third->DoVoucher(Invoice(30.0, 2, InvoiceNum + 7), answer, false));
    const std::int32_t lost = Rows()._Count();
    EXPECT_NE(Rows()[lost - 1]["RequestNote"].AsString("").find(R"("Outcome":"Unknown")"), std::string::npos);
    EXPECT_TRUE(Rows()[lost - 1]["Response"].IsNull()) << "Response holds only answers";
    EXPECT_EQ(Ledger()[Ledger()._Count() - 1]["state"].AsString(), "held");
    // Cancelling the sale does not hide it: nothing was reversed for it.
    EXPECT_FALSE(third->CancelVoucher(Invoice(30.0)));
    EXPECT_EQ(StatusOf(lost), 0);
    ClearFaults();
    const auto held = endOfDay.HeldFunds(At(TRetryTrigger::AfterSale));
    ASSERT_FALSE(held.empty());
    EXPECT_EQ(held.back().Kind, THeldKind::OutcomeUnknown);
    EXPECT_EQ(held.back().Code, "PAY-100");
    // A confirmed reversal by reference may mean only that the request has not reached the
    // provider yet: the row stays open and is asked once more before it is closed.
    const TRetryResult first = endOfDay.Run(At(TRetryTrigger::AfterSale));
    EXPECT_EQ(first.Attempted, 1);
    EXPECT_EQ(first.Confirmed, 0);
    EXPECT_EQ(StatusOf(lost), 0);
    EXPECT_EQ(Ledger()[Ledger()._Count() - 1]["state"].AsString(), "released");
    const auto stillHeld = endOfDay.HeldFunds(At(TRetryTrigger::AfterSale));
    ASSERT_FALSE(stillHeld.empty());
    EXPECT_EQ(stillHeld.back().Kind, THeldKind::OutcomeUnknown);
    EXPECT_EQ(endOfDay.Run(At(TRetryTrigger::OnDemand)).Attempted, 0)
        << "not asked again before a late request had the time to arrive, not even on demand";
    EXPECT_EQ(
        endOfDay
            .Run(At(TRetryTrigger::AfterSale, TClock::now() + endOfDay.Settings().LateRequestWindow + 1min))
            .Confirmed,
        1);
    EXPECT_EQ(StatusOf(lost), -1);
    third->Reset();
}

// From the back office (no till of its own), a person's Retry All judges every till's open sales
// by the same rule: idle past the age since the latest code. Another till's sale idle for two
// hours is given back; another till's sale opened five hours ago whose code came just now is
// still being rung up there and is left alone.
TEST_F(AdviceRetryTest, OnDemandRetryGivesBackOtherTillsIdleSalesOnly) {
    const auto sale = [&](std::int32_t till, int openedAgo, int codeAgo) {
        auto engine = NewEngine();
        ApplyCodes(*engine, {"PAY-100"}, 30.05);
        const std::string basket = std::to_string(engine->BasketID());
        engine->Reset();
        host.Run("UPDATE [ZumvoPaymentBasket] SET [TillID] = " + std::to_string(till) +
                 ", [Timestamp_Created] = DATEADD( MINUTE, -" + std::to_string(openedAgo) +
                 ", [Timestamp_Created] ) WHERE [ID] = " + basket);
        const std::string ago = "DATEADD( MINUTE, -" + std::to_string(codeAgo) + ", ";
        host.Run("UPDATE [ZumvoPaymentTransactions] SET [Timestamp_Created] = " + ago +
                 "[Timestamp_Created] ), [Timestamp_Payment] = " + ago +
                 "[Timestamp_Payment] ) WHERE [BasketID] = " + basket);
        return Rows()._Count();
    };
    const std::int32_t idle = sale(4, 130, 120);
    const std::int32_t ringing = sale(5, 300, 0);

    TAdviceRetry retry(Budget(3, 0s, 60min));
    const auto held = retry.HeldFunds(At(TRetryTrigger::OnDemand));
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].ID, idle);
    EXPECT_EQ(held[0].TillID, 4);
    EXPECT_EQ(held[0].Kind, THeldKind::Abandoned);
    EXPECT_EQ(held[1].ID, ringing);
    EXPECT_EQ(held[1].Kind, THeldKind::InProgress);

    const TRetryResult done = retry.Run(At(TRetryTrigger::OnDemand));
    EXPECT_EQ(done.Attempted, 1);
    EXPECT_EQ(done.Confirmed, 1);
    EXPECT_EQ(StatusOf(idle), -1);
    EXPECT_EQ(StatusOf(ringing), 1);
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "released");
    EXPECT_EQ(Ledger()[1]["state"].AsString(), "held");
}

// The held-funds screen: a row is retried or reversed only after the person confirms it.
TEST_F(AdviceRetryTest, HeldFundsScreenActsOnTheChosenRowOnlyWhenConfirmed) {
    const std::int32_t first = FailedAdvice(true, InvoiceNum + 1);
    const std::int32_t second = FailedAdvice(true, InvoiceNum + 2);
    ClearFaults();
    TfrmZumvoHeldFunds form;
    auto* grid = form.findChild<QTableWidget*>("grdHeldFunds");
    auto* retry = form.findChild<QPushButton*>("btnRetry");
    auto* reverse = form.findChild<QPushButton*>("btnReverse");
    auto* retryAll = form.findChild<QPushButton*>("btnRetryAll");
    ASSERT_TRUE(grid && retry && reverse && retryAll);
    ASSERT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(grid->item(0, 7)->text().toStdString(), "Failed to finalise");
    EXPECT_FALSE(retry->isEnabled()) << "nothing chosen yet";
    const int advices = Advices()._Count();

    grid->selectRow(0);
    AnswerMessages({pallux::mbNo});
    QTest::mouseClick(reverse, Qt::LeftButton);
    EXPECT_EQ(Advices()._Count(), advices) << "not confirmed: nothing sent";
    EXPECT_EQ(StatusOf(first), -2);

    grid->selectRow(0);
    AnswerMessages({pallux::mbYes, pallux::mbOK});
    QTest::mouseClick(reverse, Qt::LeftButton);
    EXPECT_EQ(StatusOf(first), -1) << "a person may give back a failed finalise";
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "released");
    ASSERT_EQ(grid->rowCount(), 1);
    EXPECT_EQ(StatusOf(second), -2) << "the other row is left alone";

    grid->selectRow(0);
    AnswerMessages({pallux::mbYes, pallux::mbOK});
    QTest::mouseClick(retry, Qt::LeftButton);
    EXPECT_EQ(StatusOf(second), 2);
    EXPECT_EQ(Ledger()[1]["state"].AsString(), "settled");
    EXPECT_EQ(grid->rowCount(), 0);
    EXPECT_FALSE(retryAll->isEnabled());
    EXPECT_THAT(Messages(), ::testing::Contains(::testing::HasSubstr("1 advice(s) sent: 1 confirmed")));
}

// A code whose answer was lost is reversed by its reference in the store its request went to,
// whatever the settings name by the time of the retry (another store knows nothing of it and
// would confirm a reversal of nothing). A confirmed reversal by reference after an unanswered one
// (the row then "failed to cancel") is still asked once more before the row is closed.
TEST_F(AdviceRetryTest, AReversalByReferenceGoesToTheRequestsStoreAndIsAskedOnceMore) {
    WriteModuleSettings("", 18);
    auto engine = NewEngine();
    SeedInvoice(*engine, {"PAY-100"}, 30.05);
    AddFault(R"({"fault": "oversized", "request": "transaction", "bytes": 2000000})");
    std::string answer;
    EXPECT_FALSE(engine->DoVoucher(Invoice(30.05, 2), answer, false));
    const std::int32_t lost = Rows()._Count();
    const auto lostEntry = [&](const char* member) {
        const TJSONDocument ledger = Ledger();
        return ledger[ledger._Count() - 1][member].AsString();
    };
    ASSERT_EQ(lostEntry("storeId"), "18");
    ASSERT_EQ(lostEntry("state"), "held");
    engine->Reset();
    WriteModuleSettings("", 17);
    ClearFaults();

    TAdviceRetry retry(Budget(5, 0s));
    AddFault(R"({"fault": "drop", "request": "advise", "count": 1})");
    EXPECT_EQ(retry.Run(At(TRetryTrigger::OnDemand)).Confirmed, 0);
    EXPECT_EQ(StatusOf(lost), -3) << "unanswered: failed to cancel";
    const TRetryResult confirmed = retry.Run(At(TRetryTrigger::OnDemand));
    EXPECT_EQ(confirmed.Attempted, 1);
    EXPECT_EQ(confirmed.Confirmed, 0) << "confirmed, and asked once more before it is closed";
    EXPECT_EQ(StatusOf(lost), -3);
    EXPECT_EQ(lostEntry("state"), "released");
    EXPECT_EQ(retry.Run(At(TRetryTrigger::OnDemand)).Attempted, 0) << "not before a late request could come";
    EXPECT_EQ(
        retry.Run(At(TRetryTrigger::OnDemand, TClock::now() + retry.Settings().LateRequestWindow + 1min))
            .Confirmed,
        1);
    EXPECT_EQ(StatusOf(lost), -1);
}

// A provider without reversal by reference, and a till told so: a request of unknown outcome is
// never sent as a REVERSE naming 0 (the provider would answer "unknown transaction" for ever);
// it stays listed for a person, with what to ask the provider.
TEST_F(AdviceRetryTest, WithoutReversalByReferenceALostRequestIsListedForAPerson) {
    httplib::Client simulator("127.0.0.1", port);
    ASSERT_TRUE(simulator.Post("/settings", R"({"reversalByReference": false})", "application/json"));
    auto engine = NewEngine();
    SeedInvoice(*engine, {"PAY-100"}, 30.05);
    AddFault(R"({"fault": "oversized", "request": "transaction", "bytes": 2000000})");
    std::string answer;
    EXPECT_FALSE(engine->DoVoucher(Invoice(30.05, 2), answer, false));
    const std::int32_t lost = Rows()._Count();
    engine->Reset();
    ClearFaults();
    const std::size_t advicesBefore =
        static_cast<std::size_t>(Ledger()[Ledger()._Count() - 1]["advices"].AsInteger(0));

    TRetrySettings settings = Budget(5, 0s);
    settings.ReversalByReference = false;
    TAdviceRetry retry(settings);
    for (const TRetryTrigger trigger :
         {TRetryTrigger::AfterSale, TRetryTrigger::Cashup, TRetryTrigger::OnDemand})
        EXPECT_EQ(retry.Run(At(trigger)).Attempted, 0);
    TRetryRequest reverse = At(TRetryTrigger::OnDemand);
    reverse.Reverse = true;
    EXPECT_EQ(retry.Run(reverse).Attempted, 0) << "not even when a person asks to give it back";
    const TJSONDocument ledger = Ledger();
    EXPECT_EQ(ledger[ledger._Count() - 1]["state"].AsString(), "held");
    EXPECT_EQ(static_cast<std::size_t>(ledger[ledger._Count() - 1]["advices"].AsInteger(0)), advicesBefore);
    EXPECT_EQ(StatusOf(lost), 0);

    const auto held = retry.HeldFunds(At(TRetryTrigger::OnDemand));
    const auto row = std::find_if(held.begin(), held.end(), [&](const THeldRow& r) { return r.ID == lost; });
    ASSERT_NE(row, held.end());
    EXPECT_EQ(row->Kind, THeldKind::AskProvider);
    EXPECT_EQ(row->Reference, "12-" + std::to_string(lost));
    EXPECT_EQ(row->Code, "PAY-100");
    EXPECT_DOUBLE_EQ(row->Amount, 30.05);

    // With reversal by reference on (the default), the same row is reversed by reference.
    ASSERT_TRUE(simulator.Post("/settings", R"({"reversalByReference": true})", "application/json"));
    TAdviceRetry byReference(Budget(5, 0s));
    EXPECT_EQ(byReference.Run(At(TRetryTrigger::OnDemand)).Attempted, 1);
    EXPECT_EQ(Ledger()[Ledger()._Count() - 1]["state"].AsString(), "released");
}

// The till's own moments: a completed sale retries earlier failures (never its own), and a
// cash-up gives back the codes of this till's sales that never reached an invoice.
TEST_F(AdviceRetryTest, CompletedSalesAndCashupsRunTheRetryThemselves) {
    WriteModuleSettings("AdviceRetryAttempts=3\nAdviceRetryIntervalSeconds=0\n");
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 30.0);
    const std::int32_t abandoned = Rows()._Count();
    engine->Reset();
    Raise("Pallux.Cashup.DriverCashup.Complete");
    EXPECT_EQ(StatusOf(abandoned), -1);
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "released");

    const std::int32_t failed = FailedAdvice(true, InvoiceNum + 3);
    EXPECT_EQ(StatusOf(failed), -2) << "the sale's own failure waits for a later moment";
    EXPECT_EQ(Attempts(failed), 0);
    ClearFaults();
    std::string answer;
    EXPECT_TRUE(NewEngine()->TransactionFinalise(Invoice(5.0, 1, InvoiceNum + 4), answer));
    EXPECT_EQ(StatusOf(failed), 2);
    EXPECT_EQ(Attempts(failed), 1);
    EXPECT_THAT(StoreLog(),
                ::testing::Contains("Advice retry FINALISE " + std::to_string(failed) + ": confirmed"));
}

// A store with a backlog of failed advices (a store that upgraded, say): a sale's retry sends a
// few of them, oldest first, and successive sales reach every one in turn; a restarted till goes
// on after the row tried last, not at the oldest again; past its time budget it starts no more.
TEST_F(AdviceRetryTest, ASaleSendsAFewOldAdvicesAndSuccessiveSalesReachEveryOne) {
    std::vector<std::int32_t> rows;
    for (int i = 1; i <= 10; ++i)
        rows.push_back(FailedAdvice(true, InvoiceNum + i)); // the provider hears no advice yet
    TRetrySettings settings = Budget(10, 0s);
    settings.AfterSaleRows = 4; // fewer than the list: the window must move on
    TAdviceRetry retry(settings);
    const auto attempts = [&] {
        std::vector<int> made;
        for (const std::int32_t row : rows)
            made.push_back(Attempts(row));
        return made;
    };
    ForgetAfterSaleRotation();
    EXPECT_EQ(retry.Run(At(TRetryTrigger::AfterSale)).Attempted, 3);
    EXPECT_EQ(attempts(), (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0})) << "the oldest first";
    ForgetAfterSaleRotation(); // the till restarted
    const TRetryResult second = retry.Run(At(TRetryTrigger::AfterSale));
    EXPECT_EQ(second.Attempted, 3);
    EXPECT_EQ(second.NotSent, 1) << "the window's fourth row is left for the next sale";
    EXPECT_EQ(attempts(), (std::vector<int>{1, 1, 1, 1, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(retry.Run(At(TRetryTrigger::AfterSale)).Attempted, 3);
    EXPECT_EQ(attempts(), (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 0})) << "the next sale goes on";

    // The provider answers again: sale after sale settles the rest, three advices at most each.
    ClearFaults();
    int sales = 0;
    while (std::ranges::any_of(rows, [&](std::int32_t row) { return StatusOf(row) != 2; }) && sales < 10) {
        const int before = Advices()._Count();
        const TRetryResult result = retry.Run(At(TRetryTrigger::AfterSale));
        ++sales;
        EXPECT_LE(result.Attempted, 3);
        EXPECT_EQ(result.Confirmed, result.Attempted);
        EXPECT_EQ(Advices()._Count() - before, result.Attempted) << "sale " << sales;
    }
    EXPECT_EQ(sales, 4) << "ten rows, three a sale";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(StatusOf(rows[i]), 2) << "row " << rows[i];
        EXPECT_EQ(Ledger()[static_cast<int>(i)]["state"].AsString(), "settled");
    }
    EXPECT_EQ(LedgerCheck(), "");

    // Past the time budget no further advice starts (the first always goes).
    const std::int32_t late = FailedAdvice(true, InvoiceNum + 20);
    const std::int32_t later = FailedAdvice(true, InvoiceNum + 21);
    settings.AfterSaleBudget = 0ms;
    const TRetryResult budgeted = TAdviceRetry(settings).Run(At(TRetryTrigger::AfterSale));
    EXPECT_EQ(budgeted.Attempted, 1);
    EXPECT_EQ(budgeted.NotSent, 1);
    EXPECT_EQ(Attempts(late) + Attempts(later), 1);
}

// The back office's retry of the whole list: told of every advice before it goes, it can be
// stopped between two, and says how many it left.
TEST_F(AdviceRetryTest, AWholeListRetryReportsProgressAndStopsWhenAsked) {
    std::vector<std::int32_t> rows;
    for (int i = 1; i <= 4; ++i)
        rows.push_back(FailedAdvice(true, InvoiceNum + i));
    ClearFaults();
    TAdviceRetry retry(Budget(3, 0s));
    std::vector<std::pair<int, int>> told;
    const TRetryResult stopped = retry.Run(At(TRetryTrigger::OnDemand), [&](int sent, int total) {
        told.emplace_back(sent, total);
        return sent < 2;
    });
    EXPECT_EQ(told, (std::vector<std::pair<int, int>>{{0, 4}, {1, 4}, {2, 4}}));
    EXPECT_TRUE(stopped.Stopped);
    EXPECT_EQ(stopped.Attempted, 2);
    EXPECT_EQ(stopped.NotSent, 2);
    EXPECT_EQ(StatusOf(rows[0]), 2);
    EXPECT_EQ(StatusOf(rows[2]), -2) << "not sent after the stop";
    EXPECT_EQ(Attempts(rows[2]), 0);

    told.clear();
    const TRetryResult rest = retry.Run(At(TRetryTrigger::OnDemand), [&](int sent, int total) {
        told.emplace_back(sent, total);
        return true;
    });
    EXPECT_FALSE(rest.Stopped);
    EXPECT_EQ(rest.Confirmed, 2);
    EXPECT_EQ(told, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}, {2, 2}}));
    EXPECT_EQ(LedgerCheck(), "");
}

// The held-funds screen's Retry All shows a progress bar whose Stop ends the run after the
// advice on the way; the message says what was left.
TEST_F(AdviceRetryTest, HeldFundsScreenRetryAllShowsProgressAndCanBeStopped) {
    for (int i = 1; i <= 3; ++i)
        FailedAdvice(true, InvoiceNum + i);
    ClearFaults();
    TfrmZumvoHeldFunds form;
    auto* grid = form.findChild<QTableWidget*>("grdHeldFunds");
    auto* retryAll = form.findChild<QPushButton*>("btnRetryAll");
    ASSERT_TRUE(grid && retryAll);
    ASSERT_EQ(grid->rowCount(), 3);
    std::vector<std::pair<int, int>> seen; // the bar's value and maximum, as the screen showed them
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* progress = form.findChild<QProgressDialog*>("dlgRetryProgress");
        if (!progress || (!seen.empty() && seen.back().first == progress->value()))
            return;
        seen.emplace_back(progress->value(), progress->maximum());
        if (progress->value() == 1)
            progress->cancel(); // the person presses Stop during the second advice's turn
    });
    watch.start();
    AnswerMessages({pallux::mbYes, pallux::mbOK});
    QTest::mouseClick(retryAll, Qt::LeftButton);
    watch.stop();
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}}));
    EXPECT_THAT(Messages(), ::testing::Contains(::testing::HasSubstr(
                                "1 advice(s) sent: 1 confirmed, 0 not confirmed; stopped, 2 not sent")));
    EXPECT_EQ(grid->rowCount(), 2) << "the list shows what is left";
}

// AdviceRetryAfterSale sets a sale's share: 1 sends one earlier advice a sale; 0 none, and the
// cash-up still sends them.
TEST_F(AdviceRetryTest, TheSettingsSetHowManyEarlierAdvicesASaleSends) {
    const std::int32_t first = FailedAdvice(true, InvoiceNum + 1);
    const std::int32_t second = FailedAdvice(true, InvoiceNum + 2);
    ClearFaults();
    std::string answer;
    WriteModuleSettings("AdviceRetryAttempts=3\nAdviceRetryIntervalSeconds=0\nAdviceRetryAfterSale=0\n");
    EXPECT_TRUE(NewEngine()->TransactionFinalise(Invoice(5.0, 1, InvoiceNum + 3), answer));
    EXPECT_EQ(Attempts(first) + Attempts(second), 0);
    WriteModuleSettings("AdviceRetryAttempts=3\nAdviceRetryIntervalSeconds=0\nAdviceRetryAfterSale=1\n");
    EXPECT_TRUE(NewEngine()->TransactionFinalise(Invoice(5.0, 1, InvoiceNum + 4), answer));
    EXPECT_EQ(Attempts(first) + Attempts(second), 1);
    WriteModuleSettings("AdviceRetryAttempts=3\nAdviceRetryIntervalSeconds=0\nAdviceRetryAfterSale=0\n");
    Raise("Pallux.Cashup.DriverCashup.Complete");
    EXPECT_EQ(StatusOf(first), 2);
    EXPECT_EQ(StatusOf(second), 2);
}

} // namespace zumvo::test
