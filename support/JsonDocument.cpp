#include "JsonDocument.h"

#include "clsRapidJson.h"
#include "clsSysUtils.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

namespace zumvo {

namespace detail {

// The tree of one document. Generation changes whenever the tree's shape changes, which may move
// nodes in memory; handles then find their node again from the root.
struct TJSONStore {
    // User-provided, so that a new store is not zero-filled first (FirstChunk needs no zeros).
    TJSONStore() {}
    TJSONStore(const TJSONStore&) = delete;
    TJSONStore& operator=(const TJSONStore&) = delete;

    // A document's first memory lives in the store itself: the small documents read and written
    // for every request (answers, settings, log entries) need no allocation of their own, and
    // larger ones grow in chunks of RapidJSON's usual size.
    static constexpr std::size_t FirstChunkSize = 4096;
    alignas(std::max_align_t) char FirstChunk[FirstChunkSize];
    rapidjson::MemoryPoolAllocator<> Pool{FirstChunk, FirstChunkSize};
    TRapidDocument Doc{&Pool};
    std::uint64_t Generation = 1;
};

} // namespace detail

namespace {

using rapidjson::Value;

// Deeper documents are refused when parsed: writing and copying walk the tree recursively.
constexpr int MaxParseDepth = 1000;

bool SameName(const Value& memberName, std::string_view name) {
    return pallux::SameText(std::string_view(memberName.GetString(), memberName.GetStringLength()), name);
}

// Index of the first member of that name (ASCII case ignored), or -1.
int FindFirst(const Value& object, std::string_view name) {
    int index = 0;
    for (auto it = object.MemberBegin(); it != object.MemberEnd(); ++it, ++index)
        if (SameName(it->name, name))
            return index;
    return -1;
}

Value MakeString(std::string_view text, rapidjson::Document::AllocatorType& allocator) {
    // An empty view may have no characters at all (nullptr), which must not reach memcpy.
    return Value(text.empty() ? "" : text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

// Events of a reader or of a tree, into a document builder, with every string copied: RapidJSON
// hands strings that a document refers to (kept text, see TJSONDocument::KeepText) on as "do not
// copy", and a copy must own its characters.
class TCopyingBuilder {
public:
    explicit TCopyingBuilder(TRapidDocument& doc) : FDoc(doc) {}
    bool Null() { return FDoc.Null(); }
    bool Bool(bool b) { return FDoc.Bool(b); }
    bool Int(int i) { return FDoc.Int(i); }
    bool Uint(unsigned u) { return FDoc.Uint(u); }
    bool Int64(std::int64_t i) { return FDoc.Int64(i); }
    bool Uint64(std::uint64_t u) { return FDoc.Uint64(u); }
    bool Double(double d) { return FDoc.Double(d); }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool) { return FDoc.RawNumber(s, n, true); }
    bool String(const char* s, rapidjson::SizeType n, bool) { return FDoc.String(s, n, true); }
    bool StartObject() { return FDoc.StartObject(); }
    bool Key(const char* s, rapidjson::SizeType n, bool) { return FDoc.Key(s, n, true); }
    bool EndObject(rapidjson::SizeType members) { return FDoc.EndObject(members); }
    bool StartArray() { return FDoc.StartArray(); }
    bool EndArray(rapidjson::SizeType items) { return FDoc.EndArray(items); }

protected:
    TRapidDocument& FDoc;
};

// A deep copy made with this code base's builder (RapidJSON's own copy constructor builds with
// stacks of its default type; see clsRapidJson.h).
Value DeepCopy(const Value& from, rapidjson::Document::AllocatorType& allocator) {
    TRapidDocument copy(&allocator);
    auto generate = [&](TRapidDocument& out) {
        TCopyingBuilder builder(out);
        return from.Accept(builder);
    };
    copy.Populate(generate);
    Value result;
    result = static_cast<Value&>(copy); // moves the tree; the memory is the allocator's
    return result;
}

Value MakeDouble(double v) {
    if (!std::isfinite(v))
        throw EJSONError("JSON cannot hold a number that is not finite");
    return Value(v);
}

std::string WriteCompact(const Value& v) {
    TRapidStringBuffer buffer;
    TRapidWriter writer(buffer);
    if (!v.Accept(writer))
        throw EJSONError("JSON value could not be written");
    return std::string(buffer.GetString(), buffer.GetSize());
}

const char* KindName(const Value* v) {
    if (v == nullptr || v->IsNull())
        return "null";
    if (v->IsObject())
        return "object";
    if (v->IsArray())
        return "array";
    if (v->IsString())
        return "string";
    if (v->IsBool())
        return "boolean";
    return "number";
}

int Depth(const Value& root) {
    // Iterative, so that a hostile document cannot exhaust the stack here.
    std::vector<std::pair<const Value*, int>> pending{{&root, 1}};
    int deepest = 0;
    while (!pending.empty()) {
        auto [v, depth] = pending.back();
        pending.pop_back();
        if (depth > deepest)
            deepest = depth;
        if (depth > MaxParseDepth)
            break;
        if (v->IsObject()) {
            for (auto it = v->MemberBegin(); it != v->MemberEnd(); ++it)
                if (it->value.IsObject() || it->value.IsArray())
                    pending.emplace_back(&it->value, depth + 1);
        } else if (v->IsArray()) {
            for (auto it = v->Begin(); it != v->End(); ++it)
                if (it->IsObject() || it->IsArray())
                    pending.emplace_back(&*it, depth + 1);
        }
    }
    return deepest;
}

// A whole decimal number filling the whole text.
bool ParseWhole(std::string_view text, std::int64_t& out) {
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

bool ParseDecimal(std::string_view text, double& out) {
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out, std::chars_format::general);
    return ec == std::errc() && ptr == end && std::isfinite(out);
}

bool ToInt64(const Value* v, std::int64_t& out) {
    if (v == nullptr)
        return false;
    if (v->IsInt64()) {
        out = v->GetInt64();
        return true;
    }
    if (v->IsUint64())
        return false; // above the signed range
    if (v->IsDouble()) {
        double d = v->GetDouble();
        if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0) || d != std::trunc(d))
            return false;
        out = static_cast<std::int64_t>(d);
        return true;
    }
    if (v->IsString())
        return ParseWhole(std::string_view(v->GetString(), v->GetStringLength()), out);
    return false;
}

bool ToInt(const Value* v, int& out) {
    std::int64_t wide = 0;
    if (!ToInt64(v, wide) || wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
        return false;
    out = static_cast<int>(wide);
    return true;
}

bool ToDouble(const Value* v, double& out) {
    if (v == nullptr)
        return false;
    if (v->IsNumber()) {
        out = v->GetDouble();
        return true;
    }
    if (v->IsString())
        return ParseDecimal(std::string_view(v->GetString(), v->GetStringLength()), out);
    return false;
}

bool ToBool(const Value* v, bool& out) {
    if (v == nullptr)
        return false;
    if (v->IsBool()) {
        out = v->GetBool();
        return true;
    }
    if (v->IsNumber()) {
        out = v->GetDouble() != 0.0;
        return true;
    }
    if (v->IsString()) {
        const std::string_view s(v->GetString(), v->GetStringLength());
        const auto is = [&](std::string_view word) { return pallux::SameText(s, word); };
        if (is("true")) {
            out = true;
            return true;
        }
        if (is("false")) {
            out = false;
            return true;
        }
    }
    return false;
}

bool ToText(const Value* v, std::string& out) {
    if (v == nullptr)
        return false;
    if (v->IsString()) {
        out.assign(v->GetString(), v->GetStringLength());
        return true;
    }
    if (v->IsBool()) {
        out = v->GetBool() ? "true" : "false";
        return true;
    }
    if (v->IsInt64()) {
        out = std::to_string(v->GetInt64());
        return true;
    }
    if (v->IsUint64()) {
        out = std::to_string(v->GetUint64());
        return true;
    }
    if (v->IsNumber()) {
        if (!std::isfinite(v->GetDouble()))
            return false;
        out = WriteCompact(*v);
        return true;
    }
    return false;
}

// Which side of the double range a number that from_chars calls out of range lies on: its
// decimal magnitude (position of the first significant digit, exponent included) is below 0 for
// a number too small, above 0 for one too large.
bool TooSmall(std::string_view number) {
    std::size_t at = number.front() == '-' ? 1 : 0;
    long long magnitude = 0;
    bool seenDigit = false, inFraction = false;
    for (; at < number.size() && number[at] != 'e' && number[at] != 'E'; ++at) {
        const char c = number[at];
        if (c == '.') {
            inFraction = true;
        } else if (!seenDigit && c == '0') {
            if (inFraction)
                --magnitude;
        } else {
            seenDigit = true;
            if (!inFraction)
                ++magnitude;
        }
    }
    long long exponent = 0;
    if (at < number.size()) {
        std::string_view e = number.substr(at + 1);
        if (!e.empty() && e.front() == '+')
            e.remove_prefix(1);
        const auto [ptr, ec] = std::from_chars(e.data(), e.data() + e.size(), exponent);
        if (ec == std::errc::result_out_of_range)
            exponent = e.front() == '-' ? -(1LL << 40) : (1LL << 40);
        (void)ptr;
    }
    return magnitude + exponent <= 0;
}

// The reader's events into a document; a number's text becomes an integer when it is whole and
// fits 64 bits, else the nearest double (std::from_chars, exactly rounded). A number beyond the
// largest double stops the parse with an error; one below the smallest reads as 0.
class TNumberReader : public TCopyingBuilder {
public:
    TNumberReader(TRapidDocument& doc, std::string& error) : TCopyingBuilder(doc), FError(error) {}

    // The reader calls the handler's own members: this one hides the builder's.
    bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
        const std::string_view text(s, n);
        const char* end = s + n;
        if (text.find_first_of(".eE") == std::string_view::npos) {
            std::int64_t whole = 0;
            if (auto [p, ec] = std::from_chars(s, end, whole); ec == std::errc() && p == end)
                return FDoc.Int64(whole);
            std::uint64_t positive = 0;
            if (auto [p, ec] = std::from_chars(s, end, positive); ec == std::errc() && p == end)
                return FDoc.Uint64(positive);
        }
        double d = 0;
        const auto [p, ec] = std::from_chars(s, end, d, std::chars_format::general);
        if (p != end || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
            FError = "the number " + std::string(text) + " cannot be read";
            return false;
        }
        if (ec == std::errc::result_out_of_range) {
            if (!TooSmall(text)) {
                FError = "the number " + std::string(text) + " is too large";
                return false;
            }
            d = text.front() == '-' ? -0.0 : 0.0;
        }
        if (!std::isfinite(d)) {
            FError = "the number " + std::string(text) + " is too large";
            return false;
        }
        return FDoc.Double(d);
    }

private:
    std::string& FError;
};

} // namespace

