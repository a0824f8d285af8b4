#include "TCashPaymentMethod.h"

#include "THostServices.h"

namespace refhost {

std::string TStringConfigList::GetValue(const std::string& name) {
    const auto it = FValues.find(name);
    return it == FValues.end() ? std::string() : it->second;
}

void TStringConfigList::SetValue(const std::string& name, const std::string& value) {
    FValues[name] = value;
}

TCashPaymentMethod::TCashPaymentMethod() : FConfig(pallux::MakeIntf<TStringConfigList>()) {}

void TCashPaymentMethod::SetAmount(pallux::TCurrency amount) {
    if (amount == FAmount)
        return;
    FAmount = amount;
    if (FOnChange)
        FOnChange(this);
}

void TCashPaymentMethod::SetSecondAmount(pallux::TCurrency amount) {
    if (amount == FSecondAmount)
        return;
    FSecondAmount = amount;
    if (FOnChange)
        FOnChange(this);
}

void TCashPaymentMethod::Reset() {
    FAmount = 0;
    FSecondAmount = 0;
    FConfig->Clear();
}

void TCashPaymentMethod::AddCashupEntry(std::int32_t a, std::int32_t invoiceNum,
                                        const pallux::TAddCashupEntryProc& proc) {
    if (proc && FAmount > 0)
        proc(invoiceNum, a, PaymentCode, 0, 0, static_cast<double>(FAmount) / pallux::CurrencyScale, 0, 0);
}

void TCashPaymentMethod::ReportPaymentCode(std::int32_t a, std::int32_t b,
                                           const pallux::TPaymentCodeProc& proc) {
    if (proc && FAmount != 0)
        proc(b, a, PaymentCode);
}

void RegisterCashTender(TDIContainer& container) {
    container.RegisterNamedFactory(pallux::IPaymentMethod::IID, TCashPaymentMethod::Name,
                                   pallux::MakeIntf<THostFactory<pallux::IPaymentMethod>>(
                                       std::function<pallux::IntfPtr<pallux::IPaymentMethod>()>(
                                           [] { return pallux::MakeIntf<TCashPaymentMethod>(); }))
                                       .get());
}

} // namespace refhost
