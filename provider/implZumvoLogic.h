// TZumvoLogic: the provider decisions several callers share: which provider store a till uses,
// a SOAP client configured for a till, and the judgement (and recording) of the provider's
// answers to finalise and reverse advices.
#pragma once

#include "clsInterfacedObject.h"
#include "intfServiceFactory.h"
#include "intfZumvoInfo.h"
#include "intfZumvoLogic.h"
#include "intfZumvoTransaction.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zumvo {

class TZumvoLogic : public pallux::TInterfacedObject<IZumvoLogic> {
public:
    TZumvoLogic();

    std::int32_t ZumvoStoreID() override;
    void ZumvoAPI(pallux::IntfPtr<IZumvoAPI>& client) override;
    void ZumvoAPIForTill(std::int32_t tillID, pallux::IntfPtr<IZumvoAPI>& client) override;
    std::int32_t ZumvoStoreIDForTill(std::int32_t tillID) override;
    // True when the provider accepted the finalise; a refused or missing answer sets status -2.
    bool HandleFinaliseResponse(std::int32_t transactionID, const std::string& response) override;
    // True when the provider accepted the reverse (status -1); otherwise status -3.
    bool HandleReverseResponse(std::int32_t transactionID, const std::string& response) override;

private:
    pallux::IntfPtr<IZumvoInfo> FInfo;
    pallux::IntfPtr<IZumvoTransaction> FTransaction;

    // The store ID rule for the given till number (no translation of -1).
    void StoreIDForTill(std::int32_t tillID, std::int32_t& result);
    // A new client from the container configured from the settings for the till; the store is
    // computed by storeID after the credentials are set.
    template <class StoreFn>
    void ConfigureClient(std::int32_t tillID, StoreFn&& storeID, pallux::IntfPtr<IZumvoAPI>& client);
    // Reads an advice answer; false (and status failedStatus) unless its code is -1. On -1 the
    // status acceptedStatus is written when there is one.
    bool JudgeAdvice(std::string_view classMethod, std::string_view noAnswerText, std::int32_t transactionID,
                     const std::string& response, std::optional<TTransactionStatus> acceptedStatus,
                     TTransactionStatus failedStatus);
};

class TZumvoLogicFactory : public pallux::TServiceFactory<TZumvoLogic, IZumvoLogic> {};

} // namespace zumvo
