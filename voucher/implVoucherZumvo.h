// TVoucherZumvo: the till's voucher handler. It applies Zumvo codes to the invoice being rung up
// (through the payment screen), re-applies them when the invoice changes (clsReapplication.h),
// reverses them when the cashier cancels or a completed invoice is overridden, and finalises them
// when the invoice is completed. Its state mirrors what the transaction store holds for the
// current basket.
#pragma once

#include "JsonDocument.h"
#include "clsCodeRedemption.h"
#include "clsInterfacedObject.h"
#include "clsMoney.h"
#include "intfActivityMessage.h"
#include "intfCurrentBasket.h"
#include "intfEventManager.h"
#include "intfServiceFactory.h"
#include "intfVoucher.h"
#include "intfZumvoInfo.h"
#include "intfZumvoLogic.h"
#include "intfZumvoTransaction.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace zumvo {

// What a round of reversals left with the provider.
struct TGiveBackResult {
    std::set<std::int32_t> NotGivenBack; // rows whose reversal was not confirmed (settled ones too)
    std::set<std::int32_t> Settled;      // of those, rows found settled: a refund is owed
    std::set<std::int32_t> NotSent;      // of those, rows that could not be marked: still accepted
};

class TVoucherZumvo : public pallux::TInterfacedObject<pallux::IVoucher> {
public:
    // Looks up the services, clears the state (which makes the shared current basket forget its
    // basket) and subscribes to the three payment events. Never fails: errors are logged.
    TVoucherZumvo();

    // Always "Zumvo Voucher".
    void PALLUX_CALL GetDisplayName(std::string& name) override;
    // Always "Zumvo".
    void PALLUX_CALL GetName(std::string& name) override;
    // Applies codes: the payment screen for a basket without live transactions; the last answer
    // again (with Changed false) for a repeated press; re-application when the host calls
    // without the cashier and the invoice changed. answer is a voucher-return document; the
    // result is false when nothing was applied or an error occurred (logged).
    bool PALLUX_CALL DoVoucher(const std::string& invoiceData, std::string& answer, bool fromScreen) override;
    // Always 0 and an empty text.
    std::int32_t PALLUX_CALL GetVoucherInfo(std::int32_t value, std::string& info) override;
    // Reverses the current basket's transactions (nothing while the host takes payment) and marks
    // the basket cancelled; transactions whose reversal was not confirmed stay "failed to
    // cancel". Always false.
    bool PALLUX_CALL CancelVoucher(const std::string& invoiceData) override;
    // Ties the current basket to the invoice; after a successful payment first finalises every
    // redeemed transaction with the provider. answer is "{}" when a basket was open. False only
    // when an error occurred outside the basket processing.
    bool PALLUX_CALL TransactionFinalise(const std::string& invoiceData, std::string& answer) override;
    // For a completed invoice with a Zumvo basket: tells the cashier whether its codes can still
    // be reversed and reverses them when none is finalised.
    void PALLUX_CALL OverringInvoice(std::int32_t value, std::int32_t invoiceNum) override;
    // Makes the basket stored for the invoice the current one, with the answer given for it.
    void PALLUX_CALL PopulateForInvoice(std::int32_t invoiceNum, const std::string& voucherReturn) override;
    // Forgets the current basket.
    void PALLUX_CALL Reset() override;

    // Sends a REVERSE advice for each transaction of the list whose status is not -1 and that has
    // a provider number, each to the provider store its code was accepted under, and records the
    // answers (-1 confirmed, -3 otherwise). A refused reversal of a code whose FINALISE went out
    // is checked with a FINALISE: confirmed, the row is finalised (and listed in Settled). The
    // basket number names the basket reference; the till selects the provider set-up (-1: this
    // till).
    TGiveBackResult CancelVoucherTransactions(std::int32_t basketNo, const TJSONValue& transactions,
                                              const std::string& cashier, std::int32_t tillID);
    // The voucher-return document rebuilt from the basket's live transactions.
    void GetVoucherReturn(TJSONDocument& document);
    // The host's discount code for Zumvo discounts; empty when there is none.
    void GetDiscountCode(std::string& code);

    void Event_BeforePayment(const std::string& eventName, const std::string& data, std::int64_t param);
    void Event_PaymentFailed(const std::string& eventName, const std::string& data, std::int64_t param);
    void Event_PaymentSuccess(const std::string& eventName, const std::string& data, std::int64_t param);

