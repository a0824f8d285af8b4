#include "clsCodeRedemption.h"

#include "SimpleXMLtoJSON.h"
#include "ZumvoLog.h"
#include "clsModuleContainer.h"
#include "clsOutcomeUnknown.h"
#include "implZumvoAPI.h"

#include <algorithm>
#include <stdexcept>

namespace zumvo {

namespace {

constexpr const char* ConnectionErrorText = "There was an error connecting to the server:";
constexpr const char* UnreadableText = "The Zumvo server answered, but its answer could not be read:";
constexpr const char* NotRecordedText = "The Zumvo could not be recorded in the database";
// The note a row keeps while its request is out: a till stopped now leaves it findable.
constexpr const char* AwaitingAnswer = AwaitingAnswerReason;

std::string Decimal(std::int64_t n) {
    return std::to_string(n);
}

} // namespace

TCents AmountCents(const TJSONValue& value) {
    if (value.IsNull())
        return 0;
    if (value.IsNumber())
        return RoundedCentsOf(value.AsFloat(0));
    return CentsOfDecimalText(value.AsString(""), 0);
}

std::int32_t ProviderStoreOf(const TJSONValue& transaction) {
    const TJSONValue store = transaction["ProviderStoreID"];
    return store.IsNull() ? -1 : store.AsInteger(-1);
}

std::string ProviderReference(std::int32_t storeID, std::int64_t number) {
    return Decimal(storeID) + "-" + Decimal(number);
}

TCodeRedemption::TCodeRedemption(TRedemptionContext context, pallux::IntfPtr<IZumvoAPI> client,
                                 pallux::IntfPtr<IZumvoTransaction> store, pallux::IntfPtr<IZumvoLogic> logic)
    : FContext(std::move(context)), FClient(std::move(client)), FStore(std::move(store)),
      FLogic(std::move(logic)) {}

std::string TCodeRedemption::BasketReference() const {
    return ProviderReference(FContext.StoreID, FContext.BasketID);
}

TRedemption TCodeRedemption::Redeem(const std::string& code, TCents amount, std::int32_t transactionID) {
    TRedemption r;
    r.Asked = amount;
    r.TransactionID = transactionID;
    Guarded(FContext.ClassMethod, [&] {
        try {
            XmlEscape(code);
        } catch (const std::invalid_argument& e) {
            // A scanned code may hold characters the request cannot carry: nothing is sent.
            LogInfo("[" + FContext.ClassMethod + "] The code cannot be sent : %", e.what());
            r.Problem = std::string("The code cannot be sent to Zumvo: ") + e.what();
            return;
        }
        if (!FitsWire(amount)) {
            // The request carries cents as a 32-bit number: a larger amount would be sent wrapped.
            LogInfo("[" + FContext.ClassMethod + "] Amount % cents is too large to send", amount);
            r.Problem = "The amount " + FixedText(amount) + " is too large to send to Zumvo.";
            return;
        }
        auto& store = Use(FStore, "ZumvoTransaction");
        if (r.TransactionID == -1)
            r.TransactionID = store.AddTransactionToBasket(FContext.BasketID);
        if (r.TransactionID == -1) {
            // Without a row the provider's answer could not be recorded: nothing is sent.
            r.Problem = std::string(NotRecordedText) + ": nothing was sent.";
            return;
        }
        Send(code, r);
    });
    return r;
}

void TCodeRedemption::Send(const std::string& code, TRedemption& r) {
    auto& store = Use(FStore, "ZumvoTransaction");
    const std::string basketRef = BasketReference();
    const std::string trxRef = ProviderReference(FContext.StoreID, r.TransactionID);
    const auto note = [&](const std::string& reason) {
        return OutcomeUnknownNote(reason, basketRef, trxRef, code, r.Asked, FContext.ProviderStoreID);
    };
    store.SaveOutcomeUnknown(r.TransactionID, note(AwaitingAnswer));
    std::string reply;
    try {
        Use(FClient, "ZumvoAPI")
            .Transaction(basketRef, FContext.Cashier, trxRef, code, "ZUMVO",
                         static_cast<std::int32_t>(r.Asked), static_cast<std::int32_t>(r.Asked), "PAYMENT",
                         FContext.LineItems, reply);
    } catch (const std::exception& e) {
        r.Problem = std::string(ConnectionErrorText) + "\r\n" + e.what();
        reply.clear();
    }
    r.HttpStatus = FClient->GetLastStatus();
    if (r.NotHttpOk()) {
        // The server answered, but not with a transaction's answer: the cashier is told what it said.
        r.Problem =
            "The Zumvo server answered HTTP " + Decimal(r.HttpStatus) + " for " + FClient->GetResource();
        r.Outcome = reply.empty() ? TRedemptionOutcome::NoAnswer : TRedemptionOutcome::Unreadable;
        LogInfo("[" + FContext.ClassMethod + "] Outcome unknown for transaction % : HTTP %", r.TransactionID,
                r.HttpStatus);
        store.SaveOutcomeUnknown(r.TransactionID, note("HTTP " + Decimal(r.HttpStatus)));
        return;
    }
    if (reply.empty()) {
        // The provider may hold money under this row's reference: it stays listed.
        r.Outcome = TRedemptionOutcome::NoAnswer;
        LogInfo("[" + FContext.ClassMethod + "] Outcome unknown for transaction % : no answer",
                r.TransactionID);
        store.SaveOutcomeUnknown(r.TransactionID, note("no answer"));
        return;
    }
    try {
        r.Answer = ReadSoapAnswer(reply, "transactionResponse");
    } catch (const std::exception& e) {
        r.Outcome = TRedemptionOutcome::Unreadable;
        r.Problem = std::string(UnreadableText) + "\r\n" + e.what();
        LogInfo("[" + FContext.ClassMethod + "] Outcome unknown for transaction % : %", r.TransactionID,
                e.what());
        store.SaveOutcomeUnknown(r.TransactionID, note(std::string("unreadable answer: ") + e.what()));
        return;
    }
    if (ParseResponseCode(r.Answer["responseCode"].AsString("")) != AcceptedCode) {
        r.Outcome = TRedemptionOutcome::Refused;
        store.SaveOutcomeUnknown(r.TransactionID, {}); // refused: nothing is held under the row
        return;
    }
    Keep(code, r);
}

void TCodeRedemption::Keep(const std::string& code, TRedemption& r) {
    const TCents total = WholeNumberOr(r.Answer["totalAmountProcessed"].AsString(""), 0);
    const TCents settle = WholeNumberOr(r.Answer["amountToSettle"].AsString(""), 0);
    if (total > r.Asked) {
        NotKept(code,
                "Zumvo answered for " + FixedText(total) + ", more than the " + FixedText(r.Asked) + " asked",
                r);
        return;
    }
    if (total < 0 || settle < 0 || settle > total) {
        NotKept(code,
                "Zumvo's answer does not add up (" + FixedText(settle) + " to settle of " + FixedText(total) +
                    ")",
                r);
        return;
    }
    const std::int32_t tvTrxID = WholeNumberOr(r.Answer["tvTrxId"].AsString(""), -1);
    TJSONDocument data = r.Answer.Clone();
    data.Add("Zumvo", code);
    data.Add("PaymentAmount", DecimalText(settle));
    data.Add("DiscountAmount", DecimalText(total - settle));
    // Recorded at once: the row can be reversed whatever happens next. A code that cannot be
    // recorded would hold money nobody could find: it is not kept.
    if (!Use(FStore, "ZumvoTransaction")
             .SaveProviderAnswer(r.TransactionID, tvTrxID, data.ToJSON(), FContext.ProviderStoreID)) {
        NotKept(code, NotRecordedText, r);
        return;
    }
    r.Outcome = TRedemptionOutcome::Accepted;
    r.Amount = total;
    r.Payment = settle;
    r.Discount = total - settle;
    r.Record = TJSONDocument::NewObject();
    r.Record.Add("TransactionID", r.TransactionID);
    r.Record.Add("tvTrxID", tvTrxID);
    r.Record.Add("Amount", UnitsOf(total));
    r.Record.Add("PaymentAmount", UnitsOf(settle));
    r.Record.Add("DiscountAmount", UnitsOf(total - settle));
    r.Record.Add("Data", data);
    r.Record.Add("Zumvo", code);
    r.Record.Add("Status", ToInt(TTransactionStatus::Redeemed));
    r.Record.Add("ProviderStoreID", FContext.ProviderStoreID);
}

void TCodeRedemption::NotKept(const std::string& code, const std::string& why, TRedemption& r) {
    const std::int32_t tvTrxID = WholeNumberOr(r.Answer["tvTrxId"].AsString(""), -1);
    LogInfo("[" + FContext.ClassMethod + "] Transaction % not kept (%), reversing %", r.TransactionID, why,
            tvTrxID);
    // The row says why, and keeps the provider's number for a reversal that is not confirmed now.
    TJSONDocument data = r.Answer.Clone();
    data.Add("Zumvo", code);
    data.Add("NotKept", why);
    Use(FStore, "ZumvoTransaction")
        .SaveProviderAnswer(r.TransactionID, tvTrxID, data.ToJSON(), FContext.ProviderStoreID);
    const bool givenBack = GiveBack(r.TransactionID, tvTrxID) == TAdviceOutcome::Confirmed;
    r.Outcome = TRedemptionOutcome::GivenBack;
    r.Problem =
        why + (givenBack ? ": the code has been given back to the customer."
                         : ": the code could not be given back yet and is listed with the held funds.");
}

void TCodeRedemption::UseStore(std::int32_t providerStoreID) {
    if (providerStoreID >= 0 && !FContext.PosID.empty())
        Use(FClient, "ZumvoAPI").SetStore(providerStoreID, FContext.PosID);
}

std::string TCodeRedemption::AdviceAnswer(const std::string& action, std::int32_t transactionID,
                                          std::int32_t tvTrxID) {
    std::string reply;
    Use(FClient, "ZumvoAPI")
        .Advice(BasketReference(), FContext.Cashier, ProviderReference(FContext.StoreID, transactionID),
                action, tvTrxID, "PAYMENT", reply);
    return reply;
}

namespace {

// Whether a row in this status may still pay a sale: such a row is marked before its REVERSE.
bool MayStillPay(TTransactionStatus status) {
    return status == TTransactionStatus::Started || status == TTransactionStatus::Redeemed;
}

} // namespace

TAdviceOutcome TCodeRedemption::GiveBack(std::int32_t transactionID, std::int32_t tvTrxID,
                                         std::int32_t providerStoreID) {
    bool marked = false;
    Guarded(FContext.ClassMethod, [&] {
        auto& store = Use(FStore, "ZumvoTransaction");
        const std::optional<TTransactionStatus> status = store.ReadStatus(transactionID);
        marked = status && (!MayStillPay(*status) ||
                            store.ChangeStatus(transactionID, *status, UnconfirmedStatus(TAdvice::Reverse)) ==
                                TStatusWrite::Changed);
    });
    if (!marked) {
        LogInfo("[" + FContext.ClassMethod + "] Transaction % cannot be marked: not given back now",
                transactionID);
        return TAdviceOutcome::NotSent;
    }
    bool confirmed = false;
    Guarded(FContext.ClassMethod, [&] {
        UseStore(providerStoreID);
        const std::string reply = AdviceAnswer("REVERSE", transactionID, tvTrxID);
        LogInfo("[" + FContext.ClassMethod + "] Response : %", reply);
        // Confirmed, the row moves from its mark to "cancelled"; otherwise it keeps the status
        // that lists it for the advice retry.
        confirmed = Use(FLogic, "ZumvoLogic").HandleReverseResponse(transactionID, reply);
    });
    return confirmed ? TAdviceOutcome::Confirmed : TAdviceOutcome::Failed;
}

TAdviceOutcome TCodeRedemption::Finalise(std::int32_t transactionID, std::int32_t tvTrxID,
                                         std::int32_t providerStoreID) {
    std::optional<TTransactionStatus> status;
    Guarded(FContext.ClassMethod,
            [&] { status = Use(FStore, "ZumvoTransaction").ReadStatus(transactionID); });
    if (!status)
        return TAdviceOutcome::NotSent;
    return FinaliseAll({{transactionID, tvTrxID, providerStoreID, *status}}).front();
}

std::vector<TAdviceOutcome> TCodeRedemption::FinaliseAll(const std::vector<TDue>& due,
                                                         const std::function<bool()>& allMarked) {
    std::vector<TAdviceOutcome> outcomes(due.size(), TAdviceOutcome::NotSent);
    Guarded(FContext.ClassMethod, [&] {
        auto& store = Use(FStore, "ZumvoTransaction");
        std::vector<bool> marked;
        for (const TDue& d : due) {
            marked.push_back(
                d.From != TTransactionStatus::Redeemed ||
                store.ChangeStatus(d.TransactionID, d.From, UnconfirmedStatus(TAdvice::Finalise)) ==
                    TStatusWrite::Changed);
            if (!marked.back())
                LogInfo("[" + FContext.ClassMethod + "] Transaction % cannot be marked: not finalised now",
                        d.TransactionID);
        }
        const bool allWereMarked = std::find(marked.begin(), marked.end(), false) == marked.end();
        if (allMarked && !(allWereMarked && allMarked())) {
            // A sale is settled whole, once tied to its invoice: a settled code of a basket without
            // invoice could not be found again by an override of that invoice. Nothing is sent, and
            // the codes wait as they were for the retry to find the stored sale.
            for (std::size_t i = 0; i < due.size(); ++i)
                if (marked[i] && due[i].From == TTransactionStatus::Redeemed)
                    store.ChangeStatus(due[i].TransactionID, UnconfirmedStatus(TAdvice::Finalise),
                                       TTransactionStatus::Redeemed);
            LogInfo("[" + FContext.ClassMethod +
                    "] The sale could not be marked and tied to its invoice: not "
                    "finalised now");
            return;
        }
        for (std::size_t i = 0; i < due.size(); ++i)
            if (marked[i])
                outcomes[i] = SendFinalise(due[i].TransactionID, due[i].TvTrxID, due[i].ProviderStoreID);
    });
    return outcomes;
}

TAdviceOutcome TCodeRedemption::SendFinalise(std::int32_t transactionID, std::int32_t tvTrxID,
                                             std::int32_t providerStoreID) {
    auto outcome = TAdviceOutcome::Failed;
    Guarded(FContext.ClassMethod, [&] {
        UseStore(providerStoreID);
        const std::string reply = AdviceAnswer("FINALISE", transactionID, tvTrxID);
        if (!Use(FLogic, "ZumvoLogic").HandleFinaliseResponse(transactionID, reply))
            return;
        outcome = TAdviceOutcome::Confirmed;
        if (Use(FStore, "ZumvoTransaction")
                .ChangeStatus(transactionID, UnconfirmedStatus(TAdvice::Finalise),
                              TTransactionStatus::Finalised) != TStatusWrite::Changed)
            LogInfo("[" + FContext.ClassMethod +
                        "] Transaction % settled but not marked: the retry settles it again",
                    transactionID);
    });
    return outcome;
}

} // namespace zumvo
