// The host's own Cash tender: takes the amount it is given, and reports it at the driver
// cash-up under the payment code "PAYMENT:CASH".
#pragma once

#include "clsInterfacedObject.h"
#include "intfPaymentMethod.h"

#include <map>
#include <string>

namespace refhost {

// Name=value texts a tender hands to the host.
class TStringConfigList : public pallux::TInterfacedObject<pallux::IStringConfigList> {
public:
    void PALLUX_CALL Clear() override { FValues.clear(); }
    std::int32_t PALLUX_CALL Count() override { return static_cast<std::int32_t>(FValues.size()); }
    std::string PALLUX_CALL GetValue(const std::string& name) override;
    void PALLUX_CALL SetValue(const std::string& name, const std::string& value) override;

private:
    std::map<std::string, std::string> FValues;
};

class TCashPaymentMethod : public pallux::TInterfacedObject<pallux::IPaymentMethod> {
public:
    static constexpr const char* Name = "Cash";
    static constexpr const char* PaymentCode = "PAYMENT:CASH";

    TCashPaymentMethod();
    void PALLUX_CALL SetAmount(pallux::TCurrency amount) override;
    void PALLUX_CALL SetOnChange(const pallux::TPaymentMethodChangeEvent& event) override {
        FOnChange = event;
    }
    void PALLUX_CALL SetSecondAmount(pallux::TCurrency amount) override;
    pallux::TCurrency PALLUX_CALL GetAmount() override { return FAmount; }
    pallux::TPaymentMethodChangeEvent PALLUX_CALL GetOnChange() override { return FOnChange; }
    pallux::TCurrency PALLUX_CALL GetSecondAmount() override { return FSecondAmount; }
    pallux::IntfPtr<pallux::IStringConfigList> PALLUX_CALL GetConfigList() override { return FConfig; }
    void PALLUX_CALL SetTextValue(const std::string& text) override { FText = text; }
    std::string PALLUX_CALL GetNameA() override { return Name; }
    std::string PALLUX_CALL GetNameB() override { return Name; }
    std::string PALLUX_CALL GetNameC() override { return Name; }
    // Cash is always taken.
    bool PALLUX_CALL Pay() override { return true; }
    void PALLUX_CALL Reset() override;
    // Reports the amount (when above 0) as (invoiceNum, a, "PAYMENT:CASH", 0, 0, amount, 0, 0).
    void PALLUX_CALL AddCashupEntry(std::int32_t a, std::int32_t invoiceNum,
                                    const pallux::TAddCashupEntryProc& proc) override;
    // Reports the payment code (b, a, "PAYMENT:CASH") when the amount is not 0.
    void PALLUX_CALL ReportPaymentCode(std::int32_t a, std::int32_t b,
                                       const pallux::TPaymentCodeProc& proc) override;
    void PALLUX_CALL Hook1() override {}
    void PALLUX_CALL Hook2() override {}
    void PALLUX_CALL Hook3() override {}
    void PALLUX_CALL DoOverringInvoice() override {}

private:
    pallux::TCurrency FAmount = 0;
    pallux::TCurrency FSecondAmount = 0;
    pallux::TPaymentMethodChangeEvent FOnChange;
    pallux::IntfPtr<pallux::IStringConfigList> FConfig;
    std::string FText;
};

class TDIContainer;
// Registers the Cash tender as a named tender of the container.
void RegisterCashTender(TDIContainer& container);

} // namespace refhost
