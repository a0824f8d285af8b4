#include "TSqlText.h"

#include "clsSysUtils.h"

#include <charconv>
#include <set>

namespace refhost::tsql {

std::string QuoteIdent(std::string_view name) {
    std::string r = "\"";
    for (char c : name) {
        r += c;
        if (c == '"')
            r += '"';
    }
    return r + "\"";
}

std::optional<std::int64_t> ToInt(std::string_view text) {
    std::int64_t v = 0;
    const char* b = text.data();
    const char* e = text.data() + text.size();
    if (b != e && *b == '+')
        ++b;
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || p != e || b == e)
        return std::nullopt;
    return v;
}

void Append(std::string& out, std::string_view piece) {
    if (piece.empty())
        return;
    if (!out.empty()) {
        const char last = out.back();
        const bool tight =
            last == '(' || last == '.' || last == ' ' || piece == ")" || piece == "," || piece == ".";
        if (!tight)
            out += ' ';
    }
    out += piece;
}

std::string SqliteText(std::string_view value) {
    if (value.find('\0') == std::string_view::npos)
        return pallux::QuotedStr(value);
    std::string out = "(";
    for (std::size_t start = 0;;) {
        const std::size_t nul = value.find('\0', start);
        out += pallux::QuotedStr(value.substr(start, nul == std::string_view::npos ? nul : nul - start));
        if (nul == std::string_view::npos)
            break;
        out += " || char(0) || ";
        start = nul + 1;
    }
    return out + ")";
}

std::string ShowNul(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\0')
            out += "\\0";
        else
            out += c;
    }
    return out;
}

bool IsReserved(std::string_view word) {
    static const std::set<std::string_view, pallux::TTextLess> words{
        "ADD",    "ALL",       "ALTER", "AND",    "ANY",        "AS",       "ASC",    "BEGIN",   "BETWEEN",
        "BY",     "CASE",      "CHECK", "COLUMN", "CONSTRAINT", "CREATE",   "CROSS",  "DEFAULT", "DELETE",
        "DESC",   "DISTINCT",  "DROP",  "ELSE",   "END",        "ESCAPE",   "EXCEPT", "EXEC",    "EXECUTE",
        "EXISTS", "FROM",      "FULL",  "GO",     "GROUP",      "HAVING",   "IF",     "IN",      "INNER",
        "INSERT", "INTERSECT", "INTO",  "IS",     "JOIN",       "KEY",      "LEFT",   "LIKE",    "NOT",
        "NULL",   "ON",        "OR",    "ORDER",  "OUTER",      "PRIMARY",  "RETURN", "RIGHT",   "SELECT",
        "SET",    "SOME",      "TABLE", "THEN",   "TOP",        "TRUNCATE", "UNION",  "UPDATE",  "USING",
        "VALUES", "WHEN",      "WHERE", "WITH"};
    return words.count(word) > 0;
}

bool IsReservedWord(const TSqlToken& t) {
    return t.Kind == TKind::Word && IsReserved(t.Text);
}

bool IsStatementStart(std::string_view word) {
    static const std::set<std::string_view, pallux::TTextLess> words{
        "SELECT",   "INSERT", "UPDATE", "DELETE",  "CREATE",  "ALTER",     "DROP",  "TRUNCATE",
        "IF",       "BEGIN",  "EXEC",   "EXECUTE", "DECLARE", "SET",       "PRINT", "COMMIT",
        "ROLLBACK", "RETURN", "MERGE",  "USE",     "WHILE",   "RAISERROR", "THROW", "GRANT"};
    return words.count(word) > 0;
}

} // namespace refhost::tsql
