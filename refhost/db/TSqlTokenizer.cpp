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

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// One pass over a statement's text: Blank skips what carries no token, the readers each take one
// token of their kind from the current position.
class TTokenizer {
public:
    explicit TTokenizer(const std::string& text) : FText(text), FSize(text.size()) {}

    std::vector<TSqlToken> Tokens() {
        std::vector<TSqlToken> out;
        while (FAt < FSize) {
            if (Blank())
                continue;
            TSqlToken t;
            t.Pos = FAt;
            t.LineStart = FLineStart;
            FLineStart = false;
            Read(t);
            t.End = FAt;
            out.push_back(std::move(t));
        }
        return out;
    }

private:
    const std::string& FText;
    const std::size_t FSize;
    std::size_t FAt = 0;
    bool FLineStart = true;
    std::size_t FLineBegin = 0; // where the current line starts

    char At(std::size_t i) const { return i < FSize ? FText[i] : '\0'; }

    [[noreturn]] void Fail(const std::string& what, std::size_t at) const {
        throw ESqlTranslateError(what + " in statement: " + tsql::ShowNul(FText.substr(at, 200)));
    }

    // Skips a line end, white space or a comment at the current position; false when a token starts
    // there.
    bool Blank() {
        const char c = FText[FAt];
        const char next = At(FAt + 1);
        if (c == '\n') {
            FLineStart = true;
            FLineBegin = ++FAt;
        } else if (c == '\0') { // SQLite would stop reading the statement here and run what comes before
            Fail("a NUL byte outside a text value", FLineBegin);
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++FAt;
        } else if (c == '-' && next == '-') {
            while (FAt < FSize && FText[FAt] != '\n')
                ++FAt;
        } else if (c == '/' && next == '*') {
            BlockComment();
        } else {
            return false;
        }
        return true;
    }

    // Block comments nest in T-SQL.
    void BlockComment() {
        const std::size_t at = FAt;
        int depth = 0;
        do {
            if (FAt + 1 < FSize && FText[FAt] == '/' && FText[FAt + 1] == '*') {
                ++depth;
                FAt += 2;
            } else if (FAt + 1 < FSize && FText[FAt] == '*' && FText[FAt + 1] == '/') {
                --depth;
                FAt += 2;
            } else {
                if (FText[FAt] == '\n')
                    FLineStart = true;
                ++FAt;
            }
        } while (depth > 0 && FAt < FSize);
        if (depth > 0)
            Fail("unterminated comment", at);
    }

    void Read(TSqlToken& t) {
        const char c = FText[FAt];
        const char next = At(FAt + 1);
        if (c == '\'' || ((c == 'N' || c == 'n') && next == '\'')) {
            t.Kind = TKind::String;
            FAt = ReadQuoted(FAt, FAt + (c == '\'' ? 1 : 2), '\'', t.Text, "unterminated text");
        } else if (c == '[' || c == '"') {
            t.Kind = TKind::Ident;
            FAt = ReadQuoted(FAt, FAt + 1, c == '[' ? ']' : '"', t.Text, "unterminated name");
        } else if (IsDigit(c) || (c == '.' && IsDigit(next))) {
            t.Kind = TKind::Number;
            t.Text = Take(NumberEnd());
        } else if (IsWordChar(c)) {
            t.Kind = TKind::Word;
            std::size_t j = FAt;
            while (j < FSize && IsWordChar(FText[j]))
                ++j;
            t.Text = Take(j);
        } else {
            t.Kind = TKind::Symbol;
            t.Text = Take(FAt + SymbolLength());
        }
    }

    // The text from the current position up to end, which becomes the current position.
    std::string Take(std::size_t end) {
        std::string taken = FText.substr(FAt, end - FAt);
        FAt = end;
        return taken;
    }

    // Reads a quoted text or name from first up to its closing character (doubled inside it),
    // appending the content; answers the position after the close.
    std::size_t ReadQuoted(std::size_t start, std::size_t first, char close, std::string& content,
                           const char* unterminated) const {
        for (std::size_t j = first; j < FSize; ++j) {
            if (FText[j] == '\0' && close != '\'')
                Fail("a NUL byte in a name", FLineBegin);
            if (FText[j] != close) {
                content += FText[j];
                continue;
            }
            if (j + 1 < FSize && FText[j + 1] == close) {
                content += close;
                ++j;
                continue;
            }
            return j + 1;
        }
        Fail(unterminated, start);
    }

    // Where the number at the current position ends: digits and points, then an exponent when
    // digits follow its sign.
    std::size_t NumberEnd() const {
        std::size_t j = FAt;
        while (j < FSize && (IsDigit(FText[j]) || FText[j] == '.'))
            ++j;
        if (j < FSize && (FText[j] == 'e' || FText[j] == 'E')) {
            std::size_t k = j + 1;
            if (k < FSize && (FText[k] == '+' || FText[k] == '-'))
                ++k;
            if (k < FSize && IsDigit(FText[k])) {
                j = k;
                while (j < FSize && IsDigit(FText[j]))
                    ++j;
            }
        }
        return j;
    }

    // 2 for a two-character operator at the current position, else 1.
    std::size_t SymbolLength() const {
        static const char* pairs[] = {"<=", ">=", "<>", "!=", "!<", "!>"};
        const std::string two = FText.substr(FAt, 2);
        for (const char* p : pairs)
            if (two == p)
                return 2;
        return 1;
    }
};

} // namespace

bool TSqlToken::Is(std::string_view keyword) const {
    return Kind == TKind::Word && pallux::SameText(Text, keyword);
}

std::vector<TSqlToken> TokenizeTSql(const std::string& text) {
    return TTokenizer(text).Tokens();
}

} // namespace refhost
