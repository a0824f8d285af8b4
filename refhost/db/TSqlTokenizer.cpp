// The tokenizer: T-SQL text into words, names, texts, numbers and symbols; comments dropped.
#include "TSqlText.h"

#include "clsSysUtils.h"

#include <cctype>

namespace refhost {

namespace {

using tsql::TKind;

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
}

} // namespace

bool TSqlToken::Is(std::string_view keyword) const {
    return Kind == TKind::Word && pallux::SameText(Text, keyword);
}

std::vector<TSqlToken> TokenizeTSql(const std::string& text) {
    std::vector<TSqlToken> out;
    const std::size_t n = text.size();
    std::size_t i = 0;
    bool lineStart = true;
    std::size_t lineBegin = 0; // where the current line starts
    const auto fail = [&](const std::string& what, std::size_t at) {
        throw ESqlTranslateError(what + " in statement: " + tsql::ShowNul(text.substr(at, 200)));
    };
    // Reads a quoted text or name from first up to its closing character (doubled inside it),
    // appending the content; answers the position after the close.
    const auto readQuoted = [&](std::size_t start, std::size_t first, char close, std::string& content,
                                const char* unterminated) {
        for (std::size_t j = first; j < n; ++j) {
            if (text[j] == '\0' && close != '\'')
                fail("a NUL byte in a name", lineBegin);
            if (text[j] != close) {
                content += text[j];
                continue;
            }
            if (j + 1 < n && text[j + 1] == close) {
                content += close;
                ++j;
                continue;
            }
            return j + 1;
        }
        fail(unterminated, start);
        return n;
    };
    while (i < n) {
        const char c = text[i];
        const char next = i + 1 < n ? text[i + 1] : '\0';
        if (c == '\n') {
            lineStart = true;
            lineBegin = ++i;
            continue;
        }
        if (c == '\0') // SQLite would stop reading the statement here and run what comes before
            fail("a NUL byte outside a text value", lineBegin);
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        if (c == '-' && next == '-') {
            while (i < n && text[i] != '\n')
                ++i;
            continue;
        }
        if (c == '/' && next == '*') {
            // block comments nest in T-SQL
            const std::size_t at = i;
            int depth = 0;
            do {
                if (i + 1 < n && text[i] == '/' && text[i + 1] == '*') {
                    ++depth;
                    i += 2;
                } else if (i + 1 < n && text[i] == '*' && text[i + 1] == '/') {
                    --depth;
                    i += 2;
                } else {
                    if (text[i] == '\n')
                        lineStart = true;
                    ++i;
                }
            } while (depth > 0 && i < n);
            if (depth > 0)
                fail("unterminated comment", at);
            continue;
        }
        TSqlToken t;
        t.Pos = i;
        t.LineStart = lineStart;
        lineStart = false;
        if (c == '\'' || ((c == 'N' || c == 'n') && next == '\'')) {
            t.Kind = TKind::String;
            i = readQuoted(i, i + (c == '\'' ? 1 : 2), '\'', t.Text, "unterminated text");
        } else if (c == '[' || c == '"') {
            t.Kind = TKind::Ident;
            i = readQuoted(i, i + 1, c == '[' ? ']' : '"', t.Text, "unterminated name");
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && std::isdigit(static_cast<unsigned char>(next)))) {
            t.Kind = TKind::Number;
            std::size_t j = i;
            while (j < n && (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == '.'))
                ++j;
            if (j < n && (text[j] == 'e' || text[j] == 'E')) {
                std::size_t k = j + 1;
                if (k < n && (text[k] == '+' || text[k] == '-'))
                    ++k;
                if (k < n && std::isdigit(static_cast<unsigned char>(text[k]))) {
                    j = k;
                    while (j < n && std::isdigit(static_cast<unsigned char>(text[j])))
                        ++j;
                }
            }
            t.Text = text.substr(i, j - i);
            i = j;
        } else if (IsWordChar(c)) {
            t.Kind = TKind::Word;
            std::size_t j = i;
            while (j < n && IsWordChar(text[j]))
                ++j;
            t.Text = text.substr(i, j - i);
            i = j;
        } else {
            t.Kind = TKind::Symbol;
            static const char* pairs[] = {"<=", ">=", "<>", "!=", "!<", "!>"};
            std::string two = text.substr(i, 2);
            bool isPair = false;
            for (const char* p : pairs)
                if (two == p)
                    isPair = true;
            t.Text = isPair ? two : std::string(1, c);
            i += t.Text.size();
        }
        t.End = i;
        out.push_back(std::move(t));
    }
    return out;
}

} // namespace refhost
