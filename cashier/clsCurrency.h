// The tender's money: the host's fixed-point currency (four decimals in a 64-bit integer), kept
// as the host hands it over. It is never held as a floating value; when a caller needs one, the
// conversion goes through the exact decimal text, so the result is the double nearest to the
// true value (12.5 stays 12.5, 0.0001 becomes the double nearest 1/10000).
#pragma once

#include "intfPaymentMethod.h"

#include <compare>
#include <cstdint>
#include <string>

namespace zumvo {

class TCurrencyAmount {
public:
    constexpr TCurrencyAmount() = default;
    // The host's raw value: 12.3456 is 123456.
    static constexpr TCurrencyAmount FromRaw(pallux::TCurrency raw) { return TCurrencyAmount(raw); }

    constexpr pallux::TCurrency Raw() const { return FRaw; }
    constexpr bool IsZero() const { return FRaw == 0; }
    constexpr bool IsPositive() const { return FRaw > 0; }

    // The value as four-decimal text, "-12.5000" for -125000.
    std::string ToText() const;
    // The double nearest to the exact value (raw / 10000).
    double ToDouble() const;

    constexpr auto operator<=>(const TCurrencyAmount&) const = default;

private:
    constexpr explicit TCurrencyAmount(pallux::TCurrency raw) : FRaw(raw) {}
    pallux::TCurrency FRaw = 0;
};

} // namespace zumvo
