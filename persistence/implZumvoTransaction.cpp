#include "implZumvoTransaction.h"

#include "JsonDocument.h"
#include "ZumvoLog.h"
#include "clsDBAccess.h"
#include "clsHeldFundsRule.h"
#include "clsModuleContainer.h"
#include "clsMoney.h"
#include "clsOutcomeUnknown.h"
#include "intfZumvoInfo.h"

#include <stdexcept>

namespace zumvo {

namespace {

// Widths of the text columns the store fills from texts that may quote the provider.
constexpr std::size_t LogMessageColumn = 1000; // zumvoPaymentLog.Message
constexpr std::size_t AdviceErrorColumn = 500; // ZumvoPaymentTransactions.AdviceLastError

// The text as the log file shows it (passwords masked). Masking may lengthen it: a text that fit
// its column still does.
std::string MaskedForColumn(const std::string& text, std::size_t width) {
    std::string out = MaskedAsInLog(text);
    return text.size() <= width ? Utf8Prefix(std::move(out), width) : out;
}

using pallux::TSqlArgs;

std::int64_t Arg(std::int32_t v) {
    return v;
}

// A status as the Status column stores it.
std::int64_t Arg(TTransactionStatus status) {
    return ToInt(status);
}

// Inserts a row through a batch that answers the new identity in column ID.
std::int32_t InsertReturningID(const std::string& format, const TSqlArgs& args) {
    auto db = NewDBScript();
    std::string id;
    if (args.empty())
        db->GetValue(format, "ID", id);
    else
        db->GetValueFmt(format, args, "ID", id);
    return IdentifierFromText(id);
}

void Update(const std::string& format, const TSqlArgs& args) {
    auto db = NewDBScript();
    ExecuteOrRaise(*db, format, args);
}

// The same, its failure logged under the operation's name: true when it was written.
bool Written(const std::string& classMethod, const std::string& format, const TSqlArgs& args) {
    bool written = false;
    Guarded(classMethod, [&] {
        Update(format, args);
        written = true;
    });
    return written;
}

// The ID of the first row of a query result, as an integer.
std::int32_t FirstRowID(const TJSONDocument& rows) {
    return rows[0]["ID"].AsInteger();
}

// The stored answer of a transaction row as text; empty for a null column.
std::string ResponseText(const TJSONValue& row) {
    const TJSONValue response = row["Response"];
    return response.IsNull() ? std::string() : response.AsString();
}

// The code of a parsed answer (its Zumvo member) as text; empty when it has none.
std::string ZumvoCode(const TJSONValue& data) {
    return data.Exists("Zumvo") ? data["Zumvo"].AsString("") : std::string();
}

} // namespace

std::int32_t TZumvoTransaction::GetTransaction(std::int32_t invoiceNum) {
    std::int32_t result = 0;
    Guarded("TZumvoTransaction.GetTransaction", [&] {
        auto db = NewDBScript();
        const TJSONDocument rows = QueryRows(
            *db, "SELECT [ID] FROM [ZumvoPaymentTransactions] WHERE [InvoiceNum] = %d", {Arg(invoiceNum)});
        result = rows._Count() > 0 ? FirstRowID(rows) : AddTransaction();
    });
    return result;
}

std::int32_t TZumvoTransaction::GetBasket(std::int32_t invoiceNum) {
    std::int32_t result = 0;
    Guarded("TZumvoTransaction.GetBasket", [&] {
        auto db = NewDBScript();
        const TJSONDocument rows = QueryRows(
            *db, "SELECT [ID] FROM [ZumvoPaymentBasket] WHERE [InvoiceNum] = %d", {Arg(invoiceNum)});
        result = rows._Count() > 0 ? FirstRowID(rows) : AddBasket(-1);
    });
    return result;
}

std::int32_t TZumvoTransaction::AddTransaction() {
    std::int32_t result = -1;
    Guarded("TZumvoTransaction.AddTransaction", [&] {
        result = InsertReturningID("INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created] ) "
                                   "VALUES ( GETDATE() ); "
                                   "SELECT CAST( SCOPE_IDENTITY() AS INT ) AS [ID]",
                                   {});
    });
    return result;
}

std::int32_t TZumvoTransaction::AddTransactionToBasket(std::int32_t basketID) {
    std::int32_t result = -1;
    Guarded("TZumvoTransaction.AddTransactionToBasket", [&] {
        result =
            InsertReturningID("INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [BasketID] ) "
                              "VALUES ( GETDATE(), %d ); "
                              "SELECT CAST( SCOPE_IDENTITY() AS INT ) AS [ID]",
                              {Arg(basketID)});
    });
    return result;
}

std::int32_t TZumvoTransaction::AddBasket(std::int32_t tillID) {
    std::int32_t result = -1;
    Guarded("TZumvoTransaction.AddBasket", [&] {
        if (tillID == -1) {
            pallux::IntfPtr<IZumvoInfo> info;
            Require(GetSingletonService(info) && info, "Could not create ZumvoInfo");
            tillID = info->GetTillID();
        }
        result = InsertReturningID("INSERT INTO [ZumvoPaymentBasket] ( [Timestamp_Created], [TillID] ) "
                                   "VALUES ( GETDATE(), %d ); "
                                   "SELECT CAST( SCOPE_IDENTITY() AS INT ) AS [ID]",
                                   {Arg(tillID)});
    });
    return result;
}

void TZumvoTransaction::SavePayment(std::int32_t transactionID, std::int32_t tvTrxID, double amount,
                                    const std::string& response) {
    KeepPayment(transactionID, tvTrxID, RoundedCentsOf(amount), response);
}

TStatusWrite TZumvoTransaction::KeepPayment(std::int32_t transactionID, std::int32_t tvTrxID, TCents amount,
                                            const std::string& response) {
    TStatusWrite result = TStatusWrite::Failed;
    Guarded("TZumvoTransaction.KeepPayment", [&] {
        // A row the advice retry or a cancel has marked meanwhile keeps that status: the code was
        // (or is being) given back, and saving it as paid would undo that.
        auto db = NewDBScript();
        const std::int32_t changed = db->ExecuteRowCount(db->Format(
            "UPDATE [ZumvoPaymentTransactions] SET [Timestamp_Payment] = GETDATE(), [tvTrxID] = %d, "
            "[Response] = %s, [RequestNote] = NULL, [Status] = %d, [Amount] = %f WHERE [ID] = %d AND [Status] IN ( %d, %d )",
            {Arg(tvTrxID), pallux::QuotedStr(MaskedJsonText(response)), Arg(TTransactionStatus::Redeemed),
             UnitsOf(amount), Arg(transactionID), Arg(TTransactionStatus::Started),
             Arg(TTransactionStatus::Redeemed)}));
        result = changed == 1 ? TStatusWrite::Changed : TStatusWrite::NotInStatus;
        if (result == TStatusWrite::NotInStatus)
            LogInfo("[TZumvoTransaction.KeepPayment] Transaction % is no longer open: not kept",
                    transactionID);
    });
    return result;
}

bool TZumvoTransaction::SaveProviderAnswer(std::int32_t transactionID, std::int32_t tvTrxID,
                                           const std::string& response, std::int32_t providerStoreID) {
    bool saved = false;
    Guarded("TZumvoTransaction.SaveProviderAnswer", [&] {
        // Only a row still waiting for its answer takes it: one given back meanwhile (the advice
        // retry judged its sale abandoned) must not be kept as paid.
        auto db = NewDBScript();
        saved = db->ExecuteRowCount(db->Format(
                    "UPDATE [ZumvoPaymentTransactions] SET [tvTrxID] = %d, [Response] = %s, "
                    "[RequestNote] = NULL, "
                    "[ProviderStoreID] = %d WHERE [ID] = %d AND [Status] = %d",
                    {Arg(tvTrxID), pallux::QuotedStr(MaskedJsonText(response)), Arg(providerStoreID),
                     Arg(transactionID), Arg(TTransactionStatus::Started)})) == 1;
        if (!saved)
            LogInfo(
                "[TZumvoTransaction.SaveProviderAnswer] Transaction % is no longer waiting for an answer: "
                "not kept",
                transactionID);
    });
    return saved;
}

void TZumvoTransaction::RecordAdviceAttempt(std::int32_t transactionID, const std::string& error) {
    Guarded("TZumvoTransaction.RecordAdviceAttempt", [&] {
        Update("UPDATE [ZumvoPaymentTransactions] SET [AdviceAttempts] = [AdviceAttempts] + 1, "
               "[AdviceLastAttempt] = GETDATE(), [AdviceLastError] = %s WHERE [ID] = %d",
               {error.empty() ? std::string("NULL")
                              : pallux::QuotedStr(Utf8Prefix(MaskedAsInLog(error), AdviceErrorColumn)),
                Arg(transactionID)});
    });
}

namespace {

// The held-funds list's columns for the rows whose IDs `rowsWhere` selects (a condition over
// ZumvoPaymentTransactions T left-joined to its basket B), in row order.
std::string HeldFundsQuery(const std::string& rowsWhere) {
    return "SELECT T.[ID], T.[Timestamp_Created], T.[Timestamp_Payment], T.[InvoiceNum], "
           "T.[tvTrxID], T.[Response], T.[Amount], T.[Status], T.[BasketID], T.[AdviceAttempts], "
           "T.[AdviceLastAttempt], T.[AdviceLastError], T.[ProviderStoreID], T.[RefundOwed], "
           "T.[RequestNote], B.[TillID] AS [BasketTillID], "
           "B.[InvoiceNum] AS [BasketInvoice], B.[Timestamp_Created] AS [BasketCreated], "
           "( SELECT MAX( X.[Timestamp_Created] ) FROM [ZumvoPaymentTransactions] X WHERE "
           "X.[BasketID] = T.[BasketID] ) AS [BasketLastCode], "
           "( SELECT MAX( Y.[Timestamp_Payment] ) FROM [ZumvoPaymentTransactions] Y WHERE "
           "Y.[BasketID] = T.[BasketID] ) AS [BasketLastPayment] "
           "FROM [ZumvoPaymentTransactions] T LEFT JOIN [ZumvoPaymentBasket] B ON B.[ID] = "
           "T.[BasketID] WHERE " +
           rowsWhere + " ORDER BY T.[ID]";
}

} // namespace

void TZumvoTransaction::GetHeldFunds(std::string& rows) {
    Guarded("TZumvoTransaction.GetHeldFunds", [&] {
        auto db = NewDBScript();
        rows = QueryRows(*db, HeldFundsQuery(HeldFundsCondition())).ToJSON();
    });
}

void TZumvoTransaction::GetHeldFundsAfter(std::int32_t afterID, std::int32_t count, std::string& rows) {
    Guarded("TZumvoTransaction.GetHeldFundsAfter", [&] {
        if (count <= 0) {
            rows = "[]";
            return;
        }
        // The few IDs first, by the held-funds indexes ("+ 0" keeps a planner from walking every
        // row after afterID by the primary key); the columns, with their basket's latest code,
        // then only for those.
        auto db = NewDBScript();
        rows = QueryRows(*db, HeldFundsQuery("T.[ID] IN ( SELECT TOP " + std::to_string(count) +
                                             " T.[ID] FROM [ZumvoPaymentTransactions] T LEFT JOIN "
                                             "[ZumvoPaymentBasket] B ON B.[ID] = T.[BasketID] WHERE ( " +
                                             HeldFundsCondition() + " ) AND T.[ID] + 0 > " +
                                             std::to_string(afterID) + " ORDER BY T.[ID] )"))
                   .ToJSON();
    });
}

std::int32_t TZumvoTransaction::LastHeldAttempt() {
    std::int32_t id = -1;
    Guarded("TZumvoTransaction.LastHeldAttempt", [&] {
        auto db = NewDBScript();
        const TJSONDocument found = QueryRows(
            *db,
            "SELECT TOP 1 T.[ID] FROM [ZumvoPaymentTransactions] T LEFT JOIN [ZumvoPaymentBasket] B ON "
            "B.[ID] = T.[BasketID] WHERE ( " +
                HeldFundsCondition() +
                " ) AND T.[AdviceLastAttempt] IS NOT NULL ORDER BY T.[AdviceLastAttempt] DESC, T.[ID] DESC");
        if (found._Count() > 0)
            id = FirstRowID(found);
    });
    return id;
}

void TZumvoTransaction::SaveOutcomeUnknown(std::int32_t transactionID, const std::string& note) {
    Guarded("TZumvoTransaction.SaveOutcomeUnknown", [&] {
        Update("UPDATE [ZumvoPaymentTransactions] SET [RequestNote] = %s WHERE [ID] = %d",
               {note.empty() ? std::string("NULL") : pallux::QuotedStr(note), Arg(transactionID)});
    });
}

void TZumvoTransaction::MarkRefundOwed(std::int32_t transactionID) {
    Guarded("TZumvoTransaction.MarkRefundOwed", [&] {
        Update("UPDATE [ZumvoPaymentTransactions] SET [RefundOwed] = 1 WHERE [ID] = %d",
               {Arg(transactionID)});
    });
}

namespace {

// Changes the rows in a given status of the baskets of invoices the host no longer stands by
// (overridden or refunded); answers how many. The rows are found from those few invoices; the
// "+ 0" keeps a planner without statistics from walking every row of the status by its index.
std::int32_t UpdateWithdrawnInvoiceRows(const std::string& set, TTransactionStatus status,
                                        const std::string& condition) {
    return NewDBScript()->ExecuteRowCount(
        "UPDATE [ZumvoPaymentTransactions] SET " + set +
        " WHERE [BasketID] IN ( SELECT B.[ID] FROM [ZumvoPaymentBasket] B WHERE B.[InvoiceNum] IN ( SELECT "
        "I.[InvoiceNum] FROM [INVOICES] I WHERE I.[STATUS] <> 0 ) ) AND [Status] + 0 = " +
        std::to_string(ToInt(status)) + condition);
}

} // namespace

std::int32_t TZumvoTransaction::MarkRefundsOwed() {
    std::int32_t marked = -1;
    Guarded("TZumvoTransaction.MarkRefundsOwed", [&] {
        marked = UpdateWithdrawnInvoiceRows("[RefundOwed] = 1", TTransactionStatus::Finalised,
                                            " AND [RefundOwed] + 0 = 0");
    });
    return marked;
}

std::int32_t TZumvoTransaction::ReopenWithdrawnRedemptions() {
    std::int32_t moved = -1;
    Guarded("TZumvoTransaction.ReopenWithdrawnRedemptions", [&] {
        moved = UpdateWithdrawnInvoiceRows("[Status] = " +
                                               std::to_string(ToInt(TTransactionStatus::CancelFailed)),
                                           TTransactionStatus::Redeemed, "");
    });
    return moved;
}

std::int32_t TZumvoTransaction::MarkPaidRedemptions() {
    std::int32_t moved = -1;
    Guarded("TZumvoTransaction.MarkPaidRedemptions", [&] {
        moved = NewDBScript()->ExecuteRowCount(
            "UPDATE [ZumvoPaymentTransactions] SET [Status] = " +
            std::to_string(ToInt(UnconfirmedStatus(TAdvice::Finalise))) +
            " WHERE [BasketID] IN ( SELECT B.[ID] FROM [ZumvoPaymentBasket] B JOIN [INVOICES] I ON I.[InvoiceNum] "
            "= B.[InvoiceNum] WHERE I.[STATUS] = 0 AND ( SELECT ISNULL( SUM( P.[Amount] ), 0 ) FROM "
            "[InvoicesPayment] P WHERE P.[InvoiceNum] = I.[InvoiceNum] ) >= I.[AFTERDISC] - 0.005 ) AND [Status] + 0 "
            "= " +
            std::to_string(ToInt(TTransactionStatus::Redeemed)));
    });
    return moved;
}

bool TZumvoTransaction::SetBasketSaleInvoice(std::int32_t basketID, std::int32_t invoiceNum) {
    return Written("TZumvoTransaction.SetBasketSaleInvoice",
                   "UPDATE [ZumvoPaymentBasket] SET [SaleInvoiceNum] = %d WHERE [ID] = %d",
                   {Arg(invoiceNum), Arg(basketID)});
}

std::optional<TStoredSale> TZumvoTransaction::FindStoredSaleInvoice(std::int32_t basketID) {
    std::optional<TStoredSale> found;
    Guarded("TZumvoTransaction.FindStoredSaleInvoice", [&] {
        auto db = NewDBScript();
        const TJSONDocument rows = QueryRows(
            *db,
            "SELECT I.[InvoiceNum], I.[STATUS] AS [InvoiceStatus], I.[AFTERDISC] AS [InvoiceTotal], ( SELECT ISNULL( SUM( P.[Amount] ), 0 ) "
            "FROM [InvoicesPayment] P WHERE P.[InvoiceNum] = I.[InvoiceNum] ) AS [Paid], ( SELECT ISNULL( "
            "SUM( Z.[Amount] ), 0 ) FROM [InvoicesPayment] Z WHERE Z.[InvoiceNum] = I.[InvoiceNum] AND "
            "Z.[PaymentType] = 'Zumvo' ) AS [ZumvoPaid] "
            "FROM [ZumvoPaymentBasket] B JOIN [INVOICES] I ON I.[InvoiceNum] = B.[SaleInvoiceNum] AND "
            "I.[fkTillID] = B.[TillID] "
            "WHERE B.[ID] = %d AND B.[InvoiceNum] IS NULL AND NOT EXISTS ( SELECT 1 FROM "
            "[ZumvoPaymentBasket] O WHERE O.[ID] <> B.[ID] AND ( O.[InvoiceNum] = B.[SaleInvoiceNum] OR ( "
            "O.[SaleInvoiceNum] = B.[SaleInvoiceNum] AND O.[TillID] = B.[TillID] AND O.[ID] > B.[ID] ) ) ) "
            "AND NOT EXISTS ( SELECT 1 FROM [ZumvoPaymentBasket] L WHERE L.[TillID] = B.[TillID] AND L.[ID] > "
            "B.[ID] AND L.[Timestamp_Created] < I.[DATE] )",
            {Arg(basketID)});
        if (rows._Count() == 0 || rows[0]["InvoiceNum"].AsInteger(-1) <= 0)
            return;
        const TJSONValue row = rows[0];
        found = TStoredSale{
            row["InvoiceNum"].AsInteger(-1),
            RoundedCentsOf(row["Paid"].AsFloat(0)) >= RoundedCentsOf(row["InvoiceTotal"].AsFloat(0)),
            RoundedCentsOf(row["ZumvoPaid"].AsFloat(0)), row["InvoiceStatus"].AsInteger(0) != 0};
    });
    return found;
}

bool TZumvoTransaction::MoveBasketStatus(std::int32_t basketID, TTransactionStatus from,
                                         TTransactionStatus to) {
    return IsAllowedChange(from, to) &&
           Written(
               "TZumvoTransaction.MoveBasketStatus",
               "UPDATE [ZumvoPaymentTransactions] SET [Status] = %d WHERE [BasketID] = %d AND [Status] = %d",
               {Arg(to), Arg(basketID), Arg(from)});
}

void TZumvoTransaction::SaveBasketPayment(std::int32_t basketID, double amount) {
    Guarded("TZumvoTransaction.SaveBasketPayment", [&] {
        Update("UPDATE [ZumvoPaymentBasket] SET [TotalAmount] = %f WHERE [ID] = %d", {amount, Arg(basketID)});
    });
}

bool TZumvoTransaction::SaveFinalise(std::int32_t transactionID) {
    return SetStatus(transactionID, TTransactionStatus::Finalised);
}

void TZumvoTransaction::SaveFinaliseForBasket(std::int32_t basketID) {
    Guarded("TZumvoTransaction.SaveFinaliseForBasket", [&] {
        Update("UPDATE [ZumvoPaymentTransactions] SET [Timestamp_Finalised] = GETDATE(), [Status] = %d "
               "WHERE [BasketID] = %d AND [Status] = %d",
               {Arg(TTransactionStatus::Finalised), Arg(basketID), Arg(TTransactionStatus::Redeemed)});
    });
}

void TZumvoTransaction::SaveInvoiceNum(std::int32_t transactionID, std::int32_t invoiceNum) {
    Guarded("TZumvoTransaction.SaveInvoiceNum", [&] {
        Update("UPDATE [ZumvoPaymentTransactions] SET [InvoiceNum] = %d WHERE [ID] = %d",
               {Arg(invoiceNum), Arg(transactionID)});
    });
}

void TZumvoTransaction::SetBasketInvoice(std::int32_t basketID, std::int32_t invoiceNum) {
    Guarded("TZumvoTransaction.SetBasketInvoice", [&] {
        Update("UPDATE [ZumvoPaymentBasket] SET [InvoiceNum] = %d WHERE [ID] = %d",
               {Arg(invoiceNum), Arg(basketID)});
    });
}

void TZumvoTransaction::SetInvoicForBaskt(std::int32_t basketID, std::int32_t invoiceNum) {
    Guarded("TZumvoTransaction.SetInvoicForBaskt", [&] {
        Update("UPDATE [ZumvoPaymentTransactions] SET [InvoiceNum] = %d WHERE [BasketID] = %d",
               {Arg(invoiceNum), Arg(basketID)});
    });
}

bool TZumvoTransaction::SetStatus(std::int32_t transactionID, TTransactionStatus status) {
    const std::optional<TTransactionStatus> current = ReadStatus(transactionID);
    if (!current)
        return false;
    return *current == status || ChangeStatus(transactionID, *current, status) == TStatusWrite::Changed;
}

TStatusWrite TZumvoTransaction::ChangeStatus(std::int32_t transactionID, TTransactionStatus from,
                                             TTransactionStatus to) {
    if (!IsAllowedChange(from, to)) {
        LogInfo("[TZumvoTransaction.ChangeStatus] Transaction %: a change from % to % is not allowed",
                transactionID, ToInt(from), ToInt(to));
        return TStatusWrite::NotAllowed;
    }
    TStatusWrite result = TStatusWrite::Failed;
    Guarded("TZumvoTransaction.ChangeStatus", [&] {
        auto db = NewDBScript();
        const std::string finalised =
            to == TTransactionStatus::Finalised ? "[Timestamp_Finalised] = GETDATE(), " : "";
        const std::int32_t changed =
            db->ExecuteRowCount(db->Format("UPDATE [ZumvoPaymentTransactions] SET " + finalised +
                                               "[Status] = %d WHERE [ID] = %d AND [Status] = %d",
                                           {Arg(to), Arg(transactionID), Arg(from)}));
        result = changed == 1 ? TStatusWrite::Changed : TStatusWrite::NotInStatus;
        if (result == TStatusWrite::NotInStatus)
            LogInfo("[TZumvoTransaction.ChangeStatus] Transaction % is no longer at %: left as it is",
                    transactionID, ToInt(from));
    });
    return result;
}

std::optional<TTransactionStatus> TZumvoTransaction::ReadStatus(std::int32_t transactionID) {
    std::optional<TTransactionStatus> status;
    Guarded("TZumvoTransaction.ReadStatus", [&] {
        auto db = NewDBScript();
        const TJSONDocument rows = QueryRows(
            *db, "SELECT [Status] FROM [ZumvoPaymentTransactions] WHERE [ID] = %d", {Arg(transactionID)});
        if (rows._Count() > 0 && !rows[0]["Status"].IsNull())
            status = ToTransactionStatus(rows[0]["Status"].AsInteger());
    });
    return status;
}

void TZumvoTransaction::SetStatusForBasket(std::int32_t basketID, TTransactionStatus status) {
    Guarded("TZumvoTransaction.SetStatusForBasket", [&] {
        std::string from;
        for (const TStatusChange& change : StatusChanges())
            if (change.To == status)
                from += (from.empty() ? "" : ", ") + std::to_string(ToInt(change.From));
        if (from.empty())
            return;
        Update(
            "UPDATE [ZumvoPaymentTransactions] SET [Status] = %d WHERE [BasketID] = %d AND [Status] IN ( " +
                from + " )",
            {Arg(status), Arg(basketID)});
    });
}

void TZumvoTransaction::SetStatusForBasketExcept(std::int32_t basketID, TTransactionStatus status,
                                                 TTransactionStatus kept,
                                                 const std::set<std::int32_t>& keptRows) {
    Guarded("TZumvoTransaction.SetStatusForBasketExcept", [&] {
        // Only rows that hold nothing are closed here: started, with no provider number and no note
        // of a request without a readable answer. Every other row reaches its status through its
        // own advice (a row of unknown outcome keeps its note, so that it stays listed).
        if (!IsAllowedChange(TTransactionStatus::Started, status) || status == kept)
            return;
        std::string rows;
        for (const std::int32_t id : keptRows)
            rows += (rows.empty() ? "" : ", ") + std::to_string(id);
        Update("UPDATE [ZumvoPaymentTransactions] SET [Status] = %d WHERE [BasketID] = %d AND [Status] = %d "
               "AND [tvTrxID] IS NULL AND NOT ( [RequestNote] IS NOT NULL AND [RequestNote] LIKE %s )" +
                   (rows.empty() ? std::string() : " AND [ID] NOT IN ( " + rows + " )"),
               {Arg(status), Arg(basketID), Arg(TTransactionStatus::Started),
                pallux::QuotedStr(OutcomeUnknownPattern())});
    });
}

bool TZumvoTransaction::TieBasketToInvoice(std::int32_t basketID, std::int32_t invoiceNum) {
    bool tied = false;
    Guarded("TZumvoTransaction.TieBasketToInvoice", [&] {
        Update("UPDATE [ZumvoPaymentBasket] SET [InvoiceNum] = %d WHERE [ID] = %d",
               {Arg(invoiceNum), Arg(basketID)});
        tied = true;
        // The rows' copy of the number is for reading only: the basket's decides.
        SetInvoicForBaskt(basketID, invoiceNum);
    });
    return tied;
}

bool TZumvoTransaction::AddLog(const std::string& logClass, const std::string& message) {
    bool result = false;
    Guarded("TZumvoTransaction.AddLog", [&] {
        auto db = NewDBScript();
        result = db->ExecuteFmt(
            "INSERT INTO [zumvoPaymentLog] ( [Timestamp], [Class], [Message] ) VALUES ( GETDATE(), %s, %s )",
            {pallux::QuotedStr(logClass), pallux::QuotedStr(MaskedForColumn(message, LogMessageColumn))});
    });
    return result;
}

void TZumvoTransaction::GetBasketDetailsForInvoice(std::int32_t invoiceNum, std::string& details) {
    Guarded("TZumvoTransaction.GetBasketDetailsForInvoice", [&] {
        auto db = NewDBScript();
        TJSONDocument baskets =
            QueryRows(*db, "SELECT * FROM [ZumvoPaymentBasket] WHERE [InvoiceNum] = %d", {Arg(invoiceNum)});
        TJSONDocument transactions = QueryRows(
            *db, "SELECT * FROM [ZumvoPaymentTransactions] WHERE [InvoiceNum] = %d", {Arg(invoiceNum)});
        if (baskets._Count() == 0) {
            details = "{}";
            return;
        }
        for (int i = 0; i < transactions._Count(); ++i) {
            TJSONValue row = transactions[i];
            LogInfo("[TZumvoTransaction.GetBasketDetailsForInvoice] % : %", i, row.ToJSON());
            row.Set("TransactionID", row["ID"].AsInteger());
            const bool responseNull = row["Response"].IsNull();
            const bool responseBlank = !responseNull && ResponseText(row).empty();
            const bool invalid = responseNull || responseBlank;
            LogInfo("[TZumvoTransaction.GetBasketDetailsForInvoice] Response NULL : %", responseNull);
            LogInfo("[TZumvoTransaction.GetBasketDetailsForInvoice] Response Blank : %", responseBlank);
            LogInfo("[TZumvoTransaction.GetBasketDetailsForInvoice] Invalid Response : %", invalid);
            if (!invalid) {
                // The bare "1" and "2" lines mark which branch a row took. Kept on purpose: they are
                // the lines this operation has always logged, and readers of the log rely on them.
                LogInfo("[TZumvoTransaction.GetBasketDetailsForInvoice] 1");
                FlushLog();
                const TJSONDocument data = TJSONDocument::Parse(ResponseText(row));
                row.Set("Data", data);
                row.Set("Zumvo", ZumvoCode(data.Root()));
            } else {
                LogInfo("[TZumvoTransaction.GetBasketDetailsForInvoice] 2");
                FlushLog();
            }
        }
        baskets[0].Set("Transactions", transactions);
        details = baskets[0].ToJSON();
    });
}

void TZumvoTransaction::GetBasketDetailsForID(std::int32_t basketID, std::string& details) {
    Guarded("TZumvoTransaction.GetBasketDetailsForID", [&] {
        auto db = NewDBScript();
        TJSONDocument baskets =
            QueryRows(*db, "SELECT * FROM [ZumvoPaymentBasket] WHERE [ID] = %d", {Arg(basketID)});
        TJSONDocument transactions =
            QueryRows(*db, "SELECT * FROM [ZumvoPaymentTransactions] WHERE [BasketID] = %d", {Arg(basketID)});
        for (int i = 0; i < transactions._Count(); ++i) {
            TJSONValue row = transactions[i];
            LogInfo("[TZumvoTransaction.GetBasketDetailsForID] % : %", i, row.ToJSON());
            FlushLog();
            row.Set("TransactionID", row["ID"].AsInteger());
            const std::string response = ResponseText(row);
            const TJSONDocument data =
                response.empty() ? TJSONDocument::NewObject() : TJSONDocument::Parse(response);
            row.Set("Data", data);
            row.Set("Zumvo", ZumvoCode(data.Root()));
        }
        if (baskets._Count() == 0)
            throw std::runtime_error("Basket " + std::to_string(basketID) + " does not exist");
        baskets[0].Set("Transactions", transactions);
        details = baskets[0].ToJSON();
    });
}

std::int32_t TZumvoTransaction::GetInvoiceTill(std::int32_t invoiceNum) {
    std::int32_t result = -1;
    Guarded("TZumvoTransaction.GetInvoiceTill", [&] {
        auto db = NewDBScript();
        const TJSONDocument rows =
            QueryRows(*db, "SELECT [InvoiceNum], [fkTillID] FROM [INVOICES] WHERE [InvoiceNum] = %d",
                      {Arg(invoiceNum)});
        if (rows._Count() > 0)
            result = rows[0]["fkTillID"].AsInteger(-1);
    });
    return result;
}

} // namespace zumvo
