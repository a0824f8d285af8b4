// The translator's entry points: statements and conditions of a parsed batch, and whole batches
// of plain statements against a fixed catalogue.
#include "TSqlTranslator.h"

#include "TSqlStatementTranslator.h"

namespace refhost {

TSqliteStatements TSqlTranslator::Translate(const TSqlStep& step, const ISqlCatalog& catalog) {
    if (step.Kind != TSqlStepKind::Statement)
        throw ESqlTranslateError("not a plain statement: " + step.Source);
    return tsql::TStatementTranslator(step.Tokens, step.Source, &catalog).Statement(step.Statement);
}

std::string TSqlTranslator::TranslateCondition(const TSqlStep& step, const ISqlCatalog& catalog) {
    if (step.Kind != TSqlStepKind::If)
        throw ESqlTranslateError("not an IF: " + step.Source);
    return tsql::TStatementTranslator(step.Tokens, step.Source, &catalog).Condition();
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

} // namespace refhost
