#include "TSqlRunner.h"

#include "TSqlText.h"
#include "clsSysUtils.h"

namespace refhost {

std::optional<TDbResultSet> TSqlRunner::Exec(const std::string& sql, std::int64_t& changes) const {
    return FExec.ExecuteStatement(sql, changes);
}

TDbBatchResult TSqlRunner::Run(const std::string& batch) {
    std::vector<TSqlStep> steps;
    try {
        steps = TSqlTranslator::Parse(batch);
    } catch (const ESqlTranslateError& e) {
        throw EDatabaseError(e.what());
    }
    TDbBatchResult result;
    if (steps.empty())
        return result;
    std::int64_t ignored = 0;
    FExec.BeginBatch();
    // IMMEDIATE: take the write lock up front, so that two programs sharing the file wait for
    // each other instead of failing half-way.
    Exec("BEGIN IMMEDIATE", ignored);
    try {
        RunSteps(steps, result);
        Exec("COMMIT", ignored);
    } catch (...) {
        try {
            Exec("ROLLBACK", ignored);
        } catch (const EDatabaseError&) {
            // SQLite has already rolled back after some errors
        }
        throw;
    }
    return result;
}

void TSqlRunner::RunSteps(const std::vector<TSqlStep>& steps, TDbBatchResult& result) {
    for (const TSqlStep& step : steps) {
        try {
            switch (step.Kind) {
            case TSqlStepKind::Block:
                RunSteps(step.Then, result);
                break;
            case TSqlStepKind::If: {
                std::int64_t changes = 0;
                std::optional<TDbResultSet> rs;
                try {
                    rs = Exec(TSqlTranslator::TranslateCondition(step, *this), changes);
                } catch (const EDatabaseError& e) {
                    throw EDatabaseError(std::string(e.what()) +
                                         " in statement: " + tsql::ShowNul(step.Source));
                }
                const bool holds =
                    rs && !rs->Rows.empty() && !rs->Rows[0].empty() && rs->Rows[0][0].AsText() == "1";
                RunSteps(holds ? step.Then : step.Else, result);
                break;
            }
            case TSqlStepKind::Statement: {
                const TSqliteStatements sqlite = TSqlTranslator::Translate(step, *this);
                for (std::size_t k = 0; k < sqlite.Statements.size(); ++k) {
                    std::int64_t changes = 0;
                    auto rs = Exec(sqlite.Statements[k], changes);
                    if (!sqlite.Main || *sqlite.Main != k)
                        continue;
                    switch (step.Statement) {
                    case TSqlStatementKind::Select:
                        if (rs)
                            result.ResultSets.push_back(std::move(*rs));
                        break;
                    case TSqlStatementKind::Insert:
                    case TSqlStatementKind::Update:
                    case TSqlStatementKind::Delete:
                        result.RowsAffected = changes;
                        break;
                    default:
                        break;
                    }
                }
                break;
            }
            }
        } catch (const ESqlTranslateError& e) {
            throw EDatabaseError(e.what());
        } catch (const EDatabaseError& e) {
            if (step.Kind != TSqlStepKind::Statement)
                throw; // the inner statement already named itself
            throw EDatabaseError(std::string(e.what()) + " in statement: " + tsql::ShowNul(step.Source));
        }
    }
}

std::optional<TSqlTableInfo> TSqlRunner::FindTable(const std::string& name) const {
    std::int64_t changes = 0;
    const auto tables = Exec("SELECT name, sql FROM sqlite_master WHERE type = 'table' AND name = " +
                                 pallux::QuotedStr(name) + " COLLATE NOCASE",
                             changes);
    if (!tables || tables->Rows.empty())
        return std::nullopt;
    TSqlTableInfo info;
    info.Name = tables->Rows[0][0].AsText();
    info.AutoIncrement =
        pallux::UpperCase(tables->Rows[0][1].AsText()).find("AUTOINCREMENT") != std::string::npos;
    const auto columns = Exec("SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(" +
                                  pallux::QuotedStr(info.Name) + ") ORDER BY cid",
                              changes);
    if (!columns)
        return info;
    for (const auto& row : columns->Rows) {
        TSqlColumnInfo c;
        c.Name = row[0].AsText();
        c.DeclType = row[1].AsText();
        c.NotNull = row[2].AsText() == "1";
        if (row[3].Kind != TDbValue::TKind::Null)
            c.Default = row[3].AsText();
        c.PrimaryKeyIndex = std::stoi("0" + row[4].AsText());
        info.Columns.push_back(std::move(c));
    }
    return info;
}

std::vector<std::string> TSqlRunner::Translate(const std::string& batch) const {
    return TSqlTranslator::TranslateBatch(batch, *this);
}

} // namespace refhost
