#include "implZumvoAPI.h"

#include "clsSysUtils.h"

#include "JsonDocument.h"
#include "SimpleXMLtoJSON.h"
#include "ZumvoLog.h"
#include "clsModuleContainer.h"
#include "clsMoney.h"
#include "intfRestClient.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace zumvo {

namespace {

constexpr const char* CRLF = "\r\n";
constexpr const char* ApiClientVersion = "0.0.0.14";
constexpr const char* ApiServerVersion = "1.14";

// Writes an envelope one element per line, CR LF line ends, two blanks of indentation per level.
class TEnvelopeWriter {
public:
    explicit TEnvelopeWriter(int depth = 0) : FDepth(depth) {}

    void Open(std::string_view name, std::string_view attributes = {}) {
        Indent();
        FText.append("<").append(name);
        if (!attributes.empty())
            FText.append(" ").append(attributes);
        FText.append(">").append(CRLF);
        ++FDepth;
    }
    void Close(std::string_view name) {
        --FDepth;
        Indent();
        FText.append("</").append(name).append(">").append(CRLF);
    }
    void Empty(std::string_view name) {
        Indent();
        FText.append("<").append(name).append("/>").append(CRLF);
    }
    void Leaf(std::string_view name, std::string_view value) {
        Indent();
        FText.append("<").append(name).append(">");
        const std::size_t from = FText.size();
        try {
            AppendXmlEscaped(FText, value);
        } catch (const std::invalid_argument& e) {
            throw std::invalid_argument("The value of " + std::string(name) + " cannot be sent: " + e.what());
        }
        if (name == "password") {
            FPasswordFrom = from;
            FPasswordLength = FText.size() - from;
        }
        FText.append("</").append(name).append(">").append(CRLF);
    }
    void Leaf(std::string_view name, std::int64_t value) {
        char digits[24];
        const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
        Leaf(name, std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }
    // Lines already written at this writer's current depth.
    void Raw(std::string_view lines) { FText.append(lines); }
    int Depth() const { return FDepth; }

    const std::string& Text() const { return FText; }
    TEnvelope Take() { return {std::move(FText), FPasswordFrom, FPasswordLength}; }

private:
    void Indent() { FText.append(static_cast<std::size_t>(FDepth) * 2, ' '); }

    std::string FText;
    int FDepth;
    std::size_t FPasswordFrom = 0;
    std::size_t FPasswordLength = 0;
};

// Depth of the product elements inside the Transaction envelope:
// Envelope > Body > pos:transaction > request > product.
constexpr int ProductDepth = 4;

void OpenEnvelope(TEnvelopeWriter& w, std::string_view operation) {
    w.Open("soapenv:Envelope",
           std::string("xmlns:soapenv=\"") + SoapEnvelopeNamespace + "\" xmlns:pos=\"" + PosNamespace + "\"");
    w.Empty("soapenv:Header");
    w.Open("soapenv:Body");
    w.Open(operation);
    w.Open("request");
}

void CloseEnvelope(TEnvelopeWriter& w, std::string_view operation) {
    w.Close("request");
    w.Close(operation);
    w.Close("soapenv:Body");
    w.Close("soapenv:Envelope");
}

void WriteCredentials(TEnvelopeWriter& w, const TSoapCaller& caller) {
    w.Open("apiCredentials");
    w.Leaf("apiClientVersion", ApiClientVersion);
    w.Leaf("apiServerVersion", ApiServerVersion);
    w.Leaf("id", caller.ID);
    w.Leaf("password", caller.Password);
    w.Close("apiCredentials");
}

void WriteStoreTrxDetails(TEnvelopeWriter& w, const TSoapCaller& caller, const std::string& basketID,
                          const std::string& cashierID, const std::string& trxID) {
    w.Open("storeTrxDetails");
    w.Leaf("basketId", basketID);
    w.Leaf("cashierId", cashierID);
    w.Leaf("posId", caller.PosID);
    w.Leaf("storeId", caller.StoreID);
    w.Leaf("trxId", trxID);
    w.Close("storeTrxDetails");
}

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

} // namespace

// ---- Envelope building blocks ----

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendXmlEscaped(out, text);
    return out;
}

void AppendXmlEscaped(std::string& out, std::string_view text) {
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '\r':
            out += "&#13;";
            break; // a bare CR would reach the reader as LF
        default:
            if (c < 0x20 && ch != '\t' && ch != '\n') {
                static const char hex[] = "0123456789ABCDEF";
                throw std::invalid_argument(std::string("control character 0x") + hex[c >> 4] + hex[c & 15] +
                                            " is not allowed in XML");
            }
            out += ch;
        }
    }
}

