// Money under faults the happy path never meets: a till stopped while its advices are out, a
// database that refuses a write, a provider whose answer is lost after it acted, the settings
// changed mid-sale. Each test ends with the ledger check (fixture TearDown).
#include "StatusFixture.h"
#include "VoucherEngineFixture.h"
#include "clsAdviceRetry.h"
#include "clsMoney.h"
#include "clsOutcomeUnknown.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace zumvo;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using zumvo::test::VoucherEngineTest;

namespace {

const std::string BeforePayment = "Pallux.Invoicing.Transaction.BeforePayment";
const std::string PaymentSuccess = "Pallux.Invoicing.Transaction.AfterPaymentSuccess";

// A connection of its own to the host's database file, as another process has.
class TOtherConnection {
public:
    explicit TOtherConnection(const std::string& file) {
        sqlite3_open(file.c_str(), &FDb);
        sqlite3_busy_timeout(FDb, 2000);
    }
    ~TOtherConnection() { sqlite3_close(FDb); }
    void Run(const std::string& sql) {
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(FDb, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
            << (error ? error : "");
        sqlite3_free(error);
    }
    // The first column of the first row as text; empty for none or NULL.
    std::string Value(const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        std::string out;
        if (sqlite3_prepare_v2(FDb, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
            out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        return out;
    }

private:
    sqlite3* FDb = nullptr;
};

} // namespace

// A till stopped while a FINALISE is out must leave a sale to be settled, never given back: the
// basket already carries its invoice, and the row says "failed to finalise" until the provider
// confirms. Looked at from another connection while the provider holds the answer back.
TEST_F(VoucherEngineTest, AStoppedTillLeavesItsCompletedSaleToBeSettled) {
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 12.5);
    const std::int32_t row = Rows()._Count();
    AddFault(R"({"fault": "delay", "ms": 1500, "request": "advise", "count": 1})");
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    std::atomic<bool> seen = false;
    std::string basketInvoice, status;
    std::thread watcher([&] {
        TOtherConnection other(host.DatabaseFile());
        for (int i = 0; i < 300 && !seen; ++i) {
            // The row is marked before the basket is tied: both are seen while the advice is out.
            status =
                other.Value("SELECT Status FROM ZumvoPaymentTransactions WHERE ID = " + std::to_string(row));
            basketInvoice = other.Value("SELECT InvoiceNum FROM ZumvoPaymentBasket WHERE ID = " +
                                        std::to_string(engine->BasketID()));
            seen = status == "-2" && !basketInvoice.empty();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    std::string answer;
    EXPECT_TRUE(engine->TransactionFinalise(Invoice(12.5), answer));
    watcher.join();
    EXPECT_TRUE(seen) << "while the FINALISE was out the row said " << status;
    EXPECT_EQ(basketInvoice, std::to_string(InvoiceNum))
        << "the basket carries its invoice before any advice";
    EXPECT_EQ(StatusOf(row), 2);
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "settled");
}

// A row is finalised only on its own confirmed answer: when the database refuses the mark that
// goes before one advice, no advice of the sale is sent and nothing claims the money settled.
TEST_F(VoucherEngineTest, AFinaliseThatCannotBeMarkedIsNotSent) {
    auto engine = NewEngine();
    ApplyCodes(*engine, {"DISC-5", "PAY-100"}, 20.05);
    TOtherConnection(host.DatabaseFile())
        .Run("CREATE TRIGGER refuse BEFORE UPDATE OF Status ON ZumvoPaymentTransactions WHEN NEW.Status = -2 "
             "AND NEW.ID = 1 BEGIN SELECT RAISE(ABORT, 'database is locked'); END");
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    const int before = Advices()._Count();
    std::string answer;
    EXPECT_TRUE(engine->TransactionFinalise(Invoice(20.05), answer));
    EXPECT_EQ(Advices()._Count(), before) << "a sale is settled whole, once marked and tied";
    EXPECT_THAT(Statuses(), ElementsAre(1, 1));
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "held");
    EXPECT_EQ(Ledger()[1]["state"].AsString(), "held");
    // A redeemed code in an invoiced basket would pass for a driver's sale awaiting its cash-up,
    // and a settled code in a basket without invoice could not be found by an override: the
    // basket stays without invoice, and the retry of the next day finds the stored sale.
    TOtherConnection other(host.DatabaseFile());
    const std::string basket = std::to_string(engine->BasketID());
    EXPECT_EQ(other.Value("SELECT InvoiceNum FROM ZumvoPaymentBasket WHERE ID = " + basket), "");
    const std::string till = other.Value("SELECT TillID FROM ZumvoPaymentBasket WHERE ID = " + basket);
    other.Run(
        "DROP TRIGGER refuse; INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC ) VALUES ( 5001, " +
        till + ", 15.05 ); INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 15.05 )");
    TRetryRequest nextDay;
    nextDay.Till = std::stoi(till);
    nextDay.Now = TClock::now() + std::chrono::hours(24);
    TAdviceRetry(TRetrySettings{}).Run(nextDay);
    EXPECT_THAT(Statuses(), ElementsAre(2, 2));
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "settled");
    EXPECT_EQ(other.Value("SELECT InvoiceNum FROM ZumvoPaymentBasket WHERE ID = " + basket), "5001");
}

// The same for a reversal when the invoice changes: a code the database will not mark "failed to
// cancel" is not given back. It goes on paying its part, and is settled with the sale. Before, its
// REVERSE went out; carried out but answered with an error, it left the code marked accepted and
// counted as paying with money the provider had released.
TEST_F(VoucherEngineTest, AReversalThatCannotBeMarkedIsNotSent) {
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 6.10);
    AddFault(R"({"fault": "http500", "request": "advise", "process": true})");
    TOtherConnection other(host.DatabaseFile());
    other.Run(
        "CREATE TRIGGER refuse BEFORE UPDATE OF Status ON ZumvoPaymentTransactions WHEN NEW.Status = -3 "
        "BEGIN SELECT RAISE(ABORT, 'database is locked'); END");
    const int before = Advices()._Count();
    std::string answer;
    EXPECT_TRUE(engine->DoVoucher(Invoice(7.11, 2), answer, false)); // a line added
    EXPECT_EQ(Advices()._Count(), before) << "nothing sent that could not be recorded";
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "held");
    EXPECT_THAT(Statuses(), ElementsAre(1));
    EXPECT_EQ(TJSONDocument::Parse(answer)["VoucherAmount"].AsFloat(), 6.10) << "still paying its part";
    other.Run("DROP TRIGGER refuse");
    ClearFaults();
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    EXPECT_TRUE(engine->TransactionFinalise(Invoice(7.11, 2), answer));
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "settled");
    EXPECT_THAT(Statuses(), ElementsAre(2));
}

