#include "clsVoucherReturn.h"

#include <QLocale>
#include <QString>

#include <fmt/format.h>

namespace zumvo {

TVoucherKind VoucherKindOf(double payment, double discount) {
    if (payment == 0 && discount == 0)
        return TVoucherKind::Loyalty;
    if (payment > 0 && discount == 0)
        return TVoucherKind::Payment;
    if (payment == 0 && discount > 0)
        return TVoucherKind::Discount;
    if (payment > 0 && discount > 0)
        return TVoucherKind::PaymentDiscount;
    return TVoucherKind::Invalid;
}

std::string FailureAnswer() {
    TJSONDocument answer;
    answer.Add("Result", false);
    return answer.ToJSON();
}

void AddTenderMembers(TJSONValue document, TVoucherKind kind, double payment, double discount,
                      const std::function<std::string()>& discountCode) {
    const bool hasPayment = kind == TVoucherKind::Payment || kind == TVoucherKind::PaymentDiscount;
    const bool hasDiscount = kind == TVoucherKind::Discount || kind == TVoucherKind::PaymentDiscount;
    if (!hasPayment && !hasDiscount)
        return;
    document.Add("VoucherType", kind == TVoucherKind::Payment    ? "Payment"
                                : kind == TVoucherKind::Discount ? "Discount"
                                                                 : "PaymentDiscount");
    if (hasPayment) {
        document.Add("PaymentType", "Zumvo");
        document.Add("PaymentAmount", payment);
    }
    if (hasDiscount) {
        document.Add("DiscountAmount", discount);
        document.Add("DiscountIsPercent", false);
        document.Add("DiscountOverride", false);
        document.Add("DiscountCode", discountCode());
    }
    document.Add("Result", true);
}

void AddLoyaltyMembers(TJSONValue document) {
    document.Add("VoucherType", "Loyalty");
    document.Set("VoucherAmount", 0.0);
    document.Add("PaymentAmount", 0.0);
    document.Add("DiscountAmount", 0.0);
    document.Add("Result", true);
}

std::string MoneyText(double amount) {
    return QLocale::system().toCurrencyString(amount).toStdString();
}

std::string FixedText(double amount) {
    return fmt::format("{:.2f}", amount);
}

} // namespace zumvo
