// The held-funds page without its window: every transaction that may still hold a customer's
// money at the provider, with what the advice retry knows of it.
#pragma once

#include "clsAdviceRetry.h"

#include <string>
#include <vector>

namespace zumvo {

// The column captions of the page, in order.
extern const char* const HeldFundsColumns[13];

// The cells of one row, as the page and the headless listing show them (unescaped).
std::vector<std::string> HeldFundsCells(const THeldRow& row);

// What the row needs: the advice the retry sends, or that a person must look at it.
std::string HeldFundsAction(const THeldRow& row);

// The page: a table of the rows, every value escaped; "No transaction holds funds." without rows.
// resFolderURL is the base the host's style sheet is found under.
std::string BuildHeldFundsPage(const std::vector<THeldRow>& rows, const std::string& resFolderURL);

} // namespace zumvo
