// TVoucherZumvo: not available in this build yet; every operation logs that and returns its
// results as they stood.
#pragma once

#include "clsInterfacedObject.h"
#include "intfServiceFactory.h"
#include "intfVoucher.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zumvo {

class TVoucherZumvo : public pallux::TInterfacedObject<pallux::IVoucher> {
public:
    void PALLUX_CALL GetDisplayName(std::string& name) override;
    void PALLUX_CALL GetName(std::string& name) override;
    bool PALLUX_CALL DoVoucher(const std::string&, std::string&, bool) override;
    std::int32_t PALLUX_CALL GetVoucherInfo(std::int32_t, std::string& info) override;
    bool PALLUX_CALL CancelVoucher(const std::string&) override;
    bool PALLUX_CALL TransactionFinalise(const std::string&, std::string&) override;
    void PALLUX_CALL OverringInvoice(std::int32_t, std::int32_t) override;
    void PALLUX_CALL PopulateForInvoice(std::int32_t, const std::string&) override;
    void PALLUX_CALL Reset() override;
};

class TVoucherZumvoFactory : public pallux::TServiceFactory<TVoucherZumvo, pallux::IVoucher> {};

} // namespace zumvo
