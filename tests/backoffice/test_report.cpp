// The transaction report on a database filled through the store's operations, as headless
// Chromium reads the page; the periods of the form's buttons; the host's --report command.
#include "BackOfficeTestHost.h"
#include "FZumvoReports.h"
#include "clsDBAccess.h"
#include "clsVoucherReturn.h"

#include <QDateEdit>
#include <QPushButton>
#include <QTest>

using namespace zumvo;
using namespace std::chrono;

namespace {

const char* const Markup = "<img src=x onerror=alert(1)></table>";

class ReportTest : public test::BackOfficeTest {
protected:
    std::int32_t withBrand = 0, twoPayments = 0, noInvoice = 0, midnight = 0;

    // Till 1 trades as Brand One, till 2 under a brand whose description is markup.
    void SetUp() override {
        BackOfficeTest::SetUp();
        host.Run("INSERT INTO [Brands] ( BrandID, Code, Description ) VALUES ( 1, 'BR1', 'Brand One' )");
        host.Run("INSERT INTO [Brands] ( BrandID, Code, Description ) VALUES ( 3, 'EVIL', '" +
                 std::string(Markup) + "' )");
        host.Run("INSERT INTO [TillsBrand] ( TillID, BrandID ) VALUES ( 1, 1 )");
        host.Run("INSERT INTO [TillsBrand] ( TillID, BrandID ) VALUES ( 2, 3 )");
        Invoice(1001, 1, 1, 30, "5", "2026-03-10 14:05:00", {20});
        Invoice(1002, 2, 0, 12, "NULL", "2026-03-11 09:30:00", {5, 7});
        using S = TTransactionStatus;
        withBrand = Sale(1, 1001, {{S::Finalised, 10}, {S::Finalised, 15}}, "2026-03-10 14:00:00");
        twoPayments = Sale(2, 1002, {{S::Finalised, 12}}, "2026-03-11 09:29:00");
        noInvoice = Sale(3, 0, {{S::Started, 0}, {S::Cancelled, 4}}, "2026-03-11 18:00:00");
        Sale(1, 0, {{S::Redeemed, 1}}, "2026-02-28 23:59:59");            // before the period
        midnight = Sale(1, 0, {{S::Redeemed, 2}}, "2026-03-12 00:00:00"); // the inclusive upper bound
        Sale(1, 0, {{S::Redeemed, 3}}, "2026-03-12 00:00:01");            // after it
    }

    std::filesystem::path Page(TReportDate from, TReportDate to) {
        auto db = NewDBScript();
        const auto page = BuildZumvoReportPage(QueryZumvoReport(*db, from, to), from, to, HostResFolderURL());
        const auto file = host.Folder / ("report_" + DateText(from) + "_" + DateText(to) + ".html");
        std::ofstream(file) << page;
        return file;
    }
    static std::string Id(std::int32_t id) { return std::to_string(id); }
};

constexpr TReportDate Mar2026(unsigned d) {
    return year(2026) / 3 / d;
}

} // namespace

