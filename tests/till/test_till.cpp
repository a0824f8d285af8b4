// The till's sale actions against fakes of the module's extension points: what it asks of the
// module, in which order, and what it writes to the host database.
#include "TTillWindow.h"
#include "TillTestHost.h"

#include <QPushButton>
#include <QTableWidget>
#include <algorithm>

using namespace refhost;
using till_test::TTillTestHost;

namespace {

const std::string PaymentDiscount =
    R"({"VoucherCodes":["A"],"VoucherAmount":12,"VoucherType":"PaymentDiscount","PaymentType":"Zumvo",)"
    R"("PaymentAmount":8,"DiscountAmount":4,"DiscountIsPercent":false,"DiscountOverride":false,)"
    R"("DiscountCode":"ZUMVO-DISC","Result":true})";

// Positions of the calls in the journal, which must be increasing.
void ExpectInOrder(const till_test::TJournal& journal, const std::vector<std::string>& prefixes) {
    std::size_t at = 0;
    for (const auto& p : prefixes) {
        const auto it = std::find_if(journal.begin() + static_cast<std::ptrdiff_t>(at), journal.end(),
                                     [&](const std::string& j) { return j.starts_with(p); });
        ASSERT_NE(it, journal.end()) << "\"" << p << "\" missing (or out of order) in the journal";
        at = static_cast<std::size_t>(it - journal.begin()) + 1;
    }
}

} // namespace

TEST(TillTest, PaidSaleRunsThePaymentRoundThenFinalisesWritesAndPrints) {
    TTillTestHost host;
    host.Answers.push_back(PaymentDiscount);
    auto& till = *host.Till;
    till.AddLine({"BREAD", "Bread", 1000, 2});
    EXPECT_TRUE(till.Voucher());
    EXPECT_EQ(till.Invoice().AfterDisc(), 1600);
    EXPECT_EQ(till.Invoice().Outstanding(), 800);
    EXPECT_TRUE(till.Pay("cash"));
    till.Complete();

    ExpectInOrder(host.Journal,
                  {"DoVoucher true {\"AfterDisc\":20.0", "event Pallux.Invoicing.Transaction.BeforePayment",
                   "event Pallux.Invoicing.Transaction.AfterPaymentSuccess",
                   "TransactionFinalise {\"AfterDisc\":16.0", "Initialise {\"AfterDisc\":16.0", "Reset"});
    EXPECT_NE(host.Journal.front().find("\"InvoiceNum\":1,\"InvID\":1"), std::string::npos)
        << host.Journal.front();
    EXPECT_EQ(host.Rows("SELECT [InvoiceNum], [fkTillID], [STATUS], [AFTERDISC], [SHIFTNUM] FROM [INVOICES]"),
              std::vector<std::string>{"1|3|0|16|7"});
    EXPECT_EQ(host.Rows("SELECT [PaymentType], [Amount] FROM [InvoicesPayment] ORDER BY [PaymentType]"),
              (std::vector<std::string>{"Cash|8", "Zumvo|8"}));
    EXPECT_EQ(host.Rows("SELECT [SHIFTNUM], [POSTED], [TILLID] FROM [TILLPOST]"),
              std::vector<std::string>{"7|0|3"});
    std::string receipt;
    for (const auto& l : till.LastReceipt())
        receipt += l + "\n";
    EXPECT_NE(receipt.find("Discount ZUMVO-DISC (Zumvo voucher)"), std::string::npos) << receipt;
    EXPECT_NE(receipt.find("-4.00\nTOTAL"), std::string::npos) << receipt;
    EXPECT_NE(receipt.find("\n**** Fake block ****\nfor {"), std::string::npos) << receipt;
    EXPECT_EQ(till.Invoice().InvoiceNum(), 2);
    EXPECT_TRUE(till.Invoice().Empty());
}

