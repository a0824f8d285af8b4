// Runs T-SQL batches on a SQLite engine through the translator.
#pragma once

#include "TDatabase.h"
#include "TLruCache.h"
#include "TSqlTranslator.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace refhost {

// Runs single SQLite statements for the runner; the SQLite library and the SQLite ODBC driver
// each provide one.
class ISqliteExecutor {
public:
    virtual ~ISqliteExecutor() = default;
    // Runs one statement. Answers its result set when the statement has result columns (also
    // when no row came back); changes receives the number of rows the statement changed.
    // Throws EDatabaseError with the database's message.
    virtual std::optional<TDbResultSet> ExecuteStatement(const std::string& sql, std::int64_t& changes) = 0;
    // Called before each batch: SCOPE_IDENTITY() of a batch without an insert is NULL.
    virtual void BeginBatch() {}
    // The database's schema version (it changes with every change of a table or an index, by
    // any connection), read inside the batch's transaction; none when the executor cannot tell:
    // then nothing learnt of the tables is kept from one batch to the next.
    virtual std::optional<std::int64_t> SchemaVersion() { return std::nullopt; }
};

// How the runner keeps what it worked out: parsed batches by their text, translated statements
// by their text, and the tables' columns, the last two for one schema version only.
struct TSqlCacheSettings {
    bool Enabled = true;
    std::size_t Prepared = 128;    // prepared SQLite statements kept (by their text, literals as parameters)
    std::size_t Batches = 256;     // parsed batches kept
    std::size_t Statements = 1024; // translated statements and conditions kept
    // Each statement translated both from the caches and afresh, one line per statement appended
    // to this file: "same" or "DIFFERS" with the two translations. For tests; empty: no check.
    std::filesystem::path CheckFile;

    // ZUMVO_SQL_CACHE=off switches the caches off; ZUMVO_SQL_CACHE_CHECK=FILE sets CheckFile.
    static TSqlCacheSettings FromEnvironment();
};

// What the caches did, for tests and measurements.
struct TSqlCacheCounts {
    std::int64_t BatchesParsed = 0;        // batches parsed (not found in the cache)
    std::int64_t StatementsTranslated = 0; // statements and conditions translated afresh
    std::int64_t StatementsReused = 0;     // translations found in the cache
    std::int64_t TableLookups = 0;         // tables read from the database's catalogue
    std::int64_t StatementsPrepared = 0;   // SQLite statements prepared (the connection's count)
    std::int64_t PreparedReused = 0;       // SQLite statements run again from their prepared form
};

// Parses a batch, then runs it step by step inside one transaction: IF conditions are queried
// and decide the branch, each statement is translated against the catalogue as it stands when
// the statement's turn comes. A failure rolls the whole batch back.
//
// Translating a statement costs more than SQLite running it (the catalogue is read for the
// types of its columns), and a till sends the same texts again and again: the runner keeps
// parsed batches, translated statements and the tables' columns (see TSqlCacheSettings). A
// translation depends on the tables as they stand, so the translations and the tables are
// forgotten when the schema version changes (checked at the start of every batch), after a
// statement that changes a table or an index, and after a batch that failed.
class TSqlRunner : private ISqlCatalog {
public:
    explicit TSqlRunner(ISqliteExecutor& executor,
                        TSqlCacheSettings cache = TSqlCacheSettings::FromEnvironment());
    TDbBatchResult Run(const std::string& batch);
    // The SQLite statements a batch of plain statements becomes (no IF, BEGIN or EXEC).
    std::vector<std::string> Translate(const std::string& batch) const;

    const TSqlCacheCounts& CacheCounts() const { return FCounts; }

private:
    std::optional<TSqlTableInfo> FindTable(const std::string& name) const override;
    std::optional<TSqlTableInfo> ReadTable(const std::string& name) const;
    void RunSteps(const std::vector<TSqlStep>& steps, TDbBatchResult& result);
    std::optional<TDbResultSet> Exec(const std::string& sql, std::int64_t& changes) const;
    std::shared_ptr<const std::vector<TSqlStep>> Parsed(const std::string& batch);
    TSqliteStatements Translated(const TSqlStep& step);
    std::string TranslatedCondition(const TSqlStep& step);
    // Forgets the translations and the tables (not the parsed batches: parsing reads no table).
    void Forget();
    void CheckAgainstFresh(const TSqlStep& step, const std::vector<std::string>& cached,
                           const std::vector<std::string>& fresh);

    ISqliteExecutor& FExec;
    TSqlCacheSettings FSettings;
    TLruCache<std::shared_ptr<const std::vector<TSqlStep>>> FBatches;
    TLruCache<TSqliteStatements> FStatements; // key: 'S' or 'C' (condition), then the text
    // Table name in upper case -> the table, or none when there is no such table.
    mutable std::map<std::string, std::optional<TSqlTableInfo>> FTables;
    mutable bool FBypass = false; // FindTable reads the catalogue afresh (the check's translation)
    std::optional<std::int64_t> FSchemaVersion; // of what FTables and FStatements hold
    mutable TSqlCacheCounts FCounts;
};

} // namespace refhost