// ---- TJSONValue ------------------------------------------------------------------------------

TJSONValue::TJSONValue(detail::TJSONStore* store, std::vector<int> path, bool readOnly)
    : FStore(store), FPath(std::move(path)), FReadOnly(readOnly) {}

rapidjson::Value* TJSONValue::Node() const {
    if (FStore == nullptr)
        return nullptr;
    if (FGeneration == FStore->Generation)
        return FNode;
    Value* node = &FStore->Doc;
    for (int index : FPath) {
        if (node->IsArray() && index >= 0 && static_cast<rapidjson::SizeType>(index) < node->Size()) {
            node = &(*node)[static_cast<rapidjson::SizeType>(index)];
        } else if (node->IsObject() && index >= 0 &&
                   static_cast<rapidjson::SizeType>(index) < node->MemberCount()) {
            node = &(node->MemberBegin() + index)->value;
        } else {
            node = nullptr;
            break;
        }
    }
    FNode = node;
    FGeneration = FStore->Generation;
    return node;
}

TJSONValue::TRawAllocator& TJSONValue::Allocator() const {
    return FStore->Doc.GetAllocator();
}

rapidjson::Value& TJSONValue::Writable(bool wantObject, const char* operation) {
    if (FReadOnly)
        throw EJSONError(std::string(operation) + ": the JSON document is read-only here");
    Value* node = Node();
    if (node == nullptr || (wantObject ? !node->IsObject() : !node->IsArray()))
        throw EJSONError(std::string(operation) + ": the JSON value is " + KindName(node) + ", not " +
                         (wantObject ? "an object" : "an array"));
    return *node;
}

