#include "TSqlTranslator.h"

#include "clsSysUtils.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>

namespace refhost {

namespace {

using TTokens = std::vector<TSqlToken>;
using TKind = TSqlToken::TKind;

std::string Upper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

bool IEquals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

struct TILess {
    bool operator()(const std::string& a, const std::string& b) const { return Upper(a) < Upper(b); }
};

std::string QuoteIdent(std::string_view name) {
    std::string r = "\"";
    for (char c : name) {
        r += c;
        if (c == '"')
            r += '"';
    }
    return r + "\"";
}

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
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

// Appends a translated piece, separated by one space except where SQL needs none.
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

// Words that never name a function or a table alias.
const std::set<std::string>& Reserved() {
    static const std::set<std::string> words{
        "ADD",    "ALL",       "ALTER", "AND",    "ANY",        "AS",       "ASC",    "BEGIN",   "BETWEEN",
        "BY",     "CASE",      "CHECK", "COLUMN", "CONSTRAINT", "CREATE",   "CROSS",  "DEFAULT", "DELETE",
        "DESC",   "DISTINCT",  "DROP",  "ELSE",   "END",        "ESCAPE",   "EXCEPT", "EXEC",    "EXECUTE",
        "EXISTS", "FROM",      "FULL",  "GO",     "GROUP",      "HAVING",   "IF",     "IN",      "INNER",
        "INSERT", "INTERSECT", "INTO",  "IS",     "JOIN",       "KEY",      "LEFT",   "LIKE",    "NOT",
        "NULL",   "ON",        "OR",    "ORDER",  "OUTER",      "PRIMARY",  "RETURN", "RIGHT",   "SELECT",
        "SET",    "SOME",      "TABLE", "THEN",   "TOP",        "TRUNCATE", "UNION",  "UPDATE",  "USING",
        "VALUES", "WHEN",      "WHERE", "WITH"};
    return words;
}

bool IsReservedWord(const TSqlToken& t) {
    return t.Kind == TKind::Word && Reserved().count(Upper(t.Text)) > 0;
}

// Words that begin a statement when they stand at the top level of a batch.
bool IsStatementStart(const std::string& upper) {
    static const std::set<std::string> words{
        "SELECT",   "INSERT", "UPDATE", "DELETE",  "CREATE",  "ALTER",     "DROP",  "TRUNCATE",
        "IF",       "BEGIN",  "EXEC",   "EXECUTE", "DECLARE", "SET",       "PRINT", "COMMIT",
        "ROLLBACK", "RETURN", "MERGE",  "USE",     "WHILE",   "RAISERROR", "THROW", "GRANT"};
    return words.count(upper) > 0;
}

// ---------------------------------------------------------------------------------------------
// Data types

enum class TFamily { Integer, Real, Decimal, Char, DateTime, Date, Other };

struct TSqlType {
    std::string Name; // canonical upper-case name
    TFamily Family = TFamily::Other;
    std::int64_t Length = 0; // character types: maximum length, -1 for MAX
    int Precision = 0;
    int Scale = 0;
    std::string Raw; // Other: the declared type as found

