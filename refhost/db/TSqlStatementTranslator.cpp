#include "TSqlStatementTranslator.h"

namespace refhost::tsql {

TStatementTranslator::TStatementTranslator(const TTokens& tokens, const std::string& source,
                                           const ISqlCatalog* catalog)
    : FTokens(tokens), FSource(source), FCatalog(catalog) {
    CollectTables();
}

std::size_t TStatementTranslator::Match(std::size_t open, std::size_t end) const {
    int depth = 0;
    for (std::size_t i = open; i < end; ++i) {
        if (FTokens[i].IsSymbol("("))
            ++depth;
        else if (FTokens[i].IsSymbol(")") && --depth == 0)
            return i;
    }
    Fail("unbalanced parentheses");
}

TStatementTranslator::TRanges TStatementTranslator::Split(std::size_t b, std::size_t e) const {
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    if (b >= e)
        return parts;
    int depth = 0;
    std::size_t start = b;
    for (std::size_t i = b; i < e; ++i) {
        if (FTokens[i].IsSymbol("("))
            ++depth;
        else if (FTokens[i].IsSymbol(")"))
            --depth;
        else if (depth == 0 && FTokens[i].IsSymbol(",")) {
            parts.emplace_back(start, i);
            start = i + 1;
        }
    }
    parts.emplace_back(start, e);
    for (auto& p : parts)
        if (p.first >= p.second)
            Fail("missing expression");
    return parts;
}

std::string TStatementTranslator::ObjectName(std::size_t& i) const {
    if (IsName(i) && Sym(i + 1, ".") && pallux::SameText(FTokens[i].Text, "dbo"))
        i += 2;
    if (!IsName(i))
        Fail("a table name is missing");
    return FTokens[i++].Text;
}

void TStatementTranslator::CollectTables() {
    for (std::size_t i = 0; i + 1 < FTokens.size(); ++i) {
        if (!(FTokens[i].Is("FROM") || FTokens[i].Is("JOIN") || FTokens[i].Is("UPDATE") ||
              FTokens[i].Is("INTO")))
            continue;
        std::size_t j = i + 1;
        if (!IsName(j))
            continue;
        if (pallux::SameText(FTokens[j].Text, "dbo") && Sym(j + 1, "."))
            j += 2;
        if (!IsName(j) || Sym(j + 1, "."))
            continue;
        const std::string table = FTokens[j].Text;
        FTables[table] = table;
        std::size_t k = j + 1;
        if (Word(k, "AS"))
            ++k;
        if (IsName(k))
            FTables[FTokens[k].Text] = table;
    }
}

std::optional<TSqlColumnInfo> TStatementTranslator::FindColumn(const TSqlTableInfo& t,
                                                               const std::string& column) const {
    for (const auto& c : t.Columns)
        if (pallux::SameText(c.Name, column))
            return c;
    return std::nullopt;
}

std::optional<TSqlType> TStatementTranslator::ColumnType(std::size_t b, std::size_t e) const {
    if (!FCatalog)
        return std::nullopt;
    std::string qualifier, column;
    if (e - b == 1 && IsName(b)) {
        column = FTokens[b].Text;
    } else if (e - b == 3 && IsName(b) && Sym(b + 1, ".") && IsName(b + 2)) {
        qualifier = FTokens[b].Text;
        column = FTokens[b + 2].Text;
    } else {
        return std::nullopt;
    }
    std::vector<std::string> candidates;
    if (!qualifier.empty()) {
        auto it = FTables.find(qualifier);
        candidates.push_back(it != FTables.end() ? it->second : qualifier);
    } else {
        for (const auto& [alias, table] : FTables)
            candidates.push_back(table);
    }
    for (const auto& table : candidates)
        if (auto info = FCatalog->FindTable(table))
            if (auto col = FindColumn(*info, column))
                return TypeFromDecl(col->DeclType);
    return std::nullopt;
}

TStatementTranslator::TOperand TStatementTranslator::Operand(std::size_t b, std::size_t e) const {
    if (e == b + 1 && FTokens[b].Kind == TKind::String)
        return TOperand::Text;
    if (e == b + 1 && FTokens[b].Kind == TKind::Number)
        return TOperand::Number;
    if (auto type = ColumnType(b, e)) {
        if (type->Family == TFamily::Char)
            return TOperand::Text;
        if (type->Family != TFamily::Other)
            return TOperand::Number;
    }
    return TOperand::Unknown;
}

TStatementTranslator::TOperand TStatementTranslator::OperandBefore(std::size_t i, std::size_t b) const {
    if (i >= b + 3 && Sym(i - 2, ".") && IsName(i - 1) && IsName(i - 3))
        return Operand(i - 3, i);
    return i >= b + 1 ? Operand(i - 1, i) : TOperand::Unknown;
}

TStatementTranslator::TOperand TStatementTranslator::OperandAfter(std::size_t i, std::size_t e) const {
    if (i + 3 < e && IsName(i + 1) && Sym(i + 2, ".") && IsName(i + 3))
        return Operand(i + 1, i + 4);
    return i + 1 < e ? Operand(i + 1, i + 2) : TOperand::Unknown;
}

TSqlType TStatementTranslator::ParseType(std::size_t& i, std::size_t e) const {
    if (!(i < e && FTokens[i].Kind == TKind::Word))
        Fail("a data type is missing");
    const std::string name = FTokens[i++].Text;
    std::vector<std::string> args;
    if (i < e && Sym(i, "(")) {
        const std::size_t close = Match(i, e);
        for (auto [ab, ae] : Split(i + 1, close)) {
            std::string a;
            for (std::size_t k = ab; k < ae; ++k)
                a += FTokens[k].Text;
            args.push_back(a);
        }
        i = close + 1;
    }
    std::string error;
    auto type = MakeType(name, args, error);
    if (!type)
        Fail(error);
    return *type;
}

TSqliteStatements TStatementTranslator::Statement(TSqlStatementKind kind) {
    TSqliteStatements r;
    const auto topLevel = [&](std::string_view word, std::size_t from) {
        int depth = 0;
        for (std::size_t k = from; k < FTokens.size(); ++k) {
            if (FTokens[k].IsSymbol("("))
                ++depth;
            else if (FTokens[k].IsSymbol(")"))
                --depth;
            else if (depth == 0 && FTokens[k].Is(word))
                return true;
        }
        return false;
    };
    switch (kind) {
    case TSqlStatementKind::NoOp:
        return r;
    case TSqlStatementKind::CreateTable:
        return CreateTable();
    case TSqlStatementKind::CreateIndex:
        return CreateIndex();
    case TSqlStatementKind::AlterTable:
        return AlterTable();
    case TSqlStatementKind::DropTable:
        return DropTable();
    case TSqlStatementKind::Truncate:
        return Truncate();
    case TSqlStatementKind::Select:
        r.Statements.push_back(Emit(0, FTokens.size()));
        break;
    case TSqlStatementKind::Insert:
        if (Word(0, "INSERT") && !Word(1, "INTO"))
            r.Statements.push_back("INSERT INTO " + Emit(1, FTokens.size()));
        else
            r.Statements.push_back(Emit(0, FTokens.size()));
        break;
    case TSqlStatementKind::Update:
        if (Word(0, "UPDATE") && Word(1, "TOP"))
            Fail("UPDATE TOP is not supported");
        if (Word(0, "UPDATE") && topLevel("FROM", 1))
            Fail("UPDATE ... FROM is not supported");
        r.Statements.push_back(Emit(0, FTokens.size()));
        break;
    case TSqlStatementKind::Delete:
        if (Word(0, "DELETE") && Word(1, "TOP"))
            Fail("DELETE TOP is not supported");
        if (Word(0, "DELETE") && !Word(1, "FROM")) {
            if (topLevel("FROM", 1))
                Fail("DELETE ... FROM ... JOIN is not supported");
            r.Statements.push_back("DELETE FROM " + Emit(1, FTokens.size()));
        } else {
            if (Word(0, "DELETE") && topLevel("FROM", 2))
                Fail("DELETE ... FROM ... JOIN is not supported");
            r.Statements.push_back(Emit(0, FTokens.size()));
        }
        break;
    }
    r.Main = 0;
    return r;
}

} // namespace refhost::tsql
