// How the provider knows a till: the point of sale every request and advice names.
#pragma once

#include <cstdint>
#include <string>

namespace zumvo {

// "Till-<number>", the till's number in decimal.
inline std::string PointOfSaleID(std::int32_t tillID) {
    return "Till-" + std::to_string(tillID);
}

} // namespace zumvo
