#include "SoapMessages.h"

#include <pugixml.hpp>

#include <cstring>
#include <sstream>

namespace sim {

namespace {

std::string_view LocalName(const char* name) {
    std::string_view full(name);
    auto colon = full.find(':');
    return colon == std::string_view::npos ? full : full.substr(colon + 1);
}

pugi::xml_node Child(pugi::xml_node parent, std::string_view localName) {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && LocalName(child.name()) == localName)
            return child;
    return {};
}

// Reads the text of parent/path... ; a missing element is a client error when required and
// reads as empty otherwise.
std::string Text(pugi::xml_node parent, std::initializer_list<std::string_view> path, bool required = true) {
    pugi::xml_node node = parent;
    std::string where;
    for (std::string_view step : path) {
        where += where.empty() ? "" : "/";
        where += step;
        node = Child(node, step);
        if (!node) {
            if (required)
                throw ESoapClientError("Missing element " + where);
            return {};
        }
    }
    return node.text().get();
}

TStoreTrxDetails ReadStoreTrxDetails(pugi::xml_node details) {
    TStoreTrxDetails store;
    store.BasketId = Text(details, {"basketId"}, false);
    store.CashierId = Text(details, {"cashierId"}, false);
    store.PosId = Text(details, {"posId"}, false);
    store.StoreId = Text(details, {"storeId"});
    store.TrxId = Text(details, {"trxId"});
    return store;
}

TApiCredentials ReadCredentials(pugi::xml_node request) {
    return {Text(request, {"apiCredentials", "id"}), Text(request, {"apiCredentials", "password"})};
}

pugi::xml_node Required(pugi::xml_node parent, std::string_view localName, const std::string& where) {
    pugi::xml_node node = Child(parent, localName);
    if (!node)
        throw ESoapClientError("Missing element " + where);
    return node;
}

TTransactionRequest ReadTransaction(pugi::xml_node request) {
    TTransactionRequest trx;
    trx.Credentials = ReadCredentials(request);
    trx.BasketAmount = Text(request, {"basketAmount"}, false);
    for (pugi::xml_node child = request.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && LocalName(child.name()) == "product")
            trx.Products.push_back({Text(child, {"id"}, false), Text(child, {"pricePerUnit"}, false),
                                    Text(child, {"units"}, false)});
    trx.Store = ReadStoreTrxDetails(Required(request, "storeTrxDetails", "storeTrxDetails"));
    trx.TokenId = Text(request, {"token", "id"});
    trx.TokenType = Text(request, {"token", "type"}, false);
    trx.TotalAmount = Text(request, {"totalAmount"});
    trx.Type = Text(request, {"type"});
    return trx;
}

TAdviceRequest ReadAdvice(pugi::xml_node request) {
    TAdviceRequest advice;
    advice.Credentials = ReadCredentials(request);
    advice.Action = Text(request, {"action"});
    pugi::xml_node original = Required(request, "originalTrx", "originalTrx");
    advice.Store = ReadStoreTrxDetails(Required(original, "storeTrxDetails", "originalTrx/storeTrxDetails"));
    advice.Type = Text(original, {"type"});
    advice.TvTrxId = Text(original, {"tvTrxId"});
    return advice;
}

const char* ResponseElementName(TRequestKind kind) {
    return kind == TRequestKind::Transaction ? "ns2:transactionResponse" : "ns2:adviseResponse";
}

// Envelope/Body/ns2:<kind>Response, prefixed the way a SOAP stack writes them.
pugi::xml_node AppendEnvelope(pugi::xml_document& doc, TRequestKind kind) {
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node envelope = doc.append_child("soap:Envelope");
    envelope.append_attribute("xmlns:soap") = SoapEnvelopeNamespace;
    pugi::xml_node operation = envelope.append_child("soap:Body").append_child(ResponseElementName(kind));
    operation.append_attribute("xmlns:ns2") = PosNamespace;
    return operation;
}

void AppendLeaf(pugi::xml_node parent, const char* name, const std::string& value) {
    parent.append_child(name).text().set(value.c_str());
}

std::string Save(const pugi::xml_document& doc) {
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw, pugi::encoding_utf8);
    return out.str();
}

} // namespace

