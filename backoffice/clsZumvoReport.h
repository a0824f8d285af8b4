// The Zumvo transaction report without its window: the period a button stands for, the two
// queries, and the HTML page built from their rows.
#pragma once

#include "JsonDocument.h"
#include "intfDBScript.h"

#include <chrono>
#include <string>
#include <utility>

namespace zumvo {

using TReportDate = std::chrono::year_month_day;

// The periods of the report form's buttons; weeks run Monday to Sunday.
enum class TReportPeriod { Today, ThisWeek, LastWeek, ThisMonth, LastMonth };

// First and last day of the period, as seen on the given day.
std::pair<TReportDate, TReportDate> ReportRange(TReportPeriod period, TReportDate today);
// The machine clock's date.
TReportDate Today();
// "yyyy-mm-dd".
std::string DateText(TReportDate date);

// The rows the page is built from.
struct TZumvoReportData {
    // One row per joined basket row, ordered by basket ID (the basket query's columns).
    TJSONDocument Baskets = TJSONDocument::NewArray();
    // Every transaction of those baskets, ordered by basket ID and ID; an empty array when the
    // period has no baskets (the transaction query is then not run).
    TJSONDocument Transactions = TJSONDocument::NewArray();
};

// Runs the basket query for baskets created from the start of `from` up to the start of the
// day after `to` (inclusive), then the transaction query for their IDs, ReportBasketsPerQuery
// baskets at a time. Raises what the database raises.
TZumvoReportData QueryZumvoReport(pallux::IDBScript& db, TReportDate from, TReportDate to);

// The transactions are asked for this many baskets at a time: a list of every basket of a long
// period is more than SQL Server accepts in one IN ( … ).
inline constexpr int ReportBasketsPerQuery = 1000;

// Builds the page. Every value taken from the rows is escaped, so texts from the database or
// the brand service show as text. resFolderURL is the base the style sheet is found under
// ("file:///opt/pallux/Res/"). If a row cannot be written, the page is closed and handed to
// `partial` (when given) before the error is raised again.
std::string BuildZumvoReportPage(const TZumvoReportData& data, TReportDate from, TReportDate to,
                                 const std::string& resFolderURL, std::string* partial = nullptr);

// The base URL of the host's style sheets: the host program's Res folder (HostResFolder) and "/".
std::string HostResFolderURL();

// Texts of an invoice status (0 "-", 1 and 2 "O/R") and of a transaction status; empty for
// other codes.
std::string InvoiceStatusText(int status);
std::string TransactionStatusText(int status);

// Text with &, <, >, " and ' replaced by their entities.
std::string HtmlEscape(std::string_view text);

} // namespace zumvo
