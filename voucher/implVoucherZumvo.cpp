#include "implVoucherZumvo.h"

#include "FZumvoPayment.h"
#include "SimpleXMLtoJSON.h"
#include "ZumvoLog.h"
#include "clsAdviceRetry.h"
#include "clsCodeRedemption.h"
#include "clsModuleContainer.h"
#include "clsMoney.h"
#include "clsSysUtils.h"
#include "clsVoucherReturn.h"
#include "implZumvoAPI.h"
#include "intfDBScript.h"
#include "intfDisplayMessage.h"

#include <QApplication>

#include <algorithm>
#include <set>
#include <stdexcept>

namespace zumvo {

namespace {

const std::string RepeatedPressKey = "{F4B9438F-5660-4F41-860C-C320E187B1BD}";
const std::string NotReappliedKey = "{A3B3DE25-2C4D-4781-A394-996C0DFA3808}";

std::string Repeat(char c, std::size_t n) {
    return std::string(n, c);
}

// A null document logs as "null", like a null member.
std::string JsonText(const std::optional<TJSONDocument>& doc) {
    return doc ? doc->ToJSON() : std::string("null");
}

// The stored status number of a transaction element; empty when the element has none.
std::optional<std::int32_t> StatusOf(const TJSONValue& transaction) {
    const TJSONValue status = transaction["Status"];
    if (status.IsNull())
        return std::nullopt;
    return status.AsInteger();
}

bool HasStatus(const TJSONValue& transaction, TTransactionStatus status) {
    return StatusOf(transaction) == ToInt(status);
}

// A transaction whose code the provider accepted and that was neither given back nor failed.
// An element without Status is a screen record of an accepted code. Rows at Started (0) carry
// no code and no amount: they were made for a code the provider refused or never answered.
bool IsLive(const TJSONValue& transaction) {
    const auto status = StatusOf(transaction);
    return !status || *status == ToInt(TTransactionStatus::Redeemed) ||
           *status == ToInt(TTransactionStatus::Finalised);
}

std::string Decimal(std::int64_t n) {
    return std::to_string(n);
}

// Codes kept once each, sorted without regard to case.
struct TCaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            const auto lower = [](char c) {
                return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            };
            return lower(x) < lower(y);
        });
    }
};
using TCodeList = std::set<std::string, TCaseInsensitiveLess>;

std::string Joined(const TCodeList& codes) {
    std::string out;
    for (const auto& code : codes)
        out += (out.empty() ? "" : ",") + code;
    return out;
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

void TVoucherZumvo::Event_BeforePayment(const std::string&, const std::string&, std::int64_t) {
    LogInfo("[TVoucherZumvo.Event_BeforePayment] Starting Payment");
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
    answer = FailureAnswer();
    Guarded("TVoucherZumvo.DoVoucher", [&] {
        TJSONDocument data = TJSONDocument::Parse(invoiceData);
        pallux::IntfPtr<pallux::IDisplayMessage> messages;
        CreateService(messages);
        pallux::IntfPtr<pallux::IActivityMessage> activity;
        CreateService(activity);

        LogInfo("[TVoucherZumvo.DoVoucher] " + Repeat('<', 59));
        LogInfo("[TVoucherZumvo.DoVoucher] FROM UI: %", fromScreen);
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
        RecordSaleInvoice(data["InvoiceNum"].AsInteger(-1));

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

        int validCount = 0;
        for (int j = 0; j < FTransactions._Count(); ++j) {
            const TJSONValue transaction = FTransactions[j];
            LogInfo("[TVoucherZumvo.DoVoucher] % : %", j, transaction["Status"].ToJSON());
            if (IsLive(transaction))
                ++validCount;
        }
        LogInfo("[TVoucherZumvo.DoVoucher] Valid Count : %", validCount);

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
                Reapply(data, answer, result, activity);
        }
        if (validCount == 0 || !fromScreen)
            FLastData = TJSONDocument::Parse(invoiceData);
    });
    return result;
}

