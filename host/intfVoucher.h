// The host's voucher handler extension point (the till's Voucher button).
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <string>

namespace pallux {

class IVoucher : public IInterface {
public:
    static constexpr TGUID IID{"{F80579CD-19FC-4203-BD1B-42E3D4AC2598}"};

    virtual void PALLUX_CALL GetDisplayName(std::string& name) = 0;
    virtual void PALLUX_CALL GetName(std::string& name) = 0;
    // Applies vouchers to the invoice described by invoiceData (JSON); answer is the
    // voucher-return document (JSON).
    virtual bool PALLUX_CALL DoVoucher(const std::string& invoiceData, std::string& answer,
                                       bool fromScreen) = 0;
    virtual std::int32_t PALLUX_CALL GetVoucherInfo(std::int32_t value, std::string& info) = 0;
    virtual bool PALLUX_CALL CancelVoucher(const std::string& invoiceData) = 0;
    virtual bool PALLUX_CALL TransactionFinalise(const std::string& invoiceData, std::string& answer) = 0;
    virtual void PALLUX_CALL OverringInvoice(std::int32_t value, std::int32_t invoiceNum) = 0;
    virtual void PALLUX_CALL PopulateForInvoice(std::int32_t invoiceNum,
                                                const std::string& voucherReturn) = 0;
    virtual void PALLUX_CALL Reset() = 0;
};

} // namespace pallux
