#include "TTill.h"

#include "JsonDocument.h"
#include "TCashPaymentMethod.h"
#include "clsSysUtils.h"
#include "intfDisplayMessage.h"
#include "intfDynamicDiscount.h"
#include "intfEventManager.h"
#include "intfPaymentMethod.h"
#include "intfPrinterAddon.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace refhost {

namespace {

std::string Joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names)
        out += (out.empty() ? "" : ", ") + n;
    return out.empty() ? "none" : out;
}

std::optional<std::string> FindName(const std::vector<std::string>& names, const std::string& wanted) {
    for (const auto& n : names)
        if (pallux::SameText(n, wanted))
            return n;
    return std::nullopt;
}

std::string QuantityText(double q) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", q);
    return buf;
}

// Receipt columns: text left, amount right, 40 characters.
std::string Column(const std::string& left, const std::string& right) {
    constexpr std::size_t width = 40;
    const std::size_t used = left.size() + right.size();
    return left + std::string(used < width ? width - used : 1, ' ') + right;
}

// An add-on's text as receipt lines (CR LF or LF line ends).
void AppendLines(std::vector<std::string>& out, const std::string& text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (end < text.size() || !line.empty())
            out.push_back(line);
        start = end + 1;
    }
}

std::string NowText() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return buf;
}

} // namespace

TTill::TTill(TDIContainer& container, std::shared_ptr<THostContext> ctx, std::shared_ptr<TDatabase> database)
    : FContainer(container), FContext(std::move(ctx)), FStore(std::move(database)),
      FTillID(FContext->Config.ReadInteger("Host", "TillID", 1)),
      FShiftNum(FContext->Config.ReadInteger("Host", "ShiftNum", 1)),
      FCashier(FContext->Config.ReadString("Access", "User", "Cashier")),
      FInvoice(FStore.ReserveInvoiceNum(FTillID), FCashier) {
    FStore.OpenShift(FShiftNum, FTillID);
}

TTill::~TTill() = default;

std::optional<TInvoiceStatus> TTill::RecalledStatus() const {
    if (!FRecalled)
        return std::nullopt;
    return FRecalled->Status;
}

void TTill::SetCashier(const std::string& cashier) {
    FCashier = cashier;
    if (!FRecalled)
        FInvoice.SetCashier(cashier);
    Changed();
}

void TTill::Log(const std::string& kind, const std::string& text) {
    FContext->Transcript.Write(kind, text);
}

void TTill::Raise(const std::string& event, const std::string& data) {
    Log("EVENT", event);
    pallux::IntfPtr<pallux::IEventManager> events;
    if (FContainer.GetInstance(events))
        events->RaiseEvent(event, data, 0);
}

std::int32_t TTill::Ask(const std::string& text, std::int32_t msgType, std::int32_t buttons) {
    pallux::IntfPtr<pallux::IDisplayMessage> messages;
    if (!FContainer.CreateInstance(messages))
        return pallux::mrOK;
    return messages->ShowMessage(text, msgType, buttons);
}

void TTill::Changed() {
    if (OnChanged)
        OnChanged();
}

std::vector<std::string> TTill::TenderNames() const {
    std::vector<std::string> names;
    FContainer.GetFactoryNames(pallux::IPaymentMethod::IID, names);
    return names;
}

std::vector<std::string> TTill::VoucherNames() const {
    std::vector<std::string> names;
    FContainer.GetFactoryNames(pallux::IVoucher::IID, names);
    return names;
}

std::vector<std::string> TTill::DiscountNames() const {
    std::vector<std::string> names;
    FContainer.GetFactoryNames(pallux::IDynamicDiscount::IID, names);
    return names;
}

const std::vector<std::pair<std::string, pallux::IntfPtr<pallux::IVoucher>>>& TTill::Vouchers() {
    if (!FVouchersLoaded) {
        for (const auto& name : VoucherNames()) {
            pallux::IntfPtr<pallux::IVoucher> voucher;
            if (FContainer.CreateNamedInstance(name, voucher))
                FVouchers.emplace_back(name, voucher);
            else
                Log("TILL", "The voucher handler \"" + name + "\" could not be created");
        }
        FVouchersLoaded = true;
    }
    return FVouchers;
}

void TTill::RequireOpenSale(const char* action) const {
    if (FRecalled)
        throw ETillError(std::string("Invoice ") + std::to_string(FRecalled->InvoiceNum) +
                         " is completed: it cannot " + action + " (start a new sale first)");
}

