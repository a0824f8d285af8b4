// Translation of the T-SQL that the module and the host write into statements SQLite runs.
//
// A batch is first parsed into steps: plain statements, IF conditions with their branches,
// and blocks (BEGIN ... END, or the text of an EXEC). Parsing checks the form of every
// statement of the batch, so a batch holding anything the translator does not understand
// fails before any of it runs. Each statement is then translated just before it runs, against
// the catalogue as it stands at that moment: earlier statements of the same batch may have
// created or changed the tables it refers to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace refhost {

// A statement that cannot be run faithfully on SQLite. The message names the statement.
class ESqlTranslateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One lexical token of T-SQL text.
struct TSqlToken {
    enum class TKind { Word, Ident, String, Number, Symbol };
    TKind Kind = TKind::Symbol;
    // Word: as written; Ident: the name inside [ ] or " "; String: the value with '' undone;
    // Number and Symbol: as written.
    std::string Text;
    std::size_t Pos = 0; // range of the token in the source text
    std::size_t End = 0;
    bool LineStart = false; // the first token on its line

    bool Is(std::string_view keyword) const; // a Word equal to keyword, ignoring case
    bool IsSymbol(std::string_view symbol) const { return Kind == TKind::Symbol && Text == symbol; }
};

// Splits T-SQL text into tokens; comments are dropped. Throws ESqlTranslateError for an
// unterminated string, bracketed name or comment.
std::vector<TSqlToken> TokenizeTSql(const std::string& text);

// A column as SQLite declares it (pragma table_info).
struct TSqlColumnInfo {
    std::string Name;
    std::string DeclType;
    bool NotNull = false;
    std::optional<std::string> Default; // SQLite expression text
    int PrimaryKeyIndex = 0;            // 1-based position in the primary key, 0 when not in it
};

struct TSqlTableInfo {
    std::string Name;
    std::vector<TSqlColumnInfo> Columns;
    bool AutoIncrement = false;
};

// The tables the translation may consult.
class ISqlCatalog {
public:
    virtual ~ISqlCatalog() = default;
    // The table of that name (names compare without regard to case), or nothing.
    virtual std::optional<TSqlTableInfo> FindTable(const std::string& name) const = 0;
};

enum class TSqlStepKind { Statement, If, Block };
enum class TSqlStatementKind {
    Select,
    Insert,
    Update,
    Delete,
    CreateTable,
    CreateIndex,
    AlterTable,
    DropTable,
    Truncate,
    NoOp
};

// One step of a parsed batch.
struct TSqlStep {
    TSqlStepKind Kind = TSqlStepKind::Statement;
    TSqlStatementKind Statement = TSqlStatementKind::NoOp; // Statement steps
    std::string Source;                                    // the T-SQL text of the step
    std::vector<TSqlToken> Tokens;                         // Statement: its tokens; If: the condition
    std::vector<TSqlStep> Then;                            // If: the true branch; Block: its steps
    std::vector<TSqlStep> Else;                            // If: the false branch (may be empty)
};

// The SQLite statements of one T-SQL statement. Main is the index of the statement whose
// result rows and changed-row count stand for the T-SQL statement; none for schema changes.
struct TSqliteStatements {
    std::vector<std::string> Statements;
    std::optional<std::size_t> Main;
};

class TSqlTranslator {
public:
    // Parses a batch (statements separated by ';', by line breaks or by GO lines) into steps,
    // checking the form of every statement, including those inside IF, BEGIN ... END and EXEC.
    static std::vector<TSqlStep> Parse(const std::string& batch);

    // The SQLite statements of a Statement step.
    static TSqliteStatements Translate(const TSqlStep& step, const ISqlCatalog& catalog);

    // A SELECT that answers one row with 1 when the condition of an If step holds, else 0.
    static std::string TranslateCondition(const TSqlStep& step, const ISqlCatalog& catalog);

    // Parses and translates a batch of plain statements in one go, against a fixed catalogue
    // (IF and EXEC are refused: they need a runner). Handy for tools and tests.
    static std::vector<std::string> TranslateBatch(const std::string& batch, const ISqlCatalog& catalog);
};

// The SQL Server view of a SQLite declared type, as INFORMATION_SCHEMA.COLUMNS reports it.
struct TSqlTypeInfo {
    std::string DataType;                               // "int", "varchar", "datetime", ...
    std::optional<std::int64_t> CharacterMaximumLength; // -1 for VARCHAR(MAX)
};
TSqlTypeInfo DescribeDeclType(const std::string& declType);

} // namespace refhost
