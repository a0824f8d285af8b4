// The host's database upgrade extension point.
#pragma once

#include "intfBase.h"

#include <string>
#include <vector>

namespace pallux {

class IDatabaseChanges : public IInterface {
public:
    static constexpr TGUID IID{"{46A625EC-9BF5-42C0-AC4F-9E6719539020}"};

    // Appends one T-SQL batch per script; the host runs each as its own batch, in list order.
    virtual void PALLUX_CALL GetUpdateScripts(std::vector<std::string>& scripts) = 0;
};

} // namespace pallux
