// The host's own tables: invoices, tills, shift postings, invoice payments, discounts and access
// codes. The module reads them; the reference host writes them.
#pragma once

#include "TDatabase.h"

namespace refhost {

// Creates every host table that does not exist yet (an existing database keeps its tables and
// rows). demoData adds, to tables that are still empty, the tills of one store: TILLID 1, 2
// and 3 on the computers TILL-1, TILL-2 and TILL-3.
void CreateHostTables(TDatabase& database, bool demoData);

} // namespace refhost
