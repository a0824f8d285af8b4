// Re-application: when the host asks for the vouchers again without the cashier and the invoice
// has changed since, the current basket's codes are given back and sent again for the new total,
// each for what the codes before it left to pay, in the order the cashier applied them. It works
// on the engine's current basket and writes its lines under the engine's DoVoucher.
#pragma once

#include "JsonDocument.h"
#include "clsMoney.h"
#include "intfActivityMessage.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace zumvo {

class TVoucherZumvo;

class TReapplication {
public:
    // engine: the engine whose current basket is re-applied; activity: the host's activity text,
    // empty when there is none, reset before a message to the cashier shows.
    TReapplication(TVoucherZumvo& engine, pallux::IntfPtr<pallux::IActivityMessage>& activity);

    // The last answer again (result true) when the invoice's total and line count are those of the
    // last call; otherwise gives the codes back, sends them again for data's AfterDisc plus the
    // Zumvo discounts given so far, and answers the voucher-return document rebuilt from the
    // basket, result its Result. A code applied twice is sent once, a code whose reversal was not
    // confirmed not at all; the cashier is told of both and of a failed re-application.
    void Run(const TJSONDocument& data, std::string& answer, bool& result);

private:
    // Codes kept once each, sorted without regard to case.
    struct TCaseInsensitiveLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    using TCodeList = std::set<std::string, TCaseInsensitiveLess>;

    // The live codes of the basket before they are given back.
    struct TAppliedCodes {
        TCodeList ToSend;                  // the codes to send again
        std::vector<std::string> InOrder;  // the codes in the order the cashier applied them
        std::vector<std::string> Repeated; // codes applied more than once: re-applied once
        TCents Discount = 0;               // the Zumvo discounts they gave
        TCents StillPaying = 0;            // what the codes that could not be given back still cover
        std::set<std::int32_t> NotSent;    // their rows
    };

    TVoucherZumvo& Engine;
    pallux::IntfPtr<pallux::IActivityMessage>& Activity;

    // Sends one code as a PAYMENT transaction for the amount in a new row of the engine's current
    // basket. The record holds PaymentMade, and for an accepted or refused code its Data, Zumvo and
    // Status; an accepted code's also its TransactionID, tvTrxID and amounts; Error the reason a
    // code was not accepted. An error is logged and leaves the record empty.
    TJSONDocument AddZumvoVoucher(const std::string& code, const std::string& cashier, TCents amount,
                                  const TJSONValue& lineItems);
    bool InvoiceChanged(const TJSONDocument& data) const;
    TAppliedCodes CollectLiveCodes() const;
    // Gives the basket back; codes whose reversal was not confirmed still hold the customer's
    // money and leave ToSend; those not even sent still pay (StillPaying).
    void GiveBack(const std::string& cashier, TAppliedCodes& codes);
    // The records of the codes sent again, from amount down.
    TJSONDocument SendAgain(const TAppliedCodes& codes, TCents amount, const std::string& cashier,
                            const TJSONValue& lineItems);
    void SaveAccepted(const TJSONDocument& results);
    // The voucher-return document of the reloaded basket, its total saved on the basket.
    TJSONDocument SaveReturn();
    void TellCashier(const std::vector<std::string>& repeated, bool applied, TCents voucherAmount);
    // Codes that still pay more than the new total: they pay nothing until they are given back.
    void StopPaying(std::string& answer, bool& result);
};

} // namespace zumvo
