#include "clsAdviceRetry.h"
#include "clsPointOfSale.h"

#include "SimpleXMLtoJSON.h"
#include "ZumvoLog.h"
#include "clsCodeRedemption.h"
#include "clsHeldFundsRule.h"
#include "clsModuleContainer.h"
#include "clsMoney.h"
#include "clsOutcomeUnknown.h"
#include "implZumvoAPI.h"
#include "intfZumvoInfo.h"
#include "intfZumvoLogic.h"
#include "intfZumvoTransaction.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <map>
#include <stdexcept>

namespace zumvo {

namespace {

constexpr std::size_t LogMessageLimit = 1000; // zumvoPaymentLog.Message

// A whole number >= minimum from a setting's text; none when empty; logged and none when invalid.
std::optional<long long> SettingNumber(pallux::IINISettings& settings, const char* key, long long minimum) {
    const std::string text = settings.ReadString(key, "Default");
    if (text.empty())
        return std::nullopt;
    long long value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < minimum) {
        LogInfo("[TRetrySettings.Read] Ignoring % = %: not a whole number of at least %", key, text, minimum);
        return std::nullopt;
    }
    return value;
}

std::string Text(const TJSONValue& v) {
    return v.IsNull() ? std::string() : v.AsString("");
}

std::int32_t IntOr(const TJSONValue& v, std::int32_t fallback) {
    return v.IsNull() ? fallback : v.AsInteger(fallback);
}

// The local calendar day of a time point.
std::tm LocalDay(TTimePoint t) {
    const std::time_t tt = TClock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    return tm;
}

struct TJudgement {
    bool Confirmed = false;
    std::string Error; // empty when confirmed
};

// Reads an advice answer: confirmed only on responseCode -1; anything else names its reason.
TJudgement JudgeAnswer(const std::string& reply) {
    if (reply.empty())
        return {false, "No answer from the provider"};
    try {
        const TJSONDocument answer = ReadSoapAnswer(reply, "adviseResponse");
        const std::string code = answer["responseCode"].AsString("");
        if (ParseResponseCode(code) == AcceptedCode)
            return {true, {}};
        return {false, "Refused: " + code + " " + answer["responseDesc"].AsString("")};
    } catch (const std::exception& e) {
        return {false, std::string("Unreadable answer: ") + e.what()};
    }
}

} // namespace

TRetrySettings TRetrySettings::Read(pallux::IINISettings& settings) {
    TRetrySettings s;
    if (auto n = SettingNumber(settings, "AdviceRetryAttempts", 0))
        s.MaxAttempts = static_cast<int>(std::min<long long>(*n, 1000));
    if (auto n = SettingNumber(settings, "AdviceRetryIntervalSeconds", 0))
        s.FirstInterval = std::min(std::chrono::seconds(*n), LongestInterval);
    if (auto n = SettingNumber(settings, "LateRequestSeconds", 0))
        s.LateRequestWindow = std::min(std::chrono::seconds(*n), LongestInterval);
    if (auto n = SettingNumber(settings, "AdviceRetryAfterSale", 0))
        s.AfterSaleAdvices = static_cast<int>(std::min<long long>(*n, 100));
    if (auto n = SettingNumber(settings, "ReversalByReference", 0))
        s.ReversalByReference = *n != 0;
    if (auto n = SettingNumber(settings, "AbandonedAfterMinutes", 0))
        s.AbandonedAfter = std::chrono::minutes(std::min<long long>(*n, 60LL * 24 * 366));
    return s;
}

std::chrono::seconds RetryInterval(const TRetrySettings& settings, int attemptsMade) {
    std::chrono::seconds interval = settings.FirstInterval;
    for (int i = 1; i < attemptsMade && interval < TRetrySettings::LongestInterval; ++i)
        interval *= 2;
    return std::min(interval, TRetrySettings::LongestInterval);
}

bool RetryDue(const TRetrySettings& settings, int attemptsMade, std::optional<TTimePoint> lastAttempt,
              TTimePoint now) {
    if (attemptsMade >= settings.MaxAttempts)
        return false;
    if (attemptsMade <= 0 || !lastAttempt)
        return true;
    return now >= *lastAttempt + RetryInterval(settings, attemptsMade);
}