// Only redeemed rows are finalised: a row given back, one whose reversal failed and one that was
// never accepted are left alone, and a finalised one is not settled twice.
TEST_F(VoucherEngineTest, OnlyRedeemedRowsOfTheBasketAreFinalised) {
    auto engine = NewEngine();
    SeedInvoice(*engine, {"PAY-100", "PAY-100", "PAY-100", "PAY-100"}, 400.0);
    test::PutStatus(2, TTransactionStatus::CancelFailed); // a reversal the provider refused
    SendAdvice(3, "FINALISE");
    test::PutStatus(3, TTransactionStatus::Finalised);
    const std::int32_t started = store->AddTransactionToBasket(engine->BasketID()); // never accepted
    engine->PopulateForInvoice(InvoiceNum, "{}");
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    const int before = Advices()._Count();
    std::string answer;
    EXPECT_TRUE(engine->TransactionFinalise(Invoice(400.0), answer));
    const auto advices = Advices();
    ASSERT_EQ(advices._Count() - before, 2);
    EXPECT_EQ(advices[before]["trxId"].AsString(), "12-1");
    EXPECT_EQ(advices[before + 1]["trxId"].AsString(), "12-4");
    EXPECT_THAT(Statuses(), ElementsAre(2, -3, 2, 2, 0));
    EXPECT_EQ(StatusOf(started), 0);
}

// The settings name another provider store mid-sale: the code accepted under the first store is
// settled under it (another store refuses it for ever).
TEST_F(VoucherEngineTest, ACodeIsSettledUnderTheStoreItWasAcceptedIn) {
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 12.35);
    WriteModuleSettings("AdviceRetryAttempts=0\n", 18);
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    std::string answer;
    EXPECT_TRUE(engine->TransactionFinalise(Invoice(12.35), answer));
    const auto ledger = Ledger();
    EXPECT_EQ(ledger[0]["storeId"].AsString(), "17");
    EXPECT_EQ(ledger[0]["state"].AsString(), "settled");
    EXPECT_EQ(Statuses().back(), 2);
}

