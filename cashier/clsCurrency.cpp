#include "clsCurrency.h"

#include <charconv>
#include <stdexcept>

namespace zumvo {

std::string TCurrencyAmount::ToText() const {
    // Work on the magnitude as unsigned so that the most negative value has one too.
    const bool negative = FRaw < 0;
    const std::uint64_t magnitude =
        negative ? std::uint64_t{0} - static_cast<std::uint64_t>(FRaw) : static_cast<std::uint64_t>(FRaw);
    const auto scale = static_cast<std::uint64_t>(pallux::CurrencyScale);
    std::string fraction = std::to_string(magnitude % scale);
    fraction.insert(0, 4 - fraction.size(), '0');
    return (negative ? "-" : "") + std::to_string(magnitude / scale) + "." + fraction;
}

double TCurrencyAmount::ToDouble() const {
    // from_chars rounds the decimal text correctly; dividing a converted integer would round
    // twice for values beyond 2^53.
    const std::string text = ToText();
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        throw std::runtime_error("currency value " + text + " cannot be converted");
    return value;
}

} // namespace zumvo
