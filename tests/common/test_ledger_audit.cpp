// The ledger check itself: every status against every ledger state, orphans, and advices that
// took effect twice.
#include "ChildProcess.h"
#include "LedgerAudit.h"
#include "SqliteFile.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include <functional>
#include <optional>
#include <set>

using zumvo::TJSONDocument;
using zumvo::test::LedgerMismatches;

namespace {

std::string Row(int id, int status, const std::string& tv = "1000") {
    return R"({"ID":)" + std::to_string(id) + R"(,"Status":)" + std::to_string(status) + R"(,"tvTrxID":)" +
           tv + "}";
}

std::string Entry(const std::string& trxId, const std::string& state, const std::string& advices = "",
                  int tv = 1000) {
    return R"({"tvTrxId":)" + std::to_string(tv) + R"(,"code":"PAY","trxId":")" + trxId + R"(","state":")" +
           state + R"(","adviceLog":[)" + advices + "]}";
}

// moved: written when given, as the simulator writes it; absent in older ledgers.
std::string Advice(const std::string& action, const std::string& code = "-1",
                   std::optional<bool> moved = {}) {
    return R"({"action":")" + action + R"(","responseCode":")" + code + R"(")" +
           (moved ? std::string(R"(,"moved":)") + (*moved ? "true" : "false") : std::string()) + "}";
}

} // namespace

TEST(LedgerAudit, StatusesAgainstLedgerStates) {
    struct TCase {
        int Status;
        std::string State; // "" : no ledger entry
        bool Agrees;
        bool ByReference = false; // no provider number, a note of the request's unknown outcome
    };
    const TCase cases[] = {
        {1, "held", true},
        {1, "settled", false},
        {1, "released", false},
        {1, "", false},
        {2, "settled", true},
        {2, "held", false},
        {2, "released", false},
        {2, "", false},
        {-1, "released", true},
        {-1, "", true},
        {-1, "held", false},
        {-1, "settled", false},
        {0, "", true},
        {0, "released", true},
        {0, "held", false},
        {0, "settled", false},
        {-2, "held", true},
        {-2, "settled", true},
        {-2, "released", false},
        {-3, "held", true},
        {-3, "settled", true},
        {-3, "released", false},
        {-3, "", false},
        {7, "held", false},
        // Reversed by reference, or to be: the provider may have nothing, or hold or have released
        // the code's money, also once an unanswered reversal left the row "failed to cancel".
        {0, "held", true, true},
        {0, "settled", false, true},
        {-3, "", true, true},
        {-3, "released", true, true},
        {-3, "held", true, true},
        {-3, "settled", false, true},
    };
    const std::string note = R"(,"Response":"{\"Outcome\":\"Unknown\"}")";
    for (const TCase& c : cases) {
        std::string row = Row(5, c.Status, c.ByReference ? "null" : "1000");
        if (c.ByReference)
            row.insert(row.size() - 1, note);
        const auto rows = TJSONDocument::Parse("[" + row + "]");
        const auto ledger = TJSONDocument::Parse("[" + (c.State.empty() ? "" : Entry("12-5", c.State)) + "]");
        const std::string found = LedgerMismatches(rows, ledger, 12);
        EXPECT_EQ(found.empty(), c.Agrees) << "status " << c.Status << " / " << c.State << ": " << found;
    }
}

