#include "LedgerAudit.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
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

std::string LedgerMismatches(const TJSONDocument& rows, const TJSONDocument& ledger, std::int32_t storeID) {
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
        const auto rule = allowed.find(status);
        if (rule == allowed.end()) {
            out << "row " << id << ": unknown status " << status << "\n";
            continue;
        }
        const auto [first, last] = entriesOfRow.equal_range(id);
        const auto count = std::distance(first, last);
        if (count == 0) {
            if (!rule->second.MayLackEntry)
                out << "row " << id << " (status " << status << "): the provider has no transaction for it\n";
            continue;
        }
        if (count > 1)
            out << "row " << id << ": " << count << " provider transactions carry its reference\n";
        for (auto it = first; it != last; ++it) {
            const TJSONValue entry = ledger[it->second];
            const std::string state = entry["state"].AsString("");
            const auto& states = rule->second.States;
            if (std::find(states.begin(), states.end(), state) == states.end())
                out << "row " << id << " (status " << status << ", tvTrxId " << entry["tvTrxId"].ToJSON()
                    << ", code " << entry["code"].AsString("") << "): ledger says " << state << ", expected "
                    << Join(states) << "\n";
            if (status != 0 && status != -1 && row["tvTrxID"].AsInteger(-1) != entry["tvTrxId"].AsInteger(-2))
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

} // namespace zumvo::test
