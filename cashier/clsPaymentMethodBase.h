// The module's base class of tenders: the amounts, the change event, the text value and the
// configuration list that the host sets and reads. Derived classes add what the tender does.
#pragma once

#include "clsCurrency.h"
#include "clsInterfacedObject.h"
#include "intfPaymentMethod.h"

#include <string>

namespace zumvo {

class TPaymentMethodBase : public pallux::TInterfacedObject<pallux::IPaymentMethod> {
public:
    // Creates the configuration list and resets the amounts.
    TPaymentMethodBase();

    // Each setter stores a different value and then calls Changed; an equal value changes
    // nothing and calls nothing.
    void PALLUX_CALL SetAmount(pallux::TCurrency amount) override;
    void PALLUX_CALL SetOnChange(const pallux::TPaymentMethodChangeEvent& event) override;
    void PALLUX_CALL SetSecondAmount(pallux::TCurrency amount) override;
    pallux::TCurrency PALLUX_CALL GetAmount() override { return FAmount.Raw(); }
    pallux::TPaymentMethodChangeEvent PALLUX_CALL GetOnChange() override { return FOnChange; }
    pallux::TCurrency PALLUX_CALL GetSecondAmount() override { return FSecondAmount.Raw(); }
    pallux::IntfPtr<pallux::IStringConfigList> PALLUX_CALL GetConfigList() override { return FConfigList; }
    void PALLUX_CALL SetTextValue(const std::string& text) override { FTextValue = text; }
    // Both amounts become 0 without a change notice; the configuration list is cleared.
    void PALLUX_CALL Reset() override;

    // Tells whoever listens that an amount changed.
    virtual void Changed() = 0;

protected:
    TCurrencyAmount FAmount;
    TCurrencyAmount FSecondAmount;
    pallux::TPaymentMethodChangeEvent FOnChange;
    std::string FTextValue; // kept for the host; nothing in the module reads it
    pallux::IntfPtr<pallux::IStringConfigList> FConfigList;
};

} // namespace zumvo