TJSONValue TJSONValue::Child(int index) const {
    Value* node = Node();
    if (node == nullptr || index < 0)
        return {};
    Value* child = nullptr;
    auto i = static_cast<rapidjson::SizeType>(index);
    if (node->IsArray() && i < node->Size())
        child = &(*node)[i];
    else if (node->IsObject() && i < node->MemberCount())
        child = &(node->MemberBegin() + index)->value;
    if (child == nullptr)
        return {};
    std::vector<int> path;
    path.reserve(FPath.size() + 1);
    path = FPath;
    path.push_back(index);
    TJSONValue result(FStore, std::move(path), FReadOnly);
    result.FNode = child;
    result.FGeneration = FStore->Generation;
    return result;
}

bool TJSONValue::IsNull() const {
    const Value* v = Node();
    return v == nullptr || v->IsNull();
}
bool TJSONValue::IsObject() const {
    const Value* v = Node();
    return v != nullptr && v->IsObject();
}
bool TJSONValue::IsArray() const {
    const Value* v = Node();
    return v != nullptr && v->IsArray();
}
bool TJSONValue::IsString() const {
    const Value* v = Node();
    return v != nullptr && v->IsString();
}
bool TJSONValue::IsNumber() const {
    const Value* v = Node();
    return v != nullptr && v->IsNumber();
}
bool TJSONValue::IsInteger() const {
    const Value* v = Node();
    return v != nullptr && (v->IsInt64() || v->IsUint64());
}
bool TJSONValue::IsBool() const {
    const Value* v = Node();
    return v != nullptr && v->IsBool();
}

