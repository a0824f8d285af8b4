// The one store of baskets, provider transactions and database log lines.
#pragma once

#include "clsTransactionStatus.h"
#include "intfBase.h"

#include <cstdint>
#include <string>

namespace zumvo {

class IZumvoTransaction : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{1E155008-98DB-4678-9533-EA1AFBBAE1D3}"};

    virtual std::int32_t GetTransaction(std::int32_t invoiceNum) = 0;
    virtual std::int32_t GetBasket(std::int32_t invoiceNum) = 0;
    virtual std::int32_t AddTransaction() = 0;
    virtual std::int32_t AddTransactionToBasket(std::int32_t basketID) = 0;
    virtual std::int32_t AddBasket(std::int32_t tillID) = 0;
    virtual void SavePayment(std::int32_t transactionID, std::int32_t tvTrxID, double amount,
                             const std::string& response) = 0;
    virtual void SaveBasketPayment(std::int32_t basketID, double amount) = 0;
    virtual void SaveFinalise(std::int32_t transactionID) = 0;
    virtual void SaveFinaliseForBasket(std::int32_t basketID) = 0;
    virtual void SaveInvoiceNum(std::int32_t transactionID, std::int32_t invoiceNum) = 0;
    virtual void SetBasketInvoice(std::int32_t basketID, std::int32_t invoiceNum) = 0;
    virtual void SetInvoicForBaskt(std::int32_t basketID, std::int32_t invoiceNum) = 0;
    virtual void SetStatus(std::int32_t transactionID, TTransactionStatus status) = 0;
    virtual void SetStatusForBasket(std::int32_t basketID, TTransactionStatus status) = 0;
    virtual bool AddLog(const std::string& logClass, const std::string& message) = 0;
    virtual void GetBasketDetailsForInvoice(std::int32_t invoiceNum, std::string& details) = 0;
    virtual void GetBasketDetailsForID(std::int32_t basketID, std::string& details) = 0;
    virtual std::int32_t GetInvoiceTill(std::int32_t invoiceNum) = 0;
    // Like SetStatusForBasket, but rows whose status is kept are left alone: a basket is marked
    // cancelled without hiding the transactions whose reversal the provider never confirmed.
    // Errors are logged, never raised.
    virtual void SetStatusForBasketExcept(std::int32_t basketID, TTransactionStatus status,
                                          TTransactionStatus kept) = 0;
    // Records the provider's number and answer (JSON text) on the row of a code the provider has
    // just accepted, leaving its status as it is: a till that stops before the code is kept still
    // leaves a row the code can be reversed from. Logs and swallows database errors; false when
    // the row could not be written (the caller must then not keep the code).
    virtual bool SaveProviderAnswer(std::int32_t transactionID, std::int32_t tvTrxID,
                                    const std::string& response) = 0;
    // Marks the row of a request that got no readable answer: its Response becomes the note
    // (JSON text with the references the provider can look the request up by). Logs and
    // swallows database errors.
    virtual void SaveOutcomeUnknown(std::int32_t transactionID, const std::string& note) = 0;
    // Counts one more attempt of a repeated advice on the row, with its time and the error it
    // met (empty: it was confirmed, the error is cleared). Logs and swallows database errors.
    virtual void RecordAdviceAttempt(std::int32_t transactionID, const std::string& error) = 0;
    // Every row that may hold money at the provider or still need an advice, with its basket's
    // till, invoice and creation time (BasketTillID, BasketInvoice, BasketCreated), as a JSON
    // array text in row order: failed finalises and cancels, rows whose request went unanswered,
    // and started or redeemed rows of baskets that never reached an invoice. Leaves rows unset on
    // an error (logged).
    virtual void GetHeldFunds(std::string& rows) = 0;
};

} // namespace zumvo
