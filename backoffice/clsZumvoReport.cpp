#include "clsZumvoReport.h"

#include "clsDBAccess.h"
#include "clsTransactionStatus.h"
#include "clsVoucherReturn.h" // MoneyText: the system's money format

#include <QUrl>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace zumvo {

namespace {

using namespace std::chrono;

const char* const BasketQuery =
    "SELECT WPB.ID AS BasketID, WPB.Timestamp_Created AS Basket_Started, WPB.TotalAmount AS BasketAmount, "
    "WPB.InvoiceNum, I.fkTillID AS TillRungUp, I.STATUS AS InvoiceStatus, I.AFTERDISC AS InvoiceTotal, "
    "I.SHIFTNUM AS InvoiceShift, I.DATE AS InvoiceDate, ISNULL( IP.Amount, 0 ) AS PaymentAmount, "
    "WPB.TotalAmount - ISNULL( IP.Amount, 0 ) AS DiscountAmount, TP.POSTED AS TillPosted, TP.TILLID AS "
    "TillPaid, "
    "ISNULL( B.Description, '-' ) AS BrandDesc, B.Code AS BrandCode "
    "FROM ZumvoPaymentBasket WPB "
    "LEFT JOIN INVOICES I ON I.INVOICENUM = WPB.InvoiceNum "
    "LEFT JOIN TILLPOST TP ON TP.SHIFTNUM = I.SHIFTNUM "
    "LEFT JOIN InvoicesPayment IP ON IP.InvoiceNum = I.INVOICENUM AND IP.PaymentType = 'Zumvo' "
    "LEFT JOIN TILLS T ON T.TillID = I.fkTillID "
    "LEFT JOIN TillsBrand TB ON TB.TillID = T.TILLSID "
    "LEFT JOIN Brands B ON B.BrandID = TB.BrandID "
    "WHERE WPB.Timestamp_Created BETWEEN '%s' AND DATEADD( DAY, 1, '%s' ) "
    "ORDER BY WPB.ID";

const char* const TransactionQuery =
    "SELECT ID, Timestamp_Created, Timestamp_Payment, Timestamp_Finalised, ISNULL( tvTrxID, '' ) tvTrxID, "
    "Amount, Status, BasketID FROM ZumvoPaymentTransactions WHERE BasketID IN ( %s ) ORDER BY BasketID, ID";

const char* const HeaderCells[] = {
    "Basket ID", "Time",  "Date",      "InvoiceNum", "Invoice Total",     "Invoice Status", "Payments",
    "Discounts", "Brand", "Shift Num", "Till",       "Transactions: ID ", "tvTrxID",        "Status"};

const char* const BlankCell = "<td>&nbsp;</td>";

sys_days Days(TReportDate d) {
    return sys_days(d);
}

// A value as the page shows it: its text, escaped; null and non-scalars as nothing.
std::string Plain(const TJSONValue& v) {
    if (v.IsNull() || v.IsObject() || v.IsArray())
        return {};
    return HtmlEscape(v.AsString());
}

void Cell(std::string& page, const std::string& escaped) {
    page += "<td>";
    page += escaped.empty() ? "&nbsp;" : escaped;
    page += "</td>";
}

// The two parts of an ISO 8601 date and time ("2026-05-01T10:15:00", with T or a blank):
// "10:15" and "2026-05-01". Empty texts when the value is not such a date.
std::pair<std::string, std::string> TimeAndDate(const TJSONValue& v) {
    if (!v.IsString())
        return {};
    const std::string s = v.AsString();
    const auto digits = [&](std::size_t from, std::size_t n) {
        for (std::size_t k = from; k < from + n; ++k)
            if (k >= s.size() || s[k] < '0' || s[k] > '9')
                return false;
        return true;
    };
    if (!(digits(0, 4) && s[4] == '-' && digits(5, 2) && s[7] == '-' && digits(8, 2)))
        return {};
    std::string time;
    if (s.size() >= 16 && (s[10] == 'T' || s[10] == ' ') && digits(11, 2) && s[13] == ':' && digits(14, 2))
        time = s.substr(11, 5);
    else if (s.size() == 10)
        time = "00:00";
    return {time, s.substr(0, 10)};
}

std::string Money(const TJSONValue& v) {
    return v.IsNumber() || v.IsString() ? HtmlEscape(MoneyText(v.AsFloat(0))) : std::string();
}

// A provider number that came back as the empty text (a null one) counts as 0, as the integer
// column type makes of it on SQL Server.
std::string ProviderNumber(const TJSONValue& v) {
    const std::string text = v.IsNull() ? std::string() : Plain(v);
    return text.empty() ? "0" : text;
}

void WriteBasketRow(std::string& page, const TJSONValue& row, const std::vector<int>* transactions,
                    const TJSONDocument& all) {
    page += "<tr style=\"vertical-align:top\">";
    Cell(page, Plain(row["BasketID"]));
    if (row["InvoiceNum"].IsNull()) {
        for (int k = 0; k < 10; ++k)
            page += BlankCell;
    } else {
        const auto [time, date] = TimeAndDate(row["InvoiceDate"]);
        Cell(page, time);
        Cell(page, date);
        Cell(page, Plain(row["InvoiceNum"]));
        Cell(page, Money(row["InvoiceTotal"]));
        const TJSONValue status = row["InvoiceStatus"];
        Cell(page, status.IsNull() ? std::string() : HtmlEscape(InvoiceStatusText(status.AsInteger(-99))));
        Cell(page, Money(row["PaymentAmount"]));
        Cell(page, Money(row["DiscountAmount"]));
        Cell(page, Plain(row["BrandDesc"]));
        Cell(page, Plain(row["InvoiceShift"]));
        Cell(page, Plain(row["TillRungUp"]));
    }
    std::string ids, numbers, statuses;
    if (transactions)
        for (int index : *transactions) {
            const TJSONValue trx = all[index];
            ids += Plain(trx["ID"]) + "<br>";
            numbers += ProviderNumber(trx["tvTrxID"]) + "<br>";
            statuses += HtmlEscape(TransactionStatusText(trx["Status"].AsInteger(-99))) + "<br>";
        }
    page += "<td>" + ids + "</td><td>" + numbers + "</td><td>" + statuses + "</td>";
    page += "</tr>";
}

} // namespace

