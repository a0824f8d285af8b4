#include "implVoucherZumvo.h"

#include "clsPlaceholder.h"

namespace zumvo {

void PALLUX_CALL TVoucherZumvo::GetDisplayName(std::string& name) {
    NotAvailable("TVoucherZumvo.GetDisplayName");
    name = "Zumvo Voucher";
}

void PALLUX_CALL TVoucherZumvo::GetName(std::string& name) {
    NotAvailable("TVoucherZumvo.GetName");
    name = "Zumvo";
}

bool PALLUX_CALL TVoucherZumvo::DoVoucher(const std::string&, std::string&, bool) {
    NotAvailable("TVoucherZumvo.DoVoucher");
    return false;
}

std::int32_t PALLUX_CALL TVoucherZumvo::GetVoucherInfo(std::int32_t, std::string& info) {
    NotAvailable("TVoucherZumvo.GetVoucherInfo");
    info.clear();
    return 0;
}

bool PALLUX_CALL TVoucherZumvo::CancelVoucher(const std::string&) {
    NotAvailable("TVoucherZumvo.CancelVoucher");
    return false;
}

bool PALLUX_CALL TVoucherZumvo::TransactionFinalise(const std::string&, std::string&) {
    NotAvailable("TVoucherZumvo.TransactionFinalise");
    return false;
}

void PALLUX_CALL TVoucherZumvo::OverringInvoice(std::int32_t, std::int32_t) {
    NotAvailable("TVoucherZumvo.OverringInvoice");
}

void PALLUX_CALL TVoucherZumvo::PopulateForInvoice(std::int32_t, const std::string&) {
    NotAvailable("TVoucherZumvo.PopulateForInvoice");
}

void PALLUX_CALL TVoucherZumvo::Reset() {
    NotAvailable("TVoucherZumvo.Reset");
}

} // namespace zumvo