TEST(TillTest, SaleFullyPaidByVouchersStillRaisesASuccessfulPaymentBeforeFinalising) {
    TTillTestHost host;
    host.Answers.push_back(
        R"({"VoucherCodes":["P"],"VoucherAmount":5,"VoucherType":"Payment","PaymentType":"Zumvo","PaymentAmount":5,"Result":true})");
    host.Till->AddLine({"X", "", 500, 1});
    host.Till->Voucher();
    host.Till->Complete();
    ExpectInOrder(host.Journal,
                  {"event Pallux.Invoicing.Transaction.BeforePayment",
                   "event Pallux.Invoicing.Transaction.AfterPaymentSuccess", "TransactionFinalise"});
}

TEST(TillTest, LineChangesWithVouchersAppliedRecalculateAndTheNewAnswerReplacesTheOld) {
    TTillTestHost host;
    host.Answers = {
        PaymentDiscount,
        R"({"VoucherCodes":["A"],"VoucherAmount":6,"VoucherType":"Payment","PaymentType":"Zumvo","PaymentAmount":6,"Result":true})",
        R"({"VoucherCodes":[],"VoucherAmount":0,"Result":false})"};
    auto& till = *host.Till;
    till.AddLine({"A", "", 1000, 1});
    EXPECT_TRUE(host.Calls("DoVoucher false").empty()) << "no vouchers yet: nothing to recalculate";
    till.AddLine({"B", "", 1000, 1});
    till.Voucher();
    till.AddLine({"C", "", 500, 1});
    ASSERT_EQ(host.Calls("DoVoucher false").size(), 1u);
    EXPECT_NE(host.Calls("DoVoucher false")[0].find("\"AfterDisc\":21.0"), std::string::npos)
        << "the new total after the earlier Zumvo discount: " << host.Calls("DoVoucher false")[0];
    EXPECT_EQ(till.Invoice().AfterDisc(), 2500);
    EXPECT_EQ(till.Invoice().Paid(), 600);
    till.RemoveLine("C");
    EXPECT_EQ(host.Calls("DoVoucher false").size(), 2u);
    EXPECT_FALSE(till.Invoice().HasVouchers()) << "no codes left after the recalculation";
    EXPECT_EQ(till.Invoice().Paid(), 0);
    till.AddLine({"D", "", 100, 1});
    EXPECT_EQ(host.Calls("DoVoucher false").size(), 2u);
}

TEST(TillTest, CancelInvoiceCancelsTheVouchersThenResetsAndWritesNothing) {
    TTillTestHost host;
    host.Answers.push_back(PaymentDiscount);
    host.Till->AddLine({"A", "", 2000, 1});
    host.Till->Voucher();
    host.Till->CancelInvoice();
    ExpectInOrder(host.Journal, {"CancelVoucher {\"AfterDisc\":16.0", "Reset"});
    EXPECT_TRUE(host.Rows("SELECT * FROM [INVOICES]").empty());
    EXPECT_EQ(host.Till->Invoice().InvoiceNum(), 1);
    EXPECT_TRUE(host.Till->Invoice().Empty());
}

TEST(TillTest, RecallPopulatesFromTheStoredAnswerAndOverrideReversesOnce) {
    TTillTestHost host;
    host.Answers.push_back(PaymentDiscount);
    auto& till = *host.Till;
    till.AddLine({"A", "Apple", 2000, 1});
    till.Voucher();
    till.Pay("Cash");
    till.Complete();
    till.Recall(1);
    EXPECT_EQ(host.Calls("PopulateForInvoice"),
              std::vector<std::string>{"PopulateForInvoice 1 " + PaymentDiscount});
    EXPECT_EQ(till.Invoice().AfterDisc(), 1600);
    EXPECT_EQ(till.Invoice().Lines().at(0).Description, "Apple");
    EXPECT_THROW(till.AddLine({"B", "", 1, 1}), ETillError);
    EXPECT_THROW(till.Complete(), ETillError);
    till.Override();
    ExpectInOrder(host.Journal, {"PopulateForInvoice", "OverringInvoice 1", "DoOverringInvoice", "Reset"});
    EXPECT_EQ(host.Rows("SELECT [STATUS] FROM [INVOICES] WHERE [InvoiceNum] = 1"),
              std::vector<std::string>{"1"});
    till.Recall(1);
    EXPECT_THROW(till.Override(), ETillError);
    EXPECT_EQ(host.Calls("OverringInvoice").size(), 1u);
    // An overridden invoice has nothing to collect: no cash-up records its (given back) payments.
    till.NewSale();
    EXPECT_THROW(till.DriverCashup(1), ETillError);
    EXPECT_TRUE(host.Calls("event Pallux.Cashup").empty());
}

