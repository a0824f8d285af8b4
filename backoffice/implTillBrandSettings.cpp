#include "implTillBrandSettings.h"

#include "clsPlaceholder.h"

namespace zumvo {

void TTillBrandSettings::Refresh() {
    NotAvailable("TTillBrandSettings.Refresh");
}

void TTillBrandSettings::GetTillsList() {
    NotAvailable("TTillBrandSettings.GetTillsList");
}

void TTillBrandSettings::DatabaseChanges() {
    NotAvailable("TTillBrandSettings.DatabaseChanges");
}

void TTillBrandSettings::LinkBrandToTill(std::int32_t, std::int32_t) {
    NotAvailable("TTillBrandSettings.LinkBrandToTill");
}

void TTillBrandSettings::GetBrandForTill(std::int32_t, std::string&) {
    NotAvailable("TTillBrandSettings.GetBrandForTill");
}

void TTillBrandSettings::BrandListJSON(std::string&) {
    NotAvailable("TTillBrandSettings.BrandListJSON");
}

void TTillBrandSettings::TillsListJSON(std::string&) {
    NotAvailable("TTillBrandSettings.TillsListJSON");
}

} // namespace zumvo