// A FINALISE the provider carried out but whose answer never came, then the invoice overridden:
// the reversal is refused, a FINALISE again finds the money settled, the cashier is told it cannot
// be given back by voucher, and the held-funds list shows the refund owed.
TEST_F(VoucherEngineTest, OverrideOfASaleSettledUnseenListsTheRefundOwed) {
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 12.05);
    AddFault(R"({"fault": "delay", "ms": 6000, "request": "advise", "count": 1})"); // past the client's 5 s
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    std::string answer;
    EXPECT_TRUE(engine->TransactionFinalise(Invoice(12.05), answer));
    ASSERT_EQ(Statuses().back(), -2);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // the provider settles meanwhile
    ASSERT_EQ(Ledger()[0]["state"].AsString(), "settled");

    host.Context->Transcript.Clear();
    NewEngine()->OverringInvoice(0, InvoiceNum);
    EXPECT_THAT(Messages(), Contains(HasSubstr("had already been settled")));
    EXPECT_EQ(Statuses().back(), 2);
    const auto held = TAdviceRetry(TRetrySettings{}).HeldFunds(TRetryRequest{});
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].Kind, THeldKind::RefundOwed);
    EXPECT_EQ(HeldKindText(held[0].Kind), std::string("Settled: refund the customer another way"));
    EXPECT_EQ(TAdviceRetry(TRetrySettings{}).Run(TRetryRequest{}).Attempted, 0) << "nothing a retry can do";
}

// An overridden invoice whose codes are partly settled: the settled one is listed as a refund
// owed, the one still held is given back rather than left held with nothing listing it.
TEST_F(VoucherEngineTest, OverrideOfAPartlySettledSaleGivesBackWhatIsStillHeld) {
    auto engine = NewEngine();
    SeedInvoice(*engine, {"PAY-100", "SPLIT-50"}, 150.01);
    SendAdvice(1, "FINALISE");
    test::PutStatus(1, TTransactionStatus::Finalised);
    NewEngine()->OverringInvoice(0, InvoiceNum);
    EXPECT_THAT(Statuses(), ElementsAre(2, -1));
    EXPECT_EQ(Ledger()[1]["state"].AsString(), "released");
    const auto held = TAdviceRetry(TRetrySettings{}).HeldFunds(TRetryRequest{});
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].ID, 1);
    EXPECT_EQ(held[0].Kind, THeldKind::RefundOwed);
}

// The same override while another process holds the database past the busy time-out: the
// "refund owed" mark is refused. The cash-up and the back office find the host's overridden
// invoice and mark its settled code, so the list shows it.
TEST_F(VoucherEngineTest, OverrideWhoseRefundMarkIsRefusedIsListedByTheBackOffice) {
    auto engine = NewEngine();
    SeedInvoice(*engine, {"PAY-100"}, 40.65);
    SendAdvice(1, "FINALISE");
    test::PutStatus(1, TTransactionStatus::Finalised);
    TOtherConnection other(host.DatabaseFile());
    other.Run("CREATE TRIGGER refuse BEFORE UPDATE OF RefundOwed ON ZumvoPaymentTransactions BEGIN SELECT "
              "RAISE(ABORT, 'database is locked'); END");
    NewEngine()->OverringInvoice(0, InvoiceNum);
    EXPECT_EQ(other.Value("SELECT RefundOwed FROM ZumvoPaymentTransactions WHERE ID = 1"), "0");
    other.Run(
        "DROP TRIGGER refuse; INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC, STATUS ) VALUES ( " +
        std::to_string(InvoiceNum) + ", 3, 40.65, 1 )"); // the host overrides it
    EXPECT_TRUE(TAdviceRetry(TRetrySettings{}).HeldFunds(TRetryRequest{}).empty())
        << "after a sale the host's invoices are not read";
    TRetryRequest backOffice;
    backOffice.Trigger = TRetryTrigger::OnDemand;
    const auto held = TAdviceRetry(TRetrySettings{}).HeldFunds(backOffice);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].ID, 1);
    EXPECT_EQ(held[0].Kind, THeldKind::RefundOwed);
    EXPECT_EQ(other.Value("SELECT RefundOwed FROM ZumvoPaymentTransactions WHERE ID = 1"), "1");
    EXPECT_EQ(TAdviceRetry(TRetrySettings{}).HeldFunds(TRetryRequest{}).size(), 1u)
        << "listed after every sale now";
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "settled");
}