TEST(TillTest, DriverCashupRaisesTheFourEventsAndRecordsEveryTendersEntries) {
    TTillTestHost host;
    host.Answers.push_back(PaymentDiscount);
    auto& till = *host.Till;
    till.AddLine({"A", "", 2000, 1});
    till.Voucher();
    EXPECT_THROW(till.Complete(), ETillError) << "8.00 is still to pay";
    till.Complete(true);
    EXPECT_TRUE(host.Calls("event Pallux.Invoicing.Transaction.AfterPaymentSuccess").empty())
        << "a driver's invoice is not paid at the till";
    const auto entries = till.DriverCashup(1);
    ExpectInOrder(host.Journal,
                  {"PopulateForInvoice 1", "event Pallux.Cashup.DriverCashup.Start",
                   "event Pallux.Cashup.DriverCashup.Payment",
                   "event Pallux.Cashup.DriverCashup.InsertCashup", "AddCashupEntry 3 1 80000",
                   "ReportPaymentCode 3 1", "event Pallux.Cashup.DriverCashup.Complete", "Reset"});
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].PaymentCode, "PAYMENT:CASH");
    EXPECT_DOUBLE_EQ(entries[0].Amount, 8.0);
    EXPECT_EQ(entries[1].PaymentCode, "PAYMENT:ZUMVO");
    EXPECT_EQ(entries[1].InvoiceNum, 1);
    EXPECT_EQ(entries[1].TillID, 3);
    EXPECT_EQ(
        host.Rows("SELECT [InvoiceNum], [TillID], [PaymentCode], [Amount] FROM [DriverCashup] ORDER BY [ID]"),
        (std::vector<std::string>{"1|3|PAYMENT:CASH|8", "1|3|PAYMENT:ZUMVO|8"}));
    EXPECT_EQ(host.Rows("SELECT [PaymentType], [Amount] FROM [InvoicesPayment] ORDER BY [PaymentType]"),
              (std::vector<std::string>{"Cash|8", "Zumvo|8"}));
    EXPECT_THROW(till.DriverCashup(1), ETillError) << "an invoice is cashed up once";
}

TEST(TillTest, ATenderThatRefusesEndsThePaymentAsFailed) {
    TTillTestHost host;
    host.Till->AddLine({"A", "", 1000, 1});
    EXPECT_FALSE(host.Till->Pay("Zumvo"));
    ExpectInOrder(host.Journal, {"event Pallux.Invoicing.Transaction.BeforePayment", "Pay 100000",
                                 "event Pallux.Invoicing.Transaction.AfterPaymentFailed"});
    EXPECT_EQ(host.Till->Invoice().Paid(), 0);
    EXPECT_TRUE(host.Till->Pay("Cash", 400));
    EXPECT_EQ(host.Calls("event Pallux.Invoicing.Transaction.AfterPaymentSuccess").size(), 0u)
        << "4.00 of 10.00 is not a finished payment";
    EXPECT_TRUE(host.Till->Pay("Cash", 2000));
    EXPECT_EQ(host.Till->Invoice().Paid(), 1000) << "the change is not kept";
    EXPECT_EQ(host.Calls("event Pallux.Invoicing.Transaction.AfterPaymentSuccess").size(), 1u);
}

