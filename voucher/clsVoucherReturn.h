// The voucher-return document: what the voucher engine answers the till after codes were
// applied (VoucherCodes, VoucherAmount, VoucherType and the tender and discount members), and
// the texts its messages and store-log lines show amounts in.
#pragma once

#include "JsonDocument.h"
#include "clsMoney.h"

#include <functional>
#include <string>

namespace zumvo {

// What the payment and discount parts of a set of codes make of the answer.
enum class TVoucherKind {
    Loyalty,         // neither payment nor discount
    Payment,         // payment only
    Discount,        // discount only
    PaymentDiscount, // both
    Invalid,         // a negative part: no answer can be built
};

// The kind for the summed parts; the comparisons with zero are exact.
TVoucherKind VoucherKindOf(TCents payment, TCents discount);

// The answer given when no code was applied: {"Result":false}.
std::string FailureAnswer();

// Adds the members that follow VoucherAmount in a Payment, Discount or PaymentDiscount answer:
// VoucherType, PaymentType / PaymentAmount, DiscountAmount, DiscountIsPercent, DiscountOverride,
// DiscountCode (asked of discountCode only when a discount is present) and Result true. Other
// kinds add nothing.
void AddTenderMembers(TJSONValue document, TVoucherKind kind, TCents payment, TCents discount,
                      const std::function<std::string()>& discountCode);

// Adds the members of a Loyalty answer: VoucherType "Loyalty", VoucherAmount 0 (replacing one
// already present), PaymentAmount 0, DiscountAmount 0 and Result true.
void AddLoyaltyMembers(TJSONValue document);

// An amount in the system's money format (currency symbol, its position, the currency's
// decimals), as cashier messages show it: QLocale::system()'s currency text.
std::string CurrencyText(double amount);
// The same text appended to `out`, for texts made in bulk such as a report page. The format is
// read from the system's locale once per process, so amounts below 1000 cost no locale call.
void AppendCurrencyText(std::string& out, double amount);

} // namespace zumvo
