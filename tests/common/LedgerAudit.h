// The money check that ends an end-to-end test: the voucher simulator's ledger against the
// module's ZumvoPaymentTransactions rows.
//
// A row and a ledger entry belong together when the entry's trxId is the row's transaction
// reference ("<store>-<row ID>"). What each row status allows the ledger to say:
//
//   1 Redeemed        held
//   2 Finalised       settled
//  -1 Cancelled       released, or no entry (a row dropped before the provider accepted it)
//   0 Started         no entry, or released: the provider holds nothing for it (when the row's
//                     Response notes an unknown outcome, also held: the row is listed to be
//                     reversed by reference, and it records no provider number)
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
//
// The three-way reconciliation (Reconcile) adds the host's invoices and the module's held-funds
// list to those rules; see there.
#pragma once

#include "JsonDocument.h"
#include "clsMoney.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zumvo::test {

// The mismatches, one readable line each (empty when the two agree). rows: a JSON array of
// objects with ID, Status and tvTrxID, and optionally Response (as SELECT * FROM
// [ZumvoPaymentTransactions] answers); ledger: the simulator's GET /ledger array; storeID: the
// host store number of the references; listed: the rows the held-funds list shows (a started row
// holding the provider's number, a code accepted on a sale still open, may then hold its money).
std::string LedgerMismatches(const TJSONDocument& rows, const TJSONDocument& ledger, std::int32_t storeID,
                             const std::set<std::int32_t>& listed = {});

// The simulator's ledger, read with GET /ledger from 127.0.0.1:port. Raises std::runtime_error
// when the simulator does not answer with a JSON array.
TJSONDocument ReadLedger(int port);

// ---- The three-way reconciliation: provider ledger, module rows, host invoices ----

// Money in whole cents. Database amounts are currency units in FLOAT columns: they are rounded
// to the nearest cent once, when read, and never compared as floating point.
using zumvo::TCents;
inline TCents CentsOf(double units) {
    return RoundedCentsOf(units);
}

// A ZumvoPaymentTransactions row.
struct TModuleRow {
    std::int32_t ID = 0;
    int Status = 0;
    std::optional<std::int64_t> TvTrxID;
    std::optional<TCents> Amount; // the provider's totalAmountProcessed as the row records it
    std::string Response;
    std::optional<std::int32_t> BasketID;
    std::optional<std::int32_t> InvoiceNum;
    std::optional<std::int64_t> ProviderStore; // ProviderStoreID, when the database has it
    // The cents the row says the provider processed: Amount, else the totalAmountProcessed of the
    // answer kept in Response; none when the row holds no provider answer.
    std::optional<TCents> Recorded() const;
    bool OutcomeUnknown() const;
};

// A ZumvoPaymentBasket row.
struct TBasketRow {
    std::int32_t ID = 0;
    std::optional<std::int32_t> InvoiceNum;
    std::int32_t TillID = -1;
    std::optional<TCents> TotalAmount; // what the basket's codes covered, as the module saved it
};

// An INVOICES row with its tenders and discounts. Status: 0 completed, 1 overridden, 2 refunded.
// A cancelled sale writes no invoice: its basket keeps no invoice number.
struct THostInvoice {
    std::int32_t InvoiceNum = 0;
    int Status = 0;
    TCents AfterDisc = 0;
    TCents ZumvoPaid = 0;       // InvoicesPayment with PaymentType 'Zumvo'
    TCents OtherPaid = 0;       // every other InvoicesPayment
    TCents VoucherDiscount = 0; // InvoiceDiscounts applied by the voucher answer (FromVoucher 1)
    bool CashedUp = false;      // DriverCashup has entries for it
};

struct TAuditData {
    std::vector<TModuleRow> Rows;
    std::vector<TBasketRow> Baskets;
    std::vector<THostInvoice> Invoices;
    // The rows the module's held-funds list shows (IZumvoTransaction::GetHeldFunds, which
    // BackOffice --held-funds prints).
    std::set<std::int32_t> Listed;
};

// Reads the module's and the host's tables from a SQLite database file (opened read-only). The
// listed rows are those the held-funds query selects. Raises std::runtime_error when the file
// cannot be read or lacks the module's tables.
TAuditData ReadAuditData(const std::string& databaseFile);
// The transaction numbers (first column) of BackOffice --held-funds output: the module's own list.
std::set<std::int32_t> ListedInHeldFundsOutput(const std::string& output);

// The three-way reconciliation, one readable line per discrepancy (empty when all agree):
// - every rule of LedgerMismatches;
// - a row recording another provider store (ProviderStoreID) than the ledger's transaction;
// - money held (a held ledger entry) that no listed row explains;
// - a settled or released amount other than the one the module's row records;
// - a completed invoice whose Zumvo payment + Zumvo discount differs from what the provider
//   settled (or, for listed failed finalises, still holds to settle) for its baskets;
// - a customer who paid more than the invoice: the other tenders plus the payment part the
//   provider settled exceed AFTERDISC, or the invoice's own payments do;
// - an overridden or refunded invoice, or a cancelled sale (a basket without invoice), that
//   left money settled without a listed row;
// - a basket naming an invoice that is not stored; a row naming another invoice than its basket;
// - a completed invoice's basket whose TotalAmount differs from what the provider settled for it.
// storeID: the host store number of the references ("<store>-<row>").
std::vector<std::string> Reconcile(const TAuditData& data, const TJSONDocument& ledger, std::int32_t storeID);
// The lines joined, each ending in a newline; empty when all agree.
std::string ReconcileText(const TAuditData& data, const TJSONDocument& ledger, std::int32_t storeID);

} // namespace zumvo::test
