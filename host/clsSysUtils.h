// Small text helpers that host and module code share.
#pragma once

#include <string>
#include <string_view>

namespace pallux {

// Compares two texts ignoring the case of ASCII letters.
constexpr bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
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

} // namespace pallux