bool IsAbandoned(TTimePoint opened, TTimePoint now, const std::optional<std::chrono::minutes>& age,
                 std::optional<TTimePoint> cashupAt) {
    if (cashupAt && opened <= *cashupAt)
        return true;
    if (age)
        return now - opened >= *age;
    const std::tm a = LocalDay(opened);
    const std::tm b = LocalDay(now);
    return a.tm_year < b.tm_year || (a.tm_year == b.tm_year && a.tm_yday < b.tm_yday);
}

std::optional<TTimePoint> ParseTimestamp(const std::string& text) {
    std::tm tm{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char sep = ' ';
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &year, &month, &day, &sep, &hour, &minute,
                    &second) != 7 ||
        (sep != ' ' && sep != 'T'))
        return std::nullopt;
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return std::nullopt;
    return TClock::from_time_t(t);
}

const char* HeldKindText(THeldKind kind) {
    switch (kind) {
    case THeldKind::None:
        return "Nothing held";
    case THeldKind::FinaliseFailed:
        return "Failed to finalise";
    case THeldKind::CancelFailed:
        return "Failed to cancel";
    case THeldKind::OutcomeUnknown:
        return "Outcome unknown";
    case THeldKind::Abandoned:
        return "Abandoned sale";
    case THeldKind::InProgress:
        return "Sale in progress";
    case THeldKind::RefundOwed:
        return "Settled: refund the customer another way";
    case THeldKind::NotKept:
        return "Accepted, not counted";
    case THeldKind::AskProvider:
        return "Outcome unknown: ask Zumvo";
    }
    return "?";
}

