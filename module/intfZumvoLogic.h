// Provider decisions shared by several callers: store IDs, configured SOAP clients, and the
// judgement of finalise and reverse answers.
#pragma once

#include "intfBase.h"
#include "intfZumvoAPI.h"

#include <cstdint>
#include <string>

namespace zumvo {

class IZumvoLogic : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{E54CCCBA-1827-4B9A-9958-688322F63ABA}"};

    virtual std::int32_t ZumvoStoreID() = 0;
    virtual void ZumvoAPI(pallux::IntfPtr<IZumvoAPI>& client) = 0;
    virtual void ZumvoAPIForTill(std::int32_t tillID, pallux::IntfPtr<IZumvoAPI>& client) = 0;
    virtual std::int32_t ZumvoStoreIDForTill(std::int32_t tillID) = 0;
    virtual bool HandleFinaliseResponse(std::int32_t transactionID, const std::string& response) = 0;
    virtual bool HandleReverseResponse(std::int32_t transactionID, const std::string& response) = 0;
};

} // namespace zumvo
