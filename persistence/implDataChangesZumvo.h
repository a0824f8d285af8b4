// TDatabaseChangesZumvo: not available in this build yet; every operation logs that and returns its
// results as they stood.
#pragma once

#include "clsInterfacedObject.h"
#include "intfDatabaseChanges.h"
#include "intfServiceFactory.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zumvo {

class TDatabaseChangesZumvo : public pallux::TInterfacedObject<pallux::IDatabaseChanges> {
public:
    using DefaultIntf = pallux::IDatabaseChanges;
    void PALLUX_CALL GetUpdateScripts(std::vector<std::string>&) override;
};

class TDatabaseChangesZumvoFactory
    : public pallux::TServiceFactory<TDatabaseChangesZumvo, pallux::IDatabaseChanges> {};

} // namespace zumvo
