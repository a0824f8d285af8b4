// The store's brands and the link of each till to a brand.
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <string>

namespace zumvo {

class ITillBrandSettings : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{3BCB6A09-0CFC-41A0-A842-93467EC0B6D3}"};

    virtual void Refresh() = 0;
    virtual void GetTillsList() = 0;
    virtual void DatabaseChanges() = 0;
    // tillID is a TILLS.TILLSID.
    virtual void LinkBrandToTill(std::int32_t brandID, std::int32_t tillID) = 0;
    // tillID is a till number (TILLS.TILLID); needs the tills list loaded.
    virtual void GetBrandForTill(std::int32_t tillID, std::string& brandCode) = 0;
    virtual void BrandListJSON(std::string& text) = 0;
    virtual void TillsListJSON(std::string& text) = 0;
};

} // namespace zumvo