    std::string Decl() const {
        switch (Family) {
        case TFamily::Char:
            return Name + "(" + std::to_string(Length) + ")";
        case TFamily::Decimal:
            if (Name == "DECIMAL" || Name == "NUMERIC")
                return Name + "(" + std::to_string(Precision) + "," + std::to_string(Scale) + ")";
            return Name;
        case TFamily::Other:
            return Raw;
        default:
            return Name;
        }
    }
};

// Builds a type from its name and its arguments (empty, a number, "MAX", or two numbers).
std::optional<TSqlType> MakeType(const std::string& name, const std::vector<std::string>& args,
                                 std::string& error) {
    TSqlType t;
    t.Name = Upper(name);
    const auto num = [&](std::size_t k) -> std::optional<std::int64_t> {
        return k < args.size() ? ToInt(args[k]) : std::nullopt;
    };
    const std::string& n = t.Name;
    if (n == "INT" || n == "INTEGER" || n == "BIGINT" || n == "SMALLINT" || n == "TINYINT" || n == "BIT") {
        t.Family = TFamily::Integer;
        if (n == "INTEGER")
            t.Name = "INT";
        if (!args.empty()) {
            error = "data type " + n + " takes no length";
            return std::nullopt;
        }
    } else if (n == "FLOAT" || n == "REAL") {
        t.Family = TFamily::Real;
        if (args.size() > 1 || (args.size() == 1 && !num(0))) {
            error = "bad precision for data type " + n;
            return std::nullopt;
        }
    } else if (n == "DECIMAL" || n == "NUMERIC") {
        t.Family = TFamily::Decimal;
        t.Precision = 18;
        if (!args.empty()) {
            if (!num(0) || (args.size() == 2 && !num(1)) || args.size() > 2) {
                error = "bad precision for data type " + n;
                return std::nullopt;
            }
            t.Precision = static_cast<int>(*num(0));
            t.Scale = args.size() == 2 ? static_cast<int>(*num(1)) : 0;
        }
    } else if (n == "MONEY" || n == "SMALLMONEY") {
        t.Family = TFamily::Decimal;
        t.Scale = 4;
    } else if (n == "VARCHAR" || n == "NVARCHAR" || n == "CHAR" || n == "NCHAR") {
        t.Family = TFamily::Char;
        t.Length = 1; // the length of a declaration without one
        if (args.size() > 1) {
            error = "bad length for data type " + n;
            return std::nullopt;
        }
        if (args.size() == 1) {
            if (IEquals(args[0], "MAX") || args[0] == "-1") {
                t.Length = -1;
            } else if (auto v = num(0); v && *v > 0) {
                t.Length = *v;
            } else {
                error = "bad length for data type " + n;
                return std::nullopt;
            }
        }
    } else if (n == "DATETIME" || n == "SMALLDATETIME" || n == "DATETIME2") {
        t.Family = TFamily::DateTime;
    } else if (n == "DATE") {
        t.Family = TFamily::Date;
    } else {
        error = "data type " + name + " is not supported";
        return std::nullopt;
    }
    return t;
}

// The type behind a declared type that this translator wrote; anything else is kept as found.
TSqlType TypeFromDecl(const std::string& decl) {
    std::string name;
    std::vector<std::string> args;
    std::size_t i = 0;
    while (i < decl.size() && decl[i] != '(')
        name += decl[i++];
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    if (i < decl.size()) {
        const std::size_t close = decl.find(')', i);
        std::string inner =
            decl.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = inner.find(',', start);
            std::string a =
                inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            a.erase(std::remove(a.begin(), a.end(), ' '), a.end());
            args.push_back(a);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    std::string error;
    if (auto t = MakeType(name, args, error))
        return *t;
    TSqlType other;
    other.Name = Upper(name);
    other.Raw = decl;
    return other;
}

// ---------------------------------------------------------------------------------------------
// Table model

struct TColumnDef {
    std::string Name;
    TSqlType Type;
    bool NotNull = false;
    bool Identity = false;
    std::int64_t Seed = 1;
    std::optional<std::string> Default; // SQLite expression text
};

struct TTableDef {
    std::string Name;
    std::vector<TColumnDef> Columns;
    std::vector<std::string> PrimaryKey;

    bool InPrimaryKey(const std::string& column) const {
        return std::any_of(PrimaryKey.begin(), PrimaryKey.end(),
                           [&](const std::string& k) { return IEquals(k, column); });
    }
    TColumnDef* Find(const std::string& column) {
        for (auto& c : Columns)
            if (IEquals(c.Name, column))
                return &c;
        return nullptr;
    }
};

bool IsLiteral(const std::string& sql) {
    if (sql.empty())
        return false;
    if (IEquals(sql, "NULL"))
        return true;
    if (sql.size() >= 2 && sql.front() == '\'' && sql.back() == '\'') {
        // one string literal: every inner quote is doubled
        for (std::size_t i = 1; i + 1 < sql.size(); ++i) {
            if (sql[i] == '\'') {
                if (i + 2 >= sql.size() || sql[i + 1] != '\'')
                    return false;
                ++i;
            }
        }
        return true;
    }
    std::size_t i = (sql[0] == '-' || sql[0] == '+') ? 1 : 0;
    bool digits = false;
    for (; i < sql.size(); ++i) {
        const char c = sql[i];
        if (std::isdigit(static_cast<unsigned char>(c)))
            digits = true;
        else if (c != '.' && c != 'e' && c != 'E' && c != '-' && c != '+')
            return false;
    }
    return digits;
}

std::string ColumnSql(const TTableDef& table, const TColumnDef& c, bool allowPrimaryKey) {
    std::string s = QuoteIdent(c.Name) + " ";
    if (c.Identity)
        return s + "INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT";
    s += c.Type.Decl();
    if (c.Type.Family == TFamily::Char)
        s += " COLLATE NOCASE";
    const bool inKey = table.InPrimaryKey(c.Name);
    if (c.NotNull || inKey)
        s += " NOT NULL";
    if (c.Default)
        s += " DEFAULT " + (IsLiteral(*c.Default) ? *c.Default : "(" + *c.Default + ")");
    if (allowPrimaryKey && inKey && table.PrimaryKey.size() == 1)
        s += " PRIMARY KEY";
    if (c.Type.Family == TFamily::Char && c.Type.Length > 0)
        s += " CONSTRAINT " + QuoteIdent("String or binary data would be truncated in column " + c.Name) +
             " CHECK (length(" + QuoteIdent(c.Name) + ") <= " + std::to_string(c.Type.Length) + ")";
    if (c.Type.Family == TFamily::DateTime || c.Type.Family == TFamily::Date)
        s += " CONSTRAINT " +
             QuoteIdent("Conversion failed when converting date and/or time in column " + c.Name) +
             " CHECK (" + QuoteIdent(c.Name) + " IS NULL OR datetime(" + QuoteIdent(c.Name) +
             ") IS NOT NULL)";
    return s;
}

std::string CreateTableSql(const TTableDef& table, const std::string& sqlName) {
    std::string s = "CREATE TABLE " + QuoteIdent(sqlName) + " (";
    for (std::size_t i = 0; i < table.Columns.size(); ++i)
        s += (i ? ", " : "") + ColumnSql(table, table.Columns[i], true);
    if (table.PrimaryKey.size() > 1) {
        s += ", PRIMARY KEY (";
        for (std::size_t i = 0; i < table.PrimaryKey.size(); ++i)
            s += (i ? ", " : "") + QuoteIdent(table.PrimaryKey[i]);
        s += ")";
    }
    return s + ")";
}

// Date and time values are kept as 'YYYY-MM-DD HH:MM:SS' text so that they compare and sort as
// SQL Server's values do; these triggers bring any other accepted spelling to that form.
std::vector<std::string> DateTriggerSql(const std::string& table, const TColumnDef& c) {
    if (c.Type.Family != TFamily::DateTime && c.Type.Family != TFamily::Date)
        return {};
    const std::string fn = c.Type.Family == TFamily::Date ? "date" : "datetime";
    const std::string col = QuoteIdent(c.Name);
    const std::string when = " WHEN NEW." + col + " IS NOT NULL AND NEW." + col + " IS NOT " + fn + "(NEW." +
                             col + ") BEGIN UPDATE " + QuoteIdent(table) + " SET " + col + " = " + fn +
                             "(NEW." + col + ") WHERE rowid = NEW.rowid; END";
    return {"CREATE TRIGGER " + QuoteIdent("tsql_" + table + "_" + c.Name + "_ins") + " AFTER INSERT ON " +
                QuoteIdent(table) + when,
            "CREATE TRIGGER " + QuoteIdent("tsql_" + table + "_" + c.Name + "_upd") + " AFTER UPDATE OF " +
                col + " ON " + QuoteIdent(table) + when};
}

TTableDef TableFromCatalog(const TSqlTableInfo& info) {
    TTableDef t;
    t.Name = info.Name;
    std::vector<std::pair<int, std::string>> key;
    for (const auto& ci : info.Columns) {
        TColumnDef c;
        c.Name = ci.Name;
        c.Type = TypeFromDecl(ci.DeclType);
        c.NotNull = ci.NotNull;
        c.Default = ci.Default;
        if (ci.PrimaryKeyIndex > 0)
            key.emplace_back(ci.PrimaryKeyIndex, ci.Name);
        c.Identity = info.AutoIncrement && ci.PrimaryKeyIndex > 0 && IEquals(ci.DeclType, "INTEGER");
        if (c.Identity)
            c.Type = TypeFromDecl("INT");
        t.Columns.push_back(std::move(c));
    }
    std::sort(key.begin(), key.end());
    for (auto& k : key)
        t.PrimaryKey.push_back(k.second);
    return t;
}

// Recreates a table under a new definition, keeping its rows (the copied columns) and its
// identity counter; SQLite cannot change a column in place.
std::vector<std::string> RebuildSql(const TTableDef& oldDef, const TTableDef& newDef, bool autoIncrement,
                                    const std::vector<std::string>& copied) {
    const std::string tmp = "tsql_rebuild_" + newDef.Name;
    std::vector<std::string> s{CreateTableSql(newDef, tmp)};
    if (!copied.empty()) {
        std::string cols;
        for (std::size_t i = 0; i < copied.size(); ++i)
            cols += (i ? ", " : "") + QuoteIdent(copied[i]);
        s.push_back("INSERT INTO " + QuoteIdent(tmp) + " (" + cols + ") SELECT " + cols + " FROM " +
                    QuoteIdent(oldDef.Name));
    }
    if (autoIncrement) {
        s.push_back("DELETE FROM sqlite_sequence WHERE name = " + pallux::QuotedStr(tmp));
        s.push_back("INSERT INTO sqlite_sequence (name, seq) SELECT " + pallux::QuotedStr(tmp) +
                    ", seq FROM sqlite_sequence WHERE name = " + pallux::QuotedStr(oldDef.Name) +
                    " COLLATE NOCASE");
    }
    s.push_back("DROP TABLE " + QuoteIdent(oldDef.Name));
    s.push_back("ALTER TABLE " + QuoteIdent(tmp) + " RENAME TO " + QuoteIdent(newDef.Name));
    for (const auto& c : newDef.Columns)
        for (auto& trig : DateTriggerSql(newDef.Name, c))
            s.push_back(std::move(trig));
    return s;
}

// The emulation of INFORMATION_SCHEMA.COLUMNS over the SQLite catalogue.
std::string InformationSchemaColumns() {
    const std::string base =
        "upper(trim(CASE WHEN instr(p.type, '(') > 0 THEN substr(p.type, 1, instr(p.type, "
        "'(') - 1) ELSE p.type END))";
    return "(SELECT 'dbo' AS TABLE_SCHEMA, m.name COLLATE NOCASE AS TABLE_NAME, p.name COLLATE NOCASE AS "
           "COLUMN_NAME, p.cid + 1 AS ORDINAL_POSITION, p.dflt_value AS COLUMN_DEFAULT, CASE WHEN "
           "p.\"notnull\" "
           "OR p.pk > 0 THEN 'NO' ELSE 'YES' END AS IS_NULLABLE, CASE " +
           base + " WHEN 'INTEGER' THEN 'int' ELSE lower(" + base +
           ") END COLLATE NOCASE AS DATA_TYPE, CASE WHEN " + base +
           " IN ('VARCHAR', 'NVARCHAR', 'CHAR', 'NCHAR') THEN CAST(substr(p.type, instr(p.type, '(') + 1, "
           "instr(p.type, ')') - instr(p.type, '(') - 1) AS INTEGER) END AS CHARACTER_MAXIMUM_LENGTH FROM "
           "sqlite_master AS m JOIN pragma_table_info(m.name) AS p WHERE m.type = 'table' AND m.name NOT "
           "LIKE "
           "'sqlite!_%' ESCAPE '!')";
}

// The emulation of sys.indexes (name, object_id as OBJECT_ID answers it) over the SQLite
// catalogue; the automatic indexes of keys are left out, as they have no name in T-SQL.
std::string SysIndexes() {
    return "(SELECT i.name COLLATE NOCASE AS name, t.rootpage AS object_id FROM sqlite_master AS i JOIN "
           "sqlite_master AS t ON t.type = 'table' AND t.name = i.tbl_name WHERE i.type = 'index' AND i.name "
           "NOT LIKE 'sqlite!_%' ESCAPE '!')";
}

std::string InformationSchemaTables() {
    return "(SELECT 'dbo' AS TABLE_SCHEMA, name COLLATE NOCASE AS TABLE_NAME, CASE type WHEN 'view' THEN "
           "'VIEW' "
           "ELSE 'BASE TABLE' END AS TABLE_TYPE FROM sqlite_master WHERE type IN ('table', 'view') AND name "
           "NOT "
           "LIKE 'sqlite!_%' ESCAPE '!')";
}

// ---------------------------------------------------------------------------------------------
// Statement translation

class TStatementTranslator {
public:
    TStatementTranslator(const TTokens& tokens, const std::string& source, const ISqlCatalog* catalog)
        : T(tokens), Source(source), Catalog(catalog) {
        CollectTables();
    }

    [[noreturn]] void Fail(const std::string& reason) const {
        throw ESqlTranslateError(reason + " in statement: " + Source);
    }

    TSqliteStatements Statement(TSqlStatementKind kind);
    std::string Condition() { return "SELECT CASE WHEN " + Emit(0, T.size()) + " THEN 1 ELSE 0 END"; }

private:
    const TTokens& T;
    const std::string& Source;
    const ISqlCatalog* Catalog;                        // null: only check the form
    std::map<std::string, std::string, TILess> Tables; // alias or name -> table name

    bool Word(std::size_t i, std::string_view w) const { return i < T.size() && T[i].Is(w); }
    bool Sym(std::size_t i, std::string_view s) const { return i < T.size() && T[i].IsSymbol(s); }
    bool IsName(std::size_t i) const {
        return i < T.size() &&
               (T[i].Kind == TKind::Ident || (T[i].Kind == TKind::Word && !IsReservedWord(T[i])));
    }

    std::size_t Match(std::size_t open, std::size_t end) const {
        int depth = 0;
        for (std::size_t i = open; i < end; ++i) {
            if (T[i].IsSymbol("("))
                ++depth;
            else if (T[i].IsSymbol(")") && --depth == 0)
                return i;
        }
        Fail("unbalanced parentheses");
    }

    std::vector<std::pair<std::size_t, std::size_t>> Split(std::size_t b, std::size_t e) const {
        std::vector<std::pair<std::size_t, std::size_t>> parts;
        if (b >= e)
            return parts;
        int depth = 0;
        std::size_t start = b;
        for (std::size_t i = b; i < e; ++i) {
            if (T[i].IsSymbol("("))
                ++depth;
            else if (T[i].IsSymbol(")"))
                --depth;
            else if (depth == 0 && T[i].IsSymbol(",")) {
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

    // A possibly schema-qualified object name at i: answers the name, moves i past it.
    std::string ObjectName(std::size_t& i) const {
        if (IsName(i) && Sym(i + 1, ".") && IEquals(T[i].Text, "dbo"))
            i += 2;
        if (!IsName(i))
            Fail("a table name is missing");
        return T[i++].Text;
    }

    void CollectTables() {
        for (std::size_t i = 0; i + 1 < T.size(); ++i) {
            if (!(T[i].Is("FROM") || T[i].Is("JOIN") || T[i].Is("UPDATE") || T[i].Is("INTO")))
                continue;
            std::size_t j = i + 1;
            if (!IsName(j))
                continue;
            if (IEquals(T[j].Text, "dbo") && Sym(j + 1, "."))
                j += 2;
            if (!IsName(j) || Sym(j + 1, "."))
                continue;
            const std::string table = T[j].Text;
            Tables[table] = table;
            std::size_t k = j + 1;
            if (Word(k, "AS"))
                ++k;
            if (IsName(k))
                Tables[T[k].Text] = table;
        }
    }

    std::optional<TSqlColumnInfo> FindColumn(const TSqlTableInfo& t, const std::string& column) const {
        for (const auto& c : t.Columns)
            if (IEquals(c.Name, column))
                return c;
        return std::nullopt;
    }

    // The type of a plain column reference ([qualifier .] column), when the catalogue knows it.
    std::optional<TSqlType> ColumnType(std::size_t b, std::size_t e) const {
        if (!Catalog)
            return std::nullopt;
        std::string qualifier, column;
        if (e - b == 1 && IsName(b)) {
            column = T[b].Text;
        } else if (e - b == 3 && IsName(b) && Sym(b + 1, ".") && IsName(b + 2)) {
            qualifier = T[b].Text;
            column = T[b + 2].Text;
        } else {
            return std::nullopt;
        }
        std::vector<std::string> candidates;
        if (!qualifier.empty()) {
            auto it = Tables.find(qualifier);
            candidates.push_back(it != Tables.end() ? it->second : qualifier);
        } else {
            for (const auto& [alias, table] : Tables)
                candidates.push_back(table);
        }
        for (const auto& table : candidates)
            if (auto info = Catalog->FindTable(table))
                if (auto col = FindColumn(*info, column))
                    return TypeFromDecl(col->DeclType);
        return std::nullopt;
    }

    enum class TOperand { Text, Number, Unknown };
    TOperand Operand(std::size_t b, std::size_t e) const {
        if (e == b + 1 && T[b].Kind == TKind::String)
            return TOperand::Text;
        if (e == b + 1 && T[b].Kind == TKind::Number)
            return TOperand::Number;
        if (auto type = ColumnType(b, e)) {
            if (type->Family == TFamily::Char)
                return TOperand::Text;
            if (type->Family != TFamily::Other)
                return TOperand::Number;
        }
        return TOperand::Unknown;
    }
    // The simple operand (literal, column, alias.column) before or after the operator at i.
    TOperand OperandBefore(std::size_t i, std::size_t b) const {
        if (i >= b + 3 && Sym(i - 2, ".") && IsName(i - 1) && IsName(i - 3))
            return Operand(i - 3, i);
        return i >= b + 1 ? Operand(i - 1, i) : TOperand::Unknown;
    }
    TOperand OperandAfter(std::size_t i, std::size_t e) const {
        if (i + 3 < e && IsName(i + 1) && Sym(i + 2, ".") && IsName(i + 3))
            return Operand(i + 1, i + 4);
        return i + 1 < e ? Operand(i + 1, i + 2) : TOperand::Unknown;
    }

    std::string Emit(std::size_t b, std::size_t e);
    std::string EmitSelect(std::size_t b, std::size_t e);
    std::string EmitFunction(std::size_t i, std::size_t close);
    std::string CastTo(const std::string& expr, std::size_t b, std::size_t e);
    TSqlType ParseType(std::size_t& i, std::size_t e) const;
    std::string DefaultExpr(std::size_t& i, std::size_t e);
    TColumnDef ColumnDef(std::size_t b, std::size_t e, TTableDef& table);

    TSqliteStatements CreateTable();
    TSqliteStatements CreateIndex();
    TSqliteStatements AlterTable();
    TSqliteStatements DropTable();
    TSqliteStatements Truncate();
};

std::string TStatementTranslator::Emit(std::size_t b, std::size_t e) {
    std::string out;
    for (std::size_t i = b; i < e;) {
        const TSqlToken& t = T[i];
        switch (t.Kind) {
        case TKind::String:
            Append(out, pallux::QuotedStr(t.Text));
            ++i;
            continue;
        case TKind::Number:
            Append(out, t.Text);
            ++i;
            continue;
        case TKind::Symbol:
            if (t.Text == "(") {
                const std::size_t close = Match(i, e);
                Append(out, "(" + Emit(i + 1, close) + ")");
                i = close + 1;
            } else if (t.Text == ")") {
                Fail("unbalanced parentheses");
            } else if (t.Text == "+") {
                // '+' joins two texts in T-SQL; SQLite would add them as numbers.
                const TOperand left = OperandBefore(i, b), right = OperandAfter(i, e);
                const bool text = (left == TOperand::Text && right != TOperand::Number) ||
                                  (right == TOperand::Text && left != TOperand::Number);
                Append(out, text ? "||" : "+");
                ++i;
            } else if (t.Text == "!<") {
                Append(out, ">=");
                ++i;
            } else if (t.Text == "!>") {
                Append(out, "<=");
                ++i;
            } else {
                Append(out, t.Text);
                ++i;
            }
            continue;
        case TKind::Ident:
        case TKind::Word:
            break;
        }
        const std::string u = Upper(t.Text);
        if (IEquals(t.Text, "dbo") && Sym(i + 1, ".") && i + 2 < e && T[i + 2].Kind != TKind::Symbol) {
            i += 2;
            continue;
        }
        if (u == "INFORMATION_SCHEMA" && Sym(i + 1, ".") && i + 2 < e) {
            const std::string view = Upper(T[i + 2].Text);
            if (view == "COLUMNS")
                Append(out, InformationSchemaColumns());
            else if (view == "TABLES")
                Append(out, InformationSchemaTables());
            else
                Fail("INFORMATION_SCHEMA." + T[i + 2].Text + " is not supported");
            i += 3;
            if (!(i < e && (Word(i, "AS") || IsName(i))))
                Append(out, "AS " + QuoteIdent(view));
            continue;
        }
        if (u == "SYS" && Sym(i + 1, ".") && i + 2 < e) {
            if (!T[i + 2].Is("indexes"))
                Fail("sys." + T[i + 2].Text + " is not supported");
            Append(out, SysIndexes());
            i += 3;
            if (!(i < e && (Word(i, "AS") || IsName(i))))
                Append(out, "AS [indexes]");
            continue;
        }
        if (t.Kind == TKind::Ident) {
            Append(out, QuoteIdent(t.Text));
            ++i;
            continue;
        }
        if (u.rfind("@@", 0) == 0) {
            if (u == "@@IDENTITY")
                Append(out, "NULLIF(last_insert_rowid(), 0)");
            else if (u == "@@ROWCOUNT")
                Append(out, "changes()");
            else
                Fail(t.Text + " is not supported");
            ++i;
            continue;
        }
        if (u[0] == '@')
            Fail("variables are not supported");
        if (u[0] == '#')
            Fail("temporary tables are not supported");
        if (u == "SELECT") {
            Append(out, EmitSelect(i, e));
            break;
        }
        if (u == "CURRENT_TIMESTAMP") {
            Append(out, "datetime('now','localtime')");
            ++i;
            continue;
        }
        if (u == "LIKE" && i + 1 < e && T[i + 1].Kind == TKind::String &&
            T[i + 1].Text.find('[') != std::string::npos)
            Fail("LIKE patterns with [ ] sets are not supported");
        if (u == "TOP")
            Fail("TOP is only supported right after SELECT");
        if (u == "WITH" && Sym(i + 1, "(")) {
            // table hints: locking is the database's business here
            const std::size_t close = Match(i + 1, e);
            for (std::size_t k = i + 2; k < close; ++k) {
                static const std::set<std::string> hints{
                    "NOLOCK",   "READUNCOMMITTED", "ROWLOCK",      "UPDLOCK",       "HOLDLOCK",
                    "READPAST", "NOWAIT",          "PAGLOCK",      "TABLOCK",       "TABLOCKX",
                    "XLOCK",    "READCOMMITTED",   "SERIALIZABLE", "REPEATABLEREAD"};
                if (!T[k].IsSymbol(",") && !(T[k].Kind == TKind::Word && hints.count(Upper(T[k].Text))))
                    Fail("table hint " + T[k].Text + " is not supported");
            }
            i = close + 1;
            continue;
        }
        static const std::set<std::string> unsupported{"OUTPUT",   "MERGE",   "PIVOT",  "UNPIVOT",
                                                       "APPLY",    "COLLATE", "OFFSET", "FETCH",
                                                       "IDENTITY", "OPTION",  "FOR"};
        if (unsupported.count(u))
            Fail(t.Text + " is not supported");
        if (Sym(i + 1, "(") && !Reserved().count(u)) {
            const bool tableName =
                i > 0 && (T[i - 1].Is("INTO") || T[i - 1].Is("TABLE") || T[i - 1].Is("FROM") ||
                          T[i - 1].Is("JOIN") || T[i - 1].Is("UPDATE") || T[i - 1].Is("INSERT") ||
                          T[i - 1].Is("DELETE") || T[i - 1].Is("WITH") || T[i - 1].IsSymbol("."));
            if (!tableName) {
                const std::size_t close = Match(i + 1, e);
                Append(out, EmitFunction(i, close));
                i = close + 1;
                continue;
            }
            if (T[i - 1].IsSymbol("."))
                Fail("function " + t.Text + " is not supported");
        }
        Append(out, t.Text);
        ++i;
    }
    return out;
}

std::string TStatementTranslator::EmitSelect(std::size_t b, std::size_t e) {
    std::string out = "SELECT";
    std::size_t i = b + 1;
    if (Word(i, "DISTINCT") || Word(i, "ALL"))
        Append(out, Upper(T[i++].Text));
    std::optional<std::string> limit;
    if (Word(i, "TOP")) {
        ++i;
        if (Sym(i, "(")) {
            const std::size_t close = Match(i, e);
            limit = Emit(i + 1, close);
            i = close + 1;
        } else if (i < e && T[i].Kind == TKind::Number) {
            limit = T[i++].Text;
        } else {
            Fail("TOP needs a row count");
        }
        if (Word(i, "PERCENT") || Word(i, "WITH"))
            Fail("TOP " + T[i].Text + " is not supported");
    }
    // the select list runs up to the first clause keyword at this level
    std::size_t listEnd = i;
    for (int depth = 0; listEnd < e; ++listEnd) {
        const TSqlToken& t = T[listEnd];
        if (t.IsSymbol("("))
            ++depth;
        else if (t.IsSymbol(")"))
            --depth;
        else if (depth == 0 &&
                 (t.Is("FROM") || t.Is("WHERE") || t.Is("GROUP") || t.Is("HAVING") || t.Is("ORDER") ||
                  t.Is("UNION") || t.Is("EXCEPT") || t.Is("INTERSECT") || t.Is("INTO")))
            break;
    }
    if (Word(listEnd, "INTO"))
        Fail("SELECT ... INTO is not supported");
    std::string list;
    for (auto [ib, ie] : Split(i, listEnd)) {
        std::string item;
        if (ie - ib >= 3 && IsName(ib) && Sym(ib + 1, "=") && T[ib].Text[0] != '@')
            item = Emit(ib + 2, ie) + " AS " + QuoteIdent(T[ib].Text); // alias = expression
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
            if (T[k].IsSymbol("("))
                ++depth;
            else if (T[k].IsSymbol(")"))
                --depth;
            else if (depth == 0 && (T[k].Is("UNION") || T[k].Is("EXCEPT") || T[k].Is("INTERSECT")))
                Fail("TOP in a compound SELECT is not supported");
        }
    }
    Append(out, Emit(listEnd, e));
    if (limit)
        Append(out, "LIMIT " + *limit);
    return out;
}

TSqlType TStatementTranslator::ParseType(std::size_t& i, std::size_t e) const {
    if (!(i < e && T[i].Kind == TKind::Word))
        Fail("a data type is missing");
    const std::string name = T[i++].Text;
    std::vector<std::string> args;
    if (i < e && Sym(i, "(")) {
        const std::size_t close = Match(i, e);
        for (auto [ab, ae] : Split(i + 1, close)) {
            std::string a;
            for (std::size_t k = ab; k < ae; ++k)
                a += T[k].Text;
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

std::string TStatementTranslator::CastTo(const std::string& expr, std::size_t b, std::size_t e) {
    std::size_t i = b;
    const TSqlType type = ParseType(i, e);
    if (i != e)
        Fail("unexpected " + T[i].Text + " after the data type");
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

std::string TStatementTranslator::EmitFunction(std::size_t i, std::size_t close) {
    const std::string name = Upper(T[i].Text);
    const auto args = Split(i + 2, close);
    const auto arg = [&](std::size_t k) { return Emit(args[k].first, args[k].second); };
    const auto need = [&](std::size_t lo, std::size_t hi) {
        if (args.size() < lo || args.size() > hi)
            Fail("wrong number of arguments for " + T[i].Text);
    };
    const auto joined = [&] {
        std::string s = Upper(T[i].Text) + "(";
        for (std::size_t k = 0; k < args.size(); ++k)
            s += (k ? ", " : "") + arg(k);
        return s + ")";
    };

    if (name == "GETDATE" || name == "SYSDATETIME" || name == "CURRENT_TIMESTAMP") {
        need(0, 0);
        return "datetime('now','localtime')";
    }
    if (name == "GETUTCDATE" || name == "SYSUTCDATETIME") {
        need(0, 0);
        return "datetime('now')";
    }
    if (name == "SCOPE_IDENTITY") {
        need(0, 0);
        return "NULLIF(last_insert_rowid(), 0)";
    }
    if (name == "ISNULL") {
        need(2, 2);
        std::string fallback = arg(1);
        const auto [fb, fe] = args[1];
        if (fe - fb == 1 && T[fb].Kind == TKind::Number) {
            // a floating column replaced by a whole number stays floating
            if (auto type = ColumnType(args[0].first, args[0].second))
                if (type->Family == TFamily::Real || type->Family == TFamily::Decimal)
                    fallback = "CAST(" + T[fb].Text + " AS REAL)";
        } else if (fe - fb == 1 && T[fb].Kind == TKind::String) {
            // ISNULL answers the type of its first argument: a text replacement is converted.
            if (auto type = ColumnType(args[0].first, args[0].second)) {
                const std::string& text = T[fb].Text;
                switch (type->Family) {
                case TFamily::Integer:
                case TFamily::Real:
                case TFamily::Decimal: {
                    char* endp = nullptr;
                    const std::string trimmed = text;
                    if (!trimmed.empty()) {
                        std::strtod(trimmed.c_str(), &endp);
                        if (*endp != '\0')
                            Fail("conversion of '" + text + "' to a number fails");
                    }
                    fallback = "CAST(" + pallux::QuotedStr(text) + " AS " +
                               (type->Family == TFamily::Integer ? "INTEGER" : "REAL") + ")";
                    break;
                }
                case TFamily::DateTime:
                    fallback =
                        text.empty() ? "'1900-01-01 00:00:00'" : "datetime(" + pallux::QuotedStr(text) + ")";
                    break;
                default:
                    break;
                }
            }
        }
        return "IFNULL(" + arg(0) + ", " + fallback + ")";
    }
    if (name == "CAST") {
        need(1, 1);
        const auto [b, e] = args[0];
        std::optional<std::size_t> as;
        int depth = 0;
        for (std::size_t k = b; k < e; ++k) {
            if (T[k].IsSymbol("("))
                ++depth;
            else if (T[k].IsSymbol(")"))
                --depth;
            else if (depth == 0 && T[k].Is("AS"))
                as = k;
        }
        if (!as)
            Fail("CAST without AS");
        return CastTo(Emit(b, *as), *as + 1, e);
    }
    if (name == "CONVERT") {
        need(2, 2);
        return CastTo(arg(1), args[0].first, args[0].second);
    }
    if (name == "DATEADD") {
        need(3, 3);
        const auto [ub, ue] = args[0];
        if (ue - ub != 1 || T[ub].Kind != TKind::Word)
            Fail("DATEADD needs a date part");
        const std::string part = Upper(T[ub].Text);
        std::string unit;
        std::int64_t factor = 1;
        if (part == "YEAR" || part == "YY" || part == "YYYY")
            unit = "years";
        else if (part == "QUARTER" || part == "QQ" || part == "Q")
            unit = "months", factor = 3;
        else if (part == "MONTH" || part == "MM" || part == "M")
            unit = "months";
        else if (part == "WEEK" || part == "WK" || part == "WW")
            unit = "days", factor = 7;
        else if (part == "DAY" || part == "DD" || part == "D" || part == "DAYOFYEAR" || part == "DY" ||
                 part == "Y" || part == "WEEKDAY" || part == "DW")
            unit = "days";
        else if (part == "HOUR" || part == "HH")
            unit = "hours";
        else if (part == "MINUTE" || part == "MI" || part == "N")
            unit = "minutes";
        else if (part == "SECOND" || part == "SS" || part == "S")
            unit = "seconds";
        else
            Fail("DATEADD date part " + T[ub].Text + " is not supported");
        const auto [nb, ne] = args[1];
        std::optional<std::int64_t> literal;
        if (ne - nb == 1 && T[nb].Kind == TKind::Number)
            literal = ToInt(T[nb].Text);
        else if (ne - nb == 2 && T[nb].IsSymbol("-") && T[nb + 1].Kind == TKind::Number)
            if (auto v = ToInt(T[nb + 1].Text))
                literal = -*v;
        if (unit == "years") {
            unit = "months";
            factor *= 12;
        }
        std::string modifier;
        if (literal) {
            const std::int64_t n = *literal * factor;
            modifier = pallux::QuotedStr((n >= 0 ? "+" : "") + std::to_string(n) + " " + unit);
        } else {
            modifier = "printf('%+d " + unit + "', CAST(" + arg(1) + " AS INTEGER) * " +
                       std::to_string(factor) + ")";
        }
        const std::string date = arg(2);
        if (unit != "months")
            return "datetime(" + date + ", " + modifier + ")";
        // SQL Server keeps the day within the target month (31 March - 1 month = 29 February);
        // SQLite would run over into the next month.
        const std::string lastDay = "CAST(strftime('%d', " + date + ", 'start of month', " + modifier +
                                    ", '+1 months', '-1 days') AS INTEGER)";
        const std::string day = "MIN(CAST(strftime('%d', " + date + ") AS INTEGER), " + lastDay + ")";
        return "datetime(date(" + date + ", 'start of month', " + modifier + ", printf('+%d days', " + day +
               " - 1)) || ' ' || time(" + date + "))";
    }
    if (name == "LEN") {
        need(1, 1);
        return "length(rtrim(" + arg(0) + "))";
    }
    if (name == "SUBSTRING") {
        need(3, 3);
        return "substr(" + arg(0) + ", " + arg(1) + ", " + arg(2) + ")";
    }
    if (name == "CHARINDEX") {
        need(2, 2);
        return "instr(" + arg(1) + ", " + arg(0) + ")";
    }
    // Functions SQLite has under the same name: only their argument count is checked.
    static const std::map<std::string, std::pair<std::size_t, std::size_t>> sameName = {
        {"UPPER", {1, 1}},   {"LOWER", {1, 1}},  {"LTRIM", {1, 1}},      {"RTRIM", {1, 1}}, {"ABS", {1, 1}},
        {"COUNT", {1, 1}},   {"SUM", {1, 1}},    {"MIN", {1, 1}},        {"MAX", {1, 1}},   {"ROUND", {2, 2}},
        {"REPLACE", {3, 3}}, {"NULLIF", {2, 2}}, {"COALESCE", {2, 1000}}};
    if (auto it = sameName.find(name); it != sameName.end()) {
        need(it->second.first, it->second.second);
        return joined();
    }
    if (name == "OBJECT_ID") {
        need(1, 2);
        for (auto [ab, ae] : args)
            if (ae - ab != 1 || T[ab].Kind != TKind::String)
                Fail("OBJECT_ID needs literal texts");
        std::string object = T[args[0].first].Text;
        if (auto dot = object.rfind('.'); dot != std::string::npos)
            object = object.substr(dot + 1);
        if (object.size() >= 2 && ((object.front() == '[' && object.back() == ']') ||
                                   (object.front() == '"' && object.back() == '"')))
            object = object.substr(1, object.size() - 2);
        std::string types = "('table', 'view')";
        if (args.size() == 2) {
            const std::string type = Upper(T[args[1].first].Text);
            if (type == "U")
                types = "('table')";
            else if (type == "V")
                types = "('view')";
            else
                Fail("OBJECT_ID type '" + T[args[1].first].Text + "' is not supported");
        }
        return "(SELECT rootpage FROM sqlite_master WHERE type IN " + types +
               " AND name = " + pallux::QuotedStr(object) + " COLLATE NOCASE)";
    }
    Fail("function " + T[i].Text + " is not supported");
}

std::string TStatementTranslator::DefaultExpr(std::size_t& i, std::size_t e) {
    const std::size_t b = i;
    if (Sym(i, "(")) {
        i = Match(i, e) + 1;
    } else if ((Sym(i, "-") || Sym(i, "+")) && i + 1 < e && T[i + 1].Kind == TKind::Number) {
        i += 2;
    } else if (i < e && T[i].Kind == TKind::Word && Sym(i + 1, "(")) {
        i = Match(i + 1, e) + 1;
    } else if (i < e && T[i].Kind != TKind::Symbol) {
        ++i;
    } else {
        Fail("a default value is missing");
    }
    if (i == b + 2 && T[b].Kind == TKind::Symbol)
        return T[b].Text + T[b + 1].Text; // a signed number
    std::string sql = Emit(b, i);
    // drop the parentheses SQL Server keeps around defaults: ((0)) is 0
    while (sql.size() >= 2 && sql.front() == '(' && sql.back() == ')') {
        int depth = 0;
        bool wraps = true;
        for (std::size_t k = 0; k < sql.size(); ++k) {
            if (sql[k] == '(')
                ++depth;
            else if (sql[k] == ')' && --depth == 0 && k + 1 < sql.size())
                wraps = false;
        }
        if (!wraps)
            break;
        sql = sql.substr(1, sql.size() - 2);
    }
    return sql;
}

TColumnDef TStatementTranslator::ColumnDef(std::size_t b, std::size_t e, TTableDef& table) {
    TColumnDef c;
    std::size_t i = b;
    if (!IsName(i))
        Fail("a column name is missing");
    c.Name = T[i++].Text;
    c.Type = ParseType(i, e);
    while (i < e) {
        if (Word(i, "NULL")) {
            c.NotNull = false;
            ++i;
        } else if (Word(i, "NOT") && Word(i + 1, "NULL")) {
            c.NotNull = true;
            i += 2;
        } else if (Word(i, "IDENTITY")) {
            ++i;
            c.Identity = true;
            if (Sym(i, "(")) {
                const std::size_t close = Match(i, e);
                const auto parts = Split(i + 1, close);
                std::vector<std::int64_t> values;
                for (auto [pb, pe] : parts) {
                    std::string text;
                    for (std::size_t k = pb; k < pe; ++k)
                        text += T[k].Text;
                    auto v = ToInt(text);
                    if (!v)
                        Fail("IDENTITY needs whole numbers");
                    values.push_back(*v);
                }
                if (values.size() != 2)
                    Fail("IDENTITY needs a seed and an increment");
                if (values[1] != 1)
                    Fail("IDENTITY increments other than 1 are not supported");
                c.Seed = values[0];
                i = close + 1;
            }
        } else if (Word(i, "CONSTRAINT") && IsName(i + 1)) {
            i += 2;
            if (!Word(i, "DEFAULT") && !Word(i, "PRIMARY"))
                Fail("constraint " + (i < e ? T[i].Text : std::string("")) + " is not supported");
        } else if (Word(i, "DEFAULT")) {
            ++i;
            c.Default = DefaultExpr(i, e);
        } else if (Word(i, "PRIMARY") && Word(i + 1, "KEY")) {
            i += 2;
            if (Word(i, "CLUSTERED") || Word(i, "NONCLUSTERED"))
                ++i;
            if (!table.PrimaryKey.empty())
                Fail("a table can have only one primary key");
            table.PrimaryKey.push_back(c.Name);
        } else {
            Fail("column option " + T[i].Text + " is not supported");
        }
    }
    if (c.Identity && c.Type.Family != TFamily::Integer)
        Fail("IDENTITY needs an integer column");
    return c;
}

TSqliteStatements TStatementTranslator::CreateTable() {
    std::size_t i = 2; // CREATE TABLE
    TTableDef table;
    table.Name = ObjectName(i);
    if (!Sym(i, "("))
        Fail("CREATE TABLE needs a column list");
    const std::size_t close = Match(i, T.size());
    for (auto [b, e] : Split(i + 1, close)) {
        std::size_t k = b;
        if (Word(k, "CONSTRAINT") && IsName(k + 1))
            k += 2;
        if (Word(k, "PRIMARY") && Word(k + 1, "KEY")) {
            k += 2;
            if (Word(k, "CLUSTERED") || Word(k, "NONCLUSTERED"))
                ++k;
            if (!Sym(k, "("))
                Fail("PRIMARY KEY needs a column list");
            const std::size_t kc = Match(k, e);
            if (!table.PrimaryKey.empty())
                Fail("a table can have only one primary key");
            for (auto [cb, ce] : Split(k + 1, kc)) {
                if (!IsName(cb) ||
                    !(ce == cb + 1 || (ce == cb + 2 && (Word(cb + 1, "ASC") || Word(cb + 1, "DESC")))))
                    Fail("bad PRIMARY KEY column");
                table.PrimaryKey.push_back(T[cb].Text);
            }
            if (kc + 1 != e)
                Fail("unexpected " + T[kc + 1].Text + " after PRIMARY KEY");
            continue;
        }
        if (k != b || Word(b, "UNIQUE") || Word(b, "CHECK") || Word(b, "FOREIGN") || Word(b, "INDEX"))
            Fail("table constraint " + T[k].Text + " is not supported");
        TColumnDef c = ColumnDef(b, e, table);
        for (const auto& other : table.Columns)
            if (IEquals(other.Name, c.Name))
                Fail("column " + c.Name + " is given twice");
        table.Columns.push_back(std::move(c));
    }
    std::size_t after = close + 1;
    if (Word(after, "ON") && (IsName(after + 1) || Word(after + 1, "PRIMARY")))
        after += 2; // filegroup
    if (after != T.size())
        Fail("unexpected " + T[after].Text + " after the column list");
    if (table.Columns.empty())
        Fail("CREATE TABLE without columns");

    const TColumnDef* identity = nullptr;
    for (const auto& c : table.Columns) {
        if (!c.Identity)
            continue;
        if (identity)
            Fail("a table can have only one IDENTITY column");
        identity = &c;
    }
    for (const auto& k : table.PrimaryKey)
        if (!table.Find(k))
            Fail("primary key column " + k + " does not exist");
    if (identity) {
        if (table.PrimaryKey.empty())
            table.PrimaryKey.push_back(identity->Name);
        else if (table.PrimaryKey.size() != 1 || !IEquals(table.PrimaryKey[0], identity->Name))
            Fail("an IDENTITY column that is not the primary key is not supported");
    }

    TSqliteStatements r;
    r.Statements.push_back(CreateTableSql(table, table.Name));
    for (const auto& c : table.Columns)
        for (auto& trig : DateTriggerSql(table.Name, c))
            r.Statements.push_back(std::move(trig));
    if (identity && identity->Seed != 1)
        r.Statements.push_back("INSERT INTO sqlite_sequence (name, seq) VALUES (" +
                               pallux::QuotedStr(table.Name) + ", " + std::to_string(identity->Seed - 1) +
                               ")");
    return r;
}

TSqliteStatements TStatementTranslator::AlterTable() {
    std::size_t i = 2; // ALTER TABLE
    const std::string name = ObjectName(i);
    std::optional<TSqlTableInfo> info;
    if (Catalog) {
        info = Catalog->FindTable(name);
        if (!info)
            Fail("table " + name + " does not exist");
    }
    TTableDef oldDef = info ? TableFromCatalog(*info) : TTableDef{name, {}, {}};
    TTableDef newDef = oldDef;
    std::vector<std::string> copied;
    for (const auto& c : oldDef.Columns)
        copied.push_back(c.Name);
    TSqliteStatements r;

    if (Word(i, "ADD")) {
        ++i;
        if (Word(i, "COLUMN"))
            ++i;
        bool native = true;
        std::vector<TColumnDef> added;
        for (auto [b, e] : Split(i, T.size())) {
            if (Word(b, "CONSTRAINT") || Word(b, "PRIMARY") || Word(b, "UNIQUE") || Word(b, "CHECK") ||
                Word(b, "FOREIGN"))
                Fail("adding constraints is not supported");
            TTableDef scratch;
            TColumnDef c = ColumnDef(b, e, scratch);
            if (c.Identity || !scratch.PrimaryKey.empty())
                Fail("adding an IDENTITY or PRIMARY KEY column is not supported");
            if (info && newDef.Find(c.Name))
                Fail("column names in each table must be unique: " + c.Name + " is already in " + name);
            // SQLite adds a column in place only with a constant default, and a NOT NULL one
            // only with a default other than NULL.
            if (c.Default && !IsLiteral(*c.Default))
                native = false;
            if (c.NotNull && (!c.Default || IEquals(*c.Default, "NULL")))
                native = false;
            newDef.Columns.push_back(c);
            added.push_back(std::move(c));
        }
        if (!Catalog)
            return r;
        if (native) {
            for (const auto& c : added) {
                r.Statements.push_back("ALTER TABLE " + QuoteIdent(oldDef.Name) + " ADD COLUMN " +
                                       ColumnSql(newDef, c, false));
                for (auto& trig : DateTriggerSql(oldDef.Name, c))
                    r.Statements.push_back(std::move(trig));
            }
        } else {
            r.Statements = RebuildSql(oldDef, newDef, info->AutoIncrement, copied);
        }
        return r;
    }

    if (Word(i, "ALTER") && Word(i + 1, "COLUMN")) {
        i += 2;
        if (!IsName(i))
            Fail("a column name is missing");
        const std::string column = T[i++].Text;
        const TSqlType type = ParseType(i, T.size());
        bool notNull = false;
        if (Word(i, "NULL")) {
            ++i;
        } else if (Word(i, "NOT") && Word(i + 1, "NULL")) {
            notNull = true;
            i += 2;
        }
        if (i != T.size())
            Fail("unexpected " + T[i].Text + " in ALTER COLUMN");
        if (!Catalog)
            return r;
        TColumnDef* c = newDef.Find(column);
        if (!c)
            Fail("column " + column + " does not exist in " + name);
        if (c->Identity)
            Fail("an IDENTITY column cannot be altered");
        const auto numeric = [](TFamily f) {
            return f == TFamily::Integer || f == TFamily::Real || f == TFamily::Decimal;
        };
        const TFamily from = c->Type.Family;
        const bool compatible = from == type.Family || (numeric(from) && numeric(type.Family)) ||
                                (numeric(from) && type.Family == TFamily::Char) ||
                                (from == TFamily::Date && type.Family == TFamily::DateTime);
        if (!compatible)
            Fail("changing column " + column + " from " + c->Type.Name + " to " + type.Name +
                 " is not supported");
        c->Type = type;
        c->NotNull = notNull;
        r.Statements = RebuildSql(oldDef, newDef, info->AutoIncrement, copied);
        return r;
    }

    if (Word(i, "DROP") && Word(i + 1, "COLUMN")) {
        i += 2;
        std::vector<std::string> dropped;
        for (auto [b, e] : Split(i, T.size())) {
            if (e != b + 1 || !IsName(b))
                Fail("bad column name in DROP COLUMN");
            dropped.push_back(T[b].Text);
        }
        if (!Catalog)
            return r;
        for (const auto& d : dropped) {
            if (!newDef.Find(d))
                Fail("column " + d + " does not exist in " + name);
            if (newDef.InPrimaryKey(d))
                Fail("a primary key column cannot be dropped");
            std::erase_if(newDef.Columns, [&](const TColumnDef& c) { return IEquals(c.Name, d); });
            std::erase_if(copied, [&](const std::string& c) { return IEquals(c, d); });
        }
        if (newDef.Columns.empty())
            Fail("a table needs at least one column");
        r.Statements = RebuildSql(oldDef, newDef, info->AutoIncrement, copied);
        return r;
    }
    Fail("this ALTER TABLE form is not supported");
}

TSqliteStatements TStatementTranslator::DropTable() {
    std::size_t i = 2; // DROP TABLE
    bool ifExists = false;
    if (Word(i, "IF") && Word(i + 1, "EXISTS")) {
        ifExists = true;
        i += 2;
    }
    TSqliteStatements r;
    for (auto [b, e] : Split(i, T.size())) {
        std::size_t k = b;
        const std::string name = ObjectName(k);
        if (k != e)
            Fail("bad table name in DROP TABLE");
        r.Statements.push_back(std::string("DROP TABLE ") + (ifExists ? "IF EXISTS " : "") +
                               QuoteIdent(name));
    }
    return r;
}

// CREATE [UNIQUE] [[NON]CLUSTERED] INDEX name ON table ( column [ASC|DESC], ... )
TSqliteStatements TStatementTranslator::CreateIndex() {
    std::size_t i = 1; // CREATE
    const bool unique = Word(i, "UNIQUE");
    if (unique)
        ++i;
    if (Word(i, "CLUSTERED") || Word(i, "NONCLUSTERED"))
        ++i;
    ++i; // INDEX
    if (!IsName(i))
        Fail("an index name is missing");
    const std::string name = T[i++].Text;
    if (!Word(i, "ON"))
        Fail("CREATE INDEX needs ON and a table");
    ++i;
    const std::string table = ObjectName(i);
    if (!Sym(i, "("))
        Fail("CREATE INDEX needs a column list");
    const std::size_t close = Match(i, T.size());
    std::string columns;
    for (auto [b, e] : Split(i + 1, close)) {
        if (!IsName(b) || (e - b > 2) || (e - b == 2 && !Word(b + 1, "ASC") && !Word(b + 1, "DESC")))
            Fail("CREATE INDEX columns must be plain names");
        if (!columns.empty())
            columns += ", ";
        columns += QuoteIdent(T[b].Text) + (e - b == 2 ? " " + Upper(T[b + 1].Text) : std::string());
    }
    if (close + 1 != T.size())
        Fail("CREATE INDEX options after the column list are not supported");
    TSqliteStatements r;
    r.Statements.push_back(std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + QuoteIdent(name) +
                           " ON " + QuoteIdent(table) + " (" + columns + ")");
    return r;
}

TSqliteStatements TStatementTranslator::Truncate() {
    std::size_t i = 2; // TRUNCATE TABLE
    const std::string name = ObjectName(i);
    if (i != T.size())
        Fail("unexpected " + T[i].Text + " after the table name");
    TSqliteStatements r;
    r.Statements.push_back("DELETE FROM " + QuoteIdent(name));
    if (Catalog) {
        auto info = Catalog->FindTable(name);
        if (info && info->AutoIncrement)
            r.Statements.push_back("DELETE FROM sqlite_sequence WHERE name = " +
                                   pallux::QuotedStr(info->Name));
    }
    return r;
}

TSqliteStatements TStatementTranslator::Statement(TSqlStatementKind kind) {
    TSqliteStatements r;
    const auto topLevel = [&](std::string_view word, std::size_t from) {
        int depth = 0;
        for (std::size_t k = from; k < T.size(); ++k) {
            if (T[k].IsSymbol("("))
                ++depth;
            else if (T[k].IsSymbol(")"))
                --depth;
            else if (depth == 0 && T[k].Is(word))
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
        r.Statements.push_back(Emit(0, T.size()));
        break;
    case TSqlStatementKind::Insert:
        if (Word(0, "INSERT") && !Word(1, "INTO"))
            r.Statements.push_back("INSERT INTO " + Emit(1, T.size()));
        else
            r.Statements.push_back(Emit(0, T.size()));
        break;
    case TSqlStatementKind::Update:
        if (Word(0, "UPDATE") && Word(1, "TOP"))
            Fail("UPDATE TOP is not supported");
        if (Word(0, "UPDATE") && topLevel("FROM", 1))
            Fail("UPDATE ... FROM is not supported");
        r.Statements.push_back(Emit(0, T.size()));
        break;
    case TSqlStatementKind::Delete:
        if (Word(0, "DELETE") && Word(1, "TOP"))
            Fail("DELETE TOP is not supported");
        if (Word(0, "DELETE") && !Word(1, "FROM")) {
            if (topLevel("FROM", 1))
                Fail("DELETE ... FROM ... JOIN is not supported");
            r.Statements.push_back("DELETE FROM " + Emit(1, T.size()));
        } else {
            if (Word(0, "DELETE") && topLevel("FROM", 2))
                Fail("DELETE ... FROM ... JOIN is not supported");
            r.Statements.push_back(Emit(0, T.size()));
        }
        break;
    }
    r.Main = 0;
    return r;
}

// ---------------------------------------------------------------------------------------------
// Batch parsing

class TBatchParser {
public:
    TBatchParser(const std::string& source) : Src(source), T(TokenizeTSql(source)) {}

    std::vector<TSqlStep> Run() {
        std::size_t i = 0;
        auto steps = Steps(i, false);
        return steps;
    }

private:
    const std::string& Src;
    TTokens T;

    [[noreturn]] void Fail(const std::string& reason, std::size_t b, std::size_t e) const {
        throw ESqlTranslateError(reason + " in statement: " + Text(b, e));
    }

    std::string Text(std::size_t b, std::size_t e) const {
        e = std::min(e, T.size());
        if (b >= T.size() || e <= b)
            return std::string();
        return Src.substr(T[b].Pos, T[e - 1].End - T[b].Pos);
    }

    bool IsGo(std::size_t i) const { return T[i].Is("GO") && T[i].LineStart; }

    std::vector<TSqlStep> Steps(std::size_t& i, bool inBlock) {
        std::vector<TSqlStep> steps;
        while (i < T.size()) {
            if (T[i].IsSymbol(";") || IsGo(i)) {
                ++i;
                continue;
            }
            if (inBlock && T[i].Is("END"))
                return steps;
            steps.push_back(Step(i));
        }
        if (inBlock)
            throw ESqlTranslateError("BEGIN without END");
        return steps;
    }

    std::optional<TSqlStatementKind> Classify(std::size_t i) const {
        const std::string w = Upper(T[i].Text);
        const auto next = [&](std::string_view word) { return i + 1 < T.size() && T[i + 1].Is(word); };
        if (T[i].Kind != TKind::Word)
            return std::nullopt;
        if (w == "SELECT")
            return TSqlStatementKind::Select;
        if (w == "INSERT")
            return TSqlStatementKind::Insert;
        if (w == "UPDATE")
            return TSqlStatementKind::Update;
        if (w == "DELETE")
            return TSqlStatementKind::Delete;
        if (w == "CREATE" && next("TABLE"))
            return TSqlStatementKind::CreateTable;
        if (w == "CREATE") {
            std::size_t k = i + 1;
            if (k < T.size() && T[k].Is("UNIQUE"))
                ++k;
            if (k < T.size() && (T[k].Is("CLUSTERED") || T[k].Is("NONCLUSTERED")))
                ++k;
            if (k < T.size() && T[k].Is("INDEX"))
                return TSqlStatementKind::CreateIndex;
        }
        if (w == "ALTER" && next("TABLE"))
            return TSqlStatementKind::AlterTable;
        if (w == "DROP" && next("TABLE"))
            return TSqlStatementKind::DropTable;
        if (w == "TRUNCATE" && next("TABLE"))
            return TSqlStatementKind::Truncate;
        if (w == "SET" && i + 2 < T.size() && (T[i + 2].Is("ON") || T[i + 2].Is("OFF")) &&
            (next("NOCOUNT") || next("ANSI_NULLS") || next("QUOTED_IDENTIFIER") || next("ANSI_WARNINGS") ||
             next("ANSI_PADDING") || next("ARITHABORT")))
            return TSqlStatementKind::NoOp;
        if (w == "WITH") {
            // a common table expression before the statement it serves
            int depth = 0;
            for (std::size_t k = i + 1; k < T.size(); ++k) {
                if (T[k].IsSymbol("("))
                    ++depth;
                else if (T[k].IsSymbol(")"))
                    --depth;
                else if (depth == 0 && T[k].Is("SELECT"))
                    return TSqlStatementKind::Select;
                else if (depth == 0 && T[k].Is("INSERT"))
                    return TSqlStatementKind::Insert;
                else if (depth == 0 && T[k].Is("UPDATE"))
                    return TSqlStatementKind::Update;
                else if (depth == 0 && T[k].Is("DELETE"))
                    return TSqlStatementKind::Delete;
            }
        }
        return std::nullopt;
    }

    // The end (exclusive) of the plain statement that starts at i.
    std::size_t StatementEnd(std::size_t i, std::optional<TSqlStatementKind> kind) const {
        int depth = 0;
        int cases = 0;
        bool sawSet = false;
        bool sawRows = false; // INSERT: VALUES or SELECT seen
        bool sawMain = false; // WITH: the statement after the expressions seen
        const bool with = T[i].Is("WITH");
        for (std::size_t j = i + 1; j < T.size(); ++j) {
            const TSqlToken& t = T[j];
            if (t.IsSymbol("(")) {
                ++depth;
                continue;
            }
            if (t.IsSymbol(")")) {
                if (--depth < 0)
                    Fail("unbalanced parentheses", i, j + 1);
                continue;
            }
            if (depth > 0)
                continue;
            if (t.IsSymbol(";"))
                return j;
            if (t.Kind != TKind::Word)
                continue;
            const std::string w = Upper(t.Text);
            if (w == "GO" && t.LineStart)
                return j;
            if (w == "CASE") {
                ++cases;
                continue;
            }
            if (w == "END") {
                if (cases > 0) {
                    --cases;
                    continue;
                }
                return j;
            }
            if (w == "ELSE") {
                if (cases > 0)
                    continue;
                return j;
            }
            if (w == "VALUES" && kind == TSqlStatementKind::Insert)
                sawRows = true;
            if (!IsStatementStart(w))
                continue;
            const TSqlToken& prev = T[j - 1];
            const bool nextIs = j + 1 < T.size() && (T[j + 1].Is("COLUMN") || T[j + 1].Is("CONSTRAINT"));
            if (w == "SELECT" &&
                (prev.Is("UNION") || prev.Is("ALL") || prev.Is("EXCEPT") || prev.Is("INTERSECT")))
                continue;
            if (with && !sawMain && (w == "SELECT" || w == "INSERT" || w == "UPDATE" || w == "DELETE")) {
                sawMain = true;
                continue;
            }
            if (w == "SELECT" && kind == TSqlStatementKind::Insert && !sawRows) {
                sawRows = true;
                continue;
            }
            if ((w == "UPDATE" || w == "DELETE") && prev.Is("ON"))
                continue;
            if (w == "SET" && kind == TSqlStatementKind::Update && !sawSet) {
                sawSet = true;
                continue;
            }
            if ((w == "ALTER" || w == "DROP") && nextIs && kind == TSqlStatementKind::AlterTable)
                continue;
            if (w == "IF" && prev.Is("TABLE"))
                continue;
            return j;
        }
        return T.size();
    }

    static std::vector<TSqlToken> Slice(const TTokens& t, std::size_t b, std::size_t e) {
        return std::vector<TSqlToken>(t.begin() + static_cast<std::ptrdiff_t>(b),
                                      t.begin() + static_cast<std::ptrdiff_t>(e));
    }

    TSqlStep Step(std::size_t& i) {
        const std::size_t start = i;
        const TSqlToken& t = T[i];
        TSqlStep step;
        if (t.Is("IF")) {
            std::size_t j = i + 1;
            for (int depth = 0; j < T.size(); ++j) {
                if (T[j].IsSymbol("("))
                    ++depth;
                else if (T[j].IsSymbol(")"))
                    --depth;
                else if (depth == 0 && T[j].Kind == TKind::Word && IsStatementStart(Upper(T[j].Text)))
                    break;
                else if (depth == 0 && T[j].IsSymbol(";"))
                    Fail("IF without a statement", start, j);
            }
            if (j == i + 1)
                Fail("IF without a condition", start, j + 1);
            if (j >= T.size())
                Fail("IF without a statement", start, j);
            step.Kind = TSqlStepKind::If;
            step.Tokens = Slice(T, i + 1, j);
            i = j;
            step.Then.push_back(Step(i));
            std::size_t k = i;
            while (k < T.size() && T[k].IsSymbol(";"))
                ++k;
            if (k < T.size() && T[k].Is("ELSE")) {
                i = k + 1;
                if (i >= T.size())
                    Fail("ELSE without a statement", start, i);
                step.Else.push_back(Step(i));
            }
            step.Source = Text(start, i);
            // the condition's form is checked now, like every statement's
            TStatementTranslator(step.Tokens, step.Source, nullptr).Condition();
            return step;
        }
        if (t.Is("BEGIN")) {
            if (i + 1 < T.size() &&
                (T[i + 1].Is("TRAN") || T[i + 1].Is("TRANSACTION") || T[i + 1].Is("DISTRIBUTED") ||
                 T[i + 1].Is("TRY") || T[i + 1].Is("CATCH")))
                Fail("BEGIN " + T[i + 1].Text + " is not supported (a batch runs as one transaction)", i,
                     i + 2);
            ++i;
            step.Kind = TSqlStepKind::Block;
            step.Then = Steps(i, true);
            if (i >= T.size())
                Fail("BEGIN without END", start, i);
            ++i; // END
            step.Source = Text(start, i);
            return step;
        }
        if (t.Is("EXEC") || t.Is("EXECUTE")) {
            ++i;
            std::string text;
            if (i < T.size() && T[i].IsSymbol("(")) {
                ++i;
                bool expectString = true;
                while (i < T.size() && !T[i].IsSymbol(")")) {
                    if (expectString && T[i].Kind == TKind::String)
                        text += T[i].Text;
                    else if (expectString || !T[i].IsSymbol("+"))
                        Fail("EXEC needs literal texts", start, i + 1);
                    expectString = !expectString;
                    ++i;
                }
                if (i >= T.size() || expectString)
                    Fail("bad EXEC text", start, std::min(i + 1, T.size()));
                ++i;
            } else if (i < T.size() && T[i].Is("sp_executesql") && i + 1 < T.size() &&
                       T[i + 1].Kind == TKind::String) {
                text = T[i + 1].Text;
                i += 2;
                if (i < T.size() && T[i].IsSymbol(","))
                    Fail("sp_executesql with parameters is not supported", start, i + 1);
            } else {
                Fail("EXEC of a stored procedure is not supported", start, std::min(i + 1, T.size()));
            }
            step.Kind = TSqlStepKind::Block;
            step.Source = Text(start, i);
            step.Then = TSqlTranslator::Parse(text);
            return step;
        }
        if (t.Is("ELSE") || t.Is("END"))
            Fail(t.Text + " without IF or BEGIN", i, i + 1);
        const auto kind = Classify(i);
        const std::size_t end = StatementEnd(i, kind);
        if (!kind)
            Fail("statement " + t.Text + " is not supported", i, end);
        step.Kind = TSqlStepKind::Statement;
        step.Statement = *kind;
        step.Tokens = Slice(T, i, end);
        step.Source = Text(i, end);
        i = end;
        TStatementTranslator(step.Tokens, step.Source, nullptr).Statement(step.Statement);
        return step;
    }
};

} // namespace

bool TSqlToken::Is(std::string_view keyword) const {
    return Kind == TKind::Word && IEquals(Text, keyword);
}

std::vector<TSqlToken> TokenizeTSql(const std::string& text) {
    std::vector<TSqlToken> out;
    const std::size_t n = text.size();
    std::size_t i = 0;
    bool lineStart = true;
    const auto fail = [&](const std::string& what, std::size_t at) {
        throw ESqlTranslateError(what + " in statement: " + text.substr(at, 200));
    };
    // Reads a quoted text or name from first up to its closing character (doubled inside it),
    // appending the content; answers the position after the close.
    const auto readQuoted = [&](std::size_t start, std::size_t first, char close, std::string& content,
                                const char* unterminated) {
        for (std::size_t j = first; j < n; ++j) {
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
            ++i;
            continue;
        }
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

std::vector<TSqlStep> TSqlTranslator::Parse(const std::string& batch) {
    return TBatchParser(batch).Run();
}

TSqliteStatements TSqlTranslator::Translate(const TSqlStep& step, const ISqlCatalog& catalog) {
    if (step.Kind != TSqlStepKind::Statement)
        throw ESqlTranslateError("not a plain statement: " + step.Source);
    return TStatementTranslator(step.Tokens, step.Source, &catalog).Statement(step.Statement);
}

std::string TSqlTranslator::TranslateCondition(const TSqlStep& step, const ISqlCatalog& catalog) {
    if (step.Kind != TSqlStepKind::If)
        throw ESqlTranslateError("not an IF: " + step.Source);
    return TStatementTranslator(step.Tokens, step.Source, &catalog).Condition();
}

std::vector<std::string> TSqlTranslator::TranslateBatch(const std::string& batch,
                                                        const ISqlCatalog& catalog) {
    std::vector<std::string> out;
    for (const auto& step : Parse(batch)) {
        if (step.Kind != TSqlStepKind::Statement)
            throw ESqlTranslateError("IF, BEGIN and EXEC need a database to run in statement: " +
                                     step.Source);
        for (auto& s : Translate(step, catalog).Statements)
            out.push_back(std::move(s));
    }
    return out;
}

TSqlTypeInfo DescribeDeclType(const std::string& declType) {
    const TSqlType t = TypeFromDecl(declType);
    TSqlTypeInfo info;
    std::string name = t.Name;
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    info.DataType = name;
    if (t.Family == TFamily::Char)
        info.CharacterMaximumLength = t.Length;
    return info;
}

} // namespace refhost