namespace {

// What a row without an Amount holds, by its stored answer: the cents the provider processed for
// an accepted code not yet saved with its payment, or for a request without an answer the cents
// it asked for (the most the provider may hold).
double AmountInAnswer(const TJSONDocument& data) {
    for (const char* name : {"totalAmountProcessed", "TotalAmount"}) {
        const TJSONValue value = data[name];
        if (value.IsNumber())
            return value.AsFloat(0) / 100;
        if (value.IsString())
            if (const auto cents = ReadXsdInt(value.AsString("")))
                return *cents / 100.0; // else the amount asked, when the note has it
    }
    return 0;
}

// What the basket's accepted codes that were not given back settle as payment, in cents.
TCents AcceptedPayment(IZumvoTransaction& store, std::int32_t basketID) {
    std::string text;
    store.GetBasketDetailsForID(basketID, text);
    TCents cents = 0;
    try {
        const TJSONDocument basket = TJSONDocument::Parse(text);
        const TJSONValue rows = basket["Transactions"];
        for (int i = 0; i < rows._Count(); ++i) {
            const auto status = static_cast<TTransactionStatus>(rows[i]["Status"].AsInteger(0));
            if (status == TTransactionStatus::Redeemed || status == TTransactionStatus::FinaliseFailed ||
                status == TTransactionStatus::Finalised)
                cents += CentsOfDecimalText(rows[i]["Data"]["PaymentAmount"].AsString(""));
        }
    } catch (const std::exception&) {
        return -1; // unreadable: matches no invoice
    }
    return cents;
}

// The row's columns, as the report shows them; not yet judged.
THeldRow ReadColumns(const TJSONValue& row, const TRetrySettings& settings, TTimePoint now) {
    THeldRow r;
    r.ID = IntOr(row["ID"], 0);
    r.BasketID = IntOr(row["BasketID"], -1);
    r.InvoiceNum = IntOr(row["BasketInvoice"], IntOr(row["InvoiceNum"], -1));
    r.TillID = IntOr(row["BasketTillID"], -1);
    // A number that is not positive is none: such a row is given back by its reference.
    if (!row["tvTrxID"].IsNull() && row["tvTrxID"].AsInteger(0) > 0)
        r.TvTrxID = row["tvTrxID"].AsInteger();
    r.Amount = row["Amount"].IsNull() ? 0 : row["Amount"].AsFloat(0);
    r.ProviderStoreID = IntOr(row["ProviderStoreID"], -1);
    r.Created = Text(row["Timestamp_Created"]);
    r.Attempts = IntOr(row["AdviceAttempts"], 0);
    r.LastAttempt = Text(row["AdviceLastAttempt"]);
    r.LastError = Text(row["AdviceLastError"]);
    r.BudgetSpent = r.Attempts >= settings.MaxAttempts;
    // The request's note when the row has one (a request out or of unknown outcome), else the answer.
    r.Response = Text(row["RequestNote"]).empty() ? Text(row["Response"]) : Text(row["RequestNote"]);
    if (r.ProviderStoreID < 0) // no answer recorded: the store its request went to
        r.ProviderStoreID = NotedProviderStore(r.Response);
    try {
        if (!r.Response.empty()) {
            const TJSONDocument data = TJSONDocument::Parse(r.Response);
            if (data.IsObject() && data.Exists("Zumvo"))
                r.Code = data["Zumvo"].AsString("");
            if (data.IsObject() && data["TrxID"].IsString())
                r.Reference = data["TrxID"].AsString("");
            if (data.IsObject() && row["Amount"].IsNull())
                r.Amount = AmountInAnswer(data);
        }
    } catch (const std::exception&) {
        // A stored answer that is no JSON names no code; the row is listed all the same.
    }
    if (const auto created = ParseTimestamp(r.Created))
        r.AgeMinutes = std::chrono::duration_cast<std::chrono::minutes>(now - *created).count();
    return r;
}

// Whether the accepted codes of a sale that never reached an invoice are to be given back now.
THeldKind JudgeOpenSale(const TJSONValue& row, const THeldRow& r, std::optional<TTimePoint> created,
                        const TRetrySettings& settings, const TRetryRequest& request) {
    // A sale is idle since its latest code was asked for, not since it began: one whose cashier
    // is still taking codes is not abandoned, however long it has been open.
    auto opened = ParseTimestamp(Text(row["BasketCreated"]));
    for (const char* latest : {"BasketLastCode", "BasketLastPayment"})
        if (const auto last = ParseTimestamp(Text(row[latest])); last && (!opened || *last > *opened))
            opened = last;
    const bool cashup = request.Trigger == TRetryTrigger::Cashup && r.TillID == request.CashupTill;
    // A till (after a sale or at its cash-up) judges only its own earlier sales: another till's
    // basket may be the sale its cashier is ringing up now (a sale begun before midnight, say).
    // That till, or a person in the back office, gives it back.
    const std::int32_t self = request.Trigger == TRetryTrigger::Cashup ? request.CashupTill : request.Till;
    const bool otherTill = request.Trigger != TRetryTrigger::OnDemand && r.TillID != self;
    const TTimePoint idleSince = opened.value_or(created.value_or(request.Now));
    // A person in the back office judges every till's sales; by the trading day alone, a sale
    // that took a code minutes before midnight would be given back while its till may still be
    // ringing it up. Without a configured age, such a sale must also have been idle a while; with
    // one, at least as long as a sale may sit between its codes and its payment.
    const auto backOfficeIdle = settings.AbandonedAfter
                                    ? std::max<TClock::duration>(*settings.AbandonedAfter, OpenSaleWindow)
                                    : TClock::duration(OnDemandIdleAtLeast);
    const bool recentForBackOffice =
        request.Trigger == TRetryTrigger::OnDemand && request.Now - idleSince < backOfficeIdle;
    const bool abandoned = r.BasketID != request.CurrentBasket && !otherTill && !recentForBackOffice &&
                           IsAbandoned(idleSince, request.Now, settings.AbandonedAfter,
                                       cashup ? std::optional<TTimePoint>(request.Now) : std::nullopt);
    return abandoned ? THeldKind::Abandoned : THeldKind::InProgress;
}

} // namespace

