#include "clsStringConfigList.h"

#include "clsSysUtils.h"

#include <algorithm>

namespace zumvo {

std::string TStringConfigList::GetValue(const std::string& name) {
    const auto it =
        std::ranges::find_if(FItems, [&](const auto& item) { return pallux::SameText(item.first, name); });
    return it == FItems.end() ? std::string() : it->second;
}

void TStringConfigList::SetValue(const std::string& name, const std::string& value) {
    const auto it =
        std::ranges::find_if(FItems, [&](const auto& item) { return pallux::SameText(item.first, name); });
    if (it == FItems.end())
        FItems.emplace_back(name, value);
    else
        it->second = value;
}

} // namespace zumvo
