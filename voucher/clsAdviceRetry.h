// Store and forward for the provider's advices. A FINALISE or REVERSE that failed, a transaction
// request that got no readable answer and the codes of a sale that never reached an invoice
// leave money held at the provider; TAdviceRetry finds those rows, sends the advice again within
// a budget (a number of attempts, with an interval that doubles after each one) and records
// every attempt on the row. A row whose budget is spent stays listed for a person, who may
// retry or reverse it on demand.
#pragma once

#include "JsonDocument.h"
#include "clsTransactionStatus.h"
#include "intfINISettings.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zumvo {

using TClock = std::chrono::system_clock;
using TTimePoint = TClock::time_point;

// The module's settings for the retry, from its settings file.
struct TRetrySettings {
    int MaxAttempts = 10;                               // AdviceRetryAttempts
    std::chrono::seconds FirstInterval{300};            // AdviceRetryIntervalSeconds
    std::optional<std::chrono::minutes> AbandonedAfter; // AbandonedAfterMinutes; none: end of the trading day
    // LateRequestSeconds: how long after a confirmed reversal by reference the row is asked once
    // more, at the least (also on demand): a request carried out late must have had the time to
    // reach the provider.
    std::chrono::seconds LateRequestWindow{120};
    // ReversalByReference (1 or 0): whether the provider gives back a request named by its
    // references (a REVERSE with tvTrxId 0). Off, a row without a provider number is listed for a
    // person with what to ask the provider, never sent as such a REVERSE.
    bool ReversalByReference = true;
    static constexpr std::chrono::seconds LongestInterval{24 * 60 * 60};
    // After a sale the cashier waits for the retry, so it does a bounded share of the list: it
    // looks at AfterSaleRows rows from where the previous sale's retry stopped (oldest first,
    // round again after the newest), sends at most AfterSaleAdvices of them and starts none once
    // AfterSaleBudget has passed (the first always goes). The rest waits for the next sales,
    // the cash-up and the back office, however long the list.
    int AfterSaleRows = 32;
    int AfterSaleAdvices = 3; // AdviceRetryAfterSale; 0: none after a sale
    std::chrono::milliseconds AfterSaleBudget{300};

    // Missing, empty or invalid keys keep the defaults (an invalid one is logged).
    static TRetrySettings Read(pallux::IINISettings& settings);
};

// How long after attempt number `attemptsMade` (1 = the first retry) the next one is due: the
// first interval, doubled after every further attempt, at most a day.
std::chrono::seconds RetryInterval(const TRetrySettings& settings, int attemptsMade);

// Whether an automatic attempt is due now: never once the budget is spent; at once when none
// was made yet; else after the interval since the last attempt.
bool RetryDue(const TRetrySettings& settings, int attemptsMade, std::optional<TTimePoint> lastAttempt,
              TTimePoint now);

// Whether a basket opened at `opened` that never reached an invoice is abandoned: after the
// configured age, or (without one) once its trading day is over (a later calendar day, local
// time); a cash-up on the basket's till after it was opened ends its day too.
bool IsAbandoned(TTimePoint opened, TTimePoint now, const std::optional<std::chrono::minutes>& age,
                 std::optional<TTimePoint> cashupAt);

// A database time stamp ("2026-12-07 10:38:06", optionally with fractions or a 'T'), local time.
std::optional<TTimePoint> ParseTimestamp(const std::string& text);

// Why a row may hold money.
enum class THeldKind {
    None,           // nothing to do
    FinaliseFailed, // -2: FINALISE again
    CancelFailed,   // -3: REVERSE again
    OutcomeUnknown, // request without a readable answer: REVERSE by reference
    Abandoned,      // accepted codes of a sale that never reached an invoice: REVERSE
    InProgress,     // accepted codes of a sale that may still be rung up, or a request still out:
                    // nothing yet
    RefundOwed,     // settled codes of an overridden invoice: a person refunds the customer
    NotKept,        // a code accepted but never counted, of a sale that is over: REVERSE
    AskProvider     // no provider number and no reversal by reference: a person asks the provider
                    // about the request (code, reference, time, amount)
};
const char* HeldKindText(THeldKind kind);

// What a retry is run for.
enum class TRetryTrigger {
    AfterSale, // a sale was completed on this till (its own basket is left alone)
    Cashup,    // a cash-up on CashupTill: that till's open baskets are abandoned
    OnDemand   // a person asked: budget and interval do not apply
};

struct TRetryRequest {
    TRetryTrigger Trigger = TRetryTrigger::AfterSale;
    std::int32_t CurrentBasket = -1;            // the basket of the sale on this till: never touched
    std::int32_t Till = -1;                     // AfterSale: this till (at a cash-up: CashupTill)
    std::int32_t CashupTill = -1;               // Cashup only
    std::optional<std::set<std::int32_t>> Only; // OnDemand: these rows only
    bool Reverse = false;                       // OnDemand: give the money back, even of a failed finalise
    TTimePoint Now = TClock::now();
};

