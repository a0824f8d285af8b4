// Base types of the host/module boundary: GUIDs, the reference-counted base interface and
// the smart pointer that owns one reference to an interface.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#if defined(_WIN32)
#define PALLUX_CALL __stdcall
#define PALLUX_EXPORT extern "C" __declspec(dllexport)
#else
#define PALLUX_CALL
#define PALLUX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace pallux {

// A 16-byte interface identifier, built at compile time from its text form "{8-4-4-4-12}".
struct TGUID {
    std::uint32_t D1 = 0;
    std::uint16_t D2 = 0;
    std::uint16_t D3 = 0;
    std::array<std::uint8_t, 8> D4{};

    constexpr TGUID() = default;

    consteval explicit TGUID(const char* text) { *this = Parse(text); }

    // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; throws std::invalid_argument otherwise.
    static constexpr TGUID Parse(std::string_view text) {
        if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' ||
            text[14] != '-' || text[19] != '-' || text[24] != '-')
            throw std::invalid_argument("not a GUID text");
        std::size_t pos = 1;
        const auto hex = [&](int digits) {
            std::uint64_t value = 0;
            for (int i = 0; i < digits; ++i, ++pos) {
                if (text[pos] == '-')
                    ++pos;
                const char c = text[pos];
                int v = -1;
                if (c >= '0' && c <= '9')
                    v = c - '0';
                else if (c >= 'a' && c <= 'f')
                    v = c - 'a' + 10;
                else if (c >= 'A' && c <= 'F')
                    v = c - 'A' + 10;
                if (v < 0)
                    throw std::invalid_argument("not a GUID text");
                value = value * 16 + static_cast<std::uint64_t>(v);
            }
            return value;
        };
        TGUID g;
        g.D1 = static_cast<std::uint32_t>(hex(8));
        g.D2 = static_cast<std::uint16_t>(hex(4));
        g.D3 = static_cast<std::uint16_t>(hex(4));
        for (auto& b : g.D4)
            b = static_cast<std::uint8_t>(hex(2));
        return g;
    }

    // Upper-case text form with braces, as the GUID is written in the sources.
    std::string ToString() const {
        static constexpr char digits[] = "0123456789ABCDEF";
        std::string s = "{";
        const auto put = [&](std::uint64_t v, int n) {
            for (int i = n - 1; i >= 0; --i)
                s += digits[(v >> (i * 4)) & 0xF];
        };
        put(D1, 8);
        s += '-';
        put(D2, 4);
        s += '-';
        put(D3, 4);
        s += '-';
        for (int i = 0; i < 8; ++i) {
            if (i == 2)
                s += '-';
            put(D4[static_cast<std::size_t>(i)], 2);
        }
        return s + "}";
    }

    friend constexpr auto operator<=>(const TGUID&, const TGUID&) = default;
};

inline std::ostream& operator<<(std::ostream& os, const TGUID& g) {
    return os << g.ToString();
}

using HResult = std::int32_t;
inline constexpr HResult S_OK = 0;
inline constexpr HResult E_NOINTERFACE = static_cast<HResult>(0x80004002u);

// The base of every interface. Its first three slots are the reference-counting operations;
// every derived interface adds its operations after them, in documented order.
class IInterface {
public:
    static constexpr TGUID IID{"{00000000-0000-0000-C000-000000000046}"};

    virtual HResult PALLUX_CALL QueryInterface(const TGUID& iid, void** obj) = 0;
    virtual std::int32_t PALLUX_CALL AddRef() = 0;
    virtual std::int32_t PALLUX_CALL Release() = 0;

protected:
    ~IInterface() = default;
};

// Owns one reference to an interface, like ComPtr: copying adds a reference, destruction
// releases it.
template <class T> class IntfPtr {
public:
    IntfPtr() = default;
    IntfPtr(std::nullptr_t) {}
    // Takes a new reference on p.
    explicit IntfPtr(T* p) : FPtr(p) {
        if (FPtr)
            FPtr->AddRef();
    }
    IntfPtr(const IntfPtr& other) : IntfPtr(other.FPtr) {}
    IntfPtr(IntfPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    template <class U>
    requires std::is_convertible_v<U*, T*> IntfPtr(const IntfPtr<U>& other)
        : IntfPtr(static_cast<T*>(other.get())) {}
    ~IntfPtr() { reset(); }

    IntfPtr& operator=(IntfPtr other) noexcept {
        std::swap(FPtr, other.FPtr);
        return *this;
    }

    // Wraps a pointer whose reference the caller hands over (no AddRef).
    static IntfPtr adopt(T* p) {
        IntfPtr r;
        r.FPtr = p;
        return r;
    }

    void reset() {
        if (T* p = std::exchange(FPtr, nullptr))
            p->Release();
    }
    // Hands the owned reference to the caller (who must release it) and leaves this empty;
    // for out arguments that pass a reference on, such as QueryInterface-style look-ups.
    [[nodiscard]] T* take() { return std::exchange(FPtr, nullptr); }
    // Releases the current reference and gives the slot for an out argument that receives a
    // new reference (QueryInterface-style).
    void** put() {
        reset();
        return reinterpret_cast<void**>(&FPtr);
    }

    T* get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    T& operator*() const { return *FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }

    // QueryInterface for another interface of the same object; empty when it has none.
    template <class U> IntfPtr<U> as() const {
        IntfPtr<U> r;
        if (FPtr)
            FPtr->QueryInterface(U::IID, r.put());
        return r;
    }

    friend bool operator==(const IntfPtr& a, const IntfPtr& b) { return a.FPtr == b.FPtr; }
    friend bool operator==(const IntfPtr& a, std::nullptr_t) { return a.FPtr == nullptr; }

private:
    T* FPtr = nullptr;
};

} // namespace pallux
