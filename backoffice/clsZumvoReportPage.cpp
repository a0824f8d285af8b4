// The report's HTML page, built from the rows of its two queries.
#include "clsZumvoReport.h"

#include "clsSysUtils.h" // SameText
#include "clsTransactionStatus.h"
#include "clsVoucherReturn.h" // AppendCurrencyText: the system's money format

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace zumvo {

namespace {

const char* const HeaderCells[] = {
    "Basket ID", "Time",  "Date",      "InvoiceNum", "Invoice Total",     "Invoice Status", "Payments",
    "Discounts", "Brand", "Shift Num", "Till",       "Transactions: ID ", "tvTrxID",        "Status"};

const char* const BlankCell = "<td>&nbsp;</td>";

using rapidjson::Value;

void AppendEscaped(std::string& out, std::string_view text) {
    std::size_t plain = 0; // start of the run not yet written
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char* entity = nullptr;
        switch (text[k]) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '"':
            entity = "&quot;";
            break;
        case '\'':
            entity = "&#39;";
            break;
        default:
            continue;
        }
        out.append(text, plain, k - plain);
        out += entity;
        plain = k + 1;
    }
    out.append(text, plain);
}

template <class T> void AppendNumber(std::string& out, T number) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
}

// The rows of one query result as the page reads them. A row's members are looked up by name
// (ASCII case ignored, the first of that name) once per layout: while a row's member names are
// those of the row before, as in every row of one result, the positions found are reused.
// Values of the usual kinds are read directly; others go through TJSONValue, whose conversions
// decide what the page shows.
template <std::size_t N> class TRows {
public:
    TRows(const TJSONDocument& doc, const std::array<std::string_view, N>& names)
        : FDoc(doc), FRoot(doc.Root().RawNode()), FNames(names), FCount(doc._Count()) {}

    int Count() const { return FCount; }

    using TPositions = std::array<int, N>;

    void Select(int index) {
        SelectRow(index);
        if (FRow != nullptr && !SameLayout(*FRow))
            Locate(*FRow);
    }
    // The members' positions in the selected row (-1: missing), for selecting it again.
    const TPositions& Positions() const { return FAt; }
    void Select(int index, const TPositions& positions) {
        SelectRow(index);
        FAt = positions;
    }

    // The selected row's member for names[column]; nullptr when it has none.
    const Value* Raw(std::size_t column) const {
        return FRow == nullptr || FAt[column] < 0 ? nullptr : &(FRow->MemberBegin() + FAt[column])->value;
    }
    // The same member through the document.
    TJSONValue Handle(std::size_t column) const {
        return FRow == nullptr || FAt[column] < 0 ? TJSONValue() : FDoc[FIndex][FAt[column]];
    }

    bool IsNull(std::size_t column) const {
        const Value* v = Raw(column);
        return v == nullptr || v->IsNull();
    }
    // TJSONValue::AsInteger(fallback).
    int Integer(std::size_t column, int fallback) const {
        const Value* v = Raw(column);
        if (v != nullptr && v->IsInt())
            return v->GetInt();
        return v == nullptr ? fallback : Handle(column).AsInteger(fallback);
    }
    // Appends TJSONValue::AsString("") of the member; with `escaped`, HTML-escaped.
    void AppendText(std::string& out, std::size_t column, bool escaped) const {
        const Value* v = Raw(column);
        if (v == nullptr || v->IsNull() || v->IsObject() || v->IsArray())
            return;
        if (v->IsString()) {
            const std::string_view text(v->GetString(), v->GetStringLength());
            if (escaped)
                AppendEscaped(out, text);
            else
                out += text;
        } else if (v->IsInt64()) {
            AppendNumber(out, v->GetInt64());
        } else if (v->IsUint64()) {
            AppendNumber(out, v->GetUint64());
        } else if (v->IsBool()) {
            out += v->GetBool() ? "true" : "false";
        } else {
            out += Handle(column).AsString(""); // a fraction: the document's number text
        }
    }

private:
    void SelectRow(int index) {
        FIndex = index;
        const Value* row = nullptr;
        if (FRoot != nullptr && FRoot->IsArray())
            row = &(*FRoot)[static_cast<rapidjson::SizeType>(index)];
        else if (FRoot != nullptr && FRoot->IsObject())
            row = &(FRoot->MemberBegin() + index)->value;
        FRow = row != nullptr && row->IsObject() ? row : nullptr;
    }

    bool SameLayout(const Value& row) const {
        if (row.MemberCount() != FLayout.size())
            return false;
        auto member = row.MemberBegin();
        for (std::string_view name : FLayout) {
            // By hand: names are short, a call to memcmp costs more than the comparison.
            const char* text = member->name.GetString();
            if (member->name.GetStringLength() != name.size())
                return false;
            for (char c : name)
                if (*text++ != c)
                    return false;
            ++member;
        }
        return true;
    }

    void Locate(const Value& row) {
        FLayout.clear();
        for (auto m = row.MemberBegin(); m != row.MemberEnd(); ++m)
            FLayout.emplace_back(m->name.GetString(), m->name.GetStringLength());
        for (std::size_t column = 0; column < N; ++column) {
            const auto found = std::find_if(FLayout.begin(), FLayout.end(), [&](std::string_view name) {
                return pallux::SameText(name, FNames[column]);
            });
            FAt[column] = found == FLayout.end() ? -1 : int(found - FLayout.begin());
        }
    }

    const TJSONDocument& FDoc;
    const Value* FRoot;
    std::array<std::string_view, N> FNames;
    int FCount;
    std::vector<std::string_view> FLayout; // member names of the row the positions were found in
    TPositions FAt{};
    const Value* FRow = nullptr;
    int FIndex = 0;
};

