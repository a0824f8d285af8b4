// The till's invoices in the host database: the host tables INVOICES and InvoicesPayment that the
// module's report reads, and the till's own tables that let a completed invoice be recalled
// (InvoiceLines, InvoiceDiscounts, InvoiceVoucher) and that keep the driver cash-up entries
// (DriverCashup).
#pragma once

#include "TDatabase.h"
#include "TInvoice.h"

#include <memory>
#include <optional>

namespace refhost {

struct TStoredInvoice {
    std::int32_t InvoiceNum = 0;
    std::int32_t TillID = 0;
    TInvoiceStatus Status = TInvoiceStatus::Normal;
    TMoney AfterDisc = 0;
    std::string Cashier;
    std::vector<TInvoiceLine> Lines;
    std::vector<TInvoiceDiscount> Discounts;
    std::vector<TInvoicePayment> Payments;
    std::string VoucherReturn;
};

struct TCashupEntry {
    std::int32_t InvoiceNum = 0;
    std::int32_t TillID = 0;
    std::string PaymentCode;
    double Amount = 0;
};

class TInvoiceStore {
public:
    // Creates the till's own tables when they are missing (the host tables exist already).
    explicit TInvoiceStore(std::shared_ptr<TDatabase> database);

    // Reserves the number of this till's next invoice: one above the highest stored or reserved by
    // any till, at least 1. Tills sharing the database never get the same number (the reservation
    // is a row whose key is the number). The till's earlier reservation is dropped first, so a sale
    // that ended without an invoice leaves no gap when the till is the only one counting.
    std::int32_t ReserveInvoiceNum(std::int32_t tillID);
    // Writes a completed invoice in one batch: its INVOICES row (status Normal), one
    // InvoicesPayment row per payment, its lines, discounts and voucher answer. An invoice
    // number that exists already is refused (EDatabaseError) and nothing is written.
    void Save(const TInvoice& invoice, std::int32_t tillID, std::int32_t shiftNum);
    // The stored invoice, or none.
    std::optional<TStoredInvoice> Load(std::int32_t invoiceNum) const;
    void SetStatus(std::int32_t invoiceNum, TInvoiceStatus status);
    // Adds a payment row to a stored invoice (taken at the driver cash-up).
    void AddPayment(std::int32_t invoiceNum, const TInvoicePayment& payment);
    void AddCashupEntry(const TCashupEntry& entry);
    std::vector<TCashupEntry> CashupEntries(std::int32_t invoiceNum) const;
    // Makes sure the shift has its TILLPOST row (not posted).
    void OpenShift(std::int32_t shiftNum, std::int32_t tillID);

private:
    std::shared_ptr<TDatabase> FDatabase;
    TDbResultSet Query(const std::string& sql) const;
};

} // namespace refhost
