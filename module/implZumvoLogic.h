// TZumvoLogic: not available in this build yet; every operation logs that and returns its
// results as they stood.
#pragma once

#include "clsInterfacedObject.h"
#include "intfServiceFactory.h"
#include "intfZumvoLogic.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zumvo {

class TZumvoLogic : public pallux::TInterfacedObject<IZumvoLogic> {
public:
    using DefaultIntf = IZumvoLogic;
    std::int32_t ZumvoStoreID() override;
    void ZumvoAPI(pallux::IntfPtr<IZumvoAPI>&) override;
    void ZumvoAPIForTill(std::int32_t, pallux::IntfPtr<IZumvoAPI>&) override;
    std::int32_t ZumvoStoreIDForTill(std::int32_t) override;
    bool HandleFinaliseResponse(std::int32_t, const std::string&) override;
    bool HandleReverseResponse(std::int32_t, const std::string&) override;
};

class TZumvoLogicFactory : public pallux::TServiceFactory<TZumvoLogic, IZumvoLogic> {};

} // namespace zumvo
