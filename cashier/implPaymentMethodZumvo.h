// TPaymentMethodZumvo: the Zumvo tender. It takes no money itself (Zumvo codes go through the
// till's Voucher button); in the driver cash-up it finalises the current basket's redeemed
// codes at the voucher service and reports its amount as the cash-up entry "PAYMENT:ZUMVO".
#pragma once

#include "clsPaymentMethodBase.h"
#include "intfCurrentBasket.h"
#include "intfINISettings.h"
#include "intfServiceFactory.h"
#include "intfZumvoInfo.h"
#include "intfZumvoLogic.h"
#include "intfZumvoTransaction.h"

namespace zumvo {

class TPaymentMethodZumvo : public TPaymentMethodBase {
public:
    // Opens the settings and obtains identity, store, basket hub and provider logic; a service
    // that cannot be had is logged and left empty (the operations needing it then log errors).
    TPaymentMethodZumvo();

    std::string PALLUX_CALL GetNameA() override { return "Zumvo"; }
    std::string PALLUX_CALL GetNameB() override { return "Zumvo"; }
    std::string PALLUX_CALL GetNameC() override { return "Zumvo"; }
    // Tells the cashier to use the Voucher button; always false.
    bool PALLUX_CALL Pay() override;
    // Finalises the current basket's redeemed codes when the host is inserting driver cash-up
    // entries, then offers the tender's amount (when above 0) to proc as (B, A, "PAYMENT:ZUMVO",
    // 0, 0, amount, 0, 0). Statuses are read from the store on every call, so a second call for
    // the same basket sends nothing. Never raises.
    void PALLUX_CALL AddCashupEntry(std::int32_t a, std::int32_t invoiceNum,
                                    const pallux::TAddCashupEntryProc& proc) override;
    // Reports (b, a, "PAYMENT:ZUMVO") when proc is set and the amount is not zero.
    void PALLUX_CALL ReportPaymentCode(std::int32_t a, std::int32_t b,
                                       const pallux::TPaymentCodeProc& proc) override;
    void PALLUX_CALL Hook1() override {}
    void PALLUX_CALL Hook2() override {}
    void PALLUX_CALL Hook3() override {}
    void PALLUX_CALL DoOverringInvoice() override;

    // Calls the change event (when set) with this tender's own interface.
    void Changed() override;

private:
    pallux::IntfPtr<pallux::IINISettings> FSettings;
    pallux::IntfPtr<ICurrentBasket> FBasket;
    pallux::IntfPtr<IZumvoTransaction> FStore;
    pallux::IntfPtr<IZumvoInfo> FInfo;
    pallux::IntfPtr<IZumvoLogic> FLogic;

    void FinaliseCurrentBasket(std::int32_t invoiceNum);
};

class TPaymentMethodZumvoFactory
    : public pallux::TServiceFactory<TPaymentMethodZumvo, pallux::IPaymentMethod> {};

} // namespace zumvo