TEST(LedgerAudit, OrphansNumbersAndDoubleAdvices) {
    struct TCase {
        std::string Rows, Ledger, Expected;
    };
    const TCase cases[] = {
        {"[]", "[" + Entry("12-9", "held") + "]", "is held but no module row knows it"},
        {"[]", "[" + Entry("12-9", "released") + "]", ""},
        {"[" + Row(9, 1) + "]", "[" + Entry("13-9", "held") + "]", "another store's reference is no match"},
        {"[" + Row(9, 1, "1001") + "]", "[" + Entry("12-9", "held") + "]",
         "tvTrxID 1001 but the ledger's is 1000"},
        {"[" + Row(9, 1) + "]", "[" + Entry("12-9", "held") + "," + Entry("12-9", "held", "", 1001) + "]",
         "2 provider transactions carry its reference"},
        {"[" + Row(9, 2) + "]",
         "[" + Entry("12-9", "settled", Advice("FINALISE") + "," + Advice("FINALISE")) + "]",
         "settled 2 times"},
        {"[" + Row(9, -1) + "]",
         "[" + Entry("12-9", "released", Advice("REVERSE") + "," + Advice("REVERSE")) + "]",
         "released 2 times"},
        {"[" + Row(9, -1) + "]",
         "[" + Entry("12-9", "released", Advice("FINALISE", "1") + "," + Advice("REVERSE")) + "]", ""},
        // A repeated advice answered -1 without moving anything is no second settlement.
        {"[" + Row(9, 2) + "]",
         "[" +
             Entry("12-9", "settled",
                   Advice("FINALISE", "-1", true) + "," + Advice("FINALISE", "-1", false)) +
             "]",
         ""},
        {"[" + Row(9, -1) + "]",
         "[" +
             Entry("12-9", "released", Advice("REVERSE", "-1", true) + "," + Advice("REVERSE", "-1", true)) +
             "]",
         "released 2 times"},
    };
    for (const TCase& c : cases) {
        const std::string found =
            LedgerMismatches(TJSONDocument::Parse(c.Rows), TJSONDocument::Parse(c.Ledger), 12);
        if (c.Expected.empty())
            EXPECT_EQ(found, "") << c.Ledger;
        else if (c.Expected == "another store's reference is no match")
            EXPECT_NE(found.find("the provider has no transaction for it"), std::string::npos) << found;
        else
            EXPECT_NE(found.find(c.Expected), std::string::npos) << c.Expected << " in: " << found;
    }
}

// ---- The three-way reconciliation ----

namespace {

using zumvo::test::Reconcile;
using zumvo::test::TAuditData;
using zumvo::test::TBasketRow;
using zumvo::test::THostInvoice;
using zumvo::test::TModuleRow;

// The sound sale the cases below vary: invoice 7, 20.05 of goods paid by a split code whose
// provider answer was 20.05 processed, 12.03 to settle (so 8.02 discount, AFTERDISC 12.03);
// basket 3, row 5 finalised.
struct TSale {
    TAuditData Data;
    std::string Ledger;

    TSale() {
        TModuleRow row;
        row.ID = 5;
        row.Status = 2;
        row.TvTrxID = 1000;
        row.Amount = 2005;
        row.BasketID = 3;
        row.InvoiceNum = 7;
        Data.Rows.push_back(row);
        Data.Baskets.push_back({3, 7, 1, 2005});
        THostInvoice invoice;
        invoice.InvoiceNum = 7;
        invoice.AfterDisc = 1203; // 20.05 of goods less the code's 8.02 discount
        invoice.ZumvoPaid = 1203;
        invoice.VoucherDiscount = 802;
        Data.Invoices.push_back(invoice);
        Ledger = LedgerEntry(1000, "12-5", "12-3", "settled", 2005, 1203);
    }
    static std::string LedgerEntry(int tv, const std::string& trxId, const std::string& basketId,
                                   const std::string& state, long long amount, long long toSettle) {
        return R"({"tvTrxId":)" + std::to_string(tv) + R"(,"code":"SPLIT","storeId":"17","trxId":")" + trxId +
               R"(","basketId":")" + basketId + R"(","requested":2005,"amount":)" + std::to_string(amount) +
               R"(,"amountToSettle":)" + std::to_string(toSettle) + R"(,"state":")" + state +
               R"(","adviceLog":[]})";
    }
    std::string Found() const {
        return zumvo::test::ReconcileText(Data, TJSONDocument::Parse("[" + Ledger + "]"), 12);
    }
};

const char* const UnknownNote =
    R"({"Outcome":"Unknown","Reason":"no answer","TrxID":"12-6","TotalAmount":1001})";

} // namespace

