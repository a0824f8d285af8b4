// The voucher service's code catalogue: which codes exist, what they are worth and how their use
// is tracked. Read from a JSON file (format in sim/README.md).
#pragma once

#include "FaultPlan.h"
#include "SoapMessages.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class TCodeKind { Payment, Discount, Split, Loyalty, Refused, Expired };
const char* CodeKindName(TCodeKind kind);

// How repeated use of a code is limited.
enum class TTracking {
    None,      // every transaction may cover up to Value
    SingleUse, // one transaction at a time; a reversal frees the code again
    Balance,   // transactions draw on Value until it is spent; a reversal gives the amount back
};

struct TVoucherCode {
    std::string Code;
    TCodeKind Kind = TCodeKind::Payment;
    std::int64_t Value = 0;   // cents
    int PaymentPercent = 100; // split: the share of the covered amount that is a payment
    TTracking Tracking = TTracking::None;
    std::string ResponseCode; // refused: the code answered (default "3")
    std::string ResponseDesc; // refused: the description answered
    std::optional<TVsp> Vsp;
    std::optional<TLoyalty> Loyalty;
    std::vector<TFaultRule> Faults; // injected for requests about this code
};

class TVoucherCatalogue {
public:
    // Throws std::invalid_argument naming the entry and member at fault.
    static TVoucherCatalogue FromJson(const std::string& text);
    static TVoucherCatalogue FromFile(const std::string& path);

    const TVoucherCode* Find(const std::string& code) const;
    const std::vector<TVoucherCode>& Codes() const { return FCodes; }

private:
    std::vector<TVoucherCode> FCodes;
};

} // namespace sim
