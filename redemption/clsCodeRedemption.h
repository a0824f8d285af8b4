// TCodeRedemption: what happens to one code at the provider, the same for the payment screen and
// for the engine's re-application: the row made for it, the request and the judging of its answer,
// the record of an accepted code, and the advices that later settle (FINALISE) or give back
// (REVERSE) a code. Every rule about a code's money lives here once: an answer for more than was
// asked is never kept, a code that cannot be recorded is given back, a request without a readable
// answer stays findable by its reference, and an advice the provider did not confirm leaves its
// row in the failed status that keeps it listed.
#pragma once

#include "JsonDocument.h"
#include "clsMoney.h"
#include "intfZumvoAPI.h"
#include "intfZumvoLogic.h"
#include "intfZumvoTransaction.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zumvo {

// "<store>-<number>": how the provider knows a basket or a transaction row (12-345).
std::string ProviderReference(std::int32_t storeID, std::int64_t number);

// The cents of an amount in a voucher record or a stored answer: a number in currency units, or
// the decimal text stored answers carry ("12.5"); 0 when it is missing.
TCents AmountCents(const TJSONValue& value);

// The provider store a row or record was accepted under (its ProviderStoreID); -1 when it does
// not say (rows from before the column).
std::int32_t ProviderStoreOf(const TJSONValue& transaction);

enum class TRedemptionOutcome {
    Accepted,   // taken: Record holds the code, its row the answer (status 0 until saved as paid)
    Refused,    // the provider refused it: Answer says why; the row (status 0) serves the next try
    NoAnswer,   // no answer came: the row keeps a note of the request and is listed until resolved
    Unreadable, // an answer came that could not be read: as NoAnswer
    NotSent,    // nothing was sent: the code or the amount cannot be carried, or no row could be made
    GivenBack,  // accepted but not kept (an answer for more than was asked, or a row that could not
                // be written): given back at once; the row says why
};

// The outcome of one request, with what the cashier needs to see.
struct TRedemption {
    TRedemptionOutcome Outcome = TRedemptionOutcome::NotSent;
    std::int32_t TransactionID = -1; // the row of the request; -1 when none was made
    TJSONDocument Answer;            // the provider's answer, converted, when one could be read
    // Accepted only: the voucher transaction record (TransactionID, tvTrxID, Amount,
    // PaymentAmount, DiscountAmount in currency units, Data, Zumvo, Status 1, ProviderStoreID).
    TJSONDocument Record;
    TCents Asked = 0;            // the amount sent
    TCents Amount = 0;           // Accepted: what the code covers (payment and discount)
    TCents Payment = 0;          // Accepted: the part settled as payment
    TCents Discount = 0;         // Accepted: the part given as discount
    std::string Problem;         // for the cashier, when the answer itself does not tell what happened
    std::int32_t HttpStatus = 0; // of the request's answer; 0 when none came

    bool Accepted() const { return Outcome == TRedemptionOutcome::Accepted; }
    // The server answered with an HTTP status other than 2xx.
    bool NotHttpOk() const { return HttpStatus != 0 && (HttpStatus < 200 || HttpStatus > 299); }
    // Only a refused request's row may carry the next attempt: any other row may hold money.
    bool RowReusable() const { return Outcome == TRedemptionOutcome::Refused; }
};

// Who sends, on whose behalf.
struct TRedemptionContext {
    std::string ClassMethod;           // names the log lines, as "TfrmZumvoPayment.btnCheckClick"
    std::int32_t StoreID = 0;          // the host's store number, in the references
    std::int32_t ProviderStoreID = -1; // the provider store the client sends under, kept on the row
    std::string PosID;                 // "Till-<n>": the point of sale the client sends as
    std::int32_t BasketID = -1;
    std::string Cashier;
    std::string LineItems; // the invoice's lines as JSON text; empty: none
};

// How an advice ended.
enum class TAdviceOutcome {
    Confirmed, // the provider confirmed it, and the row says so
    Failed,    // not confirmed (refused, no answer, unreadable): the row is in the failed status
    NotSent,   // nothing was sent: the row could not be marked first, so nothing is changed
};

