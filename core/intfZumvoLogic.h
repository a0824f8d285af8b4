// Provider decisions shared by several callers: store IDs, configured SOAP clients, and the
// judgement of finalise and reverse answers. No operation raises: each logs its errors as
// "[TZumvoLogic.<operation>] Error : ..." and answers as stated.
#pragma once

#include "intfBase.h"
#include "intfZumvoAPI.h"

#include <cstdint>
#include <string>

namespace zumvo {

class IZumvoLogic : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{E54CCCBA-1827-4B9A-9958-688322F63ABA}"};

    // The provider store ID of the current till, from the settings file as it is now (brand link,
    // else ZumvoStoreID); -1 when even ZumvoStoreID cannot be read.
    virtual std::int32_t ZumvoStoreID() = 0;
    // A new SOAP client configured for the current till; on failure client holds what could be
    // made (empty, or a client not fully configured).
    virtual void ZumvoAPI(pallux::IntfPtr<IZumvoAPI>& client) = 0;
    // The same for the given till number.
    virtual void ZumvoAPIForTill(std::int32_t tillID, pallux::IntfPtr<IZumvoAPI>& client) = 0;
    // The provider store ID of the given till number (-1 is not the current till here).
    virtual std::int32_t ZumvoStoreIDForTill(std::int32_t tillID) = 0;
    // True when the provider accepted the finalise advice (no status written then). Otherwise
    // false, and a refusal or an empty answer writes FinaliseFailed; an unreadable answer writes
    // nothing.
    virtual bool HandleFinaliseResponse(std::int32_t transactionID, const std::string& response) = 0;
    // True when the provider accepted the reverse advice, which writes Cancelled. Otherwise false,
    // and a refusal or an empty answer writes CancelFailed; an unreadable answer writes nothing.
    virtual bool HandleReverseResponse(std::int32_t transactionID, const std::string& response) = 0;
};

} // namespace zumvo
