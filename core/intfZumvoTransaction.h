// The one store of baskets, provider transactions and database log lines.
//
// Every operation catches its own errors: a database failure is logged as
// "[TZumvoTransaction.<operation>] Error : ..." and the operation answers the value stated below
// (texts are left unchanged on failure). Nothing is raised to the caller.
#pragma once

#include "clsMoney.h"
#include "clsStatusTransitions.h"
#include "clsTransactionStatus.h"
#include "intfBase.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace zumvo {

// A host invoice found for a sale: its number, whether its payments cover its total, and what it
// records as paid with Zumvo codes.
struct TStoredSale {
    std::int32_t InvoiceNum = -1;
    bool Paid = false;
    TCents ZumvoPayment = 0;
    bool Withdrawn = false; // the host no longer stands by the invoice (overridden or voided)
};

class IZumvoTransaction : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{1E155008-98DB-4678-9533-EA1AFBBAE1D3}"};

    // The ID of the first transaction row of the invoice, or of a new row when it has none;
    // 0 when the look-up fails, -1 when the insert does.
    virtual std::int32_t GetTransaction(std::int32_t invoiceNum) = 0;
    // The ID of the first basket of the invoice, or of a new basket of the current till when it
    // has none; 0 when the look-up fails, -1 when the insert does.
    virtual std::int32_t GetBasket(std::int32_t invoiceNum) = 0;
    // Inserts a transaction row (status 0, no basket); its ID, or -1 on failure.
    virtual std::int32_t AddTransaction() = 0;
    // Inserts a transaction row of the basket (status 0); its ID, or -1 on failure.
    virtual std::int32_t AddTransactionToBasket(std::int32_t basketID) = 0;
    // Inserts a basket of the till (-1: the current till); its ID, or -1 on failure.
    virtual std::int32_t AddBasket(std::int32_t tillID) = 0;
    // Records an accepted code: provider number, answer (JSON text; the provider's password masked
    // in its strings, see MaskedJsonText), amount, status 1 (redeemed).
    virtual void SavePayment(std::int32_t transactionID, std::int32_t tvTrxID, double amount,
                             const std::string& response) = 0;
    // Writes the basket's total amount (currency units).
    virtual void SaveBasketPayment(std::int32_t basketID, double amount) = 0;
    // Marks the row finalised (status 2) with the time of finalising; true when it was written.
    virtual bool SaveFinalise(std::int32_t transactionID) = 0;
    // Marks every redeemed row (status 1) of the basket finalised; other rows are left alone.
    virtual void SaveFinaliseForBasket(std::int32_t basketID) = 0;
    // Writes the invoice number on one transaction row.
    virtual void SaveInvoiceNum(std::int32_t transactionID, std::int32_t invoiceNum) = 0;
    // Writes the invoice number on the basket row.
    virtual void SetBasketInvoice(std::int32_t basketID, std::int32_t invoiceNum) = 0;
    // Writes the invoice number on every transaction row of the basket. The name's spelling is
    // kept on purpose: it is the name hosts and existing callers know the operation by.
    virtual void SetInvoicForBaskt(std::int32_t basketID, std::int32_t invoiceNum) = 0;
    // Writes the status of one transaction row, from the status it has now, when the change is
    // allowed (clsStatusTransitions); true when the row has that status afterwards.
    virtual bool SetStatus(std::int32_t transactionID, TTransactionStatus status) = 0;
    // Writes the status of every transaction row of the basket whose change to it is allowed.
    virtual void SetStatusForBasket(std::int32_t basketID, TTransactionStatus status) = 0;
    // Appends a line to the database log; true when it was written, false on failure (a message
    // over the column's 1000 bytes). The message is stored as the log file shows it (passwords
    // masked); one that fits before masking still fits after.
    virtual bool AddLog(const std::string& logClass, const std::string& message) = 0;
    // The basket-details document (JSON text) of the invoice's first basket with the invoice's
    // transactions, or "{}" when the invoice has no basket; details unchanged on failure.
    virtual void GetBasketDetailsForInvoice(std::int32_t invoiceNum, std::string& details) = 0;
    // The basket-details document (JSON text) of the basket; details unchanged when the basket
    // does not exist or on failure (logged).
    virtual void GetBasketDetailsForID(std::int32_t basketID, std::string& details) = 0;
    // The till number (INVOICES.fkTillID) of the invoice; -1 when unknown or on failure.
    virtual std::int32_t GetInvoiceTill(std::int32_t invoiceNum) = 0;
    // Closes the rows of the basket that hold nothing (started, without a provider number or the
    // note of a request without a readable answer, and not named in keptRows) with the status, when
    // a started row may take it and it is not the kept one: a basket is marked cancelled without
    // hiding a code whose reversal the provider never confirmed or a request it may hold unanswered.
    // Errors are logged, never raised.
    virtual void SetStatusForBasketExcept(std::int32_t basketID, TTransactionStatus status,
                                          TTransactionStatus kept,
                                          const std::set<std::int32_t>& keptRows) = 0;
    // Records the provider's number and answer (JSON text) on the row of a code the provider has
    // just accepted, leaving its status as it is: a till that stops before the code is kept still
    // leaves a row the code can be reversed from. Only a row still waiting for its answer (status
    // 0) takes it. Logs and swallows database errors; false when the row could not be written or
    // was no longer waiting (the caller must then not keep the code). providerStoreID is the
    // provider store the code was accepted under: its advices go to that store. The answer is kept
    // with the provider's password masked in its strings (see MaskedJsonText).
    virtual bool SaveProviderAnswer(std::int32_t transactionID, std::int32_t tvTrxID,
                                    const std::string& response, std::int32_t providerStoreID) = 0;
    // Marks the row of a request that is out or got no readable answer: its RequestNote becomes
    // the note (JSON text with the references the provider can look the request up by; Response
    // holds only the provider's answers, and saving an answer clears the note); an empty note
    // clears it (a refused request holds nothing). Logs and swallows database errors.
    virtual void SaveOutcomeUnknown(std::int32_t transactionID, const std::string& note) = 0;
    // Counts one more attempt of a repeated advice on the row, with its time and the error it
    // met (empty: it was confirmed, the error is cleared), passwords masked, cut to 500 bytes
    // between characters. Logs and swallows database errors.
    virtual void RecordAdviceAttempt(std::int32_t transactionID, const std::string& error) = 0;
    // Every row that may hold money at the provider or still need an advice, with its basket's
    // till, invoice and creation time (BasketTillID, BasketInvoice, BasketCreated), as a JSON
    // array text in row order: failed finalises and cancels, rows whose request went unanswered,
    // started or redeemed rows of baskets that never reached an invoice, and settled rows of
    // overridden invoices whose customer is owed a refund. Leaves rows unset on
    // an error (logged).
    virtual void GetHeldFunds(std::string& rows) = 0;
    // Marks a settled row of an overridden invoice: the provider keeps its money, so the customer
    // is owed a refund by other means, and the held-funds list shows it. Logs and swallows
    // database errors.
    virtual void MarkRefundOwed(std::int32_t transactionID) = 0;
    // Marks every settled row of an invoice the host has overridden or refunded that is not marked
    // yet: an override whose own marks the database refused (another program held it past the
    // busy time-out) leaves none unlisted. Reads the host's invoices, so it is for the cash-up and
    // the back office, not for every sale. Answers the rows marked; -1 when the database failed
    // (logged).
    virtual std::int32_t MarkRefundsOwed() = 0;
    // The same for the codes still accepted but not settled of such an invoice (a driver's sale
    // overridden while its reversals could not be recorded): they become "failed to cancel", so
    // the advice retry gives their money back. Answers the rows moved; -1 when the database
    // failed (logged).
    virtual std::int32_t ReopenWithdrawnRedemptions() = 0;
    // Records on the basket the invoice number the host gave the sale its codes were applied to.
    // The basket's own InvoiceNum is set only once the host has stored that invoice; until then
    // this number lets the sale be found again if the till stops in between. Logs and swallows
    // database errors; false when the number could not be written.
    virtual bool SetBasketSaleInvoice(std::int32_t basketID, std::int32_t invoiceNum) = 0;
    // The stored host invoice of a basket that was never tied to one: the invoice numbered as the
    // basket's sale, rung up on the basket's till and claimed by no other basket, while no later
    // basket of that till was given the same number (a number is given again only to the sale
    // after one that ended without an invoice) and none was opened before the invoice was stored
    // (that later sale's own number may not have been recorded). Nothing when there is none or on
    // failure (logged).
    virtual std::optional<TStoredSale> FindStoredSaleInvoice(std::int32_t basketID) = 0;
    // Moves every row of the basket at status from to status to. Logs and swallows database
    // errors; false when the rows could not be written.
    virtual bool MoveBasketStatus(std::int32_t basketID, TTransactionStatus from, TTransactionStatus to) = 0;
    // Changes the row's status from `from` to `to`, only when the change is allowed and the row is
    // still in `from` (a change to finalised records its time). Logs and swallows database errors.
    virtual TStatusWrite ChangeStatus(std::int32_t transactionID, TTransactionStatus from,
                                      TTransactionStatus to) = 0;
    // Records a code the cashier keeps (provider number, answer, amount, status redeemed), only
    // while its row is started (or redeemed already, by the same code): a row given back meanwhile
    // is left as it is and the code must not be counted. Logs and swallows database errors.
    virtual TStatusWrite KeepPayment(std::int32_t transactionID, std::int32_t tvTrxID, TCents amount,
                                     const std::string& response) = 0;
    // The codes still accepted of invoices the host records as paid in full (a driver's invoice
    // whose cash-up stopped between the host's cash entry and the codes' FINALISE): they become
    // "failed to finalise", so that the advice retry settles them. Reads the host's invoices, so it
    // is for the cash-up and the back office. Answers the rows moved; -1 on failure (logged).
    virtual std::int32_t MarkPaidRedemptions() = 0;
    // The row's status now; nothing when the row cannot be read or holds no status.
    virtual std::optional<TTransactionStatus> ReadStatus(std::int32_t transactionID) = 0;
    // Ties the basket and its rows to the invoice (the basket first); false when the basket's own
    // tie could not be written, which is the one a later override finds the codes by.
    virtual bool TieBasketToInvoice(std::int32_t basketID, std::int32_t invoiceNum) = 0;
    // The rows of the held-funds list (GetHeldFunds, the same columns) whose ID is greater than
    // afterID, in row order, at most count of them: a bounded part of the list, whatever its
    // length. An empty array for a count of 0 or less; rows left unset on an error (logged).
    virtual void GetHeldFundsAfter(std::int32_t afterID, std::int32_t count, std::string& rows) = 0;
    // The row of the held-funds list whose advice was attempted last (the latest
    // AdviceLastAttempt, the higher ID on a tie): where a bounded retry goes on after the till
    // was restarted. -1 when no listed row was attempted yet or on an error (logged).
    virtual std::int32_t LastHeldAttempt() = 0;
};

} // namespace zumvo
