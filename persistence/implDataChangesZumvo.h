// TDatabaseChangesZumvo: the module's schema scripts for the host's database upgrade. The host
// runs every script it receives as one batch, in order; each script tests the catalogue first,
// so the whole list may run again on a database of any age.
#pragma once

#include "clsInterfacedObject.h"
#include "intfDatabaseChanges.h"
#include "intfServiceFactory.h"

#include <string>
#include <vector>

namespace zumvo {

class TDatabaseChangesZumvo : public pallux::TInterfacedObject<pallux::IDatabaseChanges> {
public:
    // Appends the create scripts of the three tables and upgrades 1 to 4, registers the
    // module's access codes, and has the till brand settings create the brand tables.
    void PALLUX_CALL GetUpdateScripts(std::vector<std::string>& scripts) override;
};

class TDatabaseChangesZumvoFactory
    : public pallux::TServiceFactory<TDatabaseChangesZumvo, pallux::IDatabaseChanges> {};

} // namespace zumvo