THeldRow ReadHeldRow(const TJSONValue& row, const TRetrySettings& settings, const TRetryRequest& request) {
    THeldRow r = ReadColumns(row, settings, request.Now);
    const auto status = ToTransactionStatus(IntOr(row["Status"], 0));
    if (!status)
        return r; // a number that is no status: nothing to do
    r.Status = *status;
    const auto created = ParseTimestamp(r.Created);
    // The basket's invoice decides, not the row's: a database that took the rows' invoice
    // number but not the basket's leaves a sale the driver cash-up cannot find.
    r.BasketTied = r.BasketID == -1 || IntOr(row["BasketInvoice"], -1) != -1;
    const THeldFacts facts{IsOutcomeUnknown(r.Response), !r.BasketTied, IntOr(row["RefundOwed"], 0) != 0,
                           r.TvTrxID.has_value()};
    switch (HeldReason(r.Status, facts)) {
    case THeldReason::None:
        break;
    case THeldReason::AdviceFailed:
        r.Kind = r.Status == TTransactionStatus::FinaliseFailed ? THeldKind::FinaliseFailed
                                                                : THeldKind::CancelFailed;
        break;
    case THeldReason::Unanswered: {
        // A request still out (its till waits for the answer) is not another till's to reverse.
        r.InFlight = IsAwaitingAnswer(r.Response) && created && request.Now - *created < InFlightWindow;
        r.Kind = r.InFlight ? THeldKind::InProgress : THeldKind::OutcomeUnknown;
        break;
    }
    case THeldReason::NotKept:
        r.Kind = THeldKind::NotKept;
        break;
    case THeldReason::OpenSale:
        r.Kind = JudgeOpenSale(row, r, created, settings, request);
        break;
    case THeldReason::RefundOwed:
        r.Kind = THeldKind::RefundOwed;
        break;
    }
    // Without a provider number only a reversal by reference could give the money back; a
    // provider without it would answer "unknown transaction" for ever. A person asks instead.
    const bool reverseWithoutNumber = r.Kind == THeldKind::OutcomeUnknown ||
                                      (r.Kind == THeldKind::CancelFailed) || r.Kind == THeldKind::Abandoned;
    if (!settings.ReversalByReference && reverseWithoutNumber && !r.TvTrxID)
        r.Kind = THeldKind::AskProvider;
    return r;
}

TAdviceRetry::TAdviceRetry() {
    Guarded("TAdviceRetry.Create", [&] {
        pallux::IntfPtr<IZumvoInfo> info;
        pallux::IntfPtr<pallux::IINISettings> settings;
        if (GetSingletonService(info) && info)
            info->GetSettings(settings);
        if (settings)
            FSettings = TRetrySettings::Read(*settings);
    });
}

namespace {

// Where the retries after this till's sales are in the held-funds list: the last row one looked
// at. Unset until the first, which takes the row the store tried last.
std::optional<std::int32_t>& AfterSaleMark() {
    static std::optional<std::int32_t> mark;
    return mark;
}

} // namespace

void ForgetAfterSaleRotation() {
    AfterSaleMark().reset();
}

std::vector<THeldRow> TAdviceRetry::ReadHeld(const std::string& text, const TRetryRequest& request) const {
    std::vector<THeldRow> held;
    if (text.empty())
        return held;
    const TJSONDocument rows = TJSONDocument::Parse(text);
    for (int i = 0; i < rows._Count(); ++i) {
        THeldRow row = ReadHeldRow(rows[i], FSettings, request);
        if (row.Kind != THeldKind::None)
            held.push_back(std::move(row));
    }
    KeepSalesInFlight(held);
    return held;
}

std::vector<THeldRow> TAdviceRetry::HeldFunds(const TRetryRequest& request) const {
    std::vector<THeldRow> held;
    Guarded("TAdviceRetry.HeldFunds", [&] {
        pallux::IntfPtr<IZumvoTransaction> store;
        CreateService(store);
        auto& transactions = Use(store, "ZumvoTransaction");
        // At a cash-up and in the back office (not after every sale: it reads the host's invoices)
        // the codes of an overridden invoice whose marks the database refused are marked now: the
        // settled ones as a refund owed, the ones still held as to be given back.
        if (request.Trigger != TRetryTrigger::AfterSale) {
            if (const std::int32_t marked = transactions.MarkRefundsOwed(); marked > 0)
                LogInfo(
                    "[TAdviceRetry.HeldFunds] % settled code(s) of overridden invoices marked: refund owed",
                    marked);
            if (const std::int32_t moved = transactions.MarkPaidRedemptions(); moved > 0)
                LogInfo("[TAdviceRetry.HeldFunds] % held code(s) of invoices paid in full to be settled",
                        moved);
            if (const std::int32_t moved = transactions.ReopenWithdrawnRedemptions(); moved > 0)
                LogInfo("[TAdviceRetry.HeldFunds] % held code(s) of overridden invoices to be given back",
                        moved);
        }
        std::string text;
        transactions.GetHeldFunds(text);
        held = ReadHeld(text, request);
    });
    return held;
}

