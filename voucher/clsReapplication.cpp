#include "clsReapplication.h"

#include "ZumvoLog.h"
#include "clsBasketRows.h"
#include "clsCodeRedemption.h"
#include "clsModuleContainer.h"
#include "clsVoucherReturn.h"
#include "implVoucherZumvo.h"
#include "intfDisplayMessage.h"

#include <algorithm>

namespace zumvo {

namespace {

const std::string NotReappliedKey = "{A3B3DE25-2C4D-4781-A394-996C0DFA3808}";

template <class TCodes> std::string Joined(const TCodes& codes) {
    std::string out;
    for (const auto& code : codes)
        out += (out.empty() ? "" : ",") + code;
    return out;
}

} // namespace

bool TReapplication::TCaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        return lower(x) < lower(y);
    });
}

TReapplication::TReapplication(TVoucherZumvo& engine, pallux::IntfPtr<pallux::IActivityMessage>& activity)
    : Engine(engine), Activity(activity) {}

bool TReapplication::InvoiceChanged(const TJSONDocument& data) const {
    if (Engine.FLastData)
        return data["AfterDisc"].AsFloat(0) != (*Engine.FLastData)["AfterDisc"].AsFloat(0) ||
               data["LineItems"]._Count() != (*Engine.FLastData)["LineItems"]._Count();
    return Engine.FLoadedBasket.has_value();
}

void TReapplication::Run(const TJSONDocument& data, std::string& answer, bool& result) {
    if (!InvoiceChanged(data)) {
        answer = Engine.FLastResult;
        result = true;
        return;
    }
    LogInfo("[TVoucherZumvo.DoVoucher] Existing transactions need to be cancelled");
    TAppliedCodes codes = CollectLiveCodes();
    LogInfo("[TVoucherZumvo.DoVoucher] Current Discount : %", UnitsOf(codes.Discount));
    // The invoice total before the earlier Zumvo discounts, in whole cents: added in binary
    // fractions and truncated, a cent could be lost.
    const TCents amount = CentsOf(data["AfterDisc"].AsFloat()) + codes.Discount;
    LogInfo("[TVoucherZumvo.DoVoucher] Current AfterDisc : %", UnitsOf(amount));

    const std::string cashier = data["Cashier"].AsString("");
    GiveBack(cashier, codes);
    if (codes.StillPaying > amount) {
        Engine.FPendingGiveBack = codes.NotSent;
        StopPaying(answer, result);
        return;
    }
    SaveAccepted(SendAgain(codes, amount, cashier, data["LineItems"]));

    const TJSONDocument reply = SaveReturn();
    answer = reply.ToJSON();
    Engine.FLastResult = answer;
    result = reply["Result"].AsBoolean(false);
    if (!result || !codes.Repeated.empty())
        TellCashier(codes.Repeated, result, AmountCents(reply["VoucherAmount"]));
    FlushLog();
}

TReapplication::TAppliedCodes TReapplication::CollectLiveCodes() const {
    TAppliedCodes codes;
    const TJSONDocument& transactions = Engine.FTransactions;
    for (int i = 0; i < transactions._Count(); ++i) {
        const TJSONValue transaction = transactions[i];
        LogInfo("[TVoucherZumvo.DoVoucher]  : %", transaction.ToJSON());
        if (!IsLive(transaction))
            continue;
        LogInfo("[TVoucherZumvo.DoVoucher] % % %", transaction["ID"].ToJSON(),
                transaction["tvTrxId"].ToJSON(), transaction["Zumvo"].AsString(""));
        const std::string code = transaction["Zumvo"].AsString("");
        if (codes.ToSend.insert(code).second)
            codes.InOrder.push_back(code);
        else
            codes.Repeated.push_back(code);
        if (transaction["Data"].Exists("DiscountAmount"))
            codes.Discount += AmountCents(transaction["Data"]["DiscountAmount"]);
    }
    return codes;
}

void TReapplication::GiveBack(const std::string& cashier, TAppliedCodes& codes) {
    if (Activity)
        Activity->ShowActivity("Cancelling existing voucher(s)", 0);
    const TGiveBackResult givenBack = Engine.GiveBackBasket(cashier);
    const std::set<std::int32_t>& unconfirmed = givenBack.NotGivenBack;
    // A code whose earlier transaction could not be given back still holds the customer's
    // money: sending it again would take the money twice.
    const TJSONDocument& transactions = Engine.FTransactions;
    for (int i = 0; i < transactions._Count(); ++i) {
        const TJSONValue transaction = transactions[i];
        const std::string code = transaction["Zumvo"].AsString("");
        const std::int32_t id = transaction["TransactionID"].AsInteger(-1);
        if (unconfirmed.count(id) > 0 && codes.ToSend.erase(code) > 0)
            LogInfo("[TVoucherZumvo.DoVoucher] Not re-applied, reversal not confirmed : %", code);
        if (givenBack.NotSent.count(id) > 0)
            codes.StillPaying += AmountCents(transaction["Data"]["PaymentAmount"]) +
                                 AmountCents(transaction["Data"]["DiscountAmount"]);
    }
    codes.NotSent = givenBack.NotSent;
    Engine.ReloadBasket();
    LogInfo("[TVoucherZumvo.DoVoucher] Zumvo Details : %", Engine.FLoadedBasket->ToJSON());
    LogInfo("[TVoucherZumvo.DoVoucher] Zumvos (%): %", codes.ToSend.size(), Joined(codes.ToSend));
}

