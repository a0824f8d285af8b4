#include "VoucherService.h"
#include "clsRapidJson.h"

#include <algorithm>
#include <charconv>

namespace sim {

namespace {

using TWriter = zumvo::TRapidWriter;

void Str(TWriter& w, const char* key, const std::string& value) {
    w.Key(key);
    w.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}

void Int(TWriter& w, const char* key, std::int64_t value) {
    w.Key(key);
    w.Int64(value);
}

TAnswer MakeAnswer(const char* responseCode, std::string desc) {
    TAnswer answer;
    answer.ResponseCode = responseCode;
    answer.ResponseDesc = std::move(desc);
    return answer;
}

TAnswer RefusedTransaction(const std::string& responseCode, std::string desc) {
    TAnswer answer;
    answer.ResponseCode = responseCode;
    answer.ResponseDesc = std::move(desc);
    answer.TotalAmountProcessed = 0;
    answer.AmountToSettle = 0;
    return answer;
}

void WriteAdvice(TWriter& w, const TAdviceRecord& a) {
    w.StartObject();
    Str(w, "tvTrxId", a.TvTrxId);
    Str(w, "action", a.Action);
    Str(w, "storeId", a.StoreId);
    Str(w, "posId", a.PosId);
    Str(w, "trxId", a.TrxId);
    Str(w, "responseCode", a.ResponseCode);
    Str(w, "responseDesc", a.ResponseDesc);
    w.Key("moved");
    w.Bool(a.Moved);
    w.EndObject();
}

} // namespace

const char* LedgerStateName(TLedgerState state) {
    switch (state) {
    case TLedgerState::Held:
        return "held";
    case TLedgerState::Settled:
        return "settled";
    case TLedgerState::Released:
        return "released";
    }
    return "?";
}

std::optional<std::int64_t> ParseCents(const std::string& text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

TVoucherService::TVoucherService(TVoucherCatalogue catalogue, TVoucherSimConfig config)
    : FCatalogue(std::move(catalogue)), FConfig(std::move(config)), FReversalMemory(FConfig.ReversalMemory),
      FReversalByReference(FConfig.ReversalByReference), FStrict(FConfig.Strict) {
    RestoreCodeFaultsLocked();
}

std::optional<TAnswer> TVoucherService::CheckCaller(const TApiCredentials& credentials,
                                                    const std::string& storeId) const {
    if (credentials.Id != FConfig.ApiId || credentials.Password != FConfig.ApiPassword)
        return MakeAnswer(code::BadCredentials, "Invalid API credentials");
    if (!FConfig.Stores.empty() &&
        std::find(FConfig.Stores.begin(), FConfig.Stores.end(), storeId) == FConfig.Stores.end())
        return MakeAnswer(code::UnknownStore, "Unknown store " + storeId);
    return std::nullopt;
}

bool TVoucherService::InUseLocked(const std::string& code) const {
    return std::any_of(FLedger.begin(), FLedger.end(), [&](const TLedgerEntry& e) {
        return e.Code == code && e.State != TLedgerState::Released;
    });
}

std::int64_t TVoucherService::AvailableLocked(const TVoucherCode& code) const {
    if (code.Tracking != TTracking::Balance)
        return code.Value;
    // The balance is what no held or settled transaction has drawn yet, so a reversal (or a
    // reset of the ledger) gives the amount back by itself.
    std::int64_t drawn = 0;
    for (const TLedgerEntry& e : FLedger)
        if (e.Code == code.Code && e.State != TLedgerState::Released)
            drawn += e.Amount;
    return std::max<std::int64_t>(0, code.Value - drawn);
}

TLedgerEntry* TVoucherService::FindLocked(std::int64_t tvTrxId) {
    for (TLedgerEntry& e : FLedger)
        if (e.TvTrxId == tvTrxId)
            return &e;
    return nullptr;
}

TLedgerEntry* TVoucherService::FindByReferenceLocked(const std::string& storeId, const std::string& trxId) {
    for (auto it = FLedger.rbegin(); it != FLedger.rend(); ++it)
        if (it->StoreId == storeId && it->TrxId == trxId)
            return &*it;
    return nullptr;
}

TAnswer TVoucherService::Transaction(const TTransactionRequest& request, const TFaultRule* inflated) {
    std::lock_guard lock(FMutex);
    if (auto refused = CheckCaller(request.Credentials, request.Store.StoreId)) {
        refused->TotalAmountProcessed = 0;
        refused->AmountToSettle = 0;
        return *refused;
    }
    // The till gave this reference up before the request came (its answer was lost, so it sent
    // a reversal by reference): carrying it out now would hold money nobody will release.
    if (FReversalMemory && FReversedReferences.count({request.Store.StoreId, request.Store.TrxId})) {
        ++FRefusedByMemory;
        return RefusedTransaction(code::ReversedBefore,
                                  "Transaction " + request.Store.TrxId + " was reversed before it arrived");
    }
    if (request.Type != "PAYMENT")
        return RefusedTransaction(code::InvalidRequest, "Unsupported transaction type " + request.Type);
    const std::optional<std::int64_t> asked = ParseCents(request.TotalAmount);
    if (!asked || *asked <= 0)
        return RefusedTransaction(code::InvalidAmount, "Invalid amount " + request.TotalAmount);

    const TVoucherCode* voucher = FCatalogue.Find(request.TokenId);
    if (!voucher)
        return RefusedTransaction(code::UnknownCode, "Unknown voucher code");
    if (voucher->Kind == TCodeKind::Refused)
        return RefusedTransaction(voucher->ResponseCode, voucher->ResponseDesc);
    if (voucher->Kind == TCodeKind::Expired)
        return RefusedTransaction(code::Expired, "Voucher expired");
    if (voucher->Tracking == TTracking::SingleUse && InUseLocked(voucher->Code))
        return RefusedTransaction(code::Exhausted, "Voucher already used");

    std::int64_t processed = 0;
    std::int64_t toSettle = 0;
    if (voucher->Kind != TCodeKind::Loyalty) {
        const std::int64_t available = AvailableLocked(*voucher);
        if (available <= 0)
            return RefusedTransaction(code::Exhausted, "Voucher balance exhausted");
        // A code never covers more than the amount asked for.
        processed = std::min(available, *asked);
        toSettle = processed * voucher->PaymentPercent / 100;
    }
    if (inflated) {
        // A faulty provider: the answer (and the ledger) claims more than was asked for.
        switch (inflated->Inflate) {
        case TInflate::Both:
            toSettle += *asked + inflated->Cents - processed;
            processed = *asked + inflated->Cents;
            break;
        case TInflate::Total:
            processed = *asked + inflated->Cents;
            break;
        case TInflate::Settle:
            toSettle = processed + inflated->Cents;
            break;
        }
    }

    TLedgerEntry entry;
    entry.TvTrxId = FNextTvTrxId++;
    entry.Code = voucher->Code;
    entry.Kind = CodeKindName(voucher->Kind);
    entry.StoreId = request.Store.StoreId;
    entry.PosId = request.Store.PosId;
    entry.BasketId = request.Store.BasketId;
    entry.CashierId = request.Store.CashierId;
    entry.TrxId = request.Store.TrxId;
    entry.Requested = *asked;
    entry.Amount = processed;
    entry.AmountToSettle = toSettle;
    FLedger.push_back(entry);

    TAnswer answer;
    answer.ResponseCode = code::Accepted;
    answer.ResponseDesc = "Approved";
    answer.TvTrxId = entry.TvTrxId;
    answer.TotalAmountProcessed = processed;
    answer.AmountToSettle = toSettle;
    answer.Vsp = voucher->Vsp;
    answer.Loyalty = voucher->Loyalty;
    return answer;
}

TAnswer TVoucherService::Advice(const TAdviceRequest& request) {
    std::lock_guard lock(FMutex);
    TLedgerEntry* entry = nullptr;
    const std::optional<std::int64_t> id = ParseCents(request.TvTrxId);
    const bool byReference = id == 0 && request.Action == "REVERSE" && FReversalByReference;
    if (byReference)
        entry = FindByReferenceLocked(request.Store.StoreId, request.Store.TrxId);
    else if (id)
        entry = FindLocked(*id);
    bool moved = false;

    auto decide = [&]() -> TAnswer {
        if (auto refused = CheckCaller(request.Credentials, request.Store.StoreId))
            return *refused;
        if (request.Type != "PAYMENT")
            return MakeAnswer(code::InvalidRequest, "Unsupported transaction type " + request.Type);
        if (request.Action != "FINALISE" && request.Action != "REVERSE")
            return MakeAnswer(code::InvalidRequest, "Unknown action " + request.Action);
        if (!entry && byReference) {
            if (FReversalMemory)
                FReversedReferences.insert({request.Store.StoreId, request.Store.TrxId});
            return MakeAnswer(code::Accepted, "No transaction to reverse");
        }
        if (!entry)
            return MakeAnswer(code::AdviceRefused, "Unknown transaction " + request.TvTrxId);
        if (entry->StoreId != request.Store.StoreId || entry->TrxId != request.Store.TrxId)
            return MakeAnswer(code::AdviceRefused,
                              "Transaction details do not match transaction " + request.TvTrxId);

        const bool finalise = request.Action == "FINALISE";
        const TLedgerState target = finalise ? TLedgerState::Settled : TLedgerState::Released;
        if (entry->State == target) // repeated advice: the same answer again, nothing moves
            return MakeAnswer(code::Accepted,
                              finalise ? "Transaction already finalised" : "Transaction already reversed");
        if (entry->State != TLedgerState::Held)
            return MakeAnswer(code::AdviceRefused, finalise
                                                       ? "Transaction was reversed and cannot be finalised"
                                                       : "Transaction was finalised and cannot be reversed");
        entry->State = target;
        moved = true;
        return MakeAnswer(code::Accepted, finalise ? "Transaction finalised" : "Transaction reversed");
    };

    TAnswer answer = decide();
    if (entry)
        answer.TvTrxId = entry->TvTrxId;
    TAdviceRecord record{
        request.TvTrxId,     request.Action, request.Store.StoreId, request.Store.TrxId, answer.ResponseCode,
        answer.ResponseDesc, moved,          request.Store.PosId};
    FAdvices.push_back(record);
    if (entry)
        entry->Advices.push_back(std::move(record));
    return answer;
}

TAnswer TVoucherService::Handle(const TSoapRequest& request, const TFaultRule* fault) {
    const TFaultRule* inflated = fault && fault->Kind == TFaultKind::Inflated ? fault : nullptr;
    return request.Kind == TRequestKind::Transaction ? Transaction(request.Transaction, inflated)
                                                     : Advice(request.Advice);
}

std::optional<TFaultRule> TVoucherService::TakeFault(const TSoapRequest& request) {
    std::lock_guard lock(FMutex);
    std::string codeConcerned;
    if (request.Kind == TRequestKind::Transaction) {
        codeConcerned = request.Transaction.TokenId;
    } else if (auto id = ParseCents(request.Advice.TvTrxId)) {
        const TLedgerEntry* entry =
            *id == 0 ? FindByReferenceLocked(request.Advice.Store.StoreId, request.Advice.Store.TrxId)
                     : FindLocked(*id);
        if (entry)
            codeConcerned = entry->Code;
    }
    std::optional<TFaultRule> rule = FFaults.Take(request.Kind, codeConcerned);
    if (!rule && !codeConcerned.empty())
        rule = FCodeFaults.Take(request.Kind, codeConcerned);
    if (rule) {
        const bool transaction = request.Kind == TRequestKind::Transaction;
        const TStoreTrxDetails& store = transaction ? request.Transaction.Store : request.Advice.Store;
        FStruck.push_back({FaultKindName(rule->Kind), RequestKindName(request.Kind), codeConcerned,
                           store.StoreId, store.TrxId, transaction ? std::string() : request.Advice.TvTrxId,
                           transaction ? std::string() : request.Advice.Action});
    }
    return rule;
}

void TVoucherService::AddFault(TFaultRule rule) {
    std::lock_guard lock(FMutex);
    FFaults.Add(std::move(rule));
}

void TVoucherService::ClearFaults() {
    std::lock_guard lock(FMutex);
    FFaults.Clear();
}

void TVoucherService::RestoreCodeFaultsLocked() {
    FCodeFaults.Clear();
    for (const TVoucherCode& c : FCatalogue.Codes())
        for (const TFaultRule& rule : c.Faults)
            FCodeFaults.Add(rule);
}

void TVoucherService::Reset() {
    std::lock_guard lock(FMutex);
    FLedger.clear();
    FAdvices.clear();
    FReversedReferences.clear();
    FRefusedByMemory = 0;
    FStruck.clear();
    RestoreCodeFaultsLocked();
}

void TVoucherService::SetReversalMemory(bool on) {
    std::lock_guard lock(FMutex);
    FReversalMemory = on;
    if (!on)
        FReversedReferences.clear();
}

void TVoucherService::SetReversalByReference(bool on) {
    std::lock_guard lock(FMutex);
    FReversalByReference = on;
}

void TVoucherService::SetStrict(bool on) {
    std::lock_guard lock(FMutex);
    FStrict = on;
}

bool TVoucherService::Strict() const {
    std::lock_guard lock(FMutex);
    return FStrict;
}

bool TVoucherService::ReversalMemory() const {
    std::lock_guard lock(FMutex);
    return FReversalMemory;
}

std::string TVoucherService::SettingsJson() const {
    std::lock_guard lock(FMutex);
    zumvo::TRapidStringBuffer buffer;
    TWriter w(buffer);
    w.StartObject();
    w.Key("reversalMemory");
    w.Bool(FReversalMemory);
    w.Key("reversalByReference");
    w.Bool(FReversalByReference);
    w.Key("strict");
    w.Bool(FStrict);
    Int(w, "remembered", static_cast<std::int64_t>(FReversedReferences.size()));
    Int(w, "refusedByMemory", FRefusedByMemory);
    w.EndObject();
    return buffer.GetString();
}

std::vector<TStruckFault> TVoucherService::Struck() const {
    std::lock_guard lock(FMutex);
    return FStruck;
}

std::string TVoucherService::StruckJson() const {
    std::lock_guard lock(FMutex);
    zumvo::TRapidStringBuffer buffer;
    TWriter w(buffer);
    w.StartArray();
    for (const TStruckFault& f : FStruck) {
        w.StartObject();
        Str(w, "fault", f.Fault);
        Str(w, "request", f.Request);
        Str(w, "code", f.Code);
        Str(w, "storeId", f.StoreId);
        Str(w, "trxId", f.TrxId);
        if (!f.Action.empty()) {
            Str(w, "action", f.Action);
            Str(w, "tvTrxId", f.TvTrxId);
        }
        w.EndObject();
    }
    w.EndArray();
    return buffer.GetString();
}

std::vector<TLedgerEntry> TVoucherService::Ledger() const {
    std::lock_guard lock(FMutex);
    return FLedger;
}

std::vector<TAdviceRecord> TVoucherService::Advices() const {
    std::lock_guard lock(FMutex);
    return FAdvices;
}

std::optional<std::int64_t> TVoucherService::Available(const std::string& code) const {
    std::lock_guard lock(FMutex);
    const TVoucherCode* voucher = FCatalogue.Find(code);
    if (!voucher)
        return std::nullopt;
    return AvailableLocked(*voucher);
}

std::string TVoucherService::LedgerJson() const {
    std::lock_guard lock(FMutex);
    zumvo::TRapidStringBuffer buffer;
    TWriter w(buffer);
    w.StartArray();
    for (const TLedgerEntry& e : FLedger) {
        w.StartObject();
        Int(w, "tvTrxId", e.TvTrxId);
        Str(w, "code", e.Code);
        Str(w, "kind", e.Kind);
        Str(w, "storeId", e.StoreId);
        Str(w, "posId", e.PosId);
        Str(w, "basketId", e.BasketId);
        Str(w, "cashierId", e.CashierId);
        Str(w, "trxId", e.TrxId);
        Int(w, "requested", e.Requested);
        Int(w, "amount", e.Amount);
        Int(w, "amountToSettle", e.AmountToSettle);
        Str(w, "state", LedgerStateName(e.State));
        Int(w, "advices", static_cast<std::int64_t>(e.Advices.size()));
        w.Key("adviceLog");
        w.StartArray();
        for (const TAdviceRecord& a : e.Advices)
            WriteAdvice(w, a);
        w.EndArray();
        w.EndObject();
    }
    w.EndArray();
    return buffer.GetString();
}

std::string TVoucherService::AdvicesJson() const {
    std::lock_guard lock(FMutex);
    zumvo::TRapidStringBuffer buffer;
    TWriter w(buffer);
    w.StartArray();
    for (const TAdviceRecord& a : FAdvices)
        WriteAdvice(w, a);
    w.EndArray();
    return buffer.GetString();
}

std::string TVoucherService::FaultsJson() const {
    std::lock_guard lock(FMutex);
    zumvo::TRapidStringBuffer buffer;
    TWriter w(buffer);
    w.StartObject();
    w.Key("faults");
    w.StartArray();
    for (const TFaultRule& rule : FFaults.Rules())
        WriteFaultRule(w, rule);
    w.EndArray();
    w.Key("codeFaults");
    w.StartArray();
    for (const TFaultRule& rule : FCodeFaults.Rules())
        WriteFaultRule(w, rule);
    w.EndArray();
    w.EndObject();
    return buffer.GetString();
}

std::string TVoucherService::CodesJson() const {
    std::lock_guard lock(FMutex);
    zumvo::TRapidStringBuffer buffer;
    TWriter w(buffer);
    w.StartArray();
    for (const TVoucherCode& c : FCatalogue.Codes()) {
        w.StartObject();
        Str(w, "code", c.Code);
        Str(w, "kind", CodeKindName(c.Kind));
        Int(w, "value", c.Value);
        w.Key("tracking");
        w.String(c.Tracking == TTracking::SingleUse ? "singleUse"
                 : c.Tracking == TTracking::Balance ? "balance"
                                                    : "none");
        Int(w, "available", AvailableLocked(c));
        w.Key("inUse");
        w.Bool(InUseLocked(c.Code));
        w.EndObject();
    }
    w.EndArray();
    return buffer.GetString();
}

} // namespace sim
