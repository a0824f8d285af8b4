#include "implZumvoLogic.h"

#include "clsPlaceholder.h"

namespace zumvo {

std::int32_t TZumvoLogic::ZumvoStoreID() {
    NotAvailable("TZumvoLogic.ZumvoStoreID");
    return -1;
}

void TZumvoLogic::ZumvoAPI(pallux::IntfPtr<IZumvoAPI>&) {
    NotAvailable("TZumvoLogic.ZumvoAPI");
}

void TZumvoLogic::ZumvoAPIForTill(std::int32_t, pallux::IntfPtr<IZumvoAPI>&) {
    NotAvailable("TZumvoLogic.ZumvoAPIForTill");
}

std::int32_t TZumvoLogic::ZumvoStoreIDForTill(std::int32_t) {
    NotAvailable("TZumvoLogic.ZumvoStoreIDForTill");
    return -1;
}

bool TZumvoLogic::HandleFinaliseResponse(std::int32_t, const std::string&) {
    NotAvailable("TZumvoLogic.HandleFinaliseResponse");
    return false;
}

bool TZumvoLogic::HandleReverseResponse(std::int32_t, const std::string&) {
    NotAvailable("TZumvoLogic.HandleReverseResponse");
    return false;
}

} // namespace zumvo
