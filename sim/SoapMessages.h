// The voucher service's SOAP messages: reading the transaction and advise requests, and writing
// the answers, both sound and deliberately broken ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

inline constexpr const char* SoapEnvelopeNamespace = "http://schemas.xmlsoap.org/soap/envelope/";
// The provider's POS service namespace. The module's provider code uses the same value.
inline constexpr const char* PosNamespace = "http://pos.services.trelvan.com/";

enum class TRequestKind { Transaction, Advice };
// "transaction" or "advise", as the operation is named on the wire and in fault rules.
const char* RequestKindName(TRequestKind kind);

struct TApiCredentials {
    std::string Id;
    std::string Password;
};

struct TStoreTrxDetails {
    std::string BasketId;
    std::string CashierId;
    std::string PosId;
    std::string StoreId;
    std::string TrxId;
};

struct TProductLine {
    std::string Id;
    std::string PricePerUnit;
    std::string Units;
};

struct TTransactionRequest {
    TApiCredentials Credentials;
    std::string BasketAmount;
    std::vector<TProductLine> Products;
    TStoreTrxDetails Store;
    std::string TokenId;
    std::string TokenType;
    std::string TotalAmount;
    std::string Type;
};

struct TAdviceRequest {
    TApiCredentials Credentials;
    std::string Action;
    TStoreTrxDetails Store; // originalTrx/storeTrxDetails
    std::string Type;       // originalTrx/type
    std::string TvTrxId;    // originalTrx/tvTrxId
};

struct TSoapRequest {
    TRequestKind Kind = TRequestKind::Transaction;
    TTransactionRequest Transaction; // when Kind is Transaction
    TAdviceRequest Advice;           // when Kind is Advice
};

// A body that is not a request of this service (not XML, no SOAP body, an unknown operation, a
// required element missing). The message becomes the faultstring of a Client fault.
class ESoapClientError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An envelope of another SOAP version (SOAP 1.2's among them): answered with a VersionMismatch fault.
class ESoapVersionMismatch : public ESoapClientError {
public:
    using ESoapClientError::ESoapClientError;
};

// Reads a request envelope. Elements are matched by local name; prefixes play no part.
TSoapRequest ParseSoapRequest(const std::string& body);

// Strict mode: raises ESoapVersionMismatch for an envelope that is not SOAP 1.1's, and
// ESoapClientError naming the first thing the documented protocol does not allow: a Body or
// operation element outside its namespace (the operation in PosNamespace), a qualified member
// (the members of a request are in no namespace), a missing member, or a member that is no
// integer where the protocol has one (amounts, storeId, pricePerUnit, units, tvTrxId).
void CheckDocumentedRequest(const std::string& body);

struct TVsp {
    std::string ResponseCode;
    std::string ResponseDesc;
    std::string Name;
};

struct TLoyalty {
    std::string Name;
    std::string Earned;
};

// The members of a response element. Amounts are cents.
struct TAnswer {
    std::string ResponseCode;
    std::string ResponseDesc;
    std::optional<std::int64_t> TvTrxId;
    std::optional<std::int64_t> TotalAmountProcessed;
    std::optional<std::int64_t> AmountToSettle;
    std::optional<TVsp> Vsp;
    std::optional<TLoyalty> Loyalty;
};

// The sound answer: Envelope/Body/ns2:transactionResponse (or ns2:adviseResponse)/response.
// paddingBytes > 0 appends padding elements to the response until the text grows by at least
// that many bytes.
std::string BuildAnswerEnvelope(TRequestKind kind, const TAnswer& answer, std::size_t paddingBytes = 0);
// The same envelope without its response element.
std::string BuildAnswerWithoutResponse(TRequestKind kind);
// An answer whose tags do not match: not well-formed XML.
std::string BuildMalformedAnswer(TRequestKind kind, const TAnswer& answer);
// The first half of the sound answer: the text ends inside the document.
std::string BuildTruncatedAnswer(TRequestKind kind, const TAnswer& answer);
// A SOAP 1.1 fault envelope; faultCode is "Client" or "Server".
std::string BuildSoapFault(const std::string& faultCode, const std::string& faultString);
// The HTML page a web server shows for an internal error.
std::string BuildErrorPage(int status, const std::string& reason);

} // namespace sim