std::pair<TReportDate, TReportDate> ReportRange(TReportPeriod period, TReportDate today) {
    const sys_days day = Days(today);
    const sys_days monday = day - days((weekday(day).c_encoding() + 6) % 7);
    const year_month thisMonth = today.year() / today.month();
    const auto monthRange = [](year_month ym) {
        return std::pair{TReportDate(ym / 1), TReportDate(ym / last)};
    };
    switch (period) {
    case TReportPeriod::Today:
        return {today, today};
    case TReportPeriod::ThisWeek:
        return {TReportDate(monday), TReportDate(monday + days(6))};
    case TReportPeriod::LastWeek:
        return {TReportDate(monday - days(7)), TReportDate(monday - days(1))};
    case TReportPeriod::ThisMonth:
        return monthRange(thisMonth);
    case TReportPeriod::LastMonth:
        return monthRange(thisMonth - months(1));
    }
    throw std::invalid_argument("unknown report period");
}

TReportDate Today() {
    const auto now = system_clock::to_time_t(system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    return TReportDate(year(local.tm_year + 1900), month(unsigned(local.tm_mon + 1)),
                       day(unsigned(local.tm_mday)));
}

std::string DateText(TReportDate date) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u", int(date.year()), unsigned(date.month()),
                  unsigned(date.day()));
    return buffer;
}

TZumvoReportData QueryZumvoReport(pallux::IDBScript& db, TReportDate from, TReportDate to) {
    TZumvoReportData data;
    data.Baskets = QueryRows(db, BasketQuery, {DateText(from), DateText(to)});
    std::string list;
    for (int i = 0; i < data.Baskets._Count(); ++i) {
        if (!list.empty())
            list += ',';
        list += data.Baskets[i]["BasketID"].AsString();
    }
    if (!list.empty())
        data.Transactions = QueryRows(db, TransactionQuery, {list});
    return data;
}

std::string BuildZumvoReportPage(const TZumvoReportData& data, TReportDate from, TReportDate to,
                                 const std::string& resFolderURL, std::string* partial) {
    // The transactions of each basket, by basket ID, in query order.
    std::unordered_map<std::string, std::vector<int>> byBasket;
    const int transactionCount = data.Transactions._Count();
    for (int i = 0; i < transactionCount; ++i)
        byBasket[data.Transactions[i]["BasketID"].AsString("")].push_back(i);

    std::string page;
    page.reserve(512 + static_cast<std::size_t>(data.Baskets._Count()) * 400);
    page += "<html><head><base href=\"" + HtmlEscape(resFolderURL) + "\">";
    page += "<link href=\"CashupLists.css\" rel=\"stylesheet\" /></head>";
    page += "<body> ";
    page += "<h1>Zumvo Payment Transactions</h1>";
    if (from == to)
        page += "<h2>Zumvo Baskets: " + DateText(from) + " </h2>";
    else
        page += "<h2>Zumvo Baskets: " + DateText(from) + " - " + DateText(to) + " </h2>";
    page += "<table border=1 style=\"border:1px solid black\">";
    page += "<tr style=\"padding:5px\">";
    for (const char* header : HeaderCells)
        page += std::string("<th>") + header + "</th>";
    page += "</tr>";

    const auto close = [&] { page += "</table></body></html>"; };
    try {
        const int basketCount = data.Baskets._Count();
        for (int i = 0; i < basketCount; ++i) {
            const TJSONValue row = data.Baskets[i];
            const auto found = byBasket.find(row["BasketID"].AsString(""));
            WriteBasketRow(page, row, found == byBasket.end() ? nullptr : &found->second, data.Transactions);
        }
    } catch (...) {
        close();
        if (partial)
            *partial = page;
        throw;
    }
    close();
    return page;
}

std::string HostResFolderURL() {
    std::error_code ec;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", ec);
    const auto folder = (program.parent_path() / "Res").string() + "/";
    return QUrl::fromLocalFile(QString::fromStdString(folder)).toString(QUrl::FullyEncoded).toStdString();
}

std::string InvoiceStatusText(int status) {
    switch (status) {
    case 0:
        return "-";
    case 1:
    case 2:
        return "O/R";
    default:
        return {};
    }
}

std::string TransactionStatusText(int status) {
    const auto known = ToTransactionStatus(status);
    if (!known)
        return {};
    switch (*known) {
    case TTransactionStatus::Started:
        return "Started";
    case TTransactionStatus::Redeemed:
        return "Redeemed";
    case TTransactionStatus::Finalised:
        return "Finalised";
    case TTransactionStatus::Cancelled:
        return "Transaction Cancelled";
    case TTransactionStatus::FinaliseFailed:
        return "Failed to finalise";
    case TTransactionStatus::CancelFailed:
        return "Failed to cancel";
    }
    return {};
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace zumvo
