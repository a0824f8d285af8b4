// The note a transaction row keeps in its RequestNote when its request got no readable answer:
// the provider may or may not have accepted the code, so the row stays findable by the
// references the provider knows the request by, and the code can be reversed by reference.
#pragma once

#include "JsonDocument.h"

#include <cstdint>
#include <string>

namespace zumvo {

// {"Outcome":"Unknown","Reason":...,"Request":"Transaction","BasketID":...,"TrxID":...,
//  "Zumvo":code,"TotalAmount":cents,"ProviderStoreID":store} as JSON text. The provider store is
// the one the request went to (left out when not known, -1): a reversal by reference must name the
// same store, whichever till sends it and whatever its settings say by then.
std::string OutcomeUnknownNote(const std::string& reason, const std::string& basketRef,
                               const std::string& trxRef, const std::string& code, std::int64_t cents,
                               std::int32_t providerStore);

// The provider store the note names; -1 when it is no note or names none.
std::int32_t NotedProviderStore(const std::string& response);

// Whether a stored Response text is such a note.
bool IsOutcomeUnknown(const std::string& response);
// The same test in SQL: the LIKE pattern every such note's text matches (%"Outcome":"Unknown"%).
std::string OutcomeUnknownPattern();

// The reason of the note a row keeps while its request is out.
inline constexpr const char* AwaitingAnswerReason = "awaiting answer";
// Whether the note says the request is still out (its till was waiting when it was written).
bool IsAwaitingAnswer(const std::string& response);

// Whether the note says a reversal by reference was confirmed once already.
bool ReversedOnce(const std::string& response);
// The note with that said.
std::string WithReversedOnce(const std::string& response);

} // namespace zumvo
