// The invoice model: money in cents, lines, and how a voucher answer changes the invoice.
#include "JsonDocument.h"
#include "TInvoice.h"

#include <gtest/gtest.h>

using namespace refhost;

TEST(InvoiceTest, MoneyIsRoundedToCentsAndPrintedWithTwoDecimals) {
    const struct {
        double Units;
        TMoney Cents;
        const char* Text;
    } cases[] = {{0.29, 29, "0.29"},     {123.45, 12345, "123.45"},      {0.005, 1, "0.01"},
                 {-3.05, -305, "-3.05"}, {1e6, 100000000, "1000000.00"}, {0.0, 0, "0.00"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ToCents(c.Units), c.Cents) << c.Units;
        EXPECT_EQ(CentsText(c.Cents), c.Text) << c.Cents;
    }
}

// A line's total is its price times its quantity rounded to the nearest cent, halves away from
// zero: a truncated product would charge a cent less at every half.
TEST(InvoiceTest, AFractionalQuantityIsRoundedToTheNearestCent) {
    const struct {
        TMoney Price;
        double Quantity;
        TMoney Total;
    } cases[] = {{199, 0.5, 100}, {333, 1.5, 500}, {1001, 0.25, 250}, {105, 0.1, 11}, {999, 3, 2997}};
    for (const auto& c : cases)
        EXPECT_EQ((TInvoiceLine{"X", "x", c.Price, c.Quantity}.Total()), c.Total)
            << c.Price << " x " << c.Quantity;
}

TEST(InvoiceTest, LinesMergeByCodeAndPriceAndBadLinesAreRefused) {
    TInvoice inv(5, "Anna");
    inv.AddLine({"BREAD", "Bread", 250, 2});
    inv.AddLine({"bread", "", 250, 1});
    inv.AddLine({"BREAD", "Bread (day old)", 100, 1});
    ASSERT_EQ(inv.Lines().size(), 2u);
    EXPECT_EQ(inv.Lines()[0].Quantity, 3);
    EXPECT_EQ(inv.SubTotal(), 850);
    EXPECT_THROW(inv.AddLine({"", "", 100, 1}), ETillError);
    EXPECT_THROW(inv.AddLine({"X", "", 100, 0}), ETillError);
    EXPECT_THROW(inv.AddLine({"X", "", -1, 1}), ETillError);
    EXPECT_THROW(inv.RemoveLine("NONE"), ETillError);
    EXPECT_THROW(inv.ChangeQuantity("BREAD", -1), ETillError);
    inv.ChangeQuantity("BREAD", 1);
    inv.RemoveLine("BREAD");
    EXPECT_EQ(inv.SubTotal(), 100) << "the first line of the code went";
}

TEST(InvoiceTest, DataDocumentCarriesWhatTheModuleReads) {
    TInvoice inv(42, "Anna");
    inv.AddLine({"TEA", "Tea", 199, 3});
    inv.AddDiscount({"D", "Staff", 97, false});
    const auto doc = zumvo::TJSONDocument::Parse(inv.DataDocument());
    EXPECT_DOUBLE_EQ(doc["AfterDisc"].AsFloat(), 5.0);
    EXPECT_EQ(doc["LineItems"]._Count(), 1);
    EXPECT_EQ(doc["LineItems"][0]["Code"].AsString(), "TEA");
    EXPECT_DOUBLE_EQ(doc["LineItems"][0]["Price"].AsFloat(), 1.99);
    EXPECT_DOUBLE_EQ(doc["LineItems"][0]["Quantity"].AsFloat(), 3);
    EXPECT_EQ(doc["Cashier"].AsString(), "Anna");
    EXPECT_EQ(doc["InvoiceNum"].AsInteger(), 42);
    EXPECT_EQ(doc["InvID"].AsInteger(), 42);
}

