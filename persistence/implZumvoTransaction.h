// TZumvoTransaction: the one store of baskets, provider transactions and database log lines.
// Every operation runs its SQL through a fresh database script object and keeps nothing between
// calls.
#pragma once

#include "clsInterfacedObject.h"
#include "intfServiceFactory.h"
#include "intfZumvoTransaction.h"

#include <cstdint>
#include <string>

namespace zumvo {

class TZumvoTransaction : public pallux::TInterfacedObject<IZumvoTransaction> {
public:
    std::int32_t GetTransaction(std::int32_t invoiceNum) override;
    std::int32_t GetBasket(std::int32_t invoiceNum) override;
    std::int32_t AddTransaction() override;
    std::int32_t AddTransactionToBasket(std::int32_t basketID) override;
    std::int32_t AddBasket(std::int32_t tillID) override;
    void SavePayment(std::int32_t transactionID, std::int32_t tvTrxID, double amount,
                     const std::string& response) override;
    void SaveBasketPayment(std::int32_t basketID, double amount) override;
    bool SaveFinalise(std::int32_t transactionID) override;
    void SaveFinaliseForBasket(std::int32_t basketID) override;
    void SaveInvoiceNum(std::int32_t transactionID, std::int32_t invoiceNum) override;
    void SetBasketInvoice(std::int32_t basketID, std::int32_t invoiceNum) override;
    void SetInvoicForBaskt(std::int32_t basketID, std::int32_t invoiceNum) override;
    bool SetStatus(std::int32_t transactionID, TTransactionStatus status) override;
    void SetStatusForBasket(std::int32_t basketID, TTransactionStatus status) override;
    bool AddLog(const std::string& logClass, const std::string& message) override;
    void GetBasketDetailsForInvoice(std::int32_t invoiceNum, std::string& details) override;
    void GetBasketDetailsForID(std::int32_t basketID, std::string& details) override;
    std::int32_t GetInvoiceTill(std::int32_t invoiceNum) override;
    void SetStatusForBasketExcept(std::int32_t basketID, TTransactionStatus status, TTransactionStatus kept,
                                  const std::set<std::int32_t>& keptRows) override;
    bool SaveProviderAnswer(std::int32_t transactionID, std::int32_t tvTrxID, const std::string& response,
                            std::int32_t providerStoreID) override;
    void SaveOutcomeUnknown(std::int32_t transactionID, const std::string& note) override;
    void RecordAdviceAttempt(std::int32_t transactionID, const std::string& error) override;
    void GetHeldFunds(std::string& rows) override;
    void GetHeldFundsAfter(std::int32_t afterID, std::int32_t count, std::string& rows) override;
    std::int32_t LastHeldAttempt() override;
    void MarkRefundOwed(std::int32_t transactionID) override;
    std::int32_t MarkRefundsOwed() override;
    std::int32_t ReopenWithdrawnRedemptions() override;
    bool SetBasketSaleInvoice(std::int32_t basketID, std::int32_t invoiceNum) override;
    std::optional<TStoredSale> FindStoredSaleInvoice(std::int32_t basketID) override;
    bool MoveBasketStatus(std::int32_t basketID, TTransactionStatus from, TTransactionStatus to) override;
    TStatusWrite ChangeStatus(std::int32_t transactionID, TTransactionStatus from,
                              TTransactionStatus to) override;
    TStatusWrite KeepPayment(std::int32_t transactionID, std::int32_t tvTrxID, TCents amount,
                             const std::string& response) override;
    std::optional<TTransactionStatus> ReadStatus(std::int32_t transactionID) override;
    std::int32_t MarkPaidRedemptions() override;
    bool TieBasketToInvoice(std::int32_t basketID, std::int32_t invoiceNum) override;
};

class TZumvoTransactionFactory : public pallux::TServiceFactory<TZumvoTransaction, IZumvoTransaction> {};

} // namespace zumvo
