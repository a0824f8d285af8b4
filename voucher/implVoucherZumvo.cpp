#include "implVoucherZumvo.h"
#include "clsPointOfSale.h"

#include "FZumvoPayment.h"
#include "SimpleXMLtoJSON.h"
#include "ZumvoLog.h"
#include "clsAdviceRetry.h"
#include "clsBasketRows.h"
#include "clsCodeRedemption.h"
#include "clsModuleContainer.h"
#include "clsMoney.h"
#include "clsReapplication.h"
#include "clsSysUtils.h"
#include "clsVoucherReturn.h"
#include "implZumvoAPI.h"
#include "intfDBScript.h"
#include "intfDisplayMessage.h"

#include <QApplication>

#include <set>
#include <stdexcept>

namespace zumvo {

namespace {

const std::string RepeatedPressKey = "{F4B9438F-5660-4F41-860C-C320E187B1BD}";

std::string Repeat(char c, std::size_t n) {
    return std::string(n, c);
}

// A null document logs as "null", like a null member.
std::string JsonText(const std::optional<TJSONDocument>& doc) {
    return doc ? doc->ToJSON() : std::string("null");
}

std::string Decimal(std::int64_t n) {
    return std::to_string(n);
}

} // namespace

// ---- state and lifecycle

TVoucherZumvo::TVoucherZumvo() {
    Guarded("TVoucherZumvo.Create", [&] {
        GetSingletonService(FCurrentBasket);
        GetSingletonService(FInfo);
        CreateService(FStore);
        pallux::IntfPtr<pallux::IEventManager> events;
        GetInstanceService(events);
        CreateService(FLogic);
        Clear();
        auto& manager = Use(events, "EventManager");
        manager.Subscribe(pallux::HostEvent::BeforePayment,
                          FEvents.Bind<&TVoucherZumvo::Event_BeforePayment>(this));
        manager.Subscribe(pallux::HostEvent::AfterPaymentFailed,
                          FEvents.Bind<&TVoucherZumvo::Event_PaymentFailed>(this));
        manager.Subscribe(pallux::HostEvent::AfterPaymentSuccess,
                          FEvents.Bind<&TVoucherZumvo::Event_PaymentSuccess>(this));
    });
}

void TVoucherZumvo::Clear() {
    Use(FCurrentBasket, "CurrentBasket").ResetBasket();
    FBasketID = -1;
    FTransactions = TJSONDocument::NewArray();
    FLoadedBasket.reset();
    FLastData.reset();
    FInPayment = false;
    FPaymentSucceeded = false;
    FLastResult.clear();
    FPendingGiveBack.clear();
    LogInfo("[TVoucherZumvo.Clear] Basket ID      : %", FBasketID);
    LogInfo("[TVoucherZumvo.Clear] Current Basket : %", FCurrentBasket->GetBasketID());
    LogInfo("[TVoucherZumvo.Clear] Transactions   : %", FTransactions.ToJSON());
    LogInfo("[TVoucherZumvo.Clear] Loaded Basket  : %", JsonText(FLoadedBasket));
}

void PALLUX_CALL TVoucherZumvo::Reset() {
    Guarded("TVoucherZumvo.Reset", [&] {
        LogInfo("[TVoucherZumvo.Reset] ....");
        Clear();
    });
}

void PALLUX_CALL TVoucherZumvo::GetDisplayName(std::string& name) {
    name = "Zumvo Voucher";
}

void PALLUX_CALL TVoucherZumvo::GetName(std::string& name) {
    name = "Zumvo";
}

std::int32_t PALLUX_CALL TVoucherZumvo::GetVoucherInfo(std::int32_t, std::string& info) {
    info.clear();
    return 0;
}

void TVoucherZumvo::Event_BeforePayment(const std::string&, const std::string& data, std::int64_t) {
    LogInfo("[TVoucherZumvo.Event_BeforePayment] Starting Payment");
    Guarded("TVoucherZumvo.Event_BeforePayment", [&] {
        if (!data.empty() && data.front() == '{' && FBasketID > 0)
            RecordSaleInvoice(TJSONDocument::Parse(data)["InvoiceNum"].AsInteger(-1));
        RetryPendingGiveBack("-");
    });
    FInPayment = true;
    FPaymentSucceeded = false;
}

void TVoucherZumvo::Event_PaymentFailed(const std::string&, const std::string&, std::int64_t) {
    LogInfo("[TVoucherZumvo.Event_PaymentFailed] Payment Done");
    FInPayment = false;
    FPaymentSucceeded = false;
}

void TVoucherZumvo::Event_PaymentSuccess(const std::string&, const std::string&, std::int64_t) {
    LogInfo("[TVoucherZumvo.Event_PaymentSuccess] Payment Done");
    FInPayment = false;
    FPaymentSucceeded = true;
}

// ---- helpers

std::int32_t TVoucherZumvo::TillOf(const std::optional<TJSONDocument>& basket) {
    if (!basket || (*basket)["TillID"].IsNull())
        return -1;
    return (*basket)["TillID"].AsInteger(-1);
}

pallux::IntfPtr<IZumvoAPI> TVoucherZumvo::ClientForTill(std::int32_t tillID) {
    pallux::IntfPtr<IZumvoAPI> client;
    auto& logic = Use(FLogic, "ZumvoLogic");
    if (tillID == -1)
        logic.ZumvoAPI(client);
    else
        logic.ZumvoAPIForTill(tillID, client);
    Use(client, "ZumvoAPI");
    return client;
}

void TVoucherZumvo::ReloadBasket() {
    std::string details;
    Use(FStore, "ZumvoTransaction").GetBasketDetailsForID(FBasketID, details);
    FLoadedBasket = TJSONDocument::Parse(details);
    FTransactions = TJSONDocument::CopyOf((*FLoadedBasket)["Transactions"]);
}

void TVoucherZumvo::ReloadBasketIfReadable() {
    std::string details;
    Use(FStore, "ZumvoTransaction").GetBasketDetailsForID(FBasketID, details);
    if (details.empty())
        return; // not read (logged): the copy stays
    FLoadedBasket = TJSONDocument::Parse(details);
    FTransactions = TJSONDocument::CopyOf((*FLoadedBasket)["Transactions"]);
}

void TVoucherZumvo::SaveLiveTotal() {
    TCents live = 0;
    for (int i = 0; i < FTransactions._Count(); ++i)
        if (HasStatus(FTransactions[i], TTransactionStatus::Redeemed) ||
            HasStatus(FTransactions[i], TTransactionStatus::FinaliseFailed) ||
            HasStatus(FTransactions[i], TTransactionStatus::Finalised))
            live += AmountCents(FTransactions[i]["Amount"]);
    if (FLoadedBasket && AmountCents((*FLoadedBasket)["TotalAmount"]) != live)
        SaveBasketTotal(Use(FStore, "ZumvoTransaction"), FBasketID, live);
}

std::string TVoucherZumvo::DiscountCode() {
    std::string code;
    GetDiscountCode(code);
    return code;
}

void TVoucherZumvo::GetDiscountCode(std::string& code) {
    code.clear();
    Guarded("TVoucherZumvo.GetDiscountCode", [&] {
        pallux::IntfPtr<pallux::IDBScript> db;
        Require(CreateService(db), "Could not create DBScript");
        db->GetValueFmt("SELECT [Code] FROM [Discount] WHERE [DiscRef] = %s ", {pallux::QuotedStr("ZUMVO")},
                        "Code", code);
    });
}

// ---- applying vouchers

bool PALLUX_CALL TVoucherZumvo::DoVoucher(const std::string& invoiceData, std::string& answer,
                                          bool fromScreen) {
    bool result = false;
    bool answered = false;
    answer = FailureAnswer();
    Guarded("TVoucherZumvo.DoVoucher", [&] {
        TJSONDocument data = TJSONDocument::Parse(invoiceData);
        pallux::IntfPtr<pallux::IDisplayMessage> messages;
        CreateService(messages);
        pallux::IntfPtr<pallux::IActivityMessage> activity;
        CreateService(activity);

        LogInfo("[TVoucherZumvo.DoVoucher] " + Repeat('<', 59));
        LogInfo("[TVoucherZumvo.DoVoucher] FROM UI: %", fromScreen);
        OpenBasket();
        RecordSaleInvoice(data["InvoiceNum"].AsInteger(-1));
        AddBasketContext(data);
        const int validCount = CountLiveTransactions();

        if (validCount == 0) {
            FirstApplication(data, answer, result);
        } else {
            LogInfo("[TVoucherZumvo.DoVoucher] " + Repeat('^', 61));
            LogInfo("[TVoucherZumvo.DoVoucher] There are already existing transaction. Checking for cancel");
            LogInfo("[TVoucherZumvo.DoVoucher] Last : %", JsonText(FLastData));
            LogInfo("[TVoucherZumvo.DoVoucher] Current : %", data.ToJSON());
            LogInfo("[TVoucherZumvo.DoVoucher] " + Repeat('^', 61));
            FlushLog();
            if (fromScreen)
                RepeatedPress(answer, result);
            else
                TReapplication(*this, activity).Run(data, answer, result);
        }
        if (validCount == 0 || !fromScreen)
            FLastData = TJSONDocument::Parse(invoiceData);
        answered = true;
    });
    // An error on the way leaves the host with the failure answer: the sale's codes count for
    // nothing now, whatever an earlier answer said.
    if (!answered && !fromScreen)
        FLastResult = answer;
    return result;
}

void TVoucherZumvo::OpenBasket() {
    auto& currentBasket = Use(FCurrentBasket, "CurrentBasket");
    auto& store = Use(FStore, "ZumvoTransaction");
    FBasketID = currentBasket.GetBasketID();
    if (FBasketID == -1) {
        LogInfo("[TVoucherZumvo.DoVoucher] Adding new basket");
        FBasketID = currentBasket.NewBasket();
        store.AddLog("INFO", "New Basket: " + Decimal(FBasketID));
        std::string details;
        store.GetBasketDetailsForID(FBasketID, details);
        FLoadedBasket = TJSONDocument::Parse(details);
    }
    LogInfo("[TVoucherZumvo.DoVoucher] Current Basket : %", FBasketID);
}

void TVoucherZumvo::AddBasketContext(TJSONDocument& data) {
    auto& info = Use(FInfo, "ZumvoInfo");
    data.Add("CurrentTillID", info.GetTillID());
    data.Add("BasketID", FBasketID);
    data.Add("PalluxStoreID", info.GetStoreID());
    // The provider's store as the settings name it now, as the advices that settle or give back
    // these codes will name it: a store read once at start-up would differ after an edit.
    data.Add("TvStoreStoreID", info.CalcZumvoStoreID(-1));
    data.Add("CurrentAmount", CentsOf(data["AfterDisc"].AsFloat()));
    LogInfo("[TVoucherZumvo.DoVoucher] Data : %", data.ToJSON());
    LogInfo("[TVoucherZumvo.DoVoucher] Transactions : %", FTransactions.ToJSON());
}

int TVoucherZumvo::CountLiveTransactions() const {
    int validCount = 0;
    for (int j = 0; j < FTransactions._Count(); ++j) {
        const TJSONValue transaction = FTransactions[j];
        LogInfo("[TVoucherZumvo.DoVoucher] % : %", j, transaction["Status"].ToJSON());
        if (IsLive(transaction))
            ++validCount;
    }
    LogInfo("[TVoucherZumvo.DoVoucher] Valid Count : %", validCount);
    return validCount;
}

void TVoucherZumvo::FirstApplication(TJSONDocument& data, std::string& answer, bool& result) {
    std::optional<TCents> total = RunPaymentScreen(data);
    if (!total) {
        answer = FailureAnswer();
        result = false;
        return;
    }
    TJSONDocument reply;
    const TVoucherParts parts = SaveScreenRows(reply.AddArray("VoucherCodes"));
    *total -= parts.NotKept;
    const TVoucherKind kind = VoucherKindOf(parts.Payment, parts.Discount);
    if (kind == TVoucherKind::Invalid) {
        // Codes that add up to a negative part cannot be tendered: kept, they would be settled at
        // the end of a sale the customer paid another way. They are given back.
        LogInfo(
            "[TVoucherZumvo.DoVoucher] Negative voucher sum (% payment, % discount): giving the codes back",
            FixedText(parts.Payment), FixedText(parts.Discount));
        GiveBackBasket(data["Cashier"].AsString(""));
        ReloadBasket();
        answer = FailureAnswer();
        FLastResult = answer;
        result = false;
        return;
    }
    if (kind == TVoucherKind::Loyalty) {
        AddLoyaltyMembers(reply.Root());
    } else {
        reply.Add("VoucherAmount", UnitsOf(*total));
        AddTenderMembers(reply.Root(), kind, parts.Payment, parts.Discount,
                         [this] { return DiscountCode(); });
    }
    answer = reply.ToJSON();
    LogInfo("[TVoucherZumvo.DoVoucher] Voucher Result : %", answer);
    FLastResult = answer;
    SaveBasketTotal(Use(FStore, "ZumvoTransaction"), FBasketID, *total);
    result = true;
}

std::optional<TCents> TVoucherZumvo::RunPaymentScreen(const TJSONDocument& data) {
    // Qt needs its application object before any window can exist: a host without a user
    // interface cannot show the screen.
    if (!qApp)
        throw std::runtime_error("The payment screen needs the host's user interface");
    pallux::IntfPtr<pallux::IINISettings> settings;
    Use(FInfo, "ZumvoInfo").GetSettings(settings);
    auto screen = std::make_unique<TfrmZumvoPayment>(QApplication::activeWindow());
    if (!screen->GetPayment(data, settings))
        return std::nullopt;
    auto& store = Use(FStore, "ZumvoTransaction");
    const TCents total = RoundedCentsOf(screen->ProcessedTotal());
    LogInfo("[TVoucherZumvo.DoVoucher] Total Amount Processed : %", UnitsOf(total));
    store.AddLog("INFO", "Amount Processed: " + FixedText(total));

    FTransactions = screen->RedeemedList().Clone();
    LogInfo("[TVoucherZumvo.DoVoucher] Transactions : %", FTransactions.ToJSON());
    return total;
}

TVoucherZumvo::TVoucherParts TVoucherZumvo::SaveScreenRows(TJSONValue codes) {
    auto& store = Use(FStore, "ZumvoTransaction");
    TVoucherParts parts;
    TJSONDocument kept = TJSONDocument::NewArray();
    std::string notKept;
    for (int i = 0; i < FTransactions._Count(); ++i) {
        const TJSONValue record = FTransactions[i];
        LogInfo("[TVoucherZumvo.DoVoucher] Data : %", record["Data"].ToJSON());
        if (!SaveAcceptedRow(store, record)) {
            // Given back meanwhile (or not recordable): the code pays nothing. One that is still
            // held at the provider is listed with the held funds and given back from there.
            parts.NotKept += AmountCents(record["PaymentAmount"]) + AmountCents(record["DiscountAmount"]);
            notKept += (notKept.empty() ? "" : ", ") + record["Zumvo"].AsString("");
            continue;
        }
        parts.Payment += AmountCents(record["PaymentAmount"]);
        parts.Discount += AmountCents(record["DiscountAmount"]);
        codes.Append(record["Zumvo"].AsString(""));
        kept.Append(record);
    }
    FTransactions = std::move(kept);
    if (!notKept.empty()) {
        WarnCashier("The Zumvo code(s) " + notKept +
                    " could not be kept for this sale and pay nothing.\r\n"
                    "Take the amount another way");
    }
    return parts;
}

void TVoucherZumvo::RepeatedPress(std::string& answer, bool& result) {
    TJSONDocument last = TJSONDocument::Parse(FLastResult);
    LogInfo("[TVoucherZumvo.DoVoucher] Result: %", last.ToJSON());
    FlushLog();
    const std::string text = Decimal(last["VoucherCodes"]._Count()) + " Zumvo voucher(s) for " +
                             CurrencyText(UnitsOf(AmountCents(last["VoucherAmount"]))) +
                             " already been applied to this order!";
    pallux::IntfPtr<pallux::IDisplayMessage> messages;
    CreateService(messages);
    Use(messages, "DisplayMessage").ShowKeyedMessage(text, RepeatedPressKey, pallux::mbOK, 1);
    last.Set("Changed", false);
    answer = last.ToJSON();
    result = true;
}

TCodeRedemption TVoucherZumvo::NewRedemption(const std::string& classMethod, std::int32_t basketID,
                                             std::int32_t tillID, const std::string& cashier,
                                             const std::string& lineItems) {
    auto& info = Use(FInfo, "ZumvoInfo");
    auto& logic = Use(FLogic, "ZumvoLogic");
    TRedemptionContext context;
    context.ClassMethod = classMethod;
    context.StoreID = info.GetStoreID();
    context.ProviderStoreID = tillID == -1 ? logic.ZumvoStoreID() : logic.ZumvoStoreIDForTill(tillID);
    context.PosID = PointOfSaleID(tillID == -1 ? info.GetTillID() : tillID);
    context.BasketID = basketID;
    context.Cashier = cashier;
    context.LineItems = lineItems;
    return TCodeRedemption(std::move(context), ClientForTill(tillID), FStore, FLogic);
}

void TVoucherZumvo::GetVoucherReturn(TJSONDocument& document) {
    document = TJSONDocument();
    Guarded("TVoucherZumvo.GetVoucherReturn", [&] {
        TCents payment = 0;
        TCents discount = 0;
        int count = 0;
        TJSONDocument codes = TJSONDocument::NewArray();
        for (int i = 0; i < FTransactions._Count(); ++i) {
            const TJSONValue transaction = FTransactions[i];
            if (!IsLive(transaction))
                continue;
            payment += AmountCents(transaction["Data"]["PaymentAmount"]);
            discount += AmountCents(transaction["Data"]["DiscountAmount"]);
            ++count;
            codes.Append(transaction["Zumvo"].AsString(""));
        }
        LogInfo("[TVoucherZumvo.GetVoucherReturn] Payment Amount   : %", UnitsOf(payment));
        LogInfo("[TVoucherZumvo.GetVoucherReturn] Discount Amount  : %", UnitsOf(discount));
        LogInfo("[TVoucherZumvo.GetVoucherReturn] Voucher Codes    : %", codes.ToJSON());
        LogInfo("[TVoucherZumvo.GetVoucherReturn] Valid Count      : %", count);
        document.Add("VoucherCodes", codes);
        document.Add("VoucherAmount", UnitsOf(payment + discount));
        const TVoucherKind kind = VoucherKindOf(payment, discount);
        if (kind == TVoucherKind::Loyalty) {
            if (count == 0)
                document.Add("Result", false);
            else
                AddLoyaltyMembers(document.Root());
            return;
        }
        AddTenderMembers(document.Root(), kind, payment, discount, [this] { return DiscountCode(); });
    });
}

// ---- cancelling and reversing vouchers

TGiveBackResult TVoucherZumvo::CancelVoucherTransactions(std::int32_t basketNo,
                                                         const TJSONValue& transactions,
                                                         const std::string& cashier, std::int32_t tillID) {
    TGiveBackResult result;
    Guarded("TVoucherZumvo.CancelVoucherTransactions", [&] {
        LogInfo("[TVoucherZumvo.CancelVoucherTransactions] Cancelling Transactions for : %", basketNo);
        TCodeRedemption redemption =
            NewRedemption("TVoucherZumvo.CancelVoucherTransactions", basketNo, tillID, cashier, {});
        auto& store = Use(FStore, "ZumvoTransaction");
        for (int i = 0; i < transactions._Count(); ++i) {
            const TJSONValue transaction = transactions[i];
            LogInfo("[TVoucherZumvo.CancelVoucherTransactions] Transaction : %",
                    transaction["TransactionID"].ToJSON());
            if (HasStatus(transaction, TTransactionStatus::Cancelled)) {
                LogInfo("[TVoucherZumvo.CancelVoucherTransactions] Transaction not ready to be cancelled");
                continue;
            }
            if (transaction["tvTrxID"].IsNull())
                continue;
            const std::string transactionID = transaction["TransactionID"].AsString();
            const std::int32_t number = transaction["TransactionID"].AsInteger();
            const std::int32_t tvTrxID = transaction["tvTrxID"].AsInteger(-1);
            const std::int32_t providerStore = ProviderStoreOf(transaction);
            LogInfo("[TVoucherZumvo.CancelVoucherTransactions] Cancelling : %",
                    ProviderReference(Use(FInfo, "ZumvoInfo").GetStoreID(), number));
            // A code that may still pay is marked "failed to cancel" before its REVERSE goes out,
            // as a FINALISE is marked: one the database will not mark is not given back now. It
            // stays accepted, and the sale goes on counting it, as the provider does; a code
            // reversed but still marked accepted would be counted as paying with money given back.
            const TAdviceOutcome outcome = redemption.GiveBack(number, tvTrxID, providerStore);
            if (outcome == TAdviceOutcome::NotSent) {
                result.NotGivenBack.insert(number);
                result.NotSent.insert(number);
                continue;
            }
            if (outcome == TAdviceOutcome::Confirmed) {
                store.AddLog("INFO", "Transaction " + transactionID + " Cancelled");
                continue;
            }
            store.AddLog("INFO", "Transaction " + transactionID + " FAILED to be Cancelled");
            result.NotGivenBack.insert(number);
            // A code whose FINALISE went out may have been settled although no confirmation came:
            // the provider then refuses the reversal for good. A FINALISE again tells (it is
            // idempotent at the provider): confirmed, the row says settled.
            if ((HasStatus(transaction, TTransactionStatus::FinaliseFailed) ||
                 HasStatus(transaction, TTransactionStatus::Finalised)) &&
                redemption.Finalise(number, tvTrxID, providerStore) == TAdviceOutcome::Confirmed)
                result.Settled.insert(number);
        }
    });
    return result;
}

bool PALLUX_CALL TVoucherZumvo::CancelVoucher(const std::string& invoiceData) {
    Guarded("TVoucherZumvo.CancelVoucher", [&] {
        if (FInPayment)
            return;
        pallux::IntfPtr<pallux::IActivityMessage> activity;
        CreateService(activity);
        FBasketID = Use(FCurrentBasket, "CurrentBasket").GetBasketID();
        if (FBasketID < 0)
            return;
        auto& store = Use(FStore, "ZumvoTransaction");
        if (activity)
            activity->ShowActivity("Cancelling Zumvo Basket", 0);
        LogInfo("[TVoucherZumvo.CancelVoucher] Cancelling Transactions in Basket : %", FBasketID);
        store.AddLog("INFO", "Cancelling Basket: " + Decimal(FBasketID));
        const TJSONDocument data = TJSONDocument::Parse(invoiceData);
        const TGiveBackResult givenBack = GiveBackBasket(data["Cashier"].AsString(""));
        // The engine's copy follows the store, so that a second cancel sends nothing twice and
        // the Voucher button no longer reports codes that were given back.
        ReloadBasket();
        RefundOwed(givenBack.Settled);
    });
    return false;
}

TGiveBackResult TVoucherZumvo::GiveBackBasket(const std::string& cashier) {
    const TGiveBackResult result =
        CancelVoucherTransactions(FBasketID, FTransactions.Root(), cashier, TillOf(FLoadedBasket));
    // Reversals the provider did not confirm stay "failed to cancel", also when that mark could
    // not be written: such a row is never called cancelled while the provider may hold its money.
    Use(FStore, "ZumvoTransaction")
        .SetStatusForBasketExcept(FBasketID, TTransactionStatus::Cancelled,
                                  UnconfirmedStatus(TAdvice::Reverse), result.NotGivenBack);
    return result;
}

void TVoucherZumvo::RefundOwed(const std::set<std::int32_t>& settled) {
    if (settled.empty())
        return;
    auto& store = Use(FStore, "ZumvoTransaction");
    std::string numbers;
    for (const std::int32_t number : settled) {
        store.MarkRefundOwed(number);
        store.AddLog("INFO", "Transaction " + Decimal(number) + " settled: refund the customer another way");
        numbers += (numbers.empty() ? "" : ", ") + Decimal(number);
    }
    pallux::IntfPtr<pallux::IDisplayMessage> messages;
    CreateService(messages);
    Use(messages, "DisplayMessage")
        .ShowMessage("The Zumvo transaction(s) " + numbers +
                         " had already been settled.\r\n"
                         "The money cannot be given back by voucher.\r\n"
                         "Refund the customer another way",
                     pallux::mtInformation, pallux::mbOK);
}

void PALLUX_CALL TVoucherZumvo::OverringInvoice(std::int32_t, std::int32_t invoiceNum) {
    Guarded("TVoucherZumvo.OverringInvoice", [&] {
        LogInfo("[TVoucherZumvo.OverringInvoice] ---- : %");
        std::string text;
        Use(FStore, "ZumvoTransaction").GetBasketDetailsForInvoice(invoiceNum, text);
        LogInfo("[TVoucherZumvo.OverringInvoice] Basket : %", text);
        FlushLog();
        const TJSONDocument basket = TJSONDocument::Parse(text);
        if (!basket.Exists("ID"))
            return;
        bool reversible = true;
        const TJSONValue transactions = basket["Transactions"];
        for (int i = 0; i < transactions._Count(); ++i) {
            LogInfo("[TVoucherZumvo.OverringInvoice] Transaction : %", transactions[i].ToJSON());
            if (HasStatus(transactions[i], TTransactionStatus::Finalised)) {
                reversible = false;
                break;
            }
        }
        // The overridden invoice's own basket and till name the advices.
        const std::optional<TJSONDocument> overridden = basket.Clone();
        pallux::IntfPtr<pallux::IDisplayMessage> messages;
        CreateService(messages);
        auto& display = Use(messages, "DisplayMessage");
        if (reversible) {
            LogInfo("[TVoucherZumvo.OverringInvoice] Can be reversed - displaying message for cashier");
            display.ShowMessage("The Zumvo transaction has not yet been finalised.\r\n"
                                "The voucher(s) will now be reversed.\r\n"
                                "If successful, funds will be returned to the customer",
                                pallux::mtInformation, pallux::mbOK);
            const TGiveBackResult givenBack =
                CancelVoucherTransactions(basket["ID"].AsInteger(), transactions, "-", TillOf(overridden));
            RefundOwed(givenBack.Settled);
        } else {
            LogInfo("[TVoucherZumvo.OverringInvoice] Can't be reversed - displaying message for cashier");
            display.ShowMessage("The Zumvo transaction has already been finalised.\r\n"
                                "The voucher(s) CANNOT be reversed.\r\n"
                                "The funds will not be returned to the customer",
                                pallux::mtInformation, pallux::mbOK);
            // The settled codes stay with the provider: the held-funds list shows the refund owed.
            // Codes not yet settled are given back: kept, they would hold the money of an invoice
            // that no longer exists, with nothing listing them.
            TJSONDocument open = TJSONDocument::NewArray();
            auto& store = Use(FStore, "ZumvoTransaction");
            for (int i = 0; i < transactions._Count(); ++i) {
                const TJSONValue transaction = transactions[i];
                if (HasStatus(transaction, TTransactionStatus::Finalised) ||
                    HasStatus(transaction, TTransactionStatus::FinaliseFailed))
                    store.MarkRefundOwed(transaction["TransactionID"].AsInteger());
                else if (HasStatus(transaction, TTransactionStatus::Redeemed))
                    open.Append(transaction);
            }
            if (open._Count() > 0)
                CancelVoucherTransactions(basket["ID"].AsInteger(), open.Root(), "-", TillOf(overridden));
        }
    });
}

// ---- finalisation and invoice population

void TVoucherZumvo::RecordSaleInvoice(std::int32_t invoiceNum) {
    // Written once per basket and number: a till stopped after the host stored this invoice, but
    // before the basket was tied to it, leaves a sale the advice retry can find again. A write the
    // database refused is made again at the next voucher press or payment.
    if (invoiceNum <= 0 || FBasketID <= 0 || FSaleInvoice == std::pair{FBasketID, invoiceNum})
        return;
    if (Use(FStore, "ZumvoTransaction").SetBasketSaleInvoice(FBasketID, invoiceNum))
        FSaleInvoice = {FBasketID, invoiceNum};
}

bool PALLUX_CALL TVoucherZumvo::TransactionFinalise(const std::string& invoiceData, std::string& answer) {
    bool result = false;
    pallux::IntfPtr<pallux::IActivityMessage> activity;
    Guarded("TVoucherZumvo.TransactionFinalise", [&] {
        CreateService(activity);
        LogInfo("[TVoucherZumvo.TransactionFinalise] Details : %", invoiceData);
        FBasketID = Use(FCurrentBasket, "CurrentBasket").GetBasketID();
        LogInfo("[TVoucherZumvo.TransactionFinalise] Current Basket : %", FBasketID);
        if (FBasketID > -1) {
            Guarded("TVoucherZumvo.TransactionFinalise", [&] { FinaliseBasket(invoiceData, activity); });
            answer = TJSONDocument().ToJSON();
        }
        result = true;
    });
    RetryAdvicesAfterSale();
    return result;
}

void TVoucherZumvo::RetryAdvicesAfterSale() {
    // The sale's own advices went out above; earlier failures that are due are sent now, leaving
    // this sale's basket alone (its failures are retried at a later moment, so the cashier
    // never waits twice).
    Guarded("TVoucherZumvo.RetryAdvicesAfterSale", [&] {
        TRetryRequest request;
        request.Trigger = TRetryTrigger::AfterSale;
        request.CurrentBasket = FBasketID;
        request.Till = Use(FInfo, "ZumvoInfo").GetTillID();
        RetryAdvices(request);
    });
}

std::optional<std::multiset<std::string>> TVoucherZumvo::CountedCodes() const {
    if (FLastResult.empty())
        return std::nullopt; // no answer of this engine's: the host's own record decides
    std::multiset<std::string> codes;
    try {
        const TJSONDocument last = TJSONDocument::Parse(FLastResult);
        if (!last.IsObject() || !last.Exists("Result"))
            return std::nullopt; // an answer the host keeps without saying what it applied
        if (!last["Result"].AsBoolean(false))
            return codes;
        if (!last.Exists("VoucherCodes"))
            return std::nullopt;
        const TJSONValue list = last["VoucherCodes"];
        for (int i = 0; i < list._Count(); ++i)
            codes.insert(list[i].AsString(""));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return codes;
}

bool TVoucherZumvo::TakeCounted(std::multiset<std::string>& counted, const std::string& code) {
    const auto it = counted.find(code);
    if (it == counted.end())
        return false;
    counted.erase(it);
    return true;
}

void TVoucherZumvo::WarnCashier(const std::string& text) {
    pallux::IntfPtr<pallux::IDisplayMessage> messages;
    CreateService(messages);
    Use(messages, "DisplayMessage").ShowMessage(text, pallux::mtWarning, pallux::mbOK);
}

bool TVoucherZumvo::RetryPendingGiveBack(const std::string& cashier) {
    if (FPendingGiveBack.empty())
        return true;
    TJSONDocument pending = TJSONDocument::NewArray();
    for (int i = 0; i < FTransactions._Count(); ++i)
        if (FPendingGiveBack.count(FTransactions[i]["TransactionID"].AsInteger(-1)) > 0)
            pending.Append(FTransactions[i]);
    const TGiveBackResult result =
        CancelVoucherTransactions(FBasketID, pending.Root(), cashier, TillOf(FLoadedBasket));
    FPendingGiveBack = result.NotSent;
    ReloadBasket();
    return FPendingGiveBack.empty();
}

void TVoucherZumvo::FinaliseBasket(const std::string& invoiceData,
                                   pallux::IntfPtr<pallux::IActivityMessage>& activity) {
    const TJSONDocument data = TJSONDocument::Parse(invoiceData);
    auto& store = Use(FStore, "ZumvoTransaction");
    if (!RetryPendingGiveBack(data["Cashier"].AsString(""))) {
        // A code that could not be given back pays nothing for this invoice: settled with it, it
        // would take more than the invoice. The sale stays untied, so that the advice retry gives
        // every code still held back.
        LogInfo(
            "[TVoucherZumvo.TransactionFinalise] Basket % not finalised: % code(s) still to be given back",
            FBasketID, FPendingGiveBack.size());
        WarnCashier("A Zumvo code of this sale could not be given back yet.\r\n"
                    "It is listed with the held funds and given back from there");
        return;
    }
    const TJSONValue invoiceNum = data["InvoiceNum"];
    LogInfo("[TVoucherZumvo.TransactionFinalise] Basket : % | Invoice: %", FBasketID, invoiceNum.ToJSON());
    // A paid sale's codes are all marked "failed to finalise" before its basket is tied to the
    // invoice, and both before any advice goes out. A till stopped (or a database locked) at any
    // point leaves either rows listed to be settled, or a basket without invoice whose stored sale
    // the advice retry finds again (by the number RecordSaleInvoice wrote): never a redeemed code
    // in an invoiced basket, which would pass for a driver's sale awaiting its cash-up.
    const auto tieToInvoice = [&] { return store.TieBasketToInvoice(FBasketID, invoiceNum.AsInteger()); };
    if (!FPaymentSucceeded) {
        tieToInvoice();
    } else {
        if (activity)
            activity->ShowActivity("Finalising Zumvo Basket", 0);
        LogInfo("[TVoucherZumvo.TransactionFinalise] Finalising basket : %", FBasketID);
        // The store decides which codes are settled, not this engine's copy, which a read the
        // database refused may have left behind; the basket's total follows them.
        ReloadBasketIfReadable();
        LogInfo("[TVoucherZumvo.TransactionFinalise] Loaded Basket : %", JsonText(FLoadedBasket));
        std::int32_t till = TillOf(FLoadedBasket);
        if (till == -1)
            till = store.GetInvoiceTill(invoiceNum.AsInteger(-1));
        TCodeRedemption redemption = NewRedemption("TVoucherZumvo.TransactionFinalise", FBasketID, till,
                                                   data["Cashier"].AsString(""), {});
        std::vector<TCodeRedemption::TDue> due;
        TCents duePayment = 0;
        std::optional<std::multiset<std::string>> counted = CountedCodes();
        TJSONDocument uncounted = TJSONDocument::NewArray();
        for (int i = 0; i < FTransactions._Count(); ++i) {
            const TJSONValue transaction = FTransactions[i];
            const std::int32_t number = transaction.Exists("TransactionID")
                                            ? transaction["TransactionID"].AsInteger()
                                            : transaction["ID"].AsInteger();
            const std::int32_t status = StatusOf(transaction).value_or(ToInt(TTransactionStatus::Redeemed));
            LogInfo("[TVoucherZumvo.TransactionFinalise] Transaction : % | Status: %", number, status);
            if (status == ToInt(TTransactionStatus::Finalised)) {
                LogInfo("[TVoucherZumvo.TransactionFinalise] Transaction already finalised : %", number);
            } else if (status == ToInt(TTransactionStatus::Redeemed) && counted &&
                       !TakeCounted(*counted, transaction["Zumvo"].AsString(""))) {
                // The host's invoice does not count it (the last answer the host took left it out):
                // settled, it would charge the customer for nothing. It is given back.
                LogInfo("[TVoucherZumvo.TransactionFinalise] Not counted by the invoice : %", number);
                uncounted.Append(transaction);
            } else if (status == ToInt(TTransactionStatus::Redeemed)) {
                LogInfo("[TVoucherZumvo.TransactionFinalise] Finalising : %",
                        ProviderReference(Use(FInfo, "ZumvoInfo").GetStoreID(), number));
                store.AddLog("INFO", "Finalising Transaction: " + transaction["TransactionID"].AsString(""));
                due.push_back({number, transaction["tvTrxID"].AsInteger(-1), ProviderStoreOf(transaction)});
                duePayment += AmountCents(transaction["Data"]["PaymentAmount"]);
            }
        }
        if (uncounted._Count() > 0) {
            CancelVoucherTransactions(FBasketID, uncounted.Root(), data["Cashier"].AsString(""), till);
            ReloadBasketIfReadable();
        }
        SaveLiveTotal();
        if (data.Exists("AfterDisc") && duePayment > CentsOf(data["AfterDisc"].AsFloat(0))) {
            // Never settle more than the invoice: the sale is left untied for the retry, which
            // gives its codes back (the invoice does not record what they would settle).
            LogInfo(
                "[TVoucherZumvo.TransactionFinalise] Basket % not finalised: its codes settle % of an invoice "
                "of %",
                FBasketID, FixedText(duePayment), FixedText(CentsOf(data["AfterDisc"].AsFloat(0))));
            return;
        }
        // Each row is finalised on its own confirmed answer only; one that is not stays "failed to
        // finalise", listed for the advice retry.
        const auto outcomes = redemption.FinaliseAll(due, tieToInvoice);
        for (std::size_t i = 0; i < due.size(); ++i)
            if (outcomes[i] == TAdviceOutcome::NotSent)
                LogInfo("[TVoucherZumvo.TransactionFinalise] Error finalising : % could not be marked",
                        due[i].TransactionID);
        store.AddLog("INFO", "Setting Finalise For Basket: " + Decimal(FBasketID));
    }
    if (activity)
        activity->ShowActivity("Zumvo: Finalising Pallux Transaction", 0);
}

void PALLUX_CALL TVoucherZumvo::PopulateForInvoice(std::int32_t invoiceNum,
                                                   const std::string& voucherReturn) {
    Guarded("TVoucherZumvo.PopulateForInvoice", [&] {
        LogInfo("[TVoucherZumvo.PopulateForInvoice] " + Repeat('<', 59));
        LogInfo("[TVoucherZumvo.PopulateForInvoice] Details : % %", invoiceNum, voucherReturn);
        std::string details;
        Use(FStore, "ZumvoTransaction").GetBasketDetailsForInvoice(invoiceNum, details);
        FLoadedBasket = TJSONDocument::Parse(details);
        LogInfo("[TVoucherZumvo.PopulateForInvoice] Zumvo Details : %", FLoadedBasket->ToJSON());
        Use(FCurrentBasket, "CurrentBasket").SetBasketID((*FLoadedBasket)["ID"].AsInteger());
        FTransactions = TJSONDocument::CopyOf((*FLoadedBasket)["Transactions"]);
        FLastResult = voucherReturn;
    });
}

} // namespace zumvo
