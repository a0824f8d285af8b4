// The money check that ends an end-to-end test: the voucher simulator's ledger against the
// module's ZumvoPaymentTransactions rows.
//
// A row and a ledger entry belong together when the entry's trxId is the row's transaction
// reference ("<store>-<row ID>"). What each row status allows the ledger to say:
//
//   1 Redeemed        held
//   2 Finalised       settled
//  -1 Cancelled       released, or no entry (a row dropped before the provider accepted it)
//   0 Started         no entry, or released: the provider holds nothing for it
//  -2 FinaliseFailed  held or settled
//  -3 CancelFailed    held or settled
//
// -2 and -3 are the only statuses under which the module and the provider may disagree, and
// only in the direction that keeps the customer's money visible: the row says the money was not
// given back, and the ledger says it is still held (or was taken). A row never claims money
// was returned or settled when the provider still holds it. Besides:
// - an accepted entry (held or settled) without any row is money the module knows nothing of;
// - a row's tvTrxID must be its entry's tvTrxId;
// - no entry may be settled twice or released twice (two accepted FINALISE or two accepted
//   REVERSE advices), nor both settled and released.
#pragma once

#include "JsonDocument.h"

#include <cstdint>
#include <string>

namespace zumvo::test {

// The mismatches, one readable line each (empty when the two agree). rows: a JSON array of
// objects with ID, Status and tvTrxID (as SELECT * FROM [ZumvoPaymentTransactions] answers);
// ledger: the simulator's GET /ledger array; storeID: the host store number of the references.
std::string LedgerMismatches(const TJSONDocument& rows, const TJSONDocument& ledger, std::int32_t storeID);

// The simulator's ledger, read with GET /ledger from 127.0.0.1:port. Raises std::runtime_error
// when the simulator does not answer with a JSON array.
TJSONDocument ReadLedger(int port);

} // namespace zumvo::test
