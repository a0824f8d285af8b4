#include "implDataChangesZumvo.h"

#include "clsPlaceholder.h"

namespace zumvo {

void PALLUX_CALL TDatabaseChangesZumvo::GetUpdateScripts(std::vector<std::string>&) {
    NotAvailable("TDatabaseChangesZumvo.GetUpdateScripts");
}

} // namespace zumvo
