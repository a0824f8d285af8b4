// The module's JSON document: an ordered tree of JSON values on top of RapidJSON.
//
// - Members keep their insertion order; adding a member whose name is already present adds a
//   second member of that name.
// - A lookup by name ignores ASCII case and finds the first member of that name.
// - Reading something that is not there (a missing member, an index out of range, any lookup on
//   a scalar or on null) yields a null value, never an error, so chains such as
//   doc["a"]["b"][3] are safe.
// - Writing is compact; an empty object is written "{}".
// - A number is read from its text: a whole number within 64 bits exactly, any other as the
//   nearest double. One beyond the double range makes the parse fail (EJSONError); one below the
//   smallest double reads as 0.
//
// TJSONValue is a light handle to one node of a TJSONDocument. It stays valid while its document
// lives, also when the tree grows around it (a handle re-finds its node after containers have
// been enlarged). A handle whose node was replaced by Set reads as null.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <rapidjson/document.h>

namespace zumvo {

// Invalid JSON text, a read that cannot convert, or a write to a node of the wrong kind.
class EJSONError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TJSONDocument;

namespace detail {
struct TJSONStore;
} // namespace detail

class TJSONValue {
public:
    using TRawAllocator = rapidjson::Document::AllocatorType;

    // A null value that belongs to no document.
    TJSONValue() = default;

    bool IsNull() const;
    bool IsObject() const;
    bool IsArray() const;
    bool IsString() const;
    bool IsNumber() const;
    bool IsInteger() const; // a number stored without a fraction part
    bool IsBool() const;

    // Number of items (array) or members (object); 0 for scalars and null. The name, leading
    // underscore included, is kept on purpose: it is the documented name callers use.
    int _Count() const;
    // Item of an array, or value of the index-th member of an object; null when out of range.
    TJSONValue operator[](int index) const;
    // Value of the first member of that name (ASCII case ignored); null when missing.
    TJSONValue operator[](std::string_view name) const;
    TJSONValue operator[](const char* name) const { return (*this)[std::string_view(name)]; }
    TJSONValue operator[](const std::string& name) const { return (*this)[std::string_view(name)]; }
    // Name of the index-th member of an object; empty when out of range or not an object.
    std::string MemberName(int index) const;
    bool Exists(std::string_view name) const;

    // A string as it is, a number as its JSON text, a boolean as "true"/"false".
    // Null, objects and arrays do not convert (EJSONError).
    std::string AsString() const;
    std::string AsString(std::string_view fallback) const;
    // An integral number in range, or a string that holds a whole decimal number ("-1"); no
    // blanks, no fraction. Otherwise the fallback, or EJSONError for the form without one.
    int AsInteger(int fallback) const;
    int AsInteger() const;
    std::int64_t AsInt64(std::int64_t fallback) const;
    std::int64_t AsInt64() const;
    // A number, or a string that holds a finite decimal number ("12.5", "-3", "1e2").
    double AsFloat(double fallback) const;
    double AsFloat() const;
    // A boolean, a number (non-zero is true) or the string "true"/"false" (any case).
    bool AsBoolean(bool fallback) const;
    bool AsBoolean() const;

    // Compact JSON text of this node ("null" for a null value).
    std::string ToJSON() const;

    // Object writes; the node must be an object (EJSONError otherwise). Each returns the new
    // member's value. Names and texts are copied into the document.
    TJSONValue Add(std::string_view name, std::string_view v);
    TJSONValue Add(std::string_view name, const char* v) { return Add(name, std::string_view(v)); }
    TJSONValue Add(std::string_view name, const std::string& v) { return Add(name, std::string_view(v)); }
    template <std::integral T>
    requires(!std::same_as<T, bool>) TJSONValue Add(std::string_view name, T v) {
        if constexpr (std::is_signed_v<T>)
            return AddInt(name, static_cast<std::int64_t>(v));
        else
            return AddUInt(name, static_cast<std::uint64_t>(v));
    }
    TJSONValue Add(std::string_view name, double v); // finite only (EJSONError otherwise)
    TJSONValue Add(std::string_view name, float v) { return Add(name, static_cast<double>(v)); }
    TJSONValue Add(std::string_view name, bool v);
    // Deep copy of a node, possibly of another document (a null handle adds null).
    TJSONValue Add(std::string_view name, const TJSONValue& copyOf);
    TJSONValue Add(std::string_view name, const TJSONDocument& copyOf);
    TJSONValue AddNull(std::string_view name);
    TJSONValue AddObject(std::string_view name);
    TJSONValue AddArray(std::string_view name);

