// The note a transaction row keeps in its Response when its request got no readable answer:
// the provider may or may not have accepted the code, so the row stays findable by the
// references the provider knows the request by, and the code can be reversed by reference.
#pragma once

#include "JsonDocument.h"

#include <cstdint>
#include <string>

namespace zumvo {

// {"Outcome":"Unknown","Reason":...,"Request":"Transaction","BasketID":...,"TrxID":...,
//  "Zumvo":code,"TotalAmount":cents} as JSON text.
std::string OutcomeUnknownNote(const std::string& reason, const std::string& basketRef,
                               const std::string& trxRef, const std::string& code, std::int64_t cents);

// Whether a stored Response text is such a note.
bool IsOutcomeUnknown(const std::string& response);

} // namespace zumvo