void TVoucherZumvo::FirstApplication(TJSONDocument& data, std::string& answer, bool& result) {
    // Qt needs its application object before any window can exist: a host without a user
    // interface cannot show the screen.
    if (!qApp)
        throw std::runtime_error("The payment screen needs the host's user interface");
    pallux::IntfPtr<pallux::IINISettings> settings;
    Use(FInfo, "ZumvoInfo").GetSettings(settings);
    auto screen = std::make_unique<TfrmZumvoPayment>(QApplication::activeWindow());
    if (!screen->GetPayment(data, settings)) {
        answer = FailureAnswer();
        result = false;
        return;
    }
    auto& store = Use(FStore, "ZumvoTransaction");
    const TCents total = RoundedCentsOf(screen->ProcessedTotal());
    LogInfo("[TVoucherZumvo.DoVoucher] Total Amount Processed : %", UnitsOf(total));
    store.AddLog("INFO", "Amount Processed: " + FixedText(total));

    FTransactions = screen->RedeemedList().Clone();
    LogInfo("[TVoucherZumvo.DoVoucher] Transactions : %", FTransactions.ToJSON());
    screen.reset();

    TCents payment = 0;
    TCents discount = 0;
    TJSONDocument reply;
    TJSONValue codes = reply.AddArray("VoucherCodes");
    for (int i = 0; i < FTransactions._Count(); ++i) {
        const TJSONValue record = FTransactions[i];
        payment += AmountCents(record["PaymentAmount"]);
        discount += AmountCents(record["DiscountAmount"]);
        LogInfo("[TVoucherZumvo.DoVoucher] Data : %", record["Data"].ToJSON());
        const std::int32_t transactionID = record["TransactionID"].AsInteger();
        const std::int32_t tvTrxID = record["tvTrxID"].AsInteger(-1);
        store.SavePayment(transactionID, tvTrxID, record["Amount"].AsFloat(0), record["Data"].ToJSON());
        store.AddLog("INFO", "Saved Transaction: " + Decimal(transactionID) + " -> " + Decimal(tvTrxID));
        codes.Append(record["Zumvo"].AsString(""));
    }

    const TVoucherKind kind = VoucherKindOf(payment, discount);
    if (kind == TVoucherKind::Invalid) {
        // Codes that add up to a negative part cannot be tendered: kept, they would be settled at
        // the end of a sale the customer paid another way. They are given back.
        LogInfo(
            "[TVoucherZumvo.DoVoucher] Negative voucher sum (% payment, % discount): giving the codes back",
            FixedText(payment), FixedText(discount));
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
        reply.Add("VoucherAmount", UnitsOf(total));
        AddTenderMembers(reply.Root(), kind, payment, discount, [this] {
            std::string code;
            GetDiscountCode(code);
            return code;
        });
    }
    answer = reply.ToJSON();
    LogInfo("[TVoucherZumvo.DoVoucher] Voucher Result : %", answer);
    FLastResult = answer;
    store.SaveBasketPayment(FBasketID, UnitsOf(total));
    store.AddLog("INFO", "Saved Basket: " + Decimal(FBasketID) + " -> " + FixedText(total));
    result = true;
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

// ---- re-applying vouchers after an invoice change

bool TVoucherZumvo::MustReapply(const TJSONDocument& data) const {
    if (FLastData)
        return data["AfterDisc"].AsFloat(0) != (*FLastData)["AfterDisc"].AsFloat(0) ||
               data["LineItems"]._Count() != (*FLastData)["LineItems"]._Count();
    return FLoadedBasket.has_value();
}

void TVoucherZumvo::Reapply(TJSONDocument& data, std::string& answer, bool& result,
                            pallux::IntfPtr<pallux::IActivityMessage>& activity) {
    if (!MustReapply(data)) {
        answer = FLastResult;
        result = true;
        return;
    }
    LogInfo("[TVoucherZumvo.DoVoucher] Existing transactions need to be cancelled");
    auto& store = Use(FStore, "ZumvoTransaction");
    TCodeList codes;
    std::vector<std::string> firstApplied; // the codes in the order the cashier applied them
    std::vector<std::string> repeated;     // codes applied more than once: re-applied once
    TCents discount = 0;
    for (int i = 0; i < FTransactions._Count(); ++i) {
        const TJSONValue transaction = FTransactions[i];
        LogInfo("[TVoucherZumvo.DoVoucher]  : %", transaction.ToJSON());
        if (!IsLive(transaction))
            continue;
        LogInfo("[TVoucherZumvo.DoVoucher] % % %", transaction["ID"].ToJSON(),
                transaction["tvTrxId"].ToJSON(), transaction["Zumvo"].AsString(""));
        const std::string code = transaction["Zumvo"].AsString("");
        if (codes.insert(code).second)
            firstApplied.push_back(code);
        else
            repeated.push_back(code);
        if (transaction["Data"].Exists("DiscountAmount"))
            discount += AmountCents(transaction["Data"]["DiscountAmount"]);
    }
    LogInfo("[TVoucherZumvo.DoVoucher] Current Discount : %", UnitsOf(discount));
    // The invoice total before the earlier Zumvo discounts, in whole cents: added in binary
    // fractions and truncated, a cent could be lost.
    const TCents amount = CentsOf(data["AfterDisc"].AsFloat()) + discount;
    LogInfo("[TVoucherZumvo.DoVoucher] Current AfterDisc : %", UnitsOf(amount));

    const std::string cashier = data["Cashier"].AsString("");
    if (activity)
        activity->ShowActivity("Cancelling existing voucher(s)", 0);
    const std::set<std::int32_t> unconfirmed = GiveBackBasket(cashier).NotGivenBack;
    // A code whose earlier transaction could not be given back still holds the customer's
    // money: sending it again would take the money twice.
    for (int i = 0; i < FTransactions._Count(); ++i) {
        const TJSONValue transaction = FTransactions[i];
        const std::string code = transaction["Zumvo"].AsString("");
        if (unconfirmed.count(transaction["TransactionID"].AsInteger(-1)) > 0 && codes.erase(code) > 0)
            LogInfo("[TVoucherZumvo.DoVoucher] Not re-applied, reversal not confirmed : %", code);
    }
    ReloadBasket();
    LogInfo("[TVoucherZumvo.DoVoucher] Zumvo Details : %", FLoadedBasket->ToJSON());
    LogInfo("[TVoucherZumvo.DoVoucher] Zumvos (%): %", codes.size(), Joined(codes));

    // Each code is sent for what the codes before it left to pay, in the order the cashier applied
    // them, as the screen did: sending every code for the whole total would take more than the
    // invoice from the customer, and an order by name could leave a discount code out.
    TCents outstanding = amount;
    TJSONDocument results = TJSONDocument::NewArray();
    for (const auto& code : firstApplied) {
        if (codes.count(code) == 0)
            continue; // its reversal was not confirmed
        if (outstanding <= 0) {
            LogInfo("[TVoucherZumvo.DoVoucher] Not re-applied, nothing left to pay : %", code);
            continue;
        }
        if (activity)
            activity->UpdateActivity("Retrying Zumvo: " + code, 1);
        LogInfo("[TVoucherZumvo.DoVoucher] Adding : %", code);
        TJSONDocument record;
        AddZumvoVoucher(code, cashier, outstanding, data["LineItems"], record);
        if (record["PaymentMade"].AsBoolean(false))
            outstanding -= AmountCents(record["Amount"]);
        results.Append(record);
    }
    LogInfo("[TVoucherZumvo.DoVoucher]  : %", results.ToJSON());

    for (int i = 0; i < results._Count(); ++i) {
        const TJSONValue record = results[i];
        const bool paid = record["PaymentMade"].AsBoolean(false);
        LogInfo("[TVoucherZumvo.DoVoucher] Result : % - %", record["Zumvo"].AsString(""), paid);
        if (!paid)
            continue;
        LogInfo("[TVoucherZumvo.DoVoucher] Current : %", FTransactions.ToJSON());
        LogInfo("[TVoucherZumvo.DoVoucher] Adding to transactions : %", record.ToJSON());
        const std::int32_t transactionID = record["TransactionID"].AsInteger();
        const std::int32_t tvTrxID = record["tvTrxID"].AsInteger(-1);
        store.SavePayment(transactionID, tvTrxID, record["Amount"].AsFloat(0), record["Data"].ToJSON());
        store.AddLog("INFO", "Saved Transaction: " + Decimal(transactionID) + " -> " + Decimal(tvTrxID));
    }

    ReloadBasket();
    LogInfo("[TVoucherZumvo.DoVoucher] Zumvo Details : %", FLoadedBasket->ToJSON());
    LogInfo("[TVoucherZumvo.DoVoucher] FTransactions : %", FTransactions.ToJSON());
    TJSONDocument reply;
    GetVoucherReturn(reply);
    LogInfo("[TVoucherZumvo.DoVoucher] New return : %", reply.ToJSON());

    if (activity)
        activity->ShowActivity("Saving new Zumvo Basket", 0);
    const TCents voucherAmount = AmountCents(reply["VoucherAmount"]);
    store.SaveBasketPayment(FBasketID, UnitsOf(voucherAmount));
    store.AddLog("INFO", "Saved Basket: " + Decimal(FBasketID) + " -> " + FixedText(voucherAmount));
    answer = reply.ToJSON();
    FLastResult = answer;
    result = reply["Result"].AsBoolean(false);
    if (!result || !repeated.empty()) {
        pallux::IntfPtr<pallux::IDisplayMessage> messages;
        CreateService(messages);
        activity.reset(); // the activity text goes before the message shows
        auto& display = Use(messages, "DisplayMessage");
        // A code applied twice is sent once: the cashier learns why the invoice shows it once.
        for (const auto& code : repeated)
            display.ShowMessage("Zumvo " + code + " was applied more than once and is now applied once.",
                                pallux::mtInformation, pallux::mbOK);
        if (!result)
            display.ShowKeyedMessage("Vouchers could not be re-applied and the voucher total is now " +
                                         CurrencyText(UnitsOf(voucherAmount)),
                                     NotReappliedKey, pallux::mbOK, 1);
    }
    FlushLog();
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
    context.PosID = "Till-" + Decimal(tillID == -1 ? info.GetTillID() : tillID);
    context.BasketID = basketID;
    context.Cashier = cashier;
    context.LineItems = lineItems;
    return TCodeRedemption(std::move(context), ClientForTill(tillID), FStore, FLogic);
}

void TVoucherZumvo::AddZumvoVoucher(const std::string& code, const std::string& cashier, TCents amount,
                                    const TJSONValue& lineItems, TJSONDocument& record) {
    Guarded("TVoucherZumvo.AddZumvoVoucher", [&] {
        TCodeRedemption redemption =
            NewRedemption("TVoucherZumvo.AddZumvoVoucher", FBasketID, TillOf(FLoadedBasket), cashier,
                          lineItems.IsNull() ? std::string() : lineItems.ToJSON());
        const TRedemption r = redemption.Redeem(code, amount);
        TJSONDocument rec;
        if (r.Accepted() || r.Outcome == TRedemptionOutcome::Refused ||
            r.Outcome == TRedemptionOutcome::GivenBack) {
            rec.Add("PaymentMade", r.Accepted());
            if (r.Accepted()) {
                rec.Add("Data", r.Record["Data"]);
            } else {
                TJSONValue data = rec.Add("Data", r.Answer);
                data.Add("Zumvo", code);
            }
            rec.Add("Zumvo", code);
            rec.Add("Status", ToInt(TTransactionStatus::Redeemed));
            if (r.Accepted()) {
                for (const char* name : {"TransactionID", "tvTrxID", "Amount", "PaymentAmount",
                                         "DiscountAmount", "ProviderStoreID"})
                    rec.Add(name, r.Record[name]);
            }
        } else {
            rec.Add("PaymentMade", false);
        }
        if (!r.Accepted() && !r.Problem.empty())
            rec.Add("Error", r.Problem);
        record = std::move(rec);
    });
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
        AddTenderMembers(document.Root(), kind, payment, discount, [this] {
            std::string code;
            GetDiscountCode(code);
            return code;
        });
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
            if (redemption.GiveBack(number, tvTrxID, providerStore) == TAdviceOutcome::Confirmed) {
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
    // before the basket was tied to it, leaves a sale the advice retry can find again.
    if (invoiceNum <= 0 || FBasketID <= 0 || FSaleInvoice == std::pair{FBasketID, invoiceNum})
        return;
    Use(FStore, "ZumvoTransaction").SetBasketSaleInvoice(FBasketID, invoiceNum);
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

void TVoucherZumvo::FinaliseBasket(const std::string& invoiceData,
                                   pallux::IntfPtr<pallux::IActivityMessage>& activity) {
    const TJSONDocument data = TJSONDocument::Parse(invoiceData);
    auto& store = Use(FStore, "ZumvoTransaction");
    const TJSONValue invoiceNum = data["InvoiceNum"];
    LogInfo("[TVoucherZumvo.TransactionFinalise] Basket : % | Invoice: %", FBasketID, invoiceNum.ToJSON());
    // A paid sale's codes are all marked "failed to finalise" before its basket is tied to the
    // invoice, and both before any advice goes out. A till stopped (or a database locked) at any
    // point leaves either rows listed to be settled, or a basket without invoice whose stored sale
    // the advice retry finds again (by the number RecordSaleInvoice wrote): never a redeemed code
    // in an invoiced basket, which would pass for a driver's sale awaiting its cash-up.
    const auto tieToInvoice = [&] {
        store.SetBasketInvoice(FBasketID, invoiceNum.AsInteger());
        store.SetInvoicForBaskt(FBasketID, invoiceNum.AsInteger());
    };
    if (!FPaymentSucceeded) {
        tieToInvoice();
    } else {
        if (activity)
            activity->ShowActivity("Finalising Zumvo Basket", 0);
        LogInfo("[TVoucherZumvo.TransactionFinalise] Finalising basket : %", FBasketID);
        LogInfo("[TVoucherZumvo.TransactionFinalise] Loaded Basket : %", JsonText(FLoadedBasket));
        std::int32_t till = TillOf(FLoadedBasket);
        if (till == -1)
            till = store.GetInvoiceTill(invoiceNum.AsInteger(-1));
        TCodeRedemption redemption = NewRedemption("TVoucherZumvo.TransactionFinalise", FBasketID, till,
                                                   data["Cashier"].AsString(""), {});
        std::vector<TCodeRedemption::TDue> due;
        for (int i = 0; i < FTransactions._Count(); ++i) {
            const TJSONValue transaction = FTransactions[i];
            const std::int32_t number = transaction.Exists("TransactionID")
                                            ? transaction["TransactionID"].AsInteger()
                                            : transaction["ID"].AsInteger();
            const std::int32_t status = StatusOf(transaction).value_or(ToInt(TTransactionStatus::Redeemed));
            LogInfo("[TVoucherZumvo.TransactionFinalise] Transaction : % | Status: %", number, status);
            if (status == ToInt(TTransactionStatus::Finalised)) {
                LogInfo("[TVoucherZumvo.TransactionFinalise] Transaction already finalised : %", number);
            } else if (status == ToInt(TTransactionStatus::Redeemed)) {
                LogInfo("[TVoucherZumvo.TransactionFinalise] Finalising : %",
                        ProviderReference(Use(FInfo, "ZumvoInfo").GetStoreID(), number));
                store.AddLog("INFO", "Finalising Transaction: " + transaction["TransactionID"].AsString(""));
                due.push_back({number, transaction["tvTrxID"].AsInteger(-1), ProviderStoreOf(transaction)});
            }
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
