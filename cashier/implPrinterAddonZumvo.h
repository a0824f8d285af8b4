// TPrinterAddonZumvo: not available in this build yet; every operation logs that and returns its
// results as they stood.
#pragma once

#include "clsInterfacedObject.h"
#include "intfPrinterAddon.h"
#include "intfServiceFactory.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zumvo {

class TPrinterAddonZumvo : public pallux::TInterfacedObject<pallux::IPrinterAddon> {
public:
    void PALLUX_CALL Initialise(const std::string&) override;
    bool PALLUX_CALL GetAddonText1(std::string& text) override;
    bool PALLUX_CALL GetAddonText2(std::string& text) override;
    bool PALLUX_CALL GetAddonText3(std::string& text) override;
    bool PALLUX_CALL GetAddonText4(std::string& text) override;
};

class TPrinterAddonZumvoFactory : public pallux::TServiceFactory<TPrinterAddonZumvo, pallux::IPrinterAddon> {
};

} // namespace zumvo
