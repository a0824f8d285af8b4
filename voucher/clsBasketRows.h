// The rows of a basket as the engine holds them (the transaction elements of a basket-details
// document, or the screen's records of accepted codes), and the two writes that save what a round
// of codes left: an accepted code on its row, the voucher total on the basket.
#pragma once

#include "JsonDocument.h"
#include "clsMoney.h"
#include "intfZumvoTransaction.h"

#include <cstdint>
#include <optional>

namespace zumvo {

// The stored status number of a transaction element; empty when the element has none.
std::optional<std::int32_t> StatusOf(const TJSONValue& transaction);

// True when the element's stored status is the given one; false for an element without status.
bool HasStatus(const TJSONValue& transaction, TTransactionStatus status);

// A transaction whose code the provider accepted and that was neither given back nor failed.
// An element without Status is a screen record of an accepted code. Rows at Started (0) carry
// no code and no amount: they were made for a code the provider refused or never answered.
bool IsLive(const TJSONValue& transaction);

// Saves an accepted code's record (its TransactionID, tvTrxID, Amount and Data) on its row and
// notes it in the store's log. False when the row was not kept: it was given back meanwhile (or
// is being), or the database refused the write; such a code must not be counted.
bool SaveAcceptedRow(IZumvoTransaction& store, const TJSONValue& record);

// Saves the basket's voucher total and notes it in the store's log.
void SaveBasketTotal(IZumvoTransaction& store, std::int32_t basketID, TCents total);

} // namespace zumvo