TEST_F(ReportTest, ChromiumShowsOneRowPerJoinedBasketWithItsCellsAndTransactions) {
#ifdef _WIN32
    GTEST_SKIP() << "the page is checked in headless Chromium, which the Windows build does not have";
#endif
    const auto page = Page(Mar2026(10), Mar2026(11));
    const std::string dom = DumpDom(page);
    ASSERT_THAT(dom, ::testing::HasSubstr("<h1>Zumvo Payment Transactions</h1>")) << dom;
    EXPECT_EQ(Between(dom, "<h2>", "</h2>"), "Zumvo Baskets: 2026-03-10 - 2026-03-11 ");

    const auto rows = Rows(dom);
    const std::string blank = "&nbsp;";
    const test::TPageRow expected[] = {
        {"Basket ID", "Time", "Date", "InvoiceNum", "Invoice Total", "Invoice Status", "Payments",
         "Discounts", "Brand", "Shift Num", "Till", "Transactions: ID ", "tvTrxID", "Status"},
        {Id(withBrand), "14:05", "2026-03-10", "1001", CurrencyText(30), "O/R", CurrencyText(20),
         CurrencyText(5), "Brand One", "5", "1", "1<br>2<br>",
         Id(9000 + withBrand * 10 + 1) + "<br>" + Id(9000 + withBrand * 10 + 2) + "<br>",
         "Finalised<br>Finalised<br>"},
        // an invoice with two Zumvo payment rows lists its basket once with each amount
        {Id(twoPayments), "09:30", "2026-03-11", "1002", CurrencyText(12), "-", CurrencyText(5),
         CurrencyText(7), "&lt;img src=x onerror=alert(1)&gt;&lt;/table&gt;", blank, "2", "3<br>",
         Id(9000 + twoPayments * 10 + 1) + "<br>", "Finalised<br>"},
        {Id(twoPayments), "09:30", "2026-03-11", "1002", CurrencyText(12), "-", CurrencyText(7),
         CurrencyText(5), "&lt;img src=x onerror=alert(1)&gt;&lt;/table&gt;", blank, "2", "3<br>",
         Id(9000 + twoPayments * 10 + 1) + "<br>", "Finalised<br>"},
        // no invoice: ten blank cells; a code never accepted has no provider number (0)
        {Id(noInvoice), blank, blank, blank, blank, blank, blank, blank, blank, blank, blank, "4<br>5<br>",
         "0<br>" + Id(9000 + noInvoice * 10 + 1) + "<br>", "Started<br>Transaction Cancelled<br>"},
        {Id(midnight), blank, blank, blank, blank, blank, blank, blank, blank, blank, blank, "7<br>",
         Id(9000 + midnight * 10 + 1) + "<br>", "Redeemed<br>"},
    };
    ASSERT_EQ(rows.size(), std::size(expected)) << dom;
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i], expected[i]) << "row " << i;
    // The brand text from the outside service is text, not markup.
    EXPECT_THAT(dom, ::testing::Not(::testing::HasSubstr("<img")));
    EXPECT_EQ(dom.find("</table>"), dom.rfind("</table>")) << "one table only";

    Screenshot(page, "report_page.png");
}

// A long period's baskets are asked for in groups; a basket joined to two payments straddles the
// first group's end, and still every transaction comes once, in basket order.
TEST_F(ReportTest, LongPeriodsAreReadInGroupsWithEveryTransactionOnce) {
    const int fillers = ReportBasketsPerQuery - 2; // then withBrand, twoPayments | twoPayments, ...
    std::string baskets, transactions;
    for (int i = 1; i <= fillers; ++i) {
        const std::string id = std::to_string(i - fillers - 1); // below every real basket's ID
        baskets += std::string(baskets.empty() ? "" : ", ") + "( " + id + ", 4, '2026-03-10 08:00:00' )";
        transactions += std::string(transactions.empty() ? "" : ", ") + "( " + id + ", " + id +
                        ", 2, '2026-03-10 08:00:00' )";
    }
    host.Run("INSERT INTO [ZumvoPaymentBasket] ( [ID], [TillID], [Timestamp_Created] ) VALUES " + baskets);
    host.Run(
        "INSERT INTO [ZumvoPaymentTransactions] ( [ID], [BasketID], [Status], [Timestamp_Created] ) VALUES " +
        transactions);

    auto db = NewDBScript();
    const TZumvoReportData data = QueryZumvoReport(*db, Mar2026(10), Mar2026(11));
    ASSERT_EQ(data.Baskets._Count(), fillers + 5); // twoPayments joins twice; midnight is in
    EXPECT_EQ(data.Baskets[fillers + 1]["BasketID"].AsInteger(0), twoPayments);
    EXPECT_EQ(data.Baskets[fillers + 2]["BasketID"].AsInteger(0), twoPayments);
    ASSERT_EQ(data.Transactions._Count(), fillers + 6);
    std::pair<int, int> last{INT32_MIN, INT32_MIN};
    for (int i = 0; i < data.Transactions._Count(); ++i) {
        const std::pair<int, int> key{data.Transactions[i]["BasketID"].AsInteger(0),
                                      data.Transactions[i]["ID"].AsInteger(0)};
        EXPECT_LT(last, key) << "row " << i;
        last = key;
    }
}

