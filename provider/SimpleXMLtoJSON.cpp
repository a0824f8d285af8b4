#include "SimpleXMLtoJSON.h"

#include "clsSysUtils.h"

#include <cstring>
#include <string>

namespace zumvo {

namespace {

using rapidjson::Value;
using TAllocator = TJSONValue::TRawAllocator;

// Answers are shallow; anything deeper is refused rather than risking the stack.
constexpr int MaxDepth = 500;

bool IsText(const pugi::xml_node& node) {
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

bool HasChildElement(const pugi::xml_node& node) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element)
            return true;
    return false;
}

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

Value MakeString(std::string_view text, TAllocator& allocator) {
    return Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

// The text of an element without child elements: all its text and CDATA parts, in order.
Value LeafText(const pugi::xml_node& element, TAllocator& allocator) {
    const char* single = nullptr;
    std::string joined;
    int parts = 0;
    for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
        if (!IsText(c))
            continue;
        if (parts == 0)
            single = c.value();
        else {
            if (parts == 1)
                joined = single;
            joined += c.value();
        }
        ++parts;
    }
    if (parts == 0)
        return MakeString("", allocator);
    return parts == 1 ? MakeString(single, allocator) : MakeString(joined, allocator);
}

void ConvertChildren(const pugi::xml_node& element, Value& target, TAllocator& allocator, int depth) {
    if (depth > MaxDepth)
        throw EXmlError("XML nested deeper than " + std::to_string(MaxDepth) + " levels");
    // Text counts only in mixed content: in an element that also has child elements.
    const bool container = HasChildElement(element);
    std::string run;
    auto flushRun = [&] {
        if (!run.empty() && !IsBlank(run)) {
            Value name = MakeString("", allocator);
            Value text = MakeString(run, allocator);
            target.AddMember(name, text, allocator);
        }
        run.clear();
    };
    for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) {
            flushRun();
            Value name = MakeString(LocalName(c.name()), allocator);
            if (HasChildElement(c)) {
                Value nested(rapidjson::kObjectType);
                ConvertChildren(c, nested, allocator, depth + 1);
                target.AddMember(name, nested, allocator);
            } else {
                Value text = LeafText(c, allocator);
                target.AddMember(name, text, allocator);
            }
        } else if (container && IsText(c)) {
            run += c.value();
        }
        // Comments and processing instructions neither convert nor split a text run.
    }
    flushRun();
}

std::string FaultText(const pugi::xml_node& body) {
    pugi::xml_node fault = ChildByLocalName(body, "Fault");
    if (!fault)
        return {};
    std::string code = ChildByLocalName(fault, "faultcode").child_value();
    std::string text = ChildByLocalName(fault, "faultstring").child_value();
    return " (SOAP Fault " + code + ": " + text + ")";
}

} // namespace

std::string_view LocalName(std::string_view qualifiedName) {
    auto colon = qualifiedName.find(':');
    return colon == std::string_view::npos ? qualifiedName : qualifiedName.substr(colon + 1);
}

pugi::xml_node ChildByLocalName(const pugi::xml_node& node, std::string_view name) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && pallux::SameText(LocalName(c.name()), name))
            return c;
    return {};
}

void XmlToJson(const pugi::xml_node& element, TJSONValue target) {
    if (!target.IsObject())
        throw EJSONError("XmlToJson: the target is not a JSON object");
    TAllocator* allocator = nullptr;
    Value* node = target.RawNodeForWrite(allocator);
    // Built apart and moved in, so that a failure leaves the target as it was.
    Value converted(rapidjson::kObjectType);
    ConvertChildren(element, converted, *allocator, 1);
    for (auto it = converted.MemberBegin(); it != converted.MemberEnd(); ++it)
        node->AddMember(it->name, it->value, *allocator);
}

TJSONDocument ReadSoapAnswer(std::string_view xmlText, std::string_view answerElement) {
    pugi::xml_document xml;
    // Whitespace-only text is kept only where it is an element's whole content.
    const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata_single;
    pugi::xml_parse_result parsed = xml.load_buffer(xmlText.data(), xmlText.size(), options);
    if (!parsed)
        throw EXmlError("Invalid XML at offset " + std::to_string(parsed.offset) + ": " +
                        parsed.description());

    pugi::xml_node root = xml.document_element();
    pugi::xml_node body = ChildByLocalName(root, "Body");
    if (!body)
        throw EXmlError("The answer has no Body element");
    pugi::xml_node answer = ChildByLocalName(body, answerElement);
    if (!answer)
        throw EXmlError("The answer has no " + std::string(answerElement) + " element" + FaultText(body));
    pugi::xml_node response = ChildByLocalName(answer, "response");
    if (!response)
        throw EXmlError("The answer has no response element in " + std::string(answerElement));

    TJSONDocument document;
    XmlToJson(response, document.Root());
    return document;
}

} // namespace zumvo
