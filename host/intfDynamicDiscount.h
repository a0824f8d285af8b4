// The host's dynamic discount extension point.
#pragma once

#include "intfBase.h"

#include <string>

namespace pallux {

class IDynamicDiscount : public IInterface {
public:
    static constexpr TGUID IID{"{C8753185-FCAC-4182-B497-F7E86F26F280}"};

    virtual void PALLUX_CALL GetDiscountID(std::string& id) = 0;
    virtual void PALLUX_CALL GetDiscountName(std::string& name) = 0;
    // Applies the discount to the request (JSON); result is a JSON document with member Result.
    virtual void PALLUX_CALL ApplyDiscount(const std::string& request, std::string& result) = 0;
    virtual void PALLUX_CALL Hook1() = 0;
    virtual void PALLUX_CALL Hook2() = 0;
    virtual void PALLUX_CALL Hook3() = 0;
};

} // namespace pallux