std::int64_t RoundUnits(double quantity) {
    if (!std::isfinite(quantity) || std::fabs(quantity) >= 9e15)
        throw std::out_of_range("Quantity " + std::to_string(quantity) + " is out of range");
    const double lower = std::floor(quantity);
    const double rest = quantity - lower; // exact in this range
    double result = lower;
    if (rest > 0.5)
        result = lower + 1;
    else if (rest == 0.5 && std::fmod(lower, 2.0) != 0)
        result = lower + 1;
    return static_cast<std::int64_t>(result);
}

std::string ProductElements(const std::string& productsJson) {
    if (IsBlank(productsJson))
        return {};
    const TJSONDocument products = TJSONDocument::Parse(productsJson);
    if (products.IsNull())
        return {};
    if (!products.IsArray())
        throw EJSONError("Products is not a JSON array");
    TEnvelopeWriter w(ProductDepth);
    for (int i = 0; i < products._Count(); ++i) {
        const TJSONValue item = products[i];
        const std::string code = item["Code"].AsString("");
        if (code.empty())
            continue;
        const std::int64_t cents = CentsOf(item["Price"].AsFloat());
        const std::int64_t units = RoundUnits(item["Quantity"].AsFloat());
        w.Open("product");
        w.Leaf("id", code);
        w.Leaf("pricePerUnit", cents);
        w.Leaf("units", units);
        w.Close("product");
    }
    return w.Text();
}

TEnvelope BuildTransactionEnvelope(const TSoapCaller& caller, const TTransactionRequest& r) {
    TEnvelopeWriter w;
    OpenEnvelope(w, "pos:transaction");
    WriteCredentials(w, caller);
    w.Leaf("basketAmount", r.BasketAmount);
    if (w.Depth() != ProductDepth)
        throw std::logic_error("product elements are written at the wrong depth");
    w.Raw(r.ProductElements);
    WriteStoreTrxDetails(w, caller, r.BasketID, r.CashierID, r.TrxID);
    w.Open("token");
    w.Leaf("id", r.TokenID);
    w.Leaf("type", r.TokenType);
    w.Close("token");
    w.Leaf("totalAmount", r.TotalAmount);
    w.Leaf("type", r.TrxType);
    CloseEnvelope(w, "pos:transaction");
    return w.Take();
}

std::string TransactionEnvelope(const TSoapCaller& caller, const TTransactionRequest& request) {
    return BuildTransactionEnvelope(caller, request).Text;
}

TEnvelope BuildAdviceEnvelope(const TSoapCaller& caller, const TAdviceRequest& r) {
    TEnvelopeWriter w;
    OpenEnvelope(w, "pos:advise");
    WriteCredentials(w, caller);
    w.Leaf("action", r.Action);
    w.Open("originalTrx");
    WriteStoreTrxDetails(w, caller, r.BasketID, r.CashierID, r.TrxID);
    w.Leaf("type", r.TrxType);
    w.Leaf("tvTrxId", r.TvTrxID);
    w.Close("originalTrx");
    CloseEnvelope(w, "pos:advise");
    return w.Take();
}

std::string AdviceEnvelope(const TSoapCaller& caller, const TAdviceRequest& request) {
    return BuildAdviceEnvelope(caller, request).Text;
}