void KeepSalesInFlight(std::vector<THeldRow>& held) {
    // A request still out means its till is ringing the sale up: none of the sale's codes is
    // abandoned, however long ago the others were taken.
    std::set<std::int32_t> busy;
    for (const THeldRow& row : held)
        if (row.InFlight && row.BasketID != -1)
            busy.insert(row.BasketID);
    for (THeldRow& row : held)
        if (row.Kind == THeldKind::Abandoned && busy.count(row.BasketID) > 0)
            row.Kind = THeldKind::InProgress;
}

std::vector<THeldRow> TAdviceRetry::AfterSaleRows(const TRetryRequest& request) {
    std::vector<THeldRow> held;
    FWindowEnd.reset();
    Guarded("TAdviceRetry.AfterSaleRows", [&] {
        pallux::IntfPtr<IZumvoTransaction> store;
        CreateService(store);
        auto& transactions = Use(store, "ZumvoTransaction");
        std::optional<std::int32_t>& mark = AfterSaleMark();
        if (!mark)
            mark = transactions.LastHeldAttempt();
        const std::int32_t after = *mark;
        const int wanted = std::max(FSettings.AfterSaleRows, 1);
        std::string text;
        transactions.GetHeldFundsAfter(after, wanted, text);
        const TJSONDocument rows = TJSONDocument::Parse(text.empty() ? "[]" : text);
        const int found = rows._Count();
        // Past the newest row the list goes round again, from its oldest up to where it started.
        std::string again;
        if (found < wanted && after > 0)
            transactions.GetHeldFundsAfter(-1, wanted - found, again);
        held = ReadHeld(text, request);
        if (found > 0)
            FWindowEnd = rows[found - 1]["ID"].AsInteger();
        const TJSONDocument more = TJSONDocument::Parse(again.empty() ? "[]" : again);
        for (int i = 0; i < more._Count(); ++i)
            if (const std::int32_t id = more[i]["ID"].AsInteger(); id <= after)
                FWindowEnd = id;
        for (THeldRow& row : ReadHeld(again, request))
            if (row.ID <= after)
                held.push_back(std::move(row));
    });
    return held;
}

std::vector<THeldRow> TAdviceRetry::Candidates(const TRetryRequest& request) {
    return request.Trigger == TRetryTrigger::AfterSale ? AfterSaleRows(request) : HeldFunds(request);
}

bool TAdviceRetry::Due(const THeldRow& row, const TRetryRequest& request) const {
    if (row.Kind == THeldKind::InProgress || row.Kind == THeldKind::RefundOwed ||
        row.Kind == THeldKind::AskProvider)
        return false;
    if (request.Only && request.Only->count(row.ID) == 0)
        return false;
    const bool reverse = request.Trigger == TRetryTrigger::OnDemand && request.Reverse;
    if (row.Kind == THeldKind::FinaliseFailed && !row.BasketTied && !reverse)
        return false; // settled, it could not be found again by its invoice: tied first
    if (ReversedOnce(row.Response)) {
        const auto last = ParseTimestamp(row.LastAttempt);
        if (last && request.Now - *last < FSettings.LateRequestWindow)
            return false; // asked again only once a late request had the time to arrive
    }
    if (request.Trigger == TRetryTrigger::OnDemand)
        return true;
    if (row.BasketID == request.CurrentBasket && row.BasketID != -1)
        return false;
    return RetryDue(FSettings, row.Attempts, ParseTimestamp(row.LastAttempt), request.Now);
}

void TAdviceRetry::Count(bool confirmed, TRetryResult& result) {
    ++result.Attempted;
    ++(confirmed ? result.Confirmed : result.Failed);
}

void TAdviceRetry::SendAll(const std::vector<THeldRow>& held, const TRetryRequest& request,
                           const TRetryProgress& progress, TRetryResult& result) {
    std::vector<const THeldRow*> due;
    for (const THeldRow& row : held)
        if (Due(row, request))
            due.push_back(&row);
    const int total = static_cast<int>(due.size());
    const bool reverse = request.Trigger == TRetryTrigger::OnDemand && request.Reverse;
    for (int i = 0; i < total; ++i) {
        if (progress && !progress(i, total)) {
            result.Stopped = true;
            result.NotSent = total - i;
            return;
        }
        Count(Attempt(*due[static_cast<std::size_t>(i)], reverse), result);
    }
    if (progress)
        progress(total, total);
}

