// JSON documents from arbitrary text: parsing answers a document or EJSONError; a parsed
// document writes JSON text that parses back to the same text; look-ups, conversions and copies
// of every node are safe; numbers keep their value through text.
#include "FuzzCheck.h"
#include "JsonDocument.h"
#include "clsSysUtils.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

using namespace zumvo;
using zumvo::fuzz::Check;

namespace {

void CheckNumber(const TJSONValue& v) {
    const double value = v.AsFloat();
    Check(std::isfinite(value), "a parsed number is finite");
    const TJSONDocument again = TJSONDocument::Parse(v.AsString());
    Check(again.Root().AsFloat() == value, "a number keeps its value through its text: " + v.AsString());
    if (v.IsInteger())
        Check(again.Root().IsInteger() && again.Root().AsInt64(0) == v.AsInt64(0),
              "an integer stays an integer: " + v.AsString());
}

void Walk(const TJSONValue& node) {
    // Conversions with a fallback never throw, whatever the node.
    (void)node.AsString("");
    (void)node.AsInteger(0);
    (void)node.AsInt64(0);
    (void)node.AsFloat(0.0);
    (void)node.AsBoolean(false);
    if (node.IsNumber())
        CheckNumber(node);
    for (int i = 0; i < node._Count(); ++i) {
        if (node.IsObject()) {
            const std::string name = node.MemberName(i);
            Check(node.Exists(name), "a member's own name finds a member");
            // The first member whose name matches, ignoring ASCII case (objects of fuzzing size).
            if (node._Count() <= 64) {
                int first = 0;
                while (!pallux::SameText(node.MemberName(first), name))
                    ++first;
                Check(node[name].ToJSON() == node[first].ToJSON(), "a look-up by name finds the first match");
            }
        }
        Walk(node[i]);
    }
    Check(node[node._Count()].IsNull() && node[-1].IsNull(), "an index out of range reads null");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TJSONDocument doc;
    try {
        doc = TJSONDocument::Parse(text);
    } catch (const EJSONError&) {
        return 0;
    }
    const std::string written = doc.ToJSON();
    Check(TJSONDocument::Parse(written).ToJSON() == written, "written JSON reads back unchanged");
    Check(doc.Clone().ToJSON() == written, "a clone writes the same text");
    Walk(doc.Root());

    TJSONDocument copy = doc.Clone();
    if (copy.IsObject()) {
        const int before = copy._Count();
        copy.Add("added", "value");
        Check(copy._Count() == before + 1 && copy.MemberName(before) == "added",
              "an added member comes last, also under a name already present");
    } else if (copy.IsArray()) {
        const int before = copy._Count();
        copy.Append(TJSONDocument::CopyOf(doc.Root()));
        Check(copy[before].ToJSON() == written, "an appended copy writes as its source");
    }
    return 0;
}