    // Replace the value of the first member of that name (its name is kept), or add the member.
    TJSONValue Set(std::string_view name, std::string_view v);
    TJSONValue Set(std::string_view name, const char* v) { return Set(name, std::string_view(v)); }
    TJSONValue Set(std::string_view name, const std::string& v) { return Set(name, std::string_view(v)); }
    template <std::integral T>
    requires(!std::same_as<T, bool>) TJSONValue Set(std::string_view name, T v) {
        if constexpr (std::is_signed_v<T>)
            return SetInt(name, static_cast<std::int64_t>(v));
        else
            return SetUInt(name, static_cast<std::uint64_t>(v));
    }
    TJSONValue Set(std::string_view name, double v);
    TJSONValue Set(std::string_view name, float v) { return Set(name, static_cast<double>(v)); }
    TJSONValue Set(std::string_view name, bool v);
    TJSONValue Set(std::string_view name, const TJSONValue& copyOf);
    TJSONValue Set(std::string_view name, const TJSONDocument& copyOf);
    TJSONValue SetNull(std::string_view name);
    TJSONValue SetObject(std::string_view name);
    TJSONValue SetArray(std::string_view name);

    // Array writes; the node must be an array (EJSONError otherwise). Each returns the new item.
    TJSONValue Append(std::string_view v);
    TJSONValue Append(const char* v) { return Append(std::string_view(v)); }
    TJSONValue Append(const std::string& v) { return Append(std::string_view(v)); }
    template <std::integral T>
    requires(!std::same_as<T, bool>) TJSONValue Append(T v) {
        if constexpr (std::is_signed_v<T>)
            return AppendInt(static_cast<std::int64_t>(v));
        else
            return AppendUInt(static_cast<std::uint64_t>(v));
    }
    TJSONValue Append(double v);
    TJSONValue Append(float v) { return Append(static_cast<double>(v)); }
    TJSONValue Append(bool v);
    TJSONValue Append(const TJSONValue& copyOf);
    TJSONValue Append(const TJSONDocument& copyOf);
    TJSONValue AppendNull();
    TJSONValue AppendObject();
    TJSONValue AppendArray();

    // Low-level access for converters that build large subtrees directly. The node (nullptr
    // for a null handle) and the document's allocator stay usable until the next change made
    // through another handle; values added must be allocated with that allocator.
    const rapidjson::Value* RawNode() const { return Node(); }
    rapidjson::Value* RawNodeForWrite(TRawAllocator*& allocator);

private:
    friend class TJSONDocument;
    TJSONValue(detail::TJSONStore* store, std::vector<int> path, bool readOnly);

    rapidjson::Value* Node() const;
    rapidjson::Value& Writable(bool wantObject, const char* operation);
    TJSONValue Child(int index) const;
    TJSONValue AddValue(std::string_view name, rapidjson::Value&& v);
    TJSONValue SetValue(std::string_view name, rapidjson::Value&& v);
    TJSONValue AppendValue(rapidjson::Value&& v);
    rapidjson::Value CopyOf(const TJSONValue& source);
    TRawAllocator& Allocator() const;

    TJSONValue AddInt(std::string_view name, std::int64_t v);
    TJSONValue AddUInt(std::string_view name, std::uint64_t v);
    TJSONValue SetInt(std::string_view name, std::int64_t v);
    TJSONValue SetUInt(std::string_view name, std::uint64_t v);
    TJSONValue AppendInt(std::int64_t v);
    TJSONValue AppendUInt(std::uint64_t v);