TEST(Reconcile, ProviderModuleAndInvoicesAgreeToTheCent) {
    struct TCase {
        const char* Name;
        std::function<void(TSale&)> Change;
        std::string Expected; // empty: all agree
    };
    const TCase cases[] = {
        {"the sound sale", [](TSale&) {}, ""},
        {"the provider settled a cent more than the row records",
         [](TSale& s) { s.Ledger = TSale::LedgerEntry(1000, "12-5", "12-3", "settled", 2006, 1203); },
         "settled amount differs: tvTrxId 1000 (SPLIT, 12-5) settled 20.06, row 5 status 2 records 20.05"},
        {"the row without Amount records the answer's totalAmountProcessed",
         [](TSale& s) {
             s.Data.Rows[0].Amount.reset();
             s.Data.Rows[0].Response = R"({"totalAmountProcessed":"2001","amountToSettle":"1203"})";
         },
         "row 5 status 2 records 20.01"},
        {"the invoice's Zumvo tenders are a cent more than the provider settled",
         [](TSale& s) { s.Data.Invoices[0].ZumvoPaid = 1204; },
         "invoice 7: Zumvo payment 12.04 + Zumvo discount 8.02 = 20.06, but the provider settled 20.05 (basket 3)"},
        {"more to settle than processed: the customer paid more than the invoice",
         [](TSale& s) {
             s.Ledger = TSale::LedgerEntry(1000, "12-5", "12-3", "settled", 2005, 2010);
             s.Data.Invoices[0].ZumvoPaid = 2010;
             s.Data.Invoices[0].VoucherDiscount = -5;
             s.Data.Invoices[0].AfterDisc = 2010;
         },
         "invoice 7: the customer paid 20.10 (other tenders 0.00 + Zumvo settled 20.10) for an invoice of 20.05 "
         "(AFTERDISC 20.10 with a negative Zumvo discount of -0.05)"},
        {"an answer for more than was asked: the discount covers more than the goods",
         [](TSale& s) {
             s.Ledger = TSale::LedgerEntry(1000, "12-5", "12-3", "settled", 2105, 1203);
             s.Data.Rows[0].Amount = 2105;
             s.Data.Invoices[0].VoucherDiscount = 902;
             s.Data.Invoices[0].AfterDisc = 1103;
         },
         "invoice 7: the customer paid 12.03 (other tenders 0.00 + Zumvo settled 12.03) for an invoice of 11.03"},
        {"an answer for more than was asked: the discount exceeds the goods",
         [](TSale& s) {
             s.Ledger = TSale::LedgerEntry(1000, "12-5", "12-3", "settled", 2506, 0);
             s.Data.Rows[0].Amount = 2506;
             s.Data.Invoices[0].ZumvoPaid = 0;
             s.Data.Invoices[0].VoucherDiscount = 2506;
             s.Data.Invoices[0].AfterDisc = -501;
         },
         "invoice 7 comes to -5.01: its discounts exceed its goods (Zumvo discount 25.06)"},
        {"the basket records a cent less than the provider settled",
         [](TSale& s) { s.Data.Baskets[0].TotalAmount = 2004; },
         "basket 3 of invoice 7 records a total of 20.04, but the provider settled 20.05"},
        {"a row names another invoice than its basket", [](TSale& s) { s.Data.Rows[0].InvoiceNum = 8; },
         "row 5 names invoice 8 but its basket 3 names invoice 7"},
        {"the row records the provider store it was accepted under: the ledger's",
         [](TSale& s) { s.Data.Rows[0].ProviderStore = 17; }, ""},
        {"the row records another provider store than the ledger's",
         [](TSale& s) { s.Data.Rows[0].ProviderStore = 18; },
         "provider store differs: tvTrxId 1000 (SPLIT, 12-5) is under store 17, row 5 status 2 records store 18"},
        {"a cent of cash on top of the code", [](TSale& s) { s.Data.Invoices[0].OtherPaid = 1; },
         "invoice 7: the customer paid 12.04"},
        {"the invoice records a Zumvo payment the provider did not settle for the customer",
         [](TSale& s) {
             s.Data.Invoices[0].ZumvoPaid = 1204;
             s.Data.Invoices[0].VoucherDiscount = 801;
         },
         "invoice 7: its payments 12.04 exceed the invoice of 12.03"},
        {"money held for a redeemed row of a completed invoice, not listed",
         [](TSale& s) {
             s.Data.Rows[0].Status = 1;
             s.Ledger = TSale::LedgerEntry(1000, "12-5", "12-3", "held", 2005, 1203);
         },
         "held money no listed row explains: tvTrxId 1000 (SPLIT, 12-5) holds 20.05 for row 5 status 1, basket 3 "
         "of invoice 7"},
        {"a listed failed finalise still holds the invoice's money: due to settle",
         [](TSale& s) {
             s.Data.Rows[0].Status = -2;
             s.Data.Listed = {5};
             s.Ledger = TSale::LedgerEntry(1000, "12-5", "12-3", "held", 2005, 1203);
         },
         ""},
        {"a driver's invoice waits for its cash-up",
         [](TSale& s) {
             s.Data.Rows[0].Status = 1;
             s.Data.Invoices[0].AfterDisc = 3001; // the rest at the door
             s.Ledger = TSale::LedgerEntry(1000, "12-5", "12-3", "held", 2005, 1203);
         },
         "awaiting the driver cash-up of invoice 7"},
        {"an overridden invoice left its code settled, no listed row",
         [](TSale& s) { s.Data.Invoices[0].Status = 1; },
         "invoice 7 is overridden but tvTrxId 1000 (SPLIT, 12-5) is settled for 20.05 without a listed row (row 5 "
         "status 2)"},
        {"an overridden invoice whose loyalty code settled nothing",
         [](TSale& s) {
             s.Data.Invoices[0].Status = 1;
             s.Data.Rows[0].Amount = 0;
             s.Ledger = TSale::LedgerEntry(1000, "12-5", "12-3", "settled", 0, 0);
         },
         ""},
        {"an overridden invoice whose settled code is listed for a person",
         [](TSale& s) {
             s.Data.Invoices[0].Status = 1;
             s.Data.Listed = {5};
         },
         ""},
        {"a cancelled sale (no invoice) left its code settled",
         [](TSale& s) {
             s.Data.Baskets[0].InvoiceNum.reset();
             s.Data.Invoices.clear();
         },
         "basket 3 has no invoice (a cancelled sale) but tvTrxId 1000 (SPLIT, 12-5) is settled for 20.05"},
        {"a basket names an invoice that is not stored",
         [](TSale& s) {
             s.Data.Baskets.push_back({4, 99, 1, std::nullopt});
         },
         "basket 4 names invoice 99, which is not stored"},
        {"a completed invoice whose basket never got its number",
         [](TSale& s) { s.Data.Baskets[0].InvoiceNum.reset(); },
         "invoice 7: Zumvo payment 12.03 + Zumvo discount 8.02 = 20.05, but the provider settled 0.00 (no basket)"},
        {"a request of unknown outcome holds money and is listed",
         [](TSale& s) {
             TModuleRow unknown;
             unknown.ID = 6;
             unknown.Response = UnknownNote;
             unknown.BasketID = 3;
             s.Data.Rows.push_back(unknown);
             s.Data.Listed = {6};
             s.Ledger += "," + TSale::LedgerEntry(1001, "12-6", "12-3", "held", 1001, 1001);
         },
         ""},
        {"its reversal failed: -3 without a provider number, listed",
         [](TSale& s) {
             TModuleRow unknown;
             unknown.ID = 6;
             unknown.Status = -3;
             unknown.Response = UnknownNote;
             s.Data.Rows.push_back(unknown);
             s.Data.Listed = {6};
             s.Ledger += "," + TSale::LedgerEntry(1001, "12-6", "12-3", "held", 1001, 1001);
         },
         ""},
        {"the same money held, but the row is not listed",
         [](TSale& s) {
             TModuleRow unknown;
             unknown.ID = 6;
             unknown.Status = -3;
             unknown.Response = UnknownNote;
             s.Data.Rows.push_back(unknown);
             s.Ledger += "," + TSale::LedgerEntry(1001, "12-6", "12-3", "held", 1001, 1001);
         },
         "held money no listed row explains: tvTrxId 1001 (SPLIT, 12-6) holds 10.01 for row 6 status -3"},
        {"the per-row rules still apply: a finalised row whose money is still held",
         [](TSale& s) { s.Ledger = TSale::LedgerEntry(1000, "12-5", "12-3", "held", 2005, 1203); },
         "row 5 (status 2, tvTrxId 1000, code SPLIT): ledger says held, expected settled"},
        {"money held under another store's reference is money no row knows",
         [](TSale& s) { s.Ledger += "," + TSale::LedgerEntry(1001, "13-5", "13-3", "held", 2005, 1203); },
         "ledger tvTrxId 1001 (13-5, code SPLIT) is held but no module row knows it"},
        {"given back under another store's reference: nothing to say",
         [](TSale& s) { s.Ledger += "," + TSale::LedgerEntry(1001, "13-5", "13-3", "released", 2005, 1203); },
         ""},
    };
    for (const TCase& c : cases) {
        TSale sale;
        c.Change(sale);
        const std::string found = sale.Found();
        if (c.Expected.empty())
            EXPECT_EQ(found, "") << c.Name;
        else
            EXPECT_NE(found.find(c.Expected), std::string::npos)
                << c.Name << "\nexpected: " << c.Expected << "\nfound: " << found;
    }
}

