// Runs T-SQL batches on a SQLite engine through the translator.
#pragma once

#include "TDatabase.h"
#include "TSqlTranslator.h"

#include <cstdint>
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
};

// Parses a batch, then runs it step by step inside one transaction: IF conditions are queried
// and decide the branch, each statement is translated against the catalogue as it stands when
// the statement's turn comes. A failure rolls the whole batch back.
class TSqlRunner : private ISqlCatalog {
public:
    explicit TSqlRunner(ISqliteExecutor& executor) : FExec(executor) {}
    TDbBatchResult Run(const std::string& batch);
    // The SQLite statements a batch of plain statements becomes (no IF, BEGIN or EXEC).
    std::vector<std::string> Translate(const std::string& batch) const;

private:
    std::optional<TSqlTableInfo> FindTable(const std::string& name) const override;
    void RunSteps(const std::vector<TSqlStep>& steps, TDbBatchResult& result);
    std::optional<TDbResultSet> Exec(const std::string& sql, std::int64_t& changes) const;

    ISqliteExecutor& FExec;
};

} // namespace refhost
