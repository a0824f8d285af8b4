#include "implZumvoTransaction.h"

#include "clsPlaceholder.h"

namespace zumvo {

std::int32_t TZumvoTransaction::GetTransaction(std::int32_t) {
    NotAvailable("TZumvoTransaction.GetTransaction");
    return 0;
}

std::int32_t TZumvoTransaction::GetBasket(std::int32_t) {
    NotAvailable("TZumvoTransaction.GetBasket");
    return 0;
}

std::int32_t TZumvoTransaction::AddTransaction() {
    NotAvailable("TZumvoTransaction.AddTransaction");
    return -1;
}

std::int32_t TZumvoTransaction::AddTransactionToBasket(std::int32_t) {
    NotAvailable("TZumvoTransaction.AddTransactionToBasket");
    return -1;
}

std::int32_t TZumvoTransaction::AddBasket(std::int32_t) {
    NotAvailable("TZumvoTransaction.AddBasket");
    return -1;
}

void TZumvoTransaction::SavePayment(std::int32_t, std::int32_t, double, const std::string&) {
    NotAvailable("TZumvoTransaction.SavePayment");
}

void TZumvoTransaction::SaveBasketPayment(std::int32_t, double) {
    NotAvailable("TZumvoTransaction.SaveBasketPayment");
}

void TZumvoTransaction::SaveFinalise(std::int32_t) {
    NotAvailable("TZumvoTransaction.SaveFinalise");
}

void TZumvoTransaction::SaveFinaliseForBasket(std::int32_t) {
    NotAvailable("TZumvoTransaction.SaveFinaliseForBasket");
}

void TZumvoTransaction::SaveInvoiceNum(std::int32_t, std::int32_t) {
    NotAvailable("TZumvoTransaction.SaveInvoiceNum");
}

void TZumvoTransaction::SetBasketInvoice(std::int32_t, std::int32_t) {
    NotAvailable("TZumvoTransaction.SetBasketInvoice");
}

void TZumvoTransaction::SetInvoicForBaskt(std::int32_t, std::int32_t) {
    NotAvailable("TZumvoTransaction.SetInvoicForBaskt");
}

void TZumvoTransaction::SetStatus(std::int32_t, std::int32_t) {
    NotAvailable("TZumvoTransaction.SetStatus");
}

void TZumvoTransaction::SetStatusForBasket(std::int32_t, std::int32_t) {
    NotAvailable("TZumvoTransaction.SetStatusForBasket");
}

bool TZumvoTransaction::AddLog(const std::string&, const std::string&) {
    NotAvailable("TZumvoTransaction.AddLog");
    return false;
}

void TZumvoTransaction::GetBasketDetailsForInvoice(std::int32_t, std::string&) {
    NotAvailable("TZumvoTransaction.GetBasketDetailsForInvoice");
}

void TZumvoTransaction::GetBasketDetailsForID(std::int32_t, std::string&) {
    NotAvailable("TZumvoTransaction.GetBasketDetailsForID");
}

std::int32_t TZumvoTransaction::GetInvoiceTill(std::int32_t) {
    NotAvailable("TZumvoTransaction.GetInvoiceTill");
    return -1;
}

} // namespace zumvo
