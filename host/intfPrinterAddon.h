// The host's receipt printing add-on extension point.
#pragma once

#include "intfBase.h"

#include <string>

namespace pallux {

class IPrinterAddon : public IInterface {
public:
    static constexpr TGUID IID{"{98B1C2E1-13C4-4EA2-BAB7-AE40ECD8443C}"};

    // Prepares the add-on's text for the invoice (JSON).
    virtual void PALLUX_CALL Initialise(const std::string& invoice) = 0;
    // Texts for the receipt's four add-on places; false when the add-on has none there.
    virtual bool PALLUX_CALL GetAddonText1(std::string& text) = 0;
    virtual bool PALLUX_CALL GetAddonText2(std::string& text) = 0;
    virtual bool PALLUX_CALL GetAddonText3(std::string& text) = 0;
    virtual bool PALLUX_CALL GetAddonText4(std::string& text) = 0;
};

} // namespace pallux
