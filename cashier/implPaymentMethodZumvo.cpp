#include "implPaymentMethodZumvo.h"

#include "clsPlaceholder.h"

namespace zumvo {

void TPaymentMethodZumvo::SetAmount(pallux::TCurrency) {
    NotAvailable("TPaymentMethodZumvo.SetAmount");
}
void TPaymentMethodZumvo::SetOnChange(const pallux::TPaymentMethodChangeEvent&) {
    NotAvailable("TPaymentMethodZumvo.SetOnChange");
}
void TPaymentMethodZumvo::SetSecondAmount(pallux::TCurrency) {
    NotAvailable("TPaymentMethodZumvo.SetSecondAmount");
}
pallux::TCurrency TPaymentMethodZumvo::GetAmount() {
    NotAvailable("TPaymentMethodZumvo.GetAmount");
    return 0;
}
pallux::TPaymentMethodChangeEvent TPaymentMethodZumvo::GetOnChange() {
    NotAvailable("TPaymentMethodZumvo.GetOnChange");
    return {};
}
pallux::TCurrency TPaymentMethodZumvo::GetSecondAmount() {
    NotAvailable("TPaymentMethodZumvo.GetSecondAmount");
    return 0;
}
pallux::IntfPtr<pallux::IStringConfigList> TPaymentMethodZumvo::GetConfigList() {
    NotAvailable("TPaymentMethodZumvo.GetConfigList");
    return {};
}
void TPaymentMethodZumvo::SetTextValue(const std::string&) {
    NotAvailable("TPaymentMethodZumvo.SetTextValue");
}
bool TPaymentMethodZumvo::Pay() {
    NotAvailable("TPaymentMethodZumvo.Pay");
    return false;
}
void TPaymentMethodZumvo::Reset() {
    NotAvailable("TPaymentMethodZumvo.Reset");
}
void TPaymentMethodZumvo::AddCashupEntry(std::int32_t, std::int32_t, const pallux::TAddCashupEntryProc&) {
    NotAvailable("TPaymentMethodZumvo.AddCashupEntry");
}
void TPaymentMethodZumvo::ReportPaymentCode(std::int32_t, std::int32_t, const pallux::TPaymentCodeProc&) {
    NotAvailable("TPaymentMethodZumvo.ReportPaymentCode");
}
void TPaymentMethodZumvo::DoOverringInvoice() {
    NotAvailable("TPaymentMethodZumvo.DoOverringInvoice");
}

} // namespace zumvo
