#include "implZumvoLogic.h"
#include "clsPointOfSale.h"

#include "SimpleXMLtoJSON.h"
#include "ZumvoLog.h"
#include "clsModuleContainer.h"
#include "implZumvoAPI.h"
#include "implZumvoInfo.h"

namespace zumvo {

TZumvoLogic::TZumvoLogic() {
    Guarded("TZumvoLogic.Create", [&] {
        GetSingletonService(FInfo);
        CreateService(FTransaction);
    });
}

void TZumvoLogic::StoreIDForTill(std::int32_t tillID, std::int32_t& result) {
    pallux::IntfPtr<pallux::IINISettings> settings;
    Use(FInfo, "ZumvoInfo").GetSettings(settings);
    CalcProviderStoreID(Use(settings, "INISettings"), tillID, result);
}

std::int32_t TZumvoLogic::ZumvoStoreID() {
    std::int32_t result = -1;
    Guarded("TZumvoLogic.ZumvoStoreID", [&] { StoreIDForTill(Use(FInfo, "ZumvoInfo").GetTillID(), result); });
    return result;
}

std::int32_t TZumvoLogic::ZumvoStoreIDForTill(std::int32_t tillID) {
    std::int32_t result = -1;
    Guarded("TZumvoLogic.ZumvoStoreIDForTill", [&] { StoreIDForTill(tillID, result); });
    return result;
}

template <class StoreFn>
void TZumvoLogic::ConfigureClient(std::int32_t tillID, StoreFn&& storeID,
                                  pallux::IntfPtr<IZumvoAPI>& client) {
    pallux::IntfPtr<pallux::IINISettings> settingsRef;
    Use(FInfo, "ZumvoInfo").GetSettings(settingsRef);
    CreateService(client);
    auto& settings = Use(settingsRef, "INISettings");
    auto& api = Use(client, "ZumvoAPI");

    const std::string url = settings.ReadString("SOAPUrl", "Default");
    const std::string server = settings.ReadString("SOAPServer", "Default");
    api.SetServer(server, url);

    const std::string password = settings.ReadString("SOAPPWD", "Default");
    const std::string id = settings.ReadString("SOAPID", "Default");
    api.SetCredentials(id, password);

    const std::string posID = PointOfSaleID(tillID);
    api.SetStore(storeID(), posID);
}

void TZumvoLogic::ZumvoAPI(pallux::IntfPtr<IZumvoAPI>& client) {
    Guarded("TZumvoLogic.ZumvoAPI", [&] {
        ConfigureClient(
            Use(FInfo, "ZumvoInfo").GetTillID(), [&] { return ZumvoStoreID(); }, client);
    });
}

void TZumvoLogic::ZumvoAPIForTill(std::int32_t tillID, pallux::IntfPtr<IZumvoAPI>& client) {
    Guarded("TZumvoLogic.ZumvoAPIForTill", [&] {
        ConfigureClient(
            tillID, [&] { return ZumvoStoreIDForTill(tillID); }, client);
    });
}

bool TZumvoLogic::JudgeAdvice(std::string_view classMethod, std::string_view noAnswerText,
                              std::int32_t transactionID, const std::string& response,
                              std::optional<TTransactionStatus> acceptedStatus,
                              TTransactionStatus failedStatus) {
    bool result = false;
    const std::string prefix = "[" + std::string(classMethod) + "]";
    Guarded(classMethod, [&] {
        if (response.empty()) {
            LogInfo(prefix + std::string(noAnswerText), transactionID);
            Use(FTransaction, "ZumvoTransaction").SetStatus(transactionID, failedStatus);
            return;
        }
        const TJSONDocument answer = ReadSoapAnswer(response, "adviseResponse");
        // An answer without a code is a refusal too (an empty code reads 99999), and the failure
        // status is written before anything else is read: a refused advice must never stay
        // recorded as redeemed because its answer lacks a member.
        const std::string codeText = answer["responseCode"].AsString("");
        const std::int32_t code = ParseResponseCode(codeText);
        result = code == AcceptedCode;
        if (result) {
            if (acceptedStatus)
                Use(FTransaction, "ZumvoTransaction").SetStatus(transactionID, *acceptedStatus);
            return;
        }
        Use(FTransaction, "ZumvoTransaction").SetStatus(transactionID, failedStatus);
        LogInfo(prefix + " %: Invalid Finalise Response : % %", transactionID, codeText,
                answer["responseDesc"].AsString(""));
    });
    return result;
}

bool TZumvoLogic::HandleFinaliseResponse(std::int32_t transactionID, const std::string& response) {
    // An accepted finalise writes no status here: the caller records the settlement.
    return JudgeAdvice("TZumvoLogic.HandleFinaliseResponse", " %: Did not receive response from server",
                       transactionID, response, std::nullopt, UnconfirmedStatus(TAdvice::Finalise));
}

bool TZumvoLogic::HandleReverseResponse(std::int32_t transactionID, const std::string& response) {
    return JudgeAdvice("TZumvoLogic.HandleReverseResponse", "  %: Did not receive response from server",
                       transactionID, response, TTransactionStatus::Cancelled,
                       UnconfirmedStatus(TAdvice::Reverse));
}

} // namespace zumvo