// A sale with vouchers applied has them applied again to its new total whenever it changes. Once
// another tender has taken part of it, the vouchers would be asked for the whole new total and
// that part paid twice (or kept without change): the cashier gives it back first.
void TTill::RequireNoOtherPayments() const {
    if (!FInvoice.HasVouchers())
        return;
    std::string taken;
    for (const auto& p : FInvoice.Payments())
        if (!p.FromVoucher)
            taken += (taken.empty() ? "" : ", ") + p.Type + " " + CentsText(p.Amount);
    if (!taken.empty())
        throw ETillError("Give back " + taken +
                         " first: a sale with vouchers applied cannot change once another payment is taken");
}

void TTill::AddLine(const TInvoiceLine& line) {
    RequireOpenSale("take more lines");
    RequireNoOtherPayments();
    FInvoice.AddLine(line);
    Log("LINE", "added " + line.Code + " " + QuantityText(line.Quantity) + " x " + CentsText(line.Price) +
                    "; total " + CentsText(FInvoice.AfterDisc()));
    AfterLinesChanged();
}

void TTill::RemoveLine(const std::string& code) {
    RequireOpenSale("lose lines");
    RequireNoOtherPayments();
    FInvoice.RemoveLine(code);
    Log("LINE", "removed " + code + "; total " + CentsText(FInvoice.AfterDisc()));
    AfterLinesChanged();
}

void TTill::ChangeQuantity(const std::string& code, double quantity) {
    RequireOpenSale("change lines");
    RequireNoOtherPayments();
    FInvoice.ChangeQuantity(code, quantity);
    Log("LINE", "quantity of " + code + " is now " + QuantityText(quantity) + "; total " +
                    CentsText(FInvoice.AfterDisc()));
    AfterLinesChanged();
}

void TTill::AfterLinesChanged() {
    FPaid = false;
    if (FInvoice.HasVouchers())
        Recalculate();
    Changed();
}

bool TTill::Voucher() {
    RequireOpenSale("take vouchers");
    if (FInvoice.Empty())
        throw ETillError("Ring up a line before applying vouchers");
    if (Vouchers().empty())
        throw ETillError("No voucher handler is registered");
    // A voucher is asked for the invoice's total: after another tender has taken part of it, the
    // customer would pay that part twice.
    for (const auto& p : FInvoice.Payments())
        if (!p.FromVoucher)
            throw ETillError("Apply vouchers before other payments: " + p.Type + " " + CentsText(p.Amount) +
                             " is already taken");
    bool all = true;
    for (const auto& [name, voucher] : Vouchers()) {
        std::string answer;
        const bool ok = voucher->DoVoucher(FInvoice.DataDocument(), answer, true);
        Log("VOUCHER", name + (ok ? " answered true: " : " answered false: ") + answer);
        all = all && ok;
        if (!answer.empty() && FInvoice.ApplyVoucherReturn(answer, false))
            Log("TOTALS", "total " + CentsText(FInvoice.AfterDisc()) + ", outstanding " +
                              CentsText(FInvoice.Outstanding()));
    }
    Changed();
    return all;
}

bool TTill::Recalculate() {
    RequireOpenSale("be recalculated");
    if (!FInvoice.HasVouchers()) {
        Log("RECALCULATE", "no vouchers applied: nothing to recalculate");
        return true;
    }
    RequireNoOtherPayments();
    bool all = true;
    for (const auto& [name, voucher] : Vouchers()) {
        std::string answer;
        const bool ok = voucher->DoVoucher(FInvoice.DataDocument(), answer, false);
        Log("RECALCULATE", name + (ok ? " answered true: " : " answered false: ") + answer);
        all = all && ok;
        if (!answer.empty() && FInvoice.ApplyVoucherReturn(answer, true))
            Log("TOTALS", "total " + CentsText(FInvoice.AfterDisc()) + ", outstanding " +
                              CentsText(FInvoice.Outstanding()));
    }
    FPaid = false;
    Changed();
    return all;
}

