// The store's brands and the link of each till to a brand.
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <string>

namespace zumvo {

class ITillBrandSettings : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{3BCB6A09-0CFC-41A0-A842-93467EC0B6D3}"};

    // Creates the brand tables when missing, downloads the brands into them, then loads the brand
    // and tills lists. Each step logs its own errors and the next still runs; nothing is raised.
    virtual void Refresh() = 0;
    // Loads the tills list (each till with its brand) from the database; on failure the list
    // loaded before is kept and the error logged.
    virtual void GetTillsList() = 0;
    // Creates the tables Brands and TillsBrand when missing; errors are logged, not raised.
    virtual void DatabaseChanges() = 0;
    // Links the brand to the till, replacing its earlier link; tillID is a TILLS.TILLSID. Errors
    // are logged, not raised.
    virtual void LinkBrandToTill(std::int32_t brandID, std::int32_t tillID) = 0;
    // The brand code of the first listed till with that number (TILLS.TILLID), "" when it has no
    // brand or is not listed; logs "Found Brand" for a listed till. Raises when no tills list
    // has been loaded.
    virtual void GetBrandForTill(std::int32_t tillID, std::string& brandCode) = 0;
    // The brand list as last loaded (JSON text of the rows); empty before the first load.
    virtual void BrandListJSON(std::string& text) = 0;
    // The tills list as last loaded (JSON text of the rows); empty before the first load.
    virtual void TillsListJSON(std::string& text) = 0;
};

} // namespace zumvo
