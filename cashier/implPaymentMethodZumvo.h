// TPaymentMethodZumvo: the Zumvo tender. Not available in this build yet: every operation logs
// that and returns its results as they stood.
#pragma once

#include "clsInterfacedObject.h"
#include "intfPaymentMethod.h"
#include "intfServiceFactory.h"

namespace zumvo {

class TPaymentMethodZumvo : public pallux::TInterfacedObject<pallux::IPaymentMethod> {
public:
    void PALLUX_CALL SetAmount(pallux::TCurrency amount) override;
    void PALLUX_CALL SetOnChange(const pallux::TPaymentMethodChangeEvent& event) override;
    void PALLUX_CALL SetSecondAmount(pallux::TCurrency amount) override;
    pallux::TCurrency PALLUX_CALL GetAmount() override;
    pallux::TPaymentMethodChangeEvent PALLUX_CALL GetOnChange() override;
    pallux::TCurrency PALLUX_CALL GetSecondAmount() override;
    pallux::IntfPtr<pallux::IStringConfigList> PALLUX_CALL GetConfigList() override;
    void PALLUX_CALL SetTextValue(const std::string& text) override;
    std::string PALLUX_CALL GetNameA() override { return "Zumvo"; }
    std::string PALLUX_CALL GetNameB() override { return "Zumvo"; }
    std::string PALLUX_CALL GetNameC() override { return "Zumvo"; }
    bool PALLUX_CALL Pay() override;
    void PALLUX_CALL Reset() override;
    void PALLUX_CALL AddCashupEntry(std::int32_t a, std::int32_t invoiceNum,
                                    const pallux::TAddCashupEntryProc& proc) override;
    void PALLUX_CALL ReportPaymentCode(std::int32_t a, std::int32_t b,
                                       const pallux::TPaymentCodeProc& proc) override;
    void PALLUX_CALL Hook1() override {}
    void PALLUX_CALL Hook2() override {}
    void PALLUX_CALL Hook3() override {}
    void PALLUX_CALL DoOverringInvoice() override;
};

class TPaymentMethodZumvoFactory
    : public pallux::TServiceFactory<TPaymentMethodZumvo, pallux::IPaymentMethod> {};

} // namespace zumvo