// The same for a driver's invoice whose codes are still held: when the override cannot record
// their reversal, the back office gives them back.
TEST_F(VoucherEngineTest, OverrideWhoseReversalIsRefusedIsGivenBackByTheBackOffice) {
    auto engine = NewEngine();
    SeedInvoice(*engine, {"PAY-100", "SPLIT-50"}, 150.01);
    TOtherConnection other(host.DatabaseFile());
    other.Run("CREATE TRIGGER refuse BEFORE UPDATE OF Status ON ZumvoPaymentTransactions BEGIN SELECT "
              "RAISE(ABORT, 'database is locked'); END");
    NewEngine()->OverringInvoice(0, InvoiceNum);
    EXPECT_THAT(Statuses(), ElementsAre(1, 1));
    other.Run(
        "DROP TRIGGER refuse; INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC, STATUS ) VALUES ( " +
        std::to_string(InvoiceNum) + ", 3, 150.01, 1 )");
    TAdviceRetry(TRetrySettings{}).Run(TRetryRequest{});
    EXPECT_THAT(Statuses(), ElementsAre(1, 1)) << "after a sale the host's invoices are not read";
    TRetryRequest backOffice;
    backOffice.Trigger = TRetryTrigger::OnDemand;
    EXPECT_EQ(TAdviceRetry(TRetrySettings{}).Run(backOffice).Confirmed, 2);
    EXPECT_THAT(Statuses(), ElementsAre(-1, -1));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(Ledger()[i]["state"].AsString(), "released") << i;
    EXPECT_TRUE(TAdviceRetry(TRetrySettings{}).HeldFunds(backOffice).empty());
}

// The same code applied twice is re-applied once, and the cashier is told.
TEST_F(VoucherEngineTest, ACodeAppliedTwiceIsReappliedOnceAndTheCashierTold) {
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100", "PAY-100"}, 150.0);
    std::string answer;
    EXPECT_TRUE(engine->DoVoucher(Invoice(150.0, 2), answer, false));
    EXPECT_THAT(Messages(),
                Contains(HasSubstr("Zumvo PAY-100 was applied more than once and is now applied once.")));
    EXPECT_EQ(TJSONDocument::Parse(answer)["VoucherAmount"].AsFloat(), 100.0);
}

// A completed invoice whose code is settled, brought back and used again: the Voucher button
// reports what it carries, and a recalculation keeps the settled code (its money is taken) in the
// amount without sending it again or listing it as anything owed.
TEST_F(VoucherEngineTest, ASettledInvoiceBroughtBackKeepsItsSettledCode) {
    auto seeded = NewEngine();
    SeedInvoice(*seeded, {"PAY-100"}, 50.01);
    SendAdvice(1, "FINALISE");
    test::PutStatus(1, TTransactionStatus::Finalised);
    const std::string carried =
        R"({"VoucherCodes":["PAY-100"],"VoucherAmount":50.01,"VoucherType":"Payment","PaymentType":"Zumvo",)"
        R"("PaymentAmount":50.01,"Result":true})";
    auto engine = NewEngine();
    engine->PopulateForInvoice(InvoiceNum, carried);
    std::string answer;
    EXPECT_TRUE(engine->DoVoucher(Invoice(50.01), answer, true));
    EXPECT_THAT(Messages(), Contains(HasSubstr("1 Zumvo voucher(s) for")));

    const int sent = Ledger()._Count();
    EXPECT_TRUE(engine->DoVoucher(Invoice(60.01, 2), answer, false));
    EXPECT_EQ(Ledger()._Count(), sent) << "nothing new taken for a settled code";
    EXPECT_EQ(TJSONDocument::Parse(answer)["VoucherAmount"].AsFloat(), 50.01);
    EXPECT_THAT(Statuses(), ElementsAre(2));
    EXPECT_EQ(host.Value("SELECT [RefundOwed] FROM [ZumvoPaymentTransactions]"), "0");
    EXPECT_TRUE(TAdviceRetry(TRetrySettings{}).HeldFunds(TRetryRequest{}).empty());
}

