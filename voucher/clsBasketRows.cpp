#include "clsBasketRows.h"

#include <string>

namespace zumvo {

std::optional<std::int32_t> StatusOf(const TJSONValue& transaction) {
    const TJSONValue status = transaction["Status"];
    if (status.IsNull())
        return std::nullopt;
    return status.AsInteger();
}

bool HasStatus(const TJSONValue& transaction, TTransactionStatus status) {
    return StatusOf(transaction) == ToInt(status);
}

bool IsLive(const TJSONValue& transaction) {
    const auto status = StatusOf(transaction);
    return !status || *status == ToInt(TTransactionStatus::Redeemed) ||
           *status == ToInt(TTransactionStatus::Finalised);
}

bool SaveAcceptedRow(IZumvoTransaction& store, const TJSONValue& record) {
    const std::int32_t transactionID = record["TransactionID"].AsInteger();
    const std::int32_t tvTrxID = record["tvTrxID"].AsInteger(-1);
    const bool kept = store.KeepPayment(transactionID, tvTrxID, RoundedCentsOf(record["Amount"].AsFloat(0)),
                                        record["Data"].ToJSON()) == TStatusWrite::Changed;
    store.AddLog("INFO", (kept ? "Saved Transaction: " : "Transaction not kept: ") +
                             std::to_string(transactionID) + " -> " + std::to_string(tvTrxID));
    return kept;
}

void SaveBasketTotal(IZumvoTransaction& store, std::int32_t basketID, TCents total) {
    store.SaveBasketPayment(basketID, UnitsOf(total));
    store.AddLog("INFO", "Saved Basket: " + std::to_string(basketID) + " -> " + FixedText(total));
}

} // namespace zumvo