int TJSONValue::_Count() const {
    const Value* v = Node();
    if (v == nullptr)
        return 0;
    if (v->IsArray())
        return static_cast<int>(v->Size());
    if (v->IsObject())
        return static_cast<int>(v->MemberCount());
    return 0;
}

TJSONValue TJSONValue::operator[](int index) const {
    return Child(index);
}

TJSONValue TJSONValue::operator[](std::string_view name) const {
    const Value* v = Node();
    if (v == nullptr || !v->IsObject())
        return {};
    int index = FindFirst(*v, name);
    return index < 0 ? TJSONValue() : Child(index);
}

std::string TJSONValue::MemberName(int index) const {
    const Value* v = Node();
    if (v == nullptr || !v->IsObject() || index < 0 ||
        static_cast<rapidjson::SizeType>(index) >= v->MemberCount())
        return {};
    const Value& name = (v->MemberBegin() + index)->name;
    return std::string(name.GetString(), name.GetStringLength());
}

bool TJSONValue::Exists(std::string_view name) const {
    const Value* v = Node();
    return v != nullptr && v->IsObject() && FindFirst(*v, name) >= 0;
}

std::string TJSONValue::AsString() const {
    std::string text;
    if (!ToText(Node(), text))
        throw EJSONError(std::string("JSON ") + KindName(Node()) + " does not convert to text");
    return text;
}

std::string TJSONValue::AsString(std::string_view fallback) const {
    std::string text;
    return ToText(Node(), text) ? text : std::string(fallback);
}

int TJSONValue::AsInteger(int fallback) const {
    int v = 0;
    return ToInt(Node(), v) ? v : fallback;
}

int TJSONValue::AsInteger() const {
    int v = 0;
    if (!ToInt(Node(), v))
        throw EJSONError(std::string("JSON ") + KindName(Node()) + " does not convert to an integer");
    return v;
}

std::int64_t TJSONValue::AsInt64(std::int64_t fallback) const {
    std::int64_t v = 0;
    return ToInt64(Node(), v) ? v : fallback;
}

std::int64_t TJSONValue::AsInt64() const {
    std::int64_t v = 0;
    if (!ToInt64(Node(), v))
        throw EJSONError(std::string("JSON ") + KindName(Node()) + " does not convert to an integer");
    return v;
}

double TJSONValue::AsFloat(double fallback) const {
    double v = 0;
    return ToDouble(Node(), v) ? v : fallback;
}

double TJSONValue::AsFloat() const {
    double v = 0;
    if (!ToDouble(Node(), v))
        throw EJSONError(std::string("JSON ") + KindName(Node()) + " does not convert to a number");
    return v;
}

bool TJSONValue::AsBoolean(bool fallback) const {
    bool v = false;
    return ToBool(Node(), v) ? v : fallback;
}

bool TJSONValue::AsBoolean() const {
    bool v = false;
    if (!ToBool(Node(), v))
        throw EJSONError(std::string("JSON ") + KindName(Node()) + " does not convert to a boolean");
    return v;
}

std::string TJSONValue::ToJSON() const {
    const Value* v = Node();
    return v == nullptr ? std::string("null") : WriteCompact(*v);
}

rapidjson::Value TJSONValue::CopyOf(const TJSONValue& source) {
    const Value* from = source.Node();
    if (from == nullptr)
        return Value();
    return DeepCopy(*from, Allocator());
}