void TAdviceRetry::SendBounded(const std::vector<THeldRow>& held, const TRetryRequest& request,
                               TRetryResult& result) {
    const auto started = std::chrono::steady_clock::now();
    std::optional<std::int32_t> last; // the last row looked at: the next sale's retry goes on after it
    for (const THeldRow& row : held) {
        if (Due(row, request)) {
            const bool spent = result.Attempted >= FSettings.AfterSaleAdvices ||
                               (result.Attempted > 0 &&
                                std::chrono::steady_clock::now() - started >= FSettings.AfterSaleBudget);
            if (spent || result.NotSent > 0) {
                ++result.NotSent;
                continue;
            }
            Count(Attempt(row, false), result);
        }
        if (result.NotSent == 0)
            last = row.ID;
    }
    // Every row looked at: on after the window's last row, even one that needs nothing.
    if (result.NotSent == 0 && FWindowEnd)
        last = FWindowEnd;
    if (last)
        AfterSaleMark() = *last;
}

TRetryResult TAdviceRetry::Run(const TRetryRequest& request, const TRetryProgress& progress) {
    TRetryResult result;
    Guarded("TAdviceRetry.Run", [&] {
        if (request.Trigger == TRetryTrigger::AfterSale && FSettings.AfterSaleAdvices <= 0)
            return; // a sale sends none: the cash-up and the back office do
        std::vector<THeldRow> held = Candidates(request);
        if (ClaimStoredSales(held))
            held = Candidates(request);
        if (request.Trigger == TRetryTrigger::AfterSale)
            SendBounded(held, request, result);
        else
            SendAll(held, request, progress, result);
        if (result.Attempted > 0)
            LogInfo("[TAdviceRetry.Run] Attempted % advice(s): % confirmed, % failed", result.Attempted,
                    result.Confirmed, result.Failed);
        if (result.NotSent > 0)
            LogInfo("[TAdviceRetry.Run] % advice(s) due left for later (%)", result.NotSent,
                    result.Stopped ? "stopped" : "a sale's share sent");
    });
    return result;
}

bool TAdviceRetry::ClaimStoredSales(const std::vector<THeldRow>& held) {
    // A basket taken for abandoned may be a sale the host stored as an invoice while its till
    // stopped before tying the basket to it: its codes paid that invoice and are settled, never
    // given back. An invoice not yet paid in full (a driver's) waits for its cash-up. The invoice
    // must record as paid with Zumvo exactly what the basket's accepted codes settle: a till gives
    // the number of a sale that ended without an invoice to its next sale. An invoice the host no
    // longer stands by (overridden or voided) is not settled: its codes are given back. A sale
    // still judged in progress is claimed too: once the host stored its invoice it is over.
    // Basket -> whether its sale is still judged in progress: such a sale is claimed only once
    // its invoice is paid in full and stands (its till may be storing it right now).
    std::map<std::int32_t, bool> baskets;
    for (const THeldRow& row : held) {
        if (row.BasketTied)
            continue;
        if ((row.Kind == THeldKind::Abandoned && row.Status == TTransactionStatus::Redeemed) ||
            row.Kind == THeldKind::FinaliseFailed)
            baskets[row.BasketID] = false;
        else if (row.Kind == THeldKind::InProgress && row.Status == TTransactionStatus::Redeemed)
            baskets.emplace(row.BasketID, true);
    }
    bool claimed = false;
    pallux::IntfPtr<IZumvoTransaction> storeRef;
    CreateService(storeRef);
    auto& store = Use(storeRef, "ZumvoTransaction");
    for (const auto& [basket, stillOpen] : baskets) {
        const std::optional<TStoredSale> sale = store.FindStoredSaleInvoice(basket);
        if (!sale || sale->ZumvoPayment <= 0 || sale->ZumvoPayment != AcceptedPayment(store, basket) ||
            (stillOpen && (!sale->Paid || sale->Withdrawn)))
            continue;
        // Tied only once its codes are marked for what comes next; otherwise left as it was.
        if (sale->Withdrawn) {
            store.MoveBasketStatus(basket, TTransactionStatus::FinaliseFailed, TTransactionStatus::Redeemed);
            if (!store.MoveBasketStatus(basket, TTransactionStatus::Redeemed,
                                        TTransactionStatus::CancelFailed))
                continue;
        } else if (sale->Paid && !store.MoveBasketStatus(basket, TTransactionStatus::Redeemed,
                                                         TTransactionStatus::FinaliseFailed)) {
            continue;
        }
        if (!store.TieBasketToInvoice(basket, sale->InvoiceNum))
            continue;
        const char* next = sale->Withdrawn ? "its invoice is withdrawn: its codes are to be given back"
                           : sale->Paid    ? "its codes are to be settled"
                                           : "its codes wait for the invoice to be paid";
        LogInfo("[TAdviceRetry.Run] Basket % was stored as invoice %: %", basket, sale->InvoiceNum, next);
        store.AddLog("INFO", "Basket " + std::to_string(basket) + " found stored as invoice " +
                                 std::to_string(sale->InvoiceNum));
        claimed = true;
    }
    return claimed;
}