enum TBasketColumn : std::size_t {
    bcBasketID,
    bcInvoiceNum,
    bcInvoiceDate,
    bcInvoiceTotal,
    bcInvoiceStatus,
    bcPaymentAmount,
    bcDiscountAmount,
    bcBrandDesc,
    bcInvoiceShift,
    bcTillRungUp
};
constexpr std::array<std::string_view, 10> BasketColumns = {
    "BasketID",      "InvoiceNum",     "InvoiceDate", "InvoiceTotal", "InvoiceStatus",
    "PaymentAmount", "DiscountAmount", "BrandDesc",   "InvoiceShift", "TillRungUp"};

enum TTransactionColumn : std::size_t { tcID, tcTvTrxID, tcStatus, tcBasketID };
constexpr std::array<std::string_view, 4> TransactionColumns = {"ID", "tvTrxID", "Status", "BasketID"};

using TBasketRows = TRows<BasketColumns.size()>;
using TTransactionRows = TRows<TransactionColumns.size()>;

// A cell holding what `write` appends, or a blank when that is nothing.
template <class F> void Cell(std::string& page, F&& write) {
    page += "<td>";
    const std::size_t start = page.size();
    write();
    if (page.size() == start)
        page += "&nbsp;";
    page += "</td>";
}

// The two parts of an ISO 8601 date and time ("2026-05-01T10:15:00", with T or a blank):
// "10:15" and "2026-05-01". Empty texts when the value is not such a date.
std::pair<std::string_view, std::string_view> TimeAndDate(const Value* v) {
    if (v == nullptr || !v->IsString())
        return {};
    const std::string_view s(v->GetString(), v->GetStringLength());
    const auto digits = [&](std::size_t from, std::size_t n) {
        for (std::size_t k = from; k < from + n; ++k)
            if (k >= s.size() || s[k] < '0' || s[k] > '9')
                return false;
        return true;
    };
    if (!(digits(0, 4) && s[4] == '-' && digits(5, 2) && s[7] == '-' && digits(8, 2)))
        return {};
    std::string_view time;
    if (s.size() >= 16 && (s[10] == 'T' || s[10] == ' ') && digits(11, 2) && s[13] == ':' && digits(14, 2))
        time = s.substr(11, 5);
    else if (s.size() == 10)
        time = "00:00";
    return {time, s.substr(0, 10)};
}

