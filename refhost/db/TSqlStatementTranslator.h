// The translation of one T-SQL statement (or an IF condition) into SQLite statements. Without a
// catalogue it only checks the statement's form, as the batch parser does for every statement
// before any of them runs; with one it also consults the tables as they stand.
//
// The work is spread by stage: expressions and SELECT (TSqlExpressions.cpp), functions
// (TSqlFunctions.cpp), schema statements (TSqlSchemaStatements.cpp), and the token navigation
// and dispatch that they share (TSqlStatementTranslator.cpp).
#pragma once

#include "TSqlSchema.h"
#include "TSqlText.h"
#include "clsSysUtils.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace refhost::tsql {

class TFunctionCall;

class TStatementTranslator {
public:
    // catalog may be null: then only the form is checked. tokens and source must outlive this.
    TStatementTranslator(const TTokens& tokens, const std::string& source, const ISqlCatalog* catalog);

    // Throws ESqlTranslateError naming the statement.
    [[noreturn]] void Fail(const std::string& reason) const {
        throw ESqlTranslateError(reason + " in statement: " + ShowNul(FSource));
    }

    // The SQLite statements of a plain statement of that kind.
    TSqliteStatements Statement(TSqlStatementKind kind);
    // A SELECT answering 1 when the tokens, read as a condition, hold; else 0.
    std::string Condition() { return "SELECT CASE WHEN " + Emit(0, FTokens.size()) + " THEN 1 ELSE 0 END"; }

private:
    friend class TFunctionCall;
    using TRanges = std::vector<std::pair<std::size_t, std::size_t>>;
    enum class TOperand { Text, Number, Unknown };

    const TTokens& FTokens;
    const std::string& FSource;
    const ISqlCatalog* FCatalog;                                   // null: only check the form
    std::map<std::string, std::string, pallux::TTextLess> FTables; // alias or name -> table name

    bool Word(std::size_t i, std::string_view w) const { return i < FTokens.size() && FTokens[i].Is(w); }
    bool Sym(std::size_t i, std::string_view s) const { return i < FTokens.size() && FTokens[i].IsSymbol(s); }
    bool IsName(std::size_t i) const {
        return i < FTokens.size() && (FTokens[i].Kind == TKind::Ident ||
                                      (FTokens[i].Kind == TKind::Word && !IsReservedWord(FTokens[i])));
    }

    // Token navigation (TSqlStatementTranslator.cpp).
    std::size_t Match(std::size_t open, std::size_t end) const; // the ')' closing the '(' at open
    TRanges Split(std::size_t b, std::size_t e) const;          // the comma-separated parts
    std::string ObjectName(std::size_t& i) const;               // [dbo.]name at i: the name; i moves past it
    void CollectTables();
    std::optional<TSqlColumnInfo> FindColumn(const TSqlTableInfo& t, const std::string& column) const;
    // The type of a plain column reference ([qualifier .] column), when the catalogue knows it.
    std::optional<TSqlType> ColumnType(std::size_t b, std::size_t e) const;
    TOperand Operand(std::size_t b, std::size_t e) const;
    // The simple operand (literal, column, alias.column) before or after the operator at i.
    TOperand OperandBefore(std::size_t i, std::size_t b) const;
    TOperand OperandAfter(std::size_t i, std::size_t e) const;
    TSqlType ParseType(std::size_t& i, std::size_t e) const;

    // Expressions (TSqlExpressions.cpp) and functions (TSqlFunctions.cpp).
    std::string Emit(std::size_t b, std::size_t e);
    // The pieces of Emit: each writes the token at i (and what belongs to it) to out and answers
    // the position after it. An operator or parenthesis; b and e bound the expression.
    std::size_t EmitSymbol(std::size_t i, std::size_t b, std::size_t e, std::string& out);
    // A word or a bracketed name: schema objects, variables, SELECT (which takes the rest up to e),
    // table hints, function calls.
    std::size_t EmitName(std::size_t i, std::size_t e, std::string& out);
    // dbo.name (dbo. dropped), INFORMATION_SCHEMA.view and sys.indexes; nothing for other names.
    std::optional<std::size_t> EmitSchemaObject(std::size_t i, std::size_t e, std::string& out);
    // @@IDENTITY and @@ROWCOUNT as SQLite reads them; other variables and temporary tables fail.
    std::string Variable(const TSqlToken& t) const;
    // WITH ( hints ) after a table at i: checked and dropped.
    std::size_t SkipTableHints(std::size_t i, std::size_t e) const;
    // Fails for the word u at i when it starts what the translation does not support.
    void RefuseUnsupported(std::size_t i, std::size_t e, const std::string& u) const;
    std::string EmitSelect(std::size_t b, std::size_t e);
    // Where the select list starting at b ends: the first clause keyword outside parentheses.
    std::size_t SelectListEnd(std::size_t b, std::size_t e) const;
    std::string EmitFunction(std::size_t i, std::size_t close);
    std::string CastTo(const std::string& expr, std::size_t b, std::size_t e);

    // Schema statements (TSqlSchemaStatements.cpp).
    std::string DefaultExpr(std::size_t& i, std::size_t e);
    TColumnDef ColumnDef(std::size_t b, std::size_t e, TTableDef& table);
    TSqliteStatements CreateTable();
    // The column list of PRIMARY KEY [[NON]CLUSTERED] ( ... ) from k, a table constraint ending at e.
    void PrimaryKeyConstraint(std::size_t k, std::size_t e, TTableDef& table);
    // Checks the table's IDENTITY column (at most one, and the primary key, which it becomes when
    // none is given) and that the key's columns exist; answers the IDENTITY column or null.
    const TColumnDef* CheckKeys(TTableDef& table) const;
    TSqliteStatements CreateIndex();
    TSqliteStatements AlterTable();
    // The table an ALTER TABLE changes: as it stands (none without a catalogue), as it will be,
    // and the columns whose values carry over when it is rebuilt.
    struct TAlteration {
        std::string Name;
        std::optional<TSqlTableInfo> Info;
        TTableDef Old, New;
        std::vector<std::string> Copied;
    };
    // The three forms of ALTER TABLE; i is where the form's column list or column starts.
    TSqliteStatements AddColumns(std::size_t i, TAlteration& t);
    TSqliteStatements AlterColumn(std::size_t i, TAlteration& t);
    TSqliteStatements DropColumns(std::size_t i, TAlteration& t);
    TSqliteStatements DropTable();
    TSqliteStatements Truncate();
};

} // namespace refhost::tsql
