// Expressions and SELECT: T-SQL operators, literals, names, INFORMATION_SCHEMA, TOP, table
// hints and conversions, written as SQLite reads them.
#include "TSqlStatementTranslator.h"

#include <set>

namespace refhost::tsql {

std::string TStatementTranslator::Emit(std::size_t b, std::size_t e) {
    std::string out;
    for (std::size_t i = b; i < e;) {
        const TSqlToken& t = FTokens[i];
        switch (t.Kind) {
        case TKind::String:
            Append(out, SqliteText(t.Text));
            ++i;
            break;
        case TKind::Number:
            Append(out, t.Text);
            ++i;
            break;
        case TKind::Symbol:
            i = EmitSymbol(i, b, e, out);
            break;
        case TKind::Ident:
        case TKind::Word:
            i = EmitName(i, e, out);
            break;
        }
    }
    return out;
}

std::size_t TStatementTranslator::EmitSymbol(std::size_t i, std::size_t b, std::size_t e, std::string& out) {
    const std::string& s = FTokens[i].Text;
    if (s == "(") {
        const std::size_t close = Match(i, e);
        Append(out, "(" + Emit(i + 1, close) + ")");
        return close + 1;
    }
    if (s == ")")
        Fail("unbalanced parentheses");
    if (s == "+") {
        // '+' joins two texts in T-SQL; SQLite would add them as numbers.
        const TOperand left = OperandBefore(i, b), right = OperandAfter(i, e);
        const bool text = (left == TOperand::Text && right != TOperand::Number) ||
                          (right == TOperand::Text && left != TOperand::Number);
        Append(out, text ? "||" : "+");
    } else if (s == "!<") {
        Append(out, ">=");
    } else if (s == "!>") {
        Append(out, "<=");
    } else {
        Append(out, s);
    }
    return i + 1;
}

std::size_t TStatementTranslator::EmitName(std::size_t i, std::size_t e, std::string& out) {
    if (const auto next = EmitSchemaObject(i, e, out))
        return *next;
    const TSqlToken& t = FTokens[i];
    if (t.Kind == TKind::Ident) {
        Append(out, QuoteIdent(t.Text));
        return i + 1;
    }
    const std::string u = pallux::UpperCase(t.Text);
    if (u[0] == '@' || u[0] == '#') {
        Append(out, Variable(t));
        return i + 1;
    }
    if (u == "SELECT") {
        Append(out, EmitSelect(i, e));
        return e;
    }
    if (u == "CURRENT_TIMESTAMP") {
        Append(out, "datetime('now','localtime')");
        return i + 1;
    }
    if (u == "WITH" && Sym(i + 1, "("))
        return SkipTableHints(i, e);
    RefuseUnsupported(i, e, u);
    if (Sym(i + 1, "(") && !IsReserved(u)) {
        const bool tableName =
            i > 0 &&
            (FTokens[i - 1].Is("INTO") || FTokens[i - 1].Is("TABLE") || FTokens[i - 1].Is("FROM") ||
             FTokens[i - 1].Is("JOIN") || FTokens[i - 1].Is("UPDATE") || FTokens[i - 1].Is("INSERT") ||
             FTokens[i - 1].Is("DELETE") || FTokens[i - 1].Is("WITH") || FTokens[i - 1].IsSymbol("."));
        if (!tableName) {
            const std::size_t close = Match(i + 1, e);
            Append(out, EmitFunction(i, close));
            return close + 1;
        }
        if (FTokens[i - 1].IsSymbol("."))
            Fail("function " + t.Text + " is not supported");
    }
    Append(out, t.Text);
    return i + 1;
}

std::optional<std::size_t> TStatementTranslator::EmitSchemaObject(std::size_t i, std::size_t e,
                                                                  std::string& out) {
    const TSqlToken& t = FTokens[i];
    if (!Sym(i + 1, ".") || i + 2 >= e)
        return std::nullopt;
    if (pallux::SameText(t.Text, "dbo"))
        return FTokens[i + 2].Kind != TKind::Symbol ? std::optional(i + 2) : std::nullopt;
    const std::string u = pallux::UpperCase(t.Text);
    std::string alias;
    if (u == "INFORMATION_SCHEMA") {
        const std::string view = pallux::UpperCase(FTokens[i + 2].Text);
        if (view == "COLUMNS")
            Append(out, InformationSchemaColumns());
        else if (view == "TABLES")
            Append(out, InformationSchemaTables());
        else
            Fail("INFORMATION_SCHEMA." + FTokens[i + 2].Text + " is not supported");
        alias = QuoteIdent(view);
    } else if (u == "SYS") {
        if (!FTokens[i + 2].Is("indexes"))
            Fail("sys." + FTokens[i + 2].Text + " is not supported");
        Append(out, SysIndexes());
        alias = "[indexes]";
    } else {
        return std::nullopt;
    }
    i += 3;
    if (!(i < e && (Word(i, "AS") || IsName(i))))
        Append(out, "AS " + alias);
    return i;
}

std::string TStatementTranslator::Variable(const TSqlToken& t) const {
    const std::string u = pallux::UpperCase(t.Text);
    if (u == "@@IDENTITY")
        return "NULLIF(last_insert_rowid(), 0)";
    if (u == "@@ROWCOUNT")
        return "changes()";
    if (u.rfind("@@", 0) == 0)
        Fail(t.Text + " is not supported");
    if (u[0] == '@')
        Fail("variables are not supported");
    Fail("temporary tables are not supported");
}

std::size_t TStatementTranslator::SkipTableHints(std::size_t i, std::size_t e) const {
    // locking is the database's business here
    static const std::set<std::string> hints{"NOLOCK",       "READUNCOMMITTED", "ROWLOCK", "UPDLOCK",
                                             "HOLDLOCK",     "READPAST",        "NOWAIT",  "PAGLOCK",
                                             "TABLOCK",      "TABLOCKX",        "XLOCK",   "READCOMMITTED",
                                             "SERIALIZABLE", "REPEATABLEREAD"};
    const std::size_t close = Match(i + 1, e);
    for (std::size_t k = i + 2; k < close; ++k) {
        if (!FTokens[k].IsSymbol(",") &&
            !(FTokens[k].Kind == TKind::Word && hints.count(pallux::UpperCase(FTokens[k].Text))))
            Fail("table hint " + FTokens[k].Text + " is not supported");
    }
    return close + 1;
}

void TStatementTranslator::RefuseUnsupported(std::size_t i, std::size_t e, const std::string& u) const {
    if (u == "LIKE" && i + 1 < e && FTokens[i + 1].Kind == TKind::String &&
        FTokens[i + 1].Text.find('[') != std::string::npos)
        Fail("LIKE patterns with [ ] sets are not supported");
    if (u == "TOP")
        Fail("TOP is only supported right after SELECT");
    static const std::set<std::string> unsupported{"OUTPUT", "MERGE",   "PIVOT",  "UNPIVOT",
                                                   "APPLY",  "COLLATE", "OFFSET", "IDENTITY",
                                                   "OPTION", "FOR",     "FETCH"};
    if (unsupported.count(u))
        Fail(FTokens[i].Text + " is not supported");
}

std::string TStatementTranslator::EmitSelect(std::size_t b, std::size_t e) {
    std::string out = "SELECT";
    std::size_t i = b + 1;
    if (Word(i, "DISTINCT") || Word(i, "ALL"))
        Append(out, pallux::UpperCase(FTokens[i++].Text));
    std::optional<std::string> limit;
    if (Word(i, "TOP")) {
        ++i;
        if (Sym(i, "(")) {
            const std::size_t close = Match(i, e);
            limit = Emit(i + 1, close);
            i = close + 1;
        } else if (i < e && FTokens[i].Kind == TKind::Number) {
            limit = FTokens[i++].Text;
        } else {
            Fail("TOP needs a row count");
        }
        if (Word(i, "PERCENT") || Word(i, "WITH"))
            Fail("TOP " + FTokens[i].Text + " is not supported");
    }
    const std::size_t listEnd = SelectListEnd(i, e);
    if (Word(listEnd, "INTO"))
        Fail("SELECT ... INTO is not supported");
    std::string list;
    for (auto [ib, ie] : Split(i, listEnd)) {
        std::string item;
        if (ie - ib >= 3 && IsName(ib) && Sym(ib + 1, "=") && FTokens[ib].Text[0] != '@')
            item = Emit(ib + 2, ie) + " AS " + QuoteIdent(FTokens[ib].Text); // alias = expression
        else
            item = Emit(ib, ie);
        list += (list.empty() ? "" : ", ") + item;
    }
    if (list.empty())
        Fail("SELECT without columns");
    Append(out, list);
    if (limit) {
        int depth = 0;
        for (std::size_t k = listEnd; k < e; ++k) {
            if (FTokens[k].IsSymbol("("))
                ++depth;
            else if (FTokens[k].IsSymbol(")"))
                --depth;
            else if (depth == 0 &&
                     (FTokens[k].Is("UNION") || FTokens[k].Is("EXCEPT") || FTokens[k].Is("INTERSECT")))
                Fail("TOP in a compound SELECT is not supported");
        }
    }
    Append(out, Emit(listEnd, e));
    if (limit)
        Append(out, "LIMIT " + *limit);
    return out;
}

std::size_t TStatementTranslator::SelectListEnd(std::size_t b, std::size_t e) const {
    std::size_t i = b;
    for (int depth = 0; i < e; ++i) {
        const TSqlToken& t = FTokens[i];
        if (t.IsSymbol("("))
            ++depth;
        else if (t.IsSymbol(")"))
            --depth;
        else if (depth == 0 &&
                 (t.Is("FROM") || t.Is("WHERE") || t.Is("GROUP") || t.Is("HAVING") || t.Is("ORDER") ||
                  t.Is("UNION") || t.Is("EXCEPT") || t.Is("INTERSECT") || t.Is("INTO")))
            break;
    }
    return i;
}

std::string TStatementTranslator::CastTo(const std::string& expr, std::size_t b, std::size_t e) {
    std::size_t i = b;
    const TSqlType type = ParseType(i, e);
    if (i != e)
        Fail("unexpected " + FTokens[i].Text + " after the data type");
    switch (type.Family) {
    case TFamily::Integer:
        return "CAST(" + expr + " AS INTEGER)";
    case TFamily::Real:
        return "CAST(" + expr + " AS REAL)";
    case TFamily::Decimal:
        return "ROUND(CAST(" + expr + " AS REAL), " + std::to_string(type.Scale) + ")";
    case TFamily::Char: {
        // a conversion without a length gives 30 characters
        const std::int64_t length = (i - b == 1) ? 30 : type.Length;
        if (length < 0)
            return "CAST(" + expr + " AS TEXT)";
        return "substr(CAST(" + expr + " AS TEXT), 1, " + std::to_string(length) + ")";
    }
    case TFamily::DateTime:
        return "datetime(" + expr + ")";
    case TFamily::Date:
        return "date(" + expr + ")";
    case TFamily::Other:
        break;
    }
    Fail("conversion to " + type.Name + " is not supported");
}

} // namespace refhost::tsql
