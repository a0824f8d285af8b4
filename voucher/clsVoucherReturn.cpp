#include "clsVoucherReturn.h"

#include <QLocale>
#include <QString>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace zumvo {

namespace {

constexpr std::size_t DigitsSize = 48;

// `magnitude` (finite, not negative, below 1e15) with `decimals` digits after a '.', rounded to
// the nearest and halves away from zero, as QLocale rounds (std::to_chars rounds halves to even).
// Returns the length written to `buffer`.
std::size_t FixedDigits(double magnitude, int decimals, char (&buffer)[DigitsSize]) {
    char* const end = buffer + DigitsSize;
    if constexpr (std::numeric_limits<long double>::digits >= 64) {
        // 10^4 = 5^4 * 2^4 and 5^4 takes 10 bits: with 64 bits of mantissa the product is exact,
        // and so is its fraction part.
        constexpr long double Scales[] = {1, 10, 100, 1000, 10000};
        if (decimals <= 4 && magnitude < 1e9) {
            const long double scaled = static_cast<long double>(magnitude) * Scales[decimals];
            auto whole = static_cast<std::uint64_t>(scaled);
            if (scaled - static_cast<long double>(whole) >= 0.5L)
                ++whole;
            char digits[24];
            const auto count = std::size_t(std::to_chars(digits, digits + sizeof digits, whole).ptr - digits);
            const auto width = std::max(count, std::size_t(decimals) + 1); // "0.05", not ".05"
            std::copy(digits, digits + count, std::fill_n(buffer, width - count, '0'));
            if (decimals == 0)
                return width;
            std::copy_backward(buffer + width - std::size_t(decimals), buffer + width, buffer + width + 1);
            buffer[width - std::size_t(decimals)] = '.';
            return width + 1;
        }
    }
    const double scaled = std::ldexp(magnitude, decimals + 1);
    if (scaled != std::floor(scaled))
        return std::size_t(std::to_chars(buffer, end, magnitude, std::chars_format::fixed, decimals).ptr -
                           buffer);
    // At most decimals + 1 decimal places, so this text is exact; a final 5 is a half.
    char* last = std::to_chars(buffer, end, magnitude, std::chars_format::fixed, decimals + 1).ptr - 1;
    const bool half = *last == '5';
    if (decimals == 0)
        --last; // the point
    std::size_t length = std::size_t(last - buffer);
    if (!half)
        return length;
    for (std::size_t at = length; at-- > 0;) {
        if (buffer[at] == '.')
            continue;
        if (buffer[at] != '9') {
            ++buffer[at];
            return length;
        }
        buffer[at] = '0';
    }
    std::copy_backward(buffer, buffer + length, buffer + length + 1); // 9.99 became 0.00: 10.00
    buffer[0] = '1';
    return length + 1;
}

// The system's money format as QLocale writes it, learnt once: the texts before and after the
// number of amounts above and below zero, the currency's decimals, the decimal point and the
// ten digits. Amounts whose number needs no group separator (below 1000 once rounded) are
// written from these; larger ones, zeros with a minus sign, and every amount when the learnt
// format does not give the locale's own texts for a set of probe amounts, are left to QLocale.
class TMoneyFormat {
public:
    TMoneyFormat() {
        const QLocale locale = QLocale::system();
        FDirect = Learn(locale) && Reproduces(locale);
    }

    void Append(std::string& out, double amount) const {
        if (!AppendDirect(out, amount))
            out += QLocale::system().toCurrencyString(amount).toStdString();
    }

private:
    struct TAround {
        std::string Before, After;
    };

    bool Learn(const QLocale& locale) {
        const QString plus = locale.toCurrencyString(1.5), minus = locale.toCurrencyString(-1.5);
        for (int decimals = 6; decimals >= 0; --decimals) {
            const QString number = locale.toString(1.5, 'f', decimals);
            const qsizetype inPlus = plus.indexOf(number), inMinus = minus.indexOf(number);
            if (inPlus < 0 || inMinus < 0)
                continue;
            FDecimals = decimals;
            FPlus = {plus.left(inPlus).toStdString(), plus.mid(inPlus + number.size()).toStdString()};
            FMinus = {minus.left(inMinus).toStdString(), minus.mid(inMinus + number.size()).toStdString()};
            FPoint = locale.decimalPoint().toStdString();
            const QList<uint> zero = locale.zeroDigit().toUcs4();
            if (zero.size() != 1)
                return false;
            for (std::size_t d = 0; d < FDigits.size(); ++d) {
                const char32_t digit = char32_t(zero[0] + d);
                FDigits[d] = QString::fromUcs4(&digit, 1).toStdString();
            }
            FAsciiDigits = zero[0] == U'0';
            return true;
        }
        return false;
    }

    bool Reproduces(const QLocale& locale) {
        static const double probes[] = {0,       0.004,   0.005, 0.015,   0.125,  0.375,   0.5,     1,
                                        1.5,     2.5,     3.5,   9.995,   12.345, 45.5,    99.999,  100,
                                        123.456, 999.994, 999.5, 999.995, 1000,   1141.25, 123456.7};
        FDirect = true;
        for (double probe : probes)
            for (double amount : {probe, -probe}) {
                std::string direct;
                if (AppendDirect(direct, amount) && direct != locale.toCurrencyString(amount).toStdString())
                    return false;
            }
        return true;
    }

    bool AppendDirect(std::string& out, double amount) const {
        if (!FDirect || !std::isfinite(amount) || std::fabs(amount) >= 1000)
            return false;
        char digits[DigitsSize];
        const std::size_t length = FixedDigits(std::fabs(amount), FDecimals, digits);
        const std::size_t whole = FDecimals > 0 ? length - std::size_t(FDecimals) - 1 : length;
        if (whole > 3)
            return false; // rounded up to 1000: the locale groups it
        const bool minus = std::signbit(amount);
        if (minus && std::all_of(digits, digits + length, [](char c) { return c == '0' || c == '.'; }))
            return false; // how a minus zero shows is the locale's business
        const TAround& around = minus ? FMinus : FPlus;
        out += around.Before;
        if (FAsciiDigits) {
            out.append(digits, whole);
            if (FDecimals > 0) {
                out += FPoint;
                out.append(digits + whole + 1, std::size_t(FDecimals));
            }
        } else {
            for (std::size_t k = 0; k < length; ++k)
                out += digits[k] == '.' ? FPoint : FDigits[std::size_t(digits[k] - '0')];
        }
        out += around.After;
        return true;
    }

    bool FDirect = false;
    int FDecimals = 0;
    TAround FPlus, FMinus;
    std::string FPoint;
    std::array<std::string, 10> FDigits;
    bool FAsciiDigits = true;
};

const TMoneyFormat& SystemMoneyFormat() {
    static const TMoneyFormat format;
    return format;
}

} // namespace

TVoucherKind VoucherKindOf(TCents payment, TCents discount) {
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

void AddTenderMembers(TJSONValue document, TVoucherKind kind, TCents payment, TCents discount,
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
        document.Add("PaymentAmount", UnitsOf(payment));
    }
    if (hasDiscount) {
        document.Add("DiscountAmount", UnitsOf(discount));
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

std::string CurrencyText(double amount) {
    std::string text;
    SystemMoneyFormat().Append(text, amount);
    return text;
}

void AppendCurrencyText(std::string& out, double amount) {
    SystemMoneyFormat().Append(out, amount);
}

} // namespace zumvo
