// The report page from rows of every kind a query result may hold, and the money texts of its
// cells in many locales.
#include "BackOfficeTestHost.h"
#include "clsVoucherReturn.h"
#include "clsZumvoReport.h"

#include <QLocale>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>

using namespace zumvo;

namespace {

struct TPage : test::BackOfficeTest {
    using BackOfficeTest::Rows;
};

std::string Money(double amount) {
    return HtmlEscape(CurrencyText(amount));
}

// Names in another case and twice (the first counts), rows whose members change order or are
// missing, values of other kinds than the query gives, a row that is no object, basket IDs as
// texts ("017" is not basket 17).
const char* const Baskets = R"([
    {"basketid": 5, "BasketID": 6, "InvoiceNum": 11, "invoicedate": "2026-03-10T14:05:00",
     "InvoiceTotal": "12.5", "InvoiceStatus": "1", "PaymentAmount": true, "DiscountAmount": -2.25,
     "BrandDesc": 1.5, "InvoiceShift": true, "TillRungUp": {"a": 1}},
    {"TillRungUp": 3, "BrandDesc": "<b>&'\"", "InvoiceShift": null, "InvoiceStatus": 2.0, "InvoiceNum": "x",
     "BasketID": "7", "InvoiceDate": "2026-03-10", "InvoiceTotal": 30, "PaymentAmount": "abc",
     "DiscountAmount": null},
    {"BasketID": 7, "InvoiceNum": null, "InvoiceTotal": 5},
    42,
    {"BasketID": "017"},
    {"BasketID": 17, "InvoiceNum": 0, "InvoiceDate": "10.03.2026", "InvoiceStatus": 9, "InvoiceTotal": 999.995}
])";

} // namespace

TEST(ReportPage, CellsShowWhatTheRowsHoldWhateverTheirKindsAndOrder) {
    const std::string blank = "&nbsp;";
    const std::vector<std::string> noInvoice(10, blank);
    const auto row = [](std::vector<std::string> first, const std::vector<std::string>& rest) {
        first.insert(first.end(), rest.begin(), rest.end());
        return first;
    };
    const test::TPageRow expected[] = {
        {"5", "14:05", "2026-03-10", "11", Money(12.5), "O/R", blank, Money(-2.25), "1.5", "true", blank,
         "1<br>&lt;i&gt;<br>", "0<br>0<br>", "Finalised<br>Transaction Cancelled<br>"},
        {"7", "00:00", "2026-03-10", "x", Money(30), "O/R", Money(0), blank, "&lt;b&gt;&amp;&#39;&quot;",
         blank, "3", "3<br>", "9001<br>", "<br>"},
        row(row({"7"}, noInvoice), {"3<br>", "9001<br>", "<br>"}),
        row(row({blank}, noInvoice), {"", "", ""}),
        row(row({"017"}, noInvoice), {"", "", ""}),
        {"17", blank, blank, "0", Money(999.995), blank, blank, blank, blank, blank, blank, "4<br>",
         "9002.5<br>", "Redeemed<br>"},
    };
    // The transactions in query order, out of order, and with basket IDs as texts.
    const char* const transactions[] = {
        R"([{"ID": 1, "tvTrxID": "", "Status": 2, "BasketID": 5},
            {"ID": "<i>", "tvTrxID": null, "Status": "-1", "BasketID": 5},
            {"ID": 3, "tvTrxID": 9001, "BasketID": 7},
            {"id": 4, "TVTRXID": 9002.5, "status": 1, "basketid": 17}])",
        R"([{"ID": 3, "tvTrxID": 9001, "BasketID": 7},
            {"ID": 1, "tvTrxID": "", "Status": 2, "BasketID": 5},
            {"id": 4, "TVTRXID": 9002.5, "status": 1, "basketid": 17},
            {"ID": "<i>", "tvTrxID": null, "Status": "-1", "BasketID": 5}])",
        R"([{"ID": 1, "tvTrxID": "", "Status": 2, "BasketID": "5"},
            {"ID": "<i>", "tvTrxID": null, "Status": "-1", "BasketID": "5"},
            {"ID": 3, "tvTrxID": 9001, "BasketID": "7"},
            {"id": 4, "TVTRXID": 9002.5, "status": 1, "basketid": "17"}])",
    };
    for (const char* trx : transactions) {
        TZumvoReportData data;
        data.Baskets = TJSONDocument::Parse(Baskets);
        data.Transactions = TJSONDocument::Parse(trx);
        const auto day = std::chrono::year(2026) / 3 / 10;
        const auto rows = TPage::Rows(BuildZumvoReportPage(data, day, day, "file:///res/"));
        ASSERT_EQ(rows.size(), std::size(expected) + 1) << trx;
        for (std::size_t i = 0; i < std::size(expected); ++i)
            EXPECT_EQ(rows[i + 1], expected[i]) << "row " << i << " with " << trx;
    }
}