TEST(TillTest, ActionsThatCannotBeCarriedOutAreRefusedWithTheReason) {
    TTillTestHost host;
    auto& till = *host.Till;
    const struct {
        const char* Name;
        std::function<void()> Action;
        const char* Reason;
    } cases[] = {
        {"voucher on an empty invoice", [&] { till.Voucher(); }, "Ring up a line"},
        {"complete an empty invoice", [&] { till.Complete(); }, "no lines"},
        {"recall an unknown invoice", [&] { till.Recall(99); }, "There is no invoice 99"},
        {"override without recall", [&] { till.Override(); }, "Recall a completed invoice"},
        {"cash-up of an unknown invoice", [&] { till.DriverCashup(7); }, "There is no invoice 7"},
        {"unknown tender",
         [&] {
             till.AddLine({"A", "", 100, 1}), till.Pay("Cheque");
         },
         "tenders: Cash, Zumvo"},
        {"complete with money outstanding", [&] { till.Complete(); }, "1.00 is still to pay"},
        {"unknown discount", [&] { till.Discount("Staff"); }, "No discount \"Staff\""},
        {"remove a line that is not there", [&] { till.RemoveLine("Z"); }, "no line Z"},
        {"recall during a sale", [&] { till.Recall(1); }, "Complete or cancel invoice 1"},
        {"cash-up during a sale", [&] { till.DriverCashup(1); }, "Finish the open sale"},
    };
    for (const auto& c : cases) {
        try {
            c.Action();
            ADD_FAILURE() << c.Name << ": not refused";
        } catch (const ETillError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Reason), std::string::npos) << c.Name << ": " << e.what();
        }
    }
    EXPECT_TRUE(host.Calls("event").empty()) << "nothing refused reached the module";
}

// Tills sharing one database never number two invoices alike, and an invoice that cannot be
// stored moves no voucher money: it is saved before its vouchers are settled.
TEST(TillTest, TillsSharingTheDatabaseNumberApartAndSaveBeforeSettling) {
    TTillTestHost host;
    std::ofstream(host.Folder / "till4.ini") << "[Host]\nStoreID=12\nTillID=4\nShiftNum=7\n";
    TTill second(*host.Container, THostContext::Load(host.Folder / "till4.ini", "Invoicing", true),
                 host.Database);
    auto& first = *host.Till;
    EXPECT_EQ(first.Invoice().InvoiceNum(), 1);
    EXPECT_EQ(second.Invoice().InvoiceNum(), 2);
    for (TTill* till : {&second, &first}) {
        till->AddLine({"A", "", 100, 1});
        EXPECT_TRUE(till->Pay("cash"));
        till->Complete();
    }
    EXPECT_EQ(host.Rows("SELECT [InvoiceNum], [fkTillID] FROM [INVOICES] ORDER BY [InvoiceNum]"),
              (std::vector<std::string>{"1|3", "2|4"}));
    EXPECT_EQ(second.Invoice().InvoiceNum(), 3); // the next sale of each: the next free number
    EXPECT_EQ(first.Invoice().InvoiceNum(), 4);

    // Another program stored invoice 4 meanwhile: the save fails and nothing is settled.
    host.Database->RunBatch("INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID], [STATUS], [AFTERDISC], "
                            "[SHIFTNUM], [DATE] ) VALUES ( 4, 9, 0, 1.0, 1, GETDATE() )");
    host.Answers.push_back(PaymentDiscount);
    first.AddLine({"BREAD", "Bread", 1000, 2});
    EXPECT_TRUE(first.Voucher());
    EXPECT_TRUE(first.Pay("cash"));
    const auto finalisesBefore = host.Calls("TransactionFinalise").size();
    EXPECT_THROW(first.Complete(), ETillError);
    EXPECT_EQ(host.Calls("TransactionFinalise").size(), finalisesBefore);
}

// A voucher is asked for the invoice's total: once another tender has taken part of it, vouchers
// are refused rather than have the customer pay that part twice.
TEST(TillTest, VouchersAfterAnotherTenderAreRefused) {
    TTillTestHost host;
    auto& till = *host.Till;
    till.AddLine({"A", "", 3000, 1});
    EXPECT_TRUE(till.Pay("cash", 1000));
    try {
        till.Voucher();
        ADD_FAILURE() << "not refused";
    } catch (const ETillError& e) {
        EXPECT_STREQ(e.what(), "Apply vouchers before other payments: Cash 10.00 is already taken");
    }
    EXPECT_TRUE(host.Calls("DoVoucher").empty());
}

