// TPrinterAddonZumvo: the receipt's Zumvo block for an invoice paid or discounted with Zumvo
// codes: the basket, its total and each redeemed or finalised transaction.
#pragma once

#include "JsonDocument.h"
#include "clsInterfacedObject.h"
#include "intfPrinterAddon.h"
#include "intfServiceFactory.h"

#include <string>

namespace zumvo {

class TPrinterAddonZumvo : public pallux::TInterfacedObject<pallux::IPrinterAddon> {
public:
    // Reads the invoice's basket (member InvID) and its transactions and prepares the block;
    // failures are logged and leave no block.
    void PALLUX_CALL Initialise(const std::string& invoice) override;
    // The first three places get nothing: empty text, false.
    bool PALLUX_CALL GetAddonText1(std::string& text) override;
    bool PALLUX_CALL GetAddonText2(std::string& text) override;
    bool PALLUX_CALL GetAddonText3(std::string& text) override;
    // The block (lines ending CR LF) and true when a basket with transactions was found.
    bool PALLUX_CALL GetAddonText4(std::string& text) override;

private:
    TJSONDocument FInvoice;
    TJSONDocument FBasketRows = TJSONDocument::NewArray();
    TJSONDocument FTransactionRows = TJSONDocument::NewArray();
    bool FBasketFound = false;
    bool FTransactionsFound = false;
    std::string FReceiptText;
};

class TPrinterAddonZumvoFactory : public pallux::TServiceFactory<TPrinterAddonZumvo, pallux::IPrinterAddon> {
};

// A money value with two decimals and the system's decimal separator ("25.50").
std::string TwoDecimals(double value);

} // namespace zumvo