    // Read-only views of the state, for diagnostics and tests.
    std::int32_t BasketID() const { return FBasketID; }
    const TJSONDocument& Transactions() const { return FTransactions; }
    const std::optional<TJSONDocument>& LoadedBasket() const { return FLoadedBasket; }
    const std::optional<TJSONDocument>& LastData() const { return FLastData; }
    const std::string& LastResult() const { return FLastResult; }
    bool InPayment() const { return FInPayment; }
    bool PaymentSucceeded() const { return FPaymentSucceeded; }

private:
    pallux::IntfPtr<ICurrentBasket> FCurrentBasket;
    pallux::IntfPtr<IZumvoInfo> FInfo;
    pallux::IntfPtr<IZumvoTransaction> FStore;
    pallux::IntfPtr<IZumvoLogic> FLogic;
    std::int32_t FBasketID = -1;
    TJSONDocument FTransactions = TJSONDocument::NewArray();
    std::optional<TJSONDocument> FLoadedBasket; // empty: null
    std::optional<TJSONDocument> FLastData;     // empty: null
    std::string FLastResult;
    bool FInPayment = false;
    bool FPaymentSucceeded = false;
    // The basket and host invoice number last recorded as the sale's (RecordSaleInvoice).
    std::pair<std::int32_t, std::int32_t> FSaleInvoice{-1, -1};
    // Codes to give back that could not be given back yet (their mark was refused): until they
    // are, they pay nothing for this sale and are never settled with it.
    std::set<std::int32_t> FPendingGiveBack;
    pallux::TEventSubscriberToken FEvents;

    // The re-application works on the current basket: it gives it back, reloads it and sends its
    // codes again through NewRedemption.
    friend class TReapplication;

    // The payment and discount parts of a round of accepted codes.
    struct TVoucherParts {
        TCents Payment = 0;
        TCents Discount = 0;
        TCents NotKept = 0; // what the codes that could not be kept would have covered
    };

    void Clear();
    // DoVoucher's preparation: the current basket (a new one when there is none), the basket and
    // store members added to the invoice data, the number of live transactions.
    void OpenBasket();
    void AddBasketContext(TJSONDocument& data);
    int CountLiveTransactions() const;
    // The branches of DoVoucher; the third, re-application, is TReapplication.
    void FirstApplication(TJSONDocument& data, std::string& answer, bool& result);
    void RepeatedPress(std::string& answer, bool& result);
    // FirstApplication's parts: the screen's processed total, FTransactions then holding its
    // records (empty when the screen closed without OK); those records saved on their rows, their
    // codes appended to codes.
    std::optional<TCents> RunPaymentScreen(const TJSONDocument& data);
    TVoucherParts SaveScreenRows(TJSONValue codes);
    // A warning for the cashier, with OK.
    static void WarnCashier(const std::string& text);
    // Tries again to give back the pending codes; true when none is left pending.
    bool RetryPendingGiveBack(const std::string& cashier);
    // The codes the last answer the host took counts (VoucherCodes of FLastResult; none when it
    // applied nothing); nothing known when this engine gave the host no answer.
    std::optional<std::multiset<std::string>> CountedCodes() const;
    // Takes one code out of the counted ones; false when it is not among them.
    static bool TakeCounted(std::multiset<std::string>& counted, const std::string& code);
    // FLoadedBasket and FTransactions read again when the store answers; left as they are if not.
    void ReloadBasketIfReadable();
    // Writes the basket's total again when its codes that pay (accepted, being settled or settled)
    // cover another amount.
    void SaveLiveTotal();
    // GetDiscountCode's code as a value.
    std::string DiscountCode();
    // FLoadedBasket and FTransactions read again from the store for the current basket.
    void ReloadBasket();
    // TransactionFinalise's work on an open basket: the FINALISE advices after a successful
    // payment, then the invoice number on the basket and its transactions.
    void FinaliseBasket(const std::string& invoiceData, pallux::IntfPtr<pallux::IActivityMessage>& activity);
    // The redemption of codes of a basket on a till (-1: this till), its log lines named by
    // classMethod.
    TCodeRedemption NewRedemption(const std::string& classMethod, std::int32_t basketID, std::int32_t tillID,
                                  const std::string& cashier, const std::string& lineItems);
    // Gives back the current basket's transactions and marks the basket cancelled, but for the
    // rows whose reversal was not confirmed.
    TGiveBackResult GiveBackBasket(const std::string& cashier);
    // Codes found settled when the sale was given up: each is marked as a refund owed (listed
    // with the held funds), and the cashier is told.
    void RefundOwed(const std::set<std::int32_t>& settled);
    // Sends the advices that are due for earlier failures, after a sale's own work is done.
    void RetryAdvicesAfterSale();
    void RecordSaleInvoice(std::int32_t invoiceNum);
    // The till of a basket-details document (its TillID), -1 when it names none.
    static std::int32_t TillOf(const std::optional<TJSONDocument>& basket);
    // A SOAP client for the till (-1: this till).
    pallux::IntfPtr<IZumvoAPI> ClientForTill(std::int32_t tillID);
};

class TVoucherZumvoFactory : public pallux::TServiceFactory<TVoucherZumvo, pallux::IVoucher> {};

} // namespace zumvo
