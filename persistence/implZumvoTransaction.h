// TZumvoTransaction: not available in this build yet; every operation logs that and returns its
// results as they stood.
#pragma once

#include "clsInterfacedObject.h"
#include "intfServiceFactory.h"
#include "intfZumvoTransaction.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zumvo {

class TZumvoTransaction : public pallux::TInterfacedObject<IZumvoTransaction> {
public:
    using DefaultIntf = IZumvoTransaction;
    std::int32_t GetTransaction(std::int32_t) override;
    std::int32_t GetBasket(std::int32_t) override;
    std::int32_t AddTransaction() override;
    std::int32_t AddTransactionToBasket(std::int32_t) override;
    std::int32_t AddBasket(std::int32_t) override;
    void SavePayment(std::int32_t, std::int32_t, double, const std::string&) override;
    void SaveBasketPayment(std::int32_t, double) override;
    void SaveFinalise(std::int32_t) override;
    void SaveFinaliseForBasket(std::int32_t) override;
    void SaveInvoiceNum(std::int32_t, std::int32_t) override;
    void SetBasketInvoice(std::int32_t, std::int32_t) override;
    void SetInvoicForBaskt(std::int32_t, std::int32_t) override;
    void SetStatus(std::int32_t, std::int32_t) override;
    void SetStatusForBasket(std::int32_t, std::int32_t) override;
    bool AddLog(const std::string&, const std::string&) override;
    void GetBasketDetailsForInvoice(std::int32_t, std::string&) override;
    void GetBasketDetailsForID(std::int32_t, std::string&) override;
    std::int32_t GetInvoiceTill(std::int32_t) override;
};

class TZumvoTransactionFactory : public pallux::TServiceFactory<TZumvoTransaction, IZumvoTransaction> {};

} // namespace zumvo