// A money cell: the amount of a number, or of a text holding one (0 otherwise), in the system's
// money format; nothing for other values.
void AppendMoney(std::string& page, const TBasketRows& rows, std::size_t column, std::string& scratch) {
    const Value* v = rows.Raw(column);
    if (v == nullptr || !(v->IsNumber() || v->IsString()))
        return;
    scratch.clear();
    AppendCurrencyText(scratch, v->IsNumber() ? v->GetDouble() : rows.Handle(column).AsFloat(0));
    AppendEscaped(page, scratch);
}

std::string_view InvoiceStatusName(int status) {
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

std::string_view TransactionStatusName(int status) {
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

// Each basket's transactions in query order, found by the text of the basket ID as
// TJSONValue::AsString("") gives it on both sides. The query orders them by basket ID: when every
// basket ID is a whole number and they come in runs of rising IDs, a basket's run is found next to
// the one found last or by binary search; otherwise through a hash map of the texts.
class TTransactionsByBasket {
public:
    explicit TTransactionsByBasket(TTransactionRows& rows) {
        FPositions.reserve(std::size_t(rows.Count()));
        for (int i = 0; i < rows.Count(); ++i) {
            rows.Select(i);
            FPositions.push_back(rows.Positions());
            const Value* id = rows.Raw(tcBasketID);
            if (!FRising || id == nullptr || !id->IsInt64()) {
                FRising = false;
            } else if (!FRuns.empty() && FRuns.back().ID == id->GetInt64()) {
                ++FRuns.back().Count; // the rows before are this run's: i is the next index
            } else if (FRuns.empty() || FRuns.back().ID < id->GetInt64()) {
                FRuns.push_back({id->GetInt64(), i, 1});
            } else {
                FRising = false;
            }
        }
        if (!FRising)
            IndexTexts(rows);
    }

    // Selects each transaction of the basket selected in `basket` in turn and calls `visit`.
    template <class F>
    void ForEach(const TBasketRows& basket, TTransactionRows& rows, std::string& key, F&& visit) const {
        const Value* id = basket.Raw(bcBasketID);
        const bool whole = id != nullptr && id->IsInt64();
        key.clear();
        if (!FRising || !whole)
            basket.AppendText(key, bcBasketID, false);
        if (FRising) {
            std::int64_t number = 0;
            if (whole)
                number = id->GetInt64();
            else if (!WholeNumberText(key, number))
                return;
            if (const TRun* run = Find(number))
                for (int i = run->First; i < run->First + run->Count; ++i) {
                    rows.Select(i, FPositions[std::size_t(i)]);
                    visit();
                }
            return;
        }
        const auto found = FRanges.find(key);
        for (int i = found == FRanges.end() ? -1 : found->second.first; i >= 0; i = FNext[std::size_t(i)]) {
            rows.Select(i, FPositions[std::size_t(i)]);
            visit();
        }
    }

private:
    struct TRun {
        std::int64_t ID;
        int First, Count;
    };

    void IndexTexts(TTransactionRows& rows) {
        FNext.assign(FPositions.size(), -1);
        FRanges.reserve(FPositions.size());
        std::string key;
        for (int i = 0; i < rows.Count(); ++i) {
            rows.Select(i, FPositions[std::size_t(i)]);
            key.clear();
            rows.AppendText(key, tcBasketID, false);
            const auto [range, added] = FRanges.try_emplace(key, i, i);
            if (!added) {
                FNext[std::size_t(range->second.second)] = i;
                range->second.second = i;
            }
        }
    }

    // True when `text` is the text of a whole number, as an integer ID is written.
    static bool WholeNumberText(const std::string& text, std::int64_t& number) {
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, number);
        if (ec != std::errc() || ptr != end)
            return false;
        std::string canonical;
        AppendNumber(canonical, number);
        return canonical == text; // "017" or "+17" are other texts
    }

    const TRun* Find(std::int64_t id) const {
        // Baskets come in the order of their IDs too: try where the last search ended.
        for (std::size_t at = FCursor; at < FRuns.size() && at < FCursor + 2; ++at)
            if (FRuns[at].ID == id) {
                FCursor = at;
                return &FRuns[at];
            }
        const auto found = std::lower_bound(FRuns.begin(), FRuns.end(), id,
                                            [](const TRun& r, std::int64_t v) { return r.ID < v; });
        if (found == FRuns.end() || found->ID != id)
            return nullptr;
        FCursor = std::size_t(found - FRuns.begin());
        return &*found;
    }

    std::vector<TTransactionRows::TPositions> FPositions;
    bool FRising = true;
    std::vector<TRun> FRuns;
    mutable std::size_t FCursor = 0;
    std::unordered_map<std::string, std::pair<int, int>> FRanges; // first and last index by text
    std::vector<int> FNext;
};

// Appends one table row; `scratch` holds texts between rows so that they keep their capacity.
struct TRowScratch {
    std::string Key, Money, IDs, Numbers, Statuses;
};

void WriteBasketRow(std::string& page, const TBasketRows& row, TTransactionRows& transactions,
                    const TTransactionsByBasket& byBasket, TRowScratch& scratch) {
    page += "<tr style=\"vertical-align:top\">";
    Cell(page, [&] { row.AppendText(page, bcBasketID, true); });
    if (row.IsNull(bcInvoiceNum)) {
        for (int k = 0; k < 10; ++k)
            page += BlankCell;
    } else {
        const auto timeAndDate = TimeAndDate(row.Raw(bcInvoiceDate));
        Cell(page, [&] { page += timeAndDate.first; });
        Cell(page, [&] { page += timeAndDate.second; });
        Cell(page, [&] { row.AppendText(page, bcInvoiceNum, true); });
        Cell(page, [&] { AppendMoney(page, row, bcInvoiceTotal, scratch.Money); });
        Cell(page, [&] {
            if (!row.IsNull(bcInvoiceStatus))
                AppendEscaped(page, InvoiceStatusName(row.Integer(bcInvoiceStatus, -99)));
        });
        Cell(page, [&] { AppendMoney(page, row, bcPaymentAmount, scratch.Money); });
        Cell(page, [&] { AppendMoney(page, row, bcDiscountAmount, scratch.Money); });
        Cell(page, [&] { row.AppendText(page, bcBrandDesc, true); });
        Cell(page, [&] { row.AppendText(page, bcInvoiceShift, true); });
        Cell(page, [&] { row.AppendText(page, bcTillRungUp, true); });
    }
    scratch.IDs.clear();
    scratch.Numbers.clear();
    scratch.Statuses.clear();
    byBasket.ForEach(row, transactions, scratch.Key, [&] {
        transactions.AppendText(scratch.IDs, tcID, true);
        scratch.IDs += "<br>";
        // A provider number that came back as the empty text (a null one) counts as 0, as the
        // integer column type makes of it on SQL Server.
        const std::size_t number = scratch.Numbers.size();
        transactions.AppendText(scratch.Numbers, tcTvTrxID, true);
        if (scratch.Numbers.size() == number)
            scratch.Numbers += '0';
        scratch.Numbers += "<br>";
        AppendEscaped(scratch.Statuses, TransactionStatusName(transactions.Integer(tcStatus, -99)));
        scratch.Statuses += "<br>";
    });
    page += "<td>";
    page += scratch.IDs;
    page += "</td><td>";
    page += scratch.Numbers;
    page += "</td><td>";
    page += scratch.Statuses;
    page += "</td></tr>";
}

} // namespace

std::string BuildZumvoReportPage(const TZumvoReportData& data, TReportDate from, TReportDate to,
                                 const std::string& resFolderURL, std::string* partial) {
    TBasketRows baskets(data.Baskets, BasketColumns);
    TTransactionRows transactions(data.Transactions, TransactionColumns);
    const TTransactionsByBasket byBasket(transactions);

    std::string page;
    page.reserve(1024 + static_cast<std::size_t>(baskets.Count()) * 300 +
                 static_cast<std::size_t>(transactions.Count()) * 40);
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
        TRowScratch scratch;
        for (int i = 0; i < baskets.Count(); ++i) {
            baskets.Select(i);
            WriteBasketRow(page, baskets, transactions, byBasket, scratch);
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

std::string InvoiceStatusText(int status) {
    return std::string(InvoiceStatusName(status));
}

std::string TransactionStatusText(int status) {
    return std::string(TransactionStatusName(status));
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

} // namespace zumvo