void TTill::Discount(const std::string& wanted) {
    RequireOpenSale("take discounts");
    if (FInvoice.Empty())
        throw ETillError("Ring up a line before applying a discount");
    RequireNoOtherPayments();
    for (const auto& name : DiscountNames()) {
        pallux::IntfPtr<pallux::IDynamicDiscount> discount;
        if (!FContainer.CreateNamedInstance(name, discount))
            continue;
        std::string id, title;
        discount->GetDiscountID(id);
        discount->GetDiscountName(title);
        if (!pallux::SameText(name, wanted) && !pallux::SameText(id, wanted) &&
            !pallux::SameText(title, wanted))
            continue;
        std::string result;
        discount->ApplyDiscount(FInvoice.DataDocument(), result);
        Log("DISCOUNT", title + " (" + id + ") answered " + result);
        try {
            const auto r = zumvo::TJSONDocument::Parse(result);
            const TMoney amount = ToCents(r["DiscountAmount"].AsFloat(0));
            if (r["Result"].AsBoolean(false) && amount != 0) {
                FInvoice.AddDiscount({id, title, amount, false});
                FPaid = false;
            }
        } catch (const std::exception& e) {
            Log("DISCOUNT", "the answer could not be read: " + std::string(e.what()));
        }
        Changed();
        return;
    }
    throw ETillError("No discount \"" + wanted + "\"; discounts: " + Joined(DiscountNames()));
}

bool TTill::Pay(const std::string& wanted, std::optional<TMoney> amount) {
    RequireOpenSale("take payments");
    if (FInvoice.Empty())
        throw ETillError("Ring up a line before taking payment");
    const auto names = TenderNames();
    const auto name = FindName(names, wanted);
    if (!name)
        throw ETillError("No tender \"" + wanted + "\"; tenders: " + Joined(names));
    const TMoney outstanding = std::max<TMoney>(0, FInvoice.Outstanding());
    const TMoney offered = amount.value_or(outstanding);
    if (offered < 0)
        throw ETillError("A payment cannot be negative");

    Raise(pallux::HostEvent::BeforePayment, FInvoice.DataDocument());
    pallux::IntfPtr<pallux::IPaymentMethod> tender;
    bool taken = false;
    if (FContainer.CreateNamedInstance(*name, tender)) {
        tender->SetAmount(offered * (pallux::CurrencyScale / 100));
        taken = tender->Pay();
    } else {
        Log("PAYMENT", "the tender \"" + *name + "\" could not be created");
    }
    if (taken) {
        const TMoney kept = std::min(offered, outstanding);
        if (kept > 0)
            FInvoice.AddPayment({*name, kept, false});
        Log("PAYMENT", *name + " " + CentsText(offered) + " taken" +
                           (offered > kept ? ", change " + CentsText(offered - kept) : std::string()) +
                           "; outstanding " + CentsText(FInvoice.Outstanding()));
    } else {
        Log("PAYMENT", *name + " did not take the payment; outstanding " + CentsText(FInvoice.Outstanding()));
    }
    FPaid = taken && FInvoice.Outstanding() <= 0;
    Raise(FPaid ? pallux::HostEvent::AfterPaymentSuccess : pallux::HostEvent::AfterPaymentFailed,
          FInvoice.DataDocument());
    Changed();
    return taken;
}

void TTill::GiveBack() {
    RequireOpenSale("give payments back");
    const auto given = FInvoice.RemoveOtherPayments();
    if (given.empty())
        throw ETillError("Invoice " + std::to_string(FInvoice.InvoiceNum()) +
                         " has no payment of another tender to give back");
    std::string text;
    for (const auto& p : given)
        text += (text.empty() ? "" : ", ") + p.Type + " " + CentsText(p.Amount);
    Log("PAYMENT", text + " given back; outstanding " + CentsText(FInvoice.Outstanding()));
    FPaid = false;
    Changed();
}

void TTill::Complete(bool driverInvoice) {
    RequireOpenSale("be completed again");
    if (FInvoice.Empty())
        throw ETillError("The invoice has no lines");
    if (FInvoice.Outstanding() > 0 && !driverInvoice)
        throw ETillError(CentsText(FInvoice.Outstanding()) + " is still to pay on invoice " +
                         std::to_string(FInvoice.InvoiceNum()));
    if (!FPaid && !driverInvoice) {
        // Fully paid by vouchers: the payment round still runs, with nothing to take.
        Raise(pallux::HostEvent::BeforePayment, FInvoice.DataDocument());
        Log("PAYMENT", "nothing to take");
        Raise(pallux::HostEvent::AfterPaymentSuccess, FInvoice.DataDocument());
        FPaid = true;
    }
    // The invoice is stored before its vouchers are settled: money never moves for an invoice that
    // could not be saved.
    try {
        FStore.Save(FInvoice, FTillID, FShiftNum);
    } catch (const std::exception& e) {
        throw ETillError("Invoice " + std::to_string(FInvoice.InvoiceNum()) +
                         " could not be saved: " + e.what());
    }
    const std::string data = FInvoice.DataDocument();
    for (const auto& [name, voucher] : Vouchers()) {
        std::string answer;
        const bool ok = voucher->TransactionFinalise(data, answer);
        Log("FINALISE", name + (ok ? " answered true: " : " answered false: ") + answer);
    }
    Log("COMPLETE", "invoice " + std::to_string(FInvoice.InvoiceNum()) + " total " +
                        CentsText(FInvoice.AfterDisc()) +
                        (driverInvoice ? ", driver's invoice: " + CentsText(FInvoice.Outstanding()) +
                                             " to collect at the driver cash-up"
                                       : std::string()));
    FLastCompleted = FInvoice.InvoiceNum();
    FLastReceipt = PrintReceipt();
    for (const auto& line : FLastReceipt)
        Log("RECEIPT", line);
    StartNewSale();
}

