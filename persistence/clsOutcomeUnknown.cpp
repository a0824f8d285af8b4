#include "clsOutcomeUnknown.h"

namespace zumvo {

namespace {
constexpr const char* UnknownOutcome = "Unknown";
} // namespace

std::string OutcomeUnknownNote(const std::string& reason, const std::string& basketRef,
                               const std::string& trxRef, const std::string& code, std::int64_t cents) {
    TJSONDocument note;
    note.Add("Outcome", UnknownOutcome);
    note.Add("Reason", reason);
    note.Add("Request", "Transaction");
    note.Add("BasketID", basketRef);
    note.Add("TrxID", trxRef);
    note.Add("Zumvo", code);
    note.Add("TotalAmount", cents);
    return note.ToJSON();
}

bool IsOutcomeUnknown(const std::string& response) {
    if (response.empty())
        return false;
    try {
        const TJSONDocument data = TJSONDocument::Parse(response);
        return data.IsObject() && data["Outcome"].AsString("") == UnknownOutcome;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace zumvo
