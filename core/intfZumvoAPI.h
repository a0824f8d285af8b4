// The SOAP client of the voucher provider.
#pragma once

#include "intfBase.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zumvo {

class IZumvoAPI : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{95A6DCCD-6735-44E9-8F05-1CBE25D4D754}"};

    // The base address given to the REST client and the resource requests are posted to.
    virtual void SetServer(const std::string& server, const std::string& url) = 0;
    // The API credentials sent with every request; the password never reaches the log.
    virtual void SetCredentials(const std::string& id, const std::string& password) = 0;
    // The provider store number and point-of-sale identifier sent with every request.
    virtual void SetStore(std::int32_t storeID, const std::string& posID) = 0;
    // Redeems a code: response is the raw answer text, or empty when no answer came (the error is
    // logged, never raised). Products is a JSON array of line items (Code, Price, Quantity), as
    // JSON text.
    virtual void Transaction(const std::string& basketID, const std::string& cashierID,
                             const std::string& trxID, const std::string& tokenID,
                             const std::string& tokenType, std::int32_t basketAmount,
                             std::int32_t totalAmount, const std::string& trxType,
                             const std::string& products, std::string& response) = 0;
    // Settles ("FINALISE") or gives back ("REVERSE") an earlier transaction: response is the raw
    // answer text, or empty when no answer came (the error is logged, never raised).
    virtual void Advice(const std::string& basketID, const std::string& cashierID, const std::string& trxID,
                        const std::string& action, std::int32_t tvTrxID, const std::string& trxType,
                        std::string& response) = 0;
    // The HTTP status of the last request's answer; 0 when no answer came (or none was sent).
    virtual std::int32_t GetLastStatus() = 0;
    // The resource requests are posted to (as SetServer named it).
    virtual std::string GetResource() = 0;
};

// ---- Reading answer values ----

// How the provider's responseCode reads when it accepted a request or an advice.
inline constexpr std::int32_t AcceptedCode = -1;
// The tvTrxId of a REVERSE that names the request by its references (basket and trxId) instead
// of a provider transaction number; every other advice names a positive number.
inline constexpr std::int32_t ByReference = 0;

// An integer member of an answer as XML Schema reads an xsd:int: the blanks around it (space,
// tab, CR, LF) collapsed, an optional '+' or '-', decimal digits, in 32-bit range. Anything else
// ("", "1.0", "1e3", "0x10", "1 2", "--1") is no integer: none.
inline std::optional<std::int32_t> ReadXsdInt(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return std::nullopt;
    text = text.substr(first, text.find_last_not_of(blanks) - first + 1);
    if (text.front() == '+') {
        text.remove_prefix(1); // from_chars takes '-' but not '+'
        if (text.empty() || text.front() == '-' || text.front() == '+')
            return std::nullopt;
    }
    std::int32_t value = 0;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(text.data(), last, value, 10);
    if (ec != std::errc() || end != last)
        return std::nullopt;
    return value;
}

// ReadXsdInt, or fallback when the text is no integer.
inline std::int32_t WholeNumberOr(std::string_view text, std::int32_t fallback) {
    return ReadXsdInt(text).value_or(fallback);
}

// An answer's responseCode: AcceptedCode means accepted; a text that is not a whole number reads 99999.
inline std::int32_t ParseResponseCode(std::string_view text) {
    return WholeNumberOr(text, 99999);
}

} // namespace zumvo
