// Fault injection for the voucher service: rules that replace the sound answer of matching
// requests with a late, broken or missing one.
#pragma once

#include "SoapMessages.h"
#include "clsRapidJson.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class TFaultKind {
    Delay,
    Drop,
    Http500,
    SoapFault,
    Malformed,
    Truncated,
    MissingResponse,
    Oversized,
    Late,     // the connection is dropped unanswered, the request carried out DelayMs later
    Inflated, // an accepted transaction answer for more than was asked
    Refused   // a well-formed refusal (ResponseCode) instead of the sound answer
};

// The names used in JSON: "delay", "drop", "http500", "soapFault", "malformed", "truncated",
// "missingResponse", "oversized", "late", "inflated", "refused".
const char* FaultKindName(TFaultKind kind);

// Which amounts of an accepted transaction answer an "inflated" fault raises.
enum class TInflate {
    Both,  // totalAmountProcessed = asked + Cents, amountToSettle raised by as much
    Total, // totalAmountProcessed = asked + Cents, amountToSettle as it was (the discount grows)
    Settle // amountToSettle = totalAmountProcessed + Cents: more to settle than was processed
};
const char* InflateName(TInflate inflate);

struct TFaultRule {
    TFaultKind Kind = TFaultKind::Drop;
    int DelayMs = 0;                     // delay: how long the answer waits
    std::size_t Bytes = 5 * 1024 * 1024; // oversized: padding added to the answer
    std::string Code;                    // only requests about this code; empty: any
    std::optional<TRequestKind> Request; // only this request kind; none: both
    std::optional<int> Remaining;        // the next N matching requests; none: until cleared
    bool Process = false;                // whether the request is still carried out
    TInflate Inflate = TInflate::Both;   // inflated: which amounts
    std::int64_t Cents = 100;            // inflated: how many cents more than asked
    std::string ResponseCode;            // refused: the answer's code; empty: 1 (advice) or 3 (transaction)
    std::string ResponseDesc;            // refused: the answer's text; empty: a default

    bool Matches(TRequestKind kind, const std::string& code) const;
};

// Reads one rule: {"fault": name, "ms", "bytes", "code", "request", "count", "process", "inflate",
// "cents", "responseCode", "responseDesc"}.
// Throws std::invalid_argument with a message naming the problem.
TFaultRule ParseFaultRule(const rapidjson::Value& value);
void WriteFaultRule(zumvo::TRapidWriter& writer, const TFaultRule& rule);

// An ordered list of rules; the first match wins and spends one of its count. Not locked: the
// voucher service guards it.
class TFaultPlan {
public:
    void Add(TFaultRule rule) { FRules.push_back(std::move(rule)); }
    void Clear() { FRules.clear(); }
    std::optional<TFaultRule> Take(TRequestKind kind, const std::string& code);
    const std::vector<TFaultRule>& Rules() const { return FRules; }

private:
    std::vector<TFaultRule> FRules;
};

} // namespace sim