TJSONValue TJSONValue::AddValue(std::string_view name, rapidjson::Value&& v) {
    Value& node = Writable(true, "Add");
    Value key = MakeString(name, Allocator());
    node.AddMember(key, v, Allocator());
    // Members may have moved; this node itself has not.
    ++FStore->Generation;
    FNode = &node;
    FGeneration = FStore->Generation;
    return Child(static_cast<int>(node.MemberCount()) - 1);
}

TJSONValue TJSONValue::SetValue(std::string_view name, rapidjson::Value&& v) {
    Value& node = Writable(true, "Set");
    int index = FindFirst(node, name);
    if (index < 0)
        return AddValue(name, std::move(v));
    (node.MemberBegin() + index)->value = v; // RapidJSON assignment moves
    // Handles below the replaced value must not keep pointing into it.
    ++FStore->Generation;
    FNode = &node;
    FGeneration = FStore->Generation;
    return Child(index);
}

TJSONValue TJSONValue::AppendValue(rapidjson::Value&& v) {
    Value& node = Writable(false, "Append");
    node.PushBack(v, Allocator());
    ++FStore->Generation;
    FNode = &node;
    FGeneration = FStore->Generation;
    return Child(static_cast<int>(node.Size()) - 1);
}

rapidjson::Value* TJSONValue::RawNodeForWrite(TRawAllocator*& allocator) {
    if (FReadOnly)
        throw EJSONError("the JSON document is read-only here");
    Value* node = Node();
    if (FStore == nullptr || node == nullptr) {
        allocator = nullptr;
        return nullptr;
    }
    ++FStore->Generation;
    FNode = node;
    FGeneration = FStore->Generation;
    allocator = &Allocator();
    return node;
}

TJSONValue TJSONValue::Add(std::string_view name, std::string_view v) {
    Writable(true, "Add");
    return AddValue(name, MakeString(v, Allocator()));
}
TJSONValue TJSONValue::AddInt(std::string_view name, std::int64_t v) {
    return AddValue(name, Value(v));
}
TJSONValue TJSONValue::AddUInt(std::string_view name, std::uint64_t v) {
    return AddValue(name, Value(v));
}
TJSONValue TJSONValue::Add(std::string_view name, double v) {
    return AddValue(name, MakeDouble(v));
}
TJSONValue TJSONValue::Add(std::string_view name, bool v) {
    return AddValue(name, Value(v));
}
TJSONValue TJSONValue::Add(std::string_view name, const TJSONValue& copyOf) {
    Writable(true, "Add");
    return AddValue(name, CopyOf(copyOf));
}
TJSONValue TJSONValue::Add(std::string_view name, const TJSONDocument& copyOf) {
    return Add(name, copyOf.Root());
}
TJSONValue TJSONValue::AddNull(std::string_view name) {
    return AddValue(name, Value());
}
TJSONValue TJSONValue::AddObject(std::string_view name) {
    return AddValue(name, Value(rapidjson::kObjectType));
}
TJSONValue TJSONValue::AddArray(std::string_view name) {
    return AddValue(name, Value(rapidjson::kArrayType));
}

TJSONValue TJSONValue::Set(std::string_view name, std::string_view v) {
    Writable(true, "Set");
    return SetValue(name, MakeString(v, Allocator()));
}
TJSONValue TJSONValue::SetInt(std::string_view name, std::int64_t v) {
    return SetValue(name, Value(v));
}
TJSONValue TJSONValue::SetUInt(std::string_view name, std::uint64_t v) {
    return SetValue(name, Value(v));
}
TJSONValue TJSONValue::Set(std::string_view name, double v) {
    return SetValue(name, MakeDouble(v));
}
TJSONValue TJSONValue::Set(std::string_view name, bool v) {
    return SetValue(name, Value(v));
}
TJSONValue TJSONValue::Set(std::string_view name, const TJSONValue& copyOf) {
    Writable(true, "Set");
    return SetValue(name, CopyOf(copyOf));
}
TJSONValue TJSONValue::Set(std::string_view name, const TJSONDocument& copyOf) {
    return Set(name, copyOf.Root());
}
TJSONValue TJSONValue::SetNull(std::string_view name) {
    return SetValue(name, Value());
}
TJSONValue TJSONValue::SetObject(std::string_view name) {
    return SetValue(name, Value(rapidjson::kObjectType));
}
TJSONValue TJSONValue::SetArray(std::string_view name) {
    return SetValue(name, Value(rapidjson::kArrayType));
}

