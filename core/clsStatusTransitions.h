// The life of a transaction row as a state machine: every change of its status that the module
// makes, with the step that makes it. Every status write names the status it replaces and is
// made only when this table allows the change; a write whose row is no longer in the status it
// names changes nothing (another till or the back office got there first), and its caller
// handles that explicitly.
#pragma once

#include "clsTransactionStatus.h"

#include <span>

namespace zumvo {

// The steps that change a row's status.
enum class TStatusStep {
    Keep,             // the cashier keeps an accepted code: it pays the sale
    Drop,             // a row that holds nothing (refused, never sent) is closed with its basket
    MarkReverse,      // marked before a REVERSE goes out: listed until the provider confirms
    ConfirmReverse,   // the provider confirmed the REVERSE: the money is back with the customer
    MarkFinalise,     // marked before a FINALISE goes out: listed until the provider confirms
    ConfirmFinalise,  // the provider confirmed the FINALISE: the money is settled
    Unmark,           // a sale that could not be tied to its invoice: its codes wait, unsent
    FinaliseDocument, // the store's basket operation: every redeemed row of a basket finalised
};

// One allowed change.
struct TStatusChange {
    TTransactionStatus From;
    TTransactionStatus To;
    TStatusStep Step;
};

// Every allowed change, once.
std::span<const TStatusChange> StatusChanges();

// Whether a row in status from may be written to status to.
bool IsAllowedChange(TTransactionStatus from, TTransactionStatus to);

// The step's name, for log lines.
const char* StatusStepText(TStatusStep step);

// What a status write did.
enum class TStatusWrite {
    Changed,     // the row was in the status named and now has the new one
    NotInStatus, // the row was no longer in the status named (or does not exist): nothing changed
    NotAllowed,  // the table does not allow the change: nothing was sent to the database
    Failed,      // the database refused the write (logged): the row is as it was
};

} // namespace zumvo