namespace {

// Amounts of every kind a page or a message may show: each cent around zero, halves of the last
// decimal for two to four decimals, amounts that round up to the next thousand, large, tiny and
// not finite ones, and a spread of others.
std::vector<double> Amounts() {
    std::vector<double> amounts;
    for (int cents = -2000; cents <= 2000; ++cents)
        amounts.push_back(cents / 100.0);
    for (int k = 0; k < 2000; ++k)
        amounts.insert(amounts.end(), {k * 0.005, k * 0.0005, k * 0.00005, 990 + k * 0.005});
    amounts.insert(amounts.end(),
                   {999.994999, 999.995, 999.9999, 1000, 1000.005, 1234567.891, 1e15, 1e300, 1e-9, 0.5, 1.5,
                    2.5, 0.125, 2.675, 1.005, -0.0, std::numeric_limits<double>::quiet_NaN(),
                    std::numeric_limits<double>::infinity()});
    std::uint64_t seed = 12345;
    for (int k = 0; k < 5000; ++k) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const double scale[] = {1, 10, 100, 1000, 10000};
        amounts.push_back(double(std::int64_t(seed >> 33) % 4000000) / scale[(seed >> 20) % 5] - 200);
    }
    const std::size_t count = amounts.size();
    for (std::size_t k = 0; k < count; ++k)
        amounts.push_back(-amounts[k]);
#ifdef _WIN32
    // Windows' own currency text under Wine is unreadable, and differs from call to call, for
    // amounts no till meets: not a number, the infinities and 1e300.
    std::erase_if(amounts, [](double a) { return !std::isfinite(a) || std::fabs(a) >= 1e300; });
#endif
    return amounts;
}

// Ends the process: 0 when CurrencyText and AppendCurrencyText give QLocale's own currency text of
// the system locale for every amount, 1 after writing the differences to stderr.
[[noreturn]] void ExitWithDifferences() {
    int different = 0;
    for (double amount : Amounts()) {
        const std::string expected = QLocale::system().toCurrencyString(amount).toStdString();
        std::string appended = "x";
        AppendCurrencyText(appended, amount);
        if ((CurrencyText(amount) != expected || appended != "x" + expected) && ++different <= 20)
            std::cerr << std::setprecision(17) << amount << ": " << CurrencyText(amount) << " instead of "
                      << expected << '\n';
    }
    std::exit(different == 0 ? 0 : 1);
}

} // namespace

// Each locale in a process of its own: the system locale is read once per process. Windows takes
// it from the user's regional settings, not from LC_ALL: there the one locale of the machine.
#ifdef _WIN32
TEST(CurrencyText, IsTheSystemLocalesCurrencyText) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ExitWithDifferences(), ::testing::ExitedWithCode(0), "");
}
#else
TEST(CurrencyText, IsTheSystemLocalesCurrencyTextInEveryLocale) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* const before = std::getenv("LC_ALL");
    const std::string saved = before ? before : "";
    // Two, three and no decimals, signs and brackets before or after, other digits and
    // separators, other grouping.
    for (const char* locale :
         {"C.UTF-8", "en_US.UTF-8", "de_DE.UTF-8", "fr_CH.UTF-8", "nl_NL.UTF-8", "ar_EG.UTF-8", "ar_KW.UTF-8",
          "ja_JP.UTF-8", "hi_IN.UTF-8", "es_ES.UTF-8", "pt_BR.UTF-8"}) {
        setenv("LC_ALL", locale, 1);
        EXPECT_EXIT(ExitWithDifferences(), ::testing::ExitedWithCode(0), "") << locale;
    }
    if (before)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
}
#endif