// A sale that never reached an invoice is listed whole the next day: its accepted code and the
// row made for a code that was never sent (the till stopped before), each with what it needs.
TEST_F(VoucherEngineTest, AnAbandonedSaleIsListedWithItsStartedRows) {
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 25.01);
    const std::int32_t started = store->AddTransactionToBasket(engine->BasketID());
    TRetryRequest nextDay;
    nextDay.Till = 3;
    nextDay.Now = TClock::now() + std::chrono::hours(24);
    const auto held = TAdviceRetry(TRetrySettings{}).HeldFunds(nextDay);
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].Kind, THeldKind::Abandoned);
    EXPECT_EQ(held[0].Code, "PAY-100");
    EXPECT_DOUBLE_EQ(held[0].Amount, 25.01);
    EXPECT_EQ(held[1].ID, started);
    EXPECT_EQ(held[1].Kind, THeldKind::Abandoned);
    EXPECT_EQ(TAdviceRetry(TRetrySettings{}).Run(nextDay).Confirmed, 2);
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "released");
}

// The back office gives back the first code of a sale while its cashier is taking a second one
// (the back office marked and reversed it). The cashier's Done must not write it back to paid:
// the code pays nothing, the cashier is told, and the sale settles only what is still held.
TEST_F(VoucherEngineTest, ACodeGivenBackWhileItsSaleIsOpenIsNotCounted) {
    auto engine = NewEngine();
    TOtherConnection other(host.DatabaseFile());
    other.Run("CREATE TRIGGER giveback AFTER INSERT ON ZumvoPaymentTransactions WHEN NEW.ID = 2 BEGIN UPDATE "
              "ZumvoPaymentTransactions SET Status = -1 WHERE ID = 1; END");
    const TJSONDocument answer = ApplyCodes(*engine, {"PAY-100", "DISC-5"}, 120.05);
    SendAdvice(1, "REVERSE"); // what the back office sent
    EXPECT_DOUBLE_EQ(answer["VoucherAmount"].AsFloat(), 5.00) << answer.ToJSON();
    EXPECT_THAT(Messages(), Contains(HasSubstr("PAY-100 could not be kept for this sale")));
    EXPECT_THAT(Statuses(), ElementsAre(-1, 1));
    other.Run("DROP TRIGGER giveback");
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    std::string done;
    EXPECT_TRUE(engine->TransactionFinalise(Invoice(120.05), done));
    EXPECT_THAT(Statuses(), ElementsAre(-1, 2));
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "released");
    EXPECT_EQ(Ledger()[1]["state"].AsString(), "settled");
}

// A request still out protects its whole sale: however short the configured age, the back office
// leaves the sale's accepted codes alone until the till has its answer.
TEST_F(VoucherEngineTest, ASaleWithARequestStillOutIsNotAbandoned) {
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 12.51);
    const std::int32_t waiting = store->AddTransactionToBasket(engine->BasketID());
    store->SaveOutcomeUnknown(waiting,
                              OutcomeUnknownNote(AwaitingAnswerReason, "12-1", "12-2", "PAY-9", 1251, 17));
    TRetrySettings now;
    now.AbandonedAfter = std::chrono::minutes(0);
    TRetryRequest backOffice;
    backOffice.Trigger = TRetryTrigger::OnDemand;
    for (const THeldRow& row : TAdviceRetry(now).HeldFunds(backOffice))
        EXPECT_EQ(row.Kind, THeldKind::InProgress) << "row " << row.ID;
    EXPECT_EQ(TAdviceRetry(now).Run(backOffice).Attempted, 0);
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "held");
    // The request answered (refused: it holds nothing), the sale is abandoned once idle past the
    // least time the back office gives a sale between its codes and its payment.
    store->SaveOutcomeUnknown(waiting, {});
    EXPECT_EQ(TAdviceRetry(now).Run(backOffice).Attempted, 0);
    backOffice.Now = TClock::now() + OpenSaleWindow + std::chrono::minutes(1);
    EXPECT_EQ(TAdviceRetry(now).Run(backOffice).Confirmed, 2);
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "released");
}

