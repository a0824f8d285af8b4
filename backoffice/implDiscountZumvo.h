// TZumvoDynamicDiscount: the host's discount list entry for Zumvo. Zumvo codes are taken only
// through the voucher feature, so applying it points the cashier there and grants nothing.
#pragma once

#include "clsInterfacedObject.h"
#include "intfDynamicDiscount.h"
#include "intfServiceFactory.h"

namespace zumvo {

class TZumvoDynamicDiscount : public pallux::TInterfacedObject<pallux::IDynamicDiscount> {
public:

    void PALLUX_CALL GetDiscountID(std::string& id) override { id = "ZUMVO"; }
    void PALLUX_CALL GetDiscountName(std::string& name) override { name = "Zumvo Voucher Discount"; }
    void PALLUX_CALL ApplyDiscount(const std::string& request, std::string& result) override;
    void PALLUX_CALL Hook1() override {}
    void PALLUX_CALL Hook2() override {}
    void PALLUX_CALL Hook3() override {}
};

class TZumvoDynamicDiscountFactory
    : public pallux::TServiceFactory<TZumvoDynamicDiscount, pallux::IDynamicDiscount> {};

} // namespace zumvo
