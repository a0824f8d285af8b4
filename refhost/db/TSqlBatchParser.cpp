// The batch parser: splits a T-SQL batch into steps (statements, IF with its branches,
// BEGIN ... END and EXEC blocks) and checks the form of every statement before any runs.
#include "TSqlStatementTranslator.h"

#include <algorithm>

namespace refhost::tsql {

namespace {

class TBatchParser {
public:
    explicit TBatchParser(const std::string& source) : FSource(source), FTokens(TokenizeTSql(source)) {}

    std::vector<TSqlStep> Run() {
        std::size_t i = 0;
        auto steps = Steps(i, false);
        return steps;
    }

private:
    const std::string& FSource;
    TTokens FTokens;

    [[noreturn]] void Fail(const std::string& reason, std::size_t b, std::size_t e) const {
        throw ESqlTranslateError(reason + " in statement: " + ShowNul(Text(b, e)));
    }

    std::string Text(std::size_t b, std::size_t e) const {
        e = std::min(e, FTokens.size());
        if (b >= FTokens.size() || e <= b)
            return std::string();
        return FSource.substr(FTokens[b].Pos, FTokens[e - 1].End - FTokens[b].Pos);
    }

    bool IsGo(std::size_t i) const { return FTokens[i].Is("GO") && FTokens[i].LineStart; }

    std::vector<TSqlStep> Steps(std::size_t& i, bool inBlock) {
        std::vector<TSqlStep> steps;
        while (i < FTokens.size()) {
            if (FTokens[i].IsSymbol(";") || IsGo(i)) {
                ++i;
                continue;
            }
            if (inBlock && FTokens[i].Is("END"))
                return steps;
            steps.push_back(Step(i));
        }
        if (inBlock)
            throw ESqlTranslateError("BEGIN without END");
        return steps;
    }

    std::optional<TSqlStatementKind> Classify(std::size_t i) const {
        const std::string w = pallux::UpperCase(FTokens[i].Text);
        const auto next = [&](std::string_view word) {
            return i + 1 < FTokens.size() && FTokens[i + 1].Is(word);
        };
        if (FTokens[i].Kind != TKind::Word)
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
            if (k < FTokens.size() && FTokens[k].Is("UNIQUE"))
                ++k;
            if (k < FTokens.size() && (FTokens[k].Is("CLUSTERED") || FTokens[k].Is("NONCLUSTERED")))
                ++k;
            if (k < FTokens.size() && FTokens[k].Is("INDEX"))
                return TSqlStatementKind::CreateIndex;
        }
        if (w == "ALTER" && next("TABLE"))
            return TSqlStatementKind::AlterTable;
        if (w == "DROP" && next("TABLE"))
            return TSqlStatementKind::DropTable;
        if (w == "TRUNCATE" && next("TABLE"))
            return TSqlStatementKind::Truncate;
        if (w == "SET" && i + 2 < FTokens.size() && (FTokens[i + 2].Is("ON") || FTokens[i + 2].Is("OFF")) &&
            (next("NOCOUNT") || next("ANSI_NULLS") || next("QUOTED_IDENTIFIER") || next("ANSI_WARNINGS") ||
             next("ANSI_PADDING") || next("ARITHABORT")))
            return TSqlStatementKind::NoOp;
        if (w == "WITH") {
            // a common table expression before the statement it serves
            int depth = 0;
            for (std::size_t k = i + 1; k < FTokens.size(); ++k) {
                if (FTokens[k].IsSymbol("("))
                    ++depth;
                else if (FTokens[k].IsSymbol(")"))
                    --depth;
                else if (depth == 0 && FTokens[k].Is("SELECT"))
                    return TSqlStatementKind::Select;
                else if (depth == 0 && FTokens[k].Is("INSERT"))
                    return TSqlStatementKind::Insert;
                else if (depth == 0 && FTokens[k].Is("UPDATE"))
                    return TSqlStatementKind::Update;
                else if (depth == 0 && FTokens[k].Is("DELETE"))
                    return TSqlStatementKind::Delete;
            }
        }
        return std::nullopt;
    }

    // What the scan for a statement's end has seen of it so far.
    struct TStatementScan {
        std::optional<TSqlStatementKind> Kind;
        bool With = false; // the statement starts with WITH
        int Cases = 0;     // CASE expressions open
        bool SawSet = false;
        bool SawRows = false; // INSERT: VALUES or SELECT seen
        bool SawMain = false; // WITH: the statement after the expressions seen
    };

