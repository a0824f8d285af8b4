#include "LedgerAudit.h"

#include <httplib.h>
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace zumvo::test {

namespace {

struct TAllowed {
    std::vector<std::string> States; // ledger states this status allows
    bool MayLackEntry = false;       // the provider may never have accepted the row
};

// The table of the header, by stored status.
std::map<int, TAllowed> AllowedStates() {
    return {
        {1, {{"held"}, false}},    {2, {{"settled"}, false}},          {-1, {{"released"}, true}},
        {0, {{"released"}, true}}, {-2, {{"held", "settled"}, false}}, {-3, {{"held", "settled"}, false}}};
}

bool NotesUnknownOutcome(const std::string& response) {
    if (response.empty())
        return false;
    try {
        const TJSONDocument data = TJSONDocument::Parse(response);
        return data.IsObject() && data["Outcome"].AsString("") == "Unknown";
    } catch (const std::exception&) {
        return false;
    }
}

// The row number a transaction reference "<store>-<row>" names; -1 for another store's or none.
std::int32_t RowOfReference(const std::string& trxId, const std::string& prefix) {
    if (trxId.rfind(prefix, 0) != 0)
        return -1;
    std::int32_t row = -1;
    const char* begin = trxId.data() + prefix.size();
    const char* end = trxId.data() + trxId.size();
    const auto [ptr, ec] = std::from_chars(begin, end, row);
    return ec == std::errc() && ptr == end && begin != end ? row : -1;
}

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& s : items)
        out += (out.empty() ? "" : " or ") + s;
    return out;
}

} // namespace

std::string LedgerMismatches(const TJSONDocument& rows, const TJSONDocument& ledger, std::int32_t storeID,
                             const std::set<std::int32_t>& listed) {
    std::ostringstream out;
    const std::string prefix = std::to_string(storeID) + "-";
    // Ledger entries by the row their reference names.
    std::multimap<std::int32_t, int> entriesOfRow;
    for (int i = 0; i < ledger._Count(); ++i) {
        const std::int32_t row = RowOfReference(ledger[i]["trxId"].AsString(""), prefix);
        if (row >= 0)
            entriesOfRow.emplace(row, i);
    }

    const auto allowed = AllowedStates();
    std::map<std::int32_t, bool> rowSeen;
    for (int r = 0; r < rows._Count(); ++r) {
        const TJSONValue row = rows[r];
        const std::int32_t id = row["ID"].AsInteger(-1);
        const int status = row["Status"].AsInteger(0);
        rowSeen[id] = true;
        auto rule = allowed.find(status);
        if (rule == allowed.end()) {
            out << "row " << id << ": unknown status " << status << "\n";
            continue;
        }
        // A request without a readable answer: the row is listed to be reversed by reference,
        // so the provider may hold money for it, and it has no provider number to compare. So too
        // once such a reversal went unanswered ("failed to cancel", still without a number).
        // The note has a column of its own (RequestNote); databases from before kept it in Response.
        const auto notes = [&](const char* column) {
            return row.Exists(column) && !row[column].IsNull() &&
                   NotesUnknownOutcome(row[column].AsString(""));
        };
        const bool unknown = notes("RequestNote") || notes("Response");
        const bool noNumber = row["tvTrxID"].IsNull() || !row.Exists("tvTrxID");
        const TAllowed unknownStarted{{"released", "held"}, true};
        const bool byReference = unknown && (status == 0 || (status == -3 && noNumber));
        // A code accepted on a sale the list shows still open: held until its till keeps it or
        // the sale is given back.
        const TAllowed acceptedOpen{{"held", "released"}, false};
        const bool acceptedListed = status == 0 && !noNumber && listed.count(id) > 0;
        const TAllowed& allowedHere = byReference      ? unknownStarted
                                      : acceptedListed ? acceptedOpen
                                                       : rule->second;
        const auto [first, last] = entriesOfRow.equal_range(id);
        const auto count = std::distance(first, last);
        if (count == 0) {
            if (!allowedHere.MayLackEntry)
                out << "row " << id << " (status " << status << "): the provider has no transaction for it\n";
            continue;
        }
        if (count > 1)
            out << "row " << id << ": " << count << " provider transactions carry its reference\n";
        for (auto it = first; it != last; ++it) {
            const TJSONValue entry = ledger[it->second];
            const std::string state = entry["state"].AsString("");
            const auto& states = allowedHere.States;
            if (std::find(states.begin(), states.end(), state) == states.end())
                out << "row " << id << " (status " << status << ", tvTrxId " << entry["tvTrxId"].ToJSON()
                    << ", code " << entry["code"].AsString("") << "): ledger says " << state << ", expected "
                    << Join(states) << "\n";
            if (status != 0 && status != -1 && !(unknown && noNumber) &&
                row["tvTrxID"].AsInteger(-1) != entry["tvTrxId"].AsInteger(-2))
                out << "row " << id << ": tvTrxID " << row["tvTrxID"].ToJSON() << " but the ledger's is "
                    << entry["tvTrxId"].ToJSON() << "\n";
        }
    }

    for (int i = 0; i < ledger._Count(); ++i) {
        const TJSONValue entry = ledger[i];
        const std::string trxId = entry["trxId"].AsString("");
        const std::string state = entry["state"].AsString("");
        const bool known = rowSeen.count(RowOfReference(trxId, prefix)) > 0;
        if (!known && state != "released")
            out << "ledger tvTrxId " << entry["tvTrxId"].ToJSON() << " (" << trxId << ", code "
                << entry["code"].AsString("") << ") is " << state << " but no module row knows it\n";
        int finalised = 0;
        int reversed = 0;
        const TJSONValue advices = entry["adviceLog"];
        for (int a = 0; a < advices._Count(); ++a) {
            // A repeated advice is answered -1 again without moving anything: only the advices
            // that changed the state count (older ledgers without "moved": every accepted one).
            const TJSONValue advice = advices[a];
            const bool moved = advice.Exists("moved") ? advice["moved"].AsBoolean(false)
                                                      : advice["responseCode"].AsString("") == "-1";
            if (!moved)
                continue;
            const std::string action = advices[a]["action"].AsString("");
            finalised += action == "FINALISE";
            reversed += action == "REVERSE";
        }
        if (finalised > 1)
            out << "ledger tvTrxId " << entry["tvTrxId"].ToJSON() << " settled " << finalised << " times\n";
        if (reversed > 1)
            out << "ledger tvTrxId " << entry["tvTrxId"].ToJSON() << " released " << reversed << " times\n";
        if (finalised > 0 && reversed > 0)
            out << "ledger tvTrxId " << entry["tvTrxId"].ToJSON() << " both settled and released\n";
    }
    return out.str();
}

