// Money inside the module: whole cents. Host documents and the FLOAT columns carry currency units
// as floating values, the wire and the provider's answers whole cents; an amount crosses into
// cents once, where it enters the module, and is then added, compared and split as a whole
// number, so that no cent is lost to binary fractions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zumvo {

using TCents = std::int64_t;

// Currency units as whole cents, truncated toward zero, worked out on the shortest decimal text
// of the value: 0.29 gives 29 although 0.29 * 100 is 28.999... in binary; 0.999 gives 99. A
// value that is not finite, or of 10^13 units or more, raises std::out_of_range.
TCents CentsOf(double units);

// Currency units as whole cents, rounded to the nearest cent, halves to the even neighbour
// (19.995 gives 2000, 0.125 gives 12), on the shortest decimal text as CentsOf. Same errors.
TCents RoundedCentsOf(double units);

// Cents as currency units, for host documents and FLOAT columns (1250 gives 12.5).
constexpr double UnitsOf(TCents cents) {
    return static_cast<double>(cents) / 100;
}

// A decimal text in currency units ("12.5", "6", "-0.01", as stored answers carry
// PaymentAmount and DiscountAmount) as cents, rounded as RoundedCentsOf; fallback when the text
// is not a decimal number.
TCents CentsOfDecimalText(std::string_view text, TCents fallback = 0);

// Two decimals: "12.50", "-0.05", "0.00"; as screens, store-log lines and receipts show amounts.
std::string FixedText(TCents cents);

// The shortest decimal text in currency units: "6", "15.5", "0.01", "-0.05".
std::string DecimalText(TCents cents);

// Whether the amount fits the 32-bit cents that the provider's requests carry.
constexpr bool FitsWire(TCents cents) {
    return cents >= INT32_MIN && cents <= INT32_MAX;
}

} // namespace zumvo