void TReapplication::StopPaying(std::string& answer, bool& result) {
    // A code that could not be given back (the database refused its mark) would pay the earlier,
    // larger total: the host would take more than the invoice from the customer, and settling it
    // would charge that. No code pays until it is given back (at the next payment, or before the
    // sale is settled); the cashier takes the amount another way.
    LogInfo("[TVoucherZumvo.DoVoucher] % code(s) could not be given back and pay more than the invoice",
            Engine.FPendingGiveBack.size());
    Engine.ReloadBasket();
    answer = FailureAnswer();
    Engine.FLastResult = answer;
    result = false;
    TVoucherZumvo::WarnCashier("The Zumvo code(s) could not be given back for the new total.\r\n"
                               "They pay nothing for this invoice: take the amount another way");
}

TJSONDocument TReapplication::SendAgain(const TAppliedCodes& codes, TCents amount, const std::string& cashier,
                                        const TJSONValue& lineItems) {
    // Each code is sent for what the codes before it left to pay, in the order the cashier applied
    // them, as the screen did: sending every code for the whole total would take more than the
    // invoice from the customer, and an order by name could leave a discount code out.
    TCents outstanding = amount;
    TJSONDocument results = TJSONDocument::NewArray();
    for (const auto& code : codes.InOrder) {
        if (codes.ToSend.count(code) == 0)
            continue; // its reversal was not confirmed
        if (outstanding <= 0) {
            LogInfo("[TVoucherZumvo.DoVoucher] Not re-applied, nothing left to pay : %", code);
            continue;
        }
        if (Activity)
            Activity->UpdateActivity("Retrying Zumvo: " + code, 1);
        LogInfo("[TVoucherZumvo.DoVoucher] Adding : %", code);
        const TJSONDocument record = AddZumvoVoucher(code, cashier, outstanding, lineItems);
        if (record["PaymentMade"].AsBoolean(false))
            outstanding -= AmountCents(record["Amount"]);
        results.Append(record);
    }
    LogInfo("[TVoucherZumvo.DoVoucher]  : %", results.ToJSON());
    return results;
}

void TReapplication::SaveAccepted(const TJSONDocument& results) {
    auto& store = Use(Engine.FStore, "ZumvoTransaction");
    for (int i = 0; i < results._Count(); ++i) {
        const TJSONValue record = results[i];
        const bool paid = record["PaymentMade"].AsBoolean(false);
        LogInfo("[TVoucherZumvo.DoVoucher] Result : % - %", record["Zumvo"].AsString(""), paid);
        if (!paid)
            continue;
        LogInfo("[TVoucherZumvo.DoVoucher] Current : %", Engine.FTransactions.ToJSON());
        LogInfo("[TVoucherZumvo.DoVoucher] Adding to transactions : %", record.ToJSON());
        SaveAcceptedRow(store, record);
    }
}

TJSONDocument TReapplication::SaveReturn() {
    Engine.ReloadBasket();
    LogInfo("[TVoucherZumvo.DoVoucher] Zumvo Details : %", Engine.FLoadedBasket->ToJSON());
    LogInfo("[TVoucherZumvo.DoVoucher] FTransactions : %", Engine.FTransactions.ToJSON());
    TJSONDocument reply;
    Engine.GetVoucherReturn(reply);
    LogInfo("[TVoucherZumvo.DoVoucher] New return : %", reply.ToJSON());

    if (Activity)
        Activity->ShowActivity("Saving new Zumvo Basket", 0);
    SaveBasketTotal(Use(Engine.FStore, "ZumvoTransaction"), Engine.FBasketID,
                    AmountCents(reply["VoucherAmount"]));
    return reply;
}

void TReapplication::TellCashier(const std::vector<std::string>& repeated, bool applied,
                                 TCents voucherAmount) {
    pallux::IntfPtr<pallux::IDisplayMessage> messages;
    CreateService(messages);
    Activity.reset(); // the activity text goes before the message shows
    auto& display = Use(messages, "DisplayMessage");
    // A code applied twice is sent once: the cashier learns why the invoice shows it once.
    for (const auto& code : repeated)
        display.ShowMessage("Zumvo " + code + " was applied more than once and is now applied once.",
                            pallux::mtInformation, pallux::mbOK);
    if (!applied)
        display.ShowKeyedMessage("Vouchers could not be re-applied and the voucher total is now " +
                                     CurrencyText(UnitsOf(voucherAmount)),
                                 NotReappliedKey, pallux::mbOK, 1);
}

TJSONDocument TReapplication::AddZumvoVoucher(const std::string& code, const std::string& cashier,
                                              TCents amount, const TJSONValue& lineItems) {
    TJSONDocument record;
    Guarded("TVoucherZumvo.AddZumvoVoucher", [&] {
        TCodeRedemption redemption = Engine.NewRedemption(
            "TVoucherZumvo.AddZumvoVoucher", Engine.FBasketID, TVoucherZumvo::TillOf(Engine.FLoadedBasket),
            cashier, lineItems.IsNull() ? std::string() : lineItems.ToJSON());
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
    return record;
}

} // namespace zumvo