// The transactions' IN ( ... ) list is written from the baskets' numeric IDs: a basket ID that
// comes back as text (a database or driver that answers text) is refused, never put into SQL.
TEST(ReportQuery, BasketIdsReachTheSqlOnlyAsNumbers) {
    class TScriptedDB : public pallux::TInterfacedObject<pallux::IDBScript> {
    public:
        std::string Baskets;
        std::vector<std::string> Lists; // the %s argument of each transaction query
        void PALLUX_CALL Execute(const std::string&) override {}
        std::int32_t PALLUX_CALL ExecuteRowCount(const std::string&) override { return 0; }
        bool PALLUX_CALL ExecuteFmt(const std::string&, const pallux::TSqlArgs&) override { return false; }
        std::string PALLUX_CALL Format(const std::string& format, const pallux::TSqlArgs&) override {
            return format;
        }
        void PALLUX_CALL GetValue(const std::string&, const std::string&, std::string& value) override {
            value.clear();
        }
        void PALLUX_CALL GetValueFmt(const std::string&, const pallux::TSqlArgs&, const std::string&,
                                     std::string& value) override {
            value.clear();
        }
        void PALLUX_CALL Query(const std::string&, std::string& json) override { json = "[]"; }
        void PALLUX_CALL QueryFmt(const std::string& format, const pallux::TSqlArgs& args,
                                  std::string& json) override {
            if (format.find("FROM ZumvoPaymentBasket") != std::string::npos) {
                json = Baskets;
                return;
            }
            Lists.push_back(std::get<std::string>(args.at(0)));
            json = "[]";
        }
    };
    const auto held = pallux::MakeIntf<TScriptedDB>();
    auto* db = static_cast<TScriptedDB*>(held.get());
    db->Baskets = R"([{"BasketID":7},{"BasketID":7},{"BasketID":12}])";
    QueryZumvoReport(*db, TReportDate(year(2026) / 3 / 1), TReportDate(year(2026) / 3 / 2));
    EXPECT_EQ(db->Lists, std::vector<std::string>{"7,12"});

    db->Lists.clear();
    db->Baskets = R"([{"BasketID":7},{"BasketID":"0 ) OR ( 1 = 1"}])";
    EXPECT_THROW(QueryZumvoReport(*db, TReportDate(year(2026) / 3 / 1), TReportDate(year(2026) / 3 / 2)),
                 std::runtime_error);
    EXPECT_TRUE(db->Lists.empty()) << "no query was made with the text";
}

// Each basket row lists its own transactions' statuses, failed advices by name: a finalise that
// failed beside a settled code, a cancel that failed beside a given back one. An invoice whose
// codes only discounted it has no Zumvo payment row: its payments show 0.00 and the basket's
// whole amount is discount.
TEST_F(ReportTest, FailedAdvicesShowOnTheirBasketsRowsAndADiscountOnlyInvoicePaysNothing) {
    using S = TTransactionStatus;
    Invoice(1003, 1, 0, 20.05, "7", "2026-03-20 10:00:00", {12.01});
    Invoice(1004, 2, 0, 4.95, "7", "2026-03-20 10:30:00", {});
    const std::int32_t failedFinalise =
        Sale(1, 1003, {{S::Finalised, 12.01}, {S::FinaliseFailed, 8.04}}, "2026-03-20 09:59:00");
    const std::int32_t discountOnly = Sale(2, 1004, {{S::Finalised, 5.05}}, "2026-03-20 10:29:00");
    const std::int32_t failedCancel = Sale(
        2, 0, {{S::CancelFailed, 3.01}, {S::Cancelled, 1.05}, {S::Redeemed, 0.01}}, "2026-03-20 11:00:00");

    auto db = NewDBScript();
    const std::string page = BuildZumvoReportPage(QueryZumvoReport(*db, Mar2026(20), Mar2026(20)),
                                                  Mar2026(20), Mar2026(20), HostResFolderURL());
    const auto rows = Rows(page);
    const auto trx = [&](std::int32_t basket, std::initializer_list<int> nths) {
        std::string ids;
        for (int n : nths)
            ids += Id(9000 + basket * 10 + n) + "<br>";
        return ids;
    };
    const std::string blank = "&nbsp;";
    const test::TPageRow expected[] = {
        {Id(failedFinalise), "10:00", "2026-03-20", "1003", CurrencyText(20.05), "-", CurrencyText(12.01),
         CurrencyText(8.04), "Brand One", "7", "1", "9<br>10<br>", trx(failedFinalise, {1, 2}),
         "Finalised<br>Failed to finalise<br>"},
        {Id(discountOnly), "10:30", "2026-03-20", "1004", CurrencyText(4.95), "-", CurrencyText(0),
         CurrencyText(5.05), "&lt;img src=x onerror=alert(1)&gt;&lt;/table&gt;", "7", "2", "11<br>",
         trx(discountOnly, {1}), "Finalised<br>"},
        {Id(failedCancel), blank, blank, blank, blank, blank, blank, blank, blank, blank, blank,
         "12<br>13<br>14<br>", trx(failedCancel, {1, 2, 3}),
         "Failed to cancel<br>Transaction Cancelled<br>Redeemed<br>"},
    };
    ASSERT_EQ(rows.size(), std::size(expected) + 1) << page; // and the heading row
    for (std::size_t i = 0; i < std::size(expected); ++i)
        EXPECT_EQ(rows[i + 1], expected[i]) << "row " << i + 1;
}

