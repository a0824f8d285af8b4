// Which transaction rows may hold money at the provider. The rule is said here once: the store's
// held-funds query selects by it and the advice retry judges every row it answers by it.
#pragma once

#include "clsTransactionStatus.h"

#include <string>

namespace zumvo {

// Why a row may hold money.
enum class THeldReason {
    None,         // it holds nothing
    AdviceFailed, // failed to finalise or to cancel: the advice goes out again
    Unanswered,   // started, with the note of a request that got no readable answer
    OpenSale,     // started or redeemed, of a basket that never reached an invoice
    RefundOwed,   // finalised, of an overridden invoice: the customer is owed a refund
    NotKept,      // started, holding the provider's number, of a sale that is over: the code was
                  // accepted but never counted, and could not be given back at the time
};

// What the rule needs to know of a row besides its status.
struct THeldFacts {
    bool OutcomeUnknown = false; // its Response is the outcome-unknown note (IsOutcomeUnknown)
    bool OpenBasket = false;     // it belongs to a basket that has no invoice
    bool RefundOwed = false;     // it is marked RefundOwed
    bool ProviderNumber = false; // it holds the provider's transaction number (tvTrxID)
};

// The first reason, in the order above, for which a row may hold money; None when there is none.
THeldReason HeldReason(TTransactionStatus status, const THeldFacts& facts);

// The same rule as an SQL condition over ZumvoPaymentTransactions T left-joined to its basket B.
std::string HeldFundsCondition();

} // namespace zumvo