class TCodeRedemption {
public:
    TCodeRedemption(TRedemptionContext context, pallux::IntfPtr<IZumvoAPI> client,
                    pallux::IntfPtr<IZumvoTransaction> store, pallux::IntfPtr<IZumvoLogic> logic);

    // Sends the code for the amount, on the row given (-1: a new row of the basket), and judges
    // the answer. Before the request goes out the row keeps a note of it, so that a till that
    // stops while waiting leaves a row the money can be found and given back by. Never raises:
    // errors are logged under the context's name and end as NotSent or Unreadable.
    TRedemption Redeem(const std::string& code, TCents amount, std::int32_t transactionID = -1);

    // REVERSE of a code. A code that may still pay (a started or redeemed row) is marked "failed to
    // cancel" first, naming the status it had: one the database will not mark, or that another
    // actor has moved meanwhile, is not given back now (NotSent) and is left as it is. The row
    // becomes "cancelled" only on the provider's confirmation; a row that failed to finalise or is
    // finalised keeps its status until then (its FINALISE may have settled the money).
    // providerStoreID: the store the code was accepted under (-1: the client's). Never raises.
    TAdviceOutcome GiveBack(std::int32_t transactionID, std::int32_t tvTrxID,
                            std::int32_t providerStoreID = -1);

    // FINALISE of a code. The row is marked "failed to finalise" before the advice goes out and
    // "finalised" only on the provider's confirmation, so that a till stopped in between, or a
    // database write that fails, leaves it listed for the advice retry. When the first mark cannot
    // be written nothing is sent (NotSent). Never raises.
    TAdviceOutcome Finalise(std::int32_t transactionID, std::int32_t tvTrxID,
                            std::int32_t providerStoreID = -1);

    // One code of a sale to settle.
    struct TDue {
        std::int32_t TransactionID = 0;
        std::int32_t TvTrxID = -1;
        std::int32_t ProviderStoreID = -1;
        // The status the row is in: a redeemed row is marked first; any other is sent as it
        // stands (one that failed to finalise is marked already; a settled one only confirms).
        TTransactionStatus From = TTransactionStatus::Redeemed;
    };
    // FINALISE of every code of a sale: all are marked "failed to finalise" before the first
    // advice goes out, so that a till stopped after any of them leaves every unconfirmed code
    // listed; then each is sent as Finalise sends one. A code whose mark cannot be written is not
    // sent (NotSent). allMarked runs once every mark is written, before the first advice (the
    // engine ties the sale's basket to its invoice there). A sale given allMarked is settled whole
    // or not now: when a mark cannot be written or allMarked answers false, nothing is sent and
    // the marks are taken back, so that the codes wait, as redeemed rows of a sale without an
    // invoice, for the advice retry to find that sale again. The outcomes in the order given.
    std::vector<TAdviceOutcome> FinaliseAll(const std::vector<TDue>& due,
                                            const std::function<bool()>& allMarked = {});

    const TRedemptionContext& Context() const { return FContext; }

private:
    TRedemptionContext FContext;
    pallux::IntfPtr<IZumvoAPI> FClient;
    pallux::IntfPtr<IZumvoTransaction> FStore;
    pallux::IntfPtr<IZumvoLogic> FLogic;

    std::string BasketReference() const;
    void Send(const std::string& code, TRedemption& r);
    void Keep(const std::string& code, TRedemption& r);
    void NotKept(const std::string& code, const std::string& why, TRedemption& r);
    void UseStore(std::int32_t providerStoreID);
    // Finalise for a row already marked "failed to finalise".
    TAdviceOutcome SendFinalise(std::int32_t transactionID, std::int32_t tvTrxID,
                                std::int32_t providerStoreID);
    std::string AdviceAnswer(const std::string& action, std::int32_t transactionID, std::int32_t tvTrxID);
};

} // namespace zumvo
