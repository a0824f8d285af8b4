// BackOffice --held-funds: the module's held-funds list for scripts and tests, through the same
// menu entry ("Lists" / "Zumvo Held Funds"), access check and form a user would use, without a
// display. The list is printed as a table (tab-separated, a header line first) and the page's
// file is named.
//   --held-funds          list
//   --held-funds retry    press "Retry All" first (its confirmation answered Yes), then list;
//                         the advices sent are counted on err ("Advices sent: n of N") and
//                         Ctrl+C stops the retry (the list is printed all the same)
#pragma once

#include <iosfwd>
#include <string>

namespace refhost {

class TRefHost;

// Answers 0 with the list printed, 3 when access was refused, 1 when the form did not open.
int RunHeldFundsCommand(TRefHost& host, const std::string& action, std::ostream& out, std::ostream& err);

} // namespace refhost
