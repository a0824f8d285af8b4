// The embedded database: a SQLite file, running the host's and the module's T-SQL through the
// translator.
#pragma once

#include "TDatabase.h"
#include "TLruCache.h"
#include "TSqlRunner.h"
#include "TSqliteParameters.h"

#include <functional>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace refhost {

class TSqliteDatabase : public TDatabase, private ISqliteExecutor {
public:
    // Opens (creates when missing) the database file; ":memory:" gives a private in-memory one.
    // cache: how the translation keeps what it worked out (by default as the environment says).
    explicit TSqliteDatabase(const std::string& path,
                             TSqlCacheSettings cache = TSqlCacheSettings::FromEnvironment());
    ~TSqliteDatabase() override;

    std::string Description() const override { return "SQLite " + FPath; }

    // Runs one statement of SQLite's own dialect, as written (no translation, no batch
    // transaction): for maintenance. Throws EDatabaseError when SQLite refuses it, or when text
    // other than blanks, semicolons and comments follows it (SQLite would leave that unrun).
    std::optional<TDbResultSet> RunSqlite(const std::string& sql) {
        std::lock_guard lock(FLock);
        std::int64_t changes = 0;
        return ExecuteStatement(sql, changes);
    }

    // The query planner's account of a T-SQL query as this database runs it: the details of
    // EXPLAIN QUERY PLAN for its last statement, one per line.
    std::string QueryPlan(const std::string& query);

    // What the translation's caches did so far.
    TSqlCacheCounts CacheCounts() {
        std::lock_guard lock(FLock);
        TSqlCacheCounts counts = FRunner.CacheCounts();
        counts.StatementsPrepared = FPreparedCount;
        counts.PreparedReused = FPreparedReused;
        return counts;
    }

    // Called with each SQLite statement before it runs (translated batches, maintenance
    // statements and the batches' own BEGIN and COMMIT alike); empty: nobody watches.
    void WatchStatements(std::function<void(const std::string&)> watcher) {
        std::lock_guard lock(FLock);
        FWatcher = std::move(watcher);
    }

protected:
    TDbBatchResult DoRunBatch(const std::string& batch) override { return FRunner.Run(batch); }

private:
    std::optional<TDbResultSet> ExecuteStatement(const std::string& sql, std::int64_t& changes) override;
    void BeginBatch() override;
    std::optional<std::int64_t> SchemaVersion() override;
    // The prepared statement for sql, its parameters bound: a kept one, or one prepared now (and
    // kept when it may be). Throws EDatabaseError as preparing sql would.
    std::shared_ptr<sqlite3_stmt> Prepare(const std::string& sql);
    // Binds the values to the statement's parameters; false when one cannot be bound.
    bool Bind(sqlite3_stmt* stmt, const std::vector<TSqliteValue>& values);
    std::shared_ptr<sqlite3_stmt> PrepareText(const std::string& text, const char** tail, int& rc);

    std::string FPath;
    sqlite3* FDb = nullptr;
    sqlite3_stmt* FSchemaVersion = nullptr; // PRAGMA schema_version, prepared once
    sqlite3_stmt* FRealOf = nullptr;        // SELECT CAST(?1 AS REAL): a floating literal's value
    // Prepared statements by their text with the literals as parameters; an empty pointer marks a
    // text whose parameterized form may not stand for it (it is prepared as written each time).
    TLruCache<std::shared_ptr<sqlite3_stmt>> FPrepared;
    bool FPrepareCache = true;
    std::int64_t FPreparedCount = 0;
    std::int64_t FPreparedReused = 0;
    TSqlRunner FRunner;
    std::function<void(const std::string&)> FWatcher;
};

} // namespace refhost