namespace {

constexpr const char* Soap12EnvelopeNamespace = "http://www.w3.org/2003/05/soap-envelope";

// The namespace an element is in, by the declarations in scope; "" for none. A prefix that no
// declaration binds yields a text no namespace has.
std::string NamespaceOf(pugi::xml_node node) {
    const std::string_view name(node.name());
    const auto colon = name.find(':');
    const std::string attribute = colon == std::string_view::npos
                                      ? std::string("xmlns")
                                      : "xmlns:" + std::string(name.substr(0, colon));
    for (pugi::xml_node n = node; n; n = n.parent())
        if (pugi::xml_attribute a = n.attribute(attribute.c_str()))
            return a.value();
    return colon == std::string_view::npos ? std::string() : "(unbound prefix)";
}

// An integer as XML Schema writes one: blanks around it, an optional sign, digits.
bool IsXsdInteger(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return false;
    text = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    if (text.front() == '+' || text.front() == '-')
        text.remove_prefix(1);
    return !text.empty() && text.size() <= 18 &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Every element below node is in no namespace.
void RequireUnqualified(pugi::xml_node node, const std::string& where) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element)
            continue;
        const std::string path = where + "/" + std::string(LocalName(c.name()));
        if (!NamespaceOf(c).empty())
            throw ESoapClientError("Element " + path + " is qualified (namespace " + NamespaceOf(c) +
                                   "); the members of a request are unqualified");
        RequireUnqualified(c, path);
    }
}

// parent/path exists; as an integer when number.
void RequireMember(pugi::xml_node parent, const std::string& path, bool number = false) {
    pugi::xml_node node = parent;
    std::string_view rest(path);
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        node = Child(node, rest.substr(0, slash));
        if (!node)
            throw ESoapClientError("Missing element " + path);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    if (number && !IsXsdInteger(node.child_value()))
        throw ESoapClientError("Element " + path + " is not an integer: '" + node.child_value() + "'");
}

void RequireStoreTrxDetails(pugi::xml_node parent, const std::string& prefix) {
    for (const char* member : {"basketId", "cashierId", "posId", "trxId"})
        RequireMember(parent, prefix + "storeTrxDetails/" + member);
    RequireMember(parent, prefix + "storeTrxDetails/storeId", true);
}

} // namespace

void CheckDocumentedRequest(const std::string& body) {
    pugi::xml_document doc;
    if (const pugi::xml_parse_result parsed = doc.load_buffer(body.data(), body.size()); !parsed)
        throw ESoapClientError(std::string("Malformed request: ") + parsed.description());
    const pugi::xml_node envelope = doc.document_element();
    const std::string envelopeNs = NamespaceOf(envelope);
    if (LocalName(envelope.name()) != "Envelope" || envelopeNs != SoapEnvelopeNamespace)
        throw ESoapVersionMismatch(envelopeNs == Soap12EnvelopeNamespace
                                       ? "SOAP 1.2 envelope: this service speaks SOAP 1.1"
                                       : "Not a SOAP 1.1 envelope (namespace '" + envelopeNs + "')");
    const pugi::xml_node soapBody = Child(envelope, "Body");
    if (!soapBody || NamespaceOf(soapBody) != SoapEnvelopeNamespace)
        throw ESoapClientError("Missing element Body in the SOAP 1.1 namespace");
    const pugi::xml_node operation =
        soapBody.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
    if (!operation)
        throw ESoapClientError("Empty SOAP body");
    const std::string_view name = LocalName(operation.name());
    if (NamespaceOf(operation) != PosNamespace)
        throw ESoapClientError("Operation " + std::string(name) + " is in namespace '" +
                               NamespaceOf(operation) + "', not " + PosNamespace);
    if (name != "transaction" && name != "advise")
        throw ESoapClientError("Unknown operation " + std::string(name));
    RequireUnqualified(operation, std::string(name));
    const pugi::xml_node request = Child(operation, "request");
    if (!request)
        throw ESoapClientError("Missing element request");
    for (const char* member : {"apiClientVersion", "apiServerVersion", "id", "password"})
        RequireMember(request, std::string("apiCredentials/") + member);
    if (name == "transaction") {
        RequireMember(request, "basketAmount", true);
        for (pugi::xml_node c = request.first_child(); c; c = c.next_sibling())
            if (c.type() == pugi::node_element && LocalName(c.name()) == "product") {
                RequireMember(c, "id");
                RequireMember(c, "pricePerUnit", true);
                RequireMember(c, "units", true);
            }
        RequireStoreTrxDetails(request, "");
        RequireMember(request, "token/id");
        RequireMember(request, "token/type");
        RequireMember(request, "totalAmount", true);
        RequireMember(request, "type");
    } else {
        RequireMember(request, "action");
        RequireStoreTrxDetails(request, "originalTrx/");
        RequireMember(request, "originalTrx/type");
        RequireMember(request, "originalTrx/tvTrxId", true);
    }
}

const char* RequestKindName(TRequestKind kind) {
    return kind == TRequestKind::Transaction ? "transaction" : "advise";
}