TEST(Reconcile, CentsAreRoundedOnceAndPrintedExactly) {
    using zumvo::FixedText;
    using zumvo::test::CentsOf;
    EXPECT_EQ(CentsOf(20.05), 2005);
    EXPECT_EQ(CentsOf(0.1 + 0.2), 30);
    EXPECT_EQ(CentsOf(12.005 - 0.0000001), 1200);
    EXPECT_EQ(CentsOf(-3.01), -301);
    EXPECT_EQ(FixedText(2005), "20.05");
    EXPECT_EQ(FixedText(-5), "-0.05");
    EXPECT_EQ(FixedText(0), "0.00");
    EXPECT_EQ(FixedText(100001), "1000.01");
}

TEST(Reconcile, TheHeldFundsListIsReadFromBackOfficeOutput) {
    const std::string output = "Message: 1 advice(s) sent: 0 confirmed, 1 not confirmed\n"
                               "Transaction\tBasket\tInvoice\tTill\tCode\tProvider No\tAmount\tStatus\n"
                               "12\t3\t\t1\tPAY-50\t1000\t20.05\tFailed to finalise\r\n"
                               "7\t2\t4\t1\tGIFT\t\t10.01\tOutcome unknown\n"
                               "Held funds page: /tmp/page_1.html\n";
    EXPECT_EQ(zumvo::test::ListedInHeldFundsOutput(output), (std::set<std::int32_t>{7, 12}));
    EXPECT_TRUE(zumvo::test::ListedInHeldFundsOutput("12\t3\t\n").empty()) << "no header, no table";
}