// The tie of the basket to its invoice is what an override finds the codes by: when the database
// refuses it, no FINALISE goes out and the codes wait as they were, until the retry finds the
// stored sale and ties it.
TEST_F(VoucherEngineTest, ASaleWhoseTieIsRefusedIsSettledOnlyOnceTied) {
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 12.51);
    TOtherConnection other(host.DatabaseFile());
    other.Run("CREATE TRIGGER refuse BEFORE UPDATE OF InvoiceNum ON ZumvoPaymentBasket BEGIN SELECT "
              "RAISE(ABORT, 'database is locked'); END");
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    const int before = Advices()._Count();
    std::string answer;
    EXPECT_TRUE(engine->TransactionFinalise(Invoice(12.51), answer));
    EXPECT_EQ(Advices()._Count(), before) << "no FINALISE for a sale its invoice cannot find";
    EXPECT_THAT(Statuses(), ElementsAre(1));
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "held");
    const std::string basket = std::to_string(engine->BasketID());
    const std::string till = other.Value("SELECT TillID FROM ZumvoPaymentBasket WHERE ID = " + basket);
    other.Run(
        "DROP TRIGGER refuse; INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC ) VALUES ( 5001, " +
        till + ", 12.51 ); INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 12.51 )");
    TRetryRequest nextDay;
    nextDay.Till = std::stoi(till);
    nextDay.Now = TClock::now() + std::chrono::hours(24);
    TAdviceRetry(TRetrySettings{}).Run(nextDay);
    EXPECT_THAT(Statuses(), ElementsAre(2));
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "settled");
    EXPECT_EQ(other.Value("SELECT InvoiceNum FROM ZumvoPaymentBasket WHERE ID = " + basket), "5001");
}

// An answer for more than was asked is given back at once, its row marked first. When the mark is
// refused nothing is sent; the code holds money but pays nothing, and once its sale is over (paid
// another way) the held-funds list shows it and the retry gives it back.
TEST_F(VoucherEngineTest, AnInflatedAnswerWhoseMarkIsRefusedIsListedOnceItsSaleIsOver) {
    auto engine = NewEngine();
    TOtherConnection other(host.DatabaseFile());
    other.Run(
        "CREATE TRIGGER refuse BEFORE UPDATE OF Status ON ZumvoPaymentTransactions WHEN NEW.Status = -3 "
        "BEGIN SELECT RAISE(ABORT, 'database is locked'); END");
    AddFault(R"({"fault": "inflated", "inflate": "both", "cents": 100, "count": 1})");
    OnNextScreen({{test::TScreenStep::Type, "txtVoucherCode", "PAY-100"},
                  {test::TScreenStep::Click, "btnCheck", ""},
                  {test::TScreenStep::Click, "btnCancel", ""}});
    std::string answer;
    EXPECT_FALSE(engine->DoVoucher(Invoice(12.51), answer, true));
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "held");
    EXPECT_THAT(Statuses(), ElementsAre(0));
    other.Run("DROP TRIGGER refuse");
    // Paid in cash: the basket is tied to the invoice.
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    EXPECT_TRUE(engine->TransactionFinalise(Invoice(12.51), answer));
    TRetryRequest backOffice;
    backOffice.Trigger = TRetryTrigger::OnDemand;
    const auto held = TAdviceRetry(TRetrySettings{}).HeldFunds(backOffice);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].Kind, THeldKind::NotKept);
    EXPECT_EQ(TAdviceRetry(TRetrySettings{}).Run(backOffice).Confirmed, 1);
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "released");
    EXPECT_THAT(Statuses(), ElementsAre(-1));
}

