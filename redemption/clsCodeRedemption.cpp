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

// The text of an answer's member; empty when it is missing or not a text (an object).
std::string MemberText(const TJSONDocument& answer, const char* name) {
    const TJSONValue value = answer[name];
    return value.IsString() ? value.AsString("") : std::string();
}

// A provider's text as a message quotes it: at most 40 characters, control characters as '?'.
std::string ShortText(std::string text) {
    if (text.size() > 40)
        text = Utf8Prefix(text, 40) + "...";
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    return text;
}

// The tvTrxId of an accepted answer when it is a positive whole number; none otherwise (no
// advice ever names another).
std::optional<std::int32_t> ProviderNumberOf(const TJSONDocument& answer) {
    const auto number = ReadXsdInt(MemberText(answer, "tvTrxId"));
    if (!number || *number <= 0)
        return std::nullopt;
    return number;
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
        // SOAP 1.1 sends every fault with HTTP 500: its text is what the cashier needs to read.
        const std::string fault = SoapFaultSummary(reply);
        r.Problem = "The Zumvo server answered HTTP " + Decimal(r.HttpStatus) + " for " +
                    FClient->GetResource() + (fault.empty() ? std::string() : " (SOAP Fault " + fault + ")");
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
    // An answer that came but cannot be read says nothing of what the provider did: the row is
    // listed, never taken for a refusal.
    const auto unreadable = [&](const std::string& why) {
        r.Outcome = TRedemptionOutcome::Unreadable;
        r.Problem = std::string(UnreadableText) + "\r\n" + why;
        LogInfo("[" + FContext.ClassMethod + "] Outcome unknown for transaction % : %", r.TransactionID, why);
        store.SaveOutcomeUnknown(r.TransactionID, note("unreadable answer: " + why));
    };
    try {
        r.Answer = ReadSoapAnswer(reply, "transactionResponse");
    } catch (const std::exception& e) {
        unreadable(e.what());
        return;
    }
    const std::optional<std::int32_t> responseCode = ReadXsdInt(MemberText(r.Answer, "responseCode"));
    if (!responseCode) {
        unreadable("its responseCode \"" + ShortText(MemberText(r.Answer, "responseCode")) +
                   "\" is not a whole number");
        return;
    }
    if (*responseCode != AcceptedCode) {
        r.Outcome = TRedemptionOutcome::Refused;
        store.SaveOutcomeUnknown(r.TransactionID, {}); // refused: nothing is held under the row
        return;
    }
    Keep(code, r);
}

void TCodeRedemption::Keep(const std::string& code, TRedemption& r) {
    // Without its number and both amounts an accepted code cannot be settled or counted: it is
    // not kept, like an answer whose amounts do not add up.
    for (const char* member : {"tvTrxId", "totalAmountProcessed", "amountToSettle"}) {
        if (!ReadXsdInt(MemberText(r.Answer, member))) {
            NotKept(code, std::string("Zumvo's answer does not add up (no whole number in ") + member + ")",
                    r);
            return;
        }
    }
    if (!ProviderNumberOf(r.Answer)) {
        NotKept(code, "Zumvo's answer does not add up (tvTrxId " + MemberText(r.Answer, "tvTrxId") + ")", r);
        return;
    }
    const TCents total = *ReadXsdInt(MemberText(r.Answer, "totalAmountProcessed"));
    const TCents settle = *ReadXsdInt(MemberText(r.Answer, "amountToSettle"));
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
    const std::int32_t tvTrxID = *ProviderNumberOf(r.Answer);
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
    // Without a usable provider number the code is given back by the request's reference (0).
    const std::int32_t tvTrxID = ProviderNumberOf(r.Answer).value_or(ByReference);
    LogInfo("[" + FContext.ClassMethod + "] Transaction % not kept (%), reversing %", r.TransactionID, why,
            tvTrxID);
    // The row says why, and keeps the provider's number for a reversal that is not confirmed now;
    // TotalAmount is what was asked, the most the provider holds when its own amount is unreadable.
    TJSONDocument data = r.Answer.Clone();
    data.Add("Zumvo", code);
    data.Add("NotKept", why);
    data.Add("TotalAmount", static_cast<std::int64_t>(r.Asked));
    Use(FStore, "ZumvoTransaction")
        .SaveProviderAnswer(r.TransactionID, tvTrxID == ByReference ? -1 : tvTrxID, data.ToJSON(),
                            FContext.ProviderStoreID);
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
