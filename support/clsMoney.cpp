#include "clsMoney.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace zumvo {

namespace {

// The value's shortest decimal text split at its point: sign, whole digits, fraction digits.
struct TDecimal {
    bool Negative = false;
    TCents Whole = 0;
    std::string_view Fraction;
};

// Cents of a parsed decimal: the whole part and the first two fraction digits, then the rest of
// the fraction decides the rounding (none when truncating).
TCents ToCents(const TDecimal& d, bool rounded) {
    TCents cents = d.Whole;
    for (std::size_t i = 0; i < 2; ++i)
        cents = cents * 10 + (i < d.Fraction.size() ? d.Fraction[i] - '0' : 0);
    if (rounded && d.Fraction.size() > 2) {
        const std::string_view rest = d.Fraction.substr(2);
        const bool above = rest[0] > '5' || (rest[0] == '5' && rest.find_first_not_of('0', 1) != rest.npos);
        const bool half = rest[0] == '5' && !above;
        if (above || (half && cents % 2 == 1))
            ++cents;
    }
    return d.Negative ? -cents : cents;
}

// Parses "[-]digits[.digits]"; false for anything else.
bool ParseDecimal(std::string_view text, TDecimal& d) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        d.Negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const auto dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    d.Fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (whole.empty() && d.Fraction.empty())
        return false;
    if (whole.size() > 15)
        return false;
    for (char c : whole) {
        if (c < '0' || c > '9')
            return false;
        d.Whole = d.Whole * 10 + (c - '0');
    }
    for (char c : d.Fraction)
        if (c < '0' || c > '9')
            return false;
    return true;
}

TCents CentsOfValue(double units, bool rounded) {
    // Beyond 10^13 currency units a double no longer holds cents.
    if (!std::isfinite(units) || std::fabs(units) >= 1e13)
        throw std::out_of_range("Amount " + std::to_string(units) + " is out of range");
    // Shift the decimal point on the shortest decimal text instead of multiplying in binary.
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, units, std::chars_format::fixed);
    if (ec != std::errc())
        throw std::out_of_range("Amount cannot be converted to cents");
    TDecimal d;
    if (!ParseDecimal(std::string_view(buf, static_cast<std::size_t>(end - buf)), d))
        throw std::out_of_range("Amount cannot be converted to cents");
    return ToCents(d, rounded);
}

} // namespace

TCents CentsOf(double units) {
    return CentsOfValue(units, false);
}

TCents RoundedCentsOf(double units) {
    return CentsOfValue(units, true);
}

TCents CentsOfDecimalText(std::string_view text, TCents fallback) {
    TDecimal d;
    if (!ParseDecimal(text, d))
        return fallback;
    return ToCents(d, true);
}

std::string FixedText(TCents cents) {
    const TCents magnitude = cents < 0 ? -cents : cents;
    std::string rest = std::to_string(magnitude % 100);
    if (rest.size() < 2)
        rest.insert(0, 1, '0');
    return (cents < 0 ? "-" : "") + std::to_string(magnitude / 100) + "." + rest;
}

std::string DecimalText(TCents cents) {
    std::string text = FixedText(cents);
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text;
}

} // namespace zumvo