// A line taken off while the database refuses the give-back's mark: the code cannot be given
// back, and kept it would pay the earlier 13.51 of a 12.50 invoice. It pays nothing until it is
// given back: at the next payment when the database is free again, or, still refused, never
// settled with the sale but left for the retry to give back.
TEST_F(VoucherEngineTest, ACodeThatCannotBeGivenBackForASmallerTotalPaysNothing) {
    for (const bool lockedUntilTheEnd : {false, true}) {
        SCOPED_TRACE(lockedUntilTheEnd ? "locked until the sale ends" : "free again at the payment");
        const int first = Ledger()._Count();
        auto engine = NewEngine();
        ApplyCodes(*engine, {"PAY-100"}, 13.51);
        TOtherConnection other(host.DatabaseFile());
        other.Run(
            "CREATE TRIGGER refuse BEFORE UPDATE OF Status ON ZumvoPaymentTransactions WHEN NEW.Status = "
            "-3 BEGIN SELECT RAISE(ABORT, 'database is locked'); END");
        std::string answer;
        EXPECT_FALSE(engine->DoVoucher(Invoice(12.50, 2), answer, false));
        EXPECT_FALSE(TJSONDocument::Parse(answer)["Result"].AsBoolean(true)) << answer;
        EXPECT_THAT(Messages(), Contains(HasSubstr("pay nothing for this invoice")));
        EXPECT_EQ(Ledger()[first]["state"].AsString(), "held");
        if (!lockedUntilTheEnd)
            other.Run("DROP TRIGGER refuse");
        Raise(BeforePayment);
        Raise(PaymentSuccess);
        EXPECT_TRUE(engine->TransactionFinalise(Invoice(12.50, 2), answer));
        const std::string basket = std::to_string(engine->BasketID());
        if (lockedUntilTheEnd) {
            EXPECT_EQ(Ledger()[first]["state"].AsString(), "held")
                << "never settled with the smaller invoice";
            EXPECT_EQ(other.Value("SELECT InvoiceNum FROM ZumvoPaymentBasket WHERE ID = " + basket), "");
            other.Run("DROP TRIGGER refuse");
            TRetryRequest nextDay;
            nextDay.Till =
                std::stoi(other.Value("SELECT TillID FROM ZumvoPaymentBasket WHERE ID = " + basket));
            nextDay.Now = TClock::now() + std::chrono::hours(24);
            TAdviceRetry(TRetrySettings{}).Run(nextDay);
        }
        EXPECT_EQ(Ledger()[first]["state"].AsString(), "released");
        EXPECT_EQ(Ledger()._Count(), first + 1) << "nothing sent again for the smaller total";
    }
}

// Whatever the host completes, the module never settles more than the invoice: codes that would
// settle 13.51 of an invoice the host completed for 12.51 are left for the retry to give back.
TEST_F(VoucherEngineTest, NoSaleIsSettledForMoreThanItsInvoice) {
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 13.51);
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    const int before = Advices()._Count();
    std::string answer;
    EXPECT_TRUE(engine->TransactionFinalise(Invoice(12.51), answer));
    EXPECT_EQ(Advices()._Count(), before);
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "held");
    TRetryRequest nextDay;
    nextDay.Till = std::stoi(host.Value("SELECT [TillID] FROM [ZumvoPaymentBasket] WHERE [ID] = " +
                                        std::to_string(engine->BasketID())));
    nextDay.Now = TClock::now() + std::chrono::hours(24);
    TAdviceRetry(TRetrySettings{}).Run(nextDay);
    EXPECT_EQ(Ledger()[0]["state"].AsString(), "released");
}

namespace {

// A till stopped after the host stored its invoice and before the module tied the basket to it
// (killed, or the database locked by another process just then): what the host stored, and what
// the retry of the next day must make of the sale's code.
struct TStoppedSale {
    const char* Name;
    const char* Stored;  // the host's invoice rows, "" for none; {till} is the basket's till
    const char* State;   // the code at the provider afterwards
    int Status;          // its row
    const char* Invoice; // the basket's invoice afterwards, "" for none
};

void PrintTo(const TStoppedSale& c, std::ostream* os) {
    *os << c.Name;
}

class StoppedSaleTest : public VoucherEngineTest, public ::testing::WithParamInterface<TStoppedSale> {};

std::string WithTill(std::string sql, const std::string& till) {
    for (std::size_t at = sql.find("{till}"); at != std::string::npos; at = sql.find("{till}"))
        sql.replace(at, 6, till);
    return sql;
}

} // namespace