std::vector<std::string> TTill::PrintReceipt() {
    std::vector<std::string> out;
    const TInvoice& inv = FInvoice;
    out.push_back(Column("PALLUX  Store " + FContext->Config.ReadString("Host", "StoreID", "-"),
                         "Till " + std::to_string(FTillID)));
    out.push_back(Column("Invoice " + std::to_string(inv.InvoiceNum()), NowText()));
    out.push_back("Cashier: " + inv.Cashier());
    out.push_back(std::string(40, '-'));
    for (const auto& l : inv.Lines())
        out.push_back(Column(l.Description + "  " + QuantityText(l.Quantity) + " x " + CentsText(l.Price),
                             CentsText(l.Total())));
    out.push_back(Column("Subtotal", CentsText(inv.SubTotal())));
    for (const auto& d : inv.Discounts())
        out.push_back(Column("Discount " + d.Code + " (" + d.Name + ")", CentsText(-d.Amount)));
    out.push_back(Column("TOTAL", CentsText(inv.AfterDisc())));
    for (const auto& p : inv.Payments())
        out.push_back(Column("  " + p.Type, CentsText(p.Amount)));
    if (inv.Outstanding() > 0)
        out.push_back(Column("  Due at delivery", CentsText(inv.Outstanding())));
    std::vector<std::string> addons;
    FContainer.GetFactoryNames(pallux::IPrinterAddon::IID, addons);
    for (const auto& name : addons) {
        pallux::IntfPtr<pallux::IPrinterAddon> addon;
        if (!FContainer.CreateNamedInstance(name, addon))
            continue;
        addon->Initialise(inv.DataDocument());
        std::string text;
        for (auto get : {&pallux::IPrinterAddon::GetAddonText1, &pallux::IPrinterAddon::GetAddonText2,
                         &pallux::IPrinterAddon::GetAddonText3, &pallux::IPrinterAddon::GetAddonText4}) {
            text.clear();
            if (((*addon).*get)(text))
                AppendLines(out, text);
        }
    }
    out.push_back(std::string(40, '-'));
    return out;
}

void TTill::ResetVouchers() {
    for (const auto& [name, voucher] : Vouchers())
        voucher->Reset();
}

void TTill::StartNewSale() {
    ResetVouchers();
    FRecalled.reset();
    FPaid = false;
    FInvoice = TInvoice(FStore.ReserveInvoiceNum(FTillID), FCashier);
    Changed();
}

void TTill::CancelInvoice() {
    if (FRecalled) {
        Log("CANCEL", "invoice " + std::to_string(FRecalled->InvoiceNum) + " put away");
        StartNewSale();
        return;
    }
    const std::string data = FInvoice.DataDocument();
    for (const auto& [name, voucher] : Vouchers()) {
        const bool ok = voucher->CancelVoucher(data);
        Log("CANCEL", name + (ok ? " answered true" : " answered false"));
    }
    Log("CANCEL", "invoice " + std::to_string(FInvoice.InvoiceNum()) + " cancelled");
    StartNewSale();
}

void TTill::NewSale() {
    if (!FRecalled && !FInvoice.Empty())
        throw ETillError("Complete or cancel invoice " + std::to_string(FInvoice.InvoiceNum()) + " first");
    StartNewSale();
}

void TTill::Recall(std::int32_t invoiceNum) {
    if (!FRecalled && !FInvoice.Empty())
        throw ETillError("Complete or cancel invoice " + std::to_string(FInvoice.InvoiceNum()) +
                         " before recalling another");
    auto stored = FStore.Load(invoiceNum);
    if (!stored)
        throw ETillError("There is no invoice " + std::to_string(invoiceNum));
    FInvoice = TInvoice(invoiceNum, stored->Cashier);
    FInvoice.Restore(stored->Lines, stored->Discounts, stored->Payments, stored->VoucherReturn);
    FRecalled = std::move(stored);
    for (const auto& [name, voucher] : Vouchers())
        voucher->PopulateForInvoice(invoiceNum, FRecalled->VoucherReturn);
    Log("RECALL", "invoice " + std::to_string(invoiceNum) + " total " + CentsText(FRecalled->AfterDisc) +
                      ", status " + std::to_string(static_cast<int>(FRecalled->Status)));
    Changed();
}