TJSONDocument ReadLedger(int port) {
    httplib::Client client("127.0.0.1", port);
    const auto answer = client.Get("/ledger");
    if (!answer || answer->status != 200)
        throw std::runtime_error("the simulator's ledger could not be read on port " + std::to_string(port));
    TJSONDocument ledger = TJSONDocument::Parse(answer->body);
    if (!ledger.IsArray())
        throw std::runtime_error("the simulator's ledger is not an array");
    return ledger;
}

// ---- The three-way reconciliation ----

bool TModuleRow::OutcomeUnknown() const {
    return NotesUnknownOutcome(Response);
}

std::optional<TCents> TModuleRow::Recorded() const {
    if (Amount)
        return Amount;
    if (Response.empty() || OutcomeUnknown())
        return std::nullopt;
    try {
        const TJSONDocument data = TJSONDocument::Parse(Response);
        if (!data.IsObject() || !data.Exists("totalAmountProcessed"))
            return std::nullopt;
        const TJSONValue v = data["totalAmountProcessed"];
        if (v.IsNumber())
            return v.AsInt64(0);
        TCents cents = 0;
        const std::string text = v.AsString("");
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), cents);
        if (ec == std::errc() && ptr == text.data() + text.size() && !text.empty())
            return cents;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

namespace {

// A read-only SQLite connection; every failure names the database and the statement.
class TSqliteReader {
public:
    explicit TSqliteReader(const std::string& file) : FFile(file) {
        if (sqlite3_open_v2(file.c_str(), &FDb, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            const std::string message = FDb ? sqlite3_errmsg(FDb) : "out of memory";
            sqlite3_close(FDb);
            throw std::runtime_error("cannot open the database " + file + ": " + message);
        }
        // Tills may be writing: wait for their locks instead of failing at once.
        sqlite3_busy_timeout(FDb, 30000);
    }
    ~TSqliteReader() { sqlite3_close(FDb); }
    TSqliteReader(const TSqliteReader&) = delete;
    TSqliteReader& operator=(const TSqliteReader&) = delete;

    bool HasColumn(const std::string& table, const std::string& column) {
        bool found = false;
        Each("PRAGMA table_info([" + table + "])",
             [&](sqlite3_stmt* st) { found = found || TextColumnOf(st, 1) == column; });
        return found;
    }
    static std::string TextColumnOf(sqlite3_stmt* st, int column) {
        const unsigned char* text = sqlite3_column_text(st, column);
        return text ? reinterpret_cast<const char*>(text) : "";
    }
    bool HasTable(const std::string& table) {
        bool found = false;
        Each("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = '" + table + "'",
             [&](sqlite3_stmt*) { found = true; });
        return found;
    }
    void Each(const std::string& sql, const std::function<void(sqlite3_stmt*)>& row) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(FDb, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            throw std::runtime_error(FFile + ": " + sqlite3_errmsg(FDb) + " in: " + sql);
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            row(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE)
            throw std::runtime_error(FFile + ": " + sqlite3_errmsg(FDb) + " in: " + sql);
    }

private:
    std::string FFile;
    sqlite3* FDb = nullptr;
};

std::optional<std::int64_t> IntColumn(sqlite3_stmt* st, int column) {
    if (sqlite3_column_type(st, column) == SQLITE_NULL)
        return std::nullopt;
    return sqlite3_column_int64(st, column);
}

std::optional<TCents> CentsColumn(sqlite3_stmt* st, int column) {
    if (sqlite3_column_type(st, column) == SQLITE_NULL)
        return std::nullopt;
    return CentsOf(sqlite3_column_double(st, column));
}

std::string TextColumn(sqlite3_stmt* st, int column) {
    const unsigned char* text = sqlite3_column_text(st, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

// The rows the module's held-funds list selects (TZumvoTransaction::GetHeldFunds); a database
// with the column RefundOwed also lists the settled codes of overridden invoices.
// noteColumn: where the database keeps the request's note (RequestNote, or Response before it).
std::string HeldFundsWhere(const std::string& noteColumn) {
    return "T.[Status] IN ( -2, -3 ) OR ( T.[Status] = 0 AND T.[" + noteColumn +
           "] LIKE '%\"Outcome\":\"Unknown\"%' ) OR "
           "( T.[Status] IN ( 0, 1 ) AND T.[BasketID] IS NOT NULL AND B.[InvoiceNum] IS NULL )";
}
const char* const RefundOwedWhere = " OR ( T.[Status] = 2 AND T.[RefundOwed] = 1 )";

} // namespace

TAuditData ReadAuditData(const std::string& databaseFile) {
    TSqliteReader db(databaseFile);
    for (const char* table :
         {"ZumvoPaymentTransactions", "ZumvoPaymentBasket", "INVOICES", "InvoicesPayment"})
        if (!db.HasTable(table))
            throw std::runtime_error(databaseFile + " has no table " + table +
                                     " (is it a host database upgraded with BackOffice --upgrade-db?)");
    TAuditData data;
    const bool providerStore = db.HasColumn("ZumvoPaymentTransactions", "ProviderStoreID");
    const bool refundOwed = db.HasColumn("ZumvoPaymentTransactions", "RefundOwed");
    const bool requestNote = db.HasColumn("ZumvoPaymentTransactions", "RequestNote");
    db.Each(std::string("SELECT [ID], [Status], [tvTrxID], [Amount], ") +
                (requestNote ? "COALESCE( [RequestNote], [Response] )" : "[Response]") +
                ", [BasketID], [InvoiceNum], " + (providerStore ? "[ProviderStoreID]" : "NULL") +
                " FROM [ZumvoPaymentTransactions] ORDER BY [ID]",
            [&](sqlite3_stmt* st) {
                TModuleRow r;
                r.ID = static_cast<std::int32_t>(sqlite3_column_int64(st, 0));
                r.Status = sqlite3_column_int(st, 1);
                r.TvTrxID = IntColumn(st, 2);
                r.Amount = CentsColumn(st, 3);
                r.Response = TextColumn(st, 4);
                if (auto b = IntColumn(st, 5))
                    r.BasketID = static_cast<std::int32_t>(*b);
                if (auto i = IntColumn(st, 6))
                    r.InvoiceNum = static_cast<std::int32_t>(*i);
                r.ProviderStore = IntColumn(st, 7);
                data.Rows.push_back(std::move(r));
            });
    db.Each("SELECT [ID], [InvoiceNum], [TillID], [TotalAmount] FROM [ZumvoPaymentBasket] ORDER BY [ID]",
            [&](sqlite3_stmt* st) {
                TBasketRow b;
                b.ID = static_cast<std::int32_t>(sqlite3_column_int64(st, 0));
                if (auto i = IntColumn(st, 1))
                    b.InvoiceNum = static_cast<std::int32_t>(*i);
                b.TillID = static_cast<std::int32_t>(IntColumn(st, 2).value_or(-1));
                b.TotalAmount = CentsColumn(st, 3);
                data.Baskets.push_back(b);
            });
    std::map<std::int32_t, std::size_t> invoiceAt;
    db.Each("SELECT [InvoiceNum], [STATUS], [AFTERDISC] FROM [INVOICES] ORDER BY [InvoiceNum]",
            [&](sqlite3_stmt* st) {
                THostInvoice inv;
                inv.InvoiceNum = static_cast<std::int32_t>(sqlite3_column_int64(st, 0));
                inv.Status = sqlite3_column_int(st, 1);
                inv.AfterDisc = CentsColumn(st, 2).value_or(0);
                invoiceAt[inv.InvoiceNum] = data.Invoices.size();
                data.Invoices.push_back(inv);
            });
    // Each amount is rounded to cents on its own before it is added: the sums are exact.
    db.Each("SELECT [InvoiceNum], [PaymentType], [Amount] FROM [InvoicesPayment]", [&](sqlite3_stmt* st) {
        const auto it = invoiceAt.find(static_cast<std::int32_t>(sqlite3_column_int64(st, 0)));
        if (it == invoiceAt.end())
            return;
        std::string type = TextColumn(st, 1);
        std::transform(type.begin(), type.end(), type.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        (type == "zumvo" ? data.Invoices[it->second].ZumvoPaid : data.Invoices[it->second].OtherPaid) +=
            CentsColumn(st, 2).value_or(0);
    });
    if (db.HasTable("InvoiceDiscounts"))
        db.Each("SELECT [InvoiceNum], [Amount] FROM [InvoiceDiscounts] WHERE [FromVoucher] = 1",
                [&](sqlite3_stmt* st) {
                    const auto it = invoiceAt.find(static_cast<std::int32_t>(sqlite3_column_int64(st, 0)));
                    if (it != invoiceAt.end())
                        data.Invoices[it->second].VoucherDiscount += CentsColumn(st, 1).value_or(0);
                });
    if (db.HasTable("DriverCashup"))
        db.Each("SELECT DISTINCT [InvoiceNum] FROM [DriverCashup]", [&](sqlite3_stmt* st) {
            const auto it = invoiceAt.find(static_cast<std::int32_t>(sqlite3_column_int64(st, 0)));
            if (it != invoiceAt.end())
                data.Invoices[it->second].CashedUp = true;
        });
    db.Each(std::string("SELECT T.[ID] FROM [ZumvoPaymentTransactions] T LEFT JOIN [ZumvoPaymentBasket] B ON "
                        "B.[ID] = T.[BasketID] WHERE ") +
                HeldFundsWhere(requestNote ? "RequestNote" : "Response") +
                (refundOwed ? RefundOwedWhere : ""),
            [&](sqlite3_stmt* st) {
                data.Listed.insert(static_cast<std::int32_t>(sqlite3_column_int64(st, 0)));
            });
    return data;
}

std::set<std::int32_t> ListedInHeldFundsOutput(const std::string& output) {
    std::set<std::int32_t> listed;
    std::istringstream in(output);
    std::string line;
    bool table = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("Transaction\tBasket\t", 0) == 0) {
            table = true;
            continue;
        }
        if (!table || line.find('\t') == std::string::npos)
            continue;
        std::int32_t id = 0;
        const auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.find('\t'), id);
        if (ec == std::errc() && ptr == line.data() + line.find('\t'))
            listed.insert(id);
    }
    return listed;
}

namespace {

struct TEntry {
    std::int64_t TvTrxId = 0;
    std::string Code;
    std::string TrxId;
    std::string State;
    std::string StoreId; // the provider store
    TCents Requested = 0;
    TCents Amount = 0;
    TCents ToSettle = 0;
    const TModuleRow* Row = nullptr;
    std::optional<std::int32_t> Basket; // the row's basket, else the one the entry names
};

std::string Describe(const TEntry& e) {
    return "tvTrxId " + std::to_string(e.TvTrxId) + " (" + e.Code + ", " + e.TrxId + ")";
}

std::string RowText(const TModuleRow& r) {
    return "row " + std::to_string(r.ID) + " status " + std::to_string(r.Status);
}

// Splits the lines of LedgerMismatches.
void AddLines(std::vector<std::string>& out, const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            out.push_back(line);
}

} // namespace

std::vector<std::string> Reconcile(const TAuditData& data, const TJSONDocument& ledger,
                                   std::int32_t storeID) {
    std::vector<std::string> out;
    const std::string prefix = std::to_string(storeID) + "-";

    // 1. The per-row status rules.
    TJSONDocument rows = TJSONDocument::NewArray();
    for (const TModuleRow& r : data.Rows) {
        auto row = rows.AppendObject();
        row.Add("ID", r.ID);
        row.Add("Status", r.Status);
        if (r.TvTrxID)
            row.Add("tvTrxID", static_cast<std::int64_t>(*r.TvTrxID));
        else
            row.AddNull("tvTrxID");
        row.Add("Response", r.Response);
    }
    AddLines(out, LedgerMismatches(rows, ledger, storeID, data.Listed));

    std::map<std::int32_t, const TModuleRow*> rowByID;
    for (const TModuleRow& r : data.Rows)
        rowByID[r.ID] = &r;
    std::map<std::int32_t, const TBasketRow*> basketByID;
    for (const TBasketRow& b : data.Baskets)
        basketByID[b.ID] = &b;
    std::map<std::int32_t, const THostInvoice*> invoiceByNum;
    for (const THostInvoice& i : data.Invoices)
        invoiceByNum[i.InvoiceNum] = &i;
    const auto listed = [&](const TModuleRow* r) { return r && data.Listed.count(r->ID) > 0; };
    const auto invoiceOfBasket = [&](std::optional<std::int32_t> basket) -> std::optional<std::int32_t> {
        if (!basket)
            return std::nullopt;
        const auto it = basketByID.find(*basket);
        return it == basketByID.end() ? std::nullopt : it->second->InvoiceNum;
    };

    std::vector<TEntry> entries;
    for (int i = 0; i < ledger._Count(); ++i) {
        const TJSONValue e = ledger[i];
        TEntry entry;
        entry.TvTrxId = e["tvTrxId"].AsInt64(0);
        entry.Code = e["code"].AsString("");
        entry.TrxId = e["trxId"].AsString("");
        entry.State = e["state"].AsString("");
        entry.StoreId = e["storeId"].AsString("");
        entry.Requested = e["requested"].AsInt64(0);
        entry.Amount = e["amount"].AsInt64(0);
        entry.ToSettle = e["amountToSettle"].AsInt64(0);
        if (entry.TrxId.rfind(prefix, 0) != 0)
            continue; // another store's reference
        const std::int32_t rowID = RowOfReference(entry.TrxId, prefix);
        if (const auto it = rowByID.find(rowID); it != rowByID.end()) {
            entry.Row = it->second;
            entry.Basket = it->second->BasketID;
        }
        if (!entry.Basket) {
            const std::int32_t basket = RowOfReference(e["basketId"].AsString(""), prefix);
            if (basket >= 0)
                entry.Basket = basket;
        }
        entries.push_back(std::move(entry));
    }

    for (const TEntry& e : entries) {
        // 2. Held money must be on the held-funds list.
        if (e.State == "held" && e.Row && !listed(e.Row)) {
            std::string why;
            const auto invoice = invoiceOfBasket(e.Basket);
            if (invoice) {
                const auto inv = invoiceByNum.find(*invoice);
                why =
                    inv != invoiceByNum.end() && inv->second->Status == 0 && !inv->second->CashedUp &&
                            inv->second->OtherPaid + inv->second->ZumvoPaid < inv->second->AfterDisc
                        ? ", awaiting the driver cash-up of invoice " + std::to_string(*invoice)
                        : ", basket " + std::to_string(*e.Basket) + " of invoice " + std::to_string(*invoice);
            }
            out.push_back("held money no listed row explains: " + Describe(e) + " holds " +
                          FixedText(e.Amount) + " for " + RowText(*e.Row) + why);
        }
        // The provider store the row says it was accepted under is the ledger's.
        if (e.Row && e.Row->ProviderStore && std::to_string(*e.Row->ProviderStore) != e.StoreId)
            out.push_back("provider store differs: " + Describe(e) + " is under store " + e.StoreId + ", " +
                          RowText(*e.Row) + " records store " + std::to_string(*e.Row->ProviderStore));
        // 3. What moved is what the row records.
        if ((e.State == "settled" || e.State == "released") && e.Row) {
            const auto recorded = e.Row->Recorded();
            if (recorded && *recorded != e.Amount)
                out.push_back(e.State + " amount differs: " + Describe(e) + " " + e.State + " " +
                              FixedText(e.Amount) + ", " + RowText(*e.Row) + " records " +
                              FixedText(*recorded));
        }
    }

    // Per basket: what the provider settled (and what listed failed finalises still hold to
    // settle), and the payment part of what it settled.
    struct TBasketMoney {
        TCents Settled = 0;
        TCents DueToSettle = 0;
        TCents SettledPayment = 0;
        std::vector<const TEntry*> SettledUnlisted;
    };
    std::map<std::int32_t, TBasketMoney> money;
    for (const TEntry& e : entries) {
        if (!e.Basket)
            continue;
        TBasketMoney& m = money[*e.Basket];
        if (e.State == "settled") {
            m.Settled += e.Amount;
            m.SettledPayment += e.ToSettle;
            // A code that settled nothing (a loyalty code) leaves nothing to give back.
            if (!listed(e.Row) && (e.Amount != 0 || e.ToSettle != 0))
                m.SettledUnlisted.push_back(&e);
        } else if (e.State == "held" && e.Row && e.Row->Status == -2 && listed(e.Row)) {
            m.DueToSettle += e.Amount;
        }
    }
    for (const TModuleRow& r : data.Rows) {
        if (!r.InvoiceNum || !r.BasketID)
            continue;
        const auto b = basketByID.find(*r.BasketID);
        if (b != basketByID.end() && b->second->InvoiceNum && *b->second->InvoiceNum != *r.InvoiceNum)
            out.push_back("row " + std::to_string(r.ID) + " names invoice " + std::to_string(*r.InvoiceNum) +
                          " but its basket " + std::to_string(*r.BasketID) + " names invoice " +
                          std::to_string(*b->second->InvoiceNum));
    }
    std::map<std::int32_t, std::vector<std::int32_t>> basketsOfInvoice;
    for (const TBasketRow& b : data.Baskets) {
        if (!b.InvoiceNum)
            continue;
        const auto inv = invoiceByNum.find(*b.InvoiceNum);
        if (inv != invoiceByNum.end() && inv->second->Status == 0 && b.TotalAmount) {
            const TBasketMoney& m = money[b.ID];
            if (*b.TotalAmount != m.Settled + m.DueToSettle)
                out.push_back(
                    "basket " + std::to_string(b.ID) + " of invoice " + std::to_string(*b.InvoiceNum) +
                    " records a total of " + FixedText(*b.TotalAmount) + ", but the provider settled " +
                    FixedText(m.Settled) +
                    (m.DueToSettle ? " (+ " + FixedText(m.DueToSettle) + " listed to settle)" : ""));
        }
        if (!invoiceByNum.count(*b.InvoiceNum))
            out.push_back("basket " + std::to_string(b.ID) + " names invoice " +
                          std::to_string(*b.InvoiceNum) + ", which is not stored");
        basketsOfInvoice[*b.InvoiceNum].push_back(b.ID);
    }

    for (const THostInvoice& inv : data.Invoices) {
        TBasketMoney m;
        std::string baskets;
        for (const std::int32_t b : basketsOfInvoice[inv.InvoiceNum]) {
            const TBasketMoney& one = money[b];
            m.Settled += one.Settled;
            m.DueToSettle += one.DueToSettle;
            m.SettledPayment += one.SettledPayment;
            m.SettledUnlisted.insert(m.SettledUnlisted.end(), one.SettledUnlisted.begin(),
                                     one.SettledUnlisted.end());
            baskets += (baskets.empty() ? " (basket " : ", ") + std::to_string(b);
        }
        baskets += baskets.empty() ? " (no basket)" : ")";
        const std::string name = "invoice " + std::to_string(inv.InvoiceNum);
        if (inv.Status == 0) {
            // 4. The invoice's Zumvo tenders are what the provider settled.
            const TCents zumvo = inv.ZumvoPaid + inv.VoucherDiscount;
            const TCents provider = m.Settled + m.DueToSettle;
            if (zumvo != provider)
                out.push_back(
                    name + ": Zumvo payment " + FixedText(inv.ZumvoPaid) + " + Zumvo discount " +
                    FixedText(inv.VoucherDiscount) + " = " + FixedText(zumvo) +
                    ", but the provider settled " + FixedText(m.Settled) +
                    (m.DueToSettle ? " (+ " + FixedText(m.DueToSettle) + " listed to settle)" : "") +
                    baskets);
            // 5. Nobody pays more than the invoice. A negative Zumvo discount (more to settle than
            // the provider processed) raises AFTERDISC above the goods: the customer pays at most
            // what the invoice comes to without it.
            const TCents due = inv.AfterDisc + std::min<TCents>(0, inv.VoucherDiscount);
            const std::string dueText =
                FixedText(due) + (inv.VoucherDiscount < 0 ? " (AFTERDISC " + FixedText(inv.AfterDisc) +
                                                                " with a negative Zumvo discount of " +
                                                                FixedText(inv.VoucherDiscount) + ")"
                                                          : std::string());
            const TCents paid = inv.OtherPaid + m.SettledPayment;
            if (due < 0)
                out.push_back(name + " comes to " + FixedText(inv.AfterDisc) +
                              ": its discounts exceed its goods (Zumvo "
                              "discount " +
                              FixedText(inv.VoucherDiscount) + ")");
            else if (paid > due)
                out.push_back(name + ": the customer paid " + FixedText(paid) + " (other tenders " +
                              FixedText(inv.OtherPaid) + " + Zumvo settled " + FixedText(m.SettledPayment) +
                              ") for an invoice of " + dueText);
            else if (inv.OtherPaid + inv.ZumvoPaid > due)
                out.push_back(name + ": its payments " + FixedText(inv.OtherPaid + inv.ZumvoPaid) +
                              " exceed the invoice of " + dueText);
        } else {
            // 6. An overridden or refunded invoice keeps no money settled, unless a listed row
            // tells a person to refund it.
            for (const TEntry* e : m.SettledUnlisted)
                out.push_back(name + " is " + (inv.Status == 1 ? "overridden" : "refunded") + " but " +
                              Describe(*e) + " is settled for " + FixedText(e->Amount) +
                              " without a listed row" + (e->Row ? " (" + RowText(*e->Row) + ")" : ""));
        }
    }
    // 6. A cancelled sale (a basket that never reached an invoice) keeps no money settled either.
    for (const auto& [basket, m] : money) {
        if (invoiceOfBasket(basket) || !basketByID.count(basket))
            continue;
        for (const TEntry* e : m.SettledUnlisted)
            out.push_back("basket " + std::to_string(basket) + " has no invoice (a cancelled sale) but " +
                          Describe(*e) + " is settled for " + FixedText(e->Amount) + " without a listed row" +
                          (e->Row ? " (" + RowText(*e->Row) + ")" : ""));
    }
    return out;
}

std::string ReconcileText(const TAuditData& data, const TJSONDocument& ledger, std::int32_t storeID) {
    std::string text;
    for (const std::string& line : Reconcile(data, ledger, storeID))
        text += line + "\n";
    return text;
}

} // namespace zumvo::test