TEST_F(ReportTest, HeadingsAndEmptyPeriods) {
#ifdef _WIN32
    GTEST_SKIP() << "the page is checked in headless Chromium, which the Windows build does not have";
#endif
    struct TCase {
        TReportDate From, To;
        std::string Heading;
        std::size_t Rows;
    } cases[] = {
        {Mar2026(10), Mar2026(10), "Zumvo Baskets: 2026-03-10 ", 2},
        {Mar2026(12), Mar2026(12), "Zumvo Baskets: 2026-03-12 ", 3}, // 00:00:00 of the 12th and after
        {year(2025) / 1 / 1, year(2025) / 1 / 31, "Zumvo Baskets: 2025-01-01 - 2025-01-31 ", 1},
    };
    for (const auto& c : cases) {
        const std::string dom = DumpDom(Page(c.From, c.To));
        EXPECT_EQ(Between(dom, "<h2>", "</h2>"), c.Heading);
        EXPECT_EQ(Rows(dom).size(), c.Rows) << c.Heading;
    }
}

TEST(ReportRange, ButtonsCoverMondayToSundayWeeksAndWholeMonths) {
    struct TCase {
        TReportPeriod Period;
        TReportDate Today, From, To;
    } cases[] = {
        {TReportPeriod::Today, Mar2026(11), Mar2026(11), Mar2026(11)},
        {TReportPeriod::ThisWeek, Mar2026(11), Mar2026(9), Mar2026(15)},
        {TReportPeriod::ThisWeek, Mar2026(15), Mar2026(9), Mar2026(15)}, // a Sunday
        {TReportPeriod::ThisWeek, Mar2026(9), Mar2026(9), Mar2026(15)},  // a Monday
        {TReportPeriod::LastWeek, Mar2026(11), Mar2026(2), Mar2026(8)},
        {TReportPeriod::LastWeek, Mar2026(1), year(2026) / 2 / 16, year(2026) / 2 / 22},
        {TReportPeriod::ThisMonth, Mar2026(11), Mar2026(1), Mar2026(31)},
        {TReportPeriod::LastMonth, Mar2026(31), year(2026) / 2 / 1, year(2026) / 2 / 28},
        {TReportPeriod::LastMonth, year(2026) / 1 / 15, year(2025) / 12 / 1, year(2025) / 12 / 31},
        {TReportPeriod::LastMonth, year(2024) / 3 / 5, year(2024) / 2 / 1, year(2024) / 2 / 29},
    };
    for (const auto& c : cases) {
        const auto [from, to] = ReportRange(c.Period, c.Today);
        EXPECT_EQ(DateText(from) + " " + DateText(to), DateText(c.From) + " " + DateText(c.To))
            << static_cast<int>(c.Period) << " on " << DateText(c.Today);
    }
}

