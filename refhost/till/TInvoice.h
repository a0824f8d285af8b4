// The invoice being rung up at the till: lines, discounts, payments and the voucher answer that
// applied some of them. Money is held in whole cents; documents for the module carry currency
// units.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zumvo {
class TJSONDocument;
}

namespace refhost {

// Whole cents.
using TMoney = std::int64_t;

// A till action that cannot be carried out (the message says why, for the cashier).
class ETillError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Currency units to cents, rounded to the nearest cent (halves away from zero).
TMoney ToCents(double units);
double ToUnits(TMoney cents);
// "12.50", "-3.05".
std::string CentsText(TMoney cents);

struct TInvoiceLine {
    std::string Code;
    std::string Description;
    TMoney Price = 0;
    double Quantity = 1;

    TMoney Total() const;
};

struct TInvoiceDiscount {
    std::string Code;
    std::string Name;
    TMoney Amount = 0;
    bool FromVoucher = false;
};

struct TInvoicePayment {
    std::string Type; // "Cash", "Zumvo", ...
    TMoney Amount = 0;
    bool FromVoucher = false;
};

// Statuses the host keeps in INVOICES.STATUS (the back-office report prints 1 and 2 as "O/R").
enum class TInvoiceStatus : int {
    Normal = 0,     // completed sale
    Overridden = 1, // completed, then overridden at the till
    Refunded = 2,   // completed, then refunded
};

class TInvoice {
public:
    TInvoice(std::int32_t invoiceNum, std::string cashier);

    std::int32_t InvoiceNum() const { return FInvoiceNum; }
    const std::string& Cashier() const { return FCashier; }
    void SetCashier(std::string cashier) { FCashier = std::move(cashier); }
    const std::vector<TInvoiceLine>& Lines() const { return FLines; }
    const std::vector<TInvoiceDiscount>& Discounts() const { return FDiscounts; }
    const std::vector<TInvoicePayment>& Payments() const { return FPayments; }
    bool Empty() const { return FLines.empty(); }

    // Adds a line; a line with the same code and price adds to that line's quantity. A quantity
    // that is not above 0 or a negative price is refused.
    void AddLine(const TInvoiceLine& line);
    // Removes the line with the code (case ignored); ETillError when there is none.
    void RemoveLine(const std::string& code);
    // Sets the quantity of the line with the code; ETillError when there is none or the
    // quantity is not above 0.
    void ChangeQuantity(const std::string& code, double quantity);
    void AddDiscount(const TInvoiceDiscount& discount);
    void AddPayment(const TInvoicePayment& payment);
    // Removes the payments that other tenders took (the voucher parts stay); answers them.
    std::vector<TInvoicePayment> RemoveOtherPayments();

    TMoney SubTotal() const;      // sum of the lines
    TMoney DiscountTotal() const; // sum of the discounts
    TMoney AfterDisc() const;     // SubTotal - DiscountTotal
    TMoney Paid() const;          // sum of the payments
    TMoney Outstanding() const;   // AfterDisc - Paid (negative: change due)

    // The invoice data document handed to the module: AfterDisc, LineItems (Code, Price,
    // Quantity), Cashier, InvoiceNum, InvID.
    std::string DataDocument() const;

    // Applies a voucher-return document. Changed=false leaves the invoice as it is. With Result
    // true the earlier voucher payment and discount are replaced by the document's payment part
    // (a payment of PaymentType, "Zumvo" when absent) and discount part (a discount with
    // DiscountCode). With Result false a recalculation drops the earlier voucher parts (their
    // codes are gone), while a first application changes nothing. Answers whether the invoice
    // changed; a text that is not a JSON object raises ETillError.
    bool ApplyVoucherReturn(const std::string& voucherReturn, bool recalculation);
    // The last voucher-return text that applied codes (empty when none).
    const std::string& VoucherReturn() const { return FVoucherReturn; }
    bool HasVouchers() const { return !FVoucherReturn.empty(); }

    // Restores a stored invoice (recall).
    void Restore(std::vector<TInvoiceLine> lines, std::vector<TInvoiceDiscount> discounts,
                 std::vector<TInvoicePayment> payments, std::string voucherReturn);

private:
    std::int32_t FInvoiceNum;
    std::string FCashier;
    std::vector<TInvoiceLine> FLines;
    std::vector<TInvoiceDiscount> FDiscounts;
    std::vector<TInvoicePayment> FPayments;
    std::string FVoucherReturn;

    void DropVoucherParts();
    std::vector<TInvoiceLine>::iterator FindLine(const std::string& code);
};

} // namespace refhost
