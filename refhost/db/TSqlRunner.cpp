#include "TSqlRunner.h"

#include "TSqlText.h"
#include "clsSysUtils.h"

#include <cstdlib>
#include <fstream>

namespace refhost {

TSqlCacheSettings TSqlCacheSettings::FromEnvironment() {
    TSqlCacheSettings s;
    if (const char* v = std::getenv("ZUMVO_SQL_CACHE"))
        s.Enabled = !(pallux::SameText(v, "off") || pallux::SameText(v, "0") || pallux::SameText(v, "no"));
    if (const char* v = std::getenv("ZUMVO_SQL_CACHE_CHECK"))
        s.CheckFile = v;
    return s;
}

TSqlRunner::TSqlRunner(ISqliteExecutor& executor, TSqlCacheSettings cache)
    : FExec(executor), FSettings(std::move(cache)), FBatches(FSettings.Batches),
      FStatements(FSettings.Statements) {}

void TSqlRunner::Forget() {
    FStatements.Clear();
    FTables.clear();
    FSchemaVersion.reset();
}

std::shared_ptr<const std::vector<TSqlStep>> TSqlRunner::Parsed(const std::string& batch) {
    if (FSettings.Enabled)
        if (const auto* kept = FBatches.Find(batch))
            return *kept;
    std::shared_ptr<const std::vector<TSqlStep>> steps;
    try {
        steps = std::make_shared<const std::vector<TSqlStep>>(TSqlTranslator::Parse(batch));
    } catch (const ESqlTranslateError& e) {
        throw EDatabaseError(e.what());
    }
    ++FCounts.BatchesParsed;
    if (FSettings.Enabled)
        FBatches.Put(batch, steps);
    return steps;
}

TSqliteStatements TSqlRunner::Translated(const TSqlStep& step) {
    const std::string key = "S" + step.Source;
    if (FSettings.Enabled) {
        if (const auto* kept = FStatements.Find(key)) {
            ++FCounts.StatementsReused;
            TSqliteStatements r = *kept;
            if (!FSettings.CheckFile.empty())
                CheckAgainstFresh(step, r.Statements, [&] {
                    FBypass = true;
                    auto fresh = TSqlTranslator::Translate(step, *this);
                    FBypass = false;
                    return fresh.Statements;
                }());
            return r;
        }
    }
    ++FCounts.StatementsTranslated;
    TSqliteStatements r = TSqlTranslator::Translate(step, *this);
    if (FSettings.Enabled && !FSettings.CheckFile.empty()) {
        // made from the cached tables: compared with a translation that reads them afresh
        FBypass = true;
        const auto fresh = TSqlTranslator::Translate(step, *this);
        FBypass = false;
        CheckAgainstFresh(step, r.Statements, fresh.Statements);
    }
    if (FSettings.Enabled)
        FStatements.Put(key, r);
    return r;
}

std::string TSqlRunner::TranslatedCondition(const TSqlStep& step) {
    const std::string key = "C" + step.Source;
    if (FSettings.Enabled) {
        if (const auto* kept = FStatements.Find(key)) {
            ++FCounts.StatementsReused;
            std::string r = kept->Statements.front();
            if (!FSettings.CheckFile.empty()) {
                FBypass = true;
                const std::string fresh = TSqlTranslator::TranslateCondition(step, *this);
                FBypass = false;
                CheckAgainstFresh(step, {r}, {fresh});
            }
            return r;
        }
    }
    ++FCounts.StatementsTranslated;
    std::string r = TSqlTranslator::TranslateCondition(step, *this);
    if (FSettings.Enabled && !FSettings.CheckFile.empty()) {
        FBypass = true;
        const std::string fresh = TSqlTranslator::TranslateCondition(step, *this);
        FBypass = false;
        CheckAgainstFresh(step, {r}, {fresh});
    }
    if (FSettings.Enabled)
        FStatements.Put(key, TSqliteStatements{{r}, 0});
    return r;
}

void TSqlRunner::CheckAgainstFresh(const TSqlStep& step, const std::vector<std::string>& cached,
                                   const std::vector<std::string>& fresh) {
    std::ofstream out(FSettings.CheckFile, std::ios::app | std::ios::binary);
    if (cached == fresh) {
        out << "same\n";
        return;
    }
    const auto joined = [](const std::vector<std::string>& v) {
        std::string s;
        for (const auto& x : v)
            s += (s.empty() ? "" : " ; ") + x;
        return s;
    };
    out << "DIFFERS\t" << tsql::ShowNul(step.Source) << "\tcached: " << joined(cached)
        << "\tfresh: " << joined(fresh) << "\n";
}

std::optional<TDbResultSet> TSqlRunner::Exec(const std::string& sql, std::int64_t& changes) const {
    return FExec.ExecuteStatement(sql, changes);
}

TDbBatchResult TSqlRunner::Run(const std::string& batch) {
    const auto steps = Parsed(batch);
    TDbBatchResult result;
    if (steps->empty())
        return result;
    std::int64_t ignored = 0;
    FExec.BeginBatch();
    // IMMEDIATE: take the write lock up front, so that two programs sharing the file wait for
    // each other instead of failing half-way.
    Exec("BEGIN IMMEDIATE", ignored);
    try {
        // read under the write lock: no other program changes the tables until COMMIT
        const auto version = FSettings.Enabled ? FExec.SchemaVersion() : std::nullopt;
        if (!version || version != FSchemaVersion)
            Forget();
        FSchemaVersion = version;
        RunSteps(*steps, result);
        Exec("COMMIT", ignored);
    } catch (...) {
        // what was learnt inside the batch may describe tables that the rollback undid
        Forget();
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
                    rs = Exec(TranslatedCondition(step), changes);
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
                const TSqliteStatements sqlite = Translated(step);
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
                switch (step.Statement) {
                case TSqlStatementKind::CreateTable:
                case TSqlStatementKind::CreateIndex:
                case TSqlStatementKind::AlterTable:
                case TSqlStatementKind::DropTable:
                    Forget(); // the tables changed: the next statements see them as they are now
                    break;
                default:
                    break;
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
    if (!FSettings.Enabled || FBypass)
        return ReadTable(name);
    const std::string key = pallux::UpperCase(name);
    if (const auto it = FTables.find(key); it != FTables.end())
        return it->second;
    auto info = ReadTable(name);
    FTables.emplace(key, info);
    return info;
}

std::optional<TSqlTableInfo> TSqlRunner::ReadTable(const std::string& name) const {
    ++FCounts.TableLookups;
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