TEST_P(StoppedSaleTest, TheRetryFindsTheSaleByItsInvoice) {
    const TStoppedSale& c = GetParam();
    auto engine = NewEngine();
    ApplyCodes(*engine, {"PAY-100"}, 12.51);
    Raise(BeforePayment);
    Raise(PaymentSuccess);
    TOtherConnection other(host.DatabaseFile());
    const std::string basket = std::to_string(engine->BasketID());
    const std::string till = other.Value("SELECT TillID FROM ZumvoPaymentBasket WHERE ID = " + basket);
    other.Run(WithTill(c.Stored, till));
    TRetryRequest nextDay;
    nextDay.Till = std::stoi(till);
    nextDay.Now = TClock::now() + std::chrono::hours(24);
    TAdviceRetry(TRetrySettings{}).Run(nextDay);
    EXPECT_EQ(Ledger()[0]["state"].AsString(), c.State);
    EXPECT_EQ(Statuses(), std::vector<int>{c.Status});
    EXPECT_EQ(other.Value("SELECT InvoiceNum FROM ZumvoPaymentBasket WHERE ID = " + basket), c.Invoice);
    EXPECT_TRUE(TAdviceRetry(TRetrySettings{}).HeldFunds(nextDay).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Money, StoppedSaleTest,
    ::testing::Values(
        TStoppedSale{
            "Paid",
            "INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC ) VALUES ( 5001, {till}, 12.51 ); "
            "INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 12.51 )",
            "settled", 2, "5001"},
        TStoppedSale{
            "PaidWithCash",
            "INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC ) VALUES ( 5001, {till}, 20.05 ); "
            "INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 12.51 ), ( 5001, 'Cash', 7.54 )",
            "settled", 2, "5001"},
        // A driver's invoice: paid at the driver cash-up, which settles the code.
        TStoppedSale{
            "NotYetPaid",
            "INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC ) VALUES ( 5001, {till}, 20.05 ); "
            "INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 12.51 )",
            "held", 1, "5001"},
        // The database took the rows' invoice number but not the basket's (locked in between).
        TStoppedSale{
            "OnlyTheRowsTied",
            "INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC ) VALUES ( 5001, {till}, 20.05 ); "
            "INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 12.51 ); "
            "UPDATE ZumvoPaymentTransactions SET InvoiceNum = 5001",
            "held", 1, "5001"},
        TStoppedSale{"NeverStored", "", "released", -1, ""},
        // Each look-up condition on its own: the invoice records the Zumvo payment the codes
        // settle, so that only the condition named rejects it.
        TStoppedSale{
            "StoredOnAnotherTill",
            "INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC ) VALUES ( 5001, {till} + 1, 12.51 ); "
            "INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 12.51 )",
            "released", -1, ""},
        TStoppedSale{
            "ClaimedByAnotherBasket",
            "INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC ) VALUES ( 5001, {till}, 12.51 ); "
            "INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 12.51 ); "
            "INSERT INTO ZumvoPaymentBasket ( Timestamp_Created, InvoiceNum, TillID ) VALUES ( "
            "CURRENT_TIMESTAMP, 5001, {till} )",
            "released", -1, ""},
        TStoppedSale{
            "ZumvoPaymentDiffers",
            "INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC ) VALUES ( 5001, {till}, 12.51 ); "
            "INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 12.50 ), ( 5001, 'Cash', 0.01 )",
            "released", -1, ""},
        // Recalled and overridden before the retry found it: its codes are given back, not settled.
        TStoppedSale{
            "Overridden",
            "INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC, STATUS ) VALUES ( 5001, {till}, 12.51, 1 ); "
            "INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 12.51 )",
            "released", -1, "5001"},
        // The sale ended without an invoice and the till gave its number to the next sale: one
        // without codes, or one whose codes have a basket of their own.
        TStoppedSale{
            "NumberGivenToASaleWithoutCodes",
            "INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC ) VALUES ( 5001, {till}, 12.51 ); "
            "INSERT INTO InvoicesPayment VALUES ( 5001, 'Cash', 12.51 )",
            "released", -1, ""},
        // The next sale of the till, given the same number, could not record it (nor tie its
        // basket): its invoice was stored after that sale's basket was opened.
        TStoppedSale{
            "NumberGivenAgainUnrecorded",
            "INSERT INTO ZumvoPaymentBasket ( Timestamp_Created, TillID ) VALUES ( CURRENT_TIMESTAMP, {till} ); "
            "INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC, DATE ) VALUES ( 5001, {till}, 12.51, "
            "datetime( 'now', '+5 seconds' ) ); INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 12.51 )",
            "released", -1, ""},
        TStoppedSale{
            "NumberGivenAgain",
            "INSERT INTO INVOICES ( InvoiceNum, fkTillID, AFTERDISC ) VALUES ( 5001, {till}, 12.51 ); "
            "INSERT INTO InvoicesPayment VALUES ( 5001, 'Zumvo', 12.51 ); "
            "INSERT INTO ZumvoPaymentBasket ( Timestamp_Created, TillID, SaleInvoiceNum ) VALUES ( "
            "CURRENT_TIMESTAMP, {till}, 5001 )",
            "released", -1, ""}),
    [](const auto& info) { return std::string(info.param.Name); });
