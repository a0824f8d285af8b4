// The host's passing status text while a long operation runs. The text disappears when the
// caller releases the service.
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <string>

namespace pallux {

class IActivityMessage : public IInterface {
public:
    static constexpr TGUID IID{"{3128A816-B6B5-49B5-BCAA-FB6C38F7D236}"};

    virtual void PALLUX_CALL ShowActivity(const std::string& text, std::int32_t number) = 0;
    virtual void PALLUX_CALL UpdateActivity(const std::string& text, std::int32_t number) = 0;
};

} // namespace pallux
