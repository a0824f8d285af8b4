// Store and till identity, and the module's handle on its settings file.
#pragma once

#include "intfBase.h"
#include "intfINISettings.h"

#include <cstdint>

namespace zumvo {

class IZumvoInfo : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{C477BCB1-F216-4D90-8C9F-55FD6416FD37}"};

    virtual std::int32_t GetProviderStoreID() = 0;
    virtual std::int32_t GetTillID() = 0;
    virtual std::int32_t GetStoreID() = 0;
    virtual void GetSettings(pallux::IntfPtr<pallux::IINISettings>& settings) = 0;
    // The provider store ID of a till; -1 means the current till.
    virtual std::int32_t CalcZumvoStoreID(std::int32_t tillID) = 0;
};

} // namespace zumvo