namespace {

bool IsNameEnd(char c) {
    return c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '=';
}

bool IsPasswordName(std::string_view qualified) {
    return pallux::SameText(LocalName(qualified), "password");
}

// Where the content of a password element that opens before `from` ends: at its closing tag
// (any prefix, any case), skipping comments and CDATA sections; the end of the text when the
// element is cut off.
std::size_t PasswordContentEnd(std::string_view xml, std::size_t from) {
    std::size_t at = from;
    while ((at = xml.find('<', at)) != std::string_view::npos) {
        const std::string_view rest = xml.substr(at);
        if (rest.starts_with("<!--")) {
            const std::size_t close = xml.find("-->", at + 4);
            at = close == std::string_view::npos ? xml.size() : close + 3;
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            const std::size_t close = xml.find("]]>", at + 9);
            at = close == std::string_view::npos ? xml.size() : close + 3;
            continue;
        }
        if (rest.starts_with("</")) {
            std::size_t nameEnd = at + 2;
            while (nameEnd < xml.size() && !IsNameEnd(xml[nameEnd]))
                ++nameEnd;
            if (IsPasswordName(xml.substr(at + 2, nameEnd - at - 2)))
                return at;
        }
        ++at;
    }
    return xml.size();
}

// Replaces in `text` every occurrence of `value` by MaskedPassword.
void MaskOccurrences(std::string& text, std::string_view value) {
    if (value.empty())
        return;
    for (std::size_t at = text.find(value); at != std::string::npos; at = text.find(value, at)) {
        text.replace(at, value.size(), MaskedPassword);
        at += std::char_traits<char>::length(MaskedPassword);
    }
}

// The text as XmlEscape writes it, control characters kept (they cannot be sent, but may be in
// a text that is logged).
std::string EscapeForMasking(std::string_view text) {
    std::string out;
    for (char c : text) {
        try {
            out += XmlEscape(std::string_view(&c, 1));
        } catch (const std::invalid_argument&) {
            out += c;
        }
    }
    return out;
}

// The name of the attribute whose value opens with the quote at `quote`: it ends before '=' and
// blanks, and starts after the tag's name (which ends at nameEnd).
std::string_view AttributeNameBefore(std::string_view xml, std::size_t nameEnd, std::size_t quote) {
    std::size_t end = quote;
    while (end > nameEnd && (xml[end - 1] == '=' || xml[end - 1] == ' '))
        --end;
    std::size_t start = end;
    while (start > nameEnd && !IsNameEnd(xml[start - 1]))
        --start;
    return xml.substr(start, end - start);
}

// The position of the '>' that closes the tag whose name ends at nameEnd (quoted values may hold
// one); npos when the text ends first. A password attribute's value is masked on the way: out gets
// the text from `copied` up to its opening quote and MaskedPassword, and `copied` moves to its
// closing quote.
std::size_t MaskPasswordAttributes(std::string_view xml, std::size_t nameEnd, std::string& out,
                                   std::size_t& copied) {
    std::size_t at = nameEnd;
    while (at < xml.size()) {
        const char c = xml[at];
        if (c == '>')
            return at;
        if (c == '"' || c == '\'') {
            const std::size_t close = xml.find(c, at + 1);
            if (close == std::string_view::npos)
                return std::string_view::npos;
            if (IsPasswordName(AttributeNameBefore(xml, nameEnd, at))) {
                out.append(xml.substr(copied, at + 1 - copied));
                out += MaskedPassword;
                copied = close;
            }
            at = close + 1;
            continue;
        }
        ++at;
    }
    return std::string_view::npos;
}

// The name of the tag that opens at lt ('/' first for an end tag, '!' or '?' for a comment, a
// declaration or a processing instruction).
std::string_view TagNameAt(std::string_view xml, std::size_t lt) {
    std::size_t nameEnd = lt + 1;
    while (nameEnd < xml.size() && !IsNameEnd(xml[nameEnd]))
        ++nameEnd;
    return xml.substr(lt + 1, nameEnd - lt - 1);
}

} // namespace

std::string MaskPasswordElements(std::string_view xml) {
    std::string out;
    out.reserve(xml.size());
    std::size_t copied = 0; // xml is copied to out up to here
    std::size_t scan = 0;
    for (std::size_t lt = xml.find('<'); lt != std::string_view::npos; lt = xml.find('<', scan)) {
        const std::string_view name = TagNameAt(xml, lt);
        if (name.empty() || name.front() == '!' || name.front() == '?') {
            scan = lt + 1;
            continue;
        }
        const std::size_t gt = MaskPasswordAttributes(xml, lt + 1 + name.size(), out, copied);
        if (gt == std::string_view::npos)
            break;
        if (name.front() != '/' && xml[gt - 1] != '/' && IsPasswordName(name)) {
            out.append(xml.substr(copied, gt + 1 - copied));
            out += MaskedPassword;
            copied = scan = PasswordContentEnd(xml, gt + 1);
            continue;
        }
        scan = gt + 1;
    }
    out.append(xml.substr(std::min(copied, xml.size())));
    return out;
}

namespace {

// The forms of a password that MaskPassword replaces: as written, as an envelope carries it, and
// as an echo of an escaped envelope carries it; longer forms first, so that no part of one is
// left behind. None for an empty password.
std::vector<std::string> PasswordForms(std::string_view password) {
    if (password.empty())
        return {};
    std::string once = EscapeForMasking(password);
    std::string twice = EscapeForMasking(once);
    return {std::move(twice), std::move(once), std::string(password)};
}

bool HoldsAny(std::string_view text, const std::vector<std::string>& forms) {
    for (const auto& form : forms)
        if (text.find(form) != std::string_view::npos)
            return true;
    return false;
}

// True when some letters of the text spell "password" in any case.
bool NamesPassword(std::string_view text) {
    constexpr std::string_view word = "password";
    auto sameLetter = [](char a, char b) { return (a | 0x20) == b; };
    return std::search(text.begin(), text.end(), word.begin(), word.end(), sameLetter) != text.end();
}

} // namespace