namespace {

const char* AdviceText(TAdvice advice) {
    return advice == TAdvice::Finalise ? "FINALISE" : "REVERSE";
}

// A client for the row's till, sending under the provider store the code was accepted under.
pallux::IntfPtr<IZumvoAPI> ClientFor(const THeldRow& row, IZumvoLogic& logic, IZumvoInfo& info) {
    pallux::IntfPtr<IZumvoAPI> client;
    if (row.TillID == -1)
        logic.ZumvoAPI(client);
    else
        logic.ZumvoAPIForTill(row.TillID, client);
    if (row.ProviderStoreID >= 0)
        Use(client, "ZumvoAPI")
            .SetStore(row.ProviderStoreID, PointOfSaleID(row.TillID == -1 ? info.GetTillID() : row.TillID));
    return client;
}

// An advice's answer, and whether a failed finalise that was to be given back proved settled.
struct TSent : TJudgement {
    bool SettledAfterAll = false;
};

// Sends the row's advice and judges its answer; errors are judged as unconfirmed.
TSent SendAdvice(const THeldRow& row, TAdvice advice, IZumvoLogic& logic,
                 const pallux::IntfPtr<IZumvoInfo>& infoRef) {
    // Without the provider's number a reversal names the request by its reference (tvTrxId 0).
    const std::int32_t tvTrxID = row.TvTrxID.value_or(0);
    TSent sent;
    try {
        if (advice == TAdvice::Finalise && !row.TvTrxID)
            throw std::runtime_error("No provider transaction number to finalise");
        auto& info = Use(infoRef, "ZumvoInfo");
        const pallux::IntfPtr<IZumvoAPI> client = ClientFor(row, logic, info);
        const std::int32_t storeID = info.GetStoreID();
        const auto send = [&](TAdvice what) {
            std::string reply;
            Use(client, "ZumvoAPI")
                .Advice(ProviderReference(storeID, row.BasketID), "-", ProviderReference(storeID, row.ID),
                        AdviceText(what), tvTrxID, "PAYMENT", reply);
            return JudgeAnswer(reply);
        };
        static_cast<TJudgement&>(sent) = send(advice);
        // A failed finalise that a person wants given back may have been settled after all: the
        // provider then refuses the reversal for good. A FINALISE again tells; confirmed, the money
        // stays settled and the customer is owed a refund by other means.
        if (!sent.Confirmed && advice == TAdvice::Reverse && row.Kind == THeldKind::FinaliseFailed &&
            row.TvTrxID && send(TAdvice::Finalise).Confirmed)
            sent = {{true, {}}, true};
    } catch (const std::exception& e) {
        sent = {{false, e.what()}, false};
    }
    return sent;
}

// Writes what a sent advice leaves: the row's status, the attempt, and the log lines. marked: the
// status the row was in when the advice went out (its mark).
void RecordAdvice(IZumvoTransaction& store, const THeldRow& row, TTransactionStatus marked, TAdvice advice,
                  const TJudgement& judged) {
    // Confirmed, the row leaves its mark; unconfirmed, it keeps it, which lists it (a request
    // without an answer becomes "failed to cancel" then).
    if (judged.Confirmed)
        store.ChangeStatus(row.ID, marked,
                           advice == TAdvice::Finalise ? TTransactionStatus::Finalised
                                                       : TTransactionStatus::Cancelled);
    else if (marked == TTransactionStatus::Started)
        store.ChangeStatus(row.ID, marked, UnconfirmedStatus(TAdvice::Reverse));
    store.RecordAdviceAttempt(row.ID, judged.Error);
    const std::string action = AdviceText(advice);
    const std::string outcome = judged.Confirmed ? std::string("confirmed") : judged.Error;
    LogInfo("[TAdviceRetry.Attempt] % transaction % (%, tvTrxID %, attempt %): %", action, row.ID,
            HeldKindText(row.Kind), row.TvTrxID.value_or(0), row.Attempts + 1, outcome);
    // Masked before it is cut to the column: a password cut in two would no longer be found.
    store.AddLog("INFO", Utf8Prefix(MaskedAsInLog("Advice retry " + action + " " + std::to_string(row.ID) +
                                                  ": " + outcome),
                                    LogMessageLimit));
}

} // namespace

