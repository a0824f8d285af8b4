#include "TSqliteParameters.h"

#include <cctype>
#include <charconv>

namespace refhost {

namespace {

bool IdentChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || c == '$' || u >= 0x80;
}

bool SameWord(const std::string& word, const char* upper) {
    std::size_t i = 0;
    for (; i < word.size() && upper[i]; ++i)
        if (std::toupper(static_cast<unsigned char>(word[i])) != upper[i])
            return false;
    return i == word.size() && !upper[i];
}

bool AnyOf(const std::string& word, std::initializer_list<const char*> words) {
    for (const char* w : words)
        if (SameWord(word, w))
            return true;
    return false;
}

// The end of the comment starting at i, or i when none starts there.
std::size_t SkipComment(const std::string& s, std::size_t i) {
    if (s.compare(i, 2, "--") == 0) {
        const std::size_t nl = s.find('\n', i);
        return nl == std::string::npos ? s.size() : nl;
    }
    if (s.compare(i, 2, "/*") == 0) {
        const std::size_t close = s.find("*/", i + 2);
        return close == std::string::npos ? s.size() : close + 2;
    }
    return i;
}

// A number literal at i: its end and value; none when it is not one that becomes a parameter.
std::optional<std::pair<std::size_t, TSqliteValue>> Number(const std::string& s, std::size_t i) {
    if (s.compare(i, 2, "0x") == 0 || s.compare(i, 2, "0X") == 0)
        return std::nullopt;
    std::size_t j = i;
    bool real = false;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
        ++j;
    if (j < s.size() && s[j] == '.') {
        real = true;
        ++j;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
            ++j;
    }
    if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-'))
            ++k;
        if (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) {
            real = true;
            j = k;
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
                ++j;
        }
    }
    if (j < s.size() && (IdentChar(s[j]) || s[j] == '.'))
        return std::nullopt; // not a literal as a whole
    const std::string text = s.substr(i, j - i);
    if (real)
        return std::make_pair(j, TSqliteValue(TSqliteReal{text}));
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt; // beyond 64 bits: SQLite reads it as a floating value; left as written
    return std::make_pair(j, TSqliteValue(v));
}

} // namespace

std::optional<TSqliteParameterized> ParameterizeSqlite(const std::string& sql) {
    TSqliteParameterized out;
    out.Text.reserve(sql.size());
    std::string firstWord, lastWord;
    int depth = 0;
    int columnNumbersAt = -1; // depth of an ORDER BY or GROUP BY whose numbers stay; -1: none
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (const std::size_t end = SkipComment(sql, i); end != i) {
            out.Text.append(sql, i, end - i);
            i = end;
            continue;
        }
        if (c == '"' || c == '[' || c == '`') { // a quoted name
            const char close = c == '[' ? ']' : c;
            std::size_t j = i + 1;
            while (j < sql.size()) {
                if (sql[j] == close) {
                    if (close != ']' && j + 1 < sql.size() && sql[j + 1] == close) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            j = std::min(j + 1, sql.size());
            out.Text.append(sql, i, j - i);
            i = j;
            lastWord.clear();
            continue;
        }
        if (c == '\'') {
            std::string value;
            std::size_t j = i + 1;
            bool closed = false;
            while (j < sql.size()) {
                if (sql[j] == '\'') {
                    if (j + 1 < sql.size() && sql[j + 1] == '\'') {
                        value += '\'';
                        j += 2;
                        continue;
                    }
                    closed = true;
                    ++j;
                    break;
                }
                if (sql[j] == '\0')
                    return std::nullopt;
                value += sql[j++];
            }
            if (!closed)
                return std::nullopt; // SQLite refuses it: let it say so about the text as written
            out.Text += '?';
            out.Values.emplace_back(std::move(value));
            i = j;
            lastWord.clear();
            continue;
        }
        if (IdentChar(c) && !std::isdigit(static_cast<unsigned char>(c))) {
            std::size_t j = i;
            while (j < sql.size() && IdentChar(sql[j]))
                ++j;
            const std::string word = sql.substr(i, j - i);
            if ((word == "x" || word == "X") && j < sql.size() && sql[j] == '\'') {
                // a blob literal: kept as written
                std::size_t k = sql.find('\'', j + 1);
                k = k == std::string::npos ? sql.size() : k + 1;
                out.Text.append(sql, i, k - i);
                i = k;
                continue;
            }
            if (firstWord.empty()) {
                firstWord = word;
                if (!AnyOf(word, {"SELECT", "INSERT", "UPDATE", "DELETE", "WITH", "REPLACE"}))
                    return std::nullopt;
            }
            if (SameWord(word, "BY") && AnyOf(lastWord, {"ORDER", "GROUP"}))
                columnNumbersAt = depth;
            else if (columnNumbersAt == depth &&
                     AnyOf(word, {"LIMIT", "OFFSET", "HAVING", "WINDOW", "UNION", "EXCEPT", "INTERSECT"}))
                columnNumbersAt = -1;
            lastWord = word;
            out.Text += word;
            i = j;
            continue;
        }
        const bool numberStart =
            std::isdigit(static_cast<unsigned char>(c)) ||
            (c == '.' && i + 1 < sql.size() && std::isdigit(static_cast<unsigned char>(sql[i + 1])));
        if (numberStart && (i == 0 || !IdentChar(sql[i - 1]))) {
            const auto number = columnNumbersAt >= 0 ? std::nullopt : Number(sql, i);
            if (number) {
                out.Text += '?';
                out.Values.push_back(number->second);
                i = number->first;
            } else {
                std::size_t j = i + 1;
                while (j < sql.size() && (IdentChar(sql[j]) || sql[j] == '.'))
                    ++j;
                out.Text.append(sql, i, j - i);
                i = j;
            }
            lastWord.clear();
            continue;
        }
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
            if (depth < columnNumbersAt)
                columnNumbersAt = -1;
        }
        if (!std::isspace(static_cast<unsigned char>(c)))
            lastWord.clear();
        out.Text += c;
        ++i;
    }
    if (firstWord.empty())
        return std::nullopt;
    return out;
}

} // namespace refhost