namespace {

// A host database as the till and the module leave it, in the SQLite dialect the translator writes.
class ReconcileDatabase : public ::testing::Test {
protected:
    std::filesystem::path Folder;
    std::filesystem::path Db;

    void SetUp() override {
        Folder = std::filesystem::temp_directory_path() / ("zumvo_reconcile_" + std::to_string(getpid()));
        std::filesystem::create_directories(Folder);
        Db = Folder / "host.db";
        std::filesystem::remove(Db);
        Sql(R"(
CREATE TABLE ZumvoPaymentTransactions (ID INTEGER PRIMARY KEY, Timestamp_Created DATETIME, InvoiceNum INT,
  tvTrxID INT, Response VARCHAR(4000), Amount FLOAT, Status INT NOT NULL DEFAULT 0, BasketID INT);
CREATE TABLE ZumvoPaymentBasket (ID INTEGER PRIMARY KEY, Timestamp_Created DATETIME, InvoiceNum INT,
  TotalAmount FLOAT, TillID INT NOT NULL DEFAULT -1);
CREATE TABLE INVOICES (InvoiceNum INT PRIMARY KEY, fkTillID INT, STATUS INT NOT NULL DEFAULT 0, AFTERDISC FLOAT);
CREATE TABLE InvoicesPayment (InvoiceNum INT, PaymentType VARCHAR(20), Amount FLOAT);
CREATE TABLE InvoiceDiscounts (InvoiceNum INT, Code VARCHAR(50), Name VARCHAR(100), Amount FLOAT,
  FromVoucher INT NOT NULL DEFAULT 0);
CREATE TABLE DriverCashup (ID INTEGER PRIMARY KEY, InvoiceNum INT, TillID INT, PaymentCode VARCHAR(50), Amount FLOAT);
-- invoice 7: 20.20 of goods less a shop discount of 0.15, a split code (12.03 + 8.02), finalised
INSERT INTO ZumvoPaymentBasket VALUES (3, '2026-12-07 10:00:00', 7, 20.05, 1);
INSERT INTO ZumvoPaymentTransactions VALUES (5, '2026-12-07 10:00:01', 7, 1000, '{}', 20.05, 2, 3);
INSERT INTO INVOICES VALUES (7, 1, 0, 12.03);
INSERT INTO InvoicesPayment VALUES (7, 'Zumvo', 12.03);
INSERT INTO InvoicesPayment VALUES (7, 'Cash', 0.00);
INSERT INTO InvoiceDiscounts VALUES (7, 'ZUMVO-DISC', 'Zumvo', 8.02, 1);
INSERT INTO InvoiceDiscounts VALUES (7, 'SHOP', 'Shop', 0.15, 0);
-- a cancelled sale's basket: one code of unknown outcome, one redeemed (listed as abandoned)
INSERT INTO ZumvoPaymentBasket VALUES (4, '2026-12-07 11:00:00', NULL, NULL, 2);
INSERT INTO ZumvoPaymentTransactions VALUES (6, '2026-12-07 11:00:01', NULL, NULL,
  '{"Outcome":"Unknown","Reason":"no answer","TotalAmount":1001}', NULL, 0, 4);
INSERT INTO ZumvoPaymentTransactions VALUES (8, '2026-12-07 11:00:02', NULL, 1002,
  '{"totalAmountProcessed":"1005","amountToSettle":"1005"}', NULL, 1, 4);
-- a failed finalise of an overridden, cashed-up driver's invoice
INSERT INTO ZumvoPaymentBasket VALUES (9, '2026-12-07 12:00:00', 8, 5.01, 1);
INSERT INTO ZumvoPaymentTransactions VALUES (10, '2026-12-07 12:00:01', 8, 1003, '{}', 5.01, -2, 9);
INSERT INTO INVOICES VALUES (8, 1, 1, 9.99);
INSERT INTO InvoicesPayment VALUES (8, 'ZUMVO', 5.01);
INSERT INTO DriverCashup VALUES (1, 8, 1, 'PAYMENT:CASH', 4.98);
)");
    }
    void TearDown() override { std::filesystem::remove_all(Folder); }