std::string MaskPassword(std::string_view text, std::string_view password) {
    std::string out = MaskPasswordElements(text);
    for (const auto& form : PasswordForms(password))
        MaskOccurrences(out, form);
    return out;
}

bool MayHoldPassword(std::string_view text, std::string_view password) {
    // MaskPasswordElements only touches what is named password; the rest are the value's forms.
    return NamesPassword(text) || HoldsAny(text, PasswordForms(password));
}

// ---- TZumvoAPI ----

void TZumvoAPI::SetServer(const std::string& server, const std::string& url) {
    FServer = server;
    FUrl = url;
}

void TZumvoAPI::SetCredentials(const std::string& id, const std::string& password) {
    FID = id;
    FPassword = password;
    // Any line of the log may quote an answer that repeats the password (a refusal's text, a
    // SOAP fault): none shows it, in whichever form it comes.
    for (const auto& form : PasswordForms(password))
        MaskInLog(form);
}

void TZumvoAPI::SetStore(std::int32_t storeID, const std::string& posID) {
    FStoreID = storeID;
    FPosID = posID;
}

std::string TZumvoAPI::Send(std::string_view classMethod, const TEnvelope& envelope) {
    const std::string prefix = "[" + std::string(classMethod) + "] ";
    // The envelope's one password element is masked while the line is written; only a password
    // that also stands elsewhere in the envelope needs the masked copy.
    const std::string_view text = envelope.Text;
    const auto forms = PasswordForms(FPassword);
    if (HoldsAny(text.substr(0, envelope.PasswordFrom), forms) ||
        HoldsAny(text.substr(envelope.PasswordFrom + envelope.PasswordLength), forms))
        LogInfo(prefix + "Request : %", MaskPassword(text, FPassword));
    else
        LogInfo(prefix + "Request : %",
                TLogMasked{text, envelope.PasswordFrom, envelope.PasswordLength, MaskedPassword});

    FLastStatus = 0;
    pallux::IntfPtr<pallux::IRestClient> rest;
    Require(CreateService(rest), "Could not create RestClient");
    rest->SetBaseURL(FServer);
    std::string answer = rest->Post(FUrl, envelope.Text, {}, 0);
    FLastStatus = rest->GetLastStatus();
    if (FLastStatus != 0 && (FLastStatus < 200 || FLastStatus > 299))
        LogInfo(prefix + "HTTP % for %", FLastStatus, FUrl);

    // An answer that may echo a password is masked in a copy; any other is logged as it is.
    if (MayHoldPassword(answer, FPassword))
        LogInfo(prefix + "Response : %", MaskPassword(answer, FPassword));
    else
        LogInfo(prefix + "Response : %", answer);
    FlushLog();
    return answer;
}

void TZumvoAPI::Transaction(const std::string& basketID, const std::string& cashierID,
                            const std::string& trxID, const std::string& tokenID,
                            const std::string& tokenType, std::int32_t basketAmount, std::int32_t totalAmount,
                            const std::string& trxType, const std::string& products, std::string& response) {
    response.clear();
    Guarded("TZumvoAPI.Transaction", [&] {
        const TTransactionRequest request{basketID,    cashierID, trxID,
                                          tokenID,     tokenType, basketAmount,
                                          totalAmount, trxType,   ProductElements(products)};
        response = Send("TZumvoAPI.Transaction", BuildTransactionEnvelope(Caller(), request));
    });
}

void TZumvoAPI::Advice(const std::string& basketID, const std::string& cashierID, const std::string& trxID,
                       const std::string& action, std::int32_t tvTrxID, const std::string& trxType,
                       std::string& response) {
    response.clear();
    Guarded("TZumvoAPI.Advice", [&] {
        // A number the provider cannot have given would settle or give back nothing, or another
        // till's code: such an advice is never sent.
        if (tvTrxID < 0 || (tvTrxID == ByReference && action != "REVERSE"))
            throw std::invalid_argument("No " + action + " is sent for provider transaction number " +
                                        std::to_string(tvTrxID));
        const TAdviceRequest request{basketID, cashierID, trxID, action, tvTrxID, trxType};
        response = Send("TZumvoAPI.Advice", BuildAdviceEnvelope(Caller(), request));
    });
}

TSoapCaller TZumvoAPI::Caller() const {
    return {FID, FPassword, FStoreID, FPosID};
}

} // namespace zumvo
