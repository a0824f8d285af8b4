#include "clsOutcomeUnknown.h"

#include <optional>

namespace zumvo {

namespace {
// The member that marks the note, and its value.
constexpr const char* OutcomeMember = "Outcome";
constexpr const char* UnknownOutcome = "Unknown";
constexpr const char* ProviderStoreMember = "ProviderStoreID";
} // namespace

std::string OutcomeUnknownNote(const std::string& reason, const std::string& basketRef,
                               const std::string& trxRef, const std::string& code, std::int64_t cents,
                               std::int32_t providerStore) {
    TJSONDocument note;
    note.Add(OutcomeMember, UnknownOutcome);
    note.Add("Reason", reason);
    note.Add("Request", "Transaction");
    note.Add("BasketID", basketRef);
    note.Add("TrxID", trxRef);
    note.Add("Zumvo", code);
    note.Add("TotalAmount", cents);
    if (providerStore >= 0)
        note.Add(ProviderStoreMember, providerStore);
    return note.ToJSON();
}

namespace {

// The note of a stored Response; empty when it is none.
std::optional<TJSONDocument> Note(const std::string& response) {
    if (response.empty())
        return std::nullopt;
    try {
        TJSONDocument data = TJSONDocument::Parse(response);
        if (data.IsObject() && data[OutcomeMember].AsString("") == UnknownOutcome)
            return data;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

} // namespace

bool IsOutcomeUnknown(const std::string& response) {
    return Note(response).has_value();
}

std::string OutcomeUnknownPattern() {
    // The note is written compact, without spaces between a member and its value.
    return std::string("%\"") + OutcomeMember + "\":\"" + UnknownOutcome + "\"%";
}

bool IsAwaitingAnswer(const std::string& response) {
    const auto note = Note(response);
    return note && (*note)["Reason"].AsString("") == AwaitingAnswerReason;
}

std::int32_t NotedProviderStore(const std::string& response) {
    const auto note = Note(response);
    return note ? (*note)[ProviderStoreMember].AsInteger(-1) : -1;
}

bool ReversedOnce(const std::string& response) {
    const auto note = Note(response);
    return note && (*note)["ReversedOnce"].AsBoolean(false);
}

std::string WithReversedOnce(const std::string& response) {
    auto note = Note(response);
    if (!note)
        return response;
    note->Set("ReversedOnce", true);
    return note->ToJSON();
}

} // namespace zumvo
