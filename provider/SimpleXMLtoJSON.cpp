#include "SimpleXMLtoJSON.h"

#include "clsRapidJson.h"
#include "clsSysUtils.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace zumvo {

namespace {

using rapidjson::Value;
using TAllocator = TJSONValue::TRawAllocator;

// Answers are shallow; anything deeper is refused rather than risking the stack.
constexpr int MaxDepth = 500;

bool IsText(pugi::xml_node_type type) {
    return type == pugi::node_pcdata || type == pugi::node_cdata;
}

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// Text parts gathered in one walk: a single part as it stands (no copy), several joined.
class TTextRun {
public:
    void Add(std::string_view part) {
        if (FParts++ == 0)
            FFirst = part;
        else {
            if (FParts == 2)
                FJoined.assign(FFirst);
            FJoined.append(part);
        }
    }
    std::string_view Text() const { return FParts > 1 ? std::string_view(FJoined) : FFirst; }
    bool Empty() const { return FParts == 0; }
    void Clear() {
        FParts = 0;
        FFirst = {};
        FJoined.clear();
    }

private:
    int FParts = 0;
    std::string_view FFirst;
    std::string FJoined;
};

// The conversion speaks RapidJSON's SAX interface to a document builder, which keeps the values
// of an object on its stack and gives the object exactly its members once it ends: each object is
// allocated once, at its final size. Names and texts that lie in text the document keeps (an
// answer parsed in place) are referred to; all others are copied once, into the document.
class TOutput {
public:
    TOutput(TRapidDocument& builder, std::span<const char> kept) : FBuilder(builder), FKept(kept) {}

    void StartObject() { FBuilder.StartObject(); }
    void EndObject(rapidjson::SizeType members) { FBuilder.EndObject(members); }
    void Key(std::string_view name) { FBuilder.Key(Chars(name), Size(name), !IsKept(name)); }
    void Text(std::string_view text) { FBuilder.String(Chars(text), Size(text), !IsKept(text)); }

private:
    // An empty view may have no characters at all (nullptr), which must not reach memcpy.
    static const char* Chars(std::string_view text) { return text.empty() ? "" : text.data(); }
    static rapidjson::SizeType Size(std::string_view text) {
        return static_cast<rapidjson::SizeType>(text.size());
    }
    // Kept text parsed in place: every name and text in it ends with a NUL, as RapidJSON's
    // references expect.
    bool IsKept(std::string_view text) const {
        const auto at = reinterpret_cast<std::uintptr_t>(text.data());
        const auto begin = reinterpret_cast<std::uintptr_t>(FKept.data());
        return !text.empty() && at >= begin && at < begin + FKept.size();
    }

    TRapidDocument& FBuilder;
    std::span<const char> FKept;
};

void EmitChildren(const pugi::xml_node& element, TOutput& out, int depth);

// A node's name without its prefix (pugixml keeps no length; strlen and memchr scan many
// characters per step, a loop of our own one).
std::string_view LocalNameOf(const char* name) {
    const std::size_t length = std::strlen(name);
    const auto* colon = static_cast<const char*>(std::memchr(name, ':', length));
    const char* local = colon ? colon + 1 : name;
    return {local, length - static_cast<std::size_t>(local - name)};
}

// The value of one child element: a string for an element without child elements, else an
// object of its children. Its children are walked once, unless it turns out to be a container.
void EmitElement(const pugi::xml_node& element, TOutput& out, int depth) {
    // Parsed with parse_embed_pcdata, an element's first text is its own value, not a child.
    const char* embedded = element.value();
    const pugi::xml_node first = element.first_child();
    if (!first) { // the common leaf: one text, or none
        out.Text(embedded);
        return;
    }
    if (!*embedded && IsText(first.type()) && !first.next_sibling()) {
        out.Text(first.value());
        return;
    }
    TTextRun text;
    if (*embedded)
        text.Add(embedded);
    for (pugi::xml_node c = first; c; c = c.next_sibling()) {
        const pugi::xml_node_type type = c.type();
        if (type == pugi::node_element) {
            EmitChildren(element, out, depth + 1);
            return;
        }
        if (IsText(type))
            text.Add(c.value());
    }
    out.Text(text.Text());
}

// A run of text between child elements as a member with the empty name, unless it is only
// whitespace. Answers the number of members written (0 or 1) and empties the run.
rapidjson::SizeType EmitRun(TTextRun& run, TOutput& out) {
    rapidjson::SizeType written = 0;
    if (!IsBlank(run.Text())) {
        out.Key({});
        out.Text(run.Text());
        written = 1;
    }
    run.Clear();
    return written;
}

// An object with one member per child element; in mixed content, each run of text that is not
// only whitespace becomes a member with the empty name.
void EmitChildren(const pugi::xml_node& element, TOutput& out, int depth) {
    if (depth > MaxDepth)
        throw EXmlError("XML nested deeper than " + std::to_string(MaxDepth) + " levels");
    out.StartObject();
    rapidjson::SizeType members = 0;
    TTextRun run;
    if (const char* embedded = element.value(); *embedded) // see EmitElement
        run.Add(embedded);
    for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
        const pugi::xml_node_type type = c.type();
        if (type == pugi::node_element) {
            if (!run.Empty())
                members += EmitRun(run, out);
            out.Key(LocalNameOf(c.name()));
            EmitElement(c, out, depth);
            ++members;
        } else if (IsText(type)) {
            run.Add(c.value());
        }
        // Comments and processing instructions neither convert nor split a text run.
    }
    if (!run.Empty())
        members += EmitRun(run, out);
    out.EndObject(members);
}

