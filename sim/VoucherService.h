// The voucher service's business side: judges transactions against the catalogue, holds the
// funds of accepted ones in a ledger until an advice settles or releases them, and decides which
// requests get an injected fault. Thread-safe: the HTTP server calls it from several threads.
#pragma once

#include "FaultPlan.h"
#include "SoapMessages.h"
#include "VoucherCatalogue.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct TVoucherSimConfig {
    std::string ApiId = "zumvo";
    std::string ApiPassword = "zumvo-secret";
    std::vector<std::string> Stores; // store ids known to the service; empty: any
    // A REVERSE by reference for which nothing is held is remembered, and a later transaction
    // with that store and trxId is refused (code::ReversedBefore), as a payment switch does.
    bool ReversalMemory = true;
    // A REVERSE whose tvTrxId is 0 names the transaction by its store and trxId. Off: the service
    // knows only the documented protocol, and such a REVERSE is an unknown transaction (code 1).
    bool ReversalByReference = true;
    // Strict: only requests the documented protocol allows are served (SOAP 1.1 envelope, the
    // service's namespace on the operation, unqualified members, every member present, integers
    // where the protocol has them); anything else gets a SOAP fault (CheckDocumentedRequest).
    bool Strict = false;
};

// Answer codes other than "-1" (accepted).
namespace code {
inline constexpr const char* Accepted = "-1";
inline constexpr const char* AdviceRefused = "1"; // unknown transaction, or a state that forbids the action
inline constexpr const char* UnknownCode = "2";
inline constexpr const char* Refused = "3"; // default of a "refused" catalogue code
inline constexpr const char* Expired = "4";
inline constexpr const char* InvalidAmount = "5";
inline constexpr const char* Exhausted = "6"; // single-use code in use, or balance spent
inline constexpr const char* BadCredentials = "7";
inline constexpr const char* UnknownStore = "8";
inline constexpr const char* InvalidRequest = "9"; // unsupported type or action
inline constexpr const char* NotProcessed = "10";  // answer of a faulted request that was not carried out
inline constexpr const char* ReversedBefore =
    "11"; // a transaction whose reference was reversed before it came
} // namespace code

enum class TLedgerState { Held, Settled, Released };
const char* LedgerStateName(TLedgerState state);

struct TAdviceRecord {
    std::string TvTrxId; // as sent
    std::string Action;
    std::string StoreId;
    std::string TrxId;
    std::string ResponseCode;
    std::string ResponseDesc;
    bool Moved = false; // the advice changed the transaction's state (a repeat or refusal does not)
    std::string PosId;  // the till it came from
};

// A fault rule that struck a request.
struct TStruckFault {
    std::string Fault;   // FaultKindName
    std::string Request; // "transaction" or "advise"
    std::string Code;    // the code concerned, empty when unknown
    std::string StoreId;
    std::string TrxId;
    std::string TvTrxId; // of an advice, as sent
    std::string Action;  // of an advice
};

struct TLedgerEntry {
    std::int64_t TvTrxId = 0;
    std::string Code;
    std::string Kind;
    std::string StoreId;
    std::string PosId;
    std::string BasketId;
    std::string CashierId;
    std::string TrxId;
    std::int64_t Requested = 0;      // totalAmount asked for, cents
    std::int64_t Amount = 0;         // totalAmountProcessed, cents
    std::int64_t AmountToSettle = 0; // payment part, cents
    TLedgerState State = TLedgerState::Held;
    std::vector<TAdviceRecord> Advices;
};

class TVoucherService {
public:
    explicit TVoucherService(TVoucherCatalogue catalogue, TVoucherSimConfig config = {});

    // Judges and, when accepted, records a transaction. inflated: an "inflated" fault rule whose
    // raised amounts the answer claims and the ledger records.
    TAnswer Transaction(const TTransactionRequest& request, const TFaultRule* inflated = nullptr);
    // Settles (FINALISE) or releases (REVERSE) a held transaction; every advice is recorded.
    // A REVERSE whose tvTrxId is 0 names the transaction by its store and trxId instead (the
    // reversal of a request whose answer never arrived); when no transaction carries that
    // reference there is nothing to give back and the answer is -1 as well.
    TAnswer Advice(const TAdviceRequest& request);
    TAnswer Handle(const TSoapRequest& request, const TFaultRule* fault = nullptr);

    // The fault for this request, if any rule matches: rules set over HTTP first, in the order
    // added, then the faults of the code concerned (the token of a transaction, the ledger
    // entry's code of an advice).
    std::optional<TFaultRule> TakeFault(const TSoapRequest& request);
    void AddFault(TFaultRule rule);
    void ClearFaults();

    // Clears the ledger and the advice log, and gives every code its value back. Transaction
    // numbers keep counting, so an advice that still names an old number cannot hit a new one.
    void Reset();

    // The reversal memory (TVoucherSimConfig::ReversalMemory); turning it off also forgets what
    // it remembered.
    void SetReversalMemory(bool on);
    bool ReversalMemory() const;
    // Reversal by reference (TVoucherSimConfig::ReversalByReference) and strict mode.
    void SetReversalByReference(bool on);
    void SetStrict(bool on);
    bool Strict() const;
    // {"reversalMemory": bool, "reversalByReference": bool, "strict": bool, "remembered": N,
    //  "refusedByMemory": N}
    std::string SettingsJson() const;
    // Every fault that struck a request since the start or the last reset, in order.
    std::vector<TStruckFault> Struck() const;
    std::string StruckJson() const;

    std::vector<TLedgerEntry> Ledger() const;
    std::vector<TAdviceRecord> Advices() const;
    // The remaining balance of a balance-tracked code, its value otherwise; none for an unknown code.
    std::optional<std::int64_t> Available(const std::string& code) const;

    std::string LedgerJson() const;
    std::string AdvicesJson() const;
    std::string FaultsJson() const;
    std::string CodesJson() const;

    static constexpr std::int64_t FirstTvTrxId = 1000;

private:
    std::optional<TAnswer> CheckCaller(const TApiCredentials& credentials, const std::string& storeId) const;
    std::int64_t AvailableLocked(const TVoucherCode& code) const;
    bool InUseLocked(const std::string& code) const;
    TLedgerEntry* FindLocked(std::int64_t tvTrxId);
    // The latest transaction of the store with that trxId.
    TLedgerEntry* FindByReferenceLocked(const std::string& storeId, const std::string& trxId);
    void RestoreCodeFaultsLocked();

    const TVoucherCatalogue FCatalogue;
    const TVoucherSimConfig FConfig;
    mutable std::mutex FMutex;
    std::vector<TLedgerEntry> FLedger;
    std::vector<TAdviceRecord> FAdvices;
    std::int64_t FNextTvTrxId = FirstTvTrxId;
    TFaultPlan FFaults;
    TFaultPlan FCodeFaults;
    bool FReversalMemory = true;
    bool FReversalByReference = true;
    bool FStrict = false;
    std::set<std::pair<std::string, std::string>> FReversedReferences; // store, trxId
    std::int64_t FRefusedByMemory = 0;
    std::vector<TStruckFault> FStruck;
};

// Reads a whole number of cents written in decimal; none for anything else.
std::optional<std::int64_t> ParseCents(const std::string& text);

} // namespace sim
