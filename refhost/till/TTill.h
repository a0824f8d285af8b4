// The till's sale actions, each calling the module as the suite's till does: lines, the Voucher
// button and recalculation, discounts, payment with the registered tenders, completion with the
// receipt, cancelling, recalling and overriding a completed invoice, and the driver cash-up.
// GUI and scenario runner share it; a refused action raises ETillError with the cashier's text.
#pragma once

#include "TDIContainer.h"
#include "THostContext.h"
#include "TInvoice.h"
#include "TInvoiceStore.h"
#include "intfVoucher.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace refhost {

class TTill {
public:
    // The module must be loaded: the till looks its extension points up when it needs them.
    TTill(TDIContainer& container, std::shared_ptr<THostContext> ctx, std::shared_ptr<TDatabase> database);
    ~TTill();
    TTill(const TTill&) = delete;
    TTill& operator=(const TTill&) = delete;

    const TInvoice& Invoice() const { return FInvoice; }
    // The invoice shown is a completed one brought back by Recall.
    bool Recalled() const { return FRecalled.has_value(); }
    std::optional<TInvoiceStatus> RecalledStatus() const;
    std::int32_t TillID() const { return FTillID; }
    // The number of the last invoice completed here, 0 when none.
    std::int32_t LastCompleted() const { return FLastCompleted; }
    const std::vector<std::string>& LastReceipt() const { return FLastReceipt; }
    void SetCashier(const std::string& cashier);

    // Names of the registered tenders, voucher handlers and dynamic discounts, in registration order.
    std::vector<std::string> TenderNames() const;
    std::vector<std::string> VoucherNames() const;
    std::vector<std::string> DiscountNames() const;

    // Line changes; with vouchers applied the module recalculates them afterwards. With vouchers
    // applied, line changes, discounts and recalculation are refused once another tender has
    // taken part of the sale (the vouchers would be asked for the whole new total): that tender's
    // money is given back first (GiveBack).
    void AddLine(const TInvoiceLine& line);
    void RemoveLine(const std::string& code);
    void ChangeQuantity(const std::string& code, double quantity);

    // The Voucher button: DoVoucher(data, answer, true) of every voucher handler; the answer is
    // applied to the invoice. Answers the handlers' result (false when any answered false).
    bool Voucher();
    // DoVoucher(data, answer, false) when vouchers are applied; the answer replaces the old one.
    bool Recalculate();
    // Applies the dynamic discount with the registered name, discount ID or display name.
    void Discount(const std::string& name);
    // Takes a payment with the tender (name case ignored) for amount, by default what is
    // outstanding. Raises the payment events; answers whether the tender took the payment.
    bool Pay(const std::string& tender, std::optional<TMoney> amount = std::nullopt);
    // Gives back what other tenders took of the open sale (the cashier hands the money back; the
    // voucher parts stay). Refused when there is nothing to give back.
    void GiveBack();
    // Completes the sale: the voucher handlers' TransactionFinalise, the invoice written, the
    // receipt printed. A sale with money outstanding is refused unless it is a driver's invoice
    // (paid at the driver cash-up). Starts a new sale.
    void Complete(bool driverInvoice = false);
    // Abandons the sale: CancelVoucher and Reset of every voucher handler; starts a new sale.
    // A recalled invoice is just put away.
    void CancelInvoice();
    // Brings a completed invoice back (PopulateForInvoice with its stored voucher answer).
    void Recall(std::int32_t invoiceNum);
    // Overrides the recalled invoice: OverringInvoice, every tender's DoOverringInvoice, status
    // Overridden. Starts a new sale.
    void Override();
    // Puts a recalled invoice away and starts a new sale; refused while a sale is open.
    void NewSale();
    // The driver cash-up of a completed driver's invoice: the four cash-up events in order, the
    // outstanding amount taken in cash, and every tender's cash-up entry and payment code.
    std::vector<TCashupEntry> DriverCashup(std::int32_t invoiceNum);

    // Shows a message through the host's display-message service; answers the button pressed
    // (OK when the service is missing).
    std::int32_t Ask(const std::string& text, std::int32_t msgType, std::int32_t buttons);

    // Called after every change of the invoice or of the till's state.
    std::function<void()> OnChanged;

private:
    TDIContainer& FContainer;
    std::shared_ptr<THostContext> FContext;
    TInvoiceStore FStore;
    std::int32_t FTillID;
    std::int32_t FShiftNum;
    std::string FCashier;
    TInvoice FInvoice;
    std::optional<TStoredInvoice> FRecalled;
    bool FPaid = false;
    std::int32_t FLastCompleted = 0;
    std::vector<std::string> FLastReceipt;
    std::vector<std::pair<std::string, pallux::IntfPtr<pallux::IVoucher>>> FVouchers;
    bool FVouchersLoaded = false;

    const std::vector<std::pair<std::string, pallux::IntfPtr<pallux::IVoucher>>>& Vouchers();
    void Log(const std::string& kind, const std::string& text);
    void Raise(const std::string& event, const std::string& data);
    void Changed();
    void RequireOpenSale(const char* action) const;
    void RequireNoOtherPayments() const;
    void AfterLinesChanged();
    void StartNewSale();
    void ResetVouchers();
    std::vector<std::string> PrintReceipt();
};

} // namespace refhost