// Converts element's children into target (see XmlToJson); names and texts inside kept are
// referred to instead of copied.
void Convert(const pugi::xml_node& element, TJSONValue target, std::span<const char> kept) {
    if (!target.IsObject())
        throw EJSONError("XmlToJson: the target is not a JSON object");
    TAllocator* allocator = nullptr;
    Value* node = target.RawNodeForWrite(allocator);
    // Built apart, in the target's memory, so that a failure leaves the target as it was; an
    // empty target (every answer read) takes the result whole instead of having its members
    // appended again.
    TJsonStackAllocator stackAllocator; // the builder's stack needs no allocator object of its own
    TRapidDocument converted(allocator, 4096, &stackAllocator);
    auto generate = [&](TRapidDocument& builder) {
        TOutput out(builder, kept);
        EmitChildren(element, out, 1);
        return true;
    };
    converted.Populate(generate);
    Value& result = converted;
    if (node->MemberCount() == 0) {
        *node = std::move(result);
        return;
    }
    for (auto& member : result.GetObject())
        node->AddMember(member.name, member.value, *allocator);
}

// A SOAP 1.1 fault's code and string as a message shows them ("soap:Server: text"); empty when
// the body holds no fault.
std::string FaultSummary(const pugi::xml_node& body) {
    pugi::xml_node fault = ChildByLocalName(body, "Fault");
    if (!fault)
        return {};
    const std::string code = ChildByLocalName(fault, "faultcode").child_value();
    const std::string text = ChildByLocalName(fault, "faultstring").child_value();
    return ShownText(code, 60) + ": " + ShownText(text, MaxFaultTextBytes);
}

std::string FaultText(const pugi::xml_node& body) {
    const std::string summary = FaultSummary(body);
    return summary.empty() ? summary : " (SOAP Fault " + summary + ")";
}

} // namespace

std::string ShownText(std::string_view text, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes + 3));
    bool blank = false; // a run of blanks and line ends shows as one blank
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            blank = !out.empty();
            continue;
        }
        const std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (out.size() + (blank ? 1 : 0) + length > maxBytes) {
            out += "...";
            return out;
        }
        if (blank)
            out += ' ';
        blank = false;
        if (c < 0x20 || c == 0x7F)
            out += '?';
        else
            out.append(text.substr(i, std::min(length, text.size() - i)));
        i += std::min(length, text.size() - i) - 1;
    }
    return out;
}

std::string SoapFaultSummary(std::string_view xmlText) {
    pugi::xml_document xml;
    if (!xml.load_buffer(xmlText.data(), xmlText.size(), AnswerParseOptions))
        return {};
    return FaultSummary(ChildByLocalName(xml.document_element(), "Body"));
}

std::string_view LocalName(std::string_view qualifiedName) {
    auto colon = qualifiedName.find(':');
    return colon == std::string_view::npos ? qualifiedName : qualifiedName.substr(colon + 1);
}

pugi::xml_node ChildByLocalName(const pugi::xml_node& node, std::string_view name) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && pallux::SameText(LocalNameOf(c.name()), name))
            return c;
    return {};
}

void XmlToJson(const pugi::xml_node& element, TJSONValue target) {
    Convert(element, target, {});
}

TJSONDocument ReadSoapAnswer(std::string_view xmlText, std::string_view answerElement) {
    // The answer is parsed in place in a copy that the document keeps, so that its names and
    // texts need not be copied again.
    TJSONDocument document;
    const std::span<char> text = document.KeepText(xmlText);
    pugi::xml_document xml;
    pugi::xml_parse_result parsed = xml.load_buffer_inplace(text.data(), text.size(), AnswerParseOptions);
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

    Convert(response, document.Root(), text);
    return document;
}

} // namespace zumvo
