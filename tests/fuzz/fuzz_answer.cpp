// Voucher service answers from arbitrary text. Reading an answer yields an object document of
// strings and nested objects, or fails with EXmlError; the document's JSON text reads back to the
// same text. The whole tree is converted too, to reach elements the answer path does not, parsed
// both as answers are and with pugixml's defaults, which must give the same document.
#include "FuzzCheck.h"
#include "SimpleXMLtoJSON.h"

#include <cstddef>
#include <cstdint>

using namespace zumvo;
using zumvo::fuzz::Check;

namespace {

// Every member is a string or an object of the same kind.
bool OnlyStringsAndObjects(const TJSONValue& node) {
    for (int i = 0; i < node._Count(); ++i) {
        const TJSONValue member = node[i];
        if (member.IsObject() ? !OnlyStringsAndObjects(member) : !member.IsString())
            return false;
    }
    return true;
}

void CheckDocument(const TJSONDocument& doc) {
    Check(doc.IsObject() && OnlyStringsAndObjects(doc.Root()), "an answer converts to strings and objects");
    const std::string text = doc.ToJSON();
    Check(TJSONDocument::Parse(text).ToJSON() == text, "the JSON text of an answer reads back unchanged");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* answer : {"transactionResponse", "adviseResponse"}) {
        try {
            CheckDocument(ReadSoapAnswer(text, answer));
        } catch (const EXmlError&) {
        }
    }
    // The whole tree, parsed as answers are and with pugixml's defaults: the same document.
    std::string converted[2];
    const unsigned options[] = {AnswerParseOptions, pugi::parse_default | pugi::parse_ws_pcdata_single};
    for (int i = 0; i < 2; ++i) {
        pugi::xml_document xml;
        if (!xml.load_buffer(data, size, options[i]))
            return 0;
        TJSONDocument doc;
        try {
            XmlToJson(xml.document_element(), doc.Root());
            CheckDocument(doc);
            converted[i] = doc.ToJSON();
        } catch (const EXmlError&) {
            Check(doc._Count() == 0, "a failed conversion leaves its target as it was");
            converted[i] = "error";
        }
    }
    Check(converted[0] == converted[1], "both parse options convert alike");
    return 0;
}
