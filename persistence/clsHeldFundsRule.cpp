#include "clsHeldFundsRule.h"

#include "clsOutcomeUnknown.h"
#include "clsSysUtils.h"

#include <algorithm>
#include <vector>

namespace zumvo {

namespace {

// One reason a row may hold money: the statuses it applies to and the fact it asks for besides.
struct THeldClause {
    THeldReason Reason;
    std::vector<TTransactionStatus> Statuses;
};

// The rule, in the order the reasons are judged.
const std::vector<THeldClause>& Clauses() {
    using enum TTransactionStatus;
    static const std::vector<THeldClause> clauses{
        {THeldReason::AdviceFailed, {FinaliseFailed, CancelFailed}},
        {THeldReason::Unanswered, {Started}},
        {THeldReason::OpenSale, {Started, Redeemed}},
        {THeldReason::RefundOwed, {Finalised}},
        {THeldReason::NotKept, {Started}},
    };
    return clauses;
}

bool FactHolds(THeldReason reason, const THeldFacts& facts) {
    switch (reason) {
    case THeldReason::Unanswered:
        return facts.OutcomeUnknown;
    case THeldReason::OpenSale:
        return facts.OpenBasket;
    case THeldReason::RefundOwed:
        return facts.RefundOwed;
    case THeldReason::NotKept:
        return facts.ProviderNumber;
    default:
        return true;
    }
}

// The fact as SQL; empty when the status alone decides.
std::string FactCondition(THeldReason reason) {
    switch (reason) {
    case THeldReason::Unanswered:
        return "T.[RequestNote] LIKE " + pallux::QuotedStr(OutcomeUnknownPattern());
    case THeldReason::OpenSale:
        return "T.[BasketID] IS NOT NULL AND B.[InvoiceNum] IS NULL";
    case THeldReason::RefundOwed:
        return "T.[RefundOwed] = 1";
    case THeldReason::NotKept:
        return "T.[tvTrxID] IS NOT NULL";
    default:
        return {};
    }
}

std::string StatusCondition(const std::vector<TTransactionStatus>& statuses) {
    if (statuses.size() == 1)
        return "T.[Status] = " + std::to_string(ToInt(statuses.front()));
    std::string list;
    for (const TTransactionStatus status : statuses)
        list += (list.empty() ? "" : ", ") + std::to_string(ToInt(status));
    return "T.[Status] IN ( " + list + " )";
}

} // namespace

THeldReason HeldReason(TTransactionStatus status, const THeldFacts& facts) {
    for (const THeldClause& clause : Clauses())
        if (std::ranges::find(clause.Statuses, status) != clause.Statuses.end() &&
            FactHolds(clause.Reason, facts))
            return clause.Reason;
    return THeldReason::None;
}

std::string HeldFundsCondition() {
    std::string condition;
    for (const THeldClause& clause : Clauses()) {
        const std::string fact = FactCondition(clause.Reason);
        const std::string status = StatusCondition(clause.Statuses);
        condition += (condition.empty() ? "" : " OR ") +
                     (fact.empty() ? status : "( " + status + " AND " + fact + " )");
    }
    return condition;
}

} // namespace zumvo