TJSONValue TJSONValue::Append(std::string_view v) {
    Writable(false, "Append");
    return AppendValue(MakeString(v, Allocator()));
}
TJSONValue TJSONValue::AppendInt(std::int64_t v) {
    return AppendValue(Value(v));
}
TJSONValue TJSONValue::AppendUInt(std::uint64_t v) {
    return AppendValue(Value(v));
}
TJSONValue TJSONValue::Append(double v) {
    return AppendValue(MakeDouble(v));
}
TJSONValue TJSONValue::Append(bool v) {
    return AppendValue(Value(v));
}
TJSONValue TJSONValue::Append(const TJSONValue& copyOf) {
    Writable(false, "Append");
    return AppendValue(CopyOf(copyOf));
}
TJSONValue TJSONValue::Append(const TJSONDocument& copyOf) {
    return Append(copyOf.Root());
}
TJSONValue TJSONValue::AppendNull() {
    return AppendValue(Value());
}
TJSONValue TJSONValue::AppendObject() {
    return AppendValue(Value(rapidjson::kObjectType));
}
TJSONValue TJSONValue::AppendArray() {
    return AppendValue(Value(rapidjson::kArrayType));
}

// ---- TJSONDocument ---------------------------------------------------------------------------

TJSONDocument::TJSONDocument() : FStore(std::make_unique<detail::TJSONStore>()) {
    FStore->Doc.SetObject();
}
TJSONDocument::TJSONDocument(std::unique_ptr<detail::TJSONStore> store) : FStore(std::move(store)) {}
TJSONDocument::~TJSONDocument() = default;
TJSONDocument::TJSONDocument(TJSONDocument&&) noexcept = default;
TJSONDocument& TJSONDocument::operator=(TJSONDocument&&) noexcept = default;

TJSONDocument TJSONDocument::Parse(std::string_view text) {
    auto store = std::make_unique<detail::TJSONStore>();
    // Numbers come from the reader as their text and are converted here (TNumberReader), never
    // by the reader's own full-precision conversion.
    constexpr unsigned flags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;
    TRapidReader reader;
    rapidjson::MemoryStream bytes(text.data(), text.size());
    std::string numberError;
    const auto generate = [&](TRapidDocument& doc) {
        TNumberReader handler(doc, numberError);
        return !reader.Parse<flags>(bytes, handler).IsError();
    };
    store->Doc.Populate(generate);
    if (reader.HasParseError()) {
        const std::string reason =
            !numberError.empty() ? numberError : rapidjson::GetParseError_En(reader.GetParseErrorCode());
        throw EJSONError("Invalid JSON at offset " + std::to_string(reader.GetErrorOffset()) + ": " + reason);
    }
    if (Depth(store->Doc) > MaxParseDepth)
        throw EJSONError("Invalid JSON: nested deeper than " + std::to_string(MaxParseDepth) + " levels");
    return TJSONDocument(std::move(store));
}

TJSONDocument TJSONDocument::NewObject() {
    return TJSONDocument();
}

TJSONDocument TJSONDocument::NewArray() {
    TJSONDocument doc;
    doc.FStore->Doc.SetArray();
    return doc;
}

TJSONDocument TJSONDocument::CopyOf(const TJSONValue& node) {
    auto store = std::make_unique<detail::TJSONStore>();
    if (const rapidjson::Value* from = node.Node())
        static_cast<rapidjson::Value&>(store->Doc) = DeepCopy(*from, store->Doc.GetAllocator());
    return TJSONDocument(std::move(store));
}

std::span<char> TJSONDocument::KeepText(std::string_view text) {
    if (!FStore)
        throw EJSONError("KeepText on a moved-from JSON document");
    // From the document's own memory: it lives exactly as long as the values that refer to it.
    auto* copy = static_cast<char*>(FStore->Pool.Malloc(text.size() + 1));
    if (copy == nullptr)
        throw std::bad_alloc();
    if (!text.empty())
        std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return {copy, text.size()};
}

TJSONDocument TJSONDocument::Clone() const {
    return CopyOf(Root());
}

TJSONValue TJSONDocument::Root() {
    return FStore ? TJSONValue(FStore.get(), {}, false) : TJSONValue();
}

TJSONValue TJSONDocument::Root() const {
    return FStore ? TJSONValue(FStore.get(), {}, true) : TJSONValue();
}

} // namespace zumvo
