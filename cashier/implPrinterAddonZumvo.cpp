#include "implPrinterAddonZumvo.h"

#include "clsPlaceholder.h"

namespace zumvo {

void PALLUX_CALL TPrinterAddonZumvo::Initialise(const std::string&) {
    NotAvailable("TPrinterAddonZumvo.Initialise");
}

bool PALLUX_CALL TPrinterAddonZumvo::GetAddonText1(std::string& text) {
    NotAvailable("TPrinterAddonZumvo.GetAddonText1");
    text.clear();
    return false;
}

bool PALLUX_CALL TPrinterAddonZumvo::GetAddonText2(std::string& text) {
    NotAvailable("TPrinterAddonZumvo.GetAddonText2");
    text.clear();
    return false;
}

bool PALLUX_CALL TPrinterAddonZumvo::GetAddonText3(std::string& text) {
    NotAvailable("TPrinterAddonZumvo.GetAddonText3");
    text.clear();
    return false;
}

bool PALLUX_CALL TPrinterAddonZumvo::GetAddonText4(std::string& text) {
    NotAvailable("TPrinterAddonZumvo.GetAddonText4");
    text.clear();
    return false;
}

} // namespace zumvo