    void Sql(const std::string& sql) const { zumvo::test::RunSqlite(Db.string(), sql); }

    // zumvo_reconcile with these arguments: exit status (-1 when it did not exit) and output.
    std::pair<int, std::string> Program(const std::vector<std::string>& args) const {
        const auto run = zumvo::test::RunProgram(zumvo::test::BuiltProgram("zumvo_reconcile"), args);
        return {run.Status.Exited ? run.Status.Code : -1, run.Output};
    }
};

} // namespace

TEST_F(ReconcileDatabase, TheTablesAreReadInCentsWithTheListedRows) {
    const TAuditData data = zumvo::test::ReadAuditData(Db.string());
    ASSERT_EQ(data.Rows.size(), 4u);
    EXPECT_EQ(data.Rows[0].Amount, 2005);
    EXPECT_EQ(data.Rows[0].BasketID, 3);
    EXPECT_EQ(data.Rows[0].InvoiceNum, 7);
    EXPECT_FALSE(data.Rows[1].TvTrxID.has_value());
    EXPECT_TRUE(data.Rows[1].OutcomeUnknown());
    EXPECT_EQ(data.Rows[1].Recorded(), std::nullopt) << "a request without answer records no amount";
    EXPECT_EQ(data.Rows[2].Recorded(), 1005) << "the answer's totalAmountProcessed";
    ASSERT_EQ(data.Baskets.size(), 3u);
    EXPECT_FALSE(data.Baskets[1].InvoiceNum.has_value());
    EXPECT_EQ(data.Baskets[1].TillID, 2);
    EXPECT_EQ(data.Baskets[0].TotalAmount, 2005);
    EXPECT_FALSE(data.Baskets[1].TotalAmount.has_value());
    ASSERT_EQ(data.Invoices.size(), 2u);
    const THostInvoice& seven = data.Invoices[0];
    EXPECT_EQ(seven.AfterDisc, 1203);
    EXPECT_EQ(seven.ZumvoPaid, 1203);
    EXPECT_EQ(seven.OtherPaid, 0);
    EXPECT_EQ(seven.VoucherDiscount, 802) << "the shop's own discount is not Zumvo's";
    EXPECT_FALSE(seven.CashedUp);
    EXPECT_EQ(data.Invoices[1].Status, 1);
    EXPECT_EQ(data.Invoices[1].ZumvoPaid, 501) << "the payment type is compared without case";
    EXPECT_TRUE(data.Invoices[1].CashedUp);
    EXPECT_EQ(data.Listed, (std::set<std::int32_t>{6, 8, 10}));
}

