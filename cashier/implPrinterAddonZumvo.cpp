#include "implPrinterAddonZumvo.h"

#include "ZumvoLog.h"
#include "clsDBAccess.h"
#include "clsTransactionStatus.h"

#include <cstdio>

namespace zumvo {

namespace {

const char* const CRLF = "\r\n";

bool NoText(std::string& text) {
    text.clear();
    return false;
}

} // namespace

std::string TwoDecimals(double value) {
    // printf follows the process's numeric locale, which is where the system's separator lives.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    return buffer;
}

void PALLUX_CALL TPrinterAddonZumvo::Initialise(const std::string& invoice) {
    Guarded("TPrinterAddonZumvo.Initialise", [&] {
        FInvoice = TJSONDocument::Parse(invoice);
        auto db = NewDBScript();
        FBasketRows = QueryRows(*db, "SELECT * FROM [ZumvoPaymentBasket] WHERE [InvoiceNum] = %d",
                                {std::int64_t{FInvoice["InvID"].AsInteger()}});
        FBasketFound = FBasketRows._Count() > 0;
        if (!FBasketFound)
            return;
        const TJSONValue basket = FBasketRows[0];
        LogInfo("[TPrinterAddonZumvo.Initialise] Found Basket : %", basket["ID"].AsString(""));

        FTransactionRows = QueryRows(*db, "SELECT * FROM [ZumvoPaymentTransactions] WHERE [BasketID] = %d",
                                     {std::int64_t{basket["ID"].AsInteger()}});
        LogInfo("[TPrinterAddonZumvo.Initialise] Found transactions : %", FTransactionRows._Count());
        FTransactionsFound = FTransactionRows._Count() > 0;
        if (!FTransactionsFound)
            return;

        std::string& text = FReceiptText; // built in place: a failure keeps what was built
        text = CRLF;
        text += std::string("**** Zumvo Payment Details ****") + CRLF;
        text += "Basket ID : " + basket["ID"].AsString() + CRLF;
        text += "Total     : " + TwoDecimals(basket["TotalAmount"].AsFloat(0)) + CRLF;
        text += std::string("Transactions : ") + CRLF;
        for (int i = 0; i < FTransactionRows._Count(); ++i) {
            const TJSONValue row = FTransactionRows[i];
            const auto status = ToTransactionStatus(row["Status"].AsInteger(0));
            const char* label = status == TTransactionStatus::Finalised  ? "*  FINAL: tvTrxID: "
                                : status == TTransactionStatus::Redeemed ? "*  REDEEM: tvTrxID: "
                                                                         : nullptr;
            if (label)
                text += label + row["tvTrxID"].AsString("") + " - " + TwoDecimals(row["Amount"].AsFloat(0)) +
                        CRLF;
        }
    });
}

bool PALLUX_CALL TPrinterAddonZumvo::GetAddonText1(std::string& text) {
    return NoText(text);
}

bool PALLUX_CALL TPrinterAddonZumvo::GetAddonText2(std::string& text) {
    return NoText(text);
}

bool PALLUX_CALL TPrinterAddonZumvo::GetAddonText3(std::string& text) {
    return NoText(text);
}

bool PALLUX_CALL TPrinterAddonZumvo::GetAddonText4(std::string& text) {
    if (!(FBasketFound && FTransactionsFound))
        return NoText(text);
    text = FReceiptText;
    return true;
}

} // namespace zumvo