    // The end (exclusive) of the plain statement that starts at i.
    std::size_t StatementEnd(std::size_t i, std::optional<TSqlStatementKind> kind) const {
        int depth = 0;
        TStatementScan scan{kind, FTokens[i].Is("WITH")};
        for (std::size_t j = i + 1; j < FTokens.size(); ++j) {
            const TSqlToken& t = FTokens[j];
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
            if (t.Kind == TKind::Word && EndsStatement(j, scan))
                return j;
        }
        return FTokens.size();
    }

    // Whether the word at j, outside parentheses, is past the end of the statement scanned.
    bool EndsStatement(std::size_t j, TStatementScan& scan) const {
        const TSqlToken& t = FTokens[j];
        const std::string w = pallux::UpperCase(t.Text);
        if (w == "GO" && t.LineStart)
            return true;
        if (w == "CASE") {
            ++scan.Cases;
            return false;
        }
        if (w == "END") {
            if (scan.Cases > 0) {
                --scan.Cases;
                return false;
            }
            return true;
        }
        if (w == "ELSE")
            return scan.Cases == 0;
        if (w == "VALUES" && scan.Kind == TSqlStatementKind::Insert)
            scan.SawRows = true;
        return IsStatementStart(w) && !PartOfStatement(j, w, scan);
    }

    // Whether the statement-starting word w at j still belongs to the statement scanned: a SELECT
    // of a compound or of INSERT's rows, the statement after WITH's expressions, UPDATE's SET, the
    // referential actions of a key, ALTER TABLE's column forms, DROP TABLE IF EXISTS.
    bool PartOfStatement(std::size_t j, const std::string& w, TStatementScan& scan) const {
        const TSqlToken& prev = FTokens[j - 1];
        const bool nextIs =
            j + 1 < FTokens.size() && (FTokens[j + 1].Is("COLUMN") || FTokens[j + 1].Is("CONSTRAINT"));
        if (w == "SELECT" &&
            (prev.Is("UNION") || prev.Is("ALL") || prev.Is("EXCEPT") || prev.Is("INTERSECT")))
            return true;
        if (scan.With && !scan.SawMain &&
            (w == "SELECT" || w == "INSERT" || w == "UPDATE" || w == "DELETE")) {
            scan.SawMain = true;
            return true;
        }
        if (w == "SELECT" && scan.Kind == TSqlStatementKind::Insert && !scan.SawRows) {
            scan.SawRows = true;
            return true;
        }
        if ((w == "UPDATE" || w == "DELETE") && prev.Is("ON"))
            return true;
        if (w == "SET" && scan.Kind == TSqlStatementKind::Update && !scan.SawSet) {
            scan.SawSet = true;
            return true;
        }
        if ((w == "ALTER" || w == "DROP") && nextIs && scan.Kind == TSqlStatementKind::AlterTable)
            return true;
        return w == "IF" && prev.Is("TABLE");
    }

    static std::vector<TSqlToken> Slice(const TTokens& t, std::size_t b, std::size_t e) {
        return std::vector<TSqlToken>(t.begin() + static_cast<std::ptrdiff_t>(b),
                                      t.begin() + static_cast<std::ptrdiff_t>(e));
    }

    // The step that starts at i, by its first word; i moves past it.
    TSqlStep Step(std::size_t& i) {
        const TSqlToken& t = FTokens[i];
        if (t.Is("IF"))
            return IfStep(i);
        if (t.Is("BEGIN"))
            return BlockStep(i);
        if (t.Is("EXEC") || t.Is("EXECUTE"))
            return ExecStep(i);
        if (t.Is("ELSE") || t.Is("END"))
            Fail(t.Text + " without IF or BEGIN", i, i + 1);
        const auto kind = Classify(i);
        const std::size_t end = StatementEnd(i, kind);
        if (!kind)
            Fail("statement " + t.Text + " is not supported", i, end);
        TSqlStep step;
        step.Kind = TSqlStepKind::Statement;
        step.Statement = *kind;
        step.Tokens = Slice(FTokens, i, end);
        step.Source = Text(i, end);
        i = end;
        TStatementTranslator(step.Tokens, step.Source, nullptr).Statement(step.Statement);
        return step;
    }

