// Voucher service answers from arbitrary text. Reading an answer yields an object document of
// strings and nested objects, or fails with EXmlError; the document's JSON text reads back to the
// same text. The whole tree is converted too, to reach elements the answer path does not.
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
    pugi::xml_document xml;
    if (xml.load_buffer(data, size, pugi::parse_default | pugi::parse_ws_pcdata_single)) {
        TJSONDocument doc;
        try {
            XmlToJson(xml.document_element(), doc.Root());
            CheckDocument(doc);
        } catch (const EXmlError&) {
            Check(doc._Count() == 0, "a failed conversion leaves its target as it was");
        }
    }
    return 0;
}