// A database upgraded with the provider store and refund-owed columns: the settled code of an
// overridden invoice marked RefundOwed is on the list, and each row names its provider store.
TEST_F(ReconcileDatabase, RefundsOwedAreListedAndProviderStoresRead) {
    Sql("ALTER TABLE ZumvoPaymentTransactions ADD ProviderStoreID INT NULL;"
        "ALTER TABLE ZumvoPaymentTransactions ADD RefundOwed INT NOT NULL DEFAULT 0;"
        "UPDATE ZumvoPaymentTransactions SET ProviderStoreID = 17 WHERE tvTrxID IS NOT NULL;"
        "UPDATE ZumvoPaymentTransactions SET RefundOwed = 1 WHERE ID = 5;");
    TAuditData data = zumvo::test::ReadAuditData(Db.string());
    EXPECT_EQ(data.Listed, (std::set<std::int32_t>{5, 6, 8, 10}));
    EXPECT_EQ(data.Rows[0].ProviderStore, 17);
    EXPECT_FALSE(data.Rows[1].ProviderStore.has_value());
    // Invoice 7 overridden: its settled code is a refund a person owes, and says so.
    data.Invoices[0].Status = 1;
    const auto ledger =
        TJSONDocument::Parse("[" + TSale::LedgerEntry(1000, "12-5", "12-3", "settled", 2005, 1203) + "," +
                             TSale::LedgerEntry(1002, "12-8", "12-4", "held", 1005, 1005) + "," +
                             TSale::LedgerEntry(1003, "12-10", "12-9", "held", 501, 501) + "]");
    EXPECT_EQ(zumvo::test::ReconcileText(data, ledger, 12), "");
    data.Listed.erase(5);
    EXPECT_NE(zumvo::test::ReconcileText(data, ledger, 12).find("invoice 7 is overridden but tvTrxId 1000"),
              std::string::npos);
}

TEST_F(ReconcileDatabase, TheProgramReportsEachDiscrepancyAndExitsOnThem) {
    const std::string agreeing = "[" + TSale::LedgerEntry(1000, "12-5", "12-3", "settled", 2005, 1203) + "," +
                                 TSale::LedgerEntry(1002, "12-8", "12-4", "held", 1005, 1005) + "," +
                                 TSale::LedgerEntry(1003, "12-10", "12-9", "held", 501, 501) + "]";
    std::ofstream(Folder / "ledger.json") << agreeing;
    const std::vector<std::string> common{"--db", Db.string(), "--store",
                                          "12",   "--ledger",  (Folder / "ledger.json").string()};
    const auto with = [&common](std::vector<std::string> more) {
        more.insert(more.begin(), common.begin(), common.end());
        return more;
    };
    auto [status, output] = Program(common);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("reconciled 3 ledger entries (2 held), 4 module rows (3 listed), 2 invoices: 0 "
                          "discrepancies"),
              std::string::npos)
        << output;
    std::tie(status, output) = Program(with({"--nothing-held"}));
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("still held: tvTrxId 1002 (SPLIT, 12-8) 10.05"), std::string::npos) << output;

    // The module's own list, as BackOffice prints it, without row 8: its money is unexplained.
    std::ofstream(Folder / "held.txt") << "Transaction\tBasket\tInvoice\n6\t4\t\n10\t9\t8\n";
    std::tie(status, output) = Program(with({"--held-funds", (Folder / "held.txt").string()}));
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("held money no listed row explains: tvTrxId 1002 (SPLIT, 12-8) holds 10.05"),
              std::string::npos)
        << output;

    Sql("UPDATE InvoicesPayment SET Amount = 12.04 WHERE InvoiceNum = 7 AND PaymentType = 'Zumvo'");
    std::tie(status, output) = Program(common);
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("invoice 7: Zumvo payment 12.04 + Zumvo discount 8.02 = 20.06, but the provider "
                          "settled 20.05 (basket 3)"),
              std::string::npos)
        << output;

    const std::vector<std::vector<std::string>> bads{
        {"--db", Db.string()},
        with({"--ledger-port", "1"}),
        {"--colour", "red"},
        {"--db", (Folder / "nonexistent" / "host.db").string(), "--store", "12", "--ledger",
         (Folder / "ledger.json").string()},
        {"--db", Db.string(), "--store", "twelve", "--ledger", "x"}};
    for (const auto& bad : bads) {
        std::tie(status, output) = Program(bad);
        EXPECT_EQ(status, 2) << ::testing::PrintToString(bad) << "\n" << output;
        EXPECT_NE(output.find("error: "), std::string::npos) << output;
    }
}