// Lines 100.00 + 50.00, a voucher covering 100.00, 40.00 taken in cash: any change of the sale
// would have its voucher applied again to the new total (100.00 after removing the 50.00 line),
// leaving Cash 40.00 + voucher 100.00 on a 100.00 invoice. Every change is refused with the
// reason until the cash is given back; then the change and its recalculation go through.
TEST(TillTest, ChangesAfterAnotherTenderWithVouchersAppliedWaitUntilItIsGivenBack) {
    const std::string covers100 =
        R"({"VoucherCodes":["P"],"VoucherAmount":100,"VoucherType":"Payment","PaymentType":"Zumvo",)"
        R"("PaymentAmount":100,"Result":true})";
    TTillTestHost host;
    host.Answers = {covers100, covers100};
    auto& till = *host.Till;
    till.AddLine({"A", "", 10000, 1});
    till.AddLine({"B", "", 5000, 1});
    ASSERT_TRUE(till.Voucher());
    ASSERT_TRUE(till.Pay("cash", 4000));
    ASSERT_EQ(till.Invoice().Outstanding(), 1000);

    const std::string reason =
        "Give back Cash 40.00 first: a sale with vouchers applied cannot change once another payment is taken";
    const struct {
        const char* Name;
        std::function<void()> Action;
    } changes[] = {
        {"remove a line", [&] { till.RemoveLine("B"); }},
        {"add a line",
         [&] {
             till.AddLine({"C", "", 1, 1});
         }},
        {"add to a line's quantity",
         [&] {
             till.AddLine({"B", "", 5000, 1});
         }},
        {"change a quantity", [&] { till.ChangeQuantity("A", 0.5); }},
        {"apply a discount", [&] { till.Discount("Staff"); }},
        {"recalculate", [&] { till.Recalculate(); }},
    };
    for (const auto& c : changes) {
        try {
            c.Action();
            ADD_FAILURE() << c.Name << ": not refused";
        } catch (const ETillError& e) {
            EXPECT_EQ(e.what(), reason) << c.Name;
        }
        EXPECT_EQ(till.Invoice().SubTotal(), 15000) << c.Name;
        EXPECT_EQ(till.Invoice().Paid(), 14000) << c.Name;
        EXPECT_EQ(till.Invoice().Lines().size(), 2u) << c.Name;
    }
    EXPECT_TRUE(host.Calls("DoVoucher false").empty()) << "the voucher was not asked again";

    till.GiveBack();
    EXPECT_EQ(till.Invoice().Outstanding(), 5000);
    EXPECT_EQ(till.Invoice().Paid(), 10000) << "the voucher's part stays";
    EXPECT_THROW(till.GiveBack(), ETillError) << "nothing more to give back";
    till.RemoveLine("B");
    ASSERT_EQ(host.Calls("DoVoucher false").size(), 1u);
    EXPECT_NE(host.Calls("DoVoucher false")[0].find("\"AfterDisc\":100.0"), std::string::npos)
        << host.Calls("DoVoucher false")[0];
    EXPECT_EQ(till.Invoice().Outstanding(), 0);
    till.Complete();
    EXPECT_EQ(host.Rows("SELECT [PaymentType], [Amount] FROM [InvoicesPayment] ORDER BY [PaymentType]"),
              std::vector<std::string>{"Zumvo|100"});
    EXPECT_EQ(host.Rows("SELECT [AFTERDISC] FROM [INVOICES]"), std::vector<std::string>{"100"});
}

// Without vouchers, or with vouchers and no other tender, the sale changes as before.
TEST(TillTest, ChangesStayFreeWithoutVouchersOrWithoutAnotherTender) {
    TTillTestHost host;
    host.Answers = {
        R"({"VoucherCodes":["P"],"VoucherAmount":5.01,"VoucherType":"Payment","PaymentType":"Zumvo","PaymentAmount":5.01,"Result":true})",
        R"({"VoucherCodes":["P"],"VoucherAmount":5.01,"VoucherType":"Payment","PaymentType":"Zumvo","PaymentAmount":5.01,"Result":true})"};
    auto& till = *host.Till;
    till.AddLine({"A", "", 1005, 1});
    ASSERT_TRUE(till.Pay("cash", 301));
    till.AddLine({"B", "", 1, 1}); // cash taken, no vouchers: nothing is asked again
    EXPECT_EQ(till.Invoice().Outstanding(), 705);
    EXPECT_THROW(till.Voucher(), ETillError) << "vouchers still come before other tenders";
    till.GiveBack();
    EXPECT_EQ(till.Invoice().Outstanding(), 1006);
    ASSERT_TRUE(till.Voucher());
    till.RemoveLine("B");
    EXPECT_EQ(host.Calls("DoVoucher false").size(), 1u);
    EXPECT_EQ(till.Invoice().Outstanding(), 504);
}