bool TAdviceRetry::Attempt(const THeldRow& row, bool reverse) {
    pallux::IntfPtr<IZumvoTransaction> storeRef;
    pallux::IntfPtr<IZumvoLogic> logicRef;
    pallux::IntfPtr<IZumvoInfo> infoRef;
    CreateService(storeRef);
    CreateService(logicRef);
    GetSingletonService(infoRef);
    auto& store = Use(storeRef, "ZumvoTransaction");
    auto& logic = Use(logicRef, "ZumvoLogic");
    const TAdvice advice =
        row.Kind == THeldKind::FinaliseFailed && !reverse ? TAdvice::Finalise : TAdvice::Reverse;

    // A code that may still pay a sale (accepted, redeemed or not yet) is marked before its
    // REVERSE goes out, naming the status the list showed: a till that kept it meanwhile (or
    // another retry that took it) keeps it. A request without an answer pays nothing: its row
    // changes only when the REVERSE is answered.
    TTransactionStatus marked = row.Status;
    if (advice == TAdvice::Reverse && (row.Status == TTransactionStatus::Redeemed ||
                                       (row.Status == TTransactionStatus::Started && row.TvTrxID))) {
        marked = UnconfirmedStatus(TAdvice::Reverse);
        if (store.ChangeStatus(row.ID, row.Status, marked) != TStatusWrite::Changed) {
            LogInfo("[TAdviceRetry.Attempt] Transaction % changed meanwhile: left alone", row.ID);
            return false;
        }
    }
    const TSent judged = SendAdvice(row, advice, logic, infoRef);
    if (judged.SettledAfterAll) {
        store.ChangeStatus(row.ID, marked, TTransactionStatus::Finalised);
        store.MarkRefundOwed(row.ID);
        LogInfo("[TAdviceRetry.Attempt] Transaction % was settled: refund the customer another way", row.ID);
        store.RecordAdviceAttempt(row.ID, "Settled: refund the customer another way");
        return true;
    }
    if (judged.Confirmed && advice == TAdvice::Reverse && !row.TvTrxID && IsOutcomeUnknown(row.Response) &&
        !ReversedOnce(row.Response)) {
        // "Nothing to reverse" may only mean the request has not reached the provider yet: a
        // provider that carries it out later would hold money that nothing lists. The row stays
        // open and is asked once more after the retry interval before it is closed; so too when
        // an earlier reversal by reference went unanswered and left it "failed to cancel".
        store.SaveOutcomeUnknown(row.ID, WithReversedOnce(row.Response));
        store.RecordAdviceAttempt(row.ID, "Reversed by reference; checked once more before it is closed");
        LogInfo("[TAdviceRetry.Attempt] REVERSE transaction % by reference confirmed; checked again later",
                row.ID);
        return false;
    }
    RecordAdvice(store, row, marked, advice, judged);
    return judged.Confirmed;
}

void RetryAdvices(const TRetryRequest& request) {
    Guarded("TAdviceRetry.RetryAdvices", [&] { TAdviceRetry().Run(request); });
}

} // namespace zumvo
