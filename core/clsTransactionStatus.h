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

} // namespace zumvo
