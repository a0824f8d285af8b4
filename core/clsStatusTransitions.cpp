#include "clsStatusTransitions.h"

#include <algorithm>
#include <array>

namespace zumvo {

namespace {

using enum TTransactionStatus;
using enum TStatusStep;

constexpr std::array Changes{
    TStatusChange{Started, Redeemed, Keep},
    TStatusChange{Started, Cancelled, Drop},
    TStatusChange{Started, CancelFailed, MarkReverse},
    TStatusChange{Redeemed, CancelFailed, MarkReverse},
    TStatusChange{CancelFailed, Cancelled, ConfirmReverse},
    // A REVERSE confirmed for a row its sender did not mark first (the provider logic's callers).
    TStatusChange{Redeemed, Cancelled, ConfirmReverse},
    // A failed finalise that a person has given back: its mark stays until the provider confirms.
    TStatusChange{FinaliseFailed, Cancelled, ConfirmReverse},
    // A settled code the provider has taken back after all (a REVERSE of a cancelled sale).
    TStatusChange{Finalised, Cancelled, ConfirmReverse},
    TStatusChange{Redeemed, FinaliseFailed, MarkFinalise},
    TStatusChange{FinaliseFailed, Finalised, ConfirmFinalise},
    TStatusChange{FinaliseFailed, Redeemed, Unmark},
    TStatusChange{Redeemed, Finalised, FinaliseDocument},
};

} // namespace

std::span<const TStatusChange> StatusChanges() {
    return Changes;
}

bool IsAllowedChange(TTransactionStatus from, TTransactionStatus to) {
    return std::ranges::any_of(Changes, [&](const TStatusChange& c) { return c.From == from && c.To == to; });
}

const char* StatusStepText(TStatusStep step) {
    switch (step) {
    case Keep:
        return "keep";
    case Drop:
        return "drop";
    case MarkReverse:
        return "mark before REVERSE";
    case ConfirmReverse:
        return "REVERSE confirmed";
    case MarkFinalise:
        return "mark before FINALISE";
    case ConfirmFinalise:
        return "FINALISE confirmed";
    case Unmark:
        return "unmark: not tied to its invoice";
    case FinaliseDocument:
        return "basket finalised";
    }
    return "?";
}

} // namespace zumvo
