// The life of one provider transaction, as the Status column of ZumvoPaymentTransactions
// stores it. The numbers are what stored data, the report and the store's SQL texts use.
#pragma once

#include <cstdint>
#include <optional>

namespace zumvo {

enum class TTransactionStatus : std::int32_t {
    Started = 0,         // row made for a code; nothing accepted or recorded yet (the column's default)
    Redeemed = 1,        // the provider accepted the code; its funds are held until settled or given back
    Finalised = 2,       // settled with a FINALISE advice the provider confirmed
    Cancelled = -1,      // given back with a confirmed REVERSE, or dropped before it was paid
    FinaliseFailed = -2, // the FINALISE advice was refused or went unanswered
    CancelFailed = -3,   // the REVERSE advice was refused or went unanswered
};

// The stored number of a status.
constexpr std::int32_t ToInt(TTransactionStatus status) {
    return static_cast<std::int32_t>(status);
}

// The status a stored number stands for; empty for a number that is none of them.
constexpr std::optional<TTransactionStatus> ToTransactionStatus(std::int32_t value) {
    if (value < -3 || value > 2)
        return std::nullopt;
    return static_cast<TTransactionStatus>(value);
}

// What an advice asks of the provider: settle a code, or give its money back.
enum class TAdvice { Finalise, Reverse };

// The status that keeps a row listed for the advice retry after an advice the provider did not
// confirm (refused, unanswered or unreadable): "failed to finalise" after a FINALISE, "failed to
// cancel" after a REVERSE. A FINALISE is marked so before it goes out, too.
constexpr TTransactionStatus UnconfirmedStatus(TAdvice advice) {
    return advice == TAdvice::Finalise ? TTransactionStatus::FinaliseFailed
                                       : TTransactionStatus::CancelFailed;
}

// The same for a row whose status is known: none when it keeps the one it has. A row that failed
// to finalise stays so whichever advice was not confirmed: its FINALISE may have settled the money,
// and only a FINALISE again can tell.
constexpr std::optional<TTransactionStatus> UnconfirmedStatus(TAdvice advice, TTransactionStatus current) {
    if (current == TTransactionStatus::FinaliseFailed)
        return std::nullopt;
    return UnconfirmedStatus(advice);
}

} // namespace zumvo
