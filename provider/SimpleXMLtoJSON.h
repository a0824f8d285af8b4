// Conversion of the voucher service's XML answers into JSON documents.
//
// Each child element of the converted element becomes one member, named by its local name
// (namespace prefix dropped), in document order; repeated names give repeated members. An element
// with child elements becomes a nested object; any other element becomes a string with its text
// (entities decoded, CDATA taken as text, "" when empty). In an element that has child elements,
// each run of text that is not only whitespace becomes a member with the empty name. Attributes,
// comments and processing instructions are ignored.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "JsonDocument.h"

namespace zumvo {

// How answers are parsed: only what the conversion reads (text with entities and line ends as
// XML defines them, CDATA as text); whitespace-only text kept only where it is an element's whole
// content; an element's first text kept in the element itself (half the nodes of an answer).
// XmlToJson converts a tree parsed with these options or with pugixml's defaults alike.
inline constexpr unsigned AnswerParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                               pugi::parse_ws_pcdata_single | pugi::parse_embed_pcdata;

// Answer text that is not well-formed XML, or an answer without the expected elements.
class EXmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The name without its namespace prefix ("ns2:response" -> "response").
std::string_view LocalName(std::string_view qualifiedName);

// First child element whose local name equals name, ignoring ASCII case; an empty node if none.
pugi::xml_node ChildByLocalName(const pugi::xml_node& node, std::string_view name);

// Appends one member per child element of element to target, which must be a JSON object
// (EJSONError otherwise). Elements nested too deeply raise EXmlError.
void XmlToJson(const pugi::xml_node& element, TJSONValue target);

// The longest fault string a message quotes, in bytes.
inline constexpr std::size_t MaxFaultTextBytes = 200;

// A provider's text as a cashier's message shows it: runs of blanks and line ends as one blank,
// trimmed, other control characters as '?', cut after maxBytes (whole UTF-8 characters) with "...".
std::string ShownText(std::string_view text, std::size_t maxBytes);

// "faultcode: faultstring" of the SOAP fault in an answer's Body, each as ShownText shows it;
// empty when the text is not XML or holds no fault.
std::string SoapFaultSummary(std::string_view xmlText);

// Parses a SOAP answer and converts its Body/<answerElement>/response element ("transactionResponse"
// or "adviseResponse") into a new object document. Malformed text and a missing element on that
// path raise EXmlError.
TJSONDocument ReadSoapAnswer(std::string_view xmlText, std::string_view answerElement);

} // namespace zumvo
