// The host's tender (payment method) extension point.
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <functional>
#include <string>

namespace pallux {

// The host's currency: fixed point with four decimals (value 12.3456 is 123456).
using TCurrency = std::int64_t;
inline constexpr TCurrency CurrencyScale = 10000;

// A list of texts with name=value access that a tender hands to the host.
class IStringConfigList : public IInterface {
public:
    static constexpr TGUID IID{"{2A5F6E1C-8D3B-4C7A-9E21-5B0D7F4C3A18}"};

    virtual void PALLUX_CALL Clear() = 0;
    virtual std::int32_t PALLUX_CALL Count() = 0;
    virtual std::string PALLUX_CALL GetValue(const std::string& name) = 0;
    virtual void PALLUX_CALL SetValue(const std::string& name, const std::string& value) = 0;
};

class IPaymentMethod;

// Called with the tender's own interface whenever an amount changes.
using TPaymentMethodChangeEvent = std::function<void(IPaymentMethod* sender)>;
using TAddCashupEntryProc =
    std::function<void(std::int32_t, std::int32_t, const std::string& paymentCode, std::int32_t, std::int32_t,
                       double amount, std::int32_t, std::int32_t)>;
using TPaymentCodeProc = std::function<void(std::int32_t, std::int32_t, const std::string& paymentCode)>;

class IPaymentMethod : public IInterface {
public:
    static constexpr TGUID IID{"{B99696A6-EA20-4DD7-8E91-13B5762D314D}"};

    virtual void PALLUX_CALL SetAmount(TCurrency amount) = 0;
    virtual void PALLUX_CALL SetOnChange(const TPaymentMethodChangeEvent& event) = 0;
    virtual void PALLUX_CALL SetSecondAmount(TCurrency amount) = 0;
    virtual TCurrency PALLUX_CALL GetAmount() = 0;
    virtual TPaymentMethodChangeEvent PALLUX_CALL GetOnChange() = 0;
    virtual TCurrency PALLUX_CALL GetSecondAmount() = 0;
    virtual IntfPtr<IStringConfigList> PALLUX_CALL GetConfigList() = 0;
    virtual void PALLUX_CALL SetTextValue(const std::string& text) = 0;
    virtual std::string PALLUX_CALL GetNameA() = 0;
    virtual std::string PALLUX_CALL GetNameB() = 0;
    virtual std::string PALLUX_CALL GetNameC() = 0;
    virtual bool PALLUX_CALL Pay() = 0;
    virtual void PALLUX_CALL Reset() = 0;
    virtual void PALLUX_CALL AddCashupEntry(std::int32_t a, std::int32_t invoiceNum,
                                            const TAddCashupEntryProc& proc) = 0;
    virtual void PALLUX_CALL ReportPaymentCode(std::int32_t a, std::int32_t b,
                                               const TPaymentCodeProc& proc) = 0;
    virtual void PALLUX_CALL Hook1() = 0;
    virtual void PALLUX_CALL Hook2() = 0;
    virtual void PALLUX_CALL Hook3() = 0;
    virtual void PALLUX_CALL DoOverringInvoice() = 0;
};

} // namespace pallux