TEST(InvoiceTest, VoucherAnswersReplaceTheEarlierVoucherParts) {
    const std::string paymentDiscount =
        R"({"VoucherCodes":["A"],"VoucherAmount":12,"VoucherType":"PaymentDiscount","PaymentType":"Zumvo",)"
        R"("PaymentAmount":8,"DiscountAmount":4,"DiscountIsPercent":false,"DiscountOverride":false,)"
        R"("DiscountCode":"ZUMVO-DISC","Result":true})";
    const struct {
        const char* Name;
        std::string Answer;
        bool Recalculation;
        bool Changed;
        TMoney AfterDisc;
        TMoney Paid;
    } cases[] = {
        {"payment",
         R"({"VoucherCodes":["P"],"VoucherAmount":5,"VoucherType":"Payment","PaymentType":"Zumvo","PaymentAmount":5,"Result":true})",
         false, true, 10000, 500},
        {"discount",
         R"({"VoucherCodes":["D"],"VoucherAmount":5,"VoucherType":"Discount","DiscountAmount":5,"DiscountIsPercent":false,"DiscountCode":"Z","Result":true})",
         false, true, 9500, 0},
        {"percent discount",
         R"({"VoucherType":"Discount","DiscountAmount":10,"DiscountIsPercent":true,"DiscountCode":"Z","Result":true})",
         false, true, 9000, 0},
        {"payment and discount", paymentDiscount, false, true, 9600, 800},
        {"loyalty",
         R"({"VoucherCodes":["L"],"VoucherAmount":0,"VoucherType":"Loyalty","PaymentAmount":0,"DiscountAmount":0,"Result":true})",
         false, true, 10000, 0},
        {"repeated press", paymentDiscount.substr(0, paymentDiscount.size() - 1) + R"(,"Changed":false})",
         false, false, 9000, 300},
        {"screen closed without codes", R"({"Result":false})", false, false, 9000, 300},
        {"recalculation left no codes", R"({"VoucherCodes":[],"VoucherAmount":0,"Result":false})", true, true,
         10000, 0},
    };
    for (const auto& c : cases) {
        TInvoice inv(1, "Anna");
        inv.AddLine({"X", "", 10000, 1});
        // An earlier voucher answer: 3.00 payment, 10.00 discount.
        inv.ApplyVoucherReturn(
            R"({"VoucherType":"PaymentDiscount","PaymentAmount":3,"DiscountAmount":10,"DiscountCode":"OLD","Result":true})",
            false);
        inv.AddPayment({"Cash", 0, false});
        EXPECT_EQ(inv.ApplyVoucherReturn(c.Answer, c.Recalculation), c.Changed) << c.Name;
        EXPECT_EQ(inv.AfterDisc(), c.AfterDisc) << c.Name;
        EXPECT_EQ(inv.Paid(), c.Paid) << c.Name;
        EXPECT_EQ(inv.HasVouchers(), !(c.Recalculation && c.Changed)) << c.Name;
    }
    TInvoice inv(1, "Anna");
    EXPECT_THROW(inv.ApplyVoucherReturn("not json", false), ETillError);
    EXPECT_THROW(inv.ApplyVoucherReturn("[1]", false), ETillError);
}

// A percent voucher discount is taken of the subtotal of the lines, not of what another discount
// left: the result does not depend on which discount came first. Halves of a cent go away from
// zero.
TEST(InvoiceTest, APercentVoucherDiscountIsTakenOfTheSubtotalBesideOtherDiscounts) {
    const struct {
        TMoney Line;
        TMoney Other; // a discount that is not the voucher's
        const char* Percent;
        TMoney Discount;
    } cases[] = {
        {3335, 111, "15", 500},    // 5.0025 (of 32.24 it would be 4.84)
        {2005, 1001, "50", 1003},  // 10.025 (of 10.04: 5.02)
        {101, 0, "50", 51},        // 0.505
        {10001, 15, "12.5", 1250}, // 12.50125 (of 99.86: 12.48)
        {999, 995, "10", 100},     // 0.999 (of 0.04: 0.00)
    };
    for (const auto& c : cases) {
        TInvoice inv(1, "Anna");
        inv.AddLine({"X", "", c.Line, 1});
        if (c.Other != 0)
            inv.AddDiscount({"STAFF", "Staff", c.Other, false});
        const std::string answer = std::string(R"({"VoucherType":"Discount","DiscountAmount":)") + c.Percent +
                                   R"(,"DiscountIsPercent":true,"DiscountCode":"Z","Result":true})";
        ASSERT_TRUE(inv.ApplyVoucherReturn(answer, false)) << c.Line;
        EXPECT_EQ(inv.DiscountTotal(), c.Other + c.Discount) << c.Line << " " << c.Percent;
        // Applied again (a recalculation): its own earlier discount is no part of the base either.
        ASSERT_TRUE(inv.ApplyVoucherReturn(answer, true)) << c.Line;
        EXPECT_EQ(inv.AfterDisc(), c.Line - c.Other - c.Discount) << c.Line << " " << c.Percent;
        ASSERT_EQ(inv.Discounts().size(), c.Other != 0 ? 2u : 1u);
        EXPECT_EQ(inv.Discounts().back().Amount, c.Discount);
    }
}