    detail::TJSONStore* FStore = nullptr; // nullptr: a null value outside any document
    std::vector<int> FPath;               // child indexes from the root
    bool FReadOnly = false;
    mutable rapidjson::Value* FNode = nullptr; // node found for FGeneration
    mutable std::uint64_t FGeneration = 0;
};

// Owns one JSON tree. Movable, not copyable (Clone makes a deep copy). A moved-from document
// reads as null.
class TJSONDocument {
public:
    // An empty object.
    TJSONDocument();
    ~TJSONDocument();
    TJSONDocument(TJSONDocument&&) noexcept;
    TJSONDocument& operator=(TJSONDocument&&) noexcept;
    TJSONDocument(const TJSONDocument&) = delete;
    TJSONDocument& operator=(const TJSONDocument&) = delete;

    // Parses JSON text (any value at the root); EJSONError with the reason and the offset.
    static TJSONDocument Parse(std::string_view text);
    static TJSONDocument NewObject();
    static TJSONDocument NewArray();
    // A new document holding a deep copy of the node (null for a null handle).
    static TJSONDocument CopyOf(const TJSONValue& node);
    TJSONDocument Clone() const;

    TJSONValue Root();
    // A read-only handle: writes through it raise EJSONError.
    TJSONValue Root() const;

    // Forwarders to the root.
    bool IsNull() const { return Root().IsNull(); }
    bool IsObject() const { return Root().IsObject(); }
    bool IsArray() const { return Root().IsArray(); }
    int _Count() const { return Root()._Count(); }
    TJSONValue operator[](int index) { return Root()[index]; }
    TJSONValue operator[](int index) const { return Root()[index]; }
    TJSONValue operator[](std::string_view name) { return Root()[name]; }
    TJSONValue operator[](std::string_view name) const { return Root()[name]; }
    TJSONValue operator[](const char* name) { return Root()[name]; }
    TJSONValue operator[](const char* name) const { return Root()[name]; }
    TJSONValue operator[](const std::string& name) { return Root()[name]; }
    TJSONValue operator[](const std::string& name) const { return Root()[name]; }
    std::string MemberName(int index) const { return Root().MemberName(index); }
    bool Exists(std::string_view name) const { return Root().Exists(name); }
    std::string ToJSON() const { return Root().ToJSON(); }

    template <class... A> TJSONValue Add(std::string_view name, A&&... v) {
        return Root().Add(name, std::forward<A>(v)...);
    }
    TJSONValue AddNull(std::string_view name) { return Root().AddNull(name); }
    TJSONValue AddObject(std::string_view name) { return Root().AddObject(name); }
    TJSONValue AddArray(std::string_view name) { return Root().AddArray(name); }
    template <class... A> TJSONValue Set(std::string_view name, A&&... v) {
        return Root().Set(name, std::forward<A>(v)...);
    }
    TJSONValue SetNull(std::string_view name) { return Root().SetNull(name); }
    TJSONValue SetObject(std::string_view name) { return Root().SetObject(name); }
    TJSONValue SetArray(std::string_view name) { return Root().SetArray(name); }
    template <class A> TJSONValue Append(A&& v) { return Root().Append(std::forward<A>(v)); }
    TJSONValue AppendNull() { return Root().AppendNull(); }
    TJSONValue AppendObject() { return Root().AppendObject(); }
    TJSONValue AppendArray() { return Root().AppendArray(); }

    // For converters of other formats that parse in place: a writable copy of text, followed by a
    // NUL, kept until the document is destroyed. String values built by RapidJSON without copying
    // (copy = false) may refer to it, provided they end with a NUL; copies of such values into
    // other documents (CopyOf, Clone, Add/Set/Append of a value) always copy the characters.
    std::span<char> KeepText(std::string_view text);

private:
    explicit TJSONDocument(std::unique_ptr<detail::TJSONStore> store);
    std::unique_ptr<detail::TJSONStore> FStore;
};

} // namespace zumvo