    // IF condition statement [ELSE statement].
    TSqlStep IfStep(std::size_t& i) {
        const std::size_t start = i;
        std::size_t j = i + 1;
        for (int depth = 0; j < FTokens.size(); ++j) {
            if (FTokens[j].IsSymbol("("))
                ++depth;
            else if (FTokens[j].IsSymbol(")"))
                --depth;
            else if (depth == 0 && FTokens[j].Kind == TKind::Word && IsStatementStart(FTokens[j].Text))
                break;
            else if (depth == 0 && FTokens[j].IsSymbol(";"))
                Fail("IF without a statement", start, j);
        }
        if (j == i + 1)
            Fail("IF without a condition", start, j + 1);
        if (j >= FTokens.size())
            Fail("IF without a statement", start, j);
        TSqlStep step;
        step.Kind = TSqlStepKind::If;
        step.Tokens = Slice(FTokens, i + 1, j);
        i = j;
        step.Then.push_back(Step(i));
        std::size_t k = i;
        while (k < FTokens.size() && FTokens[k].IsSymbol(";"))
            ++k;
        if (k < FTokens.size() && FTokens[k].Is("ELSE")) {
            i = k + 1;
            if (i >= FTokens.size())
                Fail("ELSE without a statement", start, i);
            step.Else.push_back(Step(i));
        }
        step.Source = Text(start, i);
        // the condition's form is checked now, like every statement's
        TStatementTranslator(step.Tokens, step.Source, nullptr).Condition();
        return step;
    }

    // BEGIN statements END.
    TSqlStep BlockStep(std::size_t& i) {
        const std::size_t start = i;
        if (i + 1 < FTokens.size() &&
            (FTokens[i + 1].Is("TRAN") || FTokens[i + 1].Is("TRANSACTION") ||
             FTokens[i + 1].Is("DISTRIBUTED") || FTokens[i + 1].Is("TRY") || FTokens[i + 1].Is("CATCH")))
            Fail("BEGIN " + FTokens[i + 1].Text + " is not supported (a batch runs as one transaction)", i,
                 i + 2);
        ++i;
        TSqlStep step;
        step.Kind = TSqlStepKind::Block;
        step.Then = Steps(i, true);
        if (i >= FTokens.size())
            Fail("BEGIN without END", start, i);
        ++i; // END
        step.Source = Text(start, i);
        return step;
    }

    // EXEC ('text' [+ 'text' ...]) or EXEC sp_executesql 'text': the text's statements as a block.
    TSqlStep ExecStep(std::size_t& i) {
        const std::size_t start = i;
        ++i;
        std::string text;
        if (i < FTokens.size() && FTokens[i].IsSymbol("(")) {
            text = ExecText(start, i);
        } else if (i < FTokens.size() && FTokens[i].Is("sp_executesql") && i + 1 < FTokens.size() &&
                   FTokens[i + 1].Kind == TKind::String) {
            text = FTokens[i + 1].Text;
            i += 2;
            if (i < FTokens.size() && FTokens[i].IsSymbol(","))
                Fail("sp_executesql with parameters is not supported", start, i + 1);
        } else {
            Fail("EXEC of a stored procedure is not supported", start, std::min(i + 1, FTokens.size()));
        }
        TSqlStep step;
        step.Kind = TSqlStepKind::Block;
        step.Source = Text(start, i);
        step.Then = TSqlTranslator::Parse(text);
        return step;
    }

    // The texts joined with + between the parentheses at i, of the EXEC at start; i moves past them.
    std::string ExecText(std::size_t start, std::size_t& i) const {
        ++i;
        std::string text;
        bool expectString = true;
        while (i < FTokens.size() && !FTokens[i].IsSymbol(")")) {
            if (expectString && FTokens[i].Kind == TKind::String)
                text += FTokens[i].Text;
            else if (expectString || !FTokens[i].IsSymbol("+"))
                Fail("EXEC needs literal texts", start, i + 1);
            expectString = !expectString;
            ++i;
        }
        if (i >= FTokens.size() || expectString)
            Fail("bad EXEC text", start, std::min(i + 1, FTokens.size()));
        ++i;
        return text;
    }
};

} // namespace

} // namespace refhost::tsql

namespace refhost {

std::vector<TSqlStep> TSqlTranslator::Parse(const std::string& batch) {
    return tsql::TBatchParser(batch).Run();
}

} // namespace refhost
