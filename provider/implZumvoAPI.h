// TZumvoAPI: the SOAP client of the Trelvan voucher service. Builds the Transaction and Advice
// envelopes, posts them through the host's REST client and hands back the raw answer text.
#pragma once

#include "clsInterfacedObject.h"
#include "intfServiceFactory.h"
#include "intfZumvoAPI.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zumvo {

// The SOAP 1.1 envelope namespace and the provider's POS service namespace.
inline constexpr const char* SoapEnvelopeNamespace = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr const char* PosNamespace = "http://pos.services.trelvan.com/";

// What the log shows in place of the API password.
inline constexpr const char* MaskedPassword = "********";

struct TEnvelope;
struct TSoapCaller;

class TZumvoAPI : public pallux::TInterfacedObject<IZumvoAPI> {
public:
    void SetServer(const std::string& server, const std::string& url) override;
    void SetCredentials(const std::string& id, const std::string& password) override;
    void SetStore(std::int32_t storeID, const std::string& posID) override;
    // Never throws: a failure is logged and leaves response empty.
    void Transaction(const std::string& basketID, const std::string& cashierID, const std::string& trxID,
                     const std::string& tokenID, const std::string& tokenType, std::int32_t basketAmount,
                     std::int32_t totalAmount, const std::string& trxType, const std::string& products,
                     std::string& response) override;
    void Advice(const std::string& basketID, const std::string& cashierID, const std::string& trxID,
                const std::string& action, std::int32_t tvTrxID, const std::string& trxType,
                std::string& response) override;
    std::int32_t GetLastStatus() override { return FLastStatus; }
    std::string GetResource() override { return FUrl; }

private:
    std::int32_t FLastStatus = 0;
    std::int32_t FStoreID = 0;
    std::string FPosID;
    std::string FID;
    std::string FPassword;
    std::string FServer;
    std::string FUrl;

    // The caller values of the setters.
    TSoapCaller Caller() const;
    // Logs the request (password masked), posts it and logs the answer.
    std::string Send(std::string_view classMethod, const TEnvelope& envelope);
};

class TZumvoAPIFactory : public pallux::TServiceFactory<TZumvoAPI, IZumvoAPI> {};

// ---- Envelope building blocks (also used by the tests) ----

// The text escaped for XML element content and attribute values (& < > " ' and CR). Characters
// that XML 1.0 cannot carry at all (other control characters) raise std::invalid_argument.
std::string XmlEscape(std::string_view text);
// The same, appended to out.
void AppendXmlEscaped(std::string& out, std::string_view text);

// A quantity rounded to the nearest whole number, halves to the even neighbour (2.5 -> 2,
// 3.5 -> 4). Non-finite or out-of-range values raise std::out_of_range.
std::int64_t RoundUnits(double quantity);

// The product elements of a Products array given as JSON text (empty text: no items). Items
// without a Code are skipped. Bad JSON, a non-array or an item without a usable Price or
// Quantity raises an error.
std::string ProductElements(const std::string& productsJson);

// Who sends a request: the values every envelope carries from the client's setters.
struct TSoapCaller {
    std::string ID;
    std::string Password;
    std::int32_t StoreID = 0;
    std::string PosID;
};

// An envelope and where the text of its password element lies in it (for the log's mask).
struct TEnvelope {
    std::string Text;
    std::size_t PasswordFrom = 0;
    std::size_t PasswordLength = 0;
};

// The values of one Transaction request (amounts in cents).
struct TTransactionRequest {
    std::string BasketID;
    std::string CashierID;
    std::string TrxID;
    std::string TokenID;
    std::string TokenType;
    std::int32_t BasketAmount = 0;
    std::int32_t TotalAmount = 0;
    std::string TrxType;
    std::string ProductElements; // as ProductElements writes them
};

// The values of one Advice request.
struct TAdviceRequest {
    std::string BasketID;
    std::string CashierID;
    std::string TrxID;
    std::string Action; // "FINALISE" or "REVERSE"
    std::int32_t TvTrxID = 0;
    std::string TrxType;
};

// The envelopes as sent, one element per line with CR LF; every value XML-escaped. A value that
// XML cannot carry raises std::invalid_argument naming its element.
std::string TransactionEnvelope(const TSoapCaller& caller, const TTransactionRequest& request);
std::string AdviceEnvelope(const TSoapCaller& caller, const TAdviceRequest& request);
// The same envelopes with where their password element's text lies.
TEnvelope BuildTransactionEnvelope(const TSoapCaller& caller, const TTransactionRequest& request);
TEnvelope BuildAdviceEnvelope(const TSoapCaller& caller, const TAdviceRequest& request);

// The text with the content of every password element (up to its closing tag, CDATA and
// comments included; to the end of a cut-off text) and the value of every password attribute
// replaced by MaskedPassword, for the log.
std::string MaskPasswordElements(std::string_view xml);

// MaskPasswordElements, and further every occurrence of the password itself, as written and
// XML-escaped (once, or twice as in an echo of an escaped envelope), wherever it stands: the
// form the log shows of a request or answer.
std::string MaskPassword(std::string_view text, std::string_view password);
// False when MaskPassword(text, password) is sure to change nothing (nothing in the text is named
// password, and the password does not occur): the text can then be logged as it is.
bool MayHoldPassword(std::string_view text, std::string_view password);

} // namespace zumvo
