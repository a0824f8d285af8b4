// A tender's configuration list: texts with name=value access, in the order they were set.
#pragma once

#include "clsInterfacedObject.h"
#include "intfPaymentMethod.h"

#include <string>
#include <utility>
#include <vector>

namespace zumvo {

class TStringConfigList : public pallux::TInterfacedObject<pallux::IStringConfigList> {
public:
    void PALLUX_CALL Clear() override { FItems.clear(); }
    std::int32_t PALLUX_CALL Count() override { return static_cast<std::int32_t>(FItems.size()); }
    // The value of the first item of that name (case ignored); empty when there is none.
    std::string PALLUX_CALL GetValue(const std::string& name) override;
    // Replaces the value of the item of that name, or appends the item.
    void PALLUX_CALL SetValue(const std::string& name, const std::string& value) override;

private:
    std::vector<std::pair<std::string, std::string>> FItems;
};

} // namespace zumvo
