// A database reached through ODBC: SQL Server through FreeTDS in production, where T-SQL is
// passed untouched; or, with translation on, the SQLite ODBC driver running the translated
// statements.
#pragma once

#include "TDatabase.h"
#include "TSqlRunner.h"

#include <string>

namespace refhost {

class TOdbcDatabase : public TDatabase, private ISqliteExecutor {
public:
    TOdbcDatabase(const std::string& connectionString, bool translate);
    ~TOdbcDatabase() override;

    std::string Description() const override;

protected:
    TDbBatchResult DoRunBatch(const std::string& batch) override;

private:
    std::optional<TDbResultSet> ExecuteStatement(const std::string& sql, std::int64_t& changes) override;
    TDbBatchResult RunUntranslated(const std::string& batch);
    void SetAutoCommit(bool on);

    std::string FConnection;
    bool FTranslate;
    void* FEnv = nullptr; // SQLHENV
    void* FDbc = nullptr; // SQLHDBC
    TSqlRunner FRunner{*this};
};

} // namespace refhost
