#include "implZumvoAPI.h"

#include "clsPlaceholder.h"

namespace zumvo {

void TZumvoAPI::SetServer(const std::string&, const std::string&) {
    NotAvailable("TZumvoAPI.SetServer");
}

void TZumvoAPI::SetCredentials(const std::string&, const std::string&) {
    NotAvailable("TZumvoAPI.SetCredentials");
}

void TZumvoAPI::SetStore(std::int32_t, const std::string&) {
    NotAvailable("TZumvoAPI.SetStore");
}

void TZumvoAPI::Transaction(const std::string&, const std::string&, const std::string&, const std::string&,
                            const std::string&, std::int32_t, std::int32_t, const std::string&,
                            const std::string&, std::string& response) {
    NotAvailable("TZumvoAPI.Transaction");
    response.clear();
}

void TZumvoAPI::Advice(const std::string&, const std::string&, const std::string&, const std::string&,
                       std::int32_t, const std::string&, std::string& response) {
    NotAvailable("TZumvoAPI.Advice");
    response.clear();
}

} // namespace zumvo
