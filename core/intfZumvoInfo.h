// Store and till identity, and the module's handle on its settings file.
#pragma once

#include "intfBase.h"
#include "intfINISettings.h"

#include <cstdint>

namespace zumvo {

class IZumvoInfo : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{C477BCB1-F216-4D90-8C9F-55FD6416FD37}"};

    // The current till's provider store ID as computed at construction; 0 when construction
    // failed before it, -1 when ZumvoStoreID could not be read.
    virtual std::int32_t GetProviderStoreID() = 0;
    // The host's till number read at construction; 0 when it could not be read.
    virtual std::int32_t GetTillID() = 0;
    // The host's store number read at construction; 0 when it could not be read.
    virtual std::int32_t GetStoreID() = 0;
    // The settings object opened on the module's settings file (the same object every time);
    // empty when the host supplied none.
    virtual void GetSettings(pallux::IntfPtr<pallux::IINISettings>& settings) = 0;
    // The provider store ID of a till (-1: the current till), from the settings file and the
    // database as they are now; -1 when ZumvoStoreID cannot be read. Logs errors, never raises.
    virtual std::int32_t CalcZumvoStoreID(std::int32_t tillID) = 0;
};

} // namespace zumvo
