#include "clsPaymentMethodBase.h"

#include "clsStringConfigList.h"

namespace zumvo {

TPaymentMethodBase::TPaymentMethodBase() : FConfigList(pallux::MakeIntf<TStringConfigList>()) {
    TPaymentMethodBase::Reset();
}

void TPaymentMethodBase::SetAmount(pallux::TCurrency amount) {
    const auto value = TCurrencyAmount::FromRaw(amount);
    if (value == FAmount)
        return;
    FAmount = value;
    Changed();
}

void TPaymentMethodBase::SetOnChange(const pallux::TPaymentMethodChangeEvent& event) {
    FOnChange = event;
}

void TPaymentMethodBase::SetSecondAmount(pallux::TCurrency amount) {
    const auto value = TCurrencyAmount::FromRaw(amount);
    if (value == FSecondAmount)
        return;
    FSecondAmount = value;
    Changed();
}

void TPaymentMethodBase::Reset() {
    FAmount = {};
    FSecondAmount = {};
    if (FConfigList)
        FConfigList->Clear();
}

} // namespace zumvo
