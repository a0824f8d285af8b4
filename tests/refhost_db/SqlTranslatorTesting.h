// The shared fixture of the T-SQL translator suites: a catalogue held in memory, and helpers
// that translate one statement, run translations on SQLite, and collect refusals.
#pragma once

#include "TSqlTranslator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

namespace sqltest {

using namespace refhost;

// A catalogue held in memory.
class TFakeCatalog : public ISqlCatalog {
public:
    std::map<std::string, TSqlTableInfo> Tables;
    std::optional<TSqlTableInfo> FindTable(const std::string& name) const override {
        for (const auto& [key, info] : Tables)
            if (strcasecmp(key.c_str(), name.c_str()) == 0)
                return info;
        return std::nullopt;
    }
    void Add(const std::string& table, std::vector<TSqlColumnInfo> columns, bool autoIncrement = false) {
        Tables[table] = TSqlTableInfo{table, std::move(columns), autoIncrement};
    }
};

inline std::string One(const std::string& tsql, const ISqlCatalog& catalog = TFakeCatalog()) {
    const auto out = TSqlTranslator::TranslateBatch(tsql, catalog);
    EXPECT_EQ(out.size(), 1u) << tsql;
    return out.empty() ? std::string() : out.front();
}

// Runs translated statements on an in-memory SQLite database and answers the first column of
// the last statement's first row.
inline std::string RunOnSqlite(const std::vector<std::string>& statements) {
    sqlite3* raw = nullptr;
    sqlite3_open(":memory:", &raw);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, sqlite3_close);
    std::string answer;
    for (const auto& sql : statements) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(raw, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(raw) << " in " << sql;
            return {};
        }
        answer.clear();
        if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
            answer = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
    }
    return answer;
}

inline std::string Error(const std::string& tsql) {
    try {
        TSqlTranslator::TranslateBatch(tsql, TFakeCatalog());
    } catch (const ESqlTranslateError& e) {
        return e.what();
    }
    return "(no error)";
}

// Each statement is refused with its reason, and the message names the statement.
inline void ExpectRefused(const std::map<std::string, std::string>& cases) {
    for (const auto& [sql, reason] : cases) {
        const std::string message = Error(sql);
        EXPECT_THAT(message, ::testing::HasSubstr(reason)) << sql;
        EXPECT_THAT(message, ::testing::HasSubstr("in statement:")) << sql;
    }
}

} // namespace sqltest
