#include "implPaymentMethodZumvo.h"
#include "clsPointOfSale.h"

#include "clsCodeRedemption.h"

#include "JsonDocument.h"
#include "ZumvoLog.h"
#include "clsModuleContainer.h"
#include "clsTransactionStatus.h"
#include "intfDisplayMessage.h"

namespace zumvo {

namespace {

const char* const PaymentCode = "PAYMENT:ZUMVO";

} // namespace

TPaymentMethodZumvo::TPaymentMethodZumvo() {
    Guarded("TPaymentMethodZumvo.Create", [&] {
        Require(CreateService(FSettings) && FSettings, "Could not make INISettings");
        FSettings->Open(ModuleSettingsFile(), "Settings");
        GetSingletonService(FInfo);
        CreateService(FStore);
        GetSingletonService(FBasket);
        CreateService(FLogic);
    });
}

void TPaymentMethodZumvo::Changed() {
    if (FOnChange)
        FOnChange(static_cast<pallux::IPaymentMethod*>(this));
}

bool TPaymentMethodZumvo::Pay() {
    Guarded("TPaymentMethodZumvo.Pay", [&] {
        pallux::IntfPtr<pallux::IDisplayMessage> messages;
        CreateService(messages);
        Use(messages, "DisplayMessage")
            .ShowMessage("Please use the Voucher button during a transaction to apply a Zumvo",
                         pallux::mtInformation, pallux::mbOK);
    });
    return false;
}

void TPaymentMethodZumvo::FinaliseCurrentBasket(std::int32_t invoiceNum) {
    auto& basket = Use(FBasket, "CurrentBasket");
    if (!(basket.DriverCashupStarted() && basket.DriverCashupPaying() && basket.DriverCashupInserting()))
        return;
    const std::int32_t basketID = basket.GetBasketID();
    if (basketID < 0)
        return;

    auto& store = Use(FStore, "ZumvoTransaction");
    auto& info = Use(FInfo, "ZumvoInfo");
    std::string detailsText;
    store.GetBasketDetailsForID(basketID, detailsText);
    const TJSONDocument details = TJSONDocument::Parse(detailsText);
    LogInfo("[TPaymentMethodZumvo.AddCashupEntry] : %", details.ToJSON());

    std::int32_t till = details.Exists("TillID") ? details["TillID"].AsInteger() : -1;
    if (till == -1)
        till = store.GetInvoiceTill(invoiceNum);
    pallux::IntfPtr<IZumvoAPI> client;
    auto& logic = Use(FLogic, "ZumvoLogic");
    if (till != -1)
        logic.ZumvoAPIForTill(till, client);
    else
        logic.ZumvoAPI(client);
    TRedemptionContext context;
    context.ClassMethod = "TPaymentMethodZumvo.AddCashupEntry";
    context.StoreID = info.GetStoreID();
    context.PosID = PointOfSaleID(till == -1 ? info.GetTillID() : till);
    context.BasketID = basketID;
    context.Cashier = "-";
    TCodeRedemption redemption(std::move(context), client, FStore, FLogic);

    std::vector<TCodeRedemption::TDue> due;
    const TJSONValue transactions = details["Transactions"];
    for (int i = 0; i < transactions._Count(); ++i) {
        const TJSONValue trx = transactions[i];
        LogInfo("[TPaymentMethodZumvo.AddCashupEntry] Transaction : % | Status: %", trx["ID"].AsString(""),
                trx["Status"].AsString(""));
        if (trx["Status"].AsInteger() != ToInt(TTransactionStatus::Redeemed))
            continue;
        const std::int32_t transactionID = trx["TransactionID"].AsInteger();
        LogInfo("[TPaymentMethodZumvo.AddCashupEntry] Needs finalise : %",
                ProviderReference(info.GetStoreID(), transactionID));
        store.AddLog("INFO", "Finalising Transaction: " + std::to_string(transactionID));
        due.push_back({transactionID, trx["TvTrxID"].AsInteger(), ProviderStoreOf(trx)});
    }
    // Each row is finalised on its own confirmed answer, under the store it was accepted in; one
    // that is not stays "failed to finalise", listed for the advice retry.
    redemption.FinaliseAll(due);
    LogInfo("[TPaymentMethodZumvo.AddCashupEntry] Calling Finalise for basket : %", basketID);
    store.AddLog("INFO", "Setting Finalise For Basket: " + std::to_string(basketID));
}

void TPaymentMethodZumvo::AddCashupEntry(std::int32_t a, std::int32_t invoiceNum,
                                         const pallux::TAddCashupEntryProc& proc) {
    Guarded("TPaymentMethodZumvo.AddCashupEntry", [&] { FinaliseCurrentBasket(invoiceNum); });
    // The amount is offered whatever happened above. The host's callback takes its invoice
    // number first.
    Guarded("TPaymentMethodZumvo.AddCashupEntry", [&] {
        if (proc && FAmount.IsPositive())
            proc(invoiceNum, a, PaymentCode, 0, 0, FAmount.ToDouble(), 0, 0);
    });
}

void TPaymentMethodZumvo::ReportPaymentCode(std::int32_t a, std::int32_t b,
                                            const pallux::TPaymentCodeProc& proc) {
    Guarded("TPaymentMethodZumvo.ReportPaymentCode", [&] {
        if (proc && !FAmount.IsZero())
            proc(b, a, PaymentCode);
    });
}

void TPaymentMethodZumvo::DoOverringInvoice() {
    LogInfo("[TPaymentMethodZumvo.DoOverringInvoice] ---- : %");
}

} // namespace zumvo
