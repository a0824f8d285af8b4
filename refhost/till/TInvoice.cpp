#include "TInvoice.h"

#include "JsonDocument.h"
#include "clsMoney.h"
#include "clsSysUtils.h"

#include <algorithm>
#include <cmath>

namespace refhost {

TMoney ToCents(double units) {
    return static_cast<TMoney>(std::llround(units * 100.0));
}

double ToUnits(TMoney cents) {
    return static_cast<double>(cents) / 100.0;
}

std::string CentsText(TMoney cents) {
    return zumvo::FixedText(cents);
}

TMoney TInvoiceLine::Total() const {
    return static_cast<TMoney>(std::llround(static_cast<double>(Price) * Quantity));
}

TInvoice::TInvoice(std::int32_t invoiceNum, std::string cashier)
    : FInvoiceNum(invoiceNum), FCashier(std::move(cashier)) {}

std::vector<TInvoiceLine>::iterator TInvoice::FindLine(const std::string& code) {
    return std::find_if(FLines.begin(), FLines.end(),
                        [&](const TInvoiceLine& l) { return pallux::SameText(l.Code, code); });
}

void TInvoice::AddLine(const TInvoiceLine& line) {
    if (line.Code.empty())
        throw ETillError("A line needs a code");
    if (!(line.Quantity > 0))
        throw ETillError("The quantity of " + line.Code + " must be above 0");
    if (line.Price < 0)
        throw ETillError("The price of " + line.Code + " must not be negative");
    const auto it = FindLine(line.Code);
    if (it != FLines.end() && it->Price == line.Price) {
        it->Quantity += line.Quantity;
        return;
    }
    FLines.push_back(line);
    if (FLines.back().Description.empty())
        FLines.back().Description = line.Code;
}

void TInvoice::RemoveLine(const std::string& code) {
    const auto it = FindLine(code);
    if (it == FLines.end())
        throw ETillError("The invoice has no line " + code);
    FLines.erase(it);
}

void TInvoice::ChangeQuantity(const std::string& code, double quantity) {
    const auto it = FindLine(code);
    if (it == FLines.end())
        throw ETillError("The invoice has no line " + code);
    if (!(quantity > 0))
        throw ETillError("The quantity of " + code + " must be above 0");
    it->Quantity = quantity;
}

void TInvoice::AddDiscount(const TInvoiceDiscount& discount) {
    FDiscounts.push_back(discount);
}

void TInvoice::AddPayment(const TInvoicePayment& payment) {
    FPayments.push_back(payment);
}

std::vector<TInvoicePayment> TInvoice::RemoveOtherPayments() {
    std::vector<TInvoicePayment> removed;
    std::erase_if(FPayments, [&](const TInvoicePayment& p) {
        if (p.FromVoucher)
            return false;
        removed.push_back(p);
        return true;
    });
    return removed;
}

TMoney TInvoice::SubTotal() const {
    TMoney sum = 0;
    for (const auto& l : FLines)
        sum += l.Total();
    return sum;
}

TMoney TInvoice::DiscountTotal() const {
    TMoney sum = 0;
    for (const auto& d : FDiscounts)
        sum += d.Amount;
    return sum;
}

TMoney TInvoice::AfterDisc() const {
    return SubTotal() - DiscountTotal();
}

TMoney TInvoice::Paid() const {
    TMoney sum = 0;
    for (const auto& p : FPayments)
        sum += p.Amount;
    return sum;
}

TMoney TInvoice::Outstanding() const {
    return AfterDisc() - Paid();
}

std::string TInvoice::DataDocument() const {
    auto doc = zumvo::TJSONDocument::NewObject();
    doc.Add("AfterDisc", ToUnits(AfterDisc()));
    auto items = doc.AddArray("LineItems");
    for (const auto& l : FLines) {
        auto item = items.AppendObject();
        item.Add("Code", l.Code);
        item.Add("Price", ToUnits(l.Price));
        item.Add("Quantity", l.Quantity);
    }
    doc.Add("Cashier", FCashier);
    doc.Add("InvoiceNum", FInvoiceNum);
    doc.Add("InvID", FInvoiceNum);
    return doc.ToJSON();
}

void TInvoice::DropVoucherParts() {
    std::erase_if(FDiscounts, [](const TInvoiceDiscount& d) { return d.FromVoucher; });
    std::erase_if(FPayments, [](const TInvoicePayment& p) { return p.FromVoucher; });
    FVoucherReturn.clear();
}

bool TInvoice::ApplyVoucherReturn(const std::string& voucherReturn, bool recalculation) {
    zumvo::TJSONDocument r;
    try {
        r = zumvo::TJSONDocument::Parse(voucherReturn);
    } catch (const std::exception& e) {
        throw ETillError("The voucher answer is not a JSON document: " + std::string(e.what()));
    }
    if (!r.IsObject())
        throw ETillError("The voucher answer is not a JSON object: " + voucherReturn);
    if (r.Exists("Changed") && !r["Changed"].AsBoolean(true))
        return false;
    if (!r["Result"].AsBoolean(false)) {
        if (!recalculation || !HasVouchers())
            return false;
        DropVoucherParts();
        return true;
    }
    DropVoucherParts();
    const std::string type = r["VoucherType"].AsString("");
    const bool hasPayment = type == "Payment" || type == "PaymentDiscount";
    const bool hasDiscount = type == "Discount" || type == "PaymentDiscount";
    if (hasPayment) {
        const TMoney amount = ToCents(r["PaymentAmount"].AsFloat(0));
        if (amount != 0)
            AddPayment({r["PaymentType"].AsString("Zumvo"), amount, true});
    }
    if (hasDiscount) {
        TMoney amount = ToCents(r["DiscountAmount"].AsFloat(0));
        if (r["DiscountIsPercent"].AsBoolean(false))
            amount = static_cast<TMoney>(
                std::llround(static_cast<double>(SubTotal()) * r["DiscountAmount"].AsFloat(0) / 100.0));
        if (amount != 0)
            AddDiscount({r["DiscountCode"].AsString(""), "Zumvo voucher", amount, true});
    }
    FVoucherReturn = voucherReturn;
    return true;
}

void TInvoice::Restore(std::vector<TInvoiceLine> lines, std::vector<TInvoiceDiscount> discounts,
                       std::vector<TInvoicePayment> payments, std::string voucherReturn) {
    FLines = std::move(lines);
    FDiscounts = std::move(discounts);
    FPayments = std::move(payments);
    FVoucherReturn = std::move(voucherReturn);
}

} // namespace refhost