void TTill::Override() {
    if (!FRecalled)
        throw ETillError("Recall a completed invoice before overriding it");
    const std::int32_t num = FRecalled->InvoiceNum;
    if (FRecalled->Status != TInvoiceStatus::Normal)
        throw ETillError("Invoice " + std::to_string(num) + " was overridden already");
    for (const auto& [name, voucher] : Vouchers())
        voucher->OverringInvoice(0, num);
    for (const auto& name : TenderNames()) {
        pallux::IntfPtr<pallux::IPaymentMethod> tender;
        if (FContainer.CreateNamedInstance(name, tender))
            tender->DoOverringInvoice();
    }
    FStore.SetStatus(num, TInvoiceStatus::Overridden);
    Log("OVERRIDE", "invoice " + std::to_string(num) + " overridden (status " +
                        std::to_string(static_cast<int>(TInvoiceStatus::Overridden)) + ")");
    StartNewSale();
}

std::vector<TCashupEntry> TTill::DriverCashup(std::int32_t invoiceNum) {
    if (FRecalled || !FInvoice.Empty())
        throw ETillError("Finish the open sale before the driver cash-up");
    const auto stored = FStore.Load(invoiceNum);
    if (!stored)
        throw ETillError("There is no invoice " + std::to_string(invoiceNum));
    if (!FStore.CashupEntries(invoiceNum).empty())
        throw ETillError("Invoice " + std::to_string(invoiceNum) + " was cashed up already");
    // An overridden or refunded invoice's payments were given back: there is nothing to collect.
    if (stored->Status != TInvoiceStatus::Normal)
        throw ETillError("Invoice " + std::to_string(invoiceNum) + " was " +
                         (stored->Status == TInvoiceStatus::Overridden ? "overridden" : "refunded") +
                         ": there is nothing to collect");

    for (const auto& [name, voucher] : Vouchers())
        voucher->PopulateForInvoice(invoiceNum, stored->VoucherReturn);
    const std::string data = std::to_string(invoiceNum);
    std::vector<TCashupEntry> entries;
    Raise(pallux::HostEvent::DriverCashupStart, data);
    Raise(pallux::HostEvent::DriverCashupPayment, data);
    std::vector<TInvoicePayment> payments = stored->Payments;
    TMoney paid = 0;
    for (const auto& p : payments)
        paid += p.Amount;
    if (stored->AfterDisc > paid) {
        const TInvoicePayment cash{TCashPaymentMethod::Name, stored->AfterDisc - paid, false};
        FStore.AddPayment(invoiceNum, cash);
        payments.push_back(cash);
        Log("CASHUP", "invoice " + data + ": " + CentsText(cash.Amount) + " cash collected from the driver");
    }
    Raise(pallux::HostEvent::DriverCashupInsertCashup, data);
    const pallux::TAddCashupEntryProc addEntry = [&](std::int32_t b, std::int32_t a, const std::string& code,
                                                     std::int32_t, std::int32_t, double amount, std::int32_t,
                                                     std::int32_t) {
        const TCashupEntry entry{b, a, code, amount};
        FStore.AddCashupEntry(entry);
        entries.push_back(entry);
        Log("CASHUP ENTRY", "invoice " + std::to_string(b) + " till " + std::to_string(a) + " " + code + " " +
                                CentsText(ToCents(amount)));
    };
    const pallux::TPaymentCodeProc reportCode = [&](std::int32_t b, std::int32_t a, const std::string& code) {
        Log("PAYMENT CODE", "invoice " + std::to_string(b) + " till " + std::to_string(a) + " " + code);
    };
    for (const auto& name : TenderNames()) {
        pallux::IntfPtr<pallux::IPaymentMethod> tender;
        if (!FContainer.CreateNamedInstance(name, tender))
            continue;
        TMoney amount = 0;
        for (const auto& p : payments)
            if (pallux::SameText(p.Type, name))
                amount += p.Amount;
        tender->SetAmount(amount * (pallux::CurrencyScale / 100));
        tender->AddCashupEntry(FTillID, invoiceNum, addEntry);
        tender->ReportPaymentCode(FTillID, invoiceNum, reportCode);
    }
    Raise(pallux::HostEvent::DriverCashupComplete, data);
    ResetVouchers();
    Changed();
    return entries;
}

} // namespace refhost
