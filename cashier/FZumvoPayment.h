// TfrmZumvoPayment: the cashier's payment screen. The cashier types or scans Zumvo codes, each
// is sent to the voucher provider for the amount still outstanding, and accepted codes are added
// to the redeemed list that the caller reads after an OK close. Confirmations go through the
// host's display-message service.
#pragma once

#include "JsonDocument.h"
#include "intfBase.h"
#include "intfINISettings.h"
#include "intfZumvoQRDetect.h"

#include <QDialog>

#include <memory>

namespace zumvo {

// The longest code the code box takes (a typed or scanned code beyond it is not a Zumvo code; a
// scanned one is then not put into the box at all, rather than cut).
inline constexpr int VoucherCodeMaxLength = 100;

class TfrmZumvoPayment : public QDialog {
public:
    explicit TfrmZumvoPayment(QWidget* parent = nullptr);
    ~TfrmZumvoPayment() override;

    // Runs the screen modally for one invoice data document (CurrentAmount in cents, AfterDisc,
    // BasketID, PalluxStoreID, TvStoreStoreID, CurrentTillID, Cashier, LineItems). True when the
    // screen closed with OK (some code was accepted and kept); false on Cancel or on an error,
    // which is logged. One window serves one call.
    bool GetPayment(const TJSONDocument& invoiceData, pallux::IntfPtr<pallux::IINISettings> settings);

    // The accepted transactions in the order added (array of objects: TransactionID, tvTrxID,
    // Amount, PaymentAmount, DiscountAmount, Data, Zumvo, Status). Valid after GetPayment.
    const TJSONDocument& RedeemedList() const;
    // Sum of the redeemed list's Amount members, in currency units.
    double ProcessedTotal() const;

    // The first half of GetPayment: takes the invoice data and settings and fills the screen,
    // without running it. For callers that show the screen themselves (the result is then the
    // dialog's result()).
    void Prepare(const TJSONDocument& invoiceData, pallux::IntfPtr<pallux::IINISettings> settings);
    // The QR reader behind Scan; by default the reader program next to the module.
    void UseQRDetect(pallux::IntfPtr<IZumvoQRDetect> detect);

    // Escape, the window manager's close and callers' reject() act as the Cancel button, so
    // nothing accepted is left behind without the cashier's answer.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

} // namespace zumvo
