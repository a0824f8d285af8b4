#include "clsHeldFundsReport.h"

#include "clsZumvoReport.h"

#include <fmt/format.h>

namespace zumvo {

const char* const HeldFundsColumns[13] = {"Transaction",  "Basket",     "Invoice", "Till",      "Code",
                                          "Provider No",  "Amount",     "Status",  "Age (min)", "Attempts",
                                          "Last Attempt", "Last Error", "Needs"};

std::string HeldFundsAction(const THeldRow& row) {
    if (row.Kind == THeldKind::InProgress)
        return "Nothing yet (sale in progress)";
    if (row.Kind == THeldKind::RefundOwed)
        return "A person: refund the customer";
    if (row.Kind == THeldKind::AskProvider)
        return fmt::format("A person: ask Zumvo whether it holds code {} under reference {} (sent {}, "
                           "{:.2f}); if it does, have it given back",
                           row.Code.empty() ? "-" : row.Code, row.Reference.empty() ? "-" : row.Reference,
                           row.Created.empty() ? "-" : row.Created, row.Amount);
    if (row.BudgetSpent)
        return "A person: retries spent";
    return row.Kind == THeldKind::FinaliseFailed ? "FINALISE again" : "REVERSE";
}

std::vector<std::string> HeldFundsCells(const THeldRow& row) {
    const auto number = [](std::int32_t n) { return n < 0 ? std::string("-") : std::to_string(n); };
    return {std::to_string(row.ID),
            number(row.BasketID),
            number(row.InvoiceNum),
            number(row.TillID),
            row.Code.empty() ? "-" : row.Code,
            row.TvTrxID ? std::to_string(*row.TvTrxID) : "-",
            fmt::format("{:.2f}", row.Amount),
            HeldKindText(row.Kind),
            std::to_string(row.AgeMinutes),
            std::to_string(row.Attempts),
            row.LastAttempt.empty() ? "-" : row.LastAttempt,
            row.LastError.empty() ? "-" : row.LastError,
            HeldFundsAction(row)};
}

std::string BuildHeldFundsPage(const std::vector<THeldRow>& rows, const std::string& resFolderURL) {
    std::string page = "<html><head><base href=\"" + HtmlEscape(resFolderURL) + "\">";
    page += "<link href=\"CashupLists.css\" rel=\"stylesheet\" /></head><body> ";
    page += "<h1>Zumvo Held Funds</h1>";
    if (rows.empty())
        return page + "<p>No transaction holds funds.</p></body></html>";
    page += "<h2>" + std::to_string(rows.size()) + " transaction(s) may hold a customer's money</h2>";
    page += "<table border=1 style=\"border:1px solid black\"><tr style=\"padding:5px\">";
    for (const char* header : HeldFundsColumns)
        page += std::string("<th>") + header + "</th>";
    page += "</tr>";
    for (const THeldRow& row : rows) {
        page += "<tr>";
        for (const std::string& cell : HeldFundsCells(row))
            page += "<td>" + HtmlEscape(cell) + "</td>";
        page += "</tr>";
    }
    return page + "</table></body></html>";
}

} // namespace zumvo
