// The host's store and till identity services.
#pragma once

#include "intfBase.h"

#include <cstdint>

namespace pallux {

class IStoreIdentity : public IInterface {
public:
    static constexpr TGUID IID{"{B08B90E1-F67B-4465-B10F-91B2EF47C8A8}"};
    virtual std::int32_t PALLUX_CALL GetHostStoreID() = 0;
};

class ITillIdentity : public IInterface {
public:
    static constexpr TGUID IID{"{CB354AE0-74E0-44BE-9C38-CCD60F72CD91}"};
    virtual std::int32_t PALLUX_CALL GetHostTillID() = 0;
};

} // namespace pallux