// In the till window the refusal reaches the cashier through the host's message service, and
// the Give back button is there only while another tender has taken something.
TEST(TillTest, TheWindowShowsTheRefusalAsAMessageAndOffersGiveBack) {
    TTillTestHost host;
    host.Answers.push_back(PaymentDiscount);
    auto& till = *host.Till;
    TTillWindow window(till);
    auto* remove = window.findChild<QPushButton*>("btnRemoveLine");
    auto* giveBack = window.findChild<QPushButton*>("btnGiveBack");
    auto* grid = window.findChild<QTableWidget*>();
    ASSERT_TRUE(remove && giveBack && grid);
    till.AddLine({"A", "", 2000, 1});
    till.AddLine({"B", "", 1005, 1});
    till.Voucher();
    EXPECT_FALSE(giveBack->isEnabled());
    till.Pay("cash", 1);
    EXPECT_TRUE(giveBack->isEnabled());
    grid->setCurrentCell(1, 0);
    remove->click();
    EXPECT_EQ(till.Invoice().Lines().size(), 2u);
    const auto lines = host.Context->Transcript.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "MESSAGE: warning: Remove line: Give back Cash 0.01 first: a sale with vouchers "
                        "applied cannot change once another payment is taken"),
              lines.end());
    giveBack->click();
    EXPECT_FALSE(giveBack->isEnabled());
    EXPECT_EQ(till.Invoice().Outstanding(), 1805);
}

// A driver cash-up collects only what is still to pay: an invoice paid in full at the till, by
// vouchers, cash or both, gets no cash payment added, and its cash-up entries are what was paid.
TEST(TillTest, DriverCashupOfAFullyPaidInvoiceAddsNoCash) {
    const struct {
        const char* Name;
        TMoney Line;
        const char* Voucher; // PaymentAmount, or nullptr
        TMoney Cash;
        std::vector<std::string> Payments, Entries;
    } cases[] = {
        {"vouchers alone", 2005, "20.05", 0, {"Zumvo|20.05"}, {"PAYMENT:ZUMVO|20.05"}},
        {"vouchers and cash",
         2005,
         "12.01",
         804,
         {"Cash|8.04", "Zumvo|12.01"},
         {"PAYMENT:CASH|8.04", "PAYMENT:ZUMVO|12.01"}},
        {"cash alone", 5, nullptr, 5, {"Cash|0.05"}, {"PAYMENT:CASH|0.05"}},
    };
    for (const auto& c : cases) {
        TTillTestHost host;
        auto& till = *host.Till;
        till.AddLine({"A", "", c.Line, 1});
        if (c.Voucher) {
            host.Answers.push_back(
                std::string(
                    R"({"VoucherCodes":["P"],"VoucherType":"Payment","PaymentType":"Zumvo","PaymentAmount":)") +
                c.Voucher + R"(,"Result":true})");
            ASSERT_TRUE(till.Voucher()) << c.Name;
        }
        if (c.Cash != 0) {
            ASSERT_TRUE(till.Pay("Cash", c.Cash)) << c.Name;
        }
        ASSERT_EQ(till.Invoice().Outstanding(), 0) << c.Name;
        till.Complete(true);
        till.DriverCashup(1);
        EXPECT_EQ(host.Rows("SELECT [PaymentType], [Amount] FROM [InvoicesPayment] ORDER BY [PaymentType]"),
                  c.Payments)
            << c.Name;
        EXPECT_EQ(host.Rows("SELECT [PaymentCode], [Amount] FROM [DriverCashup] ORDER BY [ID]"), c.Entries)
            << c.Name;
        const auto lines = host.Context->Transcript.Lines();
        EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& l) {
            return l.find("collected") != std::string::npos;
        })) << c.Name;
    }
}