// One row that may hold money, as the report shows it.
struct THeldRow {
    std::int32_t ID = 0;
    std::int32_t BasketID = -1;
    std::int32_t InvoiceNum = -1; // -1: none
    std::int32_t TillID = -1;
    std::string Code;
    std::string Reference; // the request's trxId as its note names it ("12-34"); empty when none
    std::optional<std::int32_t> TvTrxID;
    double Amount = 0;
    TTransactionStatus Status = TTransactionStatus::Started;
    std::int32_t ProviderStoreID = -1; // the store the code was accepted under; -1: not recorded
    std::string Response;              // the stored answer or request note
    std::string Created;
    std::int64_t AgeMinutes = 0;
    int Attempts = 0;
    std::string LastAttempt;
    std::string LastError;
    THeldKind Kind = THeldKind::None;
    bool BudgetSpent = false;
    bool InFlight = false;   // a request still out: its whole sale is its till's
    bool BasketTied = false; // its basket is tied to an invoice (one without a basket counts as tied)
};

// How long a request may be out before another till's retry takes it for unanswered.
inline constexpr std::chrono::minutes InFlightWindow{5};
// Without AbandonedAfterMinutes, how long a sale must have been idle (besides its trading day
// being over) before a person's retry in the back office may judge it abandoned.
inline constexpr std::chrono::minutes OnDemandIdleAtLeast{60};
// With AbandonedAfterMinutes, the least idle time before the back office judges a sale abandoned:
// a sale whose codes were added minutes ago may still be paying on its till.
inline constexpr std::chrono::minutes OpenSaleWindow{5};

// Classifies one row of the store's held-funds list (IZumvoTransaction::GetHeldFunds).
THeldRow ReadHeldRow(const TJSONValue& row, const TRetrySettings& settings, const TRetryRequest& request);

// Judges every code of a sale with a request still out as in progress: its till is still on it.
void KeepSalesInFlight(std::vector<THeldRow>& held);

struct TRetryResult {
    int Attempted = 0;
    int Confirmed = 0;
    int Failed = 0;
    int NotSent = 0;      // due but not sent: the run was stopped, or (after a sale) its bound was met
    bool Stopped = false; // the progress callback asked to stop
};

// Told before each advice of a run how many were sent and how many the run means to send, and
// once more at the end (sent == total); answering false stops the run: no further advice starts.
using TRetryProgress = std::function<bool(int sent, int total)>;

class TAdviceRetry {
public:
    // Reads the settings through the module's identity (defaults when they cannot be read).
    TAdviceRetry();
    explicit TAdviceRetry(TRetrySettings settings) : FSettings(settings) {}

    // Every row that may hold money, with what would be done about it.
    std::vector<THeldRow> HeldFunds(const TRetryRequest& request) const;
    // Sends the advices that are due (all of the chosen rows on demand; after a sale, a bounded
    // share: see TRetrySettings::AfterSaleRows); logs and records each attempt. Never raises:
    // errors are logged. The progress callback is told of every advice, except after a sale.
    TRetryResult Run(const TRetryRequest& request, const TRetryProgress& progress = {});

    const TRetrySettings& Settings() const { return FSettings; }

private:
    TRetrySettings FSettings;
    std::vector<THeldRow> ReadHeld(const std::string& text, const TRetryRequest& request) const;
    // After a sale: the rows of the list from where the previous sale's retry stopped, and in
    // FWindowEnd the last of them read (also one judged to need nothing).
    std::vector<THeldRow> AfterSaleRows(const TRetryRequest& request);
    std::optional<std::int32_t> FWindowEnd;
    std::vector<THeldRow> Candidates(const TRetryRequest& request);
    // Whether the request sends the row's advice now.
    bool Due(const THeldRow& row, const TRetryRequest& request) const;
    void SendAll(const std::vector<THeldRow>& held, const TRetryRequest& request,
                 const TRetryProgress& progress, TRetryResult& result);
    void SendBounded(const std::vector<THeldRow>& held, const TRetryRequest& request, TRetryResult& result);
    void Count(bool confirmed, TRetryResult& result);
    bool Attempt(const THeldRow& row, bool reverse);
    // Ties the abandoned-looking baskets that the host stored as invoices to them; true if any.
    bool ClaimStoredSales(const std::vector<THeldRow>& held);
};

// Makes the next retry after a sale start where the store says the last advice was attempted,
// as it does after a restart of the till (the process keeps its place in the list otherwise).
void ForgetAfterSaleRotation();

// The retry for the hooks of the till (after a sale, at cash-up): logged, never raised.
void RetryAdvices(const TRetryRequest& request);

} // namespace zumvo