TSoapRequest ParseSoapRequest(const std::string& body) {
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_buffer(body.data(), body.size());
    if (!parsed)
        throw ESoapClientError(std::string("Malformed request: ") + parsed.description() + " at offset " +
                               std::to_string(parsed.offset));
    pugi::xml_node envelope = doc.document_element();
    if (LocalName(envelope.name()) != "Envelope")
        throw ESoapClientError("Not a SOAP envelope");
    pugi::xml_node soapBody = Child(envelope, "Body");
    if (!soapBody)
        throw ESoapClientError("Missing element Body");
    pugi::xml_node operation =
        soapBody.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
    if (!operation)
        throw ESoapClientError("Empty SOAP body");
    std::string_view name = LocalName(operation.name());
    pugi::xml_node request = Child(operation, "request");
    TSoapRequest result;
    if (name == "transaction") {
        if (!request)
            throw ESoapClientError("Missing element request");
        result.Kind = TRequestKind::Transaction;
        result.Transaction = ReadTransaction(request);
    } else if (name == "advise") {
        if (!request)
            throw ESoapClientError("Missing element request");
        result.Kind = TRequestKind::Advice;
        result.Advice = ReadAdvice(request);
    } else {
        throw ESoapClientError("Unknown operation " + std::string(name));
    }
    return result;
}

std::string BuildAnswerEnvelope(TRequestKind kind, const TAnswer& answer, std::size_t paddingBytes) {
    pugi::xml_document doc;
    pugi::xml_node response = AppendEnvelope(doc, kind).append_child("response");
    AppendLeaf(response, "responseCode", answer.ResponseCode);
    AppendLeaf(response, "responseDesc", answer.ResponseDesc);
    if (answer.TvTrxId)
        AppendLeaf(response, "tvTrxId", std::to_string(*answer.TvTrxId));
    if (answer.TotalAmountProcessed)
        AppendLeaf(response, "totalAmountProcessed", std::to_string(*answer.TotalAmountProcessed));
    if (answer.AmountToSettle)
        AppendLeaf(response, "amountToSettle", std::to_string(*answer.AmountToSettle));
    if (answer.Vsp) {
        pugi::xml_node vsp = response.append_child("vsp");
        AppendLeaf(vsp, "responseCode", answer.Vsp->ResponseCode);
        AppendLeaf(vsp, "responseDesc", answer.Vsp->ResponseDesc);
        AppendLeaf(vsp, "name", answer.Vsp->Name);
    }
    if (answer.Loyalty) {
        pugi::xml_node loyalty = response.append_child("loyalty");
        AppendLeaf(loyalty, "name", answer.Loyalty->Name);
        AppendLeaf(loyalty, "earned", answer.Loyalty->Earned);
    }
    if (paddingBytes > 0) {
        const std::string filler(1024, 'x');
        const std::size_t perElement = filler.size() + std::strlen("<padding></padding>");
        for (std::size_t written = 0; written < paddingBytes; written += perElement)
            AppendLeaf(response, "padding", filler);
    }
    return Save(doc);
}

std::string BuildAnswerWithoutResponse(TRequestKind kind) {
    pugi::xml_document doc;
    AppendEnvelope(doc, kind);
    return Save(doc);
}

std::string BuildMalformedAnswer(TRequestKind kind, const TAnswer& answer) {
    std::string text = BuildAnswerEnvelope(kind, answer);
    const std::string close = "</response>";
    if (auto at = text.find(close); at != std::string::npos)
        text.replace(at, close.size(), "</answer>");
    return text;
}

std::string BuildTruncatedAnswer(TRequestKind kind, const TAnswer& answer) {
    std::string text = BuildAnswerEnvelope(kind, answer);
    return text.substr(0, text.size() / 2);
}

std::string BuildSoapFault(const std::string& faultCode, const std::string& faultString) {
    pugi::xml_document doc;
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node envelope = doc.append_child("soap:Envelope");
    envelope.append_attribute("xmlns:soap") = SoapEnvelopeNamespace;
    pugi::xml_node fault = envelope.append_child("soap:Body").append_child("soap:Fault");
    AppendLeaf(fault, "faultcode", "soap:" + faultCode);
    AppendLeaf(fault, "faultstring", faultString);
    return Save(doc);
}

std::string BuildErrorPage(int status, const std::string& reason) {
    const std::string title = std::to_string(status) + " " + reason;
    return "<!DOCTYPE html>\n<html><head><title>" + title + "</title></head>\n<body><h1>" + title +
           "</h1><p>The server encountered an internal error and was unable to complete your "
           "request.</p><hr><address>PosService</address></body></html>\n";
}

} // namespace sim
