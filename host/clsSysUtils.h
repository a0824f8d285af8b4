// Small text helpers that host and module code share.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace pallux {

// The upper-case form of an ASCII letter; any other character as it is.
constexpr char UpCase(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Compares two texts ignoring the case of ASCII letters.
constexpr bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpCase(a[i]) != UpCase(b[i]))
            return false;
    return true;
}

// Orders two texts as their upper-case forms order (bytes compared unsigned), without building
// them: below zero when a comes first, zero when they are the same text ignoring case.
constexpr int CompareText(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(UpCase(a[i]));
        const auto y = static_cast<unsigned char>(UpCase(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// A less-than for ordered containers keyed by text without regard to case.
struct TTextLess {
    using is_transparent = void;
    constexpr bool operator()(std::string_view a, std::string_view b) const { return CompareText(a, b) < 0; }
};

// The text with its ASCII letters in upper case.
inline std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = UpCase(c);
    return out;
}

// Quotes a text value for SQL: enclosed in single quotes, embedded single quotes doubled.
inline std::string QuotedStr(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

// A path from UTF-8 text (settings values, arguments, texts from the other side of the
// interfaces). Not std::filesystem::path(std::string): on Windows that reads the bytes in the
// system's narrow encoding, not as UTF-8.
inline std::filesystem::path Utf8ToPath(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// The path as UTF-8 text, on every system (the counterpart of Utf8ToPath).
inline std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace pallux