TEST_F(ReportTest, FormStartsOnThisMonthAndItsCustomRangeGoesToTheViewer) {
    TfrmZumvoReports form;
    const auto [first, last] = ReportRange(TReportPeriod::ThisMonth, Today());
    auto* from = form.findChild<QDateEdit*>("dtpFrom");
    auto* to = form.findChild<QDateEdit*>("dtpTo");
    ASSERT_TRUE(from && to);
    EXPECT_EQ(from->date().toString("yyyy-MM-dd").toStdString(), DateText(first));
    EXPECT_EQ(to->date().toString("yyyy-MM-dd").toStdString(), DateText(last));
    for (const char* name : {"btnToday", "btnThisWeek", "btnThisMonth", "btnLastWeek", "btnLastMonth"})
        EXPECT_NE(form.findChild<QPushButton*>(name), nullptr) << name;

    from->setDate(QDate(2026, 3, 11));
    to->setDate(QDate(2026, 3, 11));
    form.show();
    form.grab().save(QString::fromStdString((ScreenshotFolder() / "report_form.png").string()));
    QTest::mouseClick(form.findChild<QPushButton*>("btnCustomRange"), Qt::LeftButton);
    const auto lines = host.Context->Transcript.Lines();
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back().rfind("HTML: ", 0), 0u) << lines.back();
    std::ifstream in(lines.back().substr(6));
    const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_THAT(page, ::testing::HasSubstr("<h2>Zumvo Baskets: 2026-03-11 </h2>"));
    EXPECT_THAT(page, ::testing::HasSubstr("<td>" + Id(noInvoice) + "</td>"));
}

TEST_F(ReportTest, HostCommandRunsTheReportForScriptsAndRefusesUsersWithoutTheCode) {
    const auto granted = ProgramConfig("[Access]\nUser=Demo\nGroup=FRCH\n");
    const auto run = Program("BackOffice", granted, {"--report", "2026-03-10", "2026-03-11"});
    ASSERT_EQ(run.ExitCode(), 0) << run.Output;
    const auto at = run.Output.find("Report page: ");
    ASSERT_NE(at, std::string::npos) << run.Output;
    const std::filesystem::path page =
        run.Output.substr(at + 13, run.Output.find_first_of("\r\n", at) - at - 13);
#ifdef _WIN32
    EXPECT_TRUE(std::filesystem::exists(page)) << page; // no Chromium in the Windows build
#else
    const auto rows = Rows(DumpDom(page));
    EXPECT_EQ(rows.size(), 6u);
    Screenshot(page, "report_page_backoffice.png");
#endif

    struct TBad {
        std::vector<std::string> Args;
        std::string Error;
    } bad[] = {{{"--report", "2026-03-11", "2026-03-10"}, "2026-03-11 is after 2026-03-10"},
               {{"--report", "2026-02-30", "2026-03-10"}, "'2026-02-30' is not a date"},
               {{"--report", "yesterday"}, "unknown period 'yesterday'"},
               {{"--report", "2026-03-10"}, "needs a value"}};
    for (const auto& b : bad) {
        const auto r = Program("BackOffice", granted, b.Args);
        EXPECT_NE(r.ExitCode(), 0) << ::testing::PrintToString(b.Args);
        EXPECT_THAT(r.Output, ::testing::HasSubstr(b.Error)) << ::testing::PrintToString(b.Args);
    }

    const auto refused = ProgramConfig("[Access]\nUser=Clerk\nGroup=FRCH\n[Users]\nClerk=TILL\n");
    const auto no = Program("BackOffice", refused, {"--report", "today"});
    EXPECT_EQ(no.ExitCode(), 3) << no.Output;
    EXPECT_THAT(no.Output,
                ::testing::HasSubstr("Access denied: Clerk does not hold the access code AM012 (To View "
                                     "Zumvo Payment Transactions)."));
    EXPECT_THAT(no.Output, ::testing::Not(::testing::HasSubstr("Report page: ")));
    const auto lines = TranscriptLines();
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(), [](const auto& l) { return l.rfind("HTML: ", 0) == 0; }), 1)
        << "only the granted run wrote a page";
}
